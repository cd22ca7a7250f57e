#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::expectAuthenticationFailure;
using test::expectRecordingError;
using test::namesIn;

constexpr std::size_t MiB = 1 << 20;
const std::string context = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D/11111111-2222-4333-8444-555555555555";

Bytes pattern(std::size_t size, std::uint8_t seed = 1) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = std::uint8_t(x >> 24);
    }
    return out;
}

void writeFile(const fs::path& path, ByteView bytes) {
    fs::remove(path);
    files::FileDescriptor fd = files::createExclusive(path);
    fd.writeAll(bytes, path);
}

// The records of a container, checked for the header and well-formed framing.
std::vector<Bytes> records(const Bytes& container) {
    EXPECT_TRUE(std::equal(EncryptedMedia::header.begin(), EncryptedMedia::header.end(), container.begin()));
    std::vector<Bytes> out;
    std::size_t at = EncryptedMedia::header.size();
    while (at + 4 <= container.size()) {
        std::size_t length = std::size_t(container[at]) << 24 | std::size_t(container[at + 1]) << 16 |
                             std::size_t(container[at + 2]) << 8 | container[at + 3];
        at += 4;
        out.emplace_back(container.begin() + std::ptrdiff_t(at),
                         container.begin() + std::ptrdiff_t(at + length));
        at += length;
    }
    EXPECT_EQ(at, container.size());
    return out;
}

Bytes container(const std::vector<Bytes>& boxes) {
    Bytes out = bytesOf(EncryptedMedia::header);
    for (const Bytes& box : boxes) {
        auto n = std::uint32_t(box.size());
        out.insert(out.end(),
                   {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
        out.insert(out.end(), box.begin(), box.end());
    }
    return out;
}

class EncryptedMediaTest : public testing::Test {
protected:
    test::TempDir dir{"media"};
    SymmetricKey key = SymmetricKey::random();
    fs::path clear = dir / "in.caf";
    fs::path sealed = dir / "asset.nuvel";
    fs::path output = dir / "out.caf";

    Bytes seal(const Bytes& plaintext, const std::string& ctx = context) {
        writeFile(clear, plaintext);
        fs::remove(sealed);
        EncryptedMedia::encryptFile(clear, sealed, key, ctx);
        return files::readFile(sealed);
    }

    Bytes open(const std::string& ctx = context) {
        fs::remove(output);
        EncryptedMedia::decryptFile(sealed, output, key, ctx);
        return files::readFile(output);
    }

    // A decrypt of `tampered` that must fail leaves neither clear output nor a temporary file.
    template <class Check> void expectRejected(const Bytes& tampered, Check&& check) {
        writeFile(sealed, tampered);
        fs::remove(output);
        std::set<std::string> before = namesIn(dir.path());
        check([&] { EncryptedMedia::decryptFile(sealed, output, key, context); });
        EXPECT_EQ(namesIn(dir.path()), before);
    }
    void expectMalformed(const Bytes& tampered) {
        expectRejected(tampered,
                       [](auto run) { expectRecordingError(RecordingError::Code::invalidManifest, run); });
    }
    void expectUnauthentic(const Bytes& tampered) {
        expectRejected(tampered, [](auto run) { expectAuthenticationFailure(run); });
    }
};

TEST_F(EncryptedMediaTest, EmptyFileIsHeaderAndEndRecord) {
    Bytes file = seal({});
    ASSERT_EQ(file.size(), 40u);
    auto boxes = records(file);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(aesgcm::open(key, boxes[0], viewOf(context + "/end/0")).empty());
    EXPECT_TRUE(open().empty());
}

TEST_F(EncryptedMediaTest, ChunksOfOneMebibyteBoundToTheirPositionAndCount) {
    Bytes exact = pattern(MiB);
    auto boxes = records(seal(exact));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].size(), 1048604u);
    EXPECT_EQ(aesgcm::open(key, boxes[0], viewOf(context + "/0")), exact);
    EXPECT_EQ(boxes[1].size(), 28u);
    EXPECT_TRUE(aesgcm::open(key, boxes[1], viewOf(context + "/end/1")).empty());
    EXPECT_EQ(open(), exact);

    Bytes oneMore = pattern(MiB + 1, 2);
    boxes = records(seal(oneMore));
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(aesgcm::open(key, boxes[0], viewOf(context + "/0")).size(), MiB);
    EXPECT_EQ(aesgcm::open(key, boxes[1], viewOf(context + "/1")), Bytes{oneMore.back()});
    EXPECT_TRUE(aesgcm::open(key, boxes[2], viewOf(context + "/end/2")).empty());
    EXPECT_EQ(open(), oneMore);

    // Every record has a nonce of its own, and sealing again draws new ones.
    Bytes again = seal(oneMore);
    EXPECT_NE(records(again)[0], boxes[0]);
    EXPECT_FALSE(std::equal(boxes[0].begin(), boxes[0].begin() + 12, boxes[1].begin()));
}

