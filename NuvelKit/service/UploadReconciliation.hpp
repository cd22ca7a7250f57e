#pragma once

#include "NuvelKit/service/NativeUploadStatus.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>

namespace nuvel {

// Send every part whose index is not acknowledged, cutting the file into parts of `partBytes`.
struct UploadResume {
    std::int64_t partBytes = 0;
    std::set<std::int64_t> acknowledged;

    bool operator==(const UploadResume&) const = default;
};

// The service accepted a commit of exactly this file: nothing is to be sent.
struct UploadAccepted {
    bool operator==(const UploadAccepted&) const = default;
};

using UploadReconciliation = std::variant<UploadResume, UploadAccepted>;

// What the device holds of an upload: the recording's cloud meeting and workspace, and the
// sealed transport file it sends (its size and SHA-256 as the commit carries it).
struct LocalUpload {
    std::optional<std::string> remoteID;
    std::optional<std::string> workspaceID;
    std::int64_t bytes = 0;
    std::string sha256;
};

// Reduces the service's upload status against the local transport file.
//
// Throws RecordingError::invalidTransport when the status does not describe this upload
// (version, meeting, workspace, part size, part limit, a part index out of range) or the file
// is empty; RecordingError::ambiguousRequest when the service accepted a commit of another file
// (another digest or part count), which must not be sent again on its own; and APIError 409
// "upload_unavailable" when nothing was accepted and the service takes no more parts. Parts
// whose size is not the one expected are left out, so they are sent again.
UploadReconciliation reconcileUpload(const NativeUploadStatus& status, const LocalUpload& local);

// The number of parts of `bytes` cut into parts of `partBytes` (both above 0).
std::int64_t uploadPartCount(std::int64_t bytes, std::int64_t partBytes);

} // namespace nuvel
