// Feeds the decoders of the store's sealed documents: the combined-box split and opening, the
// manifest (a LocalRecording) and the annotations found inside. Whatever decodes must encode
// again to text that decodes to the same value and the same bytes, survive sealing and opening
// unchanged, and pass or fail the load checks with the store's own error only.
//
//   build/fuzz/fuzz/fuzz_SealedDocumentsFuzz -max_total_time=600 <work-corpus>
//   fuzz/corpus/SealedDocumentsFuzz
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <string>

namespace {

using namespace nuvel;

const SymmetricKey& key() {
    static const SymmetricKey k = SymmetricKey::fromBytes(Bytes(SymmetricKey::size, 0x33));
    return k;
}

void combinedBox(std::string_view bytes) {
    try {
        const SealedBox box = SealedBox::fromCombined(viewOf(bytes));
        if (box.combined() != bytesOf(bytes))
            fuzz::finding("a combined box does not split and join back", bytes);
        (void)aesgcm::open(key(), box, viewOf("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"));
    } catch (const CryptoError& e) {
        const bool expected = bytes.size() < SealedBox::overhead
                                  ? e.code() == CryptoError::Code::incorrectParameterSize
                                  : e.code() == CryptoError::Code::authenticationFailure;
        if (!expected)
            fuzz::finding("a box failed with the wrong error", bytes);
        return;
    }
    fuzz::finding("arbitrary bytes opened as a sealed document", bytes);
}

void manifest(std::string_view text) {
    LocalRecording recording;
    try {
        recording = LocalRecording::decode(text);
    } catch (const json::JsonError&) {
        return;
    }
    const std::string encoded = recording.encoded();
    const LocalRecording again = LocalRecording::decode(encoded);
    if (!(again == recording) || again.encoded() != encoded)
        fuzz::finding("a manifest does not round-trip", text);

    const std::string aad = recording.id.uppercase();
    const Bytes sealed = aesgcm::seal(key(), viewOf(encoded), viewOf(aad));
    if (!(LocalRecording::decode(stringOf(aesgcm::open(key(), sealed, viewOf(aad)))) == recording))
        fuzz::finding("a sealed manifest opens to another recording", text);

    try {
        recording.validate(recording.id);
    } catch (const RecordingError& e) {
        if (e.code() != RecordingError::Code::invalidManifest)
            fuzz::finding("validation failed with another error");
    }
    (void)recording.totalDuration();
    LocalRecording interrupted = recording;
    interrupted.markInterrupted();
    (void)LocalRecording::decode(interrupted.encoded());
}

void annotations(std::string_view text) {
    RecordingStore::Annotations decoded;
    try {
        decoded = RecordingStore::Annotations::fromJson(json::Reader(json::parse(text)));
    } catch (const json::JsonError&) {
        return;
    }
    const std::string encoded = json::dump(decoded.toJson());
    const RecordingStore::Annotations again =
        RecordingStore::Annotations::fromJson(json::Reader(json::parse(encoded)));
    if (!(again == decoded) || json::dump(again.toJson()) != encoded)
        fuzz::finding("annotations do not round-trip", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.byte();
    const std::string_view rest = in.rest();
    switch (mode % 3) {
    case 0:
        combinedBox(rest);
        break;
    case 1:
        manifest(rest);
        break;
    default:
        annotations(rest);
        break;
    }
    return 0;
}
