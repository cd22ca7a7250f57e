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
    std::optional<std::string> code = callbackCode(callbackURL);
    if (!code)
        throw AuthenticationError(AuthenticationError::Code::invalidCallback);
    return std::move(*code);
}

std::optional<std::string> PKCEAttempt::callbackCode(std::string_view callbackURL) {
    auto url = Url::parse(callbackURL);
    if (!url)
        return std::nullopt;
    if (url->scheme() != "nuvel" || url->host() != "auth" || !url->path().empty())
        return std::nullopt;
    if (url->user() || url->password() || url->port() || url->fragment())
        return std::nullopt;
    auto items = url->queryItems();
    if (!items || items->size() != 1)
        return std::nullopt;
    const QueryItem& item = items->front();
    if (item.name != "code" || !item.value)
        return std::nullopt;
    const std::string& code = *item.value;
    if (code.size() != codeLength)
        return std::nullopt;
    for (char c : code)
        if (!isLowerHex(c))
            return std::nullopt;
    return code;
}

} // namespace nuvel
