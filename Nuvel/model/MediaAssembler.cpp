#include "Nuvel/model/MediaAssembler.hpp"

#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

RecordingMediaAssembler::RecordingMediaAssembler(std::shared_ptr<MediaAssembly> assembly)
    : assembly_(std::move(assembly)) {}

std::filesystem::path RecordingMediaAssembler::assemble(const LocalRecording& recording,
                                                        WorkspaceStore& store) {
    RecordingStore* recordings = store.recordingStore();
    // Only a store over encrypted recording folders holds segments to compose.
    if (recordings == nullptr)
        throw RecordingError(RecordingError::Code::missingMedia);
    return assembly_->assemble(recording, *recordings);
}

MediaAssembler::FileDigest RecordingMediaAssembler::fileDigest(const std::filesystem::path& file) {
    MediaAssembly::FileDigest digest = assembly_->fileDigest(file);
    return {digest.sha256, digest.size};
}

Bytes RecordingMediaAssembler::readPart(const std::filesystem::path& file, std::int64_t index,
                                        std::int64_t partBytes) {
    return assembly_->readPart(file, index, partBytes);
}

double RecordingMediaAssembler::convertImport(const std::filesystem::path& source,
                                              const std::filesystem::path& target) {
    return assembly_->convertImport(source, target);
}

} // namespace nuvel
