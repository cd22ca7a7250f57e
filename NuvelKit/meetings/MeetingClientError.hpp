#pragma once

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// A call of the meeting-library API that the service answered with a status outside 200...299.
//
// The code is the service's machine code in its safe form (1 to 64 lower-case letters and "_"),
// or "unknown" when the answer named none or one of another form. The current revision is the
// server's revision of the resource when the error body names one (conflicts). The retry delay is
// the "Retry-After" header in seconds when it holds a usable number.
class MeetingClientError : public Error {
public:
    MeetingClientError(int status, std::string_view code,
                       std::optional<std::int64_t> currentRevision = std::nullopt,
                       std::optional<double> retryAfter = std::nullopt);

    int status() const noexcept { return status_; }
    const std::string& code() const noexcept { return code_; }
    std::optional<std::int64_t> currentRevision() const noexcept { return currentRevision_; }
    std::optional<double> retryAfter() const noexcept { return retryAfter_; }

    // The error for a failed answer: the code and current revision read from its body, the
    // delay from its "Retry-After" value. A body that is empty, not JSON, or not a JSON object
    // gives "unknown" and no revision.
    static MeetingClientError fromResponse(int status, ByteView body,
                                           std::optional<std::string_view> retryAfter);

private:
    int status_;
    std::string code_;
    std::optional<std::int64_t> currentRevision_;
    std::optional<double> retryAfter_;
};

} // namespace nuvel
