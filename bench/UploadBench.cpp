// Sending a 200 MB transport file to the stand-in service over loopback through the whole upload
// road, from Send to the commit's answer (the seal with its digest, which keeps the composed file
// as the clear copy the parts are read from; meeting, reconciliation, heartbeat, parts, commit),
// beside curl PUT-ing the same parts to the same service in the same run. The service runs as a child
// process, so the resident memory reported is the application's alone. The composition itself is not the
// road's: the transport file is made before the clock starts and handed over by a rename when the road asks
// for it.
//
// Counters: app_MBps (the file's bytes over the time from Send to the commit's answer),
// parts_MBps (over the time from the first part to the commit), curl_MBps (one curl process
// sending the same parts, then the same commit), ratio (the whole road against curl; the goal is
// at least 0.85), parts_ratio (the parts alone against curl), rss_growth_MB (the peak resident
// size during the send above the peak before it; it must not grow with the file), before_parts_s
// (Send to the first part), floor_s (the least that must be done before the first part, as the
// transport is digested and durable before any part goes: see durableDigestSeconds) and
// floor_ratio (curl's time against curl's time plus that floor: the most the whole road could reach
// were its parts as fast as curl). Both the road and the floor start on a quiet disk: what earlier
// writes left (the transport made for the road, the parts written for curl) is synced first.
//
// NUVEL_STANDIN names the stand-in program (default: tools/standin-service/nuvel-standin beside
// the bench program's build tree).
#include "Nuvel/model/ModelParts.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <random>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t fileBytes = 200LL * 1000 * 1000;

