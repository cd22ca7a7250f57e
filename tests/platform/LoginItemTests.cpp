#include "Nuvel/platform/LoginItem.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(LoginItem, statusComesFromTheEntryAndItsHiddenKey) {
    TempDir dir("login");
    const fs::path program = dir / "nuvel";
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, fs::perms(0755));
    LoginItem item(dir / "autostart", program);
    const std::vector<std::tuple<const char*, std::optional<std::string>, LoginItem::Status>> cases = {
        {"no entry", std::nullopt, LoginItem::Status::notRegistered},
        {"an entry", "[Desktop Entry]\nType=Application\nExec=nuvel\n", LoginItem::Status::enabled},
        {"hidden", "[Desktop Entry]\nHidden=true\n", LoginItem::Status::notRegistered},
        {"hidden with spaces", "[Desktop Entry]\nHidden = true\n", LoginItem::Status::notRegistered},
        {"hidden false", "[Desktop Entry]\nHidden=false\n", LoginItem::Status::enabled},
        {"hidden in another group", "[Desktop Entry]\nExec=x\n[Desktop Action a]\nHidden=true\n",
         LoginItem::Status::enabled},
    };
    for (const auto& [name, content, status] : cases) {
        fs::remove_all(dir / "autostart");
        if (content) {
            fs::create_directories(dir / "autostart");
            std::ofstream(item.entry()) << *content;
        }
        EXPECT_EQ(item.status(), status) << name;
    }
}

TEST(LoginItem, registersAtomicallyAndUnregisters) {
    TempDir dir("login");
    const fs::path program = dir / "my \"apps\"" / "nu$vel 100%";
    fs::create_directories(program.parent_path());
    LoginItem item(dir / "config" / "autostart", program);
    EXPECT_THROW(item.registerItem(), fs::filesystem_error) << "no program yet";
    EXPECT_EQ(item.status(), LoginItem::Status::notFound);
    EXPECT_FALSE(fs::exists(item.folder()));
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, fs::perms(0755));
    // The folders it makes are its user's alone, even under the most permissive umask: another
    // user able to write there could plant an entry that runs at the next login.
    const mode_t previous = ::umask(0);
    item.registerItem();
    ::umask(previous);
    EXPECT_EQ(item.status(), LoginItem::Status::enabled);
    for (const fs::path& folder : {item.folder(), item.folder().parent_path()}) {
        struct stat made {};
        ASSERT_EQ(::stat(folder.c_str(), &made), 0);
        EXPECT_EQ(made.st_mode & 07777, 0700u) << folder;
    }
    const std::string text = stringOf(files::readFile(item.entry()));
    EXPECT_NE(text.find("Exec=\"" + (dir / "my \\\\\"apps\\\\\"").string() + "/nu\\\\$vel 100%%\"\n"),
              std::string::npos)
        << text;
    struct stat info {};
    ASSERT_EQ(::stat(item.entry().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(item.folder()))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file left";
    item.unregisterItem();
    item.unregisterItem();
    EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
}

} // namespace
} // namespace nuvel
