// Fault injection of the stand-in: canned answers, HTML pages, redirects, delays that stop() ends,
// dropped connections, and how faults are matched and counted.
#include "tests/service/StandinTestSupport.hpp"

#include <future>
#include <thread>

namespace nuvel::test {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

class StandinFaultTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        token = service.issueToken();
    }
    std::string token;
};

TEST_F(StandinFaultTest, CannedAnswersCarryStatusBodyAndRetryAfterForTheirCount) {
    service.addFault("GET", "/api/bootstrap",
                     StandinFault::error(429, "rate_limited").retryAfter("120").times(2));
    for (int i = 0; i < 2; ++i) {
        auto r = get("/api/bootstrap", token);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 429);
        EXPECT_EQ(r->get_header_value("Retry-After"), "120");
        EXPECT_EQ(bodyOf(r), (Json{{"error", {{"code", "rate_limited"}}}}));
    }
    EXPECT_EQ(get("/api/bootstrap", token)->status, 200);
    const auto log = service.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].status, 429);
    EXPECT_EQ(log[2].status, 200);

    service.addFault("", "/api/bootstrap", StandinFault::respond(200, "{\"contract_version\":2}"));
    EXPECT_EQ(bodyOf(get("/api/bootstrap", token)), (Json{{"contract_version", 2}}));
    service.addFault("", "/api/bootstrap", StandinFault::respond(500, "", ""));
    auto empty = get("/api/bootstrap", token);
    EXPECT_EQ(empty->status, 200); // the earlier fault, which never runs out, comes first
    service.clearFaults();
    EXPECT_EQ(bodyOf(get("/api/bootstrap", token))["contract_version"], 1);
}

TEST_F(StandinFaultTest, MatchesByMethodAndWholePathPattern) {
    const int id =
        service.addFault("PUT", "/api/meetings/[^/]+/audio/\\d+", StandinFault::error(503, "unavailable"));
    EXPECT_EQ(sendRaw("PUT", "/api/meetings/mt_a/audio/12", token, "x", "audio/mp4")->status, 503);
    EXPECT_EQ(get("/api/meetings/mt_a/audio", token)->status, 404); // other path
    EXPECT_EQ(sendRaw("PUT", "/api/meetings/mt_a/audio/12x", token, "x", "audio/mp4")->status,
              404); // no whole match
    EXPECT_EQ(sendRaw("PUT", "/api/meetings/mt_a/audio/1?x=1", token, "x", "audio/mp4")->status,
              503); // query ignored
    service.removeFault(id);
    EXPECT_EQ(sendRaw("PUT", "/api/meetings/mt_a/audio/12", token, "x", "audio/mp4")->status, 404);
    EXPECT_THROW(service.addFault("", "(", StandinFault::error(500, "x")), std::regex_error);
}

TEST_F(StandinFaultTest, HtmlPagesAndRedirects) {
    service.addFault("", "/api/meetings", StandinFault::htmlPage(502).times(1));
    auto page = get("/api/meetings?workspace_id=ws_personal", token);
    EXPECT_EQ(page->status, 502);
    EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    EXPECT_NE(page->body.find("<html>"), std::string::npos);

    service.addFault("GET", "/api/bootstrap",
                     StandinFault::redirect("https://example.com/elsewhere").times(1));
    auto moved = get("/api/bootstrap", token);
    EXPECT_EQ(moved->status, 302);
    EXPECT_EQ(moved->get_header_value("Location"), "https://example.com/elsewhere");
}

TEST_F(StandinFaultTest, DelayedAnswersComeLater) {
    service.addFault("GET", "/api/bootstrap", StandinFault::delayed(150ms).times(1));
    const auto start = Steady::now();
    auto r = get("/api/bootstrap", token);
    EXPECT_GE(Steady::now() - start, 150ms);
    EXPECT_EQ(r->status, 200);

    service.addFault("GET", "/api/settings",
                     StandinFault::error(504, "gateway_timeout").after(100ms).times(1));
    const auto again = Steady::now();
    EXPECT_EQ(get("/api/settings", token)->status, 504);
    EXPECT_GE(Steady::now() - again, 100ms);
}

TEST(StandinFaultStop, StopEndsADelayedAnswerAtOnce) {
    StandinService service;
    service.start();
    service.addFault("", ".*", StandinFault::delayed(std::chrono::minutes(5)));
    auto pending = std::async(std::launch::async, [port = service.port()] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(std::chrono::seconds(30));
        return c.Get("/api/bootstrap");
    });
    ASSERT_TRUE(service.waitForRequests(1, std::chrono::seconds(5)));
    const auto start = Steady::now();
    service.stop();
    EXPECT_LT(Steady::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto result = pending.get();
    if (result) {
        EXPECT_EQ(result->status, 503); // or no answer at all, when the connection closes first
    }
}

TEST_F(StandinFaultTest, DroppedConnectionsGetNoAnswerAndTheServiceGoesOn) {
    service.addFault("POST", "/api/meetings/[^/]+/commit", StandinFault::dropConnection().times(1));
    const Json commit{{"parts", 1}, {"sha256", std::string(64, 'a')}};
    auto dropped = send("POST", "/api/meetings/mt_a/commit", token, commit);
    EXPECT_FALSE(dropped);
    EXPECT_EQ(dropped.error(), httplib::Error::Read);
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].status, 0);
    EXPECT_EQ(service.requests()[0].bodyLength, commit.dump().size());

    service.addFault("", "/api/bootstrap", StandinFault::dropConnection().after(50ms).times(1));
    EXPECT_FALSE(get("/api/bootstrap", token));
    EXPECT_EQ(get("/api/bootstrap", token)->status, 200);
}

TEST_F(StandinFaultTest, StopClosesIdleKeepAliveConnectionsPromptly) {
    httplib::Client kept("127.0.0.1", service.port());
    kept.set_keep_alive(true);
    ASSERT_EQ(kept.Get("/api/bootstrap", bearer(token))->status, 200);
    const auto start = Steady::now();
    service.stop();
    EXPECT_LT(Steady::now() - start, std::chrono::seconds(1));
}

} // namespace
} // namespace nuvel::test
