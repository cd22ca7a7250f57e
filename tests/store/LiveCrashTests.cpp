// A capture process dies: killed at chosen moments of the live writer and the seal, killed at
// whatever moment it happens to be in, or stopped by a full disk. Recovery must then give back
// every frame that reached the live file, as contiguous segments, leaving no clear audio behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "NuvelKit/support/Files.hpp"
#include "tests/store/LiveStoreSupport.hpp"

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::signal;
using Moment = RecordingStore::Moment;

// A forked child that runs `body` with the write end of a pipe and ends with _exit, so it never
// returns into the test. Forked before any thread exists: the tests start none.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::close(fds[0]);
            int code = 0;
            try {
                body(fds[1]);
            } catch (...) {
                code = 99;
            }
            ::_exit(code);
        }
        ::close(fds[1]);
        fd_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) kill();
        ::close(fd_);
    }

    // Exactly `size` bytes from the child; false when it closed the pipe first.
    bool read(void* into, std::size_t size) {
        auto* p = static_cast<char*>(into);
        while (size > 0) {
            const ssize_t n = ::read(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            size -= std::size_t(n);
        }
        return true;
    }
    void kill() {
        ::kill(pid_, SIGKILL);
        wait();
    }
    // The exit code, or -1 when a signal ended the child.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

void send(int fd, const void* data, std::size_t size) {
    if (::write(fd, data, size) != ssize_t(size)) ::_exit(98);
}

struct LiveCrash : test::LiveStoreFixture {
    // A store as the capture process has it, reporting its moments to `atMoment`.
    RecordingStore::Options childOptions(std::function<void(Moment)> hook) const {
        return {[](const fs::path&) { return std::optional<std::int64_t>(std::int64_t(1) << 40); }, std::move(hook)};
    }

    // Appends the signal in runs until it has `frames` frames, then finishes the live file.
    static void capture(RecordingStore& store, const Uuid& id, double rate, std::int64_t run, std::int64_t frames,
                        const std::function<void()>& afterAppend = {}) {
        for (std::int64_t at = 0; at < frames; at += run) {
            store.appendLiveAudio(signal(at, std::min(run, frames - at)), rate, id);
            if (afterAppend) afterAppend();
        }
        store.finishLiveSegment(id);
    }

    bool anyClearAudio() const {
        for (const std::string& name : test::names(folder()))
            if (name.starts_with("live-") || name.starts_with("clear-") || name.starts_with("cipher-") ||
                name.ends_with(".partial"))
                return true;
        return false;
    }

    // The folder's files and their bytes, the manifest aside (it is sealed afresh on every save).
    std::map<std::string, Bytes> contents() const {
        std::map<std::string, Bytes> out;
        for (const std::string& name : test::names(folder()))
            if (name != "manifest.nuvel") out[name] = files::readFile(folder() / name);
        return out;
    }

    // Recovers with a fresh store and checks the recording's timeline: contiguous segments from
    // frame 0, holding exactly the signal. Returns how many frames it covers.
    std::int64_t recoverAndCheck(double rate) {
        RecordingStore fresh(root, key);
        const RecoveryReport report = fresh.recover("acct");
        EXPECT_EQ(report.unreadable, 0);
        if (report.recordings.size() != 1) {
            ADD_FAILURE() << "recordings: " << report.recordings.size();
            return -1;
        }
        const LocalRecording& repaired = report.recordings[0];
        std::int64_t frames = 0;
        for (const RecordingSegment& segment : repaired.segments) {
            EXPECT_EQ(segment.capturedFrameStart, frames);
            EXPECT_EQ(segment.startedAt, repaired.createdAt.adding(double(frames) / rate));
            frames += std::llround(segment.duration * rate);
        }
        EXPECT_EQ(repaired.capturedFrames.value_or(0), frames);
        EXPECT_EQ(repaired.capture, CaptureState::interrupted);
        EXPECT_EQ(test::timelineAudio(fresh, repaired), signal(0, frames));
        EXPECT_FALSE(anyClearAudio()) << testing::PrintToString(test::names(folder()));

        // A second scan changes nothing.
        const std::map<std::string, Bytes> before = contents();
        EXPECT_EQ(fresh.recover("acct"), report);
        EXPECT_EQ(contents(), before);
        return frames;
    }
};

struct KillPoint {
    const char* name;
    double rate;
    std::int64_t run;
    Moment moment;
    int occurrence;
    std::int64_t framesWritten; // frames in complete writes when the moment comes
};

void PrintTo(const KillPoint& point, std::ostream* os) { *os << point.name; }

struct LiveCrashAt : LiveCrash, testing::WithParamInterface<KillPoint> {};

TEST_P(LiveCrashAt, RecoveryKeepsEveryWrittenFrame) {
    const KillPoint& point = GetParam();
    {
        Child child([&](int fd) {
            int seen = 0;
            RecordingStore store(root, key, childOptions([&](Moment m) {
                if (m != point.moment || ++seen != point.occurrence) return;
                send(fd, "!", 1);
                for (;;) ::pause(); // until the parent's SIGKILL
            }));
            capture(store, recording.id, point.rate, point.run, 1000000);
        });
        char reached = 0;
        ASSERT_TRUE(child.read(&reached, 1)) << "the child never reached the moment";
        child.kill();
    }

    // What the kill left behind, before any repair.
    const std::vector<fs::path> live = liveFiles(recording);
    ASSERT_FALSE(live.empty());
    const LocalRecording stored = store.loadRecording(recording.id);
    switch (point.moment) {
    case Moment::liveFramesWritten:
        break;
    case Moment::segmentSaved:
        EXPECT_EQ(stored.capturedFrames, point.framesWritten);
        EXPECT_FALSE(fs::exists(folder() / (stored.segments.back().id.uppercase() + ".nuvel")));
        break;
    case Moment::sealEncrypted:
        EXPECT_TRUE([&] {
            for (const std::string& name : test::names(folder()))
                if (name.starts_with("cipher-") && name.ends_with(".partial")) return true;
            return false;
        }());
        break;
    case Moment::sealPlaced:
        EXPECT_TRUE(fs::exists(folder() / (stored.segments.back().id.uppercase() + ".nuvel")));
        break;
    }

    EXPECT_EQ(recoverAndCheck(point.rate), point.framesWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, LiveCrashAt,
    testing::Values(KillPoint{"midFirstFile", 48000, 4800, Moment::liveFramesWritten, 7, 33600},
                    KillPoint{"midSecondFile", 48000, 4800, Moment::liveFramesWritten, 53, 254400},
                    KillPoint{"betweenCutAndSeal", 48000, 4800, Moment::segmentSaved, 1, 240000},
                    KillPoint{"midSeal", 48000, 4800, Moment::sealEncrypted, 2, 480000},
                    KillPoint{"sealedButClearFileLeft", 48000, 4800, Moment::sealPlaced, 1, 240000},
                    // At 8000 Hz one append of 32768 frames crosses the cut at 40000.
                    KillPoint{"midAppendAfterTheCut", 8000, 32768, Moment::liveFramesWritten, 3, 65536},
                    KillPoint{"midAppendAtTheCut", 8000, 32768, Moment::segmentSaved, 1, 40000}),
    [](const testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

TEST_F(LiveCrash, KilledAtAnyMomentLosesNoReturnedAppend) {
    // The child reports every append that returned; the kill lands wherever it happens to be.
    for (std::int64_t reported : {3, 49, 50, 51, 99}) {
        SCOPED_TRACE(reported);
        fs::remove_all(root);
        recording = makeRecording();
        {
            Child child([&](int fd) {
                RecordingStore store(root, key, childOptions({}));
                capture(store, recording.id, 48000, 4800, 1000000, [&] { send(fd, "a", 1); });
            });
            std::string seen(std::size_t(reported), '\0');
            ASSERT_TRUE(child.read(seen.data(), seen.size()));
            child.kill();
        }
        const std::int64_t frames = recoverAndCheck(48000);
        EXPECT_GE(frames, reported * 4800);
    }
}

// The result of a capture that met a full disk, as the child saw it.
struct DiskFull {
    std::int64_t framesAccepted = 0; // frames of the appends that returned
    int errorNumber = 0;             // of the file-system error that reached the caller; 0 for none
};

TEST_F(LiveCrash, AFullDiskReachesTheCallerAndKeepsWhatWasSealed) {
    // The size of a live file of five seconds, and of its asset (72 bytes of container around
    // one record): a file-size limit between the two lets the live file fill and the seal fail.
    const fs::path probe = dir / "probe.caf";
    test::writeCaf(probe, signal(0, 240000), 48000);
    const auto liveSize = std::int64_t(fs::file_size(probe));

    for (std::int64_t limit : {std::int64_t(500000), liveSize + 36}) {
        SCOPED_TRACE(limit);
        fs::remove_all(root);
        recording = makeRecording();
        DiskFull result;
        {
            Child child([&](int fd) {
                RecordingStore store(root, key, childOptions({}));
                DiskFull seen;
                for (std::int64_t at = 0; at < 480000; at += 4800) {
                    store.appendLiveAudio(signal(at, 4800), 48000, recording.id);
                }
                // From here on every file is limited, as on a disk that is full.
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit fileSize{rlim_t(limit), rlim_t(limit)};
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
                seen.framesAccepted = 480000;
                try {
                    for (std::int64_t at = 480000; at < 960000; at += 4800) {
                        store.appendLiveAudio(signal(at, 4800), 48000, recording.id);
                        seen.framesAccepted += 4800;
                    }
                } catch (const fs::filesystem_error& e) {
                    seen.errorNumber = e.code().value();
                }
                send(fd, &seen, sizeof seen);
            });
            ASSERT_TRUE(child.read(&result, sizeof result));
            EXPECT_EQ(child.wait(), 0);
        }
        EXPECT_EQ(result.errorNumber, EFBIG);

        // The two segments sealed before are intact.
        LocalRecording stored = store.loadRecording(recording.id);
        ASSERT_GE(stored.segments.size(), 2u);
        stored.segments.resize(2);
        EXPECT_EQ(test::timelineAudio(store, stored), signal(0, 480000));
        if (limit != 500000) {
            // The seal failed after the save: the third segment is listed, its clear file kept.
            EXPECT_EQ(result.framesAccepted, 720000 - 4800);
            ASSERT_EQ(store.loadRecording(recording.id).segments.size(), 3u);
            EXPECT_EQ(liveFiles(recording).size(), 1u);
        }
        EXPECT_FALSE([&] {
            for (const std::string& name : test::names(folder()))
                if (name.ends_with(".partial")) return true;
            return false;
        }());

        EXPECT_GE(recoverAndCheck(48000), result.framesAccepted);
    }
}

} // namespace
} // namespace nuvel
