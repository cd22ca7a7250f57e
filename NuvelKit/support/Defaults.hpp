#pragma once

#include "NuvelKit/support/Json.hpp"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// The user defaults: typed values under dotted keys. A value of the wrong type reads as absent
// through the typed getters, so "not a boolean" stays distinguishable from false via `value`.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<json::Value> value(const std::string& key) const = 0;
    virtual void set(const std::string& key, json::Value value) = 0;
    virtual void remove(const std::string& key) = 0;

    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::vector<std::string>> stringList(const std::string& key) const;
};

// Defaults kept in memory (tests).
class MemoryDefaultsStore : public DefaultsStore {
public:
    std::optional<json::Value> value(const std::string& key) const override;
    void set(const std::string& key, json::Value value) override;
    void remove(const std::string& key) override;

private:
    mutable std::mutex lock_;
    std::map<std::string, json::Value> values_;
};

// Defaults kept in a JSON object file, rewritten atomically on every change. A missing or
// unreadable file (anything but a regular file of at most 1 MiB holding a JSON object) reads as
// empty and is left as it is until the next write replaces it. A write that fails throws the
// file system's error and keeps the new value in memory.
class FileDefaultsStore : public DefaultsStore {
public:
    explicit FileDefaultsStore(std::filesystem::path file);

    // $XDG_CONFIG_HOME/Nuvel/defaults.json (default ~/.config/Nuvel/defaults.json).
    static std::filesystem::path standardLocation();

    std::optional<json::Value> value(const std::string& key) const override;
    void set(const std::string& key, json::Value value) override;
    void remove(const std::string& key) override;

private:
    void save();

    std::filesystem::path file_;
    mutable std::mutex lock_;
    json::Value values_;
};

} // namespace nuvel
