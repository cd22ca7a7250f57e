#include "NuvelKit/store/EncryptedMedia.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

std::string dataContext(std::string_view context, std::uint64_t index) {
    std::string aad(context);
    aad += '/';
    aad += std::to_string(index);
    return aad;
}

std::string endContext(std::string_view context, std::uint64_t count) {
    std::string aad(context);
    aad += "/end/";
    aad += std::to_string(count);
    return aad;
}

void putLength(std::uint8_t* field, std::size_t length) {
    field[0] = std::uint8_t(length >> 24);
    field[1] = std::uint8_t(length >> 16);
    field[2] = std::uint8_t(length >> 8);
    field[3] = std::uint8_t(length);
}

[[noreturn]] void malformed() {
    throw RecordingError(RecordingError::Code::invalidManifest);
}

bool somethingAt(const fs::path& path) {
    std::error_code ec;
    fs::file_status status = fs::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("stat", path, ec);
    return fs::exists(status);
}

} // namespace

void EncryptedMedia::encrypt(const files::FileDescriptor& input, const files::FileDescriptor& output,
                             const SymmetricKey& key, std::string_view context, Sha256* clearDigest) {
    output.writeAll(viewOf(header), {});
    // One buffer for the length field and the box, reused for every record: the chunk is read
    // straight to where its ciphertext goes and sealed in place, so a record is one read, one
    // pass of the cipher and one write. Left uninitialised: every byte written is read first.
    auto framed = std::make_unique_for_overwrite<std::uint8_t[]>(4 + maxRecordLength);
    std::uint8_t* const box = framed.get() + 4;
    std::uint8_t* const chunk = box + SealedBox::nonceSize;
    std::uint64_t index = 0;
    for (;;) {
        const std::size_t got = input.readUpTo(chunk, chunkSize, {});
        const bool isEnd = got == 0;
        const std::string aad = isEnd ? endContext(context, index) : dataContext(context, index);
        const std::size_t length = got + SealedBox::overhead;
        putLength(framed.get(), length);
        if (clearDigest != nullptr)
            clearDigest->update(ByteView(chunk, got)); // before it is sealed in place
        aesgcm::sealInto(key, ByteView(chunk, got), viewOf(aad), std::span(box, length));
        output.writeAll(ByteView(framed.get(), 4 + length), {});
        if (isEnd)
            return;
        ++index;
    }
}

void EncryptedMedia::decrypt(const files::FileDescriptor& input, const files::FileDescriptor& output,
                             const SymmetricKey& key, std::string_view context, Sha256* clearDigest) {
    std::array<std::uint8_t, header.size()> head{};
    if (input.readUpTo(head.data(), head.size(), {}) != head.size() ||
        std::memcmp(head.data(), header.data(), header.size()) != 0)
        malformed();

    // One buffer, grown to the largest record met (at most maxRecordLength) so that a small asset
    // is not read through a mebibyte of buffer; each record opens in place, its clear bytes where
    // its ciphertext was. Fresh allocations are left uninitialised: a record is read in before use.
    std::unique_ptr<std::uint8_t[]> record;
    std::size_t capacity = 0;
    for (std::uint64_t index = 0;; ++index) {
        std::array<std::uint8_t, 4> field{};
        if (input.readUpTo(field.data(), field.size(), {}) != field.size())
            malformed();
        const std::size_t length = std::size_t(field[0]) << 24 | std::size_t(field[1]) << 16 |
                                   std::size_t(field[2]) << 8 | std::size_t(field[3]);
        if (length < minRecordLength || length > maxRecordLength)
            malformed();
        if (capacity < length) {
            record.reset();
            record = std::make_unique_for_overwrite<std::uint8_t[]>(length);
            capacity = length;
        }
        if (input.readUpTo(record.get(), length, {}) != length)
            malformed();

        const bool isEnd = length == minRecordLength;
        const std::string aad = isEnd ? endContext(context, index) : dataContext(context, index);
        // The combined form is parsed in place: nonce, ciphertext, tag.
        const std::size_t clearLength = length - SealedBox::overhead;
        std::uint8_t* const clear = record.get() + SealedBox::nonceSize;
        aesgcm::openInto(key, ByteView(record.get(), length), viewOf(aad), std::span(clear, clearLength));
        if (isEnd) {
            std::uint8_t extra = 0;
            if (input.readUpTo(&extra, 1, {}) != 0)
                malformed();
            return;
        }
        output.writeAll(ByteView(clear, clearLength), {});
        if (clearDigest != nullptr)
            clearDigest->update(ByteView(clear, clearLength));
    }
}

void EncryptedMedia::encryptFile(const fs::path& source, const fs::path& destination, const SymmetricKey& key,
                                 std::string_view context) {
    transcodeMediaFile(source, destination, false,
                       [&](const files::FileDescriptor& in, const files::FileDescriptor& out) {
                           encrypt(in, out, key, context);
                       });
}

void EncryptedMedia::decryptFile(const fs::path& source, const fs::path& destination, const SymmetricKey& key,
                                 std::string_view context) {
    transcodeMediaFile(source, destination, true,
                       [&](const files::FileDescriptor& in, const files::FileDescriptor& out) {
                           decrypt(in, out, key, context);
                       });
}

void transcodeMediaFile(const fs::path& source, const fs::path& destination, bool decrypting,
                        const MediaTransform& transform) {
    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    const fs::path temporary =
        folder / ((decrypting ? "clear-" : "cipher-") + Uuid::random().uppercase() + ".partial");

    files::FileDescriptor output;
    try {
        output = files::createExclusive(temporary, 0600);
    } catch (const fs::filesystem_error&) {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    // From here on the private file goes away on every failure; a failed decrypt may have put
    // clear audio in it.
    try {
        files::FileDescriptor input = files::openForReading(source);
        transform(input, output);
        // A sealed asset may be the only copy of its audio: on storage before it takes its name.
        // A clear copy is a working file that recovery deletes after a crash whatever it holds,
        // so flushing it would only make the caller wait.
        if (!decrypting)
            output.sync(temporary);
        output.close();
        if (somethingAt(destination))
            throw RecordingError(RecordingError::Code::invalidManifest);
        try {
            files::moveNoReplace(temporary, destination);
        } catch (const fs::filesystem_error& e) {
            // Someone created the destination after the check above: it is still never replaced.
            if (e.code() == std::errc::file_exists)
                throw RecordingError(RecordingError::Code::invalidManifest);
            throw;
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

} // namespace nuvel
