#pragma once

#include "Nuvel/model/CloudMeetingState.hpp"
#include "Nuvel/model/cloud/CloudLibraryDependencies.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

class Failure;

// The offline lease of a page or of the library is at most a day.
inline constexpr double maximumCloudOfflineSeconds = 86400;

// The cache key of a meeting's saved correction draft.
inline std::string correctionDraftKey(std::string_view meetingID) {
    return "edit:" + std::string(meetingID);
}

// What a task holds instead of the part of the library that started it. The library clears every
// part's anchor before anything of it goes, so a task that outlives it does nothing.
template <class Part> struct PartAnchor { Part* part = nullptr; };
template <class Part> using PartAnchorRef = std::shared_ptr<PartAnchor<Part>>;

// Identifies one library or meeting load.
struct LoadTicket {
    Uuid generation;
    std::uint64_t serial = 0;
};

// What every part of the cloud library shares: the dependencies, the state the windows draw, the
// observers, the meeting cache of the workspace and the one running library or meeting load. The
// library owns it and outlives its parts; everything in it is used on the main queue.
struct CloudLibraryContext {
    // Throws std::invalid_argument when a required dependency is missing; fills in the defaults.
    explicit CloudLibraryContext(CloudLibraryDependencies dependencies);

    CloudLibraryDependencies deps;
    CloudMeetingState state;
    std::function<void()> onChange;
    std::function<void()> onPlaybackTick;
    std::function<void(const std::vector<std::string>&)> onMeetingsGone;
    std::shared_ptr<MeetingCache> cache;
    // The running library or meeting load; only the load holding the newest serial writes.
    TaskHandle loadTask;
    std::uint64_t loadSerial = 0;

    void requireMain(const char* where) const { deps.mainQueue->requireCurrent(where); }
    void notify() const {
        if (onChange)
            onChange();
    }
    std::string localized(std::string_view text) const { return deps.localize(text); }
    Date now() const { return deps.now(); }
    Executor& actors() const { return *deps.actorExecutor; }

    // Starts a new load: the running one, if any, may no longer write.
    LoadTicket takeLoadTicket() { return LoadTicket{state.generation, ++loadSerial}; }
    // Cancels the running load and retires its ticket.
    void cancelLoad() {
        loadTask.cancel();
        ++loadSerial;
    }
    bool isCurrentLoad(const LoadTicket& ticket) const {
        return state.generation == ticket.generation && loadSerial == ticket.serial;
    }
    bool isCurrentGeneration(const Uuid& generation) const { return state.generation == generation; }
    // The generation is still `generation` and `meetingID` is still the selected meeting.
    bool isCurrentMeeting(const Uuid& generation, const std::string& meetingID) const {
        return isCurrentGeneration(generation) && state.selectedID == meetingID;
    }
    // Whether the open meeting may still be shown and acted on.
    bool documentLeaseIsValid() const;
};

// The steps of the library that reach across its parts; the library provides them.
class CloudLibrarySteps {
public:
    // Cancels all work and forgets the session, the cache and the lists.
    virtual void reset() = 0;
    virtual void stopPlayback() = 0;
    virtual void loadLibrary(bool more) = 0;
    virtual void openMeeting(const std::string& meetingID, bool refreshing) = 0;

    // Forgets the open meeting's fields (not the lists, not `loading`).
    virtual void closeDocument() = 0;
    // Closes the open meeting because its lease ended, and says so.
    virtual void expireDocument() = 0;
    virtual void scheduleDocumentExpiry(Date validatedAt, Date expiresAt) = 0;
    virtual void cancelDocumentExpiry() = 0;

    // The revocation step: the meetings' cached copies and drafts are revoked, the meetings leave
    // the lists, and the open meeting closes when it is among them. No sentence, no observer call.
    virtual Task<void> revokeMeetings(std::vector<std::string> meetingIDs) = 0;
    // The shared answer to a failed meeting request: a rejected session purges the cache and
    // resets; a forbidden or unknown meeting is revoked. True when it was one of those.
    virtual Task<bool> handleAccessError(Failure failure, std::string meetingID) = 0;

protected:
    CloudLibrarySteps() = default;
    ~CloudLibrarySteps() = default;
    CloudLibrarySteps(const CloudLibrarySteps&) = default;
    CloudLibrarySteps& operator=(const CloudLibrarySteps&) = default;
};

} // namespace nuvel
