#include "Nuvel/platform/PulseSystemAudioService.hpp"

#include "Nuvel/platform/ProcessLiveness.hpp"
#include "Nuvel/platform/PulseApplicationAudio.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/support/Time.hpp"

#include <pulse/def.h>
#include <set>

namespace nuvel {

namespace {

// How long opening a stream for a capture waits for its first audio (PulseAudio takes up to
// about 0.7 s on a sound card and up to two seconds on an idle null sink, PipeWire 20–60 ms).
constexpr double primeSeconds = 2.5;

// All system audio: the monitor of the chosen output, recorded as one stream.
class PulseSystemAudioStream final : public SystemAudioStream {
public:
    PulseSystemAudioStream(std::shared_ptr<PulseConnection> connection, std::string monitor,
                           std::shared_ptr<SystemAudioOutput> output)
        : connection_(std::move(connection)), monitor_(std::move(monitor)), output_(std::move(output)) {}

    ~PulseSystemAudioStream() override { stopCapture(); }

    void startCapture() override {
        if (stream_)
            return;
        PulseRecordStream::Options options;
        options.source = monitor_;
        options.sampleRate = std::uint32_t(SystemAudioOutput::sampleRate);
        options.channels = 1;
        options.streamName = "Nuvel system audio";
        options.primeSeconds = primeSeconds;
        std::shared_ptr<SystemAudioOutput> output = output_;
        stream_ = std::make_unique<PulseRecordStream>(
            connection_, options,
            [output](const float* mono, std::uint32_t frames, double sampleRate, double hostTime) {
                // Audio too old for the consumer to place is cut, not handed on to end the
                // recording.
                const std::uint32_t stale =
                    SystemCaptureConsumer::staleFrames(hostTime, frames, sampleRate, hostTimeSeconds());
                if (stale == frames)
                    return;
                mono += stale;
                frames -= stale;
                hostTime += double(stale) / sampleRate;
                SystemAudioBuffer buffer;
                buffer.format = PcmSampleFormat::float32;
                buffer.channelCount = 1;
                buffer.sampleRate = sampleRate;
                buffer.frameCount = frames;
                buffer.data = mono;
                buffer.byteSize = std::size_t(frames) * sizeof(float);
                buffer.presentationTime = hostTime;
                output->didOutput(buffer);
            },
            [output](PulseRecordStream::Problem) { output->didStop(); });
    }

    void stopCapture() override {
        if (stream_) {
            stream_->close();
            stream_.reset();
        }
    }

private:
    std::shared_ptr<PulseConnection> connection_;
    std::string monitor_;
    std::shared_ptr<SystemAudioOutput> output_;
    std::unique_ptr<PulseRecordStream> stream_;
};

} // namespace

PulseSystemAudioService::PulseSystemAudioService(std::shared_ptr<PulseConnection> connection, Options options)
    : connection_(std::move(connection)), options_(std::move(options)) {}

SystemAudioService::Content PulseSystemAudioService::shareableContent() {
    Content content;
    std::set<std::int32_t> seen;
    for (auto& input : sinkInputsOfOtherProcesses(*connection_)) {
        // Without a process id the stream cannot be chosen by one; an application with several
        // streams is listed once, with its first.
        if (!input.processID || !seen.insert(*input.processID).second)
            continue;
        Application application;
        application.processID = *input.processID;
        application.name = input.applicationName;
        application.bundleIdentifier = input.applicationID.value_or(input.processBinary);
        application.stream = input.index;
        content.applications.push_back(std::move(application));
    }
    if (options_.systemOutputSink) {
        auto sink = sinkInfo(*connection_, *options_.systemOutputSink);
        if (sink && !sink->monitorSourceName.empty())
            content.systemOutput = sink->monitorSourceName;
    } else {
        content.systemOutput = defaultSinkMonitorSourceName(*connection_);
    }
    return content;
}

std::unique_ptr<SystemAudioStream>
PulseSystemAudioService::makeStream(const Filter& filter, std::shared_ptr<SystemAudioOutput> output) {
    if (output && filter.applicationProcess)
        return std::make_unique<PulseApplicationAudio>(connection_, *filter.applicationProcess,
                                                       std::move(output));
    if (output && filter.systemOutput)
        return std::make_unique<PulseSystemAudioStream>(connection_, *filter.systemOutput, std::move(output));
    throw PulseError(PulseError::Case::failed, PA_ERR_INVALID, "system audio stream: nothing to record");
}

std::optional<SystemAudioService::ProcessIdentity>
PulseSystemAudioService::identifyProcess(std::int32_t processID) {
    auto start = ProcessLiveness::startTime(processID);
    if (!start)
        return std::nullopt;
    return ProcessIdentity{processID, *start};
}

bool PulseSystemAudioService::isRunning(const ProcessIdentity& process) {
    return ProcessLiveness::isRunning(process.processID, process.startTime);
}

} // namespace nuvel
