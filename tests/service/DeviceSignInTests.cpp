#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Url.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace nuvel {
namespace {

const std::string goodCode = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

PKCEAttempt::RandomFill fixedBytes(std::array<std::uint8_t, 32> bytes) {
    return [bytes](std::uint8_t* out, std::size_t n) {
        ASSERT_EQ(n, bytes.size());
        std::memcpy(out, bytes.data(), n);
    };
}

AuthenticationError::Code callbackFailure(PKCEAttempt& attempt, const std::string& url) {
    try {
        attempt.validateCallback(url);
    } catch (const AuthenticationError& e) {
        return e.code();
    }
    ADD_FAILURE() << "accepted " << url;
    return AuthenticationError::Code::randomFailure;
}

TEST(PKCEAttempt, Rfc7636AppendixBVector) {
    PKCEAttempt attempt = PKCEAttempt::make(
        fixedBytes({116, 24,  223, 180, 151, 153, 224, 37,  79, 250, 96, 125, 216, 173, 187, 186,
                    22,  212, 37,  77,  105, 214, 191, 240, 91, 88,  5,  88,  83,  132, 141, 121}));
    EXPECT_EQ(attempt.verifier(), "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(attempt.challenge(), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_EQ(PKCEAttempt::challengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_FALSE(attempt.consumed());
}

TEST(PKCEAttempt, VerifierAndChallengeAreFortyThreeBase64UrlCharacters) {
    auto base64Url = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    };
    std::set<std::string> verifiers;
    for (int i = 0; i < 200; ++i) {
        PKCEAttempt attempt = PKCEAttempt::make();
        ASSERT_EQ(attempt.verifier().size(), 43u);
        ASSERT_EQ(attempt.challenge().size(), 43u);
        ASSERT_TRUE(std::all_of(attempt.verifier().begin(), attempt.verifier().end(), base64Url))
            << attempt.verifier();
        ASSERT_TRUE(std::all_of(attempt.challenge().begin(), attempt.challenge().end(), base64Url))
            << attempt.challenge();
        ASSERT_EQ(attempt.challenge(), PKCEAttempt::challengeFor(attempt.verifier()));
        verifiers.insert(attempt.verifier());
    }
    EXPECT_EQ(verifiers.size(), 200u);
}

TEST(PKCEAttempt, FailingRandomGeneratorMakesNoAttempt) {
    auto failing = [](std::uint8_t*, std::size_t) {
        throw CryptoError(CryptoError::Code::randomFailure, "no entropy");
    };
    try {
        PKCEAttempt::make(failing);
        FAIL() << "made an attempt";
    } catch (const AuthenticationError& e) {
        EXPECT_EQ(e.code(), AuthenticationError::Code::randomFailure);
    }
}

TEST(PKCEAttempt, AuthorizationUrlCarriesOnlyTheChallenge) {
    PKCEAttempt attempt = PKCEAttempt::make();
    std::string url = attempt.authorizationURL("https://nuvel.example");
    EXPECT_EQ(url, "https://nuvel.example/device?challenge=" + attempt.challenge());
    EXPECT_EQ(attempt.authorizationURL("http://127.0.0.1:8080/"),
              "http://127.0.0.1:8080/device?challenge=" + attempt.challenge());
    auto parts = Url::parse(url);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->path(), "/device");
    EXPECT_EQ(parts->queryItems(), (std::vector<QueryItem>{{"challenge", attempt.challenge()}}));
    EXPECT_EQ(url.find(attempt.verifier()), std::string::npos);
}

TEST(PKCEAttempt, CallbackIsAcceptedOnceAndRefusedOnReplay) {
    PKCEAttempt attempt = PKCEAttempt::make();
    EXPECT_EQ(attempt.validateCallback("nuvel://auth?code=" + goodCode), goodCode);
    EXPECT_TRUE(attempt.consumed());
    EXPECT_EQ(callbackFailure(attempt, "nuvel://auth?code=" + goodCode), AuthenticationError::Code::replayed);
    EXPECT_EQ(callbackFailure(attempt, "garbage"), AuthenticationError::Code::replayed);
}

TEST(PKCEAttempt, PercentEncodedCodeIsDecodedBeforeTheCheck) {
    PKCEAttempt attempt = PKCEAttempt::make();
    std::string encoded = "%30" + goodCode.substr(1); // "%30" is "0"
    EXPECT_EQ(attempt.validateCallback("nuvel://auth?code=" + encoded), goodCode);
}

