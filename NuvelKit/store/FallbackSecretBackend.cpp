#include "NuvelKit/store/FallbackSecretBackend.hpp"

namespace nuvel {
namespace {

using namespace keychainStatus;

bool absent(std::int32_t status) {
    return status == itemNotFound;
}

} // namespace

FallbackSecretBackend::FallbackSecretBackend(std::shared_ptr<SecretBackend> keyring,
                                             std::shared_ptr<SecretBackend> files)
    : keyring_(std::move(keyring)), files_(std::move(files)) {}

std::int32_t FallbackSecretBackend::moveToKeyring(const std::string& service, const std::string& account,
                                                  ByteView data) {
    const std::int32_t added = keyring_->add(service, account, data);
    // The keyring holds it now: the weaker copy goes. A file that will not go is read again
    // next time and only moved again.
    if (added == success)
        files_->remove(service, account);
    return added;
}

std::int32_t FallbackSecretBackend::copy(const std::string& service, const std::string& account, Bytes& out) {
    const std::int32_t inKeyring = keyring_->copy(service, account, out);
    if (inKeyring == success)
        return success;

    Bytes stored;
    const std::int32_t inFiles = files_->copy(service, account, stored);
    if (inFiles == success) {
        if (absent(inKeyring))
            moveToKeyring(service, account, stored);
        out = std::move(stored);
        return success;
    }
    // Neither holds it. A keyring that could not be asked about it decides, unless it is merely
    // away: then the files are the store, and their answer stands.
    if (inKeyring == notAvailable || absent(inKeyring))
        return inFiles;
    return inKeyring;
}

std::int32_t FallbackSecretBackend::update(const std::string& service, const std::string& account,
                                           ByteView data) {
    const std::int32_t inKeyring = keyring_->update(service, account, data);
    if (inKeyring == success) {
        files_->remove(service, account);
        return success;
    }
    if (inKeyring == notAvailable)
        return files_->update(service, account, data);
    if (!absent(inKeyring))
        return inKeyring;
    // Only the files hold it: the new value goes to the keyring instead.
    Bytes ignored;
    if (files_->copy(service, account, ignored) != success)
        return itemNotFound;
    return moveToKeyring(service, account, data);
}

std::int32_t FallbackSecretBackend::add(const std::string& service, const std::string& account,
                                        ByteView data) {
    const std::int32_t inKeyring = keyring_->add(service, account, data);
    if (inKeyring == notAvailable)
        return files_->add(service, account, data);
    if (inKeyring == success)
        files_->remove(service, account);
    return inKeyring;
}

std::int32_t FallbackSecretBackend::remove(const std::string& service, const std::string& account) {
    const std::int32_t inKeyring = keyring_->remove(service, account);
    const std::int32_t inFiles = files_->remove(service, account);
    if (inKeyring != success && !absent(inKeyring) && inKeyring != notAvailable)
        return inKeyring;
    if (inFiles != success && !absent(inFiles))
        return inFiles;
    return inKeyring == success || inFiles == success ? success : itemNotFound;
}

} // namespace nuvel
