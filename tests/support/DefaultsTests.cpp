#include <gtest/gtest.h>

#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

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

TEST(Defaults, UnreadableFileStartsEmptyAndIsReplaced) {
    test::TempDir dir;
    auto path = dir / "defaults.json";
    files::atomicWrite(path, viewOf("{not json"));
    FileDefaultsStore store(path);
    EXPECT_FALSE(store.value("a"));
    store.set("a", 1);
    EXPECT_EQ(FileDefaultsStore(path).number("a"), 1.0);
}

TEST(Defaults, StandardLocationFollowsXdgConfigHome) {
    EXPECT_EQ(FileDefaultsStore::standardLocation(),
              std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Nuvel" / "defaults.json");
}
