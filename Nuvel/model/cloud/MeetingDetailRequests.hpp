#pragma once

#include "Nuvel/model/CloudMeetingModel.hpp"
#include "NuvelKit/meetings/MeetingCorrection.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace nuvel {

// How a correction ended, as the detail screen shows it: the two flags and the library's status
// sentence at that moment.
using CorrectionResult = std::function<void(bool saved, bool conflict, const std::string& message)>;
// How a guest invitation ended, as the sharing sheet shows it: the flag and the library's status
// sentence at that moment.
using InvitationResult = std::function<void(bool invited, const std::string& message)>;

// What the meeting detail screen asks for, turned into calls of the cloud meeting library. The
// library window owns one beside its detail screen and wires each of the screen's requests to the
// member of the same name. Everything runs on the main queue.
//
// A correction's outcome comes back through `showCorrectionResult`, an invitation's through
// `showInvitationResult`, never after this object is gone.
class MeetingDetailRequests {
public:
    // `stopLocalPlayback` ends the playback of a local recording (the application model's);
    // `showCorrectionResult` finishes the correction sheet and `showInvitationResult` the
    // invitation of the sharing sheet. The cloud library and the queue outlive this object.
    MeetingDetailRequests(CloudMeetingModel& cloud, MainQueue& queue, std::function<void()> stopLocalPlayback,
                          CorrectionResult showCorrectionResult, InvitationResult showInvitationResult = {});
    ~MeetingDetailRequests();
    MeetingDetailRequests(const MeetingDetailRequests&) = delete;
    MeetingDetailRequests& operator=(const MeetingDetailRequests&) = delete;

    // Playback: `play` and `togglePlayback` stop a local recording's playback first; `seek` does not.
    void play(std::int64_t positionMilliseconds);
    void togglePlayback();
    void seek(std::int64_t positionMilliseconds);
    // Clamped to 0.5 ... 2.0; not a number gives 0.5.
    void speed(float value);

    // A correction made against the revision as the screen spells it; a revision that is not a
    // whole decimal number in the 64-bit range sends nothing and shows nothing.
    void correction(const MeetingCorrection& correction, std::string_view revision);
    // "Retry saved correction": sends the pending correction again; without a valid lease, an open
    // meeting, a pending correction or a session it answers (false, false) at once.
    void retryCorrection();

    // `format` is "md", "txt", "srt" or "vtt"; anything else does nothing.
    void exportMeeting(std::string_view format, const std::string& variant);

    void createShare(MeetingShareRequest request);
    void revokeShare(std::string shareID);
    void createLink(int days, bool includeAudio);
    void revokeLink(std::string linkID);
    void rename(std::string title);
    void deleteMeeting();

    // Reloads the open meeting, clearing it meanwhile (`refresh`) or keeping it on screen
    // (`reloadCorrection`); nothing without a selected meeting.
    void refresh();
    void reloadCorrection();

private:
    struct Alive {
        MeetingDetailRequests* requests = nullptr;
    };

    CorrectionCompletion completion() const;

    CloudMeetingModel& cloud_;
    MainQueue& queue_;
    std::function<void()> stopLocalPlayback_;
    CorrectionResult showCorrectionResult_;
    InvitationResult showInvitationResult_;
    std::shared_ptr<Alive> alive_;
};

} // namespace nuvel
