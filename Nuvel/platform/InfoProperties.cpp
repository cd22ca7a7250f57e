#include "Nuvel/platform/InfoProperties.hpp"

#include "NuvelKit/service/ServiceAddress.hpp"
#include "NuvelKit/support/Files.hpp"
#include "NuvelKit/support/Url.hpp"

#include <system_error>

namespace nuvel {

namespace {

bool isLoopback(std::string_view host) {
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]" || host == "::1";
}

} // namespace

InfoProperties::InfoProperties(json::Value values) : values_(std::move(values)) {}

InfoProperties InfoProperties::load(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        throw InfoPropertiesError(file.string() + " is missing");
    json::Value values;
    try {
        values = json::parse(files::readFile(file));
    } catch (const json::JsonError&) {
        throw InfoPropertiesError(file.string() + " is not JSON");
    } catch (const std::filesystem::filesystem_error&) {
        throw InfoPropertiesError(file.string() + " cannot be read");
    }
    if (!values.is_object())
        throw InfoPropertiesError(file.string() + " is not a JSON object");
    return InfoProperties(std::move(values));
}

std::filesystem::path InfoProperties::executableFolder() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path(error);
    return self.parent_path();
}

std::optional<std::string> InfoProperties::string(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<bool> InfoProperties::boolean(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_boolean())
        return std::nullopt;
    return it->get<bool>();
}

std::string InfoProperties::origin(const std::string& key) const {
    const std::optional<std::string> text = string(key);
    if (!text || text->empty())
        throw InfoPropertiesError(std::string(fileName) + " names no " + key);
    const std::optional<Url> url = Url::parse(*text);
    if (!url || !isServiceOrigin(*url))
        throw InfoPropertiesError(std::string(fileName) + ": " + key + " is not an origin: " + *text);
    // Plain HTTP only to this machine: the stand-in service on the loopback interface.
    if (url->scheme() != "https" && !isLoopback(url->host().value_or("")))
        throw InfoPropertiesError(std::string(fileName) + ": " + key + " must use https: " + *text);
    std::string origin = *text;
    if (origin.ends_with('/'))
        origin.pop_back();
    return origin;
}

std::string InfoProperties::serviceOrigin() const {
    return origin(serviceOriginKey);
}

std::string InfoProperties::webOrigin() const {
    if (!string(webOriginKey) || string(webOriginKey)->empty())
        return serviceOrigin();
    return origin(webOriginKey);
}

} // namespace nuvel
