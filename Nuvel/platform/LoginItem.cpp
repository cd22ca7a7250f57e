#include "Nuvel/platform/LoginItem.hpp"

#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

bool executable(const fs::path& program) {
    std::error_code error;
    return fs::is_regular_file(program, error) && ::access(program.c_str(), X_OK) == 0;
}

// The value of `Hidden=` in the "[Desktop Entry]" group is "true".
bool hidden(const fs::path& entry) {
    std::ifstream in(entry);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        std::string value = line.substr(equals + 1);
        while (!value.empty() && value.front() == ' ')
            value.erase(value.begin());
        if (key == "Hidden")
            return value == "true";
    }
    return false;
}

} // namespace

LoginItem::LoginItem(fs::path autostartFolder, fs::path program)
    : folder_(std::move(autostartFolder)), program_(std::move(program)) {}

fs::path LoginItem::standardFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && fs::path(config).is_absolute())
        return fs::path(config) / "autostart";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".config" / "autostart";
}

LoginItem::Status LoginItem::status() const {
    std::error_code error;
    if (fs::is_regular_file(entry(), error) && !hidden(entry()))
        return Status::enabled;
    return executable(program_) ? Status::notRegistered : Status::notFound;
}

std::string LoginItem::execValue(const fs::path& program) {
    std::string value = "\"";
    for (char c : program.string()) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            value += '\\';
        if (c == '%')
            value += '%';
        value += c;
    }
    value += '"';
    // A backslash in a desktop entry's string value is itself escaped once more.
    std::string escaped;
    for (char c : value) {
        if (c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void LoginItem::registerItem() {
    if (!executable(program_))
        throw fs::filesystem_error("not an executable program", program_,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    // Another user able to write here could plant an entry that runs at our next login.
    files::createOwnerOnlyDirectories(folder_);
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=Nuvel\n"
         << "Exec=" << execValue(program_) << "\n"
         << "Icon=nuvel\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    const std::string content = text.str();
    const fs::path path = entry();
    files::atomicWriteWith(path, [&](const files::FileDescriptor& file) {
        if (::fchmod(file.get(), 0644) != 0)
            files::throwErrno("fchmod", path, errno);
        file.writeAll(viewOf(content), path);
    });
}

void LoginItem::unregisterItem() {
    fs::remove(entry());
}

} // namespace nuvel
