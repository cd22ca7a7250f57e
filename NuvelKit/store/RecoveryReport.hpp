#pragma once

#include "NuvelKit/store/LocalRecording.hpp"

#include <cstdint>
#include <vector>

namespace nuvel {

// What the recovery scan of a store found for one account.
struct RecoveryReport {
    // The account's recordings after repair, each as saved at the end of its repair, newest first.
    std::vector<LocalRecording> recordings;
    // Recording folders whose repair failed; they are not in `recordings` and their files stay.
    std::int64_t unreadable = 0;

    bool operator==(const RecoveryReport&) const = default;
};

} // namespace nuvel
