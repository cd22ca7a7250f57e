// The audio operations of NativeMeetingClient: the authorised audio request and the download
// into an owner-only file.

#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <optional>
#include <system_error>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void invalidTransport() {
    throw RecordingError(RecordingError::Code::invalidTransport);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Prefix comparison, case-sensitive, so parameters such as a codec list may follow.
bool isAudioContentType(std::string_view type) {
    return startsWith(type, "audio/") || startsWith(type, "video/mp4") ||
           startsWith(type, "application/octet-stream");
}

std::string codeForAudioStatus(int status) {
    switch (status) {
    case 401:
        return "unauthorized";
    case 410:
        return "audio_expired"; // the workspace's retention removed it
    default:
        return "audio_unavailable";
    }
}

// The download's working file, removed on every way out; after the move there is nothing left.
class TemporaryFile {
public:
    explicit TemporaryFile(fs::path path)
        : path_(std::move(path)), fd_(files::createExclusive(path_, 0600)) {}
    ~TemporaryFile() {
        fd_ = files::FileDescriptor();
        try {
            files::removeFileIfPresent(path_);
        } catch (...) {
            // Nothing more can be done about a file that refuses to go.
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const fs::path& path() const { return path_; }
    files::FileDescriptor& fd() { return fd_; }

private:
    fs::path path_;
    files::FileDescriptor fd_;
};

} // namespace

HttpRequest NativeMeetingClient::audioRequest(std::string_view meetingID, std::string_view token,
                                              std::optional<AudioByteRange> range) const {
    requireSafeID(meetingID);
    HttpRequest request;
    request.method = "GET";
    request.url = apiRoot_ + "meetings/" + std::string(meetingID) + "/audio";
    request.headers = {{"Authorization", authorization(token)}, {"Accept", "application/json"}};
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    if (range) {
        // "bytes=5-2" or "bytes=-3-9" is no range a server honours; it would answer with the whole file.
        if (range->first < 0 || range->last < range->first)
            invalidTransport();
        request.headers.emplace_back("Range", "bytes=" + std::to_string(range->first) + "-" +
                                                  std::to_string(range->last));
    }
    return request;
}

void NativeMeetingClient::downloadAudio(std::string_view meetingID, std::string_view token,
                                        const fs::path& destination, std::stop_token stop) const {
    HttpRequest request = audioRequest(meetingID, token);
    if (destination.empty() || !destination.has_filename())
        invalidTransport();

    // The working file lives beside the destination, so the final move is a rename within one
    // file system and can refuse to replace what is there. It is owner-only from its creation,
    // and made, with the destination's folder, only once the answer's head shows the audio: a
    // refusal leaves nothing behind, not even an empty folder.
    const fs::path folder = destination.parent_path();
    std::optional<TemporaryFile> temporary;
    auto prepare = [&] {
        createExcludedDirectory(folder);
        temporary.emplace((folder.empty() ? fs::path(".") : folder) /
                          (".nuvel-audio-" + hexString(randomBytes(8)) + ".part"));
    };
    bool headSeen = false;
    request.headSink = [&](const HttpResponse& head) {
        headSeen = true;
        const std::optional<std::string> type = head.header("Content-Type");
        if (head.status == 200 && type && isAudioContentType(*type))
            prepare();
    };
    request.bodySink = [&](ByteView bytes) {
        // A transport that skipped the head would have the audio land nowhere.
        if (!headSeen)
            invalidTransport();
        if (temporary)
            temporary->fd().writeAll(bytes, temporary->path()); // else a refusal's body
    };
    // The audio is as long as the meeting: no cap on its size.
    request.maxBodyBytes = 0;

    HttpResponse response = transport_->send(request, stop);

    if (response.status < 100 || response.status > 999)
        invalidTransport();
    // Exactly 200: a partial answer (206) is not the whole audio. The body is not read for a code.
    if (response.status != 200)
        throw MeetingClientError(response.status, codeForAudioStatus(response.status));
    std::optional<std::string> type = response.header("Content-Type");
    if (!type || !isAudioContentType(*type))
        invalidTransport();
    if (!temporary)
        prepare(); // an empty body from a transport that reports no head

    temporary->fd().close();
    try {
        files::moveNoReplace(temporary->path(), destination);
    } catch (const fs::filesystem_error& e) {
        // A file at the destination, whether it was there before or appeared meanwhile, stays.
        if (e.code() == std::errc::file_exists)
            invalidTransport();
        throw;
    }
}

} // namespace nuvel
