#include "NuvelKit/store/KeychainVault.hpp"

namespace nuvel {

VaultError::VaultError(std::int32_t status)
    : Error("keychain status " + std::to_string(status)), status_(status) {}

KeychainVault::KeychainVault(std::string service, std::shared_ptr<SecretBackend> backend)
    : service_(std::move(service)), backend_(std::move(backend)) {}

std::optional<Bytes> KeychainVault::load(const std::string& account) const {
    Bytes out;
    std::int32_t status = backend_->copy(service_, account, out);
    if (status == keychainStatus::itemNotFound)
        return std::nullopt;
    if (status != keychainStatus::success)
        throw VaultError(status);
    return out;
}

void KeychainVault::save(ByteView data, const std::string& account) const {
    std::int32_t status = backend_->update(service_, account, data);
    if (status == keychainStatus::success)
        return;
    if (status != keychainStatus::itemNotFound)
        throw VaultError(status);
    status = backend_->add(service_, account, data);
    if (status != keychainStatus::success)
        throw VaultError(status);
}

void KeychainVault::remove(const std::string& account) const {
    std::int32_t status = backend_->remove(service_, account);
    if (status != keychainStatus::success && status != keychainStatus::itemNotFound)
        throw VaultError(status);
}

SymmetricKey KeychainVault::mediaKey(const std::string& suffix, bool requireExisting) const {
    const std::string account = mediaKeyPrefix + suffix;
    if (auto stored = load(account)) {
        if (stored->size() != SymmetricKey::size)
            throw VaultError(keychainStatus::decode);
        return SymmetricKey::fromBytes(*stored);
    }
    if (requireExisting)
        throw VaultError(keychainStatus::itemNotFound);
    SymmetricKey key = SymmetricKey::random();
    save(key.bytes(), account);
    return key;
}

} // namespace nuvel
