// How the meeting client reads answers over real HTTP: error codes, the current revision,
// Retry-After, redirects, the body cap, cancellation and transport failures.

#include "NuvelKit/service/TransportError.hpp"
#include "tests/meetings/MeetingServiceFixture.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace nuvel;
using namespace nuvel::test;

namespace {

class MeetingClientResponses : public ::testing::Test {
protected:
    // The error of `meeting` answered with that status, body and headers.
    MeetingClientError failure(int status, std::string body, httplib::Headers headers = {}) {
        service.answer([=](const httplib::Request&, httplib::Response& rs) {
            rs.status = status;
            for (const auto& [name, value] : headers)
                rs.set_header(name.c_str(), value);
            rs.set_content(body, "application/json");
        });
        return clientFailure([&] { client.meeting("mtg_01", "tok"); });
    }

    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
};

std::string bodyOfSize(std::size_t size) {
    return std::string(size, 'x');
}

} // namespace

TEST_F(MeetingClientResponses, ErrorCodeTakesOnlyTheSafeForm) {
    struct Case {
        std::string body;
        std::string code;
    };
    const std::string longest(64, 'a');
    const Case cases[] = {
        {R"({"error":{"code":"revision_conflict","message":"Stale"}})", "revision_conflict"},
        {R"({"error":"rate_limited"})", "rate_limited"},
        {R"({"error":{"code":"Revision_Conflict"}})", "unknown"},
        {R"({"error":{"code":"conflict2"}})", "unknown"},
        {R"({"error":{"code":"audio-expired"}})", "unknown"},
        {R"({"error":{"code":""}})", "unknown"},
        {R"({"error":{"code":")" + longest + R"("}})", longest},
        {R"({"error":{"code":")" + longest + R"(a"}})", "unknown"},
        {R"({"error":{"code":7}})", "unknown"},
        {R"({"error":{"message":"no code"}})", "unknown"},
        {R"({"error":{}})", "unknown"},
        {R"({"error":"Not Found"})", "unknown"},
        {R"({"error":null,"code":"not_here"})", "unknown"},
        {R"({"code":"top_level"})", "unknown"},
        {R"(["error","bad"])", "unknown"},
        {R"("rate_limited")", "unknown"},
        {"<html><body>Internal Server Error</body></html>", "unknown"},
        {"", "unknown"},
        {R"({"error":{"code":"x"})", "unknown"}, // cut off
    };
    for (const Case& c : cases) {
        MeetingClientError e = failure(500, c.body);
        EXPECT_EQ(e.status(), 500) << c.body;
        EXPECT_EQ(e.code(), c.code) << c.body;
        EXPECT_FALSE(e.retryAfter()) << c.body;
    }
    MeetingClientError html = failure(500, "<html>oops</html>");
    EXPECT_FALSE(html.currentRevision());
    EXPECT_EQ(failure(404, R"({"error":{"code":"not_found"}})").status(), 404);
}

