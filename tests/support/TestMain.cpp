// The main of every test program: runs the tests with HOME and the XDG folders pointed at a
// fresh temporary folder, so no test can touch the real home.
#include "tests/support/TempDir.hpp"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    nuvel::test::TempDir home("home");
    auto set = [&](const char* name, const std::filesystem::path& path) {
        std::filesystem::create_directories(path);
        setenv(name, path.c_str(), 1);
    };
    set("HOME", home.path() / "home");
    set("XDG_DATA_HOME", home.path() / "data");
    set("XDG_CONFIG_HOME", home.path() / "config");
    set("XDG_CACHE_HOME", home.path() / "cache");
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        set("XDG_RUNTIME_DIR", home.path() / "run");
        std::filesystem::permissions(home.path() / "run", std::filesystem::perms::owner_all);
    }
    return RUN_ALL_TESTS();
}
