#include "NuvelKit/capture/CaptureError.hpp"

namespace nuvel {

CaptureError::CaptureError(Code code) : Error(std::string("capture error: ") + name(code)), code_(code) {}

std::string CaptureError::description(Code code) {
    switch (code) {
    case Code::permission:
        return "Allow Screen & System Audio Recording in System Settings, then reopen Nuvel.";
    case Code::sourceMissing:
        return "The selected application is unavailable. Choose it again before recording.";
    case Code::sourceInterrupted:
        return "An audio source stopped delivering audio. Your recorded audio is preserved.";
    }
    return {};
}

const char* CaptureError::name(Code code) noexcept {
    switch (code) {
    case Code::permission:
        return "permission";
    case Code::sourceMissing:
        return "sourceMissing";
    case Code::sourceInterrupted:
        return "sourceInterrupted";
    }
    return "unknown";
}

} // namespace nuvel
