#pragma once

#include "NuvelKit/support/Error.hpp"

#include <cstddef>
#include <functional>
#include <string>

namespace nuvel {

// Why an application or system-audio capture could not start or stopped delivering. Each case
// has one user-facing sentence, returned as it stands (no localisation lookup).
class CaptureError : public Error {
public:
    enum class Code {
        permission,        // screen and system audio recording is not allowed
        sourceMissing,     // the chosen application (or the system output) is not there
        sourceInterrupted, // a source stopped delivering or lost audio
    };

    explicit CaptureError(Code code);

    Code code() const noexcept { return code_; }
    // The sentence shown to the user.
    std::string description() const { return description(code_); }
    static std::string description(Code code);
    static const char* name(Code code) noexcept;

    bool operator==(const CaptureError& other) const noexcept { return code_ == other.code_; }

private:
    Code code_;
};

} // namespace nuvel

template <> struct std::hash<nuvel::CaptureError> {
    std::size_t operator()(const nuvel::CaptureError& e) const noexcept {
        return std::hash<nuvel::CaptureError::Code>()(e.code());
    }
};
