#pragma once

#include "NuvelKit/support/Time.hpp"

namespace nuvel {

// How long an offline copy may be shown: from the service's last confirmation of access
// (`validatedAt`) up to, not including, `expiresAt`, which is never more than 24 hours later.
// Handed out with a read; never stored on its own.
struct MeetingAuthorizationLease {
    Date validatedAt;
    Date expiresAt;

    bool operator==(const MeetingAuthorizationLease&) const = default;
};

} // namespace nuvel