TEST_F(EncryptedMediaTest, TheDigestFedWhileSealingIsOfTheClearBytesInOrder) {
    for (const std::size_t size : {std::size_t(0), std::size_t(1), MiB, 3 * MiB + 5}) {
        const Bytes plaintext = pattern(size, 3);
        writeFile(clear, plaintext);
        writeFile(sealed, {});
        Sha256 digest;
        EncryptedMedia::encrypt(files::openForReading(clear), files::openForWriting(sealed), key, context,
                                &digest);
        EXPECT_EQ(digest.finalize(), Sha256::hash(plaintext)) << size;
        EXPECT_EQ(open(), plaintext) << size;
    }
    // A digest that fails stops the seal with its error.
    Sha256 finished;
    finished.finalize();
    EXPECT_THROW(EncryptedMedia::encrypt(files::openForReading(clear), files::openForWriting(sealed), key,
                                         context, &finished),
                 CryptoError);
}

TEST_F(EncryptedMediaTest, TruncatedOrExtendedContainersAreMalformed) {
    const Bytes file = seal(pattern(2 * MiB + 100));
    auto boxes = records(file);
    ASSERT_EQ(boxes.size(), 4u);

    // Cut after each data record: the end record is missing.
    for (std::size_t keep = 0; keep < 3; ++keep)
        expectMalformed(container(std::vector<Bytes>(boxes.begin(), boxes.begin() + std::ptrdiff_t(keep))));
    expectMalformed(Bytes(file.begin(), file.end() - 1));              // end record short
    expectMalformed(Bytes(file.begin(), file.end() - 30));             // length field short
    expectMalformed(Bytes(file.begin(), file.begin() + 8 + 4 + 1000)); // data record short
    Bytes extended = file;
    extended.push_back(0);
    expectMalformed(extended);
}

TEST_F(EncryptedMediaTest, BadHeadersAndLengthsAreMalformed) {
    const Bytes file = seal(pattern(100));
    expectMalformed({});
    expectMalformed(bytesOf("NUVEL01"));
    expectMalformed(bytesOf("NUVEL01\n"));
    Bytes otherVersion = file;
    otherVersion[6] = '2';
    expectMalformed(otherVersion);
    for (std::uint32_t length : {0u, 27u, 1048605u, 0xffffffffu}) {
        Bytes bad = file;
        bad[8] = std::uint8_t(length >> 24);
        bad[9] = std::uint8_t(length >> 16);
        bad[10] = std::uint8_t(length >> 8);
        bad[11] = std::uint8_t(length);
        expectMalformed(bad);
    }
}

