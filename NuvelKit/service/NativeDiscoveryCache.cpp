#include "NuvelKit/service/NativeDiscoveryCache.hpp"

#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Files.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(MeetingCacheError::Code code) {
    throw MeetingCacheError(code);
}

std::string checkedAccount(std::string accountID) {
    if (accountID.empty())
        fail(MeetingCacheError::Code::invalidScope);
    return accountID;
}

void removeQuietly(const fs::path& path) noexcept {
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace

json::Ordered CachedNativeDiscovery::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["bootstrap"] = bootstrap.toJson();
    o["validatedAt"] = validatedAt.sinceReferenceDate;
    o["expiresAt"] = expiresAt.sinceReferenceDate;
    return o;
}

CachedNativeDiscovery CachedNativeDiscovery::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    CachedNativeDiscovery d;
    d.bootstrap = NativeBootstrap::fromJson(r.value("bootstrap"), r.childPath("bootstrap"));
    d.validatedAt = Date{r.number("validatedAt")};
    d.expiresAt = Date{r.number("expiresAt")};
    return d;
}

NativeDiscoveryCache::NativeDiscoveryCache(fs::path root, const SymmetricKey& key, std::string accountID)
    : root_(std::move(root)), accountID_(checkedAccount(std::move(accountID))), key_(key),
      file_(root_ / (hexString(Sha256::hash(viewOf(accountID_))) + ".nuvel")),
      context_(bytesOf("nuvel/discovery/v1/" + accountID_)) {
    // The folder holds account data only: owner-only, like the store's folders. Linux has no
    // per-folder backup exclusion to set here.
    files::createOwnerOnlyDirectories(root_);
}

void NativeDiscoveryCache::save(const NativeBootstrap& bootstrap, Date validatedAt) {
    std::lock_guard lock(mutex_);
    bootstrap.validate(accountID_);

    const std::optional<double> offline = bootstrap.limits.offlineAccessSeconds;
    if (!offline || !std::isfinite(*offline) || *offline <= 0) {
        // A contract that allows no offline use must not leave an older one usable.
        removeLocked();
        fail(MeetingCacheError::Code::invalidLease);
    }

    CachedNativeDiscovery record{bootstrap, validatedAt,
                                 validatedAt.adding(std::min(maximumOfflineSeconds, *offline))};
    const std::string text = json::dump(record.toJson());
    const Bytes sealed = aesgcm::seal(key_, viewOf(text), context_);

    const fs::path temporary = root_ / (Uuid::random().uppercase() + ".partial");
    files::FileDescriptor fd;
    try {
        fd = files::createExclusive(temporary, 0600);
        fd.writeAll(sealed, temporary);
    } catch (const std::exception&) {
        if (fd)
            removeQuietly(temporary);
        throw RecordingError(RecordingError::Code::invalidManifest);
    }
    try {
        fd.sync(temporary);
        fd.close();
        // rename(2) replaces an existing file and moves into a free name alike, atomically.
        std::filesystem::rename(temporary, file_);
    } catch (...) {
        removeQuietly(temporary);
        throw;
    }
    files::fsyncDirectory(root_);
}

CachedNativeDiscovery NativeDiscoveryCache::load(Date now) {
    std::lock_guard lock(mutex_);
    const Bytes sealed = files::readFile(file_);
    const Bytes plaintext = aesgcm::open(key_, sealed, context_);
    CachedNativeDiscovery record = CachedNativeDiscovery::fromJson(json::parse(ByteView(plaintext)));
    record.bootstrap.validate(accountID_);

    // Both checks are written so that a NaN anywhere fails them.
    const double span = record.expiresAt.sinceReferenceDate - record.validatedAt.sinceReferenceDate;
    if (!(std::isfinite(span) && span > 0 && span <= maximumOfflineSeconds))
        fail(MeetingCacheError::Code::expired);
    if (!(now >= record.validatedAt && now < record.expiresAt))
        fail(MeetingCacheError::Code::expired);
    return record;
}

void NativeDiscoveryCache::remove() {
    std::lock_guard lock(mutex_);
    removeLocked();
}

void NativeDiscoveryCache::removeLocked() {
    files::removeFileIfPresent(file_);
}

} // namespace nuvel
