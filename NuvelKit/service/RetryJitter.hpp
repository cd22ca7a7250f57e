#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace nuvel {

// The random spread the application lays over a retry delay, so that devices that failed
// together do not come back together: a factor drawn uniformly from [0.8, 1.2].
//
// The draw comes from an injectable source of integers uniform in 0 ... 2^53 (both ends
// included); by default the system's cryptographic random generator.
class RetryJitter {
public:
    static constexpr std::uint64_t drawSpan = std::uint64_t(1) << 53;
    using Source = std::function<std::uint64_t()>;

    RetryJitter();
    explicit RetryJitter(Source source);

    // 0.8 + 0.3999999999999999 × r × 2^-53, and exactly 1.2 for r = 2^53 (or above).
    static double factorFor(std::uint64_t draw);
    // A uniform integer in 0 ... 2^53 from the system's cryptographic random generator.
    static std::uint64_t systemDraw();

    double drawFactor() const;
    // The wait before the retry: max(serverDelay, delay × a drawn factor). The server's delay
    // is never shortened by the spread; one that is absent, not finite or negative counts as 0.
    double spread(double delay, std::optional<double> serverDelay) const;

private:
    Source source_;
};

} // namespace nuvel
