#pragma once

#include "Nuvel/platform/UpdateArchive.hpp"
#include "NuvelKit/support/Files.hpp"

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace nuvel {

// Puts a new build in place of the installed one. The installed tree is the program's folder
// (the executable "nuvel" and its "Info.json", as `cmake --install` writes them). An update
// archive holds the whole install tree; the folder in it that holds both files is the new
// program folder. Everything is staged beside the installed folder's real path, so the final
// step is one atomic exchange on one file system.
class UpdateInstaller {
public:
    static constexpr const char* programName = "nuvel";
    static constexpr const char* stagingPrefix = ".nuvel-update-";

    // `installedTree`: the program folder now running (links are resolved); `unpack` unpacks
    // the archives staged.
    UpdateInstaller(std::filesystem::path installedTree, UpdateArchive::Unpack unpack);
    // Removes what staging is left.
    ~UpdateInstaller();
    UpdateInstaller(const UpdateInstaller&) = delete;
    UpdateInstaller& operator=(const UpdateInstaller&) = delete;

    const std::filesystem::path& installedTree() const { return installed_; }

    // A fresh staging folder beside the installed tree. Staging folders that an earlier run
    // left behind are removed first.
    std::filesystem::path beginStaging();
    // Unpacks the archive into the staging folder and finds the new program folder in it.
    // Throws UpdateError (archiveUnsafe, also for a link in the program folder that ends outside
    // it; install when no program folder is in it).
    void stage(const std::filesystem::path& archive);
    bool staged() const { return !newTree_.empty(); }
    struct Installed {
        std::filesystem::path program;  // the new executable
        std::filesystem::path leftover; // the staging folder, which now holds the old build
    };
    // Exchanges the staged program folder with the installed one (renameat2 RENAME_EXCHANGE).
    // The staging, old build included, is handed to the caller to remove with removeLeftover
    // off the window thread. Throws UpdateError::install; the installed build is then as it
    // was and the staging is removed.
    Installed install();
    // Removes what install() left. A whole program folder: worker threads only.
    static void removeLeftover(const std::filesystem::path& leftover);
    // Removes the staging folder, if any.
    void discard();

private:
    std::filesystem::path installed_;
    UpdateArchive::Unpack unpack_;
    std::filesystem::path staging_;
    std::filesystem::path newTree_;
};

// Starts `program` once this process has ended: a helper shell waits for the end of a pipe that
// only this process holds (closed on exec, so no child keeps it open), then runs the program in
// a session of its own. `holder` receives the pipe's end; the relaunch happens when it closes.
// Throws UpdateError::relaunch when the helper cannot be started.
pid_t relaunchAfterExit(const std::filesystem::path& program, files::FileDescriptor& holder);

} // namespace nuvel
