#pragma once

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace nuvel {

// The container every audio asset is stored in:
//
//   "NUVEL01\n" ‖ (u32 big-endian length ‖ AES-GCM combined box)* ‖ 00 00 00 1C ‖ end box
//
// The clear file is cut into chunks of at most 1 MiB. Data record i seals chunk i with the
// authenticated data context + "/" + i; the one end record seals nothing with context + "/end/" +
// the number of data records. A reader thus notices a changed byte, records reordered, dropped,
// taken from another asset or appended, and a file cut short.
namespace EncryptedMedia {

inline constexpr std::string_view header = "NUVEL01\n";
inline constexpr std::size_t chunkSize = 1 << 20;
inline constexpr std::size_t minRecordLength = SealedBox::overhead;             // the end record
inline constexpr std::size_t maxRecordLength = chunkSize + SealedBox::overhead; // 1,048,604

// Streams the clear input into a container. Read, write and crypto errors are thrown; what was
// written so far is left for the caller to discard. `clearDigest`, when given, is fed every clear
// byte sealed, in the same pass, on a thread of its own while the records before are sealed and
// written; the caller leaves it alone until the call returns.
void encrypt(const files::FileDescriptor& input, const files::FileDescriptor& output, const SymmetricKey& key,
             std::string_view context, Sha256* clearDigest = nullptr);

// Streams a container back to clear bytes. A bad header, a length field cut short or out of
// range, a record cut short or a byte after the end record throws
// RecordingError::invalidManifest; a record that does not open (wrong key or context, reordered,
// moved, changed, or a data-record count that the end record does not confirm) throws
// CryptoError::authenticationFailure. Clear bytes of the records before the failure may already
// have been written. `clearDigest`, when given, is fed every clear byte written, in the same pass.
void decrypt(const files::FileDescriptor& input, const files::FileDescriptor& output, const SymmetricKey& key,
             std::string_view context, Sha256* clearDigest = nullptr);

// The drivers of the two transforms over files (see transcodeMediaFile).
void encryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                 const SymmetricKey& key, std::string_view context);
void decryptFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                 const SymmetricKey& key, std::string_view context);

} // namespace EncryptedMedia

using MediaTransform =
    std::function<void(const files::FileDescriptor& input, const files::FileDescriptor& output)>;

// Runs `transform` from `source` into a private file beside `destination` ("clear-" when
// decrypting, else "cipher-", then a fresh UUID, then ".partial"; created 0600), flushes it to
// storage when encrypting (a clear copy is a disposable working file) and only then moves it to
// `destination`, never over an existing file. On every failure
// the private file is removed, so the destination is either absent or complete and no clear
// bytes of a failed decrypt stay on disk.
// Throws RecordingError::missingMedia when the private file cannot be created,
// RecordingError::invalidManifest when the destination exists; errors of opening the source, of
// the transform and of the file system pass through.
void transcodeMediaFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                        bool decrypting, const MediaTransform& transform);

} // namespace nuvel
