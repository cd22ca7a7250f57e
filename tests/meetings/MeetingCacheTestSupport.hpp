#pragma once

#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "NuvelKit/support/Json.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>

namespace nuvel::test {

namespace fs = std::filesystem;

// A small document of the kind the cache holds; the cache itself never looks inside.
struct CachedNote {
    std::string text;
    int revision = 0;

    bool operator==(const CachedNote&) const = default;

    json::Value toJson() const { return json::Value{{"text", text}, {"revision", revision}}; }
    static CachedNote fromJson(const json::Value& value) {
        json::Reader reader(value);
        return CachedNote{reader.string("text"), reader.integer("revision")};
    }
};

// The case of the error of type E that `body` throws, or nullopt when it throws nothing.
// Exceptions of other types escape and fail the test.
template <class E, class F> std::optional<typename E::Code> codeOf(F&& body) {
    try {
        body();
    } catch (const E& error) {
        return error.code();
    }
    return std::nullopt;
}

template <class F> std::optional<MeetingCacheError::Code> cacheErrorOf(F&& body) {
    return codeOf<MeetingCacheError>(std::forward<F>(body));
}

// The errno of the file-system error that `body` throws, or 0.
template <class F> int fileErrorOf(F&& body) {
    try {
        body();
    } catch (const fs::filesystem_error& error) {
        return error.code().value();
    }
    return 0;
}

inline mode_t modeOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

inline std::string sha256Hex(std::string_view text) {
    return hexString(Sha256::hash(viewOf(text)));
}

class MeetingCacheTest : public testing::Test {
protected:
    using Code = MeetingCacheError::Code;

    std::unique_ptr<MeetingCache> open(const MeetingCacheScope& scope) {
        return std::make_unique<MeetingCache>(root, key, scope);
    }
    std::unique_ptr<MeetingCache> open() { return open(scope); }

    fs::path entryFile(const MeetingCache& cache, std::string_view key) const {
        return cache.root() / (MeetingCache::fileName(key) + ".nuvel");
    }
    fs::path draftFile(const MeetingCache& cache, std::string_view id) const {
        return cache.root() / ("draft-" + MeetingCache::fileName(id) + ".nuvel");
    }
    // Opens a sealed file the way any reader of the format would, with "<folder>/<name>" as
    // the authenticated data.
    json::Value openByHand(const fs::path& file, const std::string& name) const {
        Bytes aad = bytesOf(file.parent_path().filename().string() + "/" + name);
        return json::parse(aesgcm::open(key, files::readFile(file), aad));
    }
    static void copyOver(const fs::path& from, const fs::path& to) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    }

    TempDir temp{"meeting-cache"};
    fs::path root = temp.path() / "cloud-documents";
    SymmetricKey key = SymmetricKey::random();
    MeetingCacheScope scope{"acct-1", "ws-1"};
    Date t0{760000000.25};
    CachedNote note{"Quarterly review", 3};
};

} // namespace nuvel::test
