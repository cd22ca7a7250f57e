#include "NuvelKit/capture/CaptureTimeline.hpp"

namespace nuvel {

json::Ordered CaptureTimeline::Span::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["hostStart"] = hostStart;
    o["wallStart"] = wallStart.sinceReferenceDate;
    o["mediaFrameStart"] = mediaFrameStart;
    o["mediaFrameEnd"] = mediaFrameEnd;
    json::putOptional(o, "hostEnd", hostEnd);
    return o;
}

CaptureTimeline::Span CaptureTimeline::Span::fromJson(const json::Reader& r) {
    Span s;
    s.hostStart = r.number("hostStart");
    s.wallStart = Date{r.number("wallStart")};
    s.mediaFrameStart = r.int64("mediaFrameStart");
    s.mediaFrameEnd = r.int64("mediaFrameEnd");
    s.hostEnd = r.optNumber("hostEnd");
    return s;
}

json::Ordered CaptureTimeline::SourceInterval::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["source"] = source;
    o["sampleRate"] = sampleRate;
    o["span"] = span;
    o["hostStart"] = hostStart;
    o["hostEnd"] = hostEnd;
    o["mediaFrameStart"] = mediaFrameStart;
    o["mediaFrameEnd"] = mediaFrameEnd;
    o["sourceFrames"] = sourceFrames;
    return o;
}

CaptureTimeline::SourceInterval CaptureTimeline::SourceInterval::fromJson(const json::Reader& r) {
    SourceInterval i;
    i.source = r.string("source");
    i.sampleRate = r.number("sampleRate");
    i.span = r.int64("span");
    i.hostStart = r.number("hostStart");
    i.hostEnd = r.number("hostEnd");
    i.mediaFrameStart = r.int64("mediaFrameStart");
    i.mediaFrameEnd = r.int64("mediaFrameEnd");
    i.sourceFrames = r.int64("sourceFrames");
    return i;
}

json::Ordered CaptureTimeline::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["version"] = version;
    o["mixVersion"] = mixVersion;
    o["outputSampleRate"] = outputSampleRate;
    json::Ordered spanArray = json::Ordered::array();
    for (const Span& s : spans)
        spanArray.push_back(s.toJson());
    o["spans"] = std::move(spanArray);
    json::Ordered intervalArray = json::Ordered::array();
    for (const SourceInterval& i : intervals)
        intervalArray.push_back(i.toJson());
    o["intervals"] = std::move(intervalArray);
    o["committedFrames"] = committedFrames;
    return o;
}

CaptureTimeline CaptureTimeline::fromJson(const json::Reader& r) {
    CaptureTimeline t;
    t.version = r.int64("version");
    t.mixVersion = r.int64("mixVersion");
    t.outputSampleRate = r.number("outputSampleRate");
    t.spans = r.objectList<Span>("spans", &Span::fromJson);
    t.intervals = r.objectList<SourceInterval>("intervals", &SourceInterval::fromJson);
    t.committedFrames = r.int64("committedFrames");
    return t;
}

} // namespace nuvel
