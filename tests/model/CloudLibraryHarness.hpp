#pragma once

// A harness for the cloud meeting library: the real meeting client over an in-memory service
// that answers with real documents, the real sealed cache in a temporary folder, a manual main
// queue whose virtual clock drives both the wall clock and the continuous clock, and an executor
// that runs inline unless told to hold its work.

#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/support/Url.hpp"
#include "tests/support/HoldingExecutor.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nuvel::test {

namespace fs = std::filesystem;

inline MeetingAccess rights(std::vector<std::string> granted) {
    MeetingAccess access{"owner", "owner", {}};
    for (const std::string& right : granted)
        access.can[right] = true;
    return access;
}

inline MeetingAccess allRights() {
    return rights({"edit", "share", "delete", "export", "audio"});
}

inline MeetingSummary meetingSummary(const std::string& id, MeetingAccess access = allRights()) {
    MeetingSummary summary;
    summary.id = id;
    summary.title = "Meeting " + id;
    summary.state = "completed";
    summary.workspace_id = "ws_1";
    summary.revision = 3;
    summary.access = std::move(access);
    summary.updated_at = "2026-01-05T10:00:00Z";
    summary.duration = 62.5;
    summary.created_at = 1767600000;
    return summary;
}

inline MeetingTranscriptDocument transcriptFor(const std::string& id, const std::string& layer,
                                               const MeetingAccess& access) {
    MeetingTranscript transcript;
    transcript.version = 1;
    const std::vector<std::string> words = {layer == "raw" ? "helo" : "hello", "from", id};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::int64_t start = std::int64_t(i) * 700;
        transcript.words.push_back(
            MeetingWord{"w" + std::to_string(i), words[i], start, start + 500, "s1", std::nullopt});
    }
    transcript.speakers["s1"] = MeetingSpeaker{"Ada"};
    return MeetingTranscriptDocument::make(layer, 3, 62500, std::move(transcript), access);
}

inline MeetingNotesDocument notesFor() {
    MeetingNotesDocument notes;
    notes.ai_notes = true;
    notes.notes = MeetingJSON::object({{"summary", MeetingJSON::string("We met.")}});
    notes.provenance = MeetingNotesProvenance{"corrected", 3, 3, false};
    return notes;
}

inline MeetingSharingDocument sharingFor() {
    MeetingSharingDocument sharing;
    sharing.can = {{"share", true}};
    sharing.workspace_id = "ws_1";
    sharing.shares = {MeetingSharingDocument::Share{"sh_1", "guest", "guest@example.com", "viewer"}};
    return sharing;
}

// The ids of a list, joined by ",".
inline std::string joinedIDs(const std::vector<MeetingSummary>& meetings) {
    std::string ids;
    for (const MeetingSummary& meeting : meetings)
        ids += (ids.empty() ? "" : ",") + meeting.id;
    return ids;
}

// One request as the fake service saw it: path and decoded query.
struct SeenRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> query;
    std::string body;

    // "METHOD /path", with "?layer=..." for a transcript.
    std::string line() const {
        auto layer = query.find("layer");
        return method + " " + path + (layer == query.end() ? "" : "?layer=" + layer->second);
    }
};

// The meeting-library API in memory, answering the real client with encoded documents. Pages
// follow `library` with offset cursors; a meeting outside `library` is unknown (404) and
// reconciled as removed.
class FakeMeetingService final : public HttpTransport {
public:
    static constexpr const char* origin = "https://api.nuvel.test";

    HttpResponse send(const HttpRequest& request, std::stop_token) override {
        SeenRequest seen = parse(request);
        seen.body = request.body ? std::string(request.body->begin(), request.body->end()) : std::string();
        seen_.push_back(seen);
        if (onRequest)
            onRequest(seen);
        if (offline)
            throw TransportError(TransportError::Code::cannotConnect);
        for (const auto& [line, status] : failures) {
            if (seen.line() == line) {
                if (status == 0)
                    throw TransportError(TransportError::Code::cannotConnect);
                return json(status, R"({"error":{"code":"refused"}})");
            }
        }
        return answer(seen);
    }

