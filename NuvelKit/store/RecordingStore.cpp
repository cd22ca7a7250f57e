#include "NuvelKit/store/RecordingStore.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Files.hpp"

#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <system_error>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

constexpr std::array<std::string_view, 5> workingFileKinds = {"stage", "clear", "transport", "capture",
                                                              "checkpoint"};
constexpr std::array<std::string_view, 2> mediaExtensions = {"m4a", "caf"};

fs::path normalized(const fs::path& path) {
    fs::path clean = fs::absolute(path).lexically_normal();
    // "/a/b/" and "/a/b" name the same folder.
    if (!clean.has_filename() && clean.has_relative_path())
        clean = clean.parent_path();
    return clean;
}

RecordingStore::Options withDefaults(RecordingStore::Options options) {
    if (!options.availableCapacity)
        options.availableCapacity = volumeAvailableCapacity;
    return options;
}

std::string annotationsContext(const Uuid& recordingID) {
    return recordingID.uppercase() + "/annotations";
}

} // namespace

json::Ordered RecordingStore::Annotations::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["scratchpad"] = scratchpad;
    json::Ordered marks = json::Ordered::array();
    for (const Bookmark& b : bookmarks)
        marks.push_back(b.toJson());
    o["bookmarks"] = std::move(marks);
    if (notepad) {
        json::Ordered lines = json::Ordered::array();
        for (const NotepadLine& line : *notepad)
            lines.push_back(line.toJson());
        o["notepad"] = std::move(lines);
    }
    return o;
}

RecordingStore::Annotations RecordingStore::Annotations::fromJson(const json::Reader& r) {
    Annotations a;
    a.scratchpad = r.string("scratchpad");
    a.bookmarks = r.objectList<Bookmark>("bookmarks", &Bookmark::fromJson);
    a.notepad = r.optObjectList<NotepadLine>("notepad", &NotepadLine::fromJson);
    return a;
}

RecordingStore::RecordingStore(fs::path root, SymmetricKey key, Options options)
    : root_(std::move(root)), normalizedRoot_(normalized(root_)), key_(key),
      options_(withDefaults(std::move(options))) {
    createExcludedDirectory(root_);
}

bool RecordingStore::isWorkingFileKind(std::string_view kind) {
    for (std::string_view k : workingFileKinds)
        if (k == kind)
            return true;
    return false;
}

bool RecordingStore::isMediaExtension(std::string_view extension) {
    for (std::string_view e : mediaExtensions)
        if (e == extension)
            return true;
    return false;
}

fs::path RecordingStore::recordingDirectory(const Uuid& recordingID) {
    Lock lock(mutex_);
    return existingRecordingDirectoryUnlocked(recordingID);
}

fs::path RecordingStore::workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                        std::string_view extension, std::string_view kind) {
    Lock lock(mutex_);
    return workingFileURLUnlocked(recordingID, fileID, extension, kind);
}

void RecordingStore::saveManifest(const LocalRecording& recording) {
    Lock lock(mutex_);
    saveManifestUnlocked(recording);
}

void RecordingStore::saveManifestKeepingAnnotations(const LocalRecording& recording) {
    Lock lock(mutex_);
    const LocalRecording stored = loadRecordingUnlocked(recording.id);
    LocalRecording merged = recording;
    merged.scratchpad = stored.scratchpad;
    merged.bookmarks = stored.bookmarks;
    merged.notepad = stored.notepad;
    merged.notepadRevision = stored.notepadRevision;
    merged.notepadBase = stored.notepadBase;
    saveManifestUnlocked(merged);
}

void RecordingStore::saveNotepadSync(const LocalRecording& recording) {
    Lock lock(mutex_);
    LocalRecording stored = loadRecordingUnlocked(recording.id);
    stored.notepad = recording.notepad;
    stored.notepadRevision = recording.notepadRevision;
    stored.notepadBase = recording.notepadBase;
    saveManifestUnlocked(stored);
}

LocalRecording RecordingStore::loadRecording(const Uuid& id) {
    Lock lock(mutex_);
    return loadRecordingUnlocked(id);
}

void RecordingStore::saveAnnotations(const Uuid& recordingID, const Annotations& annotations) {
    Lock lock(mutex_);
    saveAnnotationsUnlocked(recordingID, annotations);
}

