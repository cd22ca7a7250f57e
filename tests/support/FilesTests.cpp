#include "NuvelKit/support/FileRemoval.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nuvel;
namespace fs = std::filesystem;
using test::namesIn;

namespace {

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

struct PermissiveUmask {
    mode_t old = ::umask(0);
    ~PermissiveUmask() { ::umask(old); }
};

} // namespace

TEST(AtomicWrite, ReplacesWholeFileOwnerOnly) {
    test::TempDir dir;
    PermissiveUmask umask;
    fs::path file = dir / "doc.json";
    files::atomicWrite(file, viewOf("first"));
    files::atomicWrite(file, viewOf("second, longer"));
    EXPECT_EQ(stringOf(files::readFile(file)), "second, longer");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"doc.json"});
}

TEST(AtomicWrite, FailureMidwayKeepsOldFileAndLeavesNoTemporary) {
    test::TempDir dir;
    fs::path file = dir / "doc.json";
    files::atomicWrite(file, viewOf("original"));
    EXPECT_THROW(files::atomicWriteWith(file,
                                        [&](const files::FileDescriptor& fd) {
                                            fd.writeAll(viewOf("half of the new"), file);
                                            throw std::runtime_error("disk went away");
                                        }),
                 std::runtime_error);
    EXPECT_EQ(stringOf(files::readFile(file)), "original");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"doc.json"});
}

TEST(AtomicWrite, RealWriteErrorKeepsOldFile) {
    // A file-size limit makes write(2) itself fail part way (EFBIG), as a full disk would.
    test::TempDir dir;
    fs::path file = dir / "doc.json";
    files::atomicWrite(file, viewOf("original"));
    const Bytes big(100000, 'x');
    ASSERT_EQ(test::exitUnderFileSizeLimit(4096, [&] { files::atomicWrite(file, big); }), 0);
    EXPECT_EQ(stringOf(files::readFile(file)), "original");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"doc.json"});
}

TEST(AtomicWrite, MissingFolderFails) {
    test::TempDir dir;
    EXPECT_THROW(files::atomicWrite(dir / "no" / "doc", viewOf("x")), fs::filesystem_error);
}

TEST(MoveNoReplace, RefusesAnExistingDestination) {
    test::TempDir dir;
    files::atomicWrite(dir / "a", viewOf("A"));
    files::atomicWrite(dir / "b", viewOf("B"));
    try {
        files::moveNoReplace(dir / "a", dir / "b");
        FAIL() << "moved over an existing file";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
    EXPECT_EQ(stringOf(files::readFile(dir / "a")), "A");
    EXPECT_EQ(stringOf(files::readFile(dir / "b")), "B");

    files::moveNoReplace(dir / "a", dir / "c");
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_EQ(stringOf(files::readFile(dir / "c")), "A");
}

TEST(CreateExclusive, OwnerOnlyAndNeverOverAnExistingFile) {
    test::TempDir dir;
    PermissiveUmask umask;
    auto fd = files::createExclusive(dir / "new");
    EXPECT_EQ(modeOf(dir / "new"), 0600u);
    EXPECT_THROW(files::createExclusive(dir / "new"), fs::filesystem_error);
}

TEST(OwnerOnlyDirectories, CreatesMissingParentsAt0700) {
    test::TempDir dir;
    PermissiveUmask umask;
    fs::path deep = dir / "a" / "b" / "c";
    files::createOwnerOnlyDirectories(deep);
    EXPECT_EQ(modeOf(dir / "a"), 0700u);
    EXPECT_EQ(modeOf(dir / "a" / "b"), 0700u);
    EXPECT_EQ(modeOf(deep), 0700u);
    EXPECT_NO_THROW(files::createOwnerOnlyDirectories(deep));

    files::atomicWrite(dir / "file", viewOf("x"));
    EXPECT_THROW(files::createOwnerOnlyDirectories(dir / "file"), fs::filesystem_error);
    EXPECT_THROW(files::createOwnerOnlyDirectories(dir / "file" / "below"), fs::filesystem_error);
}

TEST(FileFacts, CapacityAndCreationDate) {
    test::TempDir dir;
    EXPECT_GT(files::availableCapacity(dir.path()), 0u);
    EXPECT_THROW(files::availableCapacity(dir / "missing"), fs::filesystem_error);
    files::atomicWrite(dir / "f", viewOf("x"));
    if (auto created = files::creationDate(dir / "f")) {
        EXPECT_NEAR(created->unixSeconds(), Date::now().unixSeconds(), 60.0);
    }
    EXPECT_TRUE(files::removeFileIfPresent(dir / "f"));
    EXPECT_FALSE(files::removeFileIfPresent(dir / "f"));
}

TEST(RemovingTrees, LinksGoThemselvesAndWhatTheyPointToStays) {
    test::TempDir dir;
    const fs::path outside = dir / "outside";
    fs::create_directories(outside / "sub");
    files::atomicWrite(outside / "keep", viewOf("k"));
    files::atomicWrite(outside / "sub" / "deep", viewOf("d"));
    auto makeTree = [&](const fs::path& tree) {
        fs::create_directories(tree / "nested" / "more");
        files::atomicWrite(tree / "a", viewOf("a"));
        files::atomicWrite(tree / ".hidden", viewOf("h"));
        files::atomicWrite(tree / "nested" / "more" / "b", viewOf("b"));
        fs::create_directory_symlink(outside, tree / "to-folder");
        fs::create_directory_symlink(outside, tree / "nested" / "more" / "to-folder");
        fs::create_symlink(outside / "keep", tree / "to-file");
        ASSERT_EQ(::mkfifo((tree / "pipe").c_str(), 0600), 0);
    };
    auto outsideIntact = [&] {
        EXPECT_EQ(namesIn(outside), (std::set<std::string>{"keep", "sub"}));
        EXPECT_EQ(namesIn(outside / "sub"), std::set<std::string>{"deep"});
    };

    makeTree(dir / "emptied");
    files::emptyFolder(dir / "emptied");
    EXPECT_EQ(namesIn(dir / "emptied"), std::set<std::string>{});
    outsideIntact();

    makeTree(dir / "removed");
    files::removeTree(dir / "removed");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "removed")));
    outsideIntact();

    // A link where a folder is expected: emptying refuses it, removing takes the link alone.
    fs::create_directory_symlink(outside, dir / "link");
    EXPECT_THROW(files::emptyFolder(dir / "link"), fs::filesystem_error);
    outsideIntact();
    files::removeTree(dir / "link");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
    outsideIntact();

    EXPECT_NO_THROW(files::removeTree(dir / "missing"));
    EXPECT_THROW(files::emptyFolder(dir / "missing"), fs::filesystem_error);
}
