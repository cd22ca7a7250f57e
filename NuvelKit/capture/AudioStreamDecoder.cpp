#include "NuvelKit/capture/AudioStreamDecoder.hpp"

#include "NuvelKit/capture/MediaCodecs.hpp"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

#include "NuvelKit/capture/AudioFfmpeg.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

// Frames taken from the decoder at a time.
constexpr std::size_t decodeChunkFrames = 2048;

// The decoder and the tempo stage after it.
struct StreamState {
    fs::path path;
    AudioDecoder decoder;
    double rate = 1.0;
    ffmpeg::ChannelLayout layout;

    // The tempo stage; absent at rate 1, where the decoded audio passes straight through.
    ffmpeg::FilterGraphPtr graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    std::int64_t nextPts = 0;
    bool graphInputEnded = false;

    std::vector<float> decoded = std::vector<float>(decodeChunkFrames * std::size_t(decoder.channels()));
    std::vector<float> pending; // output not yet handed out
    std::size_t pendingOffset = 0;
    bool finished = false;
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();

    StreamState(const fs::path& file, AudioDecoder opened)
        : path(file), decoder(std::move(opened)), layout(decoder.channels()) {}

    int channels() const { return decoder.channels(); }
    void reset();
    void buildGraph();
    void addFilter(AVFilterContext*& context, const char* filter, const char* name);
    bool refill();
    void append(const float* samples, std::size_t frames);
    bool pullFiltered();
    void pushToGraph(std::size_t frames);
};

} // namespace

void StreamState::addFilter(AVFilterContext*& context, const char* filter, const char* name) {
    context = avfilter_graph_alloc_filter(graph.get(), avfilter_get_by_name(filter), name);
    if (context == nullptr)
        throw MediaError(MediaError::Code::decodeFailed,
                         std::string("no ") + filter + " filter for " + path.string());
}

