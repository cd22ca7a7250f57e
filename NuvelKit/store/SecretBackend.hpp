#pragma once

#include "NuvelKit/support/Bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace nuvel {

// Keychain status codes, kept at the values callers already know.
namespace keychainStatus {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t itemNotFound = -25300;
inline constexpr std::int32_t duplicateItem = -25299;
inline constexpr std::int32_t notAvailable = -25291; // no keyring answers
inline constexpr std::int32_t authFailed = -25293;   // the keyring refused (locked, denied)
inline constexpr std::int32_t interactionNotAllowed = -25308;
inline constexpr std::int32_t ioError = -36;
inline constexpr std::int32_t param = -50;
inline constexpr std::int32_t decode = -26275; // stored data of the wrong form
} // namespace keychainStatus

// Generic-password items by service and account, the way a keyring holds them. Every
// operation answers a keychain status; only `copy` with success fills `out`.
class SecretBackend {
public:
    virtual ~SecretBackend() = default;
    virtual std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) = 0;
    // Replaces the data of an existing item; itemNotFound when there is none.
    virtual std::int32_t update(const std::string& service, const std::string& account, ByteView data) = 0;
    // Adds a new item; duplicateItem when one exists.
    virtual std::int32_t add(const std::string& service, const std::string& account, ByteView data) = 0;
    virtual std::int32_t remove(const std::string& service, const std::string& account) = 0;
};

// Items in memory (tests).
class MemorySecretBackend final : public SecretBackend {
public:
    std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) override;
    std::int32_t update(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t add(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t remove(const std::string& service, const std::string& account) override;

    std::size_t itemCount() const;
    // Makes every following call answer `status` (0 to stop).
    void failWith(std::int32_t status);

private:
    mutable std::mutex lock_;
    std::map<std::pair<std::string, std::string>, Bytes> items_;
    std::int32_t failure_ = keychainStatus::success;
};

// Items as owner-only files (folder 0700, files 0600), for desktops where no Secret Service
// answers. Weaker than a keyring: the data is protected only by file permissions.
class FileSecretBackend final : public SecretBackend {
public:
    explicit FileSecretBackend(std::filesystem::path folder);

    // $XDG_DATA_HOME/Nuvel/keyring (default ~/.local/share/Nuvel/keyring).
    static std::filesystem::path standardLocation();

    std::int32_t copy(const std::string& service, const std::string& account, Bytes& out) override;
    std::int32_t update(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t add(const std::string& service, const std::string& account, ByteView data) override;
    std::int32_t remove(const std::string& service, const std::string& account) override;

private:
    std::filesystem::path itemPath(const std::string& service, const std::string& account) const;

    std::filesystem::path folder_;
    std::mutex lock_;
};

} // namespace nuvel
