// Feeds the "Retry-After" reader of both service clients. A delay comes only from a plain
// decimal number, and is then finite, not negative, and the number the text writes (as the C
// library reads it); both clients' errors carry the same delay for the same header.
//
//   build/fuzz/fuzz/fuzz_RetryAfterFuzz -max_total_time=600 <work-corpus> fuzz/corpus/RetryAfterFuzz
#include "NuvelKit/meetings/MeetingClientError.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <cmath>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace nuvel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<double> delay = APIError::parseRetryAfter(text);

    const MeetingClientError fromMeetings = MeetingClientError::fromResponse(503, {}, text);
    if (fromMeetings.retryAfter() != delay)
        fuzz::finding("the two clients read another delay", text);
    if (!delay)
        return 0;

    if (!std::isfinite(*delay) || *delay < 0 || std::signbit(*delay))
        fuzz::finding("an unusable delay", text);
    std::string_view number = text;
    while (!number.empty() && (number.front() == ' ' || number.front() == '\t'))
        number.remove_prefix(1);
    while (!number.empty() && (number.back() == ' ' || number.back() == '\t'))
        number.remove_suffix(1);
    if (number.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        fuzz::finding("a delay from something other than a decimal number", text);
    const std::string copy(number);
    char* end = nullptr;
    const double expected = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !(expected == *delay))
        fuzz::finding("a delay other than the number written", text);
    return 0;
}
