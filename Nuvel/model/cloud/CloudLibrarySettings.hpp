#pragma once

#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>

namespace nuvel {

// What the settings window asks of the library: the workspace's server audio retention, and
// clearing the cached meetings from this computer.
class CloudLibrarySettings {
public:
    CloudLibrarySettings(CloudLibraryContext& context, CloudLibrarySteps& steps);
    ~CloudLibrarySettings();
    CloudLibrarySettings(const CloudLibrarySettings&) = delete;
    CloudLibrarySettings& operator=(const CloudLibrarySettings&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // See CloudMeetingModel::refreshServerRetention, setServerRetentionDays and clearCache.
    Task<void> refreshServerRetention(Uuid generation, DeviceSession session);
    void setServerRetentionDays(std::int64_t days);
    Task<void> clearCache(Uuid generation);

private:
    using AnchorRef = PartAnchorRef<CloudLibrarySettings>;

    static Task<void> readRetention(AnchorRef anchor, Uuid generation, DeviceSession session);
    static Task<void> updateRetention(AnchorRef anchor, Uuid generation, DeviceSession session,
                                      std::int64_t days);
    static Task<void> purgeCache(AnchorRef anchor, Uuid generation);

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;
};

} // namespace nuvel
