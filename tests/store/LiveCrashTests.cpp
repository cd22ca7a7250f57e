// A capture process dies: killed at chosen moments of the live writer and the seal, killed at
// whatever moment it happens to be in, or stopped by a full disk. Recovery must then give back
// every frame that reached the live file, as contiguous segments, leaving no clear audio behind.
// A power cut keeps less than a kill (only what was synced): the store's file-system calls are
// traced and checked for the order that makes each change durable.
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/service/ServiceStub.hpp"
#include "tests/store/LiveStoreSupport.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::signal;
using Moment = RecordingStore::Moment;

// A forked child that runs `body` with the write end of a pipe and ends with _exit, so it never
// returns into the test. Forked before any thread exists: the tests start none.
class Child {
public:
    template <class Body> explicit Child(Body body) {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
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
        if (pid_ > 0)
            kill();
        ::close(fd_);
    }
    pid_t pid() const { return pid_; }

    // Exactly `size` bytes from the child; false when it closed the pipe first.
    bool read(void* into, std::size_t size) {
        auto* p = static_cast<char*>(into);
        while (size > 0) {
            const ssize_t n = ::read(fd_, p, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
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
    if (::write(fd, data, size) != ssize_t(size))
        ::_exit(98);
}

struct LiveCrash : test::LiveStoreFixture {
    // A store as the capture process has it, reporting its moments to `atMoment`.
    RecordingStore::Options childOptions(std::function<void(Moment)> hook) const {
        return {[](const fs::path&) { return std::optional<std::int64_t>(std::int64_t(1) << 40); },
                std::move(hook)};
    }

    // Appends the signal in runs until it has `frames` frames, then finishes the live file.
    static void capture(RecordingStore& store, const Uuid& id, double rate, std::int64_t run,
                        std::int64_t frames, const std::function<void()>& afterAppend = {}) {
        for (std::int64_t at = 0; at < frames; at += run) {
            store.appendLiveAudio(signal(at, std::min(run, frames - at)), rate, id);
            if (afterAppend)
                afterAppend();
        }
        store.finishLiveSegment(id);
    }

    bool anyClearAudio() const {
        for (const std::string& name : test::namesIn(folder()))
            if (name.starts_with("live-") || name.starts_with("clear-") || name.starts_with("cipher-") ||
                name.ends_with(".partial"))
                return true;
        return false;
    }

    // The folder's files and their bytes, the manifest aside (it is sealed afresh on every save).
    std::map<std::string, Bytes> contents() const {
        std::map<std::string, Bytes> out;
        for (const std::string& name : test::namesIn(folder()))
            if (name != "manifest.nuvel")
                out[name] = files::readFile(folder() / name);
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
        EXPECT_FALSE(anyClearAudio()) << testing::PrintToString(test::namesIn(folder()));

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

void PrintTo(const KillPoint& point, std::ostream* os) {
    *os << point.name;
}

struct LiveCrashAt : LiveCrash, testing::WithParamInterface<KillPoint> {};

TEST_P(LiveCrashAt, RecoveryKeepsEveryWrittenFrame) {
    const KillPoint& point = GetParam();
    {
        Child child([&](int fd) {
            int seen = 0;
            RecordingStore store(root, key, childOptions([&](Moment m) {
                                     if (m != point.moment || ++seen != point.occurrence)
                                         return;
                                     send(fd, "!", 1);
                                     for (;;)
                                         ::pause(); // until the parent's SIGKILL
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
            for (const std::string& name : test::namesIn(folder()))
                if (name.starts_with("cipher-") && name.ends_with(".partial"))
                    return true;
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

// The upload's writer dies after it sealed the transport and before the save that names it: the
// sealed copy, which no manifest names, goes at recovery; a transport the manifest names stays.
TEST_F(LiveCrash, ATransportSealedButNeverListedIsRemovedByRecovery) {
    append(0, 240000); // one sealed segment
    const Uuid unlisted = Uuid::random();
    const auto sealTransport = [this](RecordingStore& writer, const Uuid& assetID) {
        const fs::path transport = writer.workingFileURL(recording.id, Uuid::random(), "m4a", "transport");
        files::createExclusive(transport).writeAll(Bytes(300000, 7), transport);
        RecordingStore::MediaDigest digest;
        writer.sealClearMediaKeepingCopy(transport, recording.id, assetID, digest);
    };
    {
        Child child([&](int fd) {
            RecordingStore writer(root, key, childOptions({}));
            sealTransport(writer, unlisted);
            send(fd, "!", 1);
            for (;;)
                ::pause(); // until the parent's SIGKILL, before any save
        });
        char reached = 0;
        ASSERT_TRUE(child.read(&reached, 1)) << "the child never sealed the transport";
        child.kill();
    }
    const fs::path orphan = folder() / (unlisted.uppercase() + ".nuvel");
    ASSERT_TRUE(fs::exists(orphan));
    EXPECT_EQ(recoverAndCheck(48000), 240000);
    EXPECT_FALSE(fs::exists(orphan)) << testing::PrintToString(test::namesIn(folder()));

    const Uuid listed = Uuid::random();
    sealTransport(store, listed);
    LocalRecording named = store.loadRecording(recording.id);
    named.transportAssetID = listed;
    store.saveManifest(named);
    EXPECT_EQ(recoverAndCheck(48000), 240000);
    EXPECT_TRUE(fs::exists(folder() / (listed.uppercase() + ".nuvel")));
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
            for (const std::string& name : test::namesIn(folder()))
                if (name.ends_with(".partial"))
                    return true;
            return false;
        }());

        EXPECT_GE(recoverAndCheck(48000), result.framesAccepted);
    }
}

// ---- Power cuts ----
//
// The calls come from strace attached to a child that runs the operations: it sees every system
// call, those libc and libstdc++ make inside remove_all included, and names each descriptor's
// file (-y), which a preloaded shim could do only by keeping its own table of descriptors.

// One traced file-system call under the test's folder.
struct FsCall {
    enum Kind { create, write, sync, close, rename, makeFolder, remove, stepEnd };
    Kind kind;
    std::string path; // a rename's source
    std::string to;   // a rename's destination
    std::string line; // as traced, for messages
};

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// The quoted strings and the descriptors' <paths> of a traced call's arguments, in order.
std::vector<std::string> operands(const std::string& arguments) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == '"') {
            std::string text;
            for (++i; i < arguments.size() && arguments[i] != '"'; ++i) {
                if (arguments[i] == '\\' && i + 1 < arguments.size())
                    ++i;
                text += arguments[i];
            }
            out.push_back(text);
        } else if (arguments[i] == '<') {
            const std::size_t end = arguments.find('>', i);
            out.push_back(arguments.substr(i + 1, end - i - 1));
            i = end;
        }
    }
    return out;
}

// "name" relative to the folder `at`, or as it is when absolute.
std::string resolved(const std::string& at, const std::string& name) {
    return name.starts_with('/') ? name : at + "/" + name;
}

std::optional<FsCall> parseCall(std::string line) {
    // Each line starts with the process id, padded with spaces.
    line.erase(0, std::min(line.size(), line.find_first_not_of(" ", line.find_first_not_of("0123456789"))));
    const std::size_t open = line.find('(');
    const std::size_t equals = line.rfind(") = ");
    if (open == std::string::npos || equals == std::string::npos || equals < open)
        return std::nullopt;
    const std::string name = line.substr(0, open);
    const std::string arguments = line.substr(open + 1, equals - open - 1);
    const std::string result = line.substr(equals + 4);
    if (result.starts_with("-1") || result.starts_with("?"))
        return std::nullopt;
    const std::vector<std::string> o = operands(arguments);
    auto call = [&](FsCall::Kind kind, std::string path, std::string to = {}) {
        return FsCall{kind, std::move(path), std::move(to), line};
    };
    if (o.empty())
        return std::nullopt;
    if (name == "write" || name == "pwrite64" || name == "writev" || name == "pwritev" ||
        name == "ftruncate") {
        if (o.size() > 1 && o[1] == "step-end")
            return call(FsCall::stepEnd, {});
        return call(FsCall::write, o[0]);
    }
    if (name == "fsync" || name == "fdatasync")
        return call(FsCall::sync, o[0]);
    if (name == "close")
        return call(FsCall::close, o[0]);
    if ((name == "openat" || name == "open" || name == "creat") &&
        (name == "creat" || arguments.find("O_CREAT") != std::string::npos)) {
        const std::size_t at = result.find('<');
        if (at == std::string::npos)
            return std::nullopt;
        return call(FsCall::create, result.substr(at + 1, result.rfind('>') - at - 1));
    }
    if (name == "rename" && o.size() == 2)
        return call(FsCall::rename, o[0], o[1]);
    if ((name == "renameat" || name == "renameat2") && o.size() == 4)
        return call(FsCall::rename, resolved(o[0], o[1]), resolved(o[2], o[3]));
    if (name == "mkdir" || name == "unlink" || name == "rmdir")
        return call(name == "mkdir" ? FsCall::makeFolder : FsCall::remove, o[0]);
    if ((name == "mkdirat" || name == "unlinkat") && o.size() >= 2)
        return call(name == "mkdirat" ? FsCall::makeFolder : FsCall::remove, resolved(o[0], o[1]));
    return std::nullopt;
}

// What a power cut at any moment could undo that the caller was already told was done, in the
// order every change must follow:
//  - written data is synced before its file is closed or renamed;
//  - every name a call adds, renames or removes is synced in its folder before the call
//    returns (a removal also counts as durable when its folder goes too, durably);
//  - a file made in place is durable, data and name, before the next manifest after its close
//    lists it.
std::vector<std::string> durabilityFaults(const std::vector<FsCall>& calls, const std::string& base) {
    std::vector<std::string> faults;
    std::set<std::string> unsynced; // files reported once, not at each write
    // Lines shortened to what follows the checked folder's name.
    auto short_ = [&](std::string line) {
        for (std::size_t at; (at = line.find(base)) != std::string::npos;)
            line.replace(at, base.size(), "...");
        return line;
    };
    auto find = [&](std::size_t from, std::size_t to, auto&& match) {
        for (std::size_t k = from; k < to; ++k)
            if (match(calls[k]))
                return k;
        return to;
    };
    auto synced = [&](const std::string& path, std::size_t from, std::size_t to) {
        return find(from + 1, to, [&](const FsCall& c) { return c.kind == FsCall::sync && c.path == path; }) <
               to;
    };
    std::function<bool(const std::string&, std::size_t, std::size_t)> removalDurable =
        [&](const std::string& path, std::size_t at, std::size_t end) {
            const std::string folder = folderOf(path);
            if (synced(folder, at, end))
                return true;
            const std::size_t gone = find(
                at + 1, end, [&](const FsCall& c) { return c.kind == FsCall::remove && c.path == folder; });
            return gone < end && removalDurable(folder, gone, end);
        };

    for (std::size_t i = 0; i < calls.size(); ++i) {
        const FsCall& c = calls[i];
        const std::size_t stepEnd =
            find(i + 1, calls.size(), [](const FsCall& e) { return e.kind == FsCall::stepEnd; });
        switch (c.kind) {
        case FsCall::write: {
            const std::size_t done = find(i + 1, calls.size(), [&](const FsCall& e) {
                return (e.kind == FsCall::close || e.kind == FsCall::rename) && e.path == c.path;
            });
            if (!synced(c.path, i, done) && unsynced.insert(c.path).second)
                faults.push_back("unsynced write: " + short_(c.line));
            break;
        }
        case FsCall::create:
        case FsCall::makeFolder:
            if (!synced(folderOf(c.path), i, stepEnd))
                faults.push_back("name not synced: " + short_(c.line));
            break;
        case FsCall::rename:
            if (!synced(folderOf(c.to), i, stepEnd) || !synced(folderOf(c.path), i, stepEnd))
                faults.push_back("rename not synced: " + short_(c.line));
            break;
        case FsCall::remove:
            if (!removalDurable(c.path, i, stepEnd))
                faults.push_back("removal not synced: " + short_(c.line));
            break;
        default:
            break;
        }
        if (c.kind != FsCall::create)
            continue;
        // Made in place (never moved): listed by the first manifest saved after its close.
        if (find(i + 1, calls.size(), [&](const FsCall& e) {
                return e.kind == FsCall::rename && e.path == c.path;
            }) < calls.size())
            continue;
        const std::size_t closed = find(i + 1, calls.size(), [&](const FsCall& e) {
            return e.kind == FsCall::close && e.path == c.path;
        });
        const std::string manifest = folderOf(c.path) + "/manifest.nuvel";
        const std::size_t listed = find(closed, calls.size(), [&](const FsCall& e) {
            return e.kind == FsCall::rename && e.to == manifest;
        });
        if (listed == calls.size())
            continue;
        std::size_t lastWrite = i;
        for (std::size_t k = i; k < listed; ++k)
            if (calls[k].kind == FsCall::write && calls[k].path == c.path)
                lastWrite = k;
        if (!synced(c.path, lastWrite, listed) || !synced(folderOf(c.path), i, listed))
            faults.push_back("listed before it is durable: " + short_(c.line));
    }
    return faults;
}

using Steps = std::vector<std::function<void()>>;

// Runs `steps` in a child under strace and returns its file-system calls under `base`, with a
// stepEnd after each step. The trace goes to `traceFile`.
std::vector<FsCall> traceSteps(const fs::path& base, const fs::path& traceFile, const Steps& steps) {
    int go[2];
    if (::pipe2(go, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    Child child([&](int) {
        ::close(go[1]);
        // Lets strace attach where the kernel allows only ancestors to trace.
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        char start = 0;
        if (::read(go[0], &start, 1) != 1)
            ::_exit(97);
        const int marker = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        for (const auto& step : steps) {
            step();
            send(marker, "step-end", 8);
        }
    });
    ::close(go[0]);

    int messages[2];
    if (::pipe2(messages, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const std::string pid = std::to_string(child.pid());
    std::vector<std::string> args = {"strace",           "-f", "-y", "-z", "-e", "trace=%file,%desc", "-o",
                                     traceFile.string(), "-p", pid};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, messages[1], 2);
    pid_t tracer = -1;
    const int spawned = posix_spawnp(&tracer, "strace", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(messages[1]);
    if (spawned != 0) {
        ::close(messages[0]);
        ::close(go[1]);
        ADD_FAILURE() << "strace could not be started (scripts/install-deps installs it)";
        return {};
    }
    // strace says when it has attached; the child starts only then.
    std::string said;
    char buffer[256];
    while (said.find("attached") == std::string::npos) {
        const ssize_t n = ::read(messages[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(buffer, std::size_t(n));
    }
    const bool attached = said.find("attached") != std::string::npos;
    if (attached) {
        EXPECT_EQ(::write(go[1], "!", 1), 1);
    }
    ::close(go[1]);
    EXPECT_TRUE(attached) << said;
    EXPECT_EQ(child.wait(), attached ? 0 : 97);
    int status = 0;
    while (::waitpid(tracer, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(messages[0]);

    const std::string prefix = base.string() + "/";
    auto inside = [&](const std::string& path) {
        return path.empty() || path == base.string() || path.starts_with(prefix);
    };
    std::vector<FsCall> calls;
    std::ifstream trace(traceFile);
    for (std::string line; std::getline(trace, line);) {
        std::optional<FsCall> call = parseCall(line);
        if (call && inside(call->path) && inside(call->to))
            calls.push_back(std::move(*call));
    }
    return calls;
}

struct PowerCut : LiveCrash {
    fs::path traceFile = dir / "trace.txt";

    // A sealed five-second segment of the fixture's recording; its asset's id.
    Uuid sealedSegment() {
        append(0, 240000);
        return store.loadRecording(recording.id).segments.at(0).id;
    }
};

struct PowerCutCase {
    const char* name;
    std::set<FsCall::Kind> exercises; // kinds of call the steps must make, so the row proves something
    // Prepares untraced; returns the steps to trace, which may make files under `base` only.
    std::function<Steps(PowerCut&)> prepare;
    // A clear working copy's bytes need not reach the disk: recovery removes every one after a
    // crash, whatever it holds. Its creation, move and removal are still checked.
    bool clearCopyDataMayStayUnsynced = false;
};

void PrintTo(const PowerCutCase& row, std::ostream* os) {
    *os << row.name;
}

struct PowerCutDuring : PowerCut, testing::WithParamInterface<PowerCutCase> {};

TEST_P(PowerCutDuring, EveryChangeIsDurableWhenTheCallReturns) {
    const PowerCutCase& row = GetParam();
    const Steps steps = row.prepare(*this);
    const std::vector<FsCall> calls = traceSteps(root, traceFile, steps);
    ASSERT_EQ(
        std::count_if(calls.begin(), calls.end(), [](const FsCall& c) { return c.kind == FsCall::stepEnd; }),
        std::ptrdiff_t(steps.size()));
    for (FsCall::Kind kind : row.exercises)
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [&](const FsCall& c) { return c.kind == kind; }))
            << "no call of kind " << kind;
    std::vector<std::string> faults = durabilityFaults(calls, root.string());
    if (row.clearCopyDataMayStayUnsynced)
        std::erase_if(faults, [](const std::string& fault) {
            return fault.starts_with("unsynced write") && fault.find("/clear-") != std::string::npos;
        });
    std::string listed;
    for (const std::string& fault : faults)
        listed += "\n  " + fault;
    EXPECT_TRUE(faults.empty()) << listed;
}

const Date T{730000000};

// Each row's steps run on the fixture's store (its recording saved, nothing else) or on stores
// and caches of their own under the store's root, the folder whose calls are checked.
INSTANTIATE_TEST_SUITE_P(
    Operations, PowerCutDuring,
    testing::Values(
        PowerCutCase{"newStoreAndRecording",
                     {FsCall::makeFolder, FsCall::rename},
                     [](PowerCut& f) -> Steps {
                         auto made = std::make_shared<std::unique_ptr<RecordingStore>>();
                         return {[&f, made] {
                                     *made = std::make_unique<RecordingStore>(f.root / "a" / "b", f.key);
                                 },
                                 [made] {
                                     (*made)->saveManifest(LocalRecording::make(
                                         "acct", std::nullopt, "Standup", false, T, Uuid::random()));
                                 }};
                     }},
        PowerCutCase{"liveSegments",
                     {FsCall::create, FsCall::sync, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         Steps steps;
                         // 12 s: two files sealed when full, the third when finished.
                         for (std::int64_t at = 0; at < 576000; at += 4800)
                             steps.push_back([&f, at] { f.append(at, 4800); });
                         steps.push_back([&f] { f.store.finishLiveSegment(f.recording.id); });
                         return steps;
                     }},
        PowerCutCase{"captureSpoolCheckpoints",
                     {FsCall::create, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         f.recording.captureAssetID = Uuid::random();
                         f.store.saveManifest(f.recording);
                         test::writeCaf(f.store.workingFileURL(f.recording.id, *f.recording.captureAssetID,
                                                               "caf", "capture"),
                                        signal(0, 96000), 8000);
                         return {[&f] { f.store.recoverCaptureSpool(f.recording.id, true); },
                                 [&f] { f.store.captureSpoolFile(f.recording.id); }};
                     }},
        PowerCutCase{"clearCopyAndItsRemoval",
                     {FsCall::create, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         const Uuid asset = f.sealedSegment();
                         auto copy = std::make_shared<fs::path>();
                         return {[&f, copy, asset] {
                                     *copy = f.store.openClearCopy(f.recording.id, asset, "caf");
                                 },
                                 [&f, copy] { f.store.removeWorkingFiles(*copy); }};
                     },
                     true},
        PowerCutCase{"transportSealKeepingItsClearCopy",
                     {FsCall::create, FsCall::sync, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         const fs::path transport =
                             f.store.workingFileURL(f.recording.id, Uuid::random(), "m4a", "transport");
                         files::createExclusive(transport).writeAll(Bytes(300000, 7), transport);
                         auto copy = std::make_shared<fs::path>();
                         return {[&f, copy, transport] {
                                     RecordingStore::MediaDigest digest;
                                     *copy = f.store.sealClearMediaKeepingCopy(transport, f.recording.id,
                                                                               Uuid::random(), digest);
                                 },
                                 [&f, copy] { f.store.removeWorkingFiles(*copy); }};
                     }},
        PowerCutCase{"deleteRecording",
                     {FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         f.sealedSegment();
                         return {[&f] { f.store.deleteRecording(f.recording.id, "acct"); }};
                     }},
        PowerCutCase{"recoveryOfAKilledRecording",
                     {FsCall::create, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         {
                             // Left as a kill leaves it: a live file that no manifest lists.
                             RecordingStore killed(f.root, f.key, f.childOptions({}));
                             for (std::int64_t at = 0; at < 96000; at += 4800)
                                 killed.appendLiveAudio(signal(at, 4800), 48000, f.recording.id);
                         }
                         return {[&f] { RecordingStore(f.root, f.key).recover("acct"); }};
                     }},
        PowerCutCase{"meetingCacheRemoveAndPurge",
                     {FsCall::makeFolder, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         auto cache = std::make_shared<std::unique_ptr<MeetingCache>>();
                         return {[&f, cache] {
                                     *cache = std::make_unique<MeetingCache>(f.root / "meetings", f.key,
                                                                             MeetingCacheScope{"acct", "ws"});
                                     (*cache)->store(json::Value("notes"), "m1", T, 60);
                                     (*cache)->store(json::Value("notes"), "m2", T, 60);
                                 },
                                 [cache] { (*cache)->remove("m1"); }, [cache] { (*cache)->purge(); }};
                     }},
        PowerCutCase{"discoveryCacheRemove",
                     {FsCall::makeFolder, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         auto cache = std::make_shared<std::unique_ptr<NativeDiscoveryCache>>();
                         return {[&f, cache] {
                                     *cache = std::make_unique<NativeDiscoveryCache>(f.root / "discovery",
                                                                                     f.key, "acc_1");
                                     NativeBootstrap contract = NativeBootstrap::decode(test::contractText());
                                     contract.limits.offlineAccessSeconds = 3600;
                                     (*cache)->save(contract, T);
                                 },
                                 [cache] { (*cache)->remove(); }};
                     }},
        PowerCutCase{"keyringItem",
                     {FsCall::makeFolder, FsCall::rename, FsCall::remove},
                     [](PowerCut& f) -> Steps {
                         auto keyring = std::make_shared<FileSecretBackend>(f.root / "keyring");
                         return {[keyring] { keyring->add("nuvel", "acct", bytesOf("secret")); },
                                 [keyring] { keyring->remove("nuvel", "acct"); }};
                     }}),
    [](const testing::TestParamInfo<PowerCutCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace nuvel
