#include "Nuvel/platform/HostIdentity.hpp"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace nuvel::HostIdentity {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// One shell-style value: quoted parts, escapes, and plain text up to unquoted white space.
std::string unquote(std::string_view value) {
    std::string out;
    std::size_t i = 0;
    while (i < value.size()) {
        char c = value[i];
        if (c == '\'') {
            std::size_t end = value.find('\'', i + 1);
            if (end == std::string_view::npos)
                end = value.size();
            out.append(value.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '"') {
            ++i;
            while (i < value.size() && value[i] != '"') {
                if (value[i] == '\\' && i + 1 < value.size() &&
                    std::string_view("\"\\`$").find(value[i + 1]) != std::string_view::npos)
                    ++i;
                out.push_back(value[i++]);
            }
            ++i;
        } else if (c == '\\' && i + 1 < value.size()) {
            out.push_back(value[i + 1]);
            i += 2;
        } else if (isSpace(c)) {
            break; // an unquoted blank ends the value
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

bool isLetters(std::string_view text) {
    for (char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool isDigits(std::string_view text) {
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::optional<std::string> prettyHostname(std::string_view text) {
    std::optional<std::string> found;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && isSpace(line.front()))
            line.remove_prefix(1);
        constexpr std::string_view key = "PRETTY_HOSTNAME=";
        if (line.substr(0, key.size()) == key)
            found = unquote(line.substr(key.size())); // the last one wins
    }
    if (!found || found->empty())
        return std::nullopt;
    return found;
}

std::optional<std::string> deviceName(const std::filesystem::path& machineInfo) {
    std::ifstream file(machineInfo);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        if (auto pretty = prettyHostname(text.str()))
            return pretty;
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0')
        return std::string(host);
    return std::nullopt;
}

std::optional<std::string> languageTag(std::string_view name) {
    name = name.substr(0, name.find('@'));
    name = name.substr(0, name.find('.'));
    std::size_t split = name.find_first_of("_-");
    std::string_view language = name.substr(0, split);
    std::string_view territory =
        split == std::string_view::npos ? std::string_view() : name.substr(split + 1);
    if (language.size() < 2 || language.size() > 8 || !isLetters(language))
        return std::nullopt;
    if (language == "C" || language == "POSIX")
        return std::nullopt;
    std::string tag;
    for (char c : language)
        tag.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    if ((territory.size() == 2 && isLetters(territory)) || (territory.size() == 3 && isDigits(territory))) {
        tag.push_back('-');
        for (char c : territory)
            tag.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    return tag;
}

std::optional<std::string> preferredLanguage(const EnvironmentReader& environment) {
    auto read = [&](const char* name) -> std::string_view {
        const char* value = environment ? environment(name) : std::getenv(name);
        return value ? std::string_view(value) : std::string_view();
    };
    // LANGUAGE is a list by preference: "ar:en_US".
    std::string_view list = read("LANGUAGE");
    while (!list.empty()) {
        std::size_t colon = list.find(':');
        if (auto tag = languageTag(list.substr(0, colon)))
            return tag;
        if (colon == std::string_view::npos)
            break;
        list.remove_prefix(colon + 1);
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string_view value = read(name);
        if (!value.empty())
            return languageTag(value);
    }
    return std::nullopt;
}

} // namespace nuvel::HostIdentity
