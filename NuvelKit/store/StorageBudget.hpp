#pragma once

#include "NuvelKit/support/Error.hpp"

#include <cstdint>

namespace nuvel {

class StorageBudgetError : public Error {
public:
    enum class Code {
        insufficientSpace, // required and available hold the figures
        invalidEstimate,   // inputs out of range, or an estimate that does not fit 64 bits
    };

    static StorageBudgetError insufficientSpace(std::int64_t required, std::int64_t available);
    static StorageBudgetError invalidEstimate();

    Code code() const noexcept { return code_; }
    // Both 0 for invalidEstimate.
    std::int64_t required() const noexcept { return required_; }
    std::int64_t available() const noexcept { return available_; }

    bool operator==(const StorageBudgetError& other) const noexcept {
        return code_ == other.code_ && required_ == other.required_ && available_ == other.available_;
    }

private:
    StorageBudgetError(Code code, std::int64_t required, std::int64_t available);

    Code code_;
    std::int64_t required_;
    std::int64_t available_;
};

// The disk space that work writing large audio files may need: the bytes the caller already knows
// of, the audio at the given bit rate counted twice, and a fixed reserve.
struct StorageBudget {
    std::int64_t requiredBytes = 0;

    // Requires base ≥ 0, bit rate > 0, reserve ≥ 0 and a finite, non-negative duration; the audio
    // bytes are ceil(duration × bitRate / 8 × 2). Throws StorageBudgetError::invalidEstimate when an
    // input is out of range or the sum does not fit a signed 64-bit count.
    StorageBudget(std::int64_t baseBytes, std::int64_t bitRate, std::int64_t reserveBytes,
                  double durationSeconds);

    // Throws insufficientSpace (available shown as 0 when negative) unless available ≥ requiredBytes.
    void check(std::int64_t availableBytes) const;

    bool operator==(const StorageBudget&) const = default;
};

} // namespace nuvel
