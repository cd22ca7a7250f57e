#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// File helpers the local store shares with the other subsystems that keep files of their own.
namespace nuvel {

// The one way store directories are made: with every missing intermediate, mode 0700 whatever
// the umask. An existing directory is no error and keeps its mode. File-system errors are thrown.
void createExcludedDirectory(const std::filesystem::path& directory);

// SHA-256 of a file's bytes, read in 1 MiB blocks, as 64 lower-case hexadecimal digits. Errors of
// opening and reading the file are thrown.
std::string sha256OfFile(const std::filesystem::path& file);

// Free bytes on the volume holding a path, as work that writes large files may use them; absent
// when the volume does not say. Components that check free space take one of these so that tests
// can hand them any figure.
using CapacityProbe = std::function<std::optional<std::int64_t>(const std::filesystem::path&)>;

// The real figure: statvfs space for unprivileged users (capped at the largest signed 64-bit
// count). Errors of statvfs are thrown.
std::optional<std::int64_t> volumeAvailableCapacity(const std::filesystem::path& path);

} // namespace nuvel
