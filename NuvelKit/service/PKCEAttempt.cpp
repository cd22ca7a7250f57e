#include "NuvelKit/service/PKCEAttempt.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Url.hpp"

#include <array>

namespace nuvel {
namespace {

constexpr std::size_t secretBytes = 32;
constexpr std::size_t codeLength = 64;

bool isLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

AuthenticationError::AuthenticationError(Code code)
    : Error(code == Code::randomFailure ? "random generator failed"
            : code == Code::replayed    ? "sign-in callback replayed"
                                        : "invalid sign-in callback"),
      code_(code) {}

PKCEAttempt::PKCEAttempt(std::string verifier, std::string challenge)
    : verifier_(std::move(verifier)), challenge_(std::move(challenge)) {}

PKCEAttempt PKCEAttempt::make() {
    return make(fillRandom);
}

PKCEAttempt PKCEAttempt::make(const RandomFill& fill) {
    std::array<std::uint8_t, secretBytes> secret{};
    try {
        fill(secret.data(), secret.size());
    } catch (const CryptoError& e) {
        if (e.code() != CryptoError::Code::randomFailure)
            throw;
        throw AuthenticationError(AuthenticationError::Code::randomFailure);
    }
    std::string verifier = base64UrlEncode(ByteView(secret));
    secret.fill(0);
    std::string challenge = challengeFor(verifier);
    return PKCEAttempt(std::move(verifier), std::move(challenge));
}

std::string PKCEAttempt::challengeFor(std::string_view verifier) {
    return base64UrlEncode(ByteView(Sha256::hash(viewOf(verifier))));
}

std::string PKCEAttempt::authorizationURL(std::string_view origin) const {
    while (!origin.empty() && origin.back() == '/')
        origin.remove_suffix(1);
    return std::string(origin) + "/device?challenge=" + percentEncode(challenge_);
}

std::string PKCEAttempt::validateCallback(std::string_view callbackURL) {
    if (consumed_)
        throw AuthenticationError(AuthenticationError::Code::replayed);
    consumed_ = true;

    auto invalid = [] { return AuthenticationError(AuthenticationError::Code::invalidCallback); };
    auto url = Url::parse(callbackURL);
    if (!url)
        throw invalid();
    if (url->scheme() != "nuvel")
        throw invalid();
    if (url->host() != "auth")
        throw invalid();
    if (!url->path().empty())
        throw invalid();
    if (url->user() || url->password())
        throw invalid();
    if (url->port())
        throw invalid();
    if (url->fragment())
        throw invalid();
    auto items = url->queryItems();
    if (!items || items->size() != 1)
        throw invalid();
    const QueryItem& item = items->front();
    if (item.name != "code" || !item.value)
        throw invalid();
    const std::string& code = *item.value;
    if (code.size() != codeLength)
        throw invalid();
    for (char c : code)
        if (!isLowerHex(c))
            throw invalid();
    return code;
}

} // namespace nuvel
