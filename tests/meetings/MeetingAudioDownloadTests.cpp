// The audio request and the download into an owner-only file, over real HTTP.

#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/meetings/MeetingServiceFixture.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

Answer audio(std::string body, std::string type, int status = 200) {
    return [=](const httplib::Request&, httplib::Response& rs) {
        rs.status = status;
        rs.set_content(body, type.c_str());
    };
}

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Every name in the folder, none when it is missing: shows that no working file was left behind.
std::set<std::string> namesOrNone(const fs::path& folder) {
    return fs::exists(folder) ? namesIn(folder) : std::set<std::string>{};
}

class MeetingAudio : public ::testing::Test {
protected:
    TempDir dir{"meeting-audio"};
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
};

} // namespace

TEST_F(MeetingAudio, AudioRequestIsTheAuthorisedGetWithAnOptionalRange) {
    HttpRequest rq = client.audioRequest("mtg_01", "tok");
    EXPECT_EQ(rq.method, "GET");
    EXPECT_EQ(rq.url, service.origin() + "/api/meetings/mtg_01/audio");
    EXPECT_EQ(rq.headers, (HttpHeaders{{"Authorization", "Bearer tok"}, {"Accept", "application/json"}}));
    EXPECT_FALSE(rq.body);
    EXPECT_EQ(rq.idleTimeoutSeconds, 60);

    HttpRequest ranged = client.audioRequest("mtg_01", "tok", AudioByteRange{0, 1023});
    EXPECT_EQ(ranged.headers.back(), (std::pair<std::string, std::string>{"Range", "bytes=0-1023"}));
    EXPECT_EQ(client.audioRequest("m", "t", AudioByteRange{5, 5}).headers.back().second, "bytes=5-5");

    for (AudioByteRange bad : {AudioByteRange{-1, 1023}, AudioByteRange{10, 9}})
        EXPECT_EQ(recordingFailure([&] { client.audioRequest("mtg_01", "tok", bad); }),
                  RecordingError::Code::invalidTransport);
    EXPECT_EQ(recordingFailure([&] {
                  client.audioRequest("../x", "tok", AudioByteRange{-1, 0});
              }),
              RecordingError::Code::unsafePath);
}

TEST_F(MeetingAudio, DownloadStoresTheWholeAudioOwnerOnlyInANewFolder) {
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    const fs::path folder = dir / "playback" / "nested";
    const fs::path dest = folder / "a.m4a";

    for (const char* type : {"audio/mp4", "application/octet-stream", "audio/mp4; codecs=\"mp4a.40.2\"",
                             "video/mp4", "audio/x-caf"}) {
        SCOPED_TRACE(type);
        service.answer(audio(bytes, type));
        client.downloadAudio("mtg_01", "tok", dest);
        EXPECT_EQ(contentOf(dest), bytes);
        EXPECT_EQ(modeOf(dest), 0600u);
        EXPECT_EQ(namesOrNone(folder), std::set<std::string>{"a.m4a"});
        fs::remove(dest);
    }
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(dir / "playback"), 0700u);

    SeenRequest rq = service.last();
    EXPECT_EQ(rq.line(), "GET /api/meetings/mtg_01/audio");
    EXPECT_EQ(rq.header("Authorization"), "Bearer tok");
    EXPECT_EQ(rq.header("Accept"), "application/json");
    EXPECT_FALSE(rq.has("Range"));

    // An empty audio file is still the whole audio.
    service.answer(audio("", "audio/mp4"));
    client.downloadAudio("mtg_01", "tok", dest);
    EXPECT_EQ(contentOf(dest), "");

    // A folder that cannot be made fails the download with the file system's error.
    files::atomicWrite(dir / "plain", viewOf("x"));
    service.answer(audio(bytes, "audio/mp4"));
    EXPECT_THROW(client.downloadAudio("mtg_01", "tok", dir / "plain" / "a.m4a"), fs::filesystem_error);
}

// Refusals are found before the destination's folder is made: they leave no empty folder.
TEST_F(MeetingAudio, OnlyAudioContentTypesAreStored) {
    const fs::path dest = dir / "playback" / "a.m4a";
    for (const char* type :
         {"text/html", "application/json", "Audio/mp4", "AUDIO/MP4", "video/webm", "audi/mp4"}) {
        SCOPED_TRACE(type);
        service.answer(audio("<html></html>", type));
        EXPECT_EQ(recordingFailure([&] { client.downloadAudio("mtg_01", "tok", dest); }),
                  RecordingError::Code::invalidTransport);
        EXPECT_TRUE(namesOrNone(dir.path()).empty());
    }
    // No content type at all (the HTTP server would add "text/plain", so the answer is raw).
    RawHttpExchange untyped("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc");
    NativeMeetingClient raw{"http://127.0.0.1:" + std::to_string(untyped.port()), curl()};
    EXPECT_EQ(recordingFailure([&] { raw.downloadAudio("mtg_01", "tok", dest); }),
              RecordingError::Code::invalidTransport);
    EXPECT_NE(untyped.request().find("GET /api/meetings/mtg_01/audio HTTP/1.1\r\n"), std::string::npos);
    EXPECT_TRUE(namesOrNone(dir.path()).empty());
}

