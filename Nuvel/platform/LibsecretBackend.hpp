#pragma once

#include "NuvelKit/store/SecretBackend.hpp"

#include <memory>

namespace nuvel {

// Items in the desktop keyring through the Secret Service (libsecret). Each item carries the
// attributes "service" and "account"; its value is stored as binary.
class LibsecretBackend final : public SecretBackend {
public:
    std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) override;
    std::int32_t update(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t add(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t remove(const std::string& service, const std::string& account) override;

    // True when a Secret Service answers on the session bus.
    static bool isAvailable();
};

// The keyring, with the owner-only file store behind it for the times no Secret Service
// answers (FallbackSecretBackend: asked on every call, items move into the keyring once it
// answers).
std::shared_ptr<SecretBackend> makeSystemSecretBackend();

} // namespace nuvel
