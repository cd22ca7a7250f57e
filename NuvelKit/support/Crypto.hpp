#pragma once

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Error.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nuvel {

class CryptoError : public Error {
public:
    enum class Code {
        authenticationFailure,  // tag, key, nonce or authenticated data do not match
        incorrectParameterSize, // a combined box shorter than nonce + tag
        incorrectKeySize,       // a key that is not 32 bytes
        randomFailure,          // the system random generator failed
        underlying,             // the crypto library itself failed
    };
    CryptoError(Code code, std::string detail);
    Code code() const noexcept { return code_; }

private:
    Code code_;
};

// A 256-bit symmetric key. Wiped when destroyed.
class SymmetricKey {
public:
    static constexpr std::size_t size = 32;
    static SymmetricKey random();
    // Throws CryptoError::incorrectKeySize unless `bytes` holds exactly 32 bytes.
    static SymmetricKey fromBytes(ByteView bytes);

    SymmetricKey(const SymmetricKey&) = default;
    SymmetricKey& operator=(const SymmetricKey&) = default;
    ~SymmetricKey();

    ByteView bytes() const { return {raw_.data(), raw_.size()}; }
    bool operator==(const SymmetricKey& other) const;

private:
    SymmetricKey() = default;
    std::array<std::uint8_t, size> raw_{};
};

// AES-256-GCM in the combined form: 12-byte nonce ‖ ciphertext ‖ 16-byte tag.
struct SealedBox {
    static constexpr std::size_t nonceSize = 12;
    static constexpr std::size_t tagSize = 16;
    static constexpr std::size_t overhead = nonceSize + tagSize;

    std::array<std::uint8_t, nonceSize> nonce{};
    Bytes ciphertext;
    std::array<std::uint8_t, tagSize> tag{};

    // Throws CryptoError::incorrectParameterSize for fewer than 28 bytes.
    static SealedBox fromCombined(ByteView combined);
    Bytes combined() const;
};

namespace aesgcm {

// Seals with a fresh random nonce and returns the combined form.
Bytes seal(const SymmetricKey& key, ByteView plaintext, ByteView authenticatedData);
// The same into a buffer of the caller's (exactly plaintext + 28 bytes, else
// incorrectParameterSize): for streams that reuse one buffer for every record. The plaintext may
// already sit where its ciphertext goes (at out + 12): it is then sealed in place.
void sealInto(const SymmetricKey& key, ByteView plaintext, ByteView authenticatedData,
              std::span<std::uint8_t> out);
// Seals with the given nonce (test vectors only; production code never reuses nonces).
SealedBox sealWithNonce(const SymmetricKey& key, ByteView plaintext, ByteView authenticatedData,
                        const std::array<std::uint8_t, SealedBox::nonceSize>& nonce);
// Opens a combined box. Throws incorrectParameterSize or authenticationFailure.
Bytes open(const SymmetricKey& key, ByteView combined, ByteView authenticatedData);
Bytes open(const SymmetricKey& key, const SealedBox& box, ByteView authenticatedData);
// Opens a combined box into a buffer of the caller's (exactly the plaintext's size, else
// incorrectParameterSize). On authentication failure the buffer is wiped. The buffer may be the
// ciphertext's own place in the box (at combined + 12): the box is then opened in place.
void openInto(const SymmetricKey& key, ByteView combined, ByteView authenticatedData,
              std::span<std::uint8_t> out);

} // namespace aesgcm

using Sha256Digest = std::array<std::uint8_t, 32>;

// Streaming SHA-256.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(ByteView data);
    // Ends the computation; the object may not be updated afterwards.
    Sha256Digest finalize();

    static Sha256Digest hash(ByteView data);

private:
    void* ctx_;
    bool finished_ = false;
};

// Lower-case hexadecimal, two digits a byte, no separator.
std::string hexString(ByteView bytes);
inline std::string hexString(const Sha256Digest& digest) {
    return hexString(ByteView(digest));
}
// Parses hexadecimal of either case; nullopt for odd length or a non-hex character.
std::optional<Bytes> parseHex(std::string_view text);

// Bytes from the system's secure random generator.
Bytes randomBytes(std::size_t count);
void fillRandom(std::uint8_t* data, std::size_t count);

std::string base64Encode(ByteView bytes);
// Strict: standard alphabet, required padding, no white space; nullopt otherwise.
std::optional<Bytes> base64Decode(std::string_view text);
// base64url (RFC 4648 §5) without padding.
std::string base64UrlEncode(ByteView bytes);

} // namespace nuvel
