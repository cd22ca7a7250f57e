#pragma once

#include <filesystem>
#include <string>

// File helpers the local store shares with the other subsystems that keep files of their own.
namespace nuvel {

// The one way store directories are made: with every missing intermediate, mode 0700 whatever
// the umask. An existing directory is no error and keeps its mode. File-system errors are thrown.
void createExcludedDirectory(const std::filesystem::path& directory);

// SHA-256 of a file's bytes, read in 1 MiB blocks, as 64 lower-case hexadecimal digits. Errors of
// opening and reading the file are thrown.
std::string sha256OfFile(const std::filesystem::path& file);

} // namespace nuvel
