#include "NuvelKit/service/UploadReconciliation.hpp"

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>

namespace nuvel {

std::int64_t uploadPartCount(std::int64_t bytes, std::int64_t partBytes) {
    // Rounded up without forming bytes + partBytes - 1, which could overflow.
    return bytes / partBytes + (bytes % partBytes != 0 ? 1 : 0);
}

UploadReconciliation reconcileUpload(const NativeUploadStatus& status, const LocalUpload& local) {
    auto require = [](bool ok) {
        if (!ok)
            throw RecordingError(RecordingError::Code::invalidTransport);
    };
    require(status.contractVersion == 1);
    require(local.remoteID && *local.remoteID == status.id);
    if (local.workspaceID)
        require(*local.workspaceID == status.workspaceID);
    require(status.partBytes >= 1 && status.partBytes <= NativeBootstrap::maximumPartBytes);
    require(local.bytes > 0);
    const std::int64_t partCount = uploadPartCount(local.bytes, status.partBytes);
    require(status.maxParts >= partCount);

    if (status.commit && status.commit->accepted) {
        if (status.commit->sha256 == local.sha256 && status.commit->parts == partCount)
            return UploadAccepted{};
        throw RecordingError(RecordingError::Code::ambiguousRequest);
    }
    if (!status.canUpload)
        throw APIError(409, "upload_unavailable");

    UploadResume resume{status.partBytes, {}};
    for (const NativeUploadStatus::Part& part : status.parts) {
        require(part.index >= 0 && part.index < partCount);
        std::int64_t expected = std::min(status.partBytes, local.bytes - part.index * status.partBytes);
        if (part.bytes == expected)
            resume.acknowledged.insert(part.index);
    }
    return resume;
}

} // namespace nuvel
