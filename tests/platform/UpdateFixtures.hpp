#pragma once

// Real keys, real signatures and real archives for the updater's tests.

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <openssl/evp.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace nuvel::test {

// An Ed25519 key pair made by OpenSSL.
class SigningKey {
public:
    SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {
        if (!key_)
            throw std::runtime_error("no key");
    }
    Bytes publicKey() const {
        Bytes raw(32);
        std::size_t size = raw.size();
        EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &size);
        return raw;
    }
    std::string publicKeyText() const { return base64Encode(publicKey()); }
    Bytes sign(ByteView message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get());
        Bytes signature(64);
        std::size_t size = signature.size();
        EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size());
        return signature;
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

// One entry of a test archive.
struct TarEntry {
    std::string name;
    std::string content;    // a regular file's bytes
    std::string linkTarget; // non-empty: a symbolic link
    bool directory = false;
    bool hardLink = false; // content names the target
    int mode = 0644;
    // Above 0: a sparse file of this many bytes, a hole and then `content` at its end.
    std::int64_t sparseSize = 0;
};

// A gzip-compressed tar archive of the entries, in order.
inline Bytes makeTarGz(const std::vector<TarEntry>& entries) {
    std::unique_ptr<struct archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                          &archive_write_free);
    archive_write_add_filter_gzip(writer.get());
    archive_write_set_format_pax_restricted(writer.get());
    std::vector<char> buffer(1 << 22);
    std::size_t used = 0;
    archive_write_open_memory(writer.get(), buffer.data(), buffer.size(), &used);
    for (const TarEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        if (e.directory) {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
        } else if (!e.linkTarget.empty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.linkTarget.c_str());
            archive_entry_set_perm(entry, 0777);
        } else if (e.hardLink) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, e.content.c_str());
        } else if (e.sparseSize > 0) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, e.mode);
            archive_entry_set_size(entry, e.sparseSize);
            archive_entry_sparse_add_entry(entry, e.sparseSize - la_int64_t(e.content.size()),
                                           la_int64_t(e.content.size()));
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, e.mode);
            archive_entry_set_size(entry, la_int64_t(e.content.size()));
        }
        archive_write_header(writer.get(), entry);
        if (!e.directory && e.linkTarget.empty() && !e.hardLink)
            archive_write_data(writer.get(), e.content.data(), e.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer.get());
    return Bytes(buffer.begin(), buffer.begin() + std::ptrdiff_t(used));
}

// The install tree of a build whose program is a shell script that writes `marker`.
inline std::vector<TarEntry> installTree(const std::string& version, const std::string& marker) {
    return {
        {"bin", "", "", true},
        {"bin/nuvel", "", "../lib/nuvel/nuvel"},
        {"lib", "", "", true},
        {"lib/nuvel", "", "", true},
        {"lib/nuvel/nuvel", "#!/bin/sh\necho " + version + " > '" + marker + "'\n", "", false, false, 0755},
        {"lib/nuvel/Info.json", "{\"version\": \"" + version + "\"}", ""}};
}

// The signed feed envelope over a feed document of the given items.
inline std::string signedFeed(const SigningKey& key, const json::Value& items, bool tamper = false) {
    const std::string document = json::Value{{"items", items}}.dump();
    const Bytes signature = key.sign(viewOf(document));
    std::string signedText = document;
    if (tamper)
        signedText.replace(signedText.find("\"items\""), 7, "\"items\" ");
    return json::Value{{"feed", base64Encode(viewOf(signedText))}, {"signature", base64Encode(signature)}}
        .dump();
}

inline json::Value feedItem(const std::string& version, const std::string& url, const Bytes& archive,
                            const Bytes& signature) {
    return json::Value{{"version", version},
                       {"url", url},
                       {"length", archive.size()},
                       {"signature", base64Encode(signature)}};
}

} // namespace nuvel::test
