#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

namespace {

// A writer on a named pipe that hands it the text `{"a": 2}` as soon as anyone opens the pipe for
// reading, so that a reader that should never have opened it reads a value instead of waiting
// for a writer that never comes. `finish` stands in for that reader when there was none.
class PipeFeeder {
public:
    explicit PipeFeeder(std::filesystem::path pipe)
        : pipe_(std::move(pipe)), writer_([this] {
              // A reader that has gone already makes the write fail rather than end the test.
              sigset_t pipeSignal;
              sigemptyset(&pipeSignal);
              sigaddset(&pipeSignal, SIGPIPE);
              pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
              const int fd = ::open(pipe_.c_str(), O_WRONLY | O_CLOEXEC); // waits for a reader
              if (fd < 0)
                  return;
              const char text[] = R"({"a": 2})";
              [[maybe_unused]] const ssize_t written = ::write(fd, text, sizeof text - 1);
              ::close(fd);
          }) {}
    ~PipeFeeder() { finish(); }
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;

    void finish() {
        if (!writer_.joinable())
            return;
        // Held open until the writer is done, whenever it reaches its own open.
        const int reader = ::open(pipe_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer_.join();
        if (reader >= 0)
            ::close(reader);
    }

private:
    std::filesystem::path pipe_;
    std::thread writer_;
};

} // namespace

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
        // A reader that opened the pipe would read a value from it, not wait.
        std::optional<PipeFeeder> feeder;
        if (before.type() == std::filesystem::file_type::fifo)
            feeder.emplace(path);
        FileDefaultsStore store(path);
        if (feeder)
            feeder->finish();
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
