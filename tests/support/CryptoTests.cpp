#include "NuvelKit/support/Crypto.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nuvel;

namespace {

Bytes hex(std::string_view text) {
    return parseHex(text).value();
}

std::array<std::uint8_t, 12> nonceOf(std::string_view text) {
    Bytes b = hex(text);
    std::array<std::uint8_t, 12> n{};
    std::copy(b.begin(), b.end(), n.begin());
    return n;
}

struct GcmVector {
    const char* name;
    const char* key;
    const char* iv;
    const char* plaintext;
    const char* aad;
    const char* ciphertext;
    const char* tag;
};

// AES-256 cases of McGrew and Viega's published GCM test vectors (test cases 13-16).
const GcmVector vectors[] = {
    {"case13", "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"case14", "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "00000000000000000000000000000000", "", "cea7403d4d606b6e074ec5d3baf39d18",
     "d0d1c8a799996bf0265b98b5d48ab919"},
    {"case15", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf"
     "5aa0de6"
     "57ba637b391aafd255",
     "",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6"
     "393ba7a"
     "0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
    {"case16", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf"
     "5aa0de6"
     "57ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6"
     "393ba7a"
     "0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

CryptoError::Code codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CryptoError& e) {
        return e.code();
    }
    ADD_FAILURE() << "no CryptoError thrown";
    return CryptoError::Code::underlying;
}

} // namespace

TEST(AesGcm, PublishedVectorsSealAndOpen) {
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        auto key = SymmetricKey::fromBytes(hex(v.key));
        Bytes plaintext = hex(v.plaintext), aad = hex(v.aad);
        SealedBox box = aesgcm::sealWithNonce(key, plaintext, aad, nonceOf(v.iv));
        EXPECT_EQ(hexString(box.ciphertext), v.ciphertext);
        EXPECT_EQ(hexString(ByteView(box.tag)), v.tag);

        Bytes combined = hex(std::string(v.iv) + v.ciphertext + v.tag);
        EXPECT_EQ(box.combined(), combined);
        EXPECT_EQ(aesgcm::open(key, combined, aad), plaintext);
    }
}

TEST(AesGcm, AnyTamperingFailsAuthentication) {
    const auto& v = vectors[3];
    auto key = SymmetricKey::fromBytes(hex(v.key));
    Bytes aad = hex(v.aad);
    Bytes combined = hex(std::string(v.iv) + v.ciphertext + v.tag);

    for (std::size_t at : {std::size_t(0), std::size_t(11), std::size_t(12), combined.size() - 17,
                           combined.size() - 16, combined.size() - 1}) {
        Bytes bad = combined;
        bad[at] ^= 0x01;
        EXPECT_EQ(codeOf([&] { aesgcm::open(key, bad, aad); }), CryptoError::Code::authenticationFailure)
            << "byte " << at;
    }
    Bytes badAad = aad;
    badAad.back() ^= 0x80;
    EXPECT_EQ(codeOf([&] { aesgcm::open(key, combined, badAad); }), CryptoError::Code::authenticationFailure);
    EXPECT_EQ(codeOf([&] { aesgcm::open(key, combined, {}); }), CryptoError::Code::authenticationFailure);
    EXPECT_EQ(codeOf([&] { aesgcm::open(SymmetricKey::random(), combined, aad); }),
              CryptoError::Code::authenticationFailure);
    Bytes truncated(combined.begin(), combined.end() - 1);
    EXPECT_EQ(codeOf([&] { aesgcm::open(key, truncated, aad); }), CryptoError::Code::authenticationFailure);
}

TEST(AesGcm, SizesAreChecked) {
    auto key = SymmetricKey::random();
    EXPECT_EQ(codeOf([&] { SealedBox::fromCombined(Bytes(27)); }), CryptoError::Code::incorrectParameterSize);
    EXPECT_EQ(codeOf([&] { aesgcm::open(key, Bytes(27), {}); }), CryptoError::Code::incorrectParameterSize);
    EXPECT_EQ(codeOf([&] { SymmetricKey::fromBytes(Bytes(31)); }), CryptoError::Code::incorrectKeySize);
    EXPECT_EQ(codeOf([&] { SymmetricKey::fromBytes(Bytes(33)); }), CryptoError::Code::incorrectKeySize);

    // 28 bytes is an empty message; the box parses and the tag decides.
    Bytes empty = aesgcm::seal(key, {}, viewOf("x"));
    ASSERT_EQ(empty.size(), 28u);
    EXPECT_TRUE(aesgcm::open(key, empty, viewOf("x")).empty());
    EXPECT_EQ(SealedBox::fromCombined(empty).ciphertext.size(), 0u);
}

