#include "NuvelKit/support/FileRemoval.hpp"

#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace nuvel::files {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

// Opens `name` in `parent` as a folder, never through a link; -1 with errno when it is none.
int openFolderAt(int parent, const char* name) {
    return ::openat(parent, name, folderFlags);
}

std::vector<std::string> namesIn(const FileDescriptor& folder, const fs::path& path) {
    // fdopendir takes the descriptor it is given: it gets its own.
    const int listing = ::dup(folder.get());
    if (listing < 0)
        throwErrno("list", path, errno);
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        const int error = errno;
        ::close(listing);
        throwErrno("list", path, error);
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr)
            break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0)
        throwErrno("list", path, error);
    return names;
}

void emptyOpenFolder(const FileDescriptor& folder, const fs::path& path);

// Removes the entry `name` of the open `parent`: a folder with its contents, anything else
// (links included) by unlinking it.
void removeEntry(const FileDescriptor& parent, const std::string& name, const fs::path& path) {
    FileDescriptor child(openFolderAt(parent.get(), name.c_str()));
    if (!child) {
        if (errno == ENOENT)
            return;
        if (errno != ENOTDIR && errno != ELOOP)
            throwErrno("open", path, errno);
        if (::unlinkat(parent.get(), name.c_str(), 0) != 0 && errno != ENOENT)
            throwErrno("remove", path, errno);
        return;
    }
    emptyOpenFolder(child, path);
    child.close();
    if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        throwErrno("remove", path, errno);
}

void emptyOpenFolder(const FileDescriptor& folder, const fs::path& path) {
    for (const std::string& name : namesIn(folder, path))
        removeEntry(folder, name, path / name);
}

} // namespace

void removeTree(const fs::path& path) {
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..")
        throwErrno("remove", path, EINVAL);
    const fs::path parentPath = path.has_parent_path() ? path.parent_path() : fs::path(".");
    FileDescriptor parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        if (errno == ENOENT)
            return;
        throwErrno("open", parentPath, errno);
    }
    removeEntry(parent, name.string(), path);
}

void emptyFolder(const fs::path& folder) {
    FileDescriptor open(::open(folder.c_str(), folderFlags));
    if (!open)
        throwErrno("open", folder, errno);
    emptyOpenFolder(open, folder);
}

} // namespace nuvel::files
