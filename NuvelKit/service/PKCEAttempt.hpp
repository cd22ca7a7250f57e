#pragma once

#include "NuvelKit/service/AuthenticationError.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// One browser sign-in attempt with a PKCE proof key (the S256 method of RFC 7636).
//
// The verifier is the secret: it leaves the device only in the token exchange. The browser
// sees only the challenge. The attempt takes exactly one callback: the first call of
// `validateCallback` consumes it, whatever its outcome, so a replayed or retried callback
// can never yield a code.
class PKCEAttempt {
public:
    // Fills a buffer with secure random bytes; reports failure by throwing CryptoError.
    using RandomFill = std::function<void(std::uint8_t*, std::size_t)>;

    // A fresh attempt from 32 bytes of the system random generator. Throws
    // AuthenticationError::randomFailure when the generator fails.
    static PKCEAttempt make();
    // The same with another source of the 32 bytes (tests pin them).
    static PKCEAttempt make(const RandomFill& fill);

    // The S256 challenge of a verifier: base64url of its SHA-256, without "=".
    static std::string challengeFor(std::string_view verifier);

    const std::string& verifier() const noexcept { return verifier_; }
    const std::string& challenge() const noexcept { return challenge_; }
    bool consumed() const noexcept { return consumed_; }

    // The service's device page with the challenge: `origin` + "/device?challenge=…".
    // `origin` is the service's web origin, scheme and host (and port) without a path.
    std::string authorizationURL(std::string_view origin) const;

    // Checks the callback address the browser hands back and returns its sign-in code.
    // Throws AuthenticationError::replayed on every call after the first, and
    // AuthenticationError::invalidCallback unless the address is exactly
    // "nuvel://auth?code=" followed by 64 lower-case hexadecimal digits.
    std::string validateCallback(std::string_view callbackURL);

    // The code of a callback address of exactly that form; none for any other address. Consumes
    // nothing: it tells the service's callback from an address any page or program made up.
    static std::optional<std::string> callbackCode(std::string_view callbackURL);

private:
    PKCEAttempt(std::string verifier, std::string challenge);

    std::string verifier_;
    std::string challenge_;
    bool consumed_ = false;
};

} // namespace nuvel
