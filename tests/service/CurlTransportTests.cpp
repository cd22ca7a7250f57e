#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/support/Url.hpp"
#include "tests/support/LoopbackHttpServer.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace nuvel;

namespace {

// Every request the server saw, with its headers.
struct Seen {
    std::mutex lock;
    std::string method, path, query;
    httplib::Headers headers;
    std::string body;
};

void echo(test::LoopbackHttpServer& s, Seen& seen) {
    auto handler = [&seen](const httplib::Request& rq, httplib::Response& rs) {
        std::lock_guard guard(seen.lock);
        seen.method = rq.method;
        seen.path = rq.path;
        seen.headers = rq.headers;
        seen.body = rq.body;
        std::string target = rq.target;
        auto q = target.find('?');
        seen.query = q == std::string::npos ? "<none>" : target.substr(q + 1);
        rs.status = 200;
        rs.set_content("{\"ok\":true}", "application/json");
    };
    s.server.Get(".*", handler);
    s.server.Post(".*", handler);
    s.server.Put(".*", handler);
    s.server.Patch(".*", handler);
    s.server.Delete(".*", handler);
}

bool hasHeader(const httplib::Headers& h, const std::string& name) {
    return h.find(name) != h.end();
}

TransportError::Code transportCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const TransportError& e) {
        return e.code();
    }
    ADD_FAILURE() << "no TransportError";
    return TransportError::Code::other;
}

} // namespace

TEST(CurlTransport, SendsOnlyTheHeadersItIsGiven) {
    test::LoopbackHttpServer s;
    Seen seen;
    echo(s, seen);
    s.start();
    CurlTransport t;

    HttpResponse r = t.send({"GET", s.url("/api/meetings/m1/upload"), {{"Authorization", "Bearer tok"}}}, {});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, bytesOf("{\"ok\":true}"));
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(seen.query, "<none>");
    EXPECT_EQ(seen.headers.find("Authorization")->second, "Bearer tok");
    EXPECT_FALSE(hasHeader(seen.headers, "Content-Type"));
    EXPECT_FALSE(hasHeader(seen.headers, "Content-Length"));
    EXPECT_FALSE(hasHeader(seen.headers, "Cookie"));

    // A POST without a body carries no form content type, only the zero length of its framing.
    t.send({"POST", s.url("/api/device/revoke"), {}}, {});
    EXPECT_EQ(seen.method, "POST");
    EXPECT_FALSE(hasHeader(seen.headers, "Content-Type"));
    EXPECT_EQ(seen.headers.find("Content-Length")->second, "0");

    HttpRequest put{"PUT",
                    s.url("/api/meetings/m1/audio/0"),
                    {{"Content-Type", "audio/mp4"}, {"Content-Length", "5"}},
                    bytesOf("abcde")};
    t.send(put, {});
    EXPECT_EQ(seen.method, "PUT");
    EXPECT_EQ(seen.body, "abcde");
    EXPECT_EQ(seen.headers.find("Content-Type")->second, "audio/mp4");
    EXPECT_EQ(seen.headers.count("Content-Length"), 1u);
    EXPECT_EQ(seen.headers.find("Content-Length")->second, "5");
    EXPECT_FALSE(hasHeader(seen.headers, "Expect"));

    // A borrowed body goes the same way, and an owned one wins over it.
    const Bytes held = bytesOf("fghij");
    put.borrowedBody = ByteView(held);
    t.send(put, {});
    EXPECT_EQ(seen.body, "abcde");
    put.body.reset();
    t.send(put, {});
    EXPECT_EQ(seen.body, "fghij");

    HttpRequest heartbeat{"POST",
                          s.url("/api/meetings/m1/heartbeat"),
                          {{"Content-Type", "application/json"}, {"Content-Length", "2"}},
                          bytesOf("{}")};
    t.send(heartbeat, {});
    EXPECT_EQ(seen.body, "{}");

    t.send({"GET", s.url("/api/bootstrap?" + encodeQuery({{"workspace_id", "a+b c"}}))}, {});
    EXPECT_EQ(seen.query, "workspace_id=a%2Bb%20c");
}

TEST(CurlTransport, RefusesHeaderInjection) {
    CurlTransport t;
    const std::string bad[] = {"tok\r\nX-Evil: 1", "tok\n", std::string("to\0k", 4)};
    for (const auto& value : bad)
        EXPECT_EQ(transportCode([&] {
                      t.send({"GET", "http://127.0.0.1:1/", {{"Authorization", value}}}, {});
                  }),
                  TransportError::Code::other);
}

