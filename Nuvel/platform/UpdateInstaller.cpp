#include "Nuvel/platform/UpdateInstaller.hpp"

#include "Nuvel/platform/UpdateArchive.hpp"
#include "Nuvel/platform/UpdateFeed.hpp"
#include "Nuvel/platform/WindowThreadRefusal.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/FileRemoval.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace nuvel {

namespace fs = std::filesystem;

namespace {

bool holdsProgram(const fs::path& folder) {
    std::error_code error;
    return fs::is_regular_file(folder / UpdateInstaller::programName, error) &&
           fs::is_regular_file(folder / "Info.json", error);
}

// Only the program folder is installed; the rest of the archive goes with the staging. Every
// link in the folder, followed through every link on its way, must therefore end inside it.
void requireLinksInside(const fs::path& tree) {
    std::error_code error;
    const fs::path top = fs::canonical(tree, error);
    for (auto it = fs::recursive_directory_iterator(top, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink(error) || error)
            continue;
        if (!UpdateSafety::linkEndsInside(it->path(), top))
            throw UpdateError(UpdateError::Code::archiveUnsafe,
                              "a link that leads out of the program folder: " +
                                  it->path().lexically_relative(top).string());
    }
    if (error)
        throw UpdateError(UpdateError::Code::archiveUnsafe,
                          "the program folder cannot be read: " + error.message());
}

// Removes a folder the updater made, never following a link in it; what cannot be removed is
// swept when the next update begins staging.
void removeQuietly(const fs::path& path) {
    try {
        files::removeTree(path);
    } catch (const fs::filesystem_error&) {
    }
}

} // namespace

UpdateInstaller::UpdateInstaller(fs::path installedTree, UpdateArchive::Unpack unpack)
    : installed_(std::move(installedTree)), unpack_(unpack) {
    std::error_code error;
    fs::path real = fs::canonical(installed_, error);
    if (!error)
        installed_ = std::move(real);
}

UpdateInstaller::~UpdateInstaller() {
    discard();
}

fs::path UpdateInstaller::beginStaging() {
    discard();
    const fs::path parent = installed_.parent_path();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(parent, error))
        if (entry.path().filename().string().rfind(stagingPrefix, 0) == 0)
            removeQuietly(entry.path());
    staging_ = parent / (stagingPrefix + hexString(randomBytes(8)));
    // Owner-only from its first moment, whatever the umask: nobody else may put a file in it.
    if (::mkdir(staging_.c_str(), 0700) != 0 || ::chmod(staging_.c_str(), 0700) != 0)
        throw UpdateError(UpdateError::Code::install, "cannot stage beside " + installed_.string());
    return staging_;
}

void UpdateInstaller::stage(const fs::path& archive) {
    if (staging_.empty())
        beginStaging();
    newTree_.clear();
    const fs::path unpacked = staging_ / "tree";
    unpack_(archive, unpacked);
    std::vector<fs::path> found;
    if (holdsProgram(unpacked))
        found.push_back(unpacked);
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(unpacked, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code kind;
        if (!it->is_symlink(kind) && it->is_directory(kind) && !kind && holdsProgram(it->path()))
            found.push_back(it->path());
    }
    if (found.size() != 1)
        throw UpdateError(UpdateError::Code::install, "the archive holds no single program folder");
    requireLinksInside(found.front());
    newTree_ = found.front();
}

UpdateInstaller::Installed UpdateInstaller::install() {
    if (newTree_.empty())
        throw UpdateError(UpdateError::Code::install, "nothing is staged");
    if (::renameat2(AT_FDCWD, newTree_.c_str(), AT_FDCWD, installed_.c_str(), RENAME_EXCHANGE) != 0) {
        const int code = errno;
        discard();
        throw UpdateError(UpdateError::Code::install, std::string("exchange failed: ") + std::strerror(code));
    }
    // The staged place now holds the old build, which goes with the staging.
    Installed installed{installed_ / programName, std::move(staging_)};
    staging_.clear();
    newTree_.clear();
    return installed;
}

void UpdateInstaller::removeLeftover(const fs::path& leftover) {
    checkBlockingWorkAllowed("the removal of the old program folder", "remove a whole folder");
    if (leftover.filename().string().rfind(stagingPrefix, 0) == 0)
        removeQuietly(leftover);
}

void UpdateInstaller::discard() {
    if (!staging_.empty())
        removeQuietly(staging_);
    staging_.clear();
    newTree_.clear();
}

pid_t relaunchAfterExit(const fs::path& program, files::FileDescriptor& holder) {
    if (::access(program.c_str(), X_OK) != 0)
        throw UpdateError(UpdateError::Code::relaunch, "no program at " + program.string());
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw UpdateError(UpdateError::Code::relaunch, "no pipe");
    files::FileDescriptor readEnd(ends[0]);
    files::FileDescriptor writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, readEnd.get(), 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    std::string shell = "/bin/sh";
    std::string flag = "-c";
    std::string script = "read -r _ <&3; exec 3<&-; exec \"$0\"";
    std::string target = program.string();
    std::vector<char*> argv = {shell.data(), flag.data(), script.data(), target.data(), nullptr};
    pid_t pid = 0;
    const int status = ::posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (status != 0)
        throw UpdateError(UpdateError::Code::relaunch,
                          std::string("cannot start the helper: ") + std::strerror(status));
    holder = std::move(writeEnd);
    return pid;
}

} // namespace nuvel
