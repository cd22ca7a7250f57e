#pragma once

#include "Nuvel/model/upload/UploadQueue.hpp"

namespace nuvel {

// One run of the upload road: its own copy of the recording (saved and published after every
// durable step), and what was fixed when the send was started.
struct UploadQueue::Run {
    LocalRecording recording;
    DeviceSession session;
    std::shared_ptr<WorkspaceStore> store;
    bool automatic = false;
    std::optional<std::int64_t> maxSourceBytes;
    std::optional<NativeCapabilities> capabilities;
    // The composed file until it is sealed, then the decrypted copy the parts are read from.
    std::optional<std::filesystem::path> transportFile;
    TaskHandle heartbeat;

    bool capability(bool NativeCapabilities::*flag) const { return capabilities && (*capabilities).*flag; }
};

// The next part to send, read while the one before it goes: its bytes or the error of its read,
// once `reading` has finished.
struct UploadQueue::PartAhead {
    std::int64_t index = 0;
    Bytes bytes;
    std::exception_ptr error;
    TaskHandle reading;
};

} // namespace nuvel
