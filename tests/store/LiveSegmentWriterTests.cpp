#include "NuvelKit/store/CaptureSpoolError.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/store/LiveStoreSupport.hpp"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <malloc.h>
#include <new>
#include <sys/stat.h>

namespace {
// The bytes operator new has handed out and not yet taken back, and the most there were since
// the last reset, over every thread: one row weighs the memory a checkpoint takes for a while.
std::atomic<std::size_t> heldBytes{0};
std::atomic<std::size_t> peakHeldBytes{0};

void* take(std::size_t size) noexcept {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        return nullptr;
    const std::size_t held = heldBytes += malloc_usable_size(block);
    std::size_t peak = peakHeldBytes;
    while (held > peak && !peakHeldBytes.compare_exchange_weak(peak, held)) {
    }
    return block;
}
void give(void* block) noexcept {
    if (block != nullptr)
        heldBytes -= malloc_usable_size(block);
    std::free(block);
}
} // namespace

// Every form a library may call (the standard library binds some of them to each other
// internally, so replacing one is not enough).
void* operator new(std::size_t size) {
    if (void* block = take(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return take(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return take(size);
}
void operator delete(void* block) noexcept {
    give(block);
}
void operator delete[](void* block) noexcept {
    give(block);
}
void operator delete(void* block, std::size_t) noexcept {
    give(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    give(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    give(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    give(block);
}

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::expectRecordingError;
using test::signal;
using Moment = RecordingStore::Moment;

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

struct LiveWriter : test::LiveStoreFixture {};

TEST_F(LiveWriter, CutsEveryFiveSecondsAt48k) {
    append(0, 49 * 4800);
    ASSERT_EQ(liveFiles(recording).size(), 1u);
    const fs::path first = liveFiles(recording)[0];
    EXPECT_TRUE(first.filename().string().starts_with("live-00000000000000000000-")) << first;
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_TRUE(store.loadRecording(recording.id).segments.empty());

    append(49 * 4800, 4800); // the 50th call fills and finishes the file
    LocalRecording stored = store.loadRecording(recording.id);
    ASSERT_EQ(stored.segments.size(), 1u);
    const RecordingSegment& segment = stored.segments[0];
    EXPECT_EQ(segment.duration, 5.0);
    EXPECT_EQ(segment.startedAt, recording.createdAt);
    EXPECT_EQ(segment.fileExtension, "caf");
    EXPECT_EQ(segment.capturedFrameStart, 0);
    EXPECT_EQ(segment.captureFileKind, "live");
    EXPECT_EQ(stored.capturedFrames, 240000);
    EXPECT_EQ(test::clearNames(folder()), std::set<std::string>{});
    EXPECT_EQ(test::sealedAudio(store, recording.id, segment.id), signal(0, 240000));

    append(240000, 4800); // the 51st opens the next file at frame 240000
    ASSERT_EQ(liveFiles(recording).size(), 1u);
    EXPECT_TRUE(liveFiles(recording)[0].filename().string().starts_with("live-00000000000000240000-"));

    stored = store.finishLiveSegment(recording.id);
    ASSERT_EQ(stored.segments.size(), 2u);
    EXPECT_EQ(stored.segments[1].duration, 0.1);
    EXPECT_EQ(stored.segments[1].startedAt, recording.createdAt.adding(5.0));
    EXPECT_EQ(stored.capturedFrames, 244800);
    EXPECT_EQ(stored, store.loadRecording(recording.id));
    EXPECT_TRUE(liveFiles(recording).empty());
    EXPECT_EQ(test::timelineAudio(store, stored), signal(0, 244800));

    // Nothing open: the stored recording, unchanged.
    EXPECT_EQ(store.finishLiveSegment(recording.id), stored);
}

TEST_F(LiveWriter, OneAppendMayFinishAFileAndGoOnInTheNextAt8k) {
    append(0, 20000, 8000, 10000);
    store.appendLiveAudio(signal(20000, 32768), 8000, recording.id);
    LocalRecording stored = store.loadRecording(recording.id);
    ASSERT_EQ(stored.segments.size(), 1u);
    EXPECT_EQ(stored.segments[0].duration, 5.0);
    EXPECT_EQ(stored.capturedFrames, 40000);
    ASSERT_EQ(liveFiles(recording).size(), 1u);
    EXPECT_TRUE(liveFiles(recording)[0].filename().string().starts_with("live-00000000000000040000-"));

    stored = store.finishLiveSegment(recording.id);
    ASSERT_EQ(stored.segments.size(), 2u);
    EXPECT_EQ(stored.segments[1].capturedFrameStart, 40000);
    EXPECT_DOUBLE_EQ(stored.segments[1].duration, 12768.0 / 8000);
    EXPECT_EQ(stored.capturedFrames, 52768);
    EXPECT_EQ(test::timelineAudio(store, stored), signal(0, 52768));
}

TEST_F(LiveWriter, RefusesRunsAndRatesOutsideTheLimits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [count, rate] : {std::pair<std::int64_t, double>{0, 48000},
                               {32769, 48000},
                               {1, 7999},
                               {1, 192001},
                               {1, inf},
                               {1, nan}}) {
        SCOPED_TRACE(testing::Message() << count << " at " << rate);
        expectRecordingError(RecordingError::Code::invalidTransport,
                             [&] { store.appendLiveAudio(signal(0, count), rate, recording.id); });
    }
    EXPECT_EQ(test::clearNames(folder()), std::set<std::string>{});

    store.appendLiveAudio(signal(0, 1), 8000, recording.id);
    store.appendLiveAudio(signal(1, 32768), 8000, recording.id);
    store.finishLiveSegment(recording.id);
    store.appendLiveAudio(signal(32769, 32768), 192000, recording.id);
    const LocalRecording stored = store.finishLiveSegment(recording.id);
    ASSERT_EQ(stored.segments.size(), 2u);
    EXPECT_EQ(stored.capturedFrames, 65537);
}

TEST_F(LiveWriter, GuardsTheOpenFileAgainstOtherRecordingsAndRates) {
    const LocalRecording other = makeRecording();
    append(0, 4800);
    const fs::path open = liveFiles(recording).at(0);

    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { store.appendLiveAudio(signal(0, 4800), 48000, other.id); });
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { store.finishLiveSegment(other.id); });
    try {
        store.appendLiveAudio(signal(4800, 4410), 44100, recording.id);
        ADD_FAILURE() << "rate change accepted";
    } catch (const CaptureSpoolError& e) {
        EXPECT_EQ(e, CaptureSpoolError::unsupportedFormat());
    }
    EXPECT_TRUE(liveFiles(other).empty());

    // The open file was left as it was and goes on.
    append(4800, 4800);
    EXPECT_EQ(liveFiles(recording), std::vector<fs::path>{open});
    const LocalRecording stored = store.finishLiveSegment(recording.id);
    EXPECT_EQ(test::timelineAudio(store, stored), signal(0, 9600));

    // Once it is finished, another recording, at another rate, may begin.
    store.appendLiveAudio(signal(0, 4410), 44100, other.id);
    EXPECT_EQ(store.finishLiveSegment(other.id).capturedFrames, 4410);
}

TEST_F(LiveWriter, OpensALiveFileOnlyWithMoreThan100MBFree) {
    for (std::optional<std::int64_t> space :
         {std::optional<std::int64_t>(100000000), std::optional<std::int64_t>()}) {
        freeSpace = space;
        expectRecordingError(RecordingError::Code::missingMedia,
                             [&] { store.appendLiveAudio(signal(0, 4800), 48000, recording.id); });
        EXPECT_TRUE(liveFiles(recording).empty());
    }
    freeSpace = 100000001;
    append(0, 4800);
    EXPECT_EQ(liveFiles(recording).size(), 1u);
    // The check is made when a file is opened, not on every append.
    freeSpace = 0;
    append(4800, 4800);
    EXPECT_EQ(store.finishLiveSegment(recording.id).capturedFrames, 9600);
}

TEST_F(LiveWriter, SavesTheManifestBeforeItSeals) {
    // At the moment between the two, a second look at the store sees the segment listed and its
    // audio still in the clear live file.
    RecordingStore observer(root, key);
    bool checked = false;
    atMoment = [&](Moment m) {
        if (m != Moment::segmentSaved)
            return;
        const LocalRecording seen = observer.loadRecording(recording.id);
        ASSERT_EQ(seen.segments.size(), 1u);
        EXPECT_EQ(seen.capturedFrames, 240000);
        EXPECT_TRUE(fs::exists(folder() / seen.segments[0].fileName()));
        EXPECT_FALSE(fs::exists(folder() / (seen.segments[0].id.uppercase() + ".nuvel")));
        checked = true;
    };
    append(0, 240000);
    EXPECT_TRUE(checked);

    // A seal that fails reaches the caller; the writer is closed and the listed file stays for
    // recovery, which seals it.
    atMoment = [&](Moment m) {
        if (m == Moment::sealEncrypted)
            throw std::runtime_error("injected");
    };
    EXPECT_THROW(append(240000, 240000), std::runtime_error);
    atMoment = nullptr;
    LocalRecording stored = store.loadRecording(recording.id);
    ASSERT_EQ(stored.segments.size(), 2u);
    EXPECT_EQ(stored.capturedFrames, 480000);
    EXPECT_EQ(test::clearNames(folder()), (std::set<std::string>{stored.segments[1].fileName()}));
    append(480000, 4800); // a new file at the advanced frame count
    EXPECT_TRUE(liveFiles(recording).back().filename().string().starts_with("live-00000000000000480000-"));
    store.finishLiveSegment(recording.id);

    const RecoveryReport report = store.recover("acct");
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(test::clearNames(folder()), std::set<std::string>{});
    EXPECT_EQ(test::timelineAudio(store, report.recordings[0]), signal(0, 484800));
}

TEST_F(LiveWriter, ManifestUpdatesAndDeletion) {
    CaptureTimeline timeline;
    timeline.committedFrames = 96000;
    timeline.spans.push_back({10.5, Date{700000001}, 0, 96000, 12.5});
    store.setSourceTimeline(timeline, recording.id);
    EXPECT_EQ(store.loadRecording(recording.id).sourceTimeline, timeline);
    const LocalRecording paused = store.setCaptureState(CaptureState::paused, recording.id);
    EXPECT_EQ(paused.capture, CaptureState::paused);
    EXPECT_EQ(store.loadRecording(recording.id), paused);

    expectRecordingError(RecordingError::Code::accountMismatch,
                         [&] { store.deleteRecording(recording.id, "ACCT"); });
    append(0, 4800);
    // Not while its live file is open: the capture would go on into a folder without a manifest.
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { store.deleteRecording(recording.id, "acct"); });
    EXPECT_EQ(liveFiles(recording).size(), 1u);
    store.finishLiveSegment(recording.id);
    store.deleteRecording(recording.id, "acct");
    EXPECT_FALSE(fs::exists(folder()));
    EXPECT_THROW(store.deleteRecording(recording.id, "acct"), fs::filesystem_error);
}

TEST_F(LiveWriter, ACheckpointTakesMemoryInProportionToTheManifestNotManyTimesIt) {
    // Every five seconds a capture finishes its live file and opens the next, and the coordinator
    // reads the manifest back, on worker threads whose allocator keeps the most they ever used:
    // the memory each of these steps takes for a while may grow with the manifest's text, not
    // many times over.
    auto heldDuring = [](auto&& step) {
        const std::size_t before = heldBytes;
        peakHeldBytes = before;
        step();
        return double(peakHeldBytes - before);
    };
    struct Weights {
        double open, finish, reload, manifest;
    };
    auto checkpoint = [&](std::int64_t listed) {
        LocalRecording listing = store.loadRecording(recording.id);
        while (std::int64_t(listing.segments.size()) < listed) {
            const std::int64_t start = std::int64_t(listing.segments.size()) * 40000;
            listing.segments.push_back(RecordingSegment::make(
                Uuid::random(), listing.createdAt.adding(double(start) / 8000), "caf", start, "live", 5.0));
        }
        listing.capturedFrames = listed * 40000;
        store.saveManifest(listing);
        const std::vector<float> opening = signal(0, 32768), filling = signal(32768, 7232);
        Weights w{};
        w.open = heldDuring([&] { store.appendLiveAudio(opening, 8000, recording.id); });
        // Up to the saved manifest: the seal that follows takes a fixed buffer, whatever the list.
        const std::size_t beforeFinish = heldBytes;
        peakHeldBytes = beforeFinish;
        atMoment = [&](Moment m) {
            if (m == Moment::segmentSaved)
                w.finish = double(peakHeldBytes - beforeFinish);
        };
        store.appendLiveAudio(filling, 8000, recording.id);
        atMoment = nullptr;
        w.reload = heldDuring(
            [&] { EXPECT_EQ(store.loadRecording(recording.id).segments.size(), std::size_t(listed + 1)); });
        w.manifest = double(fs::file_size(folder() / RecordingStore::manifestFileName));
        return w;
    };
    const Weights few = checkpoint(40);
    const Weights many = checkpoint(840); // about 70 minutes of recording
    const double grown = many.manifest - few.manifest;
    EXPECT_LT((many.open - few.open) / grown, 5) << "opening the next live file";
    EXPECT_LT((many.finish - few.finish) / grown, 5) << "finishing a live file";
    EXPECT_LT((many.reload - few.reload) / grown, 5) << "reading the manifest back";
}

TEST(LiveWriterStorage, CountsTheBytesOfRegularFilesOnly) {
    test::TempDir dir("usage");
    RecordingStore store(dir / "root", SymmetricKey::random());
    EXPECT_EQ(store.storageUsage(), 0);
    fs::create_directories(dir / "root" / "A" / "B");
    files::atomicWrite(dir / "root" / "A" / "one", Bytes(100, 1));
    files::atomicWrite(dir / "root" / "A" / "B" / "two", Bytes(23, 2));
    files::atomicWrite(dir / "outside", Bytes(1000, 3));
    fs::create_symlink(dir / "outside", dir / "root" / "A" / "link");
    fs::create_directory_symlink(dir.path(), dir / "root" / "loop");
    EXPECT_EQ(store.storageUsage(), 123);
    fs::remove_all(dir / "root");
    EXPECT_EQ(store.storageUsage(), 0);
}

} // namespace
} // namespace nuvel
