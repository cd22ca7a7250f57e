#include "NuvelKit/store/StoreJson.hpp"

namespace nuvel::storejson {

Uuid asUuid(const json::Value& value, const std::string& path) {
    auto parsed = Uuid::parse(json::asString(value, path));
    if (!parsed)
        throw json::JsonError(json::JsonError::Code::invalidValue, path, "not a UUID");
    return *parsed;
}

Uuid uuid(const json::Reader& reader, std::string_view key) {
    return asUuid(reader.value(key), reader.childPath(key));
}

std::optional<Uuid> optUuid(const json::Reader& reader, std::string_view key) {
    const json::Value* v = reader.optValue(key);
    if (v == nullptr)
        return std::nullopt;
    return asUuid(*v, reader.childPath(key));
}

Date date(const json::Reader& reader, std::string_view key) {
    return Date{reader.number(key)};
}

std::optional<Date> optDate(const json::Reader& reader, std::string_view key) {
    auto seconds = reader.optNumber(key);
    if (!seconds)
        return std::nullopt;
    return Date{*seconds};
}

std::optional<Url> optUrl(const json::Reader& reader, std::string_view key) {
    auto text = reader.optString(key);
    if (!text)
        return std::nullopt;
    auto url = Url::parse(*text);
    if (!url)
        throw json::JsonError(json::JsonError::Code::invalidValue, reader.childPath(key),
                              "not an absolute URL");
    return url;
}

} // namespace nuvel::storejson