    // Requests whose line (see SeenRequest) is `line` fail with `status` (0: no connection).
    void fail(std::string line, int status) { failures.emplace_back(std::move(line), status); }
    std::size_t count(const std::string& line) const {
        return std::size_t(std::count_if(seen_.begin(), seen_.end(),
                                         [&](const SeenRequest& r) { return r.line() == line; }));
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const SeenRequest& r : seen_)
            out.push_back(r.line());
        return out;
    }
    const std::vector<SeenRequest>& seen() const { return seen_; }
    void clearSeen() { seen_.clear(); }

    const MeetingSummary* find(const std::string& id) const {
        auto it =
            std::find_if(library.begin(), library.end(), [&](const MeetingSummary& m) { return m.id == id; });
        return it == library.end() ? nullptr : &*it;
    }
    NativeMeetingDocument document(const std::string& id) const {
        const MeetingSummary summary = find(id) ? *find(id) : meetingSummary(id);
        return NativeMeetingDocument{summary, transcript(id, "corrected", summary.access), notesFor(),
                                     transcript(id, "raw", summary.access)};
    }
    MeetingTranscriptDocument transcript(const std::string& id, const std::string& layer,
                                         const MeetingAccess& access) const {
        MeetingTranscriptDocument document = transcriptFor(id, layer, access);
        if (untimed)
            for (MeetingWord& word : document.transcript.words)
                word.end_ms = word.start_ms;
        return document;
    }

    std::vector<MeetingSummary> library;
    std::optional<double> offlineSeconds = 3600;
    std::map<std::string, MeetingSearchPage> searchAnswers; // by query; others find nothing
    std::string settings = R"({"retention_days":30,"retention_choices":[7,30,90]})";
    std::vector<std::pair<std::string, int>> failures;
    bool offline = false;
    bool untimed = false; // no word has a usable time span
    // Sees each request as it arrives, before it is answered.
    std::function<void(const SeenRequest&)> onRequest;
    // The answer to a link creation, and the meeting audio.
    std::string linkAnswer = std::string(R"({"id":"ln_1","url":"https://app.getnuvel.com/s/#)") +
                             std::string(64, 'a') + R"(","include_audio":false})";
    std::string audio = "not really audio";

private:
    static HttpResponse json(int status, std::string body) {
        HttpResponse response;
        response.status = status;
        response.headers = {{"Content-Type", "application/json"}};
        response.body = Bytes(body.begin(), body.end());
        return response;
    }

    static SeenRequest parse(const HttpRequest& request) {
        SeenRequest seen;
        seen.method = request.method;
        std::string rest = request.url.substr(std::string(origin).size());
        const std::size_t mark = rest.find('?');
        seen.path = rest.substr(0, mark);
        if (mark != std::string::npos) {
            std::string query = rest.substr(mark + 1);
            std::size_t start = 0;
            while (start <= query.size()) {
                std::size_t end = query.find('&', start);
                if (end == std::string::npos)
                    end = query.size();
                const std::string item = query.substr(start, end - start);
                const std::size_t equals = item.find('=');
                seen.query[percentDecode(item.substr(0, equals)).value_or("?")] =
                    equals == std::string::npos ? "" : percentDecode(item.substr(equals + 1)).value_or("?");
                start = end + 1;
            }
        }
        return seen;
    }

    HttpResponse answer(const SeenRequest& r) {
        const std::string meetings = "/api/meetings";
        if (r.method == "GET" && r.path == meetings) {
            const std::size_t limit = std::stoul(r.query.at("limit"));
            std::size_t offset = 0;
            if (auto cursor = r.query.find("cursor"); cursor != r.query.end())
                offset = std::stoul(cursor->second.substr(1));
            MeetingLibraryPage page;
            page.contract_version = 1;
            for (std::size_t i = offset; i < library.size() && i < offset + limit; ++i)
                page.meetings.push_back(library[i]);
            if (offset + limit < library.size())
                page.next_cursor = "o" + std::to_string(offset + limit);
            page.as_of = "2026-01-05T10:00:00Z";
            page.offline_access_seconds = offlineSeconds;
            return json(200, page.encode());
        }
        if (r.method == "GET" && r.path == meetings + "/reconcile") {
            MeetingReconciliation answer;
            std::string ids = r.query.at("ids");
            std::size_t start = 0;
            while (start < ids.size()) {
                std::size_t end = ids.find(',', start);
                if (end == std::string::npos)
                    end = ids.size();
                const std::string id = ids.substr(start, end - start);
                if (const MeetingSummary* known = find(id))
                    answer.meetings.push_back(*known);
                else
                    answer.removed_ids.push_back(id);
                start = end + 1;
            }
            return json(200, answer.encode());
        }
        if (r.method == "GET" && r.path == "/api/search") {
            auto it = searchAnswers.find(r.query.at("q"));
            MeetingSearchPage page;
            page.query = r.query.at("q");
            if (it != searchAnswers.end())
                page = it->second;
            return json(200, page.encode());
        }
        if (r.path == "/api/settings")
            return r.method == "GET" ? json(200, settings) : json(200, "{}");
        if (r.method == "GET" && r.path.rfind(meetings + "/", 0) == 0) {
            std::string rest = r.path.substr(meetings.size() + 1);
            const std::size_t slash = rest.find('/');
            const std::string id = rest.substr(0, slash);
            const std::string part = slash == std::string::npos ? "" : rest.substr(slash + 1);
            const MeetingSummary* known = find(id);
            if (!known)
                return json(404, R"({"error":{"code":"not_found"}})");
            if (part.empty())
                return json(200, known->encode());
            if (part == "transcript")
                return json(200, transcript(id, r.query.at("layer"), known->access).encode());
            if (part == "notes")
                return json(200, notesFor().encode());
            if (part == "sharing")
                return json(200, sharingFor().encode());
        }
        if (r.path.rfind(meetings + "/", 0) == 0)
            return change(r, r.path.substr(meetings.size() + 1));
        return json(404, R"({"error":{"code":"not_found"}})");
    }

    // The writes and the audio of one meeting ("<id>" or "<id>/<part>...").
    HttpResponse change(const SeenRequest& r, const std::string& rest) {
        const std::size_t slash = rest.find('/');
        const std::string id = rest.substr(0, slash);
        const std::string part = slash == std::string::npos ? "" : rest.substr(slash + 1);
        auto known =
            std::find_if(library.begin(), library.end(), [&](const MeetingSummary& m) { return m.id == id; });
        if (known == library.end())
            return json(404, R"({"error":{"code":"not_found"}})");
        if (r.method == "GET" && part == "audio") {
            HttpResponse response;
            response.status = 200;
            response.headers = {{"Content-Type", "audio/mp4"}};
            response.body = Bytes(audio.begin(), audio.end());
            return response;
        }
        if (r.method == "PATCH" && part == "revision")
            return json(200, R"({"revision":4,"operation_id":"x","replayed":false})");
        if (r.method == "PATCH" && part.empty()) {
            known->title = json::parse(r.body).at("title").get<std::string>();
            return json(200, known->encode());
        }
        if (r.method == "DELETE" && part.empty()) {
            library.erase(known);
            return json(204, "");
        }
        if (r.method == "POST" && part == "shares")
            return json(201, "{}");
        if (r.method == "POST" && part == "links")
            return json(201, linkAnswer);
        if (r.method == "DELETE" && (part.rfind("shares/", 0) == 0 || part.rfind("links/", 0) == 0))
            return json(204, "");
        return json(404, R"({"error":{"code":"not_found"}})");
    }

    std::vector<SeenRequest> seen_;
};