void StreamState::buildGraph() {
    graph.reset();
    source = nullptr;
    sink = nullptr;
    nextPts = 0;
    graphInputEnded = false;
    if (rate == 1.0)
        return;
    graph.reset(avfilter_graph_alloc());
    if (!graph)
        throw std::bad_alloc();
    AVFilterContext* tempo = nullptr;
    AVFilterContext* format = nullptr;
    addFilter(source, "abuffer", "in");
    addFilter(tempo, "atempo", "tempo");
    addFilter(format, "aformat", "format");
    addFilter(sink, "abuffersink", "out");

    // Options are set as numbers, not text, so that no locale's decimal comma gets in the way.
    const char* layoutName = channels() == 1 ? "mono" : "stereo";
    int result = av_opt_set_int(source, "sample_rate", decoder.sampleRate(), AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = av_opt_set_sample_fmt(source, "sample_fmt", AV_SAMPLE_FMT_FLT, AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = av_opt_set(source, "channel_layout", layoutName, AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result =
            av_opt_set_q(source, "time_base", AVRational{1, decoder.sampleRate()}, AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = avfilter_init_str(source, nullptr);
    if (result >= 0)
        result = av_opt_set_double(tempo, "tempo", rate, AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = avfilter_init_str(tempo, nullptr);
    if (result >= 0)
        result = av_opt_set(format, "sample_fmts", "flt", AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = av_opt_set(format, "sample_rates", std::to_string(decoder.sampleRate()).c_str(),
                            AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = av_opt_set(format, "channel_layouts", layoutName, AV_OPT_SEARCH_CHILDREN);
    if (result >= 0)
        result = avfilter_init_str(format, nullptr);
    if (result >= 0)
        result = avfilter_init_str(sink, nullptr);
    if (result >= 0)
        result = avfilter_link(source, 0, tempo, 0);
    if (result >= 0)
        result = avfilter_link(tempo, 0, format, 0);
    if (result >= 0)
        result = avfilter_link(format, 0, sink, 0);
    if (result >= 0)
        result = avfilter_graph_config(graph.get(), nullptr);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "set up the tempo filter for", path, result);
}

void StreamState::reset() {
    pending.clear();
    pendingOffset = 0;
    finished = false;
    buildGraph();
}

void StreamState::append(const float* samples, std::size_t frames) {
    if (pendingOffset == pending.size()) {
        pending.clear();
        pendingOffset = 0;
    }
    pending.insert(pending.end(), samples, samples + frames * std::size_t(channels()));
}

// Takes what the tempo filter has ready; false when it needs more input (or has ended).
bool StreamState::pullFiltered() {
    int result = av_buffersink_get_frame(sink, frame.get());
    if (result == AVERROR(EAGAIN))
        return false;
    if (result == AVERROR_EOF) {
        finished = true;
        return false;
    }
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "change the tempo of", path, result);
    append(reinterpret_cast<const float*>(frame->data[0]), std::size_t(frame->nb_samples));
    av_frame_unref(frame.get());
    return true;
}

void StreamState::pushToGraph(std::size_t frames) {
    if (frames == 0) {
        graphInputEnded = true;
        int result = av_buffersrc_add_frame(source, nullptr);
        if (result < 0)
            ffmpeg::fail(MediaError::Code::decodeFailed, "change the tempo of", path, result);
        return;
    }
    frame->format = AV_SAMPLE_FMT_FLT;
    frame->sample_rate = decoder.sampleRate();
    frame->nb_samples = int(frames);
    frame->pts = nextPts;
    nextPts += std::int64_t(frames);
    int result = av_channel_layout_copy(&frame->ch_layout, &layout.get());
    if (result >= 0)
        result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0) {
        av_frame_unref(frame.get());
        ffmpeg::fail(MediaError::Code::decodeFailed, "change the tempo of", path, result);
    }
    std::memcpy(frame->data[0], decoded.data(), frames * std::size_t(channels()) * sizeof(float));
    // The source takes the frame's buffers and leaves it empty.
    result = av_buffersrc_add_frame(source, frame.get());
    av_frame_unref(frame.get());
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "change the tempo of", path, result);
}

// Produces more output into `pending`; false once the file has been played out.
bool StreamState::refill() {
    while (!finished && pendingOffset == pending.size()) {
        if (!graph) {
            std::size_t frames = decoder.read(decoded);
            if (frames == 0)
                finished = true;
            else
                append(decoded.data(), frames);
            continue;
        }
        if (pullFiltered() || finished)
            continue;
        if (graphInputEnded) {
            finished = true; // the filter asked for input after its end: nothing more comes
            continue;
        }
        pushToGraph(decoder.read(decoded));
    }
    return pendingOffset < pending.size();
}

namespace {

class FfmpegAudioStream final : public AudioStreamEngine {
public:
    explicit FfmpegAudioStream(const fs::path& path) : state_(path, AudioDecoder(path, outputFormat())) {}

    int sampleRate() const override { return state_.decoder.sampleRate(); }
    int channels() const override { return state_.channels(); }
    double duration() const override {
        double seconds = state_.decoder.track().duration;
        return std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
    }
    double rate() const override { return state_.rate; }
    void setRate(double rate) override {
        state_.rate = rate;
        state_.reset();
    }
    void seek(double seconds) override {
        state_.decoder.seek(seconds);
        state_.reset();
    }

    std::size_t read(std::span<float> into) override {
        StreamState& s = state_;
        auto channels = std::size_t(s.channels());
        std::size_t wanted = into.size() / channels;
        std::size_t done = 0;
        while (done < wanted) {
            if (s.pendingOffset == s.pending.size() && !s.refill())
                break;
            std::size_t n = std::min((s.pending.size() - s.pendingOffset) / channels, wanted - done);
            std::memcpy(into.data() + done * channels, s.pending.data() + s.pendingOffset,
                        n * channels * sizeof(float));
            s.pendingOffset += n * channels;
            done += n;
        }
        return done;
    }

private:
    static AudioOutputFormat outputFormat() {
        AudioOutputFormat format;
        format.maxSampleRate = AudioStreamDecoder::maxSampleRate;
        format.maxChannels = 2;
        return format;
    }

    StreamState state_;
};

} // namespace

std::unique_ptr<AudioStreamEngine> ffmpeg::openStream(const fs::path& path) {
    return std::make_unique<FfmpegAudioStream>(path);
}

} // namespace nuvel