fs::path RecordingStore::recordingDirectoryUnlocked(const Uuid& recordingID) const {
    fs::path folder = root_ / recordingID.uppercase();
    createExcludedDirectory(folder);
    return folder;
}

fs::path RecordingStore::existingRecordingDirectoryUnlocked(const Uuid& recordingID) const {
    fs::path folder = root_ / recordingID.uppercase();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        if (!ec)
            ec = std::make_error_code(std::errc::no_such_file_or_directory);
        throw fs::filesystem_error("recording folder", folder, ec);
    }
    return folder;
}

fs::path RecordingStore::workingFileURLUnlocked(const Uuid& recordingID, const Uuid& fileID,
                                                std::string_view extension, std::string_view kind) const {
    if (!isWorkingFileKind(kind) || !isMediaExtension(extension))
        throw RecordingError(RecordingError::Code::unsafePath);
    fs::path folder = recordingDirectoryUnlocked(recordingID);
    std::string name(kind);
    name += '-';
    name += fileID.uppercase();
    name += '.';
    name += extension;
    return folder / name;
}

void RecordingStore::saveManifestUnlocked(const LocalRecording& recording) const {
    if (recording.version != 1)
        throw RecordingError(RecordingError::Code::invalidManifest);
    // Forgotten first: after a failed write the file may hold the old document or the new one.
    writtenManifest_.reset();
    const Bytes sealed =
        writeSealedDocument(recording.id, manifestFileName, recording.encoded(), recording.id.uppercase());
    writtenManifest_ = WrittenManifest{recording.id, Sha256::hash(sealed), recording};
}

LocalRecording RecordingStore::loadRecordingUnlocked(const Uuid& id) const {
    // Only read: an unknown id fails as the manifest's not-found and leaves no folder behind.
    const fs::path folder = root_ / id.uppercase();
    const Bytes sealed = files::readFile(folder / manifestFileName);
    LocalRecording recording = writtenManifest_ && writtenManifest_->id == id &&
                                       writtenManifest_->sealedDigest == Sha256::hash(sealed)
                                   ? writtenManifest_->recording
                                   : LocalRecording::decode(openSealedDocument(sealed, id.uppercase()));

    const fs::path annotationsFile = folder / annotationsFileName;
    if (fs::exists(annotationsFile)) {
        const json::Value document =
            json::parse(openSealedDocument(files::readFile(annotationsFile), annotationsContext(id)));
        Annotations annotations = Annotations::fromJson(json::Reader(document));
        recording.scratchpad = std::move(annotations.scratchpad);
        recording.bookmarks = std::move(annotations.bookmarks);
        if (annotations.notepad)
            recording.notepad = std::move(annotations.notepad);
    }

    recording.validate(id);
    return recording;
}

void RecordingStore::saveAnnotationsUnlocked(const Uuid& recordingID, const Annotations& annotations) const {
    writeSealedDocument(recordingID, annotationsFileName, json::dump(annotations.toJson()),
                        annotationsContext(recordingID));
}

Bytes RecordingStore::writeSealedDocument(const Uuid& recordingID, std::string_view name,
                                          std::string_view document,
                                          std::string_view authenticatedData) const {
    Bytes sealed = aesgcm::seal(key_, viewOf(document), viewOf(authenticatedData));
    const fs::path file = recordingDirectoryUnlocked(recordingID) / name;
    // The temporary file is created 0600 with O_EXCL, synced, renamed over the old document and
    // the folder synced: a crash leaves the old document or the new one, never neither.
    files::atomicWrite(file, sealed);
    // Created 0600 already; set again so the document's mode never rests on how it was created.
    if (::chmod(file.c_str(), 0600) != 0)
        files::throwErrno("chmod", file, errno);
    return sealed;
}

std::string RecordingStore::openSealedDocument(ByteView contents, std::string_view authenticatedData) const {
    const SealedBox box = SealedBox::fromCombined(contents);
    return stringOf(aesgcm::open(key_, box, viewOf(authenticatedData)));
}

fs::path RecordingStore::assetPath(const fs::path& folder, const Uuid& assetID) {
    return folder / (assetID.uppercase() + std::string(assetExtension));
}

std::string RecordingStore::assetContext(const Uuid& recordingID, const Uuid& assetID) {
    return recordingID.uppercase() + "/" + assetID.uppercase();
}

} // namespace nuvel