// A player that does what it is told and records it; its clock moves only when a test moves it.
struct FakePlayer final : AudioPlayer {
    struct Log {
        std::vector<std::string> calls; // "rate 1.5", "seek 2.5", "prepare", "play", "pause", "stop"
        std::vector<fs::path> files;    // the files players were made for
        bool failPrepare = false;
        bool throwOnMake = false;
        double time = 0;
        bool playing = false;
        int alive = 0;
    };
    explicit FakePlayer(std::shared_ptr<Log> log) : log(std::move(log)) { ++this->log->alive; }
    ~FakePlayer() override { --log->alive; }

    bool prepareToPlay() override {
        log->calls.push_back("prepare");
        return !log->failPrepare;
    }
    bool play() override {
        log->calls.push_back("play");
        log->playing = true;
        return true;
    }
    void pause() override {
        log->calls.push_back("pause");
        log->playing = false;
    }
    void stop() override {
        log->calls.push_back("stop");
        log->playing = false;
    }
    bool isPlaying() const override { return log->playing; }
    double currentTime() const override { return log->time; }
    void setCurrentTime(double seconds) override {
        log->calls.push_back("seek " + std::to_string(seconds).substr(0, 4));
        log->time = seconds;
    }
    double duration() const override { return 62.5; }
    double rate() const override { return rate_; }
    void setRate(double rate) override {
        log->calls.push_back("rate " + std::to_string(rate).substr(0, 3));
        rate_ = rate;
    }
    bool reachedEnd() const override { return false; }

    std::shared_ptr<Log> log;
    double rate_ = 1;
};

// The library over the fake service, attached to "ws_1" of "acct_1".
struct CloudHarness {
    static constexpr double wallStart = 800'000'000; // seconds since 2001, at virtual time 0

