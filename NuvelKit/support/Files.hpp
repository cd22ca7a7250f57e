#pragma once

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Time.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

// File helpers over std::filesystem and POSIX. Failures throw std::filesystem::filesystem_error
// (or std::system_error) carrying the errno, so callers see the file system's own error.
namespace nuvel::files {

namespace fs = std::filesystem;

// An owned POSIX file descriptor.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    ~FileDescriptor();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void close(); // throws when close(2) reports an error

    // Writes every byte (retrying short writes and EINTR).
    void writeAll(ByteView data, const fs::path& pathForErrors) const;
    // Reads up to `count` bytes; fewer only at the end of the file.
    std::size_t readUpTo(std::uint8_t* into, std::size_t count, const fs::path& pathForErrors) const;
    void sync(const fs::path& pathForErrors) const;
    // Starts writing the range's dirty pages to storage without waiting for them
    // (sync_file_range SYNC_FILE_RANGE_WRITE), so that a later sync finds less left to write.
    // Makes nothing durable; a file that does not take it (a pipe) is no error.
    void startWriteback(std::int64_t offset, std::int64_t length) const noexcept;

private:
    int fd_ = -1;
};

[[noreturn]] void throwErrno(const char* what, const fs::path& path, int error);

// Creates a new file that must not exist yet (O_CREAT|O_EXCL), with `mode` regardless of umask.
FileDescriptor createExclusive(const fs::path& path, mode_t mode = 0600);
FileDescriptor openForReading(const fs::path& path);
// Opens `path` (or what a link there points to) for reading only when it is a regular file,
// looked at before the open and again on the open descriptor; an empty descriptor otherwise, with
// `status` telling what was found. Opened non-blocking, so that a pipe put in its place between
// the two looks cannot hold the open. Throws when the path cannot be looked at or opened.
FileDescriptor openRegularFile(const fs::path& path, struct stat& status);
// Opens an existing file for writing at offset 0.
FileDescriptor openForWriting(const fs::path& path);

Bytes readFile(const fs::path& path);

// Atomic, durable replacement: a temporary file created 0600 with O_EXCL in the same folder,
// written by `writer`, fsynced, renamed over `path`, then the folder fsynced. On any failure the
// temporary file is removed and `path` is left as it was.
void atomicWriteWith(const fs::path& path, const std::function<void(const FileDescriptor&)>& writer);
void atomicWrite(const fs::path& path, ByteView data);
// True when `entryName` is a name the atomic write gives its temporary file for a file named
// `fileName`: "." + fileName + "." + 16 lower-case hexadecimal digits + ".tmp". Only a process
// killed mid-write leaves one behind.
bool isAtomicWriteTemporary(std::string_view entryName, std::string_view fileName);

// Moves `from` to `to` only when `to` does not exist (renameat2 RENAME_NOREPLACE); an existing
// destination fails with EEXIST and both files stay as they were. The folders are synced after
// the move, so it is durable when this returns.
void moveNoReplace(const fs::path& from, const fs::path& to);

// Creates `path` and any missing parents with mode 0700 (umask notwithstanding). An existing
// directory is left as it is; an existing non-directory fails. Each folder made is durable: its
// parent is synced after it is made.
void createOwnerOnlyDirectories(const fs::path& path);

void fsyncDirectory(const fs::path& directory);

// Bytes available to unprivileged users on the volume holding `path` (statvfs f_bavail).
std::uint64_t availableCapacity(const fs::path& path);

// Birth time from statx, when the file system records one.
std::optional<Date> creationDate(const fs::path& path);

// Removes a file, durably (its folder is synced after); a missing file is not an error. Returns
// whether something was removed.
bool removeFileIfPresent(const fs::path& path);

} // namespace nuvel::files