double peakResidentMB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The stand-in as a child; it ends when its standard input closes.
class StandinProcess {
public:
    StandinProcess() {
        const char* named = std::getenv("NUVEL_STANDIN");
        const std::string program = named ? named : "tools/standin-service/nuvel-standin";
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            // Only the parent holds the writing end: the child ends when the parent closes it.
            close(toChild[0]);
            close(toChild[1]);
            close(fromChild[0]);
            close(fromChild[1]);
            execl(program.c_str(), program.c_str(), "--manual-processing", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        input_ = toChild[1];
        FILE* out = fdopen(fromChild[0], "r");
        char line[256] = {};
        if (!out || !std::fgets(line, sizeof line, out))
            throw std::runtime_error("the stand-in did not start: " + program);
        origin_ = std::string(line).substr(std::string("listening on ").size());
        origin_.erase(origin_.find_last_not_of("\r\n") + 1);
    }
    ~StandinProcess() { close(input_); }
    const std::string& origin() const { return origin_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::string origin_;
};

// Signs in through the device page as the browser would, and exchanges the code.
DeviceSession signIn(const std::string& origin, NuvelAPI& api) {
    PKCEAttempt attempt = PKCEAttempt::make();
    CurlTransport transport;
    HttpRequest approve;
    approve.url = origin + "/device/approve?challenge=" + attempt.challenge();
    const HttpResponse answer = transport.send(approve, {});
    const std::string location = answer.header("Location").value_or("");
    const std::string code = location.substr(location.find("code=") + 5);
    return api.exchangeCode(code, attempt.verifier(), "bench");
}

// The client, timing the parts: from the first part's request to the commit's answer.
class TimedAPI final : public NuvelAPI {
public:
    using NuvelAPI::NuvelAPI;
    void uploadPart(std::string_view meetingID, std::int64_t index, ByteView bytes, std::string_view token,
                    std::stop_token stop) override {
        if (!first)
            first = std::chrono::steady_clock::now();
        NuvelAPI::uploadPart(meetingID, index, bytes, token, stop);
    }
    void commitUpload(std::string_view meetingID, std::int64_t parts, std::string_view sha256,
                      std::string_view token, std::stop_token stop) override {
        NuvelAPI::commitUpload(meetingID, parts, sha256, token, stop);
        committed = std::chrono::steady_clock::now();
    }
    std::optional<std::chrono::steady_clock::time_point> first, committed;
};

// Hands over a transport file made beforehand, so that the clock runs for the road alone.
class FileMedia final : public MediaAssembler {
public:
    explicit FileMedia(fs::path made) : made_(std::move(made)) {}
    fs::path assemble(const LocalRecording& recording, WorkspaceStore& store) override {
        fs::path file = store.workingFileURL(recording.id, Uuid::random(), "m4a", "transport");
        fs::rename(made_, file);
        return file;
    }
    FileDigest fileDigest(const fs::path& file) override { return inner.fileDigest(file); }
    Bytes readPart(const fs::path& file, std::int64_t index, std::int64_t partBytes) override {
        return inner.readPart(file, index, partBytes);
    }
    double convertImport(const fs::path&, const fs::path&) override { return 0; }
    RecordingMediaAssembler inner;

private:
    fs::path made_;
};

// Runs the queue as the window thread would, while the workers post back to it.
void driveUntil(ManualMainQueue& queue, const std::function<bool()>& done) {
    while (!done())
        queue.waitAndDrain(0.1);
}

void makeTransport(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> chunk((1 << 20) / 8);
    for (std::int64_t left = fileBytes; left > 0; left -= std::int64_t(chunk.size() * 8)) {
        for (auto& word : chunk)
            word = random();
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  std::streamsize(std::min<std::int64_t>(left, std::int64_t(chunk.size() * 8))));
    }
}

// What earlier writes left on its way to storage is written, and the disk given a moment.
void quietDisk() {
    ::sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// The least the road must do with the file before its first part, by the road's own means and
// side by side as it does them: the file's SHA-256, beside its bytes read in the container's
// chunks and written to a new file in `folder`, their pages sent to storage every 8 MiB as the
// container does, the file synced and moved to its name durably. No cipher, no request, no
// manifest: a lower bound of the road's work, the least of three samples, each on a quiet disk.
double durableDigestSeconds(const fs::path& file, const fs::path& folder) {
    const auto readChunks = [&file](const std::function<void(ByteView)>& take) {
        const files::FileDescriptor in = files::openForReading(file);
        std::vector<std::uint8_t> chunk(EncryptedMedia::chunkSize);
        while (const std::size_t got = in.readUpTo(chunk.data(), chunk.size(), file))
            take(ByteView(chunk.data(), got));
    };
    double least = std::numeric_limits<double>::infinity();
    for (int sample = 0; sample < 3; ++sample) {
        const fs::path partial = folder / "floor.partial", target = folder / "floor";
        quietDisk();
        const auto start = std::chrono::steady_clock::now();
        std::future<void> digested = std::async(std::launch::async, [&] {
            Sha256 digest;
            readChunks([&digest](ByteView chunk) { digest.update(chunk); });
            (void)digest.finalize();
        });
        files::FileDescriptor out = files::createExclusive(partial);
        std::int64_t written = 0, sentFrom = 0;
        readChunks([&](ByteView chunk) {
            out.writeAll(chunk, partial);
            written += std::int64_t(chunk.size());
            if (written - sentFrom >= (8 << 20)) {
                out.startWriteback(sentFrom, written - sentFrom);
                sentFrom = written;
            }
        });
        out.sync(partial);
        out.close();
        files::moveNoReplace(partial, target);
        digested.get();
        least =
            std::min(least, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        fs::remove(target);
    }
    return least;
}

void UploadBench(benchmark::State& state) {
    StandinProcess standin;
    const fs::path root = fs::temp_directory_path() / ("nuvel-upload-bench-" + std::to_string(getpid()));
    fs::create_directories(root);
    auto api = std::make_shared<TimedAPI>(standin.origin(), std::make_shared<CurlTransport>());
    const DeviceSession session = signIn(standin.origin(), *api);
    const NativeBootstrap contract = api->bootstrap(session.token, std::nullopt);

    for (auto _ : state) {
        ManualMainQueue queue;
        // Worker threads as in the application, so that what the road runs side by side does so.
        ThreadPoolExecutor executor(4);
        AppModelDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.keyring = std::make_shared<MemorySecretBackend>();
        d.api = api;
        CloudLibraryDependencies cloud;
        cloud.mainQueue = &queue;
        cloud.actorExecutor = &executor;
        cloud.client =
            std::make_shared<NativeMeetingClient>(standin.origin(), std::make_shared<CurlTransport>());
        d.cloud = makeCloudMeetingModel(std::move(cloud));
        d.openStore = RecordingWorkspaceStore::open;
        const fs::path made = root / "made.m4a";
        makeTransport(made);
        d.media = std::make_shared<FileMedia>(made);
        d.dataRoot = root / "share";
        // The model's waits count on the queue's clock, as its timers do.
        d.continuousNow = [&queue] { return queue.now(); };
        auto parts = std::make_shared<ModelParts>(std::move(d));
        parts->context.setOwner(std::weak_ptr<const void>(parts));
        bool opened = false;
        std::exception_ptr failure;
        const TaskHandle opening = spawn(
            queue, detail::storeOutcomeVoid(parts->workspaces.openWorkspace(session, contract, std::nullopt),
                                            &opened, &failure));
        driveUntil(queue, [&] { return opening.isFinished(); });
        if (failure)
            std::rethrow_exception(failure);

        LocalRecording r = LocalRecording::make(session.account.id, contract.workspace.id, "Bench", false,
                                                Date::now(), Uuid::random());
        r.capture = CaptureState::saved;
        r.segments = {
            RecordingSegment::make(Uuid::random(), r.createdAt, "m4a", std::nullopt, std::nullopt, 3600)};
        parts->context.state.store->saveManifest(r);
        parts->context.state.recordings.push_back(r);

        quietDisk();
        resetPeakResident();
        const double before = peakResidentMB();
        api->first.reset();
        const auto sendAt = std::chrono::steady_clock::now();
        parts->upload.startUploadIfAllowed(r.id, false);
        driveUntil(queue, [&] { return !parts->context.state.uploading; });
        const double growth = peakResidentMB() - before;
        if (!api->first || !api->committed)
            throw std::runtime_error("no part was sent");
        const double appSeconds = std::chrono::duration<double>(*api->committed - sendAt).count();
        const double partsSeconds = std::chrono::duration<double>(*api->committed - *api->first).count();
        const LocalRecording& sent = parts->context.state.recordings.back();
        if (sent.transfer != TransferState::accepted)
            throw std::runtime_error("the upload was not accepted: " + sent.errorCode.value_or("?"));

        // curl: the same parts, to a meeting of its own, in one process over one connection, and
        // the same commit.
        const fs::path copy =
            parts->context.state.store->openClearCopy(sent.id, *sent.transportAssetID, "m4a");
        CreateMeetingRequest another = *sent.creationRequest;
        another.client_recording_id.reset(); // a meeting of its own, not the one just sent
        const CreatedMeeting meeting = api->createMeeting(another, session.token);
        std::string command = "curl -s -f -o /dev/null -H 'Authorization: Bearer " + session.token +
                              "' -H 'Content-Type: audio/mp4'";
        std::vector<fs::path> pieces;
        for (std::int64_t i = 0; i * meeting.partBytes < fileBytes; ++i) {
            const Bytes part = RecordingMediaAssembler().readPart(copy, i, meeting.partBytes);
            pieces.push_back(root / ("part-" + std::to_string(i)));
            std::ofstream(pieces.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(part.data()), std::streamsize(part.size()));
            command += " -X PUT -T " + pieces.back().string() + " " + standin.origin() + "/api/meetings/" +
                       meeting.id + "/audio/" + std::to_string(i);
        }
        const auto curlStart = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("curl failed");
        api->NuvelAPI::commitUpload(meeting.id, std::int64_t(pieces.size()), *sent.transportSHA256,
                                    session.token, {});
        const double curlSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - curlStart).count();
        const double floorSeconds = durableDigestSeconds(copy, root);
        parts->context.state.store->removeWorkingFiles(copy);

        const double mb = double(fileBytes) / 1e6;
        state.counters["app_MBps"] = mb / appSeconds;
        state.counters["parts_MBps"] = mb / partsSeconds;
        state.counters["curl_MBps"] = mb / curlSeconds;
        state.counters["ratio"] = curlSeconds / appSeconds;
        state.counters["parts_ratio"] = curlSeconds / partsSeconds;
        state.counters["rss_growth_MB"] = growth;
        state.counters["before_parts_s"] = appSeconds - partsSeconds;
        state.counters["floor_s"] = floorSeconds;
        state.counters["floor_ratio"] = curlSeconds / (curlSeconds + floorSeconds);
        parts->context.tasks.cancelAll();
        while (queue.waitAndDrain(0.2)) {
        }
    }
    fs::remove_all(root);
}

} // namespace

BENCHMARK(UploadBench)->Iterations(1)->Unit(benchmark::kSecond);
