#include "NuvelKit/capture/AudioMediaError.hpp"

namespace nuvel {

MediaError::MediaError(Code code, std::string detail)
    : Error(std::string(toString(code)) + ": " + detail), code_(code) {}

const char* toString(MediaError::Code code) {
    switch (code) {
    case MediaError::Code::unreadable:
        return "unreadable";
    case MediaError::Code::noAudioTrack:
        return "noAudioTrack";
    case MediaError::Code::invalidArgument:
        return "invalidArgument";
    case MediaError::Code::decodeFailed:
        return "decodeFailed";
    case MediaError::Code::encodeFailed:
        return "encodeFailed";
    case MediaError::Code::writeFailed:
        return "writeFailed";
    case MediaError::Code::unavailable:
        return "unavailable";
    }
    return "unknown";
}

} // namespace nuvel