TEST_F(EncryptedMediaTest, RecordsThatDoNotBelongFailAuthentication) {
    const Bytes plaintext = pattern(3 * MiB);
    const Bytes file = seal(plaintext);
    const auto boxes = records(file);
    ASSERT_EQ(boxes.size(), 4u);

    // Another asset's context, another key: the first record fails.
    writeFile(sealed, file);
    expectAuthenticationFailure([&] { EncryptedMedia::decryptFile(sealed, output, key, context + "x"); });
    expectAuthenticationFailure(
        [&] { EncryptedMedia::decryptFile(sealed, output, SymmetricKey::random(), context); });
    EXPECT_FALSE(fs::exists(output));

    Bytes flipped = file;
    flipped[file.size() / 2] ^= 1;
    expectUnauthentic(flipped);

    // Two records swapped.
    expectUnauthentic(container({boxes[1], boxes[0], boxes[2], boxes[3]}));
    // A record dropped from the middle, or the last data record dropped: the end record
    // no longer matches the count.
    expectUnauthentic(container({boxes[0], boxes[2], boxes[3]}));
    expectUnauthentic(container({boxes[0], boxes[1], boxes[3]}));

    // The same audio sealed as another asset of the same recording: its record, put at the very
    // same position, still fails.
    const std::string otherAsset = context.substr(0, 37) + "22222222-2222-4333-8444-555555555555";
    const auto foreign = records(seal(plaintext, otherAsset));
    expectUnauthentic(container({foreign[0], boxes[1], boxes[2], boxes[3]}));
    expectUnauthentic(container({boxes[0], boxes[1], boxes[2], foreign[3]}));

    // The untouched container still opens.
    writeFile(sealed, file);
    EXPECT_EQ(open(), plaintext);
}

TEST_F(EncryptedMediaTest, TheDestinationIsNeverReplaced) {
    writeFile(clear, pattern(5000));
    writeFile(sealed, bytesOf("older asset"));
    auto before = namesIn(dir.path());
    expectRecordingError(RecordingError::Code::invalidManifest,
                         [&] { EncryptedMedia::encryptFile(clear, sealed, key, context); });
    EXPECT_EQ(files::readFile(sealed), bytesOf("older asset"));
    EXPECT_EQ(namesIn(dir.path()), before);

    seal(pattern(5000));
    writeFile(output, bytesOf("older copy"));
    expectRecordingError(RecordingError::Code::invalidManifest,
                         [&] { EncryptedMedia::decryptFile(sealed, output, key, context); });
    EXPECT_EQ(files::readFile(output), bytesOf("older copy"));

    // A dangling link is something at the destination too.
    fs::remove(output);
    fs::create_symlink(dir / "nowhere", output);
    expectRecordingError(RecordingError::Code::invalidManifest,
                         [&] { EncryptedMedia::decryptFile(sealed, output, key, context); });
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(EncryptedMediaTest, DriverFailuresLeaveNothingBehind) {
    auto before = namesIn(dir.path());
    EXPECT_THROW(EncryptedMedia::encryptFile(dir / "missing.caf", sealed, key, context),
                 fs::filesystem_error);
    EXPECT_EQ(namesIn(dir.path()), before);

    writeFile(clear, pattern(10));
    before = namesIn(dir.path());
    expectRecordingError(RecordingError::Code::missingMedia, [&] {
        EncryptedMedia::encryptFile(clear, dir / "no-folder" / "a.nuvel", key, context);
    });

    // A transform that writes clear bytes and then fails.
    struct Failed {};
    EXPECT_THROW(transcodeMediaFile(clear, output, true,
                                    [](const files::FileDescriptor&, const files::FileDescriptor& out) {
                                        out.writeAll(viewOf("clear audio"), {});
                                        throw Failed{};
                                    }),
                 Failed);
    EXPECT_EQ(namesIn(dir.path()), before);

    // The temporary file is named after the direction and created owner-only.
    std::string seen;
    mode_t mode = 0;
    transcodeMediaFile(clear, output, false,
                       [&](const files::FileDescriptor& in, const files::FileDescriptor& out) {
                           for (const auto& name : namesIn(dir.path()))
                               if (name.ends_with(".partial"))
                                   seen = name;
                           struct stat st {};
                           ::fstat(out.get(), &st);
                           mode = st.st_mode & 0777;
                           std::uint8_t b[16];
                           out.writeAll(ByteView(b, in.readUpTo(b, sizeof b, {})), {});
                       });
    EXPECT_TRUE(seen.starts_with("cipher-") && seen.size() == 7 + 36 + 8) << seen;
    EXPECT_EQ(mode, 0600u);
    EXPECT_EQ(files::readFile(output), pattern(10));
}

} // namespace
} // namespace nuvel
