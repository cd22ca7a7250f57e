// Feeds arbitrary bytes to the decoders of the meeting cache's sealed files: the combined-box
// split, and the entry, draft and revocation documents found inside. Whatever decodes must
// encode again and decode to the same value; the hand-written scope encoder must produce JSON
// that reads back to the same ids.
#include "NuvelKit/meetings/MeetingCacheDocuments.hpp"
#include "NuvelKit/meetings/MeetingCacheScope.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace nuvel;

template <class Document> void roundTrip(ByteView input) {
    Document decoded;
    try {
        decoded = Document::decode(input);
    } catch (const json::JsonError&) {
        return; // refusing bad input is the expected outcome
    }
    // Anything that decoded is valid UTF-8 with finite numbers, so encoding may not fail.
    std::string again = decoded.encode();
    if (!(Document::decode(viewOf(again)) == decoded))
        std::abort();
}

void sealedBox(ByteView input) {
    static const SymmetricKey key = SymmetricKey::fromBytes(Bytes(SymmetricKey::size, 7));
    try {
        SealedBox box = SealedBox::fromCombined(input);
        if (box.combined() != Bytes(input.begin(), input.end()))
            std::abort();
        aesgcm::open(key, box, viewOf("folder/name"));
    } catch (const CryptoError&) {
    }
}

void scopeJson(ByteView input) {
    std::string text = stringOf(input);
    std::size_t split = text.find('\0');
    MeetingCacheScope scope{text.substr(0, split), split == std::string::npos ? "" : text.substr(split + 1)};
    if (!unicode::isValidUtf8(scope.accountID) || !unicode::isValidUtf8(scope.workspaceID))
        return;
    std::string encoded = scope.sortedKeyJson();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        auto c = static_cast<unsigned char>(encoded[i]);
        if (c < 0x20)
            std::abort(); // control characters are escaped
        if (c == '/' && (i == 0 || encoded[i - 1] != '\\'))
            std::abort(); // so is every slash
    }
    if (MeetingCacheScope::fromJson(json::parse(encoded)) != scope)
        std::abort();
    if (scope.directoryName().size() != 64)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteView input(data, size);
    roundTrip<MeetingCacheEntry>(input);
    roundTrip<MeetingCacheDraft>(input);
    roundTrip<MeetingCacheRevocations>(input);
    sealedBox(input);
    scopeJson(input);
    return 0;
}
