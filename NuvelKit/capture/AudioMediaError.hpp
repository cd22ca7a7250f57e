#pragma once

#include "NuvelKit/support/Error.hpp"

#include <string>

namespace nuvel {

// Failure of the audio-file layer (libsndfile and FFmpeg). File-system failures (a missing file,
// an existing destination, a full disk) are not media errors: they are thrown as
// std::filesystem::filesystem_error carrying the errno, like every other file operation.
//
// For callers that translate: `noAudioTrack` is the one case with its own meaning for a
// recording (a segment without audio is missing media; an import without audio has no usable
// duration). Every other case is a failure of the media framework and passes through unchanged.
class MediaError : public Error {
public:
    enum class Code {
        unreadable,      // not a file this layer can open, or its format cannot be read
        noAudioTrack,    // the file holds no audio track (a video-only movie, for example)
        invalidArgument, // a parameter or composition the operation cannot take (bad rate, nothing to export)
        decodeFailed,    // the audio could not be decoded, or decoding yielded no audio
        encodeFailed,    // the encoder or the container writer failed
        writeFailed,     // the audio-file library refused a write, or the writer failed earlier
        unavailable,     // the media framework itself could not be loaded
    };
    // `detail` is a short developer-facing description; for FFmpeg failures it ends with the
    // library's own error text.
    MediaError(Code code, std::string detail);
    Code code() const noexcept { return code_; }

private:
    Code code_;
};

const char* toString(MediaError::Code code);

} // namespace nuvel
