#pragma once

#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/capture/CaptureSource.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace nuvel {

// What a new capture records.
struct CaptureRequest {
    Uuid recordingID;
    std::shared_ptr<WorkspaceStore> store;
    std::optional<SystemAudioSelection> systemAudio; // none: the microphone alone
    std::optional<std::uint32_t> microphoneDeviceID; // none: the default input
};

// Builds and starts capture sources for new recordings.
class CaptureFactory {
public:
    virtual ~CaptureFactory() = default;
    // The started source; throws when it cannot be made or started. The task runs on the main
    // queue; the sound server's blocking work (introspection, opening streams) runs on an
    // executor meanwhile, so the main queue is never held.
    virtual Task<std::unique_ptr<CaptureSource>> start(CaptureRequest request) = 0;
};

} // namespace nuvel
