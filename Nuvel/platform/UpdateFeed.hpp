#pragma once

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// Why an update step failed. Never shown to the user: the update controller has its own
// sentence for a cycle that could not finish.
class UpdateError : public Error {
public:
    enum class Code {
        feedUnreadable,   // the feed could not be fetched or is not the expected document
        feedSignature,    // the feed's signature does not hold under the configured key
        download,         // the archive could not be fetched, or its length differs
        archiveSignature, // the archive's signature does not hold
        archiveUnsafe,    // the archive holds something that may not be unpacked
        install,          // the new build could not replace the installed one
        relaunch,         // the new build could not be started
    };
    UpdateError(Code code, const std::string& detail) : Error(detail), code_(code) {}
    Code code() const noexcept { return code_; }

private:
    Code code_;
};

// One release the feed offers.
struct UpdateItem {
    std::string version; // dotted numbers, "1.4.2"
    std::string url;     // where the archive is
    std::uint64_t length = 0;
    Bytes signature; // Ed25519 over the archive's bytes

    bool operator==(const UpdateItem&) const = default;
};

// The signed feed. On the wire it is a JSON object of two base64 strings:
//   {"feed": <the feed document's bytes>, "signature": <Ed25519 over those bytes>}
// and the feed document, read only after its signature held, is
//   {"items": [{"version": "1.4.2", "url": "https://…", "length": 123, "signature": "<base64>"}]}
namespace UpdateFeed {

// Verifies the envelope under the raw 32-byte key, then reads the items. Throws UpdateError
// (feedSignature before anything of the feed is read, feedUnreadable for a malformed document
// or an item whose address is not one the updater fetches from, see UpdateSafety).
std::vector<UpdateItem> open(ByteView envelope, ByteView publicKey);

// -1, 0 or 1 as `a` is older than, equal to or newer than `b`; missing numbers count as 0, and
// a version that is not dotted numbers is older than any that is.
int compareVersions(std::string_view a, std::string_view b);

// The newest item newer than `currentVersion`, or none.
std::optional<UpdateItem> newest(const std::vector<UpdateItem>& items, std::string_view currentVersion);

} // namespace UpdateFeed

} // namespace nuvel
