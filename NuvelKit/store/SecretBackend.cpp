#include "NuvelKit/store/SecretBackend.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <cstdlib>

namespace nuvel {

std::int32_t MemorySecretBackend::copy(const std::string& service, const std::string& account, Bytes& out) {
    std::lock_guard guard(lock_);
    if (failure_ != keychainStatus::success)
        return failure_;
    auto it = items_.find({service, account});
    if (it == items_.end())
        return keychainStatus::itemNotFound;
    out = it->second;
    return keychainStatus::success;
}

std::int32_t MemorySecretBackend::update(const std::string& service, const std::string& account,
                                         ByteView data) {
    std::lock_guard guard(lock_);
    if (failure_ != keychainStatus::success)
        return failure_;
    auto it = items_.find({service, account});
    if (it == items_.end())
        return keychainStatus::itemNotFound;
    it->second.assign(data.begin(), data.end());
    return keychainStatus::success;
}

std::int32_t MemorySecretBackend::add(const std::string& service, const std::string& account, ByteView data) {
    std::lock_guard guard(lock_);
    if (failure_ != keychainStatus::success)
        return failure_;
    auto [it, inserted] = items_.try_emplace({service, account}, Bytes(data.begin(), data.end()));
    return inserted ? keychainStatus::success : keychainStatus::duplicateItem;
}

std::int32_t MemorySecretBackend::remove(const std::string& service, const std::string& account) {
    std::lock_guard guard(lock_);
    if (failure_ != keychainStatus::success)
        return failure_;
    return items_.erase({service, account}) > 0 ? keychainStatus::success : keychainStatus::itemNotFound;
}

std::size_t MemorySecretBackend::itemCount() const {
    std::lock_guard guard(lock_);
    return items_.size();
}

void MemorySecretBackend::failWith(std::int32_t status) {
    std::lock_guard guard(lock_);
    failure_ = status;
}

FileSecretBackend::FileSecretBackend(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path FileSecretBackend::standardLocation() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : "/") / ".local" / "share";
    }
    return base / "Nuvel" / "keyring";
}

std::filesystem::path FileSecretBackend::itemPath(const std::string& service,
                                                  const std::string& account) const {
    // The file name hides nothing secret but keeps arbitrary account names out of paths.
    std::string key = service + '\0' + account;
    return folder_ / (hexString(Sha256::hash(viewOf(key))) + ".item");
}

namespace {
std::int32_t statusOf(const std::filesystem::filesystem_error& e) {
    return e.code().value() == ENOENT ? keychainStatus::itemNotFound : keychainStatus::ioError;
}
} // namespace

std::int32_t FileSecretBackend::copy(const std::string& service, const std::string& account, Bytes& out) {
    std::lock_guard guard(lock_);
    try {
        out = files::readFile(itemPath(service, account));
        return keychainStatus::success;
    } catch (const std::filesystem::filesystem_error& e) {
        return statusOf(e);
    }
}

std::int32_t FileSecretBackend::update(const std::string& service, const std::string& account,
                                       ByteView data) {
    std::lock_guard guard(lock_);
    auto path = itemPath(service, account);
    try {
        if (!std::filesystem::exists(path))
            return keychainStatus::itemNotFound;
        files::atomicWrite(path, data);
        return keychainStatus::success;
    } catch (const std::filesystem::filesystem_error& e) {
        return statusOf(e);
    }
}

std::int32_t FileSecretBackend::add(const std::string& service, const std::string& account, ByteView data) {
    std::lock_guard guard(lock_);
    auto path = itemPath(service, account);
    try {
        files::createOwnerOnlyDirectories(folder_);
        if (std::filesystem::exists(path))
            return keychainStatus::duplicateItem;
        files::atomicWrite(path, data);
        return keychainStatus::success;
    } catch (const std::filesystem::filesystem_error& e) {
        return statusOf(e) == keychainStatus::itemNotFound ? keychainStatus::ioError : statusOf(e);
    }
}

std::int32_t FileSecretBackend::remove(const std::string& service, const std::string& account) {
    std::lock_guard guard(lock_);
    try {
        // Durable: the folder is synced after the removal.
        if (!files::removeFileIfPresent(itemPath(service, account)))
            return keychainStatus::itemNotFound;
        return keychainStatus::success;
    } catch (const std::filesystem::filesystem_error& e) {
        return statusOf(e);
    }
}

} // namespace nuvel
