#pragma once

// Shared by the tests of the live writer, the capture spool and recovery: a store over a
// temporary root with a recording in it, a deterministic signal, and the audio of sealed assets.

#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace nuvel::test {

// Sample `frame` of the test signal: exact in 32-bit float, different at every frame of a run.
// (Unsigned, so that frames near the end of the 64-bit range can be made too.)
inline float signalAt(std::uint64_t frame) {
    return float(int(frame % 1000) - 500) / 1024.0f;
}

inline std::vector<float> signal(std::int64_t start, std::int64_t frames) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i)
        samples[std::size_t(i)] = signalAt(std::uint64_t(start) + std::uint64_t(i));
    return samples;
}

inline std::vector<float> readCaf(const std::filesystem::path& file) {
    CafReader reader = CafReader::open(file);
    std::vector<float> samples(std::size_t(reader.format().frames * reader.format().channels));
    samples.resize(reader.read(samples) * std::size_t(reader.format().channels));
    return samples;
}

inline void writeCaf(const std::filesystem::path& file, const std::vector<float>& samples, double rate,
                     int channels = 1) {
    CafWriter writer = CafWriter::create(file, rate, channels);
    writer.append(samples);
    writer.close();
}

// Names of the clear files: everything but the sealed documents and assets (".nuvel").
inline std::set<std::string> clearNames(const std::filesystem::path& folder) {
    std::set<std::string> out;
    for (const std::string& name : namesIn(folder))
        if (!name.ends_with(".nuvel"))
            out.insert(name);
    return out;
}

// The clear audio of a sealed asset, read through a clear copy that is removed again.
inline std::vector<float> sealedAudio(RecordingStore& store, const Uuid& recordingID, const Uuid& assetID) {
    const std::filesystem::path copy = store.openClearCopy(recordingID, assetID, "caf");
    std::vector<float> samples = readCaf(copy);
    store.removeWorkingFiles(copy);
    return samples;
}

// The segments' audio laid end to end.
inline std::vector<float> timelineAudio(RecordingStore& store, const LocalRecording& recording) {
    std::vector<float> all;
    for (const RecordingSegment& segment : recording.segments) {
        std::vector<float> part = sealedAudio(store, recording.id, segment.id);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct LiveStoreFixture : testing::Test {
    TempDir dir{"live"};
    SymmetricKey key = SymmetricKey::random();
    std::filesystem::path root = dir / "root";
    std::optional<std::int64_t> freeSpace = std::int64_t(1) << 40;
    std::function<void(RecordingStore::Moment)> atMoment;
    RecordingStore store{root, key,
                         RecordingStore::Options{[this](const std::filesystem::path&) { return freeSpace; },
                                                 [this](RecordingStore::Moment m) {
                                                     if (atMoment)
                                                         atMoment(m);
                                                 }}};
    LocalRecording recording = makeRecording();

    LocalRecording makeRecording(std::string account = "acct", Date createdAt = Date{700000000}) {
        LocalRecording r = LocalRecording::make(std::move(account), std::nullopt, "Standup", false, createdAt,
                                                Uuid::random());
        store.saveManifest(r);
        return r;
    }

    std::filesystem::path folder(const LocalRecording& r) const { return root / r.id.uppercase(); }
    std::filesystem::path folder() const { return folder(recording); }

    // Appends frames [start, start + frames) of the signal in runs of `run`.
    void append(std::int64_t start, std::int64_t frames, double rate, std::int64_t run, const Uuid& id) {
        for (std::int64_t at = start; at < start + frames; at += run)
            store.appendLiveAudio(signal(at, std::min(run, start + frames - at)), rate, id);
    }
    void append(std::int64_t start, std::int64_t frames, double rate = 48000, std::int64_t run = 4800) {
        append(start, frames, rate, run, recording.id);
    }

    std::vector<std::filesystem::path> liveFiles(const LocalRecording& r) const {
        std::vector<std::filesystem::path> out;
        for (const std::string& name : namesIn(folder(r)))
            if (name.starts_with("live-"))
                out.push_back(folder(r) / name);
        return out;
    }
};

} // namespace nuvel::test
