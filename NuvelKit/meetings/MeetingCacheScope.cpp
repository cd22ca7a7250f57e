#include "NuvelKit/meetings/MeetingCacheScope.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Unicode.hpp"

namespace nuvel {
namespace {

// Written by hand rather than through nlohmann: the folder name hashes these bytes, and
// directories made earlier were named after a form that escapes the forward slash, which
// nlohmann never does.
void appendString(std::string& out, const std::string& text, const char* field) {
    if (!unicode::isValidUtf8(text))
        throw json::JsonError(json::JsonError::Code::unencodable, std::string("$.") + field,
                              "the id is not valid UTF-8");
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 15]);
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
}

} // namespace

json::Ordered MeetingCacheScope::toJson() const {
    json::Ordered out = json::Ordered::object();
    out["accountID"] = accountID;
    out["workspaceID"] = workspaceID;
    return out;
}

MeetingCacheScope MeetingCacheScope::fromJson(const json::Value& value, const std::string& path) {
    json::Reader reader(value, path);
    return MeetingCacheScope{reader.string("accountID"), reader.string("workspaceID")};
}

std::string MeetingCacheScope::sortedKeyJson() const {
    std::string out = "{\"accountID\":";
    appendString(out, accountID, "accountID");
    out += ",\"workspaceID\":";
    appendString(out, workspaceID, "workspaceID");
    out.push_back('}');
    return out;
}

std::string MeetingCacheScope::directoryName() const {
    Sha256 hasher;
    hasher.update(viewOf(sortedKeyJson()));
    return hexString(hasher.finalize());
}

} // namespace nuvel
