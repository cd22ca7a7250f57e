// The cloud library's own work beside the bytes it moves. Two pairs, each run in this program:
//  - listing a 5,000-meeting library from the stand-in service page by page, with the model's
//    reconciliation and offline copy, beside the same page and reconciliation requests fetched
//    and decoded by the bare meeting client;
//  - opening a meeting with a three-hour transcript (30,000 words in each layer) from its sealed
//    copy while the service is unreachable, beside reading and decoding that copy alone. The
//    model's run also times, in the same iterations, that reference ("copy_ms", ratio "x_copy")
//    and the decoding of the document's JSON text alone ("json_ms").
// scripts/bench-cloud prints each model figure as a ratio of its reference.
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <vector>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t libraryMeetings = 5000;
constexpr std::size_t transcriptWords = 30000;
constexpr double threeHoursMs = 3 * 3600 * 1000.0;

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "nuvel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// The stand-in with one account's library of 5,000 processed meetings, made once.
struct Library {
    StandinService service;
    std::string token;
    std::shared_ptr<NativeMeetingClient> client;
    Library() {
        service.start();
        service.seedMeetings(libraryMeetings);
        token = service.issueToken();
        client = std::make_shared<NativeMeetingClient>(service.origin(), std::make_shared<CurlTransport>());
    }
    static Library& shared() {
        static Library library;
        return library;
    }
};

const std::string workspace = "ws_personal";

std::unique_ptr<CloudMeetingModel> makeModel(ManualMainQueue& queue, Executor& executor,
                                             std::shared_ptr<NativeMeetingClient> client) {
    CloudLibraryDependencies d;
    d.mainQueue = &queue;
    d.actorExecutor = &executor;
    d.client = std::move(client);
    return makeCloudMeetingModel(std::move(d));
}

DeviceSession sessionOf(const std::string& token) {
    return DeviceSession{token,
                         DeviceAccount{StandinService::defaultAccountId, "you@nuvel.test", std::nullopt}};
}

} // namespace

static void ListAndReconcileLibraryModel(benchmark::State& state) {
    Library& library = Library::shared();
    std::size_t listed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Folder folder;
        ManualMainQueue queue;
        InlineExecutor executor;
        auto model = makeModel(queue, executor, library.client);
        state.ResumeTiming();
        runToCompletion(queue, model->configure(sessionOf(library.token), workspace, folder.path / "cloud",
                                                SymmetricKey::random(), 86400));
        queue.drain();
        while (model->state().hasMore) {
            model->loadLibrary(true);
            queue.drain();
        }
        listed = model->state().meetings.size();
        if (!model->state().message.empty())
            state.SkipWithError(model->state().message.c_str());
    }
    state.counters["meetings"] = double(listed);
}
BENCHMARK(ListAndReconcileLibraryModel)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same requests the model sends, in the same order: each page after reconciling the meetings
// listed before it, in batches of 100.
static void ListAndReconcileLibraryReference(benchmark::State& state) {
    Library& library = Library::shared();
    const NativeMeetingClient& client = *library.client;
    std::size_t listed = 0;
    for (auto _ : state) {
        std::vector<std::string> ids;
        std::set<std::string> known;
        std::optional<std::string> cursor;
        bool first = true;
        while (first || cursor) {
            first = false;
            const std::vector<std::string> toReconcile(known.begin(), known.end());
            MeetingLibraryPage page =
                client.libraryPage(workspace, cursor, CloudLibrary::pageSize, library.token);
            for (std::size_t start = 0; start < toReconcile.size(); start += CloudLibrary::reconcileBatch) {
                const std::size_t end = std::min(toReconcile.size(), start + CloudLibrary::reconcileBatch);
                std::vector<std::string> batch(toReconcile.begin() + std::ptrdiff_t(start),
                                               toReconcile.begin() + std::ptrdiff_t(end));
                benchmark::DoNotOptimize(client.reconcile(batch, library.token));
            }
            for (const MeetingSummary& meeting : page.meetings)
                if (known.insert(meeting.id).second)
                    ids.push_back(meeting.id);
            cursor = page.next_cursor;
        }
        listed = ids.size();
    }
    state.counters["meetings"] = double(listed);
}
BENCHMARK(ListAndReconcileLibraryReference)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

