#pragma once

#include "NuvelKit/meetings/MeetingCacheDocuments.hpp"
#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "NuvelKit/meetings/MeetingCacheLease.hpp"
#include "NuvelKit/meetings/MeetingCacheScope.hpp"
#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"

#include <concepts>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace nuvel {

// What the cache can hold: JSON itself, or a type with `toJson()` (giving json::Value or
// json::Ordered) for storing and `static T fromJson(const json::Value&)` for loading.
template <class T>
concept MeetingCacheEncodable = std::same_as<T, json::Value> || std::same_as<T, json::Ordered> ||
    requires(const T& value) {
    json::dump(value.toJson());
};
template <class T>
concept MeetingCacheDecodable = std::same_as<T, json::Value> || requires(const json::Value& value) {
    { T::fromJson(value) } -> std::convertible_to<T>;
};

// Encrypted offline copies of cloud-meeting data for one account in one workspace, plus
// correction drafts and the set of revoked ids.
//
// Everything lives in one folder per scope under the caller's root, named after the scope's
// digest. Each file is an AES-256-GCM box in combined form (nonce ‖ ciphertext ‖ tag, nothing
// else) whose authenticated data names the file's place ("<folder>/<name>"), so a file copied to
// another scope's folder or to another key's name fails to open. Entries carry an access lease
// of at most 24 hours, enforced when stored and again on every read; drafts have none.
//
// Every public operation runs start to end under the instance's mutex. Operations block on the
// disk: call them from a worker, never from the main thread.
class MeetingCache {
public:
    using Entry = MeetingCacheEntry;
    template <class T> struct Leased {
        T value;
        MeetingAuthorizationLease lease;
    };

    static constexpr double maximumOfflineSeconds = 86400;
    static constexpr const char* revocationsFileName = "revocations.nuvel";

    // Opens (creating when needed) the scope folder under `root` and loads the revocation set.
    // Throws MeetingCacheError::invalidScope for an empty id (nothing is created); a revocation
    // file that cannot be read, opened or decoded fails with that error, and the cache stays
    // closed until the file is purged (see the static `purge`).
    MeetingCache(const std::filesystem::path& root, const SymmetricKey& key, MeetingCacheScope scope);
    MeetingCache(const MeetingCache&) = delete;
    MeetingCache& operator=(const MeetingCache&) = delete;

    // Fixed at construction.
    const std::filesystem::path& root() const { return root_; }
    const MeetingCacheScope& scope() const { return scope_; }

    std::set<std::string, std::less<>> revocations() const;

    // 64 lower-case hexadecimal digits: SHA-256 of the key's UTF-8 bytes.
    static std::string fileName(std::string_view key);
    // UTF-8 of "<scope folder name>/<name>".
    Bytes authenticatedData(std::string_view name) const;
    // Seals with a fresh nonce and atomically replaces `file` with a file that is owner-only
    // from the moment it is created.
    void writeSealed(ByteView plaintext, const std::filesystem::path& file, std::string_view name);

    // Stores `value` under `key`, valid from `validatedAt` for min(offlineSeconds, 24 h).
    // invalidLease unless offlineSeconds is finite and above zero (checked before anything
    // else), revoked for a revoked key; an earlier entry of the key is replaced.
    template <MeetingCacheEncodable T>
    void store(const T& value, std::string_view key, Date validatedAt, double offlineSeconds) {
        std::lock_guard lock(mutex_);
        requireStorable(key, offlineSeconds);
        writeEntry(key, validatedAt, offlineSeconds, encodePayload(value));
    }

    // The entry of `key` if it is authentic, of this scope and inside its lease at `now`.
    // Never rewrites or deletes the file.
    Entry entry(std::string_view key, Date now);
    MeetingAuthorizationLease lease(std::string_view key, Date now);

    template <MeetingCacheDecodable T = json::Value> T load(std::string_view key, Date now) {
        std::lock_guard lock(mutex_);
        return decodePayload<T>(readEntry(key, now).payload);
    }

    template <MeetingCacheDecodable T = json::Value> Leased<T> loadWithLease(std::string_view key, Date now) {
        std::lock_guard lock(mutex_);
        Entry found = readEntry(key, now);
        return Leased<T>{decodePayload<T>(found.payload), leaseOf(found)};
    }

    // Drafts: sealed like entries but without a lease; they stay until removed, revoked or
    // purged. Revoked ids fail with `revoked` before any file is touched.
    template <MeetingCacheEncodable T> void saveDraft(const T& value, std::string_view id) {
        std::lock_guard lock(mutex_);
        requireAllowed(id);
        writeDraft(id, encodePayload(value));
    }

    template <MeetingCacheDecodable T = json::Value> T loadDraft(std::string_view id) {
        std::lock_guard lock(mutex_);
        requireAllowed(id);
        return decodePayload<T>(readDraft(id));
    }

    // Deletes the entry and the draft of `id` (in that order); missing files are fine.
    void remove(std::string_view id);
    // Saves the grown revocation set first (a failure there changes nothing), then removes the
    // files of each id in order; a deletion failure leaves every given id revoked.
    void revoke(const std::vector<std::string>& ids);
    // Allows the ids again; their data returns only with the next store or draft save.
    void restore(const std::vector<std::string>& ids);
    // Deletes everything in the scope folder and forgets every revocation. The folder stays.
    void purge();

    // The same purge for a cache that cannot be opened, for example because its revocation
    // file is damaged: clearing the cached meetings must still work then. Do not call it while
    // a cache of the same scope is open in another thread. A scope folder that does not exist
    // holds nothing and is no failure; an empty id fails with invalidScope.
    static void purge(const std::filesystem::path& root, const MeetingCacheScope& scope);

private:
    template <class T> static std::string encodePayload(const T& value) {
        if constexpr (std::same_as<T, json::Value> || std::same_as<T, json::Ordered>)
            return json::dump(value);
        else
            return json::dump(value.toJson());
    }
    template <class T> static T decodePayload(const Bytes& payload) {
        json::Value value = json::parse(ByteView(payload));
        if constexpr (std::same_as<T, json::Value>)
            return value;
        else
            return T::fromJson(value);
    }

    // Helpers below run with the mutex held.
    bool isRevoked(std::string_view id) const;
    void requireAllowed(std::string_view id) const;
    void requireStorable(std::string_view key, double offlineSeconds) const;
    Bytes aad(std::string_view name) const;
    void seal(ByteView plaintext, const std::filesystem::path& file, std::string_view name) const;
    Bytes unseal(const std::filesystem::path& file, std::string_view name) const;
    std::filesystem::path entryPath(std::string_view key) const;
    std::filesystem::path draftPath(std::string_view id) const;
    void writeEntry(std::string_view key, Date validatedAt, double offlineSeconds,
                    const std::string& payload);
    Entry readEntry(std::string_view key, Date now) const;
    static MeetingAuthorizationLease leaseOf(const Entry& entry);
    void writeDraft(std::string_view id, const std::string& payload);
    Bytes readDraft(std::string_view id) const;
    void removeFiles(std::string_view id) const;
    void saveRevocations(const MeetingCacheRevocations& revocations) const;
    MeetingCacheRevocations loadRevocations() const;

    std::filesystem::path root_;
    std::string directoryName_;
    SymmetricKey key_;
    MeetingCacheScope scope_;
    MeetingCacheRevocations revocations_;
    mutable std::mutex mutex_;
};

} // namespace nuvel
