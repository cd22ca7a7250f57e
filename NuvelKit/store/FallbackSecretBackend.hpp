#pragma once

#include "NuvelKit/store/SecretBackend.hpp"

#include <memory>

namespace nuvel {

// The keyring first, the owner-only file store second, decided on every call rather than once
// at start-up: a keyring that is briefly absent (a login autostart before it is up) sends new
// items to the files, and they move into the keyring as soon as it answers again.
//
// A call finds the keyring unreachable when it answers notAvailable. Reads try the keyring,
// then the files; an item found only in the files while the keyring answers is added to the
// keyring and its file removed (when the keyring refuses it, the file stays and is read again
// next time). Writes go to the keyring when it answers, and then remove any file copy; to the
// files only while it does not. Removal clears both.
//
// A keyring that answers but refuses (locked, denied) is never taken for "no item": without
// the item in the files, its status is passed on, so no caller makes a fresh key because the
// old one could not be read.
class FallbackSecretBackend final : public SecretBackend {
public:
    FallbackSecretBackend(std::shared_ptr<SecretBackend> keyring, std::shared_ptr<SecretBackend> files);

    std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) override;
    std::int32_t update(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t add(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t remove(const std::string& service, const std::string& account) override;

private:
    // Adds the files' item to the keyring, then removes the file; the keyring's status.
    std::int32_t moveToKeyring(const std::string& service, const std::string& account, ByteView data);

    std::shared_ptr<SecretBackend> keyring_;
    std::shared_ptr<SecretBackend> files_;
};

} // namespace nuvel
