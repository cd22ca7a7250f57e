#include "Nuvel/platform/RunningApplications.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace nuvel {
namespace {

// Owns one file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::optional<std::int32_t> processIDOf(const char* name) {
    std::string_view text(name);
    std::int32_t id = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id <= 0)
        return std::nullopt;
    return id;
}

// The target of a process's executable link; none for kernel threads and processes we may not
// look into (they name no application), or one that has gone.
std::optional<std::string> executableLink(int procFd, const std::string& name) {
    std::array<char, PATH_MAX> link;
    ssize_t length = ::readlinkat(procFd, (name + "/exe").c_str(), link.data(), link.size());
    if (length <= 0)
        return std::nullopt;
    return std::string(link.data(), std::size_t(length));
}

std::string executableName(std::string_view link) {
    if (link.ends_with(" (deleted)"))
        link.remove_suffix(10); // replaced by an upgrade while running
    if (auto slash = link.rfind('/'); slash != std::string_view::npos)
        link = link.substr(slash + 1);
    return std::string(link);
}

ApplicationIdentity controlGroupIdentity(int procFd, const std::string& name) {
    Descriptor cgroup(::openat(procFd, (name + "/cgroup").c_str(), O_RDONLY | O_CLOEXEC));
    if (cgroup.get() < 0)
        return {};
    std::array<char, 8192> text;
    ssize_t got = ::read(cgroup.get(), text.data(), text.size());
    if (got <= 0)
        return {};
    return identityFromControlGroup(std::string_view(text.data(), std::size_t(got)));
}

} // namespace

ProcessScanner::ProcessScanner(std::filesystem::path procRoot) : procRoot_(std::move(procRoot)) {}

std::optional<ApplicationIdentity> ProcessScanner::identity(std::int32_t processID) const {
    if (processID <= 0)
        return std::nullopt;
    Descriptor proc(::open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0)
        return std::nullopt;
    std::string name = std::to_string(processID);
    auto link = executableLink(proc.get(), name);
    if (!link)
        return std::nullopt;
    ApplicationIdentity identity = controlGroupIdentity(proc.get(), name);
    identity.executable = executableName(*link);
    return identity;
}

std::vector<RunningApplication> ProcessScanner::runningApplications(uid_t user) {
    std::vector<RunningApplication> applications;
    Descriptor proc(::open(procRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0) {
        known_.clear();
        return applications;
    }
    int procFd = proc.get();
    DIR* folder = ::fdopendir(::dup(procFd));
    if (folder == nullptr)
        return applications;
    std::vector<std::pair<std::int32_t, std::string>> processes;
    while (dirent* entry = ::readdir(folder)) {
        if (auto id = processIDOf(entry->d_name))
            processes.emplace_back(*id, entry->d_name);
    }
    ::closedir(folder);
    std::sort(processes.begin(), processes.end());

    std::map<std::int32_t, Known> seen;
    std::set<std::string> listed;
    for (const auto& [id, name] : processes) {
        struct stat status;
        // The owner of a process's folder is the user it runs as.
        if (::fstatat(procFd, name.c_str(), &status, 0) != 0 || status.st_uid != user)
            continue;
        auto link = executableLink(procFd, name);
        if (!link)
            continue;
        Known entry;
        if (auto previous = known_.find(id);
            previous != known_.end() && previous->second.executableLink == *link)
            entry = std::move(previous->second);
        else
            entry.executableLink = *link;
        if (entry.controlGroupReads < 2) {
            entry.identity = controlGroupIdentity(procFd, name);
            entry.identity.executable = executableName(entry.executableLink);
            entry.bundleID = bundleIDFor(entry.identity);
            ++entry.controlGroupReads;
        }
        if (entry.bundleID && listed.insert(*entry.bundleID).second)
            applications.push_back(RunningApplication{*entry.bundleID, id,
                                                      entry.identity.flatpakID ? entry.identity.flatpakID
                                                                               : entry.identity.desktopID});
        seen.emplace(id, std::move(entry));
    }
    known_ = std::move(seen);
    return applications;
}

} // namespace nuvel
