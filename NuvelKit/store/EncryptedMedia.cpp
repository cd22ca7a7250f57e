#include "NuvelKit/store/EncryptedMedia.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
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

// How much of a container is written before its pages are sent on to storage.
constexpr std::int64_t writebackSpan = 8 << 20;

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

// Feeds a digest on a thread of its own, one piece at a time and in the order handed over.
class DigestThread {
public:
    explicit DigestThread(Sha256& digest) : digest_(digest), thread_([this] { run(); }) {}
    ~DigestThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    DigestThread(const DigestThread&) = delete;
    DigestThread& operator=(const DigestThread&) = delete;

    // Hands over the next piece, which must stay as it is until wait() returns.
    void start(ByteView piece) {
        {
            std::lock_guard lock(mutex_);
            piece_ = piece;
            pending_ = true;
        }
        changed_.notify_all();
    }
    // Until the piece handed over is digested; the digest's failure is thrown here.
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_; });
        if (error_)
            std::rethrow_exception(error_);
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return pending_ || stopping_; });
            if (stopping_)
                return;
            const ByteView piece = piece_;
            lock.unlock();
            std::exception_ptr error;
            try {
                digest_.update(piece);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error && !error_)
                error_ = error;
            pending_ = false;
            changed_.notify_all();
        }
    }

    Sha256& digest_;
    std::mutex mutex_;
    std::condition_variable changed_;
    ByteView piece_;
    bool pending_ = false;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::thread thread_; // last: it starts once the members above exist
};

} // namespace

void EncryptedMedia::encrypt(const files::FileDescriptor& input, const files::FileDescriptor& output,
                             const SymmetricKey& key, std::string_view context, Sha256* clearDigest) {
    output.writeAll(viewOf(header), {});
    // A buffer holds the length field and the box of one record: a chunk is read straight to
    // where its ciphertext goes and sealed in place, so a record is one read, one pass of the
    // cipher and one write. With a digest to feed there are two: while one record is digested (on
    // a thread of its own) the next is read into the other buffer, and while the next is digested
    // the first is sealed and written, so every chunk is digested before it is sealed in place,
    // and in the file's order. Without one, a single buffer is reused for every record, and a
    // small asset costs one allocation. Left uninitialised: every byte written is read first.
    struct Record {
        std::unique_ptr<std::uint8_t[]> framed;
        std::size_t got = 0;
        void allocate() { framed = std::make_unique_for_overwrite<std::uint8_t[]>(4 + maxRecordLength); }
        std::uint8_t* box() const { return framed.get() + 4; }
        std::uint8_t* chunk() const { return box() + SealedBox::nonceSize; }
    };
    const std::size_t buffers = clearDigest != nullptr ? 2 : 1;
    std::array<Record, 2> records;
    for (std::size_t i = 0; i < buffers; ++i)
        records[i].allocate();
    std::optional<DigestThread> digesting;
    if (clearDigest != nullptr)
        digesting.emplace(*clearDigest);
    // The container's pages are sent to storage as they are written, so that the sync that makes
    // an asset durable does not start writing only once the whole file is sealed.
    std::int64_t written = std::int64_t(header.size()), sentFrom = 0;
    records[0].got = input.readUpTo(records[0].chunk(), chunkSize, {});
    if (digesting)
        digesting->start(ByteView(records[0].chunk(), records[0].got));
    for (std::uint64_t index = 0;; ++index) {
        Record& record = records[index % buffers];
        Record& next = records[(index + 1) % buffers];
        const bool isEnd = record.got == 0;
        if (digesting) {
            if (!isEnd)
                next.got = input.readUpTo(next.chunk(), chunkSize, {});
            digesting->wait();
            if (!isEnd)
                digesting->start(ByteView(next.chunk(), next.got));
        }
        const std::string aad = isEnd ? endContext(context, index) : dataContext(context, index);
        const std::size_t length = record.got + SealedBox::overhead;
        putLength(record.framed.get(), length);
        aesgcm::sealInto(key, ByteView(record.chunk(), record.got), viewOf(aad),
                         std::span(record.box(), length));
        output.writeAll(ByteView(record.framed.get(), 4 + length), {});
        written += std::int64_t(4 + length);
        if (isEnd)
            return;
        if (written - sentFrom >= writebackSpan) {
            output.startWriteback(sentFrom, written - sentFrom);
            sentFrom = written;
        }
        if (!digesting)
            next.got = input.readUpTo(next.chunk(), chunkSize, {});
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
