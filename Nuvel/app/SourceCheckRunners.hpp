#pragma once

#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"

namespace nuvel {

// The source checks the sheet runs in the application: the microphone over its own sound-server
// connection on `executor`, and an application's or all system audio through `platform`. Both
// must outlive every sheet that uses the result.
SourceChecks makeSourceChecks(Executor& executor, CapturePlatform& platform);

} // namespace nuvel
