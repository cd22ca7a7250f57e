// Feeds the updater's signed feed. The first byte chooses the road: odd, the rest is the
// envelope itself, read under a fixed key (no forged envelope may pass); even, the rest is a
// feed document that this target signs, so the reader behind the signature is reached. Only
// UpdateError leaves the reader; every item it gives has an address the updater fetches from
// and a whole signature's worth of base64; versions compare as an order.
//
//   build/fuzz/fuzz/fuzz_UpdateFeedFuzz -max_total_time=600 <work-corpus> fuzz/corpus/UpdateFeedFuzz
#include "Nuvel/platform/UpdateFeed.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <memory>
#include <openssl/evp.h>
#include <string>

namespace {

using namespace nuvel;

struct Signer {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, &EVP_PKEY_free};
    Bytes publicKey = Bytes(32);

    Signer() {
        const unsigned char seed[32] = {7};
        key.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, sizeof seed));
        std::size_t size = publicKey.size();
        if (!key || EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &size) != 1)
            std::abort();
    }
    Bytes sign(ByteView message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        Bytes signature(64);
        std::size_t size = signature.size();
        if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
            EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size()) != 1)
            std::abort();
        return signature;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Signer signer;
    fuzz::Input input(data, size);
    const bool raw = input.byte() & 1;
    const std::string_view body = input.rest();
    std::string envelope(body);
    if (!raw)
        envelope = "{\"feed\":\"" + base64Encode(viewOf(body)) + "\",\"signature\":\"" +
                   base64Encode(signer.sign(viewOf(body))) + "\"}";
    std::vector<UpdateItem> items;
    try {
        items = UpdateFeed::open(viewOf(envelope), signer.publicKey);
    } catch (const UpdateError&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::finding("an error other than UpdateError", error.what());
    }
    if (raw)
        fuzz::finding("an envelope nobody signed was read", body);
    for (const UpdateItem& item : items) {
        if (!UpdateSafety::isUpdateAddress(item.url))
            fuzz::finding("an item at an address the updater must not fetch", item.url);
        if (UpdateFeed::compareVersions(item.version, item.version) != 0)
            fuzz::finding("a version differs from itself", item.version);
        for (const UpdateItem& other : items)
            if (UpdateFeed::compareVersions(item.version, other.version) !=
                -UpdateFeed::compareVersions(other.version, item.version))
                fuzz::finding("versions compare both ways alike", item.version + " / " + other.version);
    }
    if (const std::optional<UpdateItem> best = UpdateFeed::newest(items, "1.0"))
        for (const UpdateItem& item : items)
            if (UpdateFeed::compareVersions(item.version, best->version) > 0)
                fuzz::finding("an item newer than the newest", item.version);
    return 0;
}