TEST(CurlTransport, RedirectsAreAnswersNotFollowed) {
    test::LoopbackHttpServer s;
    std::atomic<int> targetHits{0};
    s.server.Get("/from",
                 [](const httplib::Request&, httplib::Response& rs) { rs.set_redirect("/to", 302); });
    s.server.Get("/to", [&](const httplib::Request&, httplib::Response& rs) {
        ++targetHits;
        rs.set_content("x", "text/plain");
    });
    s.start();
    HttpResponse r = CurlTransport().send({"GET", s.url("/from")}, {});
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(targetHits, 0);
}

TEST(CurlTransport, BodyCapIsExact) {
    test::LoopbackHttpServer s;
    s.server.Get("/n", [](const httplib::Request& rq, httplib::Response& rs) {
        rs.set_content(std::string(std::stoul(rq.get_param_value("size")), 'x'), "application/octet-stream");
    });
    s.start();
    CurlTransport t;
    HttpRequest rq{"GET", s.url("/n?size=1000")};
    rq.maxBodyBytes = 1000;
    HttpResponse ok = t.send(rq, {});
    EXPECT_FALSE(ok.bodyTooLarge);
    EXPECT_EQ(ok.body.size(), 1000u);
    rq.url = s.url("/n?size=1001");
    HttpResponse over = t.send(rq, {});
    EXPECT_TRUE(over.bodyTooLarge);
    EXPECT_EQ(over.status, 200);
}

TEST(CurlTransport, StreamsIntoASinkThatMayAbort) {
    test::LoopbackHttpServer s;
    s.server.Get("/big", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_content(std::string(300000, 'y'), "audio/mp4");
    });
    s.start();
    CurlTransport t;
    std::size_t got = 0;
    HttpRequest rq{"GET", s.url("/big")};
    rq.bodySink = [&](ByteView b) { got += b.size(); };
    HttpResponse r = t.send(rq, {});
    EXPECT_EQ(got, 300000u);
    EXPECT_TRUE(r.body.empty());

    rq.bodySink = [](ByteView) { throw std::runtime_error("disk full"); };
    EXPECT_THROW(t.send(rq, {}), std::runtime_error);
}

TEST(CurlTransport, FailuresMapOntoTheirCategories) {
    CurlTransport t;
    EXPECT_EQ(transportCode([&] {
                  t.send({"GET", "http://127.0.0.1:" + std::to_string(test::closedLoopbackPort()) + "/"}, {});
              }),
              TransportError::Code::cannotConnect);
    EXPECT_EQ(transportCode([&] {
                  t.send({"GET", "http://nuvel-test-host.invalid/"}, {});
              }),
              TransportError::Code::hostNotFound);

    test::DroppingServer dropping;
    EXPECT_EQ(transportCode([&] {
                  t.send({"PUT",
                          "http://127.0.0.1:" + std::to_string(dropping.port()) + "/api/meetings/m/audio/0",
                          {{"Content-Type", "audio/mp4"}},
                          Bytes(1000, 1)},
                         {});
              }),
              TransportError::Code::connectionLost);
}

