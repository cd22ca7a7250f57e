// Feeds the sign-in callback check and the URL parser under it. A callback is either accepted
// with a code of 64 lower-case hexadecimal digits or refused as invalid; either way the attempt
// is spent, so the same callback again is refused as replayed. A URL that parses writes back to
// text that parses to the same URL.
//
//   build/fuzz/fuzz/fuzz_SignInCallbackFuzz -max_total_time=600 <work-corpus> fuzz/corpus/SignInCallbackFuzz
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/support/Url.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <cstring>
#include <string>

namespace {

using namespace nuvel;

bool isCode(const std::string& code) {
    return code.size() == 64 && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const std::optional<Url> url = Url::parse(text)) {
        const std::optional<Url> again = Url::parse(url->string());
        if (!again || !(*again == *url) || again->host() != url->host() || again->query() != url->query())
            fuzz::finding("a URL does not parse back to itself", text);
        (void)url->queryItems();
    }

    PKCEAttempt attempt =
        PKCEAttempt::make([](std::uint8_t* out, std::size_t count) { std::memset(out, 7, count); });
    try {
        if (!isCode(attempt.validateCallback(text)))
            fuzz::finding("a callback gave a code of another form", text);
    } catch (const AuthenticationError& e) {
        if (e.code() != AuthenticationError::Code::invalidCallback)
            fuzz::finding("a fresh attempt was not invalid", text);
    }
    try {
        attempt.validateCallback(text);
        fuzz::finding("a spent attempt took a callback", text);
    } catch (const AuthenticationError& e) {
        if (e.code() != AuthenticationError::Code::replayed)
            fuzz::finding("a spent attempt was not replayed", text);
    }
    return 0;
}
