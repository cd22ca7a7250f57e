#include "NuvelKit/support/Defaults.hpp"

#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cstdlib>

namespace nuvel {

namespace {

// Far above what any user's defaults take; a larger file is not ours.
constexpr std::size_t largestDefaultsFile = 1024 * 1024;

// The text of `file` when it is a regular file (or a link to one) of at most the largest size;
// nothing otherwise. A pipe or a device is never opened for reading: it could block or never end.
std::optional<Bytes> readDefaultsFile(const std::filesystem::path& file) {
    struct stat st {};
    const files::FileDescriptor fd = files::openRegularFile(file, st);
    if (!fd || std::size_t(st.st_size) > largestDefaultsFile)
        return std::nullopt;
    // Room for the file as it stands and a byte more; a file that grew since the stat is read on,
    // to one byte past the largest size. A buffer of the largest size would be a mebibyte to zero
    // at every start.
    Bytes text(std::size_t(st.st_size) + 1);
    std::size_t got = fd.readUpTo(text.data(), text.size(), file);
    while (got == text.size() && text.size() <= largestDefaultsFile) {
        text.resize(std::min(text.size() * 2, largestDefaultsFile + 1));
        got += fd.readUpTo(text.data() + got, text.size() - got, file);
    }
    if (got > largestDefaultsFile)
        return std::nullopt;
    text.resize(got);
    return text;
}

} // namespace

std::optional<bool> DefaultsStore::boolean(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_boolean())
        return std::nullopt;
    return v->get<bool>();
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_string())
        return std::nullopt;
    return v->get<std::string>();
}

std::optional<double> DefaultsStore::number(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_number())
        return std::nullopt;
    return v->get<double>();
}

std::optional<std::vector<std::string>> DefaultsStore::stringList(const std::string& key) const {
    auto v = value(key);
    if (!v || !v->is_array())
        return std::nullopt;
    std::vector<std::string> out;
    for (const auto& e : *v) {
        if (!e.is_string())
            return std::nullopt;
        out.push_back(e.get<std::string>());
    }
    return out;
}

std::optional<json::Value> MemoryDefaultsStore::value(const std::string& key) const {
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

void MemoryDefaultsStore::set(const std::string& key, json::Value value) {
    std::lock_guard guard(lock_);
    values_[key] = std::move(value);
}

void MemoryDefaultsStore::remove(const std::string& key) {
    std::lock_guard guard(lock_);
    values_.erase(key);
}

FileDefaultsStore::FileDefaultsStore(std::filesystem::path file)
    : file_(std::move(file)), values_(json::Value::object()) {
    try {
        if (const std::optional<Bytes> text = readDefaultsFile(file_)) {
            json::Value loaded = json::parse(*text);
            if (loaded.is_object())
                values_ = std::move(loaded);
        }
    } catch (const std::exception&) {
        // Missing or unreadable: start empty.
    }
}

std::filesystem::path FileDefaultsStore::standardLocation() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : "/") / ".config";
    }
    return base / "Nuvel" / "defaults.json";
}

std::optional<json::Value> FileDefaultsStore::value(const std::string& key) const {
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return *it;
}

void FileDefaultsStore::set(const std::string& key, json::Value value) {
    std::lock_guard guard(lock_);
    values_[key] = std::move(value);
    save();
}

void FileDefaultsStore::remove(const std::string& key) {
    std::lock_guard guard(lock_);
    if (values_.erase(key) > 0)
        save();
}

void FileDefaultsStore::save() {
    files::createOwnerOnlyDirectories(file_.parent_path());
    std::string text = json::dump(values_);
    files::atomicWrite(file_, viewOf(text));
}

} // namespace nuvel
