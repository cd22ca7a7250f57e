#include "NuvelKit/store/CaptureSpoolError.hpp"

#include <string>

namespace nuvel {

CaptureSpoolError::CaptureSpoolError(Code code, const char* what, std::uint32_t expected,
                                     std::uint32_t actual)
    : Error(std::string("capture spool: ") + what), code_(code), expected_(expected), actual_(actual) {}

CaptureSpoolError CaptureSpoolError::incompleteRead(std::uint32_t expected, std::uint32_t actual) {
    return CaptureSpoolError(Code::incompleteRead,
                             ("incomplete read, " + std::to_string(expected) + " frames missing").c_str(),
                             expected, actual);
}

CaptureSpoolError CaptureSpoolError::unsupportedFormat() {
    return CaptureSpoolError(Code::unsupportedFormat, "unsupported format");
}

CaptureSpoolError CaptureSpoolError::invalidSampleRate() {
    return CaptureSpoolError(Code::invalidSampleRate, "invalid sample rate");
}

CaptureSpoolError CaptureSpoolError::truncatedCapture() {
    return CaptureSpoolError(Code::truncatedCapture, "truncated capture");
}

} // namespace nuvel
