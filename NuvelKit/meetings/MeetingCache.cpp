#include "NuvelKit/meetings/MeetingCache.hpp"

#include "NuvelKit/support/FileRemoval.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

constexpr const char* fileSuffix = ".nuvel";
constexpr const char* revocationsName = "revocations";

[[noreturn]] void fail(MeetingCacheError::Code code) {
    throw MeetingCacheError(code);
}

void requireValidScope(const MeetingCacheScope& scope) {
    if (scope.accountID.empty() || scope.workspaceID.empty())
        fail(MeetingCacheError::Code::invalidScope);
}

} // namespace

MeetingCache::MeetingCache(const fs::path& root, const SymmetricKey& key, MeetingCacheScope scope)
    : key_(key), scope_(std::move(scope)) {
    requireValidScope(scope_);
    directoryName_ = scope_.directoryName();
    root_ = root / directoryName_;
    // Owner-only, parents included. Linux has no standard "exclude from backup" attribute
    // (backup tools each keep their own exclusion lists), so none is set here.
    files::createOwnerOnlyDirectories(root_);
    revocations_ = loadRevocations();
}

std::set<std::string, std::less<>> MeetingCache::revocations() const {
    std::lock_guard lock(mutex_);
    return revocations_.ids;
}

std::string MeetingCache::fileName(std::string_view key) {
    return hexString(Sha256::hash(viewOf(key)));
}

Bytes MeetingCache::authenticatedData(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return aad(name);
}

void MeetingCache::writeSealed(ByteView plaintext, const fs::path& file, std::string_view name) {
    std::lock_guard lock(mutex_);
    seal(plaintext, file, name);
}

MeetingCache::Entry MeetingCache::entry(std::string_view key, Date now) {
    std::lock_guard lock(mutex_);
    return readEntry(key, now);
}

MeetingAuthorizationLease MeetingCache::lease(std::string_view key, Date now) {
    std::lock_guard lock(mutex_);
    return leaseOf(readEntry(key, now));
}

void MeetingCache::remove(std::string_view id) {
    std::lock_guard lock(mutex_);
    removeFiles(id);
}

void MeetingCache::revoke(const std::vector<std::string>& ids) {
    std::lock_guard lock(mutex_);
    MeetingCacheRevocations grown = revocations_;
    grown.ids.insert(ids.begin(), ids.end());
    saveRevocations(grown);
    revocations_ = std::move(grown);
    for (const std::string& id : ids)
        removeFiles(id);
}

void MeetingCache::restore(const std::vector<std::string>& ids) {
    std::lock_guard lock(mutex_);
    MeetingCacheRevocations shrunk = revocations_;
    for (const std::string& id : ids)
        shrunk.ids.erase(id);
    saveRevocations(shrunk);
    revocations_ = std::move(shrunk);
}

void MeetingCache::purge() {
    std::lock_guard lock(mutex_);
    files::emptyFolder(root_);
    // A purged copy must not come back after a power cut.
    files::fsyncDirectory(root_);
    revocations_.ids.clear();
}

void MeetingCache::purge(const fs::path& root, const MeetingCacheScope& scope) {
    requireValidScope(scope);
    fs::path folder = root / scope.directoryName();
    if (fs::symlink_status(folder).type() == fs::file_type::not_found)
        return;
    files::emptyFolder(folder);
    files::fsyncDirectory(folder);
}

bool MeetingCache::isRevoked(std::string_view id) const {
    return revocations_.ids.contains(id);
}

void MeetingCache::requireAllowed(std::string_view id) const {
    if (isRevoked(id))
        fail(MeetingCacheError::Code::revoked);
}

void MeetingCache::requireStorable(std::string_view key, double offlineSeconds) const {
    // Written so that NaN fails too.
    if (!(std::isfinite(offlineSeconds) && offlineSeconds > 0))
        fail(MeetingCacheError::Code::invalidLease);
    requireAllowed(key);
}

