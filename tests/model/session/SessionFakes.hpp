#pragma once

// A service for the device session's tests: a device page that hands out one-time codes for a
// challenge, a token exchange that checks the verifier against it, the contract of any chosen
// workspace and device revocation; and the harnesses over it.

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "tests/model/ModelHarness.hpp"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel::test {

class SessionAPI final : public NuvelAPI {
public:
    SessionAPI() : NuvelAPI("https://api.nuvel.test", std::make_shared<NoTransport>()) {}

    // What the device page at `pageURL` redirects to: a new code for its challenge.
    std::string approve(const std::string& pageURL) {
        const std::string challenge = pageURL.substr(pageURL.find("challenge=") + 10);
        char code[65];
        std::snprintf(code, sizeof code, "%064x", ++issued_);
        codes_[code] = challenge;
        return std::string("nuvel://auth?code=") + code;
    }

    DeviceSession exchangeCode(std::string_view code, std::string_view verifier, std::string_view deviceName,
                               std::stop_token) override {
        exchanges.push_back(std::string(deviceName));
        if (exchangeFails)
            throw TransportError(TransportError::Code::cannotConnect);
        auto it = codes_.find(std::string(code));
        if (it == codes_.end() || PKCEAttempt::challengeFor(verifier) != it->second)
            throw APIError(400, "invalid_grant");
        codes_.erase(it);
        return session;
    }

    NativeBootstrap bootstrap(std::string_view token, const std::optional<std::string>& workspaceID,
                              std::stop_token) override {
        bootstrapCalls.push_back(std::string(token) + "|" + workspaceID.value_or("-"));
        if (!answer)
            throw TransportError(TransportError::Code::cannotConnect);
        return answer(workspaceID);
    }

    void revokeDevice(std::string_view token, std::stop_token) override {
        revoked.push_back(std::string(token));
        if (revokeFails)
            throw TransportError(TransportError::Code::hostNotFound);
    }

    // Answers every contract request with the chosen workspace (the default: "ws_team").
    void answerEveryWorkspace() {
        answer = [](const std::optional<std::string>& id) {
            return sampleContract("team", id.value_or("ws_team"));
        };
    }

    DeviceSession session = sampleSession();
    std::function<NativeBootstrap(const std::optional<std::string>&)> answer;
    bool exchangeFails = false;
    bool revokeFails = false;
    std::vector<std::string> exchanges; // the device names sent
    std::vector<std::string> bootstrapCalls;
    std::vector<std::string> revoked;

private:
    unsigned issued_ = 0;
    std::map<std::string, std::string> codes_;
};

struct SessionAPIHolder {
    std::shared_ptr<SessionAPI> service = std::make_shared<SessionAPI>();

    // The service, and other bytes for each sign-in attempt's verifier.
    static std::function<void(AppModelDependencies&)> over(std::shared_ptr<SessionAPI> api) {
        return [api](AppModelDependencies& d) {
            d.api = api;
            d.randomFill = [attempts = std::make_shared<unsigned>(0)](std::uint8_t* out, std::size_t count) {
                ++*attempts;
                for (std::size_t i = 0; i < count; ++i)
                    out[i] = std::uint8_t(i * 7 + *attempts);
            };
        };
    }
};

// The whole model over the session service.
class SessionHarness : public SessionAPIHolder, public AppHarness {
public:
    SessionHarness() : AppHarness(over(service)) {}

    // The keyring's stored session, or none.
    std::optional<std::string> storedSession() {
        Bytes bytes;
        if (keyring->copy(AppModel::keychainService, KeychainVault::deviceSessionAccount, bytes) !=
            keychainStatus::success)
            return std::nullopt;
        return std::string(bytes.begin(), bytes.end());
    }
    // Signs in through the browser and the callback; the contract answers for every workspace.
    void signInThroughBrowser() {
        service->answerEveryWorkspace();
        model->signIn();
        model->completeSignIn(service->approve(browser->opened.back()));
        queue.drain();
        changes = 0;
    }
};

} // namespace nuvel::test