TEST_F(MeetingClientResponses, CurrentRevisionIsTheFirstIntegerInItsOrder) {
    struct Case {
        std::string body;
        std::optional<std::int64_t> revision;
    };
    const Case cases[] = {
        // The conflict detail wins over everything else.
        {R"({"error":{"code":"conflict","detail":{"revision":9},"revision":8},"current_revision":7})", 9},
        {R"({"error":{"code":"conflict","revision":8,"current_revision":6},"revision":5})", 8},
        {R"({"error":{"code":"conflict","current_revision":6},"revision":5})", 6},
        {R"({"error":{"code":"conflict"},"revision":5,"current_revision":4})", 5},
        {R"({"error":{"code":"conflict"},"current_revision":4})", 4},
        // Values that are not integers are passed over.
        {R"({"error":{"code":"conflict","detail":{"revision":"9"},"revision":8.5,"current_revision":true},"revision":3})",
         3},
        {R"({"error":{"code":"conflict","revision":12.0}})", 12},
        {R"({"error":{"code":"conflict","revision":1e300},"current_revision":2})", 2},
        // Without a code there may still be a revision.
        {R"({"error":{"detail":{"revision":11}}})", 11},
        // An empty or non-object "error" is not searched; the top level still is.
        {R"({"error":{},"revision":2})", 2},
        {R"({"error":"conflict","current_revision":3})", 3},
        {R"({"error":{"code":"conflict","detail":{}}})", std::nullopt},
        {R"({"error":{"code":"conflict"}})", std::nullopt},
        {R"([{"revision":4}])", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        MeetingClientError e = failure(409, c.body);
        EXPECT_EQ(e.currentRevision(), c.revision) << c.body;
    }
    EXPECT_EQ(failure(409, R"({"error":{"code":"revision_conflict","detail":{"revision":9}}})").code(),
              "revision_conflict");
}

TEST_F(MeetingClientResponses, RetryAfterIsADecimalNumberOfSeconds) {
    struct Case {
        std::string value;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"120", 120.0},
        {"1.5", 1.5},
        {"1e2", 100.0},
        {"0", 0.0},
        {"Wed, 21 Oct 2015 07:28:00 GMT", std::nullopt},
        {"soon", std::nullopt},
        {"12s", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
        {"0x10", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        MeetingClientError e = failure(503, R"({"error":"unavailable"})", {{"Retry-After", c.value}});
        EXPECT_EQ(e.retryAfter(), c.seconds) << "\"" << c.value << "\"";
        EXPECT_EQ(e.code(), "unavailable");
    }
    // The header name is matched without regard to case.
    EXPECT_EQ(failure(429, "", {{"retry-after", "30"}}).retryAfter(), 30.0);
    EXPECT_FALSE(failure(429, "").retryAfter());
}

TEST_F(MeetingClientResponses, RedirectsAreFailuresNotFollowed) {
    std::atomic<int> followed{0};
    for (int status : {301, 302, 307, 308}) {
        service.answer([&, status](const httplib::Request& rq, httplib::Response& rs) {
            if (rq.path == "/elsewhere") {
                ++followed;
                rs.set_content(R"({"id":"x"})", "application/json");
                return;
            }
            rs.set_redirect("/elsewhere", status);
        });
        MeetingClientError e = clientFailure([&] { client.meeting("mtg_01", "tok"); });
        EXPECT_EQ(e.status(), status);
        EXPECT_EQ(e.code(), "unknown");
    }
    EXPECT_EQ(followed, 0);
    EXPECT_EQ(service.log().size(), 4u);
}

TEST_F(MeetingClientResponses, BodiesAreCappedAtSixtyFourMebibytes) {
    const std::size_t cap = 64u * 1024 * 1024;
    EXPECT_EQ(NativeMeetingClient::maxBodyBytes, cap);

    // An operation that ignores its body: exactly the cap passes, one byte more fails.
    service.answer(answerJSON(bodyOfSize(cap)));
    client.rename("mtg_01", "t", "tok");
    service.answer(answerJSON(bodyOfSize(cap + 1)));
    EXPECT_EQ(recordingFailure([&] { client.rename("mtg_01", "t", "tok"); }),
              RecordingError::Code::invalidTransport);

    // A document of exactly the cap still decodes.
    std::string settings = R"({"retention_days":30,"pad":")";
    settings += std::string(cap - settings.size() - 2, 'p') + "\"}";
    ASSERT_EQ(settings.size(), cap);
    service.answer(answerJSON(settings));
    EXPECT_EQ(client.settings("tok")["retention_days"]->numberValue(), 30.0);

    // Error bodies are read under the same cap.
    service.answer(answerJSON(bodyOfSize(cap), 500));
    EXPECT_EQ(clientFailure([&] { client.rename("mtg_01", "t", "tok"); }).code(), "unknown");
    service.answer(answerJSON(bodyOfSize(cap + 1), 500));
    EXPECT_EQ(recordingFailure([&] { client.rename("mtg_01", "t", "tok"); }),
              RecordingError::Code::invalidTransport);
}

TEST(MeetingClientCancellation, AStopEndsTheRequestInFlight) {
    Gate release;
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
    service.answer([&](const httplib::Request&, httplib::Response& rs) {
        release.wait();
        rs.set_content("{}", "application/json");
    });
    std::stop_source stop;
    std::thread canceller([&] {
        if (service.waitForRequests(1))
            stop.request_stop();
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(client.settings("tok", stop.get_token()), Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(release.isOpen());
    canceller.join();
    release.open();

    // Stopped before it starts: nothing is sent.
    service.clear();
    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(client.deleteMeeting("mtg_01", "tok", already.get_token()), Cancelled);
    EXPECT_TRUE(service.log().empty());
}

TEST(MeetingClientTransport, FailuresWithoutAnAnswerPassThrough) {
    NativeMeetingClient closed{"http://127.0.0.1:" + std::to_string(closedLoopbackPort()), curl()};
    try {
        closed.settings("tok");
        ADD_FAILURE() << "no error";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.code(), TransportError::Code::cannotConnect);
    }
    DroppingServer dropping;
    NativeMeetingClient dropped{"http://127.0.0.1:" + std::to_string(dropping.port()), curl()};
    EXPECT_THROW(dropped.meeting("mtg_01", "tok"), TransportError);
}

TEST(MeetingClientOrigin, RequestsGoUnderTheApiRootOfTheOrigin) {
    MeetingService service;
    NativeMeetingClient slash{service.origin() + "/", curl()};
    slash.settings("tok");
    EXPECT_EQ(service.last().path, "/api/settings");

    // An origin is scheme and host only, like the device client's.
    for (const char* bad : {"", "127.0.0.1:8080", "ftp://example.com", "http://", "https://x.example/?a=1",
                            "https://x.example/v2", "https://x.example/#f", "https://user@x.example"})
        EXPECT_THROW(NativeMeetingClient(bad, curl()), std::invalid_argument) << bad;
    EXPECT_THROW(NativeMeetingClient("https://x.example", nullptr), std::invalid_argument);
}
