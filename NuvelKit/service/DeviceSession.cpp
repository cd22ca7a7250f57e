#include "NuvelKit/service/DeviceSession.hpp"

namespace nuvel {

DeviceAccount DeviceAccount::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    return DeviceAccount{r.string("id"), r.string("email"), r.optString("name")};
}

json::Ordered DeviceAccount::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["email"] = email;
    json::putOptional(o, "name", name);
    return o;
}

DeviceSession DeviceSession::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    std::string token = r.string("token");
    DeviceAccount account = DeviceAccount::fromJson(r.value("account"), r.childPath("account"));
    return DeviceSession{std::move(token), std::move(account)};
}

DeviceSession DeviceSession::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered DeviceSession::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["token"] = token;
    o["account"] = account.toJson();
    return o;
}

std::string DeviceSession::encode() const {
    return json::dump(toJson());
}

} // namespace nuvel
