#pragma once

#include <filesystem>

// Removing what the program made without ever following a symbolic link: a link found anywhere
// is removed itself, so a link planted in a folder the program empties cannot make it delete what
// the link points to. Failures throw std::filesystem::filesystem_error carrying the errno.
namespace nuvel::files {

// Removes `path` and, when it is a folder (not a link to one), everything in it. The folders
// above `path` are taken as named. A missing `path` is not an error.
void removeTree(const std::filesystem::path& path);

// Removes everything inside `folder`, keeping the folder. A `folder` that is itself a symbolic
// link is refused (ELOOP) and nothing is removed. The first failure stops and is passed on.
void emptyFolder(const std::filesystem::path& folder);

} // namespace nuvel::files