TEST(CurlTransport, IdleTimeoutAndPromptCancellation) {
    test::LoopbackHttpServer s;
    std::atomic<bool> release{false};
    s.server.Put("/slow", [&](const httplib::Request&, httplib::Response& rs) {
        for (int i = 0; i < 300 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        rs.set_content("late", "text/plain");
    });
    s.start();
    CurlTransport t;

    HttpRequest rq{"PUT", s.url("/slow"), {{"Content-Type", "audio/mp4"}}, Bytes(10, 0)};
    rq.idleTimeoutSeconds = 1;
    EXPECT_EQ(transportCode([&] { t.send(rq, {}); }), TransportError::Code::timedOut);

    std::stop_source stop;
    rq.idleTimeoutSeconds = 60;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(t.send(rq, stop.get_token()), Cancelled);
    // Well before the server would have answered: the stop woke the transfer.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    canceller.join();
    release = true;

    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(t.send({"GET", s.url("/slow")}, already.get_token()), Cancelled);
}

// Which connection each exchange went over, told by the client's port the server saw.
TEST(CurlTransport, KeepsTheConnectionOfACleanRepeatableExchangeOnly) {
    test::LoopbackHttpServer s;
    std::mutex lock;
    std::vector<int> ports;
    auto handler = [&](const httplib::Request& rq, httplib::Response& rs) {
        {
            std::lock_guard guard(lock);
            ports.push_back(rq.remote_port);
        }
        if (rq.has_param("close"))
            rs.set_header("Connection", "close");
        rs.set_content(std::string(rq.has_param("big") ? 5000 : 2, 'z'), "application/json");
    };
    s.server.Get(".*", handler);
    s.server.Put(".*", handler);
    s.server.Post(".*", handler);
    s.server.Patch(".*", handler);
    s.server.Delete(".*", handler);
    s.server.set_keep_alive_max_count(1000);
    s.start();
    CurlTransport t;

    enum class Ends { clean, overCap, sinkThrows };
    struct Step {
        const char* method;
        const char* query;
        Ends ends;
        char connection; // steps with the same letter share a connection, others do not
    };
    const Step steps[] = {
        {"GET", "", Ends::clean, 'a'},         {"PUT", "", Ends::clean, 'a'},
        {"POST", "", Ends::clean, 'b'}, // never over a kept connection
        {"GET", "", Ends::clean, 'a'},         {"GET", "big", Ends::overCap, 'a'},
        {"GET", "", Ends::clean, 'c'}, // the aborted answer took its connection along
        {"GET", "big", Ends::sinkThrows, 'c'}, {"PUT", "", Ends::clean, 'd'},
        {"DELETE", "", Ends::clean, 'd'},      {"GET", "close", Ends::clean, 'd'},
        {"GET", "", Ends::clean, 'e'}, // the server closed the last one
        {"PATCH", "", Ends::clean, 'f'},       {"PUT", "", Ends::clean, 'e'},
    };
    std::map<char, int> portOf;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(i);
        const std::string query = *step.query ? std::string("?") + step.query + "=1" : "";
        HttpRequest rq{step.method, s.url("/x" + query)};
        if (std::string(step.method) != "GET")
            rq.body = bytesOf("{}");
        if (step.ends == Ends::overCap)
            rq.maxBodyBytes = 100;
        if (step.ends == Ends::sinkThrows) {
            rq.bodySink = [](ByteView) { throw std::runtime_error("disk full"); };
            EXPECT_THROW(t.send(rq, {}), std::runtime_error);
        } else {
            EXPECT_EQ(t.send(rq, {}).status, 200);
        }
        std::lock_guard guard(lock);
        ASSERT_EQ(ports.size(), i + 1);
        for (const auto& [letter, port] : portOf)
            EXPECT_EQ(letter == step.connection, port == ports.back()) << letter;
        portOf[step.connection] = ports.back();
    }
}

// Exchanges running at the same time each take a connection of the pool, and none is lost
// after them; one stopped meanwhile ends alone.
TEST(CurlTransport, ConcurrentExchangesShareThePoolSafely) {
    test::LoopbackHttpServer s;
    std::mutex lock;
    std::vector<int> ports;
    s.server.Get(".*", [&](const httplib::Request& rq, httplib::Response& rs) {
        std::lock_guard guard(lock);
        ports.push_back(rq.remote_port);
        rs.set_content("{}", "application/json");
    });
    s.server.set_keep_alive_max_count(1000);
    s.start();
    CurlTransport t;
    std::stop_source stop;
    std::atomic<int> ok{0}, cancelled{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 6; ++i)
        senders.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                try {
                    if (t.send({"GET", s.url("/x")}, i == 0 ? stop.get_token() : std::stop_token()).status ==
                        200)
                        ++ok;
                } catch (const Cancelled&) {
                    ++cancelled;
                }
            }
        });
    // Stops the first sender's exchanges somewhere among the others.
    senders.emplace_back([&] {
        while (ok < 3)
            std::this_thread::yield();
        stop.request_stop();
    });
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(ok + cancelled, 30);
    EXPECT_GE(ok, 25);

    // Afterwards every exchange goes over a connection that was opened during the rush.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.send({"GET", s.url("/x")}, {}).status, 200);
    std::lock_guard guard(lock);
    ASSERT_GE(ports.size(), std::size_t(ok) + 3); // a stopped one may have reached the server too
    for (auto last = ports.end() - 3; last != ports.end(); ++last)
        EXPECT_NE(std::find(ports.begin(), ports.end() - 3, *last), ports.end() - 3);
}

TEST(HttpHelpers, PercentEncodingKeepsOnlyTheUnreservedSet) {
    EXPECT_EQ(percentEncode("c++ notes/é?&=~-._"), "c%2B%2B%20notes%2F%C3%A9%3F%26%3D~-._");
    EXPECT_EQ(encodeQuery({{"q", "a b"}, {"cursor", "YWJj+/=="}}), "q=a%20b&cursor=YWJj%2B%2F%3D%3D");
    EXPECT_TRUE(isUnsafeHeaderText("a\rb"));
    EXPECT_FALSE(isUnsafeHeaderText("Bearer abc"));
}
