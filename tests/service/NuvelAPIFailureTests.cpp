// How the service client fails: answers outside 2xx, conflicts, refused arguments, lost and
// cancelled exchanges.

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/service/ServiceStub.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace nuvel {
namespace {

using test::Reply;

struct Client {
    test::ServiceStub service;
    NuvelAPI api{service.origin(), std::make_shared<CurlTransport>()};
};

template <class F> APIError apiError(F&& f) {
    try {
        f();
    } catch (const APIError& e) {
        return e;
    }
    ADD_FAILURE() << "no APIError";
    return APIError(0, "none");
}

template <class F> std::optional<RecordingError::Code> recordingError(F&& f) {
    try {
        f();
    } catch (const RecordingError& e) {
        return e.code();
    }
    return std::nullopt;
}

TEST(NuvelAPIFailures, ErrorCodesAreTakenOnlyInTheirSafeForm) {
    Client c;
    const std::pair<std::string, std::string> cases[] = {
        {R"({"error":{"code":"plan_required","message":"x"}})", "plan_required"},
        {R"({"error":"capture_in_progress"})", "capture_in_progress"},
        {R"({"error":{"code":"Bad-Code"}})", "unknown"},
        {R"({"error":{"code":"e2"}})", "unknown"},
        {R"({"error":{"code":")" + std::string(65, 'a') + R"("}})", "unknown"},
        {R"({"error":{"code":)" + std::string("12") + "}}", "unknown"},
        {R"({"error":{"message":"no code"}})", "unknown"},
        {R"({"code":"plan_required"})", "unknown"},
        {R"(["plan_required"])", "unknown"},
        {"<html><body>Bad gateway</body></html>", "unknown"},
        {"", "unknown"},
    };
    for (const auto& [body, code] : cases) {
        c.service.on("GET", "/api/meetings/m1", Reply{502, body, "text/html"});
        APIError e = apiError([&] { c.api.meeting("m1", "t"); });
        EXPECT_EQ(e.status(), 502) << body;
        EXPECT_EQ(e.code(), code) << body;
        EXPECT_FALSE(e.retryAfter()) << body;
    }
}

TEST(NuvelAPIFailures, RetryAfterInSecondsOnly) {
    Client c;
    const std::pair<std::vector<std::pair<std::string, std::string>>, std::optional<double>> cases[] = {
        {{{"Retry-After", "120"}}, 120.0},
        {{{"retry-after", "2.5"}}, 2.5},
        {{{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}}, std::nullopt},
        {{{"Retry-After", "inf"}}, std::nullopt},
        {{{"Retry-After", "-5"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& [headers, delay] : cases) {
        c.service.on("POST", "/api/meetings/m1/heartbeat",
                     Reply{503, R"({"error":"busy"})", "application/json", headers});
        APIError e = apiError([&] { c.api.heartbeat("m1", "t"); });
        EXPECT_EQ(e.status(), 503);
        EXPECT_EQ(e.code(), "busy");
        EXPECT_EQ(e.retryAfter(), delay);
    }
}

TEST(NuvelAPIFailures, RedirectsAreNeverFollowed) {
    Client c;
    std::atomic<int> followed{0};
    c.service.on("GET", "/api/meetings/m1", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_redirect("/api/meetings/m2", 302);
    });
    c.service.on("GET", "/api/meetings/m2", [&](const httplib::Request&, httplib::Response&) { ++followed; });
    APIError e = apiError([&] { c.api.meeting("m1", "t"); });
    EXPECT_EQ(e.status(), 302);
    EXPECT_EQ(e.code(), "unknown");
    EXPECT_EQ(followed, 0);
    EXPECT_EQ(c.service.count(), 1u);
}

TEST(NuvelAPIFailures, OnlyANotepad409WithTheEnvelopeIsAConflict) {
    Client c;
    const std::string envelope =
        R"({"error":{"code":"notepad_conflict","detail":{"revision":7,"lines":[{"id":"nabc","text":"remote","at":null},)"
        R"({"id":"ndef","text":"timed","at":300}]}}})";
    c.service.on("PUT", "/api/meetings/m1/notepad", Reply{409, envelope});
    NotepadSaveResult result = c.api.saveNotepad("m1", 6, {{"nabc", "local", std::nullopt}}, "t");
    EXPECT_EQ(result, NotepadSaveResult(
                          NotepadConflicted{7, {{"nabc", "remote", std::nullopt}, {"ndef", "timed", 300}}}));

    // Envelopes missing a piece, or of the wrong type, stay ordinary 409s.
    for (const char* body : {R"({"error":{"code":"notepad_conflict"}})",
                             R"({"error":{"code":"notepad_conflict","detail":{"revision":7}}})",
                             R"({"error":{"code":"notepad_conflict","detail":{"revision":7.5,"lines":[]}}})",
                             R"({"error":"notepad_conflict"})", "conflict"}) {
        c.service.on("PUT", "/api/meetings/m1/notepad", Reply{409, body});
        APIError e = apiError([&] { c.api.saveNotepad("m1", 6, {}, "t"); });
        EXPECT_EQ(e.status(), 409) << body;
    }
    // The same envelope on another path is never a conflict.
    c.service.on("POST", "/api/meetings/m1/commit", Reply{409, envelope});
    APIError e = apiError([&] { c.api.commitUpload("m1", 1, std::string(64, '0'), "t"); });
    EXPECT_EQ(e.status(), 409);
    EXPECT_EQ(e.code(), "notepad_conflict");

    // Other failures of a notepad save are thrown.
    c.service.on("PUT", "/api/meetings/m1/notepad", Reply{500, ""});
    EXPECT_EQ(apiError([&] { c.api.saveNotepad("m1", 6, {}, "t"); }).status(), 500);
    c.service.on("PUT", "/api/meetings/m1/notepad", Reply{200, R"({"revision":"8"})"});
    EXPECT_THROW(c.api.saveNotepad("m1", 6, {}, "t"), json::JsonError);
}

TEST(NuvelAPIFailures, AnswersThatDoNotDecode) {
    Client c;
    c.service.on("GET", "/api/meetings/m1", Reply{200, R"({"id":"m1"})"});
    EXPECT_THROW(c.api.meeting("m1", "t"), json::JsonError);
    c.service.on(
        "GET", "/api/meetings/m1",
        Reply{200, R"({"id":"m1","state":"s","progress":1,"title":"","title_auto":false,"url":"/m/1"})"});
    EXPECT_THROW(c.api.meeting("m1", "t"), json::JsonError);
    c.service.on("GET", "/api/meetings/m1/upload", Reply{200, ""});
    EXPECT_THROW(c.api.uploadStatus("m1", "t"), json::JsonError);
    // Operations without an answer document take any 2xx.
    c.service.on("POST", "/api/meetings/m1/commit", Reply{200, "<html>"});
    EXPECT_NO_THROW(c.api.commitUpload("m1", 1, "x", "t"));
}

TEST(NuvelAPIFailures, CreatedMeetingMustDescribeUsableParts) {
    Client c;
    const std::pair<std::string, bool> cases[] = {
        {R"({"id":"m","part_bytes":1,"max_parts":1})", true},
        {R"({"id":"m","part_bytes":67108864,"max_parts":1})", true},
        {R"({"id":"m","part_bytes":0,"max_parts":1})", false},
        {R"({"id":"m","part_bytes":67108865,"max_parts":1})", false},
        {R"({"id":"m","part_bytes":-1,"max_parts":1})", false},
        {R"({"id":"m","part_bytes":1024,"max_parts":0})", false},
        {R"({"id":"m","part_bytes":1024,"max_parts":-3})", false},
    };
    CreateMeetingRequest request;
    for (const auto& [body, accepted] : cases) {
        c.service.on("POST", "/api/meetings", Reply{200, body});
        auto error = recordingError([&] { c.api.createMeeting(request, "t"); });
        if (accepted)
            EXPECT_FALSE(error) << body;
        else
            EXPECT_EQ(error, RecordingError::Code::invalidTransport) << body;
    }
    c.service.on("POST", "/api/meetings", Reply{200, R"({"id":"m","part_bytes":1.5,"max_parts":1})"});
    EXPECT_THROW(c.api.createMeeting(request, "t"), json::JsonError);
}

TEST(NuvelAPIFailures, ArgumentsAreCheckedBeforeAnythingIsSent) {
    EXPECT_FALSE(hasUnsafePathCharacter(""));
    EXPECT_FALSE(hasUnsafePathCharacter("AZaz09_-"));
    for (const char* bad : {"a/b", "a.b", "a b", "..", "m%2F", "caf\xc3\xa9", "a?b", "a\n"})
        EXPECT_TRUE(hasUnsafePathCharacter(bad)) << bad;

    Client c;
    const auto unsafe = RecordingError::Code::unsafePath;
    const auto invalid = RecordingError::Code::invalidTransport;
    for (const std::string& id :
         std::vector<std::string>{"", "a/b", "m.1", "m 1", "m\xc3\xa9", std::string("m\0", 2)}) {
        EXPECT_EQ(recordingError([&] { c.api.uploadStatus(id, "t"); }), unsafe);
        EXPECT_EQ(recordingError([&] { c.api.heartbeat(id, "t"); }), unsafe);
        EXPECT_EQ(recordingError([&] { c.api.uploadPart(id, 0, Bytes{1}, "t"); }), unsafe);
        EXPECT_EQ(recordingError([&] { c.api.commitUpload(id, 1, "x", "t"); }), unsafe);
        EXPECT_EQ(recordingError([&] { c.api.saveNotepad(id, 1, {}, "t"); }), unsafe);
        EXPECT_EQ(recordingError([&] { c.api.meeting(id, "t"); }), unsafe);
    }
    // A bad index or empty part is refused first, even with a bad identifier too.
    EXPECT_EQ(recordingError([&] { c.api.uploadPart("m1", -1, Bytes{1}, "t"); }), invalid);
    EXPECT_EQ(recordingError([&] { c.api.uploadPart("m1", 0, Bytes{}, "t"); }), invalid);
    EXPECT_EQ(recordingError([&] { c.api.uploadPart("a/b", -1, Bytes{1}, "t"); }), invalid);
    EXPECT_EQ(recordingError([&] { c.api.uploadPart("a/b", 0, Bytes{}, "t"); }), invalid);
    // A token that would split the request.
    for (const std::string& token :
         std::vector<std::string>{"t\r\nX-Injected: 1", "t\n", std::string("t\0", 2), "t\r"}) {
        EXPECT_EQ(recordingError([&] { c.api.meeting("m1", token); }), invalid);
        EXPECT_EQ(recordingError([&] { c.api.revokeDevice(token); }), invalid);
        EXPECT_EQ(recordingError([&] { c.api.bootstrap(token, std::nullopt); }), invalid);
    }
    EXPECT_EQ(c.service.count(), 0u);
}

TEST(NuvelAPIFailures, BodiesOverTheCapAreRefusedErrorsIncluded) {
    Client c;
    auto huge = [](int status) {
        return [status](const httplib::Request&, httplib::Response& rs) {
            rs.status = status;
            const std::size_t total = NuvelAPI::maximumBodyBytes + 1;
            rs.set_content_provider(total, "application/json",
                                    [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                        static const std::string chunk(1 << 20, ' ');
                                        sink.write(chunk.data(), std::min(length, chunk.size()));
                                        (void)offset;
                                        return true;
                                    });
        };
    };
    c.service.on("GET", "/api/meetings/m1", huge(500));
    EXPECT_EQ(recordingError([&] { c.api.meeting("m1", "t"); }), RecordingError::Code::invalidTransport);
    c.service.on("GET", "/api/meetings/m1/upload", huge(200));
    EXPECT_EQ(recordingError([&] { c.api.uploadStatus("m1", "t"); }), RecordingError::Code::invalidTransport);
}

TEST(NuvelAPIFailures, ADroppedConnectionIsLost) {
    test::DroppingServer dropping;
    NuvelAPI api("http://127.0.0.1:" + std::to_string(dropping.port()), std::make_shared<CurlTransport>());
    auto lost = [](auto&& f) {
        try {
            f();
        } catch (const TransportError& e) {
            return e.code() == TransportError::Code::connectionLost;
        }
        return false;
    };
    EXPECT_TRUE(lost([&] { api.uploadStatus("m1", "t"); }));
    EXPECT_TRUE(lost([&] { api.uploadPart("m1", 0, Bytes(4096, 1), "t"); }));
}

TEST(NuvelAPIFailures, CancellingASlowPartEndsPromptly) {
    Client c;
    std::atomic<bool> release{false};
    c.service.on("PUT", "/api/meetings/m1/audio/0", [&](const httplib::Request&, httplib::Response& rs) {
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rs.status = 200;
    });
    std::stop_source stop;
    std::thread canceller([&] {
        while (c.service.count() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop.request_stop();
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(c.api.uploadPart("m1", 0, Bytes(300000, 2), "t", stop.get_token()), Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    canceller.join();
    release = true;

    // A stop requested before the call sends nothing.
    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(c.api.heartbeat("m1", "t", already.get_token()), Cancelled);
    EXPECT_EQ(c.service.count(), 1u);
}

} // namespace
} // namespace nuvel
