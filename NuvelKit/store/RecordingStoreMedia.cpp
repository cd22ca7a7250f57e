// The store's media doors: sealing clear audio as an asset, clear working copies of an asset,
// and the removal of working files.
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Files.hpp"

#include <system_error>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

// Whether anything, a dangling link included, is at `path`.
bool somethingAt(const fs::path& path) {
    std::error_code ec;
    fs::file_status status = fs::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("stat", path, ec);
    return fs::exists(status);
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The working files a caller may remove, by the start of their names.
bool isRemovableWorkingFile(std::string_view name) {
    return startsWith(name, "stage-") || startsWith(name, "clear-") || startsWith(name, "transport-");
}

// The digest taken while streaming, with the size of the clear file it was taken of.
RecordingStore::MediaDigest finished(Sha256& digest, const fs::path& file) {
    return {hexString(digest.finalize()), std::int64_t(fs::file_size(file))};
}

} // namespace

void RecordingStore::sealClearMedia(const fs::path& source, const Uuid& recordingID, const Uuid& assetID,
                                    MediaDigest* digest) {
    Lock lock(mutex_);
    sealClearMediaUnlocked(source, recordingID, assetID, digest);
}

fs::path RecordingStore::openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                       std::string_view extension, MediaDigest* digest) {
    Lock lock(mutex_);
    return openClearCopyUnlocked(recordingID, assetID, extension, digest);
}

fs::path RecordingStore::sealClearMediaKeepingCopy(const fs::path& source, const Uuid& recordingID,
                                                   const Uuid& assetID, MediaDigest& digest) {
    Lock lock(mutex_);
    const fs::path clean = workingFileUnlocked(source);
    std::string extension = clean.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    if (clean.parent_path() != normalizedRoot_ / recordingID.uppercase() || !isMediaExtension(extension))
        throw RecordingError(RecordingError::Code::unsafePath);
    placeSealUnlocked(clean, recordingID, assetID, &digest);
    at(Moment::sealPlaced);
    // A new name that no other working file has; moved durably, as every name the store changes.
    fs::path copy = workingFileURLUnlocked(recordingID, Uuid::random(), extension, "clear");
    files::moveNoReplace(clean, copy);
    return copy;
}

void RecordingStore::removeWorkingFiles(const fs::path& file) {
    Lock lock(mutex_);
    removeWorkingFilesUnlocked(file);
}

void RecordingStore::sealClearMediaUnlocked(const fs::path& source, const Uuid& recordingID,
                                            const Uuid& assetID, MediaDigest* digest) const {
    placeSealUnlocked(source, recordingID, assetID, digest);
    at(Moment::sealPlaced);
    files::removeFileIfPresent(source);
}

void RecordingStore::placeSealUnlocked(const fs::path& source, const Uuid& recordingID, const Uuid& assetID,
                                       MediaDigest* digest) const {
    const fs::path folder = recordingDirectoryUnlocked(recordingID);
    const fs::path asset = assetPath(folder, assetID);
    const std::string context = assetContext(recordingID, assetID);

    if (!somethingAt(asset)) {
        Sha256 sealed;
        transcodeMediaFile(source, asset, false,
                           [&](const files::FileDescriptor& input, const files::FileDescriptor& output) {
                               EncryptedMedia::encrypt(input, output, key_, context,
                                                       digest ? &sealed : nullptr);
                               at(Moment::sealEncrypted);
                           });
        if (digest)
            *digest = finished(sealed, source);
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
        if (sealedDigest != sourceDigest)
            throw RecordingError(RecordingError::Code::invalidTransport);
        if (digest)
            *digest = MediaDigest{sourceDigest, std::int64_t(fs::file_size(source))};
        // The clear file is the only other copy of the audio: drop it only once the asset's name
        // is on stable storage too (a new asset's move syncs the folder itself).
        files::fsyncDirectory(folder);
    }
}

fs::path RecordingStore::openClearCopyUnlocked(const Uuid& recordingID, const Uuid& assetID,
                                               std::string_view extension, MediaDigest* digest) const {
    if (!isMediaExtension(extension))
        throw RecordingError(RecordingError::Code::unsafePath);
    const fs::path folder = existingRecordingDirectoryUnlocked(recordingID);
    const fs::path asset = assetPath(folder, assetID);
    fs::path copy = workingFileURLUnlocked(recordingID, Uuid::random(), extension, "clear");
    if (!digest) {
        EncryptedMedia::decryptFile(asset, copy, key_, assetContext(recordingID, assetID));
        return copy;
    }
    Sha256 opened;
    transcodeMediaFile(
        asset, copy, true, [&](const files::FileDescriptor& input, const files::FileDescriptor& output) {
            EncryptedMedia::decrypt(input, output, key_, assetContext(recordingID, assetID), &opened);
        });
    try {
        *digest = finished(opened, copy);
    } catch (...) {
        removeQuietly(copy);
        throw;
    }
    return copy;
}

fs::path RecordingStore::workingFileUnlocked(const fs::path& file) const {
    // Normalised before taking the folders, so "root/A/../../clear-x" cannot pass for a file of
    // a recording folder while it names one beside the root.
    fs::path clean = fs::absolute(file).lexically_normal();
    if (clean.parent_path().parent_path() != normalizedRoot_ ||
        !isRemovableWorkingFile(clean.filename().string()))
        throw RecordingError(RecordingError::Code::unsafePath);
    return clean;
}

void RecordingStore::removeWorkingFilesUnlocked(const fs::path& file) const {
    files::removeFileIfPresent(workingFileUnlocked(file));
}

} // namespace nuvel
