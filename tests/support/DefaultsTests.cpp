#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

using namespace nuvel;

TEST(Defaults, FileStoreSurvivesReopenAndKeepsTypes) {
    test::TempDir dir;
    auto path = dir / "config" / "defaults.json";
    {
        FileDefaultsStore store(path);
        store.set("meetings.detection", true);
        store.set("meetings.mutedApps", json::Value::array({"zoom", "teams"}));
        store.set("capture.aiNotesDefault", "yes");
        store.remove("nothing.here");
    }
    FileDefaultsStore store(path);
    EXPECT_EQ(store.boolean("meetings.detection"), true);
    EXPECT_EQ(store.stringList("meetings.mutedApps"), (std::vector<std::string>{"zoom", "teams"}));
    // A string is not a boolean: absent through the typed getter, still there as a value.
    EXPECT_FALSE(store.boolean("capture.aiNotesDefault"));
    EXPECT_TRUE(store.value("capture.aiNotesDefault"));
    store.remove("meetings.detection");
    EXPECT_FALSE(FileDefaultsStore(path).value("meetings.detection"));
}

// Only a regular file of at most 1 MiB is read. Anything else reads as empty, is left as it is
// on opening (no partial read is written back), and is replaced by the next write.
TEST(Defaults, UnreadableFileStartsEmptyAndIsReplaced) {
    const std::string padded = std::string(R"({"a": 2})") + std::string(1024 * 1024 - 8, ' ');
    struct Row {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
        bool readable;
    };
    const std::vector<Row> rows = {
        {"not json", [](const auto& path) { files::atomicWrite(path, viewOf("{not json")); }, false},
        {"exactly 1 MiB", [&](const auto& path) { files::atomicWrite(path, viewOf(padded)); }, true},
        {"one byte over 1 MiB", [&](const auto& path) { files::atomicWrite(path, viewOf(padded + " ")); },
         false},
        {"link to a regular file",
         [](const auto& path) {
             files::atomicWrite(path.parent_path() / "elsewhere.json", viewOf(R"({"a": 2})"));
             std::filesystem::create_symlink("elsewhere.json", path);
         },
         true},
        {"named pipe", [](const auto& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false},
        {"folder", [](const auto& path) { std::filesystem::create_directory(path); }, false},
        {"link to a device", [](const auto& path) { std::filesystem::create_symlink("/dev/zero", path); },
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        auto path = dir / "defaults.json";
        row.make(path);
        const auto before = std::filesystem::symlink_status(path);
        const auto size = [&] {
            return before.type() == std::filesystem::file_type::regular ? std::filesystem::file_size(path)
                                                                        : 0;
        };
        const auto sizeBefore = size();
        FileDefaultsStore store(path);
        EXPECT_EQ(store.number("a"), row.readable ? std::optional<double>(2.0) : std::nullopt);
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), before.type());
        EXPECT_EQ(size(), sizeBefore);
        if (before.type() == std::filesystem::file_type::directory)
            continue; // a folder in its place makes writes fail: see the test below
        store.set("b", 1);
        EXPECT_EQ(FileDefaultsStore(path).number("b"), 1.0);
        EXPECT_EQ(FileDefaultsStore(path).number("a"),
                  row.readable ? std::optional<double>(2.0) : std::nullopt);
    }
}

// A folder in the file's place stands for a disk that takes no writes: each write throws, and the
// value is kept for the rest of the run.
TEST(Defaults, ARefusedWriteKeepsTheValueInMemory) {
    test::TempDir dir;
    auto path = dir / "defaults.json";
    std::filesystem::create_directories(path / "inside");
    FileDefaultsStore store(path);
    EXPECT_THROW(store.set("a", 1), std::filesystem::filesystem_error);
    EXPECT_EQ(store.number("a"), 1.0);
    EXPECT_THROW(store.remove("a"), std::filesystem::filesystem_error);
    EXPECT_FALSE(store.value("a"));
    EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
}

TEST(Defaults, StandardLocationFollowsXdgConfigHome) {
    EXPECT_EQ(FileDefaultsStore::standardLocation(),
              std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Nuvel" / "defaults.json");
}
