#include "Nuvel/platform/KeyringModule.hpp"

#include "Nuvel/platform/ProgramModule.hpp"
#include "NuvelKit/store/FallbackSecretBackend.hpp"

#include <mutex>

namespace nuvel {

namespace {

SecretBackend* moduleKeyring() {
    static std::once_flag once;
    static SecretBackend* keyring = nullptr;
    std::call_once(once, [] {
        ProgramModuleEntry entry = loadProgramModule("nuvel-keyring.so", "nuvel_keyring_backend");
        if (entry.symbol != nullptr)
            keyring = reinterpret_cast<SecretBackend* (*)(int)>(entry.symbol)(keyringModuleInterface);
    });
    return keyring;
}

class ModuleSecretBackend final : public SecretBackend {
public:
    std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) override {
        SecretBackend* keyring = moduleKeyring();
        return keyring ? keyring->copy(service, account, out) : keychainStatus::notAvailable;
    }
    std::int32_t update(const std::string& service, const std::string& account, ByteView data) override {
        SecretBackend* keyring = moduleKeyring();
        return keyring ? keyring->update(service, account, data) : keychainStatus::notAvailable;
    }
    std::int32_t add(const std::string& service, const std::string& account, ByteView data) override {
        SecretBackend* keyring = moduleKeyring();
        return keyring ? keyring->add(service, account, data) : keychainStatus::notAvailable;
    }
    std::int32_t remove(const std::string& service, const std::string& account) override {
        SecretBackend* keyring = moduleKeyring();
        return keyring ? keyring->remove(service, account) : keychainStatus::notAvailable;
    }
};

} // namespace

std::shared_ptr<SecretBackend> makeProgramSecretBackend() {
    return std::make_shared<FallbackSecretBackend>(
        std::make_shared<ModuleSecretBackend>(),
        std::make_shared<FileSecretBackend>(FileSecretBackend::standardLocation()));
}

} // namespace nuvel