TEST_F(MeetingAudio, AnythingButTwoHundredIsAnAudioError) {
    const fs::path dest = dir / "playback" / "a.m4a";
    struct Case {
        int status;
        const char* code;
    };
    for (Case c :
         {Case{410, "audio_expired"}, Case{401, "unauthorized"}, Case{403, "audio_unavailable"},
          Case{404, "audio_unavailable"}, Case{500, "audio_unavailable"}, Case{206, "audio_unavailable"},
          Case{204, "audio_unavailable"}, Case{302, "audio_unavailable"}}) {
        SCOPED_TRACE(c.status);
        service.answer([&](const httplib::Request&, httplib::Response& rs) {
            rs.status = c.status;
            rs.set_header("Retry-After", "30");
            if (c.status == 302)
                rs.set_header("Location", "/elsewhere");
            // The body is not read for a code, and the type is not looked at.
            if (c.status != 204)
                rs.set_content(R"({"error":{"code":"other","revision":4}})", "audio/mp4");
        });
        MeetingClientError e = clientFailure([&] { client.downloadAudio("mtg_01", "tok", dest); });
        EXPECT_EQ(e.status(), c.status);
        EXPECT_EQ(e.code(), c.code);
        EXPECT_FALSE(e.currentRevision());
        EXPECT_FALSE(e.retryAfter());
        EXPECT_TRUE(namesOrNone(dir.path()).empty());
    }
    EXPECT_EQ(service.log().size(), 8u); // the redirect was not followed
}

TEST_F(MeetingAudio, AnExistingDestinationIsNeverReplaced) {
    const fs::path dest = dir / "a.m4a";
    files::atomicWrite(dest, viewOf("mine"));
    service.answer(audio("downloaded", "audio/mp4"));
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("mtg_01", "tok", dest); }),
              RecordingError::Code::invalidTransport);
    EXPECT_EQ(contentOf(dest), "mine");
    EXPECT_EQ(namesOrNone(dir.path()), std::set<std::string>{"a.m4a"});

    // Nor is a file that appears there while the audio is on its way.
    const fs::path late = dir / "b.m4a";
    service.answer([&](const httplib::Request&, httplib::Response& rs) {
        files::atomicWrite(late, viewOf("arrived meanwhile"));
        rs.set_content("downloaded", "audio/mp4");
    });
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("mtg_01", "tok", late); }),
              RecordingError::Code::invalidTransport);
    EXPECT_EQ(contentOf(late), "arrived meanwhile");
    EXPECT_EQ(namesOrNone(dir.path()), (std::set<std::string>{"a.m4a", "b.m4a"}));
}

TEST_F(MeetingAudio, BadArgumentsFetchNothing) {
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("a/b", "tok", dir / "a.m4a"); }),
              RecordingError::Code::unsafePath);
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("", "tok", dir / "a.m4a"); }),
              RecordingError::Code::unsafePath);
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("mtg_01", "t\r\nX: y", dir / "a.m4a"); }),
              RecordingError::Code::invalidTransport);
    EXPECT_EQ(recordingFailure([&] { client.downloadAudio("mtg_01", "tok", dir.path() / ""); }),
              RecordingError::Code::invalidTransport);
    EXPECT_TRUE(service.log().empty());
    EXPECT_TRUE(namesOrNone(dir.path()).empty());
}

TEST(MeetingAudioDownload, TheWorkingFileIsRemovedOnCancellationAndTransportFailure) {
    Gate release, firstBytesSent;
    TempDir dir{"meeting-audio"};
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
    // Half of the audio, then silence.
    service.answer([&](const httplib::Request&, httplib::Response& rs) {
        rs.set_chunked_content_provider("audio/mp4", [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                std::string part(64 * 1024, 'a');
                sink.write(part.data(), part.size());
                firstBytesSent.open();
                return true;
            }
            release.wait();
            sink.done();
            return true;
        });
    });
    std::stop_source stop;
    std::thread canceller([&] {
        // The working file exists once the request is out; the cancel lands mid-body.
        if (firstBytesSent.wait())
            stop.request_stop();
    });
    EXPECT_THROW(client.downloadAudio("mtg_01", "tok", dir / "a.m4a", stop.get_token()), Cancelled);
    canceller.join();
    release.open();
    EXPECT_TRUE(namesOrNone(dir.path()).empty());

    DroppingServer dropping;
    NativeMeetingClient dropped{"http://127.0.0.1:" + std::to_string(dropping.port()), curl()};
    EXPECT_THROW(dropped.downloadAudio("mtg_01", "tok", dir / "a.m4a"), TransportError);
    EXPECT_TRUE(namesOrNone(dir.path()).empty());
}
