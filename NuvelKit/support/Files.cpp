#include "NuvelKit/support/Files.hpp"

#include "NuvelKit/support/Crypto.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace nuvel::files {

void throwErrno(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

void FileDescriptor::close() {
    if (fd_ < 0)
        return;
    int fd = release();
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno("close", {}, errno);
}

void FileDescriptor::writeAll(ByteView data, const fs::path& path) const {
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("write", path, errno);
        }
        p += n;
        left -= std::size_t(n);
    }
}

std::size_t FileDescriptor::readUpTo(std::uint8_t* into, std::size_t count, const fs::path& path) const {
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::read(fd_, into + got, count - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno("read", path, errno);
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

void FileDescriptor::sync(const fs::path& path) const {
    if (::fsync(fd_) != 0)
        throwErrno("fsync", path, errno);
}

void FileDescriptor::startWriteback(std::int64_t offset, std::int64_t length) const noexcept {
    ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
}

FileDescriptor createExclusive(const fs::path& path, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        throwErrno("create", path, errno);
    FileDescriptor owned(fd);
    // The umask may have taken bits away; set exactly what was asked.
    if (::fchmod(fd, mode) != 0) {
        int error = errno;
        ::unlink(path.c_str());
        throwErrno("fchmod", path, error);
    }
    return owned;
}

FileDescriptor openForReading(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno("open", path, errno);
    return FileDescriptor(fd);
}

FileDescriptor openRegularFile(const fs::path& path, struct stat& status) {
    if (::stat(path.c_str(), &status) != 0)
        throwErrno("stat", path, errno);
    if (!S_ISREG(status.st_mode))
        return FileDescriptor();
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        throwErrno("open", path, errno);
    if (::fstat(fd.get(), &status) != 0)
        throwErrno("stat", path, errno);
    if (!S_ISREG(status.st_mode))
        return FileDescriptor();
    return fd;
}

FileDescriptor openForWriting(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno("open", path, errno);
    return FileDescriptor(fd);
}

Bytes readFile(const fs::path& path) {
    FileDescriptor fd = openForReading(path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throwErrno("stat", path, errno);
    if (S_ISDIR(st.st_mode))
        throwErrno("read", path, EISDIR);
    Bytes out;
    out.resize(st.st_size > 0 ? std::size_t(st.st_size) : 0);
    std::size_t got = fd.readUpTo(out.data(), out.size(), path);
    out.resize(got);
    // The file may have grown since fstat.
    std::uint8_t buffer[65536];
    while (std::size_t n = fd.readUpTo(buffer, sizeof buffer, path)) {
        out.insert(out.end(), buffer, buffer + n);
        if (n < sizeof buffer)
            break;
    }
    return out;
}

void fsyncDirectory(const fs::path& directory) {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throwErrno("open directory", directory, errno);
    FileDescriptor owned(fd);
    if (::fsync(fd) != 0 && errno != EINVAL)
        throwErrno("fsync directory", directory, errno);
}

namespace {
constexpr std::size_t temporaryTagBytes = 8;
constexpr std::string_view temporarySuffix = ".tmp";
} // namespace

bool isAtomicWriteTemporary(std::string_view entryName, std::string_view fileName) {
    const std::size_t tag = 2 * temporaryTagBytes;
    if (entryName.size() != 1 + fileName.size() + 1 + tag + temporarySuffix.size())
        return false;
    if (entryName[0] != '.' || entryName.substr(1, fileName.size()) != fileName ||
        entryName[1 + fileName.size()] != '.')
        return false;
    if (entryName.substr(entryName.size() - temporarySuffix.size()) != temporarySuffix)
        return false;
    const std::string_view hex = entryName.substr(2 + fileName.size(), tag);
    return std::all_of(hex.begin(), hex.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void atomicWriteWith(const fs::path& path, const std::function<void(const FileDescriptor&)>& writer) {
    fs::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    // Appended in place: GCC 12 at -O3 misreads `"." + std::string&&` as an overlapping copy.
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += hexString(randomBytes(temporaryTagBytes));
    name += temporarySuffix;
    fs::path temporary = folder / name;
    try {
        FileDescriptor fd = createExclusive(temporary, 0600);
        writer(fd);
        fd.sync(temporary);
        fd.close();
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            throwErrno("rename", path, errno);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    fsyncDirectory(folder);
}

void atomicWrite(const fs::path& path, ByteView data) {
    atomicWriteWith(path, [&](const FileDescriptor& fd) { fd.writeAll(data, path); });
}

namespace {
fs::path folderOf(const fs::path& path) {
    fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}
} // namespace

void moveNoReplace(const fs::path& from, const fs::path& to) {
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        int error = errno;
        throw fs::filesystem_error("move", from, to, std::error_code(error, std::generic_category()));
    }
    // The new name is only on stable storage once its folder is.
    fsyncDirectory(folderOf(to));
    if (folderOf(from) != folderOf(to))
        fsyncDirectory(folderOf(from));
}

void createOwnerOnlyDirectories(const fs::path& path) {
    if (path.empty())
        return;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            throwErrno("create directory", path, ENOTDIR);
        return;
    }
    if (path.has_parent_path() && path.parent_path() != path)
        createOwnerOnlyDirectories(path.parent_path());
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return;
        throwErrno("create directory", path, errno);
    }
    if (::chmod(path.c_str(), 0700) != 0)
        throwErrno("chmod", path, errno);
    // Whatever is written inside would be lost with the folder itself after a power cut.
    fsyncDirectory(folderOf(path));
}

std::uint64_t availableCapacity(const fs::path& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0)
        throwErrno("statvfs", path, errno);
    return std::uint64_t(st.f_bavail) * std::uint64_t(st.f_frsize);
}

std::optional<Date> creationDate(const fs::path& path) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &st) != 0)
        throwErrno("statx", path, errno);
    if ((st.stx_mask & STATX_BTIME) == 0)
        return std::nullopt;
    return Date::fromUnix(double(st.stx_btime.tv_sec) + double(st.stx_btime.tv_nsec) * 1e-9);
}

bool removeFileIfPresent(const fs::path& path) {
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT)
            return false;
        throwErrno("remove", path, errno);
    }
    // Until its folder is synced, a removed file can come back after a power cut.
    fsyncDirectory(folderOf(path));
    return true;
}

} // namespace nuvel::files
