#pragma once

#include "Nuvel/platform/ApplicationIdentity.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace nuvel {

// One running application: the first process (lowest id) of those that map to one bundle
// identifier.
struct RunningApplication {
    std::string bundleID;
    std::int32_t processID = 0;
    // What the desktop knows it as, when it knows: the Flatpak id or the desktop entry id that
    // launched it (the entry's name and icon belong to it).
    std::optional<std::string> desktopID;

    bool operator==(const RunningApplication&) const = default;
};

// Reads the processes of a /proc file system (another root in tests) without waiting on them:
// only what the kernel answers from its own tables (a process folder's owner, the executable's
// link, the control group).
//
// A scan remembers each process's identity under its id and executable, so that the next scan
// reads only the owner and the link of a process it has seen (a process that runs another
// program, or a new process under a reused id, is read again). The control group is read on
// the first two scans that see a process, as a launcher may move a new process into its
// application's unit just after starting it. Not for use from several threads at once.
class ProcessScanner {
public:
    explicit ProcessScanner(std::filesystem::path procRoot = "/proc");

    // The identity of one process, read afresh; none when there is no such process.
    std::optional<ApplicationIdentity> identity(std::int32_t processID) const;

    // The running applications of one user's processes, in process-id order, one entry per
    // bundle identifier. Processes that name no application are left out.
    std::vector<RunningApplication> runningApplications(uid_t user);

private:
    struct Known {
        std::string executableLink;
        ApplicationIdentity identity;
        std::optional<std::string> bundleID;
        int controlGroupReads = 0;
    };

    std::filesystem::path procRoot_;
    std::map<std::int32_t, Known> known_;
};

} // namespace nuvel