    explicit CloudHarness(std::string webHost = std::string(NuvelLink::webHost)) {
        CloudLibraryDependencies d;
        d.webHost = std::move(webHost);
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.client = std::make_shared<NativeMeetingClient>(FakeMeetingService::origin, service);
        d.localize = [](std::string_view text) { return std::string(text); };
        d.now = [this] { return wallNow(); };
        d.continuousNow = [this] { return queue.now() + suspended; };
        d.chooseExportFile = [this](std::string name) { return choose(this, std::move(name)); };
        d.makePlayer = [log = players](const fs::path& file) -> std::unique_ptr<AudioPlayer> {
            log->files.push_back(file);
            if (log->throwOnMake)
                throw std::runtime_error("no audio in that file");
            return std::make_unique<FakePlayer>(log);
        };
        d.confirmDelete = [this] { return confirm(this); };
        model = makeCloudMeetingModel(std::move(d));
        model->setOnChange([this] {
            const CloudMeetingState& state = model->state();
            shown.push_back(Shown{joinedIDs(state.meetings), state.loading, state.offline, state.message});
        });
    }

    // The wall clock: the virtual time, plus the time the computer slept, plus a change of the clock.
    Date wallNow() const { return Date{wallStart + queue.now() + suspended + clockShift}; }

    const CloudMeetingState& s() const { return model->state(); }
    fs::path cacheRoot() const { return dir.path() / "cloud-documents"; }
    MeetingCacheScope scope() const { return {session.account.id, workspace}; }

    // The library meetings m0 ... m(n-1) on the service.
    void list(std::size_t count) {
        service->library.clear();
        for (std::size_t i = 0; i < count; ++i)
            service->library.push_back(meetingSummary("m" + std::to_string(i)));
    }

    // Attaches the model and lets the first library load finish.
    void attach(std::optional<double> offlineSeconds = 3600) {
        runToCompletion(queue, model->configure(session, workspace, cacheRoot(), key, offlineSeconds));
        queue.drain();
    }

    // The workspace's cache as another reader sees it on disk (opened afresh each time).
    std::unique_ptr<MeetingCache> diskCache() const {
        return std::make_unique<MeetingCache>(cacheRoot(), key, scope());
    }

    // Opens a meeting and lets its load finish.
    void open(const std::string& id, bool refreshing = false) {
        model->openMeeting(id, refreshing);
        queue.drain();
    }

    // Lists m0 ... m(count-1), attaches, and opens `id`.
    void listAndOpen(std::size_t count, const std::string& id) {
        list(count);
        attach();
        open(id);
    }

    TempDir dir{"cloud-library"};
    ManualMainQueue queue{0};
    HoldingExecutor executor;
    std::shared_ptr<FakeMeetingService> service = std::make_shared<FakeMeetingService>();
    DeviceSession session{"token-1", DeviceAccount{"acct_1", "ada@example.com", std::nullopt}};
    std::string workspace = "ws_1";
    SymmetricKey key = SymmetricKey::random();
    double suspended = 0;  // seconds the computer slept: both clocks count them, timers do not
    double clockShift = 0; // a change of the wall clock alone
    std::shared_ptr<FakePlayer::Log> players = std::make_shared<FakePlayer::Log>();
    std::unique_ptr<CloudMeetingModel> model;

    // The delete confirmation's answer, and how often it was asked.
    bool confirmAnswer = true;
    int confirmations = 0;

    // What each change showed.
    struct Shown {
        std::string meetings; // ids joined by ","
        bool loading = false;
        bool offline = false;
        std::string message;
    };
    std::vector<Shown> shown;

    // The save panel: the names it proposed, what it answers, and what happens while it is open.
    std::vector<std::string> proposedNames;
    std::optional<fs::path> exportChoice;
    std::function<void()> whilePanelOpen;

private:
    static Task<bool> confirm(CloudHarness* h) {
        ++h->confirmations;
        co_return h->confirmAnswer;
    }
    static Task<std::optional<fs::path>> choose(CloudHarness* h, std::string name) {
        h->proposedNames.push_back(name);
        if (h->whilePanelOpen)
            h->whilePanelOpen();
        co_return h->exportChoice;
    }
};

// Two meetings listed, the library attached and "m0" open, with the requests so far forgotten.
struct OpenedMeeting {
    explicit OpenedMeeting(std::string webHost = std::string(NuvelLink::webHost)) : h(std::move(webHost)) {
        h.listAndOpen(2, "m0");
        h.service->clearSeen();
    }
    CloudHarness h;
};

} // namespace nuvel::test
