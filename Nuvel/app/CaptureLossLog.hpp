#pragma once

#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/capture/CaptureSource.hpp"

#include <QLoggingCategory>
#include <memory>
#include <string>

namespace nuvel {

// The debug log of the capture, "nuvel.capture": off unless switched on with
// QT_LOGGING_RULES="nuvel.capture.debug=true". It holds one line per recording, when the
// recording ends: the audio the capture path lost meanwhile, by the six counts of
// CaptureLossTally.
Q_DECLARE_LOGGING_CATEGORY(captureLog)

// That line for `losses`: "recording ended: captureServerOverflows=0 ... captureMixerLateFrames=0".
std::string captureLossLine(const CaptureLosses& losses);

// `source` as the recording coordinator drives it, writing that line once: when it has stopped,
// or when it goes without having been stopped.
std::unique_ptr<CaptureSource> withCaptureLossLog(std::unique_ptr<CaptureSource> source);

} // namespace nuvel