TEST(PKCEAttempt, MalformedCallbacksAreRefusedAndConsumeTheAttempt) {
    const std::string q = "?code=" + goodCode;
    const std::vector<std::string> malformed = {
        // scheme
        "auth" + q,
        "//auth" + q,
        "NUVEL://auth" + q,
        "nuvels://auth" + q,
        "https://auth" + q,
        "nuvel:auth" + q,
        // host
        "nuvel://" + q,
        "nuvel:///" + q,
        "nuvel://AUTH" + q,
        "nuvel://auth.example" + q,
        "nuvel://a%75th" + q,
        // path
        "nuvel://auth/" + q,
        "nuvel://auth/callback" + q,
        "nuvel://auth/." + q,
        // user and password
        "nuvel://user@auth" + q,
        "nuvel://@auth" + q,
        "nuvel://user:pw@auth" + q,
        "nuvel://:pw@auth" + q,
        // port
        "nuvel://auth:443" + q,
        "nuvel://auth:" + q,
        // fragment
        "nuvel://auth" + q + "#",
        "nuvel://auth" + q + "#top",
        // query items
        "nuvel://auth",
        "nuvel://auth?",
        "nuvel://auth?code",
        "nuvel://auth?code=",
        "nuvel://auth" + q + "&state=x",
        "nuvel://auth?state=x&code=" + goodCode,
        "nuvel://auth" + q + "&",
        "nuvel://auth" + q + "&code=" + goodCode,
        "nuvel://auth?Code=" + goodCode,
        "nuvel://auth?co%64e=" + goodCode + "&x",
        // the code itself
        "nuvel://auth?code=" + goodCode.substr(1),
        "nuvel://auth?code=" + goodCode + "0",
        "nuvel://auth?code=0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef",
        "nuvel://auth?code=g123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
        "nuvel://auth?code=" + goodCode.substr(1) + "%0A",
        "nuvel://auth?code=" + goodCode.substr(2) + "%20a",
        "nuvel://auth?code=+" + goodCode.substr(1),
        // not a URL at all
        "",
        "nuvel://auth?code=" + goodCode + " ",
        "nuvel://auth?code=" + goodCode.substr(1) + "%",
        "nuvel://auth?code=" + goodCode.substr(3) + "%zz0",
    };
    for (const std::string& url : malformed) {
        PKCEAttempt attempt = PKCEAttempt::make();
        EXPECT_EQ(callbackFailure(attempt, url), AuthenticationError::Code::invalidCallback) << url;
        EXPECT_TRUE(attempt.consumed()) << url;
        // A retry with a correct callback on the same attempt is a replay.
        EXPECT_EQ(callbackFailure(attempt, "nuvel://auth" + q), AuthenticationError::Code::replayed) << url;
    }
}

TEST(AuthenticationError, EqualityAndHashingFollowTheCase) {
    AuthenticationError a(AuthenticationError::Code::replayed), b(AuthenticationError::Code::replayed),
        c(AuthenticationError::Code::invalidCallback);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == c);
    EXPECT_EQ(std::hash<AuthenticationError>()(a), std::hash<AuthenticationError>()(b));
}

TEST(DeviceAccount, NameIsOptionalAndLeftOutWhenAbsent) {
    for (const char* text : {R"({"id":"acc_1","email":"a@example.com"})",
                             R"({"id":"acc_1","email":"a@example.com","name":null})"}) {
        DeviceAccount account = DeviceAccount::fromJson(json::parse(text));
        EXPECT_EQ(account, (DeviceAccount{"acc_1", "a@example.com", std::nullopt}));
        EXPECT_EQ(json::dump(account.toJson()), R"({"id":"acc_1","email":"a@example.com"})");
    }
    DeviceAccount named{"acc_1", "a@example.com", "Ada"};
    EXPECT_EQ(json::dump(named.toJson()), R"({"id":"acc_1","email":"a@example.com","name":"Ada"})");
    EXPECT_EQ(DeviceAccount::fromJson(json::parse(json::dump(named.toJson()))), named);
}

TEST(DeviceAccount, AbsentNameDiffersFromEmptyName) {
    EXPECT_NE((DeviceAccount{"a", "e", std::nullopt}), (DeviceAccount{"a", "e", ""}));
    EXPECT_NE((DeviceAccount{"a", "e", "x"}), (DeviceAccount{"b", "e", "x"}));
    EXPECT_NE((DeviceAccount{"a", "e", "x"}), (DeviceAccount{"a", "f", "x"}));
}

TEST(DeviceSession, RoundTripsAndDecodesStrictly) {
    DeviceSession session = DeviceSession::decode(
        R"({"token":"tok","account":{"id":"acc_1","email":"a@example.com","name":"Ada"},"extra":1})");
    EXPECT_EQ(session.token, "tok");
    EXPECT_EQ(session.account, (DeviceAccount{"acc_1", "a@example.com", "Ada"}));
    EXPECT_EQ(session.encode(),
              R"({"token":"tok","account":{"id":"acc_1","email":"a@example.com","name":"Ada"}})");

    for (const char* bad : {
             R"({"account":{"id":"a","email":"e"}})",                      // no token
             R"({"token":"t"})",                                           // no account
             R"({"token":"t","account":null})",                            // null account
             R"({"token":"t","account":{"email":"e"}})",                   // no id
             R"({"token":"t","account":{"id":"a"}})",                      // no email
             R"({"token":7,"account":{"id":"a","email":"e"}})",            // token not a string
             R"({"token":"t","account":{"id":"a","email":"e","name":3}})", // name not a string
             R"({"token":"t","account":"a"})",                             // account not an object
             R"(["t"])",
         }) {
        EXPECT_THROW(DeviceSession::decode(bad), json::JsonError) << bad;
    }
}

} // namespace
} // namespace nuvel
