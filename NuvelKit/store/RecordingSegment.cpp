#include "NuvelKit/store/RecordingSegment.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/StoreJson.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace nuvel {

RecordingSegment RecordingSegment::make(Uuid id, Date startedAt, std::string fileExtension,
                                        std::optional<std::int64_t> capturedFrameStart,
                                        std::optional<std::string> captureFileKind, double duration) {
    if (fileExtension != "m4a" && fileExtension != "caf")
        throw RecordingError(RecordingError::Code::unsafePath);
    if (!std::isfinite(duration) || !(duration > 0))
        throw RecordingError(RecordingError::Code::invalidDuration);
    return RecordingSegment{
        id, duration, startedAt, std::move(fileExtension), capturedFrameStart, std::move(captureFileKind)};
}

std::string RecordingSegment::fileName() const {
    const std::string uuid = id.uppercase();
    if (captureFileKind == "live" && capturedFrameStart) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%020" PRId64, *capturedFrameStart);
        return "live-" + std::string(digits) + "-" + uuid + ".caf";
    }
    const std::string extension = fileExtension.value_or("m4a");
    if (!capturedFrameStart)
        return "stage-" + uuid + "." + extension;
    return "checkpoint-" + uuid + "." + extension;
}

json::Ordered RecordingSegment::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = storejson::encode(id);
    o["duration"] = duration;
    o["startedAt"] = storejson::encode(startedAt);
    json::putOptional(o, "fileExtension", fileExtension);
    json::putOptional(o, "capturedFrameStart", capturedFrameStart);
    json::putOptional(o, "captureFileKind", captureFileKind);
    return o;
}

RecordingSegment RecordingSegment::fromJson(const json::Reader& r) {
    RecordingSegment s;
    s.id = storejson::uuid(r, "id");
    s.duration = r.number("duration");
    s.startedAt = storejson::date(r, "startedAt");
    s.fileExtension = r.optString("fileExtension");
    s.capturedFrameStart = r.optInt64("capturedFrameStart");
    s.captureFileKind = r.optString("captureFileKind");
    return s;
}

} // namespace nuvel
