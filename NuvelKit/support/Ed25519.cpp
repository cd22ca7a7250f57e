#include "NuvelKit/support/Ed25519.hpp"

#include <memory>
#include <openssl/evp.h>

namespace nuvel::ed25519 {

bool verify(ByteView publicKey, ByteView message, ByteView signature) {
    if (publicKey.size() != publicKeySize || signature.size() != signatureSize)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()),
        &EVP_PKEY_free);
    if (!key)
        return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}

} // namespace nuvel::ed25519