Bytes MeetingCache::aad(std::string_view name) const {
    Bytes out = bytesOf(directoryName_);
    out.push_back('/');
    out.insert(out.end(), name.begin(), name.end());
    return out;
}

void MeetingCache::seal(ByteView plaintext, const fs::path& file, std::string_view name) const {
    Bytes sealed = aesgcm::seal(key_, plaintext, aad(name));
    // The temporary file is created 0600 with O_EXCL and renamed over `file`, so the sealed
    // data is never readable by others, not even for a moment, and no permission change can
    // fail after the new file is already in place.
    files::atomicWrite(file, sealed);
}

Bytes MeetingCache::unseal(const fs::path& file, std::string_view name) const {
    Bytes contents = files::readFile(file);
    SealedBox box = SealedBox::fromCombined(contents);
    return aesgcm::open(key_, box, aad(name));
}

fs::path MeetingCache::entryPath(std::string_view key) const {
    return root_ / (fileName(key) + fileSuffix);
}

fs::path MeetingCache::draftPath(std::string_view id) const {
    return root_ / ("draft-" + fileName(id) + fileSuffix);
}

void MeetingCache::writeEntry(std::string_view key, Date validatedAt, double offlineSeconds,
                              const std::string& payload) {
    Entry created{scope_, validatedAt, validatedAt.adding(std::min(maximumOfflineSeconds, offlineSeconds)),
                  bytesOf(payload)};
    seal(viewOf(created.encode()), entryPath(key), key);
}

MeetingCache::Entry MeetingCache::readEntry(std::string_view key, Date now) const {
    requireAllowed(key);
    Entry found = Entry::decode(unseal(entryPath(key), key));
    if (found.scope != scope_)
        fail(MeetingCacheError::Code::invalidScope);
    // Both tests are written to fail for a `now` that compares with nothing (NaN): a clock
    // reading that cannot be placed inside the lease must not grant access.
    if (!(now >= found.validatedAt))
        fail(MeetingCacheError::Code::expired);
    if (!(now < leaseOf(found).expiresAt))
        fail(MeetingCacheError::Code::expired);
    return found;
}

MeetingAuthorizationLease MeetingCache::leaseOf(const Entry& entry) {
    // The 24-hour cap is applied again on every read, whatever period another writer stored.
    Date cap = entry.validatedAt.adding(maximumOfflineSeconds);
    return MeetingAuthorizationLease{entry.validatedAt, entry.expiresAt <= cap ? entry.expiresAt : cap};
}

void MeetingCache::writeDraft(std::string_view id, const std::string& payload) {
    MeetingCacheDraft draft{scope_, bytesOf(payload)};
    seal(viewOf(draft.encode()), draftPath(id), "draft:" + std::string(id));
}

Bytes MeetingCache::readDraft(std::string_view id) const {
    MeetingCacheDraft draft = MeetingCacheDraft::decode(unseal(draftPath(id), "draft:" + std::string(id)));
    if (draft.scope != scope_)
        fail(MeetingCacheError::Code::invalidScope);
    return std::move(draft.payload);
}

void MeetingCache::removeFiles(std::string_view id) const {
    files::removeFileIfPresent(entryPath(id));
    files::removeFileIfPresent(draftPath(id));
}

void MeetingCache::saveRevocations(const MeetingCacheRevocations& revocations) const {
    seal(viewOf(revocations.encode()), root_ / revocationsFileName, revocationsName);
}

MeetingCacheRevocations MeetingCache::loadRevocations() const {
    fs::path file = root_ / revocationsFileName;
    // Only a file that is truly absent means "nothing revoked"; anything else that is there
    // must open, or the cache stays closed.
    if (fs::symlink_status(file).type() == fs::file_type::not_found)
        return {};
    return MeetingCacheRevocations::decode(unseal(file, revocationsName));
}

} // namespace nuvel
