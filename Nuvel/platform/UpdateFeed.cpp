#include "Nuvel/platform/UpdateFeed.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Ed25519.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"

#include <charconv>

namespace nuvel::UpdateFeed {

namespace {

Bytes decoded(const std::string& text, UpdateError::Code code, const char* what) {
    std::optional<Bytes> bytes = base64Decode(text);
    if (!bytes)
        throw UpdateError(code, std::string(what) + " is not base64");
    return *bytes;
}

// The numbers of a dotted version, or none when it is not one.
std::optional<std::vector<std::uint64_t>> numbers(std::string_view text) {
    std::vector<std::uint64_t> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part =
            text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || end != part.data() + part.size())
            return std::nullopt;
        parts.push_back(value);
        if (dot == std::string_view::npos)
            return parts;
        start = dot + 1;
    }
}

} // namespace

std::vector<UpdateItem> open(ByteView envelope, ByteView publicKey) {
    Bytes feed;
    Bytes signature;
    try {
        const json::Value value = json::parse(envelope);
        const json::Reader outer(value);
        feed = decoded(outer.string("feed"), UpdateError::Code::feedUnreadable, "the feed");
        signature =
            decoded(outer.string("signature"), UpdateError::Code::feedSignature, "the feed's signature");
    } catch (const json::JsonError& error) {
        throw UpdateError(UpdateError::Code::feedUnreadable, error.what());
    }
    if (!ed25519::verify(publicKey, feed, signature))
        throw UpdateError(UpdateError::Code::feedSignature, "the feed's signature does not hold");
    try {
        const json::Value value = json::parse(feed);
        const json::Reader document(value);
        return document.objectList<UpdateItem>("items", [](const json::Reader& item) {
            UpdateItem result;
            result.version = item.string("version");
            result.url = item.string("url");
            if (!UpdateSafety::isUpdateAddress(result.url))
                throw UpdateError(UpdateError::Code::feedUnreadable, "an archive address that is not https");
            const std::int64_t length = item.int64("length");
            if (length < 0)
                throw UpdateError(UpdateError::Code::feedUnreadable, "a negative archive length");
            result.length = static_cast<std::uint64_t>(length);
            result.signature =
                decoded(item.string("signature"), UpdateError::Code::feedUnreadable, "a signature");
            return result;
        });
    } catch (const json::JsonError& error) {
        throw UpdateError(UpdateError::Code::feedUnreadable, error.what());
    }
}

int compareVersions(std::string_view a, std::string_view b) {
    const auto left = numbers(a);
    const auto right = numbers(b);
    if (!left || !right)
        return left ? 1 : (right ? -1 : 0);
    const std::size_t count = std::max(left->size(), right->size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t l = i < left->size() ? (*left)[i] : 0;
        const std::uint64_t r = i < right->size() ? (*right)[i] : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

std::optional<UpdateItem> newest(const std::vector<UpdateItem>& items, std::string_view currentVersion) {
    const UpdateItem* best = nullptr;
    for (const UpdateItem& item : items) {
        if (compareVersions(item.version, currentVersion) <= 0)
            continue;
        if (best == nullptr || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

} // namespace nuvel::UpdateFeed
