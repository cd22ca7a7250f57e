#pragma once

#include "NuvelKit/support/Error.hpp"

#include <cstdint>

namespace nuvel {

// Why a capture spool could not be turned into segments, or why the live writer refused audio in
// another format than the file it has open.
class CaptureSpoolError : public Error {
public:
    enum class Code {
        incompleteRead,    // a read gave no frames although the block still missed `expected`
        unsupportedFormat, // the spool is not linear PCM, or an append's rate differs from the live file's
        invalidSampleRate, // the spool's rate is not finite and above zero
        truncatedCapture,  // the frames already converted are negative or beyond the spool's length
    };

    static CaptureSpoolError incompleteRead(std::uint32_t expected, std::uint32_t actual);
    static CaptureSpoolError unsupportedFormat();
    static CaptureSpoolError invalidSampleRate();
    static CaptureSpoolError truncatedCapture();

    Code code() const noexcept { return code_; }
    // Frame counts of incompleteRead; 0 for the other cases.
    std::uint32_t expected() const noexcept { return expected_; }
    std::uint32_t actual() const noexcept { return actual_; }

    bool operator==(const CaptureSpoolError& other) const noexcept {
        return code_ == other.code_ && expected_ == other.expected_ && actual_ == other.actual_;
    }

private:
    CaptureSpoolError(Code code, const char* what, std::uint32_t expected = 0, std::uint32_t actual = 0);

    Code code_;
    std::uint32_t expected_;
    std::uint32_t actual_;
};

} // namespace nuvel
