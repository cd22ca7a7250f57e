#include "NuvelKit/store/StorageBudget.hpp"

#include <cmath>
#include <string>

namespace nuvel {

StorageBudgetError::StorageBudgetError(Code code, std::int64_t required, std::int64_t available)
    : Error(code == Code::invalidEstimate
                ? std::string("storage estimate out of range")
                : "insufficient space: " + std::to_string(required) + " bytes required, " +
                      std::to_string(available) + " available"),
      code_(code), required_(required), available_(available) {}

StorageBudgetError StorageBudgetError::insufficientSpace(std::int64_t required, std::int64_t available) {
    return StorageBudgetError(Code::insufficientSpace, required, available);
}

StorageBudgetError StorageBudgetError::invalidEstimate() {
    return StorageBudgetError(Code::invalidEstimate, 0, 0);
}

StorageBudget::StorageBudget(std::int64_t baseBytes, std::int64_t bitRate, std::int64_t reserveBytes,
                             double durationSeconds) {
    if (baseBytes < 0 || bitRate <= 0 || reserveBytes < 0 || !std::isfinite(durationSeconds) ||
        durationSeconds < 0)
        throw StorageBudgetError::invalidEstimate();

    const double audio = std::ceil(((durationSeconds * double(bitRate)) * 0.125) * 2.0);
    // 2^63 is the first double beyond the signed 64-bit range, so the conversion below is exact.
    if (!std::isfinite(audio) || !(audio < 9223372036854775808.0))
        throw StorageBudgetError::invalidEstimate();
    const auto audioBytes = static_cast<std::int64_t>(audio);

    std::int64_t withAudio = 0, total = 0;
    if (__builtin_add_overflow(baseBytes, audioBytes, &withAudio) ||
        __builtin_add_overflow(withAudio, reserveBytes, &total))
        throw StorageBudgetError::invalidEstimate();
    requiredBytes = total;
}

void StorageBudget::check(std::int64_t availableBytes) const {
    if (availableBytes < requiredBytes)
        throw StorageBudgetError::insufficientSpace(requiredBytes, availableBytes < 0 ? 0 : availableBytes);
}

} // namespace nuvel