TEST(AesGcm, FreshNonceEverySeal) {
    auto key = SymmetricKey::random();
    Bytes a = aesgcm::seal(key, viewOf("same"), {});
    Bytes b = aesgcm::seal(key, viewOf("same"), {});
    EXPECT_NE(Bytes(a.begin(), a.begin() + 12), Bytes(b.begin(), b.begin() + 12));
    EXPECT_EQ(aesgcm::open(key, a, {}), bytesOf("same"));

    // A child process sealing under the same key never repeats a nonce its parent goes on to use.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Bytes sealed = aesgcm::seal(key, viewOf("same"), {});
        _exit(::write(pipeEnds[1], sealed.data(), 12) == 12 ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    Bytes childNonce(12);
    EXPECT_EQ(::read(pipeEnds[0], childNonce.data(), 12), 12);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Bytes c = aesgcm::seal(key, viewOf("same"), {});
    EXPECT_NE(childNonce, Bytes(c.begin(), c.begin() + 12));
}

TEST(AesGcm, CallerBuffersHoldExactlyTheCombinedFormOrThePlaintext) {
    auto key = SymmetricKey::random();
    const Bytes message = bytesOf("a record of audio");
    Bytes box(message.size() + 28);
    aesgcm::sealInto(key, message, viewOf("ctx/0"), box);
    EXPECT_EQ(aesgcm::open(key, box, viewOf("ctx/0")), message);
    Bytes clear(message.size());
    aesgcm::openInto(key, aesgcm::seal(key, message, viewOf("ctx/1")), viewOf("ctx/1"), clear);
    EXPECT_EQ(clear, message);

    Bytes wrong(message.size() + 27);
    EXPECT_EQ(codeOf([&] { aesgcm::sealInto(key, message, {}, wrong); }),
              CryptoError::Code::incorrectParameterSize);
    Bytes longer(message.size() + 1);
    EXPECT_EQ(codeOf([&] { aesgcm::openInto(key, box, viewOf("ctx/0"), longer); }),
              CryptoError::Code::incorrectParameterSize);
    EXPECT_EQ(codeOf([&] { aesgcm::openInto(key, Bytes(27), {}, std::span<std::uint8_t>()); }),
              CryptoError::Code::incorrectParameterSize);

    // A box that does not open leaves no clear bytes in the caller's buffer.
    box.back() ^= 1;
    EXPECT_EQ(codeOf([&] { aesgcm::openInto(key, box, viewOf("ctx/0"), clear); }),
              CryptoError::Code::authenticationFailure);
    EXPECT_EQ(clear, Bytes(message.size(), 0));

    // In place: the plaintext already where its ciphertext goes, and opened back where it was.
    Bytes inPlace(message.size() + 28);
    std::copy(message.begin(), message.end(), inPlace.begin() + 12);
    std::span<std::uint8_t> middle(inPlace.data() + 12, message.size());
    aesgcm::sealInto(key, middle, viewOf("ctx/2"), inPlace);
    EXPECT_EQ(aesgcm::open(key, inPlace, viewOf("ctx/2")), message);
    aesgcm::openInto(key, inPlace, viewOf("ctx/2"), middle);
    EXPECT_EQ(Bytes(middle.begin(), middle.end()), message);
}

TEST(Sha256, KnownDigestsAndStreaming) {
    EXPECT_EQ(hexString(Sha256::hash({})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexString(Sha256::hash(viewOf("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    Bytes data(200000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i * 31 + 7);
    Sha256Digest whole = Sha256::hash(data);
    for (std::size_t split :
         {std::size_t(0), std::size_t(1), std::size_t(63), std::size_t(64), std::size_t(99999)}) {
        Sha256 h;
        h.update(ByteView(data).first(split));
        h.update(ByteView(data).subspan(split));
        EXPECT_EQ(h.finalize(), whole) << split;
    }
    Sha256 done;
    done.finalize();
    EXPECT_THROW(done.update(viewOf("late")), CryptoError);
}

TEST(Hex, LowerCaseOutStrictIn) {
    EXPECT_EQ(hexString(Bytes{0x00, 0x0f, 0xab, 0xff}), "000fabff");
    EXPECT_EQ(parseHex("000FabFF"), (Bytes{0x00, 0x0f, 0xab, 0xff}));
    EXPECT_FALSE(parseHex("abc"));
    EXPECT_FALSE(parseHex("zz"));
    EXPECT_EQ(parseHex(""), Bytes{});
}

TEST(Base64, Rfc4648VectorsAndStrictDecoding) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
    for (auto [plain, encoded] : cases) {
        EXPECT_EQ(base64Encode(viewOf(plain)), encoded);
        EXPECT_EQ(base64Decode(encoded), bytesOf(plain));
    }
    for (const char* bad :
         {"Zg", "Zg=", "Z===", "Zm9v\n", " Zm9v", "Zh==", "Zm9=", "Zm=v", "Zm9v====", "Zm-v"})
        EXPECT_FALSE(base64Decode(bad)) << bad;

    EXPECT_EQ(base64UrlEncode(Bytes{0xfb, 0xff}), "-_8");
    EXPECT_EQ(base64UrlEncode(viewOf("f")), "Zg");
}

TEST(Random, FillsAndDiffers) {
    Bytes a = randomBytes(32), b = randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(randomBytes(0).empty());
}
