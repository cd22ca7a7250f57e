#pragma once

#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Error.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

// A keyring status that was not expected.
class VaultError : public Error {
public:
    explicit VaultError(std::int32_t status);
    std::int32_t status() const noexcept { return status_; }

private:
    std::int32_t status_;
};

// The one wrapper over the keyring: generic-password items of one service. No cache; every
// call goes to the keyring.
class KeychainVault {
public:
    static constexpr const char* deviceSessionAccount = "device-session";
    static constexpr const char* mediaKeyPrefix = "media-v1-";

    KeychainVault(std::string service, std::shared_ptr<SecretBackend> backend);

    const std::string& service() const { return service_; }

    // The item's bytes, or nullopt when there is none.
    std::optional<Bytes> load(const std::string& account) const;
    // Updates the item, or adds it when there is none.
    void save(ByteView data, const std::string& account) const;
    // Deletes the item; a missing item is success.
    void remove(const std::string& account) const;

    // The 256-bit media key under "media-v1-" + suffix. Without a stored key: throws
    // VaultError(itemNotFound) when `requireExisting`, else makes, saves and returns a new one.
    // A stored key of any length but 32 bytes is corruption: VaultError(decode), and the
    // stored bytes are left untouched so the old recordings are never sealed under a new key.
    SymmetricKey mediaKey(const std::string& suffix, bool requireExisting) const;

private:
    std::string service_;
    std::shared_ptr<SecretBackend> backend_;
};

} // namespace nuvel
