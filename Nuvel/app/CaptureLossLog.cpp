#include "Nuvel/app/CaptureLossLog.hpp"

#include <exception>
#include <optional>
#include <utility>

namespace nuvel {

Q_LOGGING_CATEGORY(captureLog, "nuvel.capture", QtWarningMsg)

std::string captureLossLine(const CaptureLosses& losses) {
    const std::pair<const char*, std::int64_t> counts[] = {
        {"captureServerOverflows", losses.serverOverflows},
        {"captureServerHoleFrames", losses.serverHoleFrames},
        {"captureTimelineDroppedFrames", losses.timelineDroppedFrames},
        {"captureTimelineSkippedFrames", losses.timelineSkippedFrames},
        {"captureRingRefusedFrames", losses.ringRefusedFrames},
        {"captureMixerLateFrames", losses.mixerLateFrames},
    };
    std::string line = "recording ended:";
    for (const auto& [name, count] : counts)
        line += std::string(" ") + name + "=" + std::to_string(count);
    return line;
}

namespace {

class LossLoggedCapture final : public CaptureSource {
public:
    explicit LossLoggedCapture(std::unique_ptr<CaptureSource> source)
        : source_(std::move(source)), atStart_(CaptureLossTally::shared().snapshot()) {}
    ~LossLoggedCapture() override { log(); }
    LossLoggedCapture(const LossLoggedCapture&) = delete;
    LossLoggedCapture& operator=(const LossLoggedCapture&) = delete;

    double duration() const override { return source_->duration(); }
    double microphoneLevel() const override { return source_->microphoneLevel(); }
    double systemLevel() const override { return source_->systemLevel(); }
    bool isHealthy() const override { return source_->isHealthy(); }
    Task<LocalRecording> pause() override { return source_->pause(); }
    void resume() override { source_->resume(); }

    Task<LocalRecording> stop() override {
        std::optional<LocalRecording> stopped;
        std::exception_ptr failure;
        try {
            stopped = co_await source_->stop();
        } catch (...) {
            failure = std::current_exception();
        }
        log();
        if (failure)
            std::rethrow_exception(failure);
        co_return std::move(*stopped);
    }

private:
    void log() noexcept {
        if (logged_)
            return;
        logged_ = true;
        if (!captureLog().isDebugEnabled())
            return;
        const CaptureLosses now = CaptureLossTally::shared().snapshot();
        CaptureLosses during;
        during.serverOverflows = now.serverOverflows - atStart_.serverOverflows;
        during.serverHoleFrames = now.serverHoleFrames - atStart_.serverHoleFrames;
        during.timelineDroppedFrames = now.timelineDroppedFrames - atStart_.timelineDroppedFrames;
        during.timelineSkippedFrames = now.timelineSkippedFrames - atStart_.timelineSkippedFrames;
        during.ringRefusedFrames = now.ringRefusedFrames - atStart_.ringRefusedFrames;
        during.mixerLateFrames = now.mixerLateFrames - atStart_.mixerLateFrames;
        try {
            qCDebug(captureLog).noquote() << QString::fromStdString(captureLossLine(during));
        } catch (...) {
            // A line that cannot be written is not worth a recording.
        }
    }

    std::unique_ptr<CaptureSource> source_;
    CaptureLosses atStart_;
    bool logged_ = false;
};

} // namespace

std::unique_ptr<CaptureSource> withCaptureLossLog(std::unique_ptr<CaptureSource> source) {
    if (!source)
        return source;
    return std::make_unique<LossLoggedCapture>(std::move(source));
}

} // namespace nuvel
