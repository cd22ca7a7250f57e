#include "NuvelKit/service/RetryJitter.hpp"

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/support/Crypto.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {

RetryJitter::RetryJitter() : source_(systemDraw) {}

RetryJitter::RetryJitter(Source source) : source_(source ? std::move(source) : Source(systemDraw)) {}

double RetryJitter::factorFor(std::uint64_t draw) {
    if (draw >= drawSpan)
        return 1.2;
    return 0.8 + 0.3999999999999999 * std::ldexp(double(draw), -53);
}

std::uint64_t RetryJitter::systemDraw() {
    // 54 random bits cover 0 ... 2^54 - 1; keeping only values up to 2^53 leaves every value of
    // the closed range equally likely (about one draw in two is kept).
    while (true) {
        std::uint64_t value = 0;
        fillRandom(reinterpret_cast<std::uint8_t*>(&value), sizeof value);
        value >>= 10;
        if (value <= drawSpan)
            return value;
    }
}

double RetryJitter::drawFactor() const {
    return factorFor(source_());
}

double RetryJitter::spread(double delay, std::optional<double> serverDelay) const {
    const double server = APIError::usableDelay(serverDelay).value_or(0.0);
    return std::max(server, delay * drawFactor());
}

} // namespace nuvel
