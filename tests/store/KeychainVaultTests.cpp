#include "NuvelKit/store/FallbackSecretBackend.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace nuvel;

namespace {

std::int32_t vaultStatus(const std::function<void()>& f) {
    try {
        f();
    } catch (const VaultError& e) {
        return e.status();
    }
    ADD_FAILURE() << "no VaultError";
    return 0;
}

// The rules every backend must keep, run against the memory and the file backends here and
// against the desktop keyring in the platform tests.
void checkVaultRules(const std::shared_ptr<SecretBackend>& backend) {
    KeychainVault vault("com.getnuvel.mac.production", backend);
    KeychainVault other("com.example.other", backend);

    EXPECT_FALSE(vault.load("device-session"));
    vault.save(viewOf("first"), "device-session");
    vault.save(viewOf("second"), "device-session");
    EXPECT_EQ(vault.load("device-session"), bytesOf("second"));
    EXPECT_FALSE(other.load("device-session")); // services keep their items apart
    vault.remove("device-session");
    EXPECT_FALSE(vault.load("device-session"));
    EXPECT_NO_THROW(vault.remove("device-session"));

    const std::string suffix(64, 'a');
    EXPECT_EQ(vaultStatus([&] { vault.mediaKey(suffix, true); }), keychainStatus::itemNotFound);
    EXPECT_FALSE(vault.load("media-v1-" + suffix)); // stored nothing
    SymmetricKey created = vault.mediaKey(suffix, false);
    EXPECT_EQ(vault.mediaKey(suffix, false), created);
    EXPECT_EQ(vault.mediaKey(suffix, true), created);
    EXPECT_EQ(vault.load("media-v1-" + suffix), Bytes(created.bytes().begin(), created.bytes().end()));
    EXPECT_FALSE(vault.mediaKey(std::string(64, 'b'), false) == created);

    // Binary values survive unchanged.
    Bytes binary{0, 1, 2, 0xff, 0, 0x80};
    vault.save(binary, "binary");
    EXPECT_EQ(vault.load("binary"), binary);
    vault.remove("binary");
    vault.remove("media-v1-" + suffix);
    vault.remove("media-v1-" + std::string(64, 'b'));
}

} // namespace

TEST(KeychainVault, RulesOnTheMemoryBackend) {
    checkVaultRules(std::make_shared<MemorySecretBackend>());
}

TEST(KeychainVault, RulesOnTheOwnerOnlyFileBackend) {
    test::TempDir dir;
    checkVaultRules(std::make_shared<FileSecretBackend>(dir / "keyring"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "keyring").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    KeychainVault vault("s", std::make_shared<FileSecretBackend>(dir / "keyring"));
    vault.save(viewOf("x"), "a");
    for (const auto& e : std::filesystem::directory_iterator(dir / "keyring")) {
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST(KeychainVault, AWrongLengthMediaKeyIsCorruptionAndIsNeverReplaced) {
    auto backend = std::make_shared<MemorySecretBackend>();
    KeychainVault vault("s", backend);
    const std::string suffix = "deadbeef";
    vault.save(Bytes(31, 7), "media-v1-" + suffix);
    EXPECT_EQ(vaultStatus([&] { vault.mediaKey(suffix, false); }), keychainStatus::decode);
    EXPECT_EQ(vaultStatus([&] { vault.mediaKey(suffix, true); }), keychainStatus::decode);
    EXPECT_EQ(vault.load("media-v1-" + suffix), Bytes(31, 7));
}

TEST(KeychainVault, KeyringFailuresCarryTheirStatus) {
    auto backend = std::make_shared<MemorySecretBackend>();
    KeychainVault vault("s", backend);
    backend->failWith(keychainStatus::notAvailable);
    EXPECT_EQ(vaultStatus([&] { vault.load("a"); }), keychainStatus::notAvailable);
    EXPECT_EQ(vaultStatus([&] { vault.save(viewOf("x"), "a"); }), keychainStatus::notAvailable);
    EXPECT_EQ(vaultStatus([&] { vault.remove("a"); }), keychainStatus::notAvailable);
    EXPECT_EQ(vaultStatus([&] { vault.mediaKey("k", false); }), keychainStatus::notAvailable);
    backend->failWith(keychainStatus::success);
    EXPECT_EQ(backend->itemCount(), 0u);
}

// The keyring and the file store as one: the vault's rules hold over the pair, whichever holds
// an item, and an item written while the keyring was away moves into it once it answers.
TEST(KeychainVault, RulesOnTheKeyringWithTheFileStoreBehindIt) {
    checkVaultRules(std::make_shared<FallbackSecretBackend>(std::make_shared<MemorySecretBackend>(),
                                                            std::make_shared<MemorySecretBackend>()));
}

TEST(KeychainVault, ItemsStoredWhileTheKeyringWasAwayMoveIntoItWhenItAnswers) {
    auto keyring = std::make_shared<MemorySecretBackend>();
    auto files = std::make_shared<MemorySecretBackend>();
    KeychainVault vault("s", std::make_shared<FallbackSecretBackend>(keyring, files));
    KeychainVault inKeyring("s", keyring), inFiles("s", files);
    const std::string suffix(64, 'c');

    keyring->failWith(keychainStatus::notAvailable);
    const SymmetricKey key = vault.mediaKey(suffix, false);
    vault.save(viewOf("session"), "device-session");
    vault.save(viewOf("session 2"), "device-session");
    EXPECT_EQ(vault.mediaKey(suffix, true), key);
    EXPECT_EQ(files->itemCount(), 2u);

    keyring->failWith(keychainStatus::success);
    EXPECT_EQ(vault.mediaKey(suffix, true), key); // read from the files, and moved
    EXPECT_EQ(inKeyring.load("media-v1-" + suffix), Bytes(key.bytes().begin(), key.bytes().end()));
    EXPECT_FALSE(inFiles.load("media-v1-" + suffix));
    vault.save(viewOf("session 3"), "device-session"); // a write while only the files hold it
    EXPECT_EQ(inKeyring.load("device-session"), bytesOf("session 3"));
    EXPECT_EQ(files->itemCount(), 0u);

    // A keyring that answers but refuses is no "not found": no new key, nothing in the files.
    for (std::int32_t refusal : {keychainStatus::interactionNotAllowed, keychainStatus::authFailed}) {
        keyring->failWith(refusal);
        EXPECT_EQ(vaultStatus([&] { vault.mediaKey(suffix, false); }), refusal);
        EXPECT_EQ(vaultStatus([&] { vault.load("device-session"); }), refusal);
        EXPECT_EQ(files->itemCount(), 0u);
    }
    // It still yields an item that only the files hold, which stays there.
    inFiles.save(viewOf("kept"), "only-in-files");
    EXPECT_EQ(vault.load("only-in-files"), bytesOf("kept"));
    EXPECT_EQ(inFiles.load("only-in-files"), bytesOf("kept"));

    // Removal clears both, the files even while the keyring is away.
    keyring->failWith(keychainStatus::notAvailable);
    vault.remove("only-in-files");
    EXPECT_EQ(files->itemCount(), 0u);
    keyring->failWith(keychainStatus::success);
    inFiles.save(viewOf("stale"), "device-session");
    vault.remove("device-session");
    EXPECT_FALSE(inKeyring.load("device-session"));
    EXPECT_FALSE(inFiles.load("device-session"));
    EXPECT_NO_THROW(vault.remove("device-session"));
}
