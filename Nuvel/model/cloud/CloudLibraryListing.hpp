#pragma once

#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

class Failure;

// The library's list: page loads with the offline copy shown first, the reconciliation of the
// listed meetings, the library's own lease, the revocation step and the library-wide search.
class CloudLibraryListing {
public:
    // The library's cache key of its own offline copy.
    static constexpr const char* libraryKey = "__library__";
    static constexpr std::int64_t pageSize = 50;
    static constexpr std::size_t reconcileBatch = 100;

    CloudLibraryListing(CloudLibraryContext& context, CloudLibrarySteps& steps);
    ~CloudLibraryListing();
    CloudLibraryListing(const CloudLibraryListing&) = delete;
    CloudLibraryListing& operator=(const CloudLibraryListing&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // The first page (replacing the list), or with `more` the next one (appended).
    void loadLibrary(bool more);
    // A library-wide search; an empty query clears the hits.
    void search(const std::string& query);
    // The revocation step (see CloudLibrarySteps::revokeMeetings).
    Task<void> revokeMeetings(std::vector<std::string> meetingIDs);
    // Stops the wait for the end of the library's offline lease.
    void cancelExpiry();

private:
    using AnchorRef = PartAnchorRef<CloudLibraryListing>;

    void scheduleLibraryExpiry(Date expiresAt);
    static Task<void> libraryLoad(AnchorRef anchor, LoadTicket ticket, bool more,
                                  std::shared_ptr<MeetingCache> cache, std::string workspaceID,
                                  std::optional<std::string> cursor, DeviceSession session);
    static Task<void> libraryLoadFailed(AnchorRef anchor, LoadTicket ticket, Failure failure,
                                        std::shared_ptr<MeetingCache> cache);
    static Task<void> libraryExpiry(AnchorRef anchor, Uuid generation, Date expiresAt);
    static Task<void> revokeFromLibrary(AnchorRef anchor, std::vector<std::string> meetingIDs);
    static Task<void> searchLibrary(AnchorRef anchor, Uuid generation, std::uint64_t serial,
                                    std::string query, DeviceSession session);

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;
    TaskHandle libraryExpiryTask_;
    std::uint64_t searchSerial_ = 0;
};

} // namespace nuvel
