#pragma once

#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"

#include <filesystem>
#include <mutex>
#include <string>

namespace nuvel {

// The last workspace contract that passed validation, with the end of its offline lease.
// JSON: {"bootstrap": <the contract>, "validatedAt": <seconds since 2001>, "expiresAt": ...},
// all three required.
struct CachedNativeDiscovery {
    NativeBootstrap bootstrap;
    Date validatedAt;
    Date expiresAt;

    json::Ordered toJson() const;
    static CachedNativeDiscovery fromJson(const json::Value& value, const std::string& path = "$");
};

// The sealed cache of one account's last validated contract, so the signed-in workspace can be
// opened while the service cannot be reached.
//
// One file per account in `root`, named after the SHA-256 of the account id (the id itself
// never appears), holding only the AES-256-GCM combined form (nonce ‖ ciphertext ‖ tag) of the
// record's JSON. The authenticated data names the account, so a file copied to another
// account's name does not open. A save writes a complete, synchronised temporary file
// ("<UUID>.partial", 0600) and renames it over the old one: a reader sees the old contract or
// the new one, never a mixture.
//
// save, load and remove run one at a time per instance and block on the disk: call them from a
// worker thread.
class NativeDiscoveryCache {
public:
    static constexpr double maximumOfflineSeconds = 86400;

    // Throws MeetingCacheError::invalidScope for an empty account id (nothing is created);
    // otherwise creates `root` with its missing parents, owner-only (0700), and passes on the
    // file system's error. (There is no backup exclusion to set on Linux.)
    NativeDiscoveryCache(std::filesystem::path root, const SymmetricKey& key, std::string accountID);
    NativeDiscoveryCache(const NativeDiscoveryCache&) = delete;
    NativeDiscoveryCache& operator=(const NativeDiscoveryCache&) = delete;

    const std::filesystem::path& root() const { return root_; }
    const std::string& accountID() const { return accountID_; }
    // root / (64 lower-case hexadecimal digits of SHA-256(accountID)) + ".nuvel"
    const std::filesystem::path& file() const { return file_; }

    // Validates `bootstrap` for the account (RecordingError::invalidTransport, nothing touched),
    // then requires a finite offline lease above 0 seconds: without one, the cached file is
    // removed and MeetingCacheError::invalidLease thrown. The lease ends at `validatedAt` plus
    // the offline seconds, at most 24 hours. A temporary file that cannot be created or written
    // fails with RecordingError::invalidManifest; a failure to synchronise or rename passes the
    // file system's error on. No failure leaves a temporary file behind.
    void save(const NativeBootstrap& bootstrap, Date validatedAt);

    // The cached record, authentic, for this account and inside its lease at `now`. Passes on
    // the read error (also for a missing file), CryptoError (wrong key or account, altered
    // bytes), json::JsonError and the contract's RecordingError::invalidTransport; a lease span
    // outside (0, 24 h] or a `now` outside [validatedAt, expiresAt) is
    // MeetingCacheError::expired. Never changes or deletes the file.
    CachedNativeDiscovery load(Date now);

    // Deletes the file; no file is no error.
    void remove();

private:
    void removeLocked();

    std::filesystem::path root_;
    std::string accountID_;
    SymmetricKey key_;
    std::filesystem::path file_;
    Bytes context_;
    std::mutex mutex_;
};

} // namespace nuvel
