#include "NuvelKit/store/RecordingError.hpp"

#include <string>

namespace nuvel {

RecordingError::RecordingError(Code code)
    : Error(std::string("recording error: ") + name(code)), code_(code) {}

const char* RecordingError::name(Code code) noexcept {
    switch (code) {
    case Code::invalidDuration:
        return "invalidDuration";
    case Code::missingAccount:
        return "missingAccount";
    case Code::accountMismatch:
        return "accountMismatch";
    case Code::unsafePath:
        return "unsafePath";
    case Code::invalidManifest:
        return "invalidManifest";
    case Code::missingMedia:
        return "missingMedia";
    case Code::invalidTransport:
        return "invalidTransport";
    case Code::ambiguousRequest:
        return "ambiguousRequest";
    }
    return "unknown";
}

} // namespace nuvel