namespace {

// Every request fails at once: the service is unreachable.
class Unreachable final : public HttpTransport {
public:
    HttpResponse send(const HttpRequest&, std::stop_token) override {
        throw TransportError(TransportError::Code::cannotConnect);
    }
};

MeetingTranscriptDocument threeHourTranscript(const std::string& layer) {
    MeetingTranscript transcript;
    transcript.version = 1;
    static const char* const vocabulary[] = {"we",    "should",   "ship",    "the",       "budget", "review",
                                             "after", "Thursday", "because", "customers", "asked",  "twice"};
    const double slot = threeHoursMs / double(transcriptWords);
    for (std::size_t i = 0; i < transcriptWords; ++i) {
        const auto start = std::int64_t(double(i) * slot);
        transcript.words.push_back(MeetingWord{"w" + std::to_string(i + 1), vocabulary[i % 12], start,
                                               start + std::int64_t(slot * 0.8), i % 7 < 4 ? "s1" : "s2",
                                               std::nullopt});
    }
    transcript.speakers = {{"s1", MeetingSpeaker{"Maya"}}, {"s2", MeetingSpeaker{"Jonas"}}};
    MeetingAccess access{
        "owner", "owner", {{"edit", true}, {"share", true}, {"export", true}, {"audio", true}}};
    return MeetingTranscriptDocument::make(layer, 4, std::int64_t(threeHoursMs), std::move(transcript),
                                           access);
}

// A sealed copy of a three-hour meeting, and a library attached to it with the service gone.
struct CachedMeeting {
    static constexpr const char* id = "mt_threehours";
    Folder folder;
    ManualMainQueue queue;
    InlineExecutor executor;
    SymmetricKey key = SymmetricKey::random();
    DeviceSession session = sessionOf("token");
    std::unique_ptr<CloudMeetingModel> model;
    std::string documentJson; // the stored document, as the copy holds it

    CachedMeeting() {
        NativeMeetingDocument document;
        document.summary.id = id;
        document.summary.title = "Three-hour planning";
        document.summary.state = "completed";
        document.summary.duration = threeHoursMs / 1000;
        document.summary.access = threeHourTranscript("corrected").access;
        document.transcript = threeHourTranscript("corrected");
        document.originalTranscript = threeHourTranscript("raw");
        MeetingNotesDocument notes;
        notes.ai_notes = true;
        notes.provenance = MeetingNotesProvenance{"corrected", 4, 4, false};
        document.notes = notes;
        // The lease runs a day from the wall clock of this run.
        const MeetingCacheScope scope{session.account.id, workspace};
        MeetingCache(cacheRoot(), key, scope).store(document, id, Date::now(), 86400);
        documentJson = document.encode();

        model = makeModel(
            queue, executor,
            std::make_shared<NativeMeetingClient>("https://api.nuvel.test", std::make_shared<Unreachable>()));
        runToCompletion(queue, model->configure(session, workspace, cacheRoot(), key, 86400));
        queue.drain();
    }
    fs::path cacheRoot() const { return folder.path / "cloud"; }
};

} // namespace

static void OpenThreeHourMeetingFromCacheModel(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    auto secondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    CachedMeeting cached;
    MeetingCache cache(cached.cacheRoot(), cached.key,
                       MeetingCacheScope{cached.session.account.id, workspace});
    std::size_t words = 0;
    double openS = 0, copyS = 0, jsonS = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        cached.model->openMeeting(CachedMeeting::id, false);
        cached.queue.drain();
        const double opened = secondsSince(start);
        state.SetIterationTime(opened);
        openS += opened;
        const CloudMeetingState& shown = cached.model->state();
        if (!shown.document || shown.loading) {
            state.SkipWithError("the cached meeting did not open");
            break;
        }
        words = shown.document->transcript.transcript.words.size();

        start = Clock::now();
        auto copy = cache.loadWithLease<NativeMeetingDocument>(CachedMeeting::id, Date::now());
        copyS += secondsSince(start);
        benchmark::DoNotOptimize(copy);
        start = Clock::now();
        NativeMeetingDocument decoded = NativeMeetingDocument::decode(cached.documentJson);
        jsonS += secondsSince(start);
        benchmark::DoNotOptimize(decoded);
    }
    const double n = double(state.iterations());
    state.counters["words"] = double(words);
    state.counters["open_ms"] = openS * 1000 / n;
    state.counters["copy_ms"] = copyS * 1000 / n;
    state.counters["json_ms"] = jsonS * 1000 / n;
    state.counters["x_copy"] = openS / copyS;
}
BENCHMARK(OpenThreeHourMeetingFromCacheModel)->Unit(benchmark::kMillisecond)->UseManualTime();

static void OpenThreeHourMeetingFromCacheReference(benchmark::State& state) {
    CachedMeeting cached;
    MeetingCache cache(cached.cacheRoot(), cached.key,
                       MeetingCacheScope{cached.session.account.id, workspace});
    std::size_t words = 0;
    for (auto _ : state) {
        auto copy = cache.loadWithLease<NativeMeetingDocument>(CachedMeeting::id, Date::now());
        words = copy.value.transcript.transcript.words.size();
        benchmark::DoNotOptimize(copy);
    }
    state.counters["words"] = double(words);
}
BENCHMARK(OpenThreeHourMeetingFromCacheReference)->Unit(benchmark::kMillisecond)->UseRealTime();
