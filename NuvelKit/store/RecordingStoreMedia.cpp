// The store's media doors: sealing clear audio as an asset, clear working copies of an asset,
// and the removal of working files.
#include <system_error>

#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Files.hpp"

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

// Whether anything, a dangling link included, is at `path`.
bool somethingAt(const fs::path& path) {
    std::error_code ec;
    fs::file_status status = fs::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("stat", path, ec);
    return fs::exists(status);
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

} // namespace

void RecordingStore::sealClearMedia(const fs::path& source, const Uuid& recordingID, const Uuid& assetID) {
    Lock lock(mutex_);
    sealClearMediaUnlocked(source, recordingID, assetID);
}

fs::path RecordingStore::openClearCopy(const Uuid& recordingID, const Uuid& assetID, std::string_view extension) {
    Lock lock(mutex_);
    return openClearCopyUnlocked(recordingID, assetID, extension);
}

void RecordingStore::removeWorkingFiles(const fs::path& file) {
    Lock lock(mutex_);
    removeWorkingFilesUnlocked(file);
}

void RecordingStore::sealClearMediaUnlocked(const fs::path& source, const Uuid& recordingID,
                                            const Uuid& assetID) const {
    const fs::path folder = recordingDirectoryUnlocked(recordingID);
    const fs::path asset = assetPath(folder, assetID);
    const std::string context = assetContext(recordingID, assetID);

    if (!somethingAt(asset)) {
        transcodeMediaFile(source, asset, false,
                           [&](const files::FileDescriptor& input, const files::FileDescriptor& output) {
                               EncryptedMedia::encrypt(input, output, key_, context);
                               at(Moment::sealEncrypted);
                           });
    } else {
        // Sealed before, and the clear file outlived it: the asset must hold the same audio.
        const fs::path copy = workingFileURLUnlocked(recordingID, Uuid::random(), "m4a", "clear");
        std::string sealedDigest, sourceDigest;
        try {
            EncryptedMedia::decryptFile(asset, copy, key_, context);
            sealedDigest = sha256OfFile(copy);
            sourceDigest = sha256OfFile(source);
        } catch (...) {
            removeQuietly(copy);
            throw;
        }
        removeQuietly(copy);
        if (sealedDigest != sourceDigest) throw RecordingError(RecordingError::Code::invalidTransport);
        // The clear file is the only other copy of the audio: drop it only once the asset's name
        // is on stable storage too (a new asset's move syncs the folder itself).
        files::fsyncDirectory(folder);
    }
    at(Moment::sealPlaced);
    files::removeFileIfPresent(source);
}

fs::path RecordingStore::openClearCopyUnlocked(const Uuid& recordingID, const Uuid& assetID,
                                               std::string_view extension) const {
    if (!isMediaExtension(extension)) throw RecordingError(RecordingError::Code::unsafePath);
    const fs::path folder = existingRecordingDirectoryUnlocked(recordingID);
    const fs::path asset = assetPath(folder, assetID);
    fs::path copy = workingFileURLUnlocked(recordingID, Uuid::random(), extension, "clear");
    EncryptedMedia::decryptFile(asset, copy, key_, assetContext(recordingID, assetID));
    return copy;
}

void RecordingStore::removeWorkingFilesUnlocked(const fs::path& file) const {
    // Normalised before taking the folders, so "root/A/../../clear-x" cannot pass for a file of
    // a recording folder while it names one beside the root.
    const fs::path clean = fs::absolute(file).lexically_normal();
    if (clean.parent_path().parent_path() != normalizedRoot_) throw RecordingError(RecordingError::Code::unsafePath);
    const std::string name = clean.filename().string();
    if (!startsWith(name, "stage-") && !startsWith(name, "clear-") && !startsWith(name, "transport-"))
        throw RecordingError(RecordingError::Code::unsafePath);
    files::removeFileIfPresent(clean);
}

} // namespace nuvel
