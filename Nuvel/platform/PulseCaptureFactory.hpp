#pragma once

#include "Nuvel/model/CaptureSource.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"

#include <memory>

namespace nuvel {

// The application's capture sources: the microphone alone for a room recording, or an
// application's or all system audio together with the microphone, both writing into the
// workspace's recording store.
class PulseCaptureFactory final : public CaptureFactory {
public:
    // `platform` outlives the factory and every source it makes.
    explicit PulseCaptureFactory(CapturePlatform& platform) : platform_(platform) {}

    // Throws RecordingError(missingMedia) when the store is not backed by a recording store,
    // else whatever making or starting the source throws.
    Task<std::unique_ptr<CaptureSource>> start(CaptureRequest request) override;

private:
    CapturePlatform& platform_;
};

} // namespace nuvel
