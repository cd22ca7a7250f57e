// The updater end to end: a real signed feed and archive from a local HTTP server, verified,
// unpacked beside a real installed tree in a temporary folder, installed by exchange and
// relaunched; the update controller holds the install while a recording runs.

#include "Nuvel/app/UpdateController.hpp"
#include "Nuvel/platform/ArchiveModule.hpp"
#include "Nuvel/platform/SignedUpdater.hpp"
#include "Nuvel/platform/TransportModule.hpp"
#include "Nuvel/platform/UpdateArchive.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/support/Ed25519.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/platform/UpdateFixtures.hpp"
#include "tests/support/HoldingExecutor.hpp"
#include "tests/support/LoopbackHttpServer.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::HoldingExecutor;
using test::SigningKey;
using test::TarEntry;
using test::TempDir;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

InfoProperties lockedDownBundle(const SigningKey& key) {
    return InfoProperties(json::Value{{"NuvelEnableUpdates", "YES"},
                                      {"SUFeedURL", "https://updates.nuvel.test/feed.json"},
                                      {"SUPublicEDKey", key.publicKeyText()},
                                      {"SURequireSignedFeed", true},
                                      {"SUVerifyUpdateBeforeExtraction", true},
                                      {"SUAutomaticallyUpdate", false},
                                      {"SUAllowsAutomaticUpdates", false}});
}

// What a fixture serves and how the archive is spoiled after signing.
struct Release {
    std::vector<TarEntry> tree;
    std::string version = "2.0";
    bool tamperFeed = false;
    bool tamperArchive = false;
    bool wrongKey = false;
    std::int64_t lengthDelta = 0;
    std::string url; // the item's address; empty: the loopback server's
};

struct UpdaterWorld {
    TempDir root{"updater"};
    fs::path installed = root.path() / "prefix" / "lib" / "nuvel";
    fs::path marker = root.path() / "relaunched";
    SigningKey key;
    test::LoopbackHttpServer server;
    std::string feedBody;
    Bytes archiveBody;
    ManualMainQueue queue;
    HoldingExecutor executor;
    std::atomic<bool> busy = false;
    std::atomic<bool> busyOnDownload = false; // a recording starts while the archive comes
    int confirmations = 0;
    int onChanges = 0;
    std::vector<fs::path> relaunched;
    bool relaunchWorks = true;
    // The module the program would load for it, which is not beside the test program:
    // nuvel-transport.so or nuvel-archive.so.
    std::string missingModule;
    std::unique_ptr<UpdateController> controller;

    UpdaterWorld() {
        fs::create_directories(installed);
        std::ofstream(installed / "nuvel") << "#!/bin/sh\necho 1.0 > '" << marker.string() << "'\n";
        fs::permissions(installed / "nuvel", fs::perms(0755));
        std::ofstream(installed / "Info.json") << "{\"version\": \"1.0\"}";
        server.server.Get("/feed.json", [this](const httplib::Request&, httplib::Response& r) {
            r.set_content(feedBody, "application/json");
        });
        server.server.Get("/nuvel.tar.gz", [this](const httplib::Request&, httplib::Response& r) {
            if (busyOnDownload)
                busy = true;
            r.set_content(std::string(archiveBody.begin(), archiveBody.end()), "application/gzip");
        });
        server.start();
    }

    void publish(const Release& release) {
        archiveBody = test::makeTarGz(
            release.tree.empty() ? test::installTree(release.version, marker.string()) : release.tree);
        const SigningKey other;
        const Bytes signature = (release.wrongKey ? other : key).sign(archiveBody);
        const Bytes served = archiveBody;
        if (release.tamperArchive)
            archiveBody[archiveBody.size() / 2] ^= 0x01;
        json::Value item =
            test::feedItem(release.version, release.url.empty() ? server.url("/nuvel.tar.gz") : release.url,
                           served, signature);
        item["length"] = std::int64_t(served.size()) + release.lengthDelta;
        feedBody = test::signedFeed(key, json::Value::array({item}), release.tamperFeed);
    }

    void makeController() {
        auto makeUpdater = [this](const UpdateController::UpdaterSettings& settings,
                                  UpdaterDelegate& delegate) {
            SignedUpdater::Dependencies d;
            d.queue = &queue;
            d.executor = &executor;
            d.transport = missingModule == "nuvel-transport.so" ? makeProgramHttpTransport()
                                                                : std::make_shared<CurlTransport>();
            d.feedURL = server.url("/feed.json"); // the controller's own is https
            d.publicKey = settings.publicKey;
            d.currentVersion = "1.0";
            d.installedTree = installed;
            d.unpack =
                missingModule == "nuvel-archive.so" ? &unpackWithArchiveModule : &UpdateArchive::unpack;
            d.confirmInstall = [this](const UpdateItem&) {
                ++confirmations;
                return true;
            };
            d.relaunch = [this](const fs::path& program) {
                if (!relaunchWorks)
                    return false;
                files::FileDescriptor holder;
                const pid_t helper = relaunchAfterExit(program, holder);
                holder = files::FileDescriptor(); // this "process" ends
                int status = 0;
                waitpid(helper, &status, 0);
                relaunched.push_back(program);
                return true;
            };
            return std::make_unique<SignedUpdater>(std::move(d), delegate);
        };
        controller = std::make_unique<UpdateController>(
            lockedDownBundle(key), [this] { return busy.load(); }, [this] { ++onChanges; }, makeUpdater,
            queue, nullptr);
        controller->setStartupRestorationBegan(true);
        controller->startIfReady();
    }

    void check() {
        controller->checkForUpdates();
        queue.drain();
    }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(installed.parent_path()))
            if (entry.path() != installed)
                names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST(SignedUpdater, aSignedReleaseWaitsForTheRecordingThenInstallsAndRelaunches) {
    UpdaterWorld w;
    w.publish({});
    w.makeController();
    w.busyOnDownload = true;
    w.check();

    EXPECT_EQ(w.confirmations, 1);
    EXPECT_TRUE(w.controller->isUpdating());
    EXPECT_TRUE(w.controller->hasDeferredRelaunch());
    EXPECT_EQ(w.controller->status(),
              "Update installation is waiting for recording and uploading to finish.");
    EXPECT_EQ(readText(w.installed / "Info.json"), "{\"version\": \"1.0\"}")
        << "nothing installed while recording";
    w.controller->startIfReady();
    EXPECT_TRUE(w.relaunched.empty()) << "still recording";
    w.busy = false;
    EXPECT_FALSE(w.controller->canCheckForUpdates()) << "no new check while the staged build waits";
    w.busy = true;

    w.busy = false; // the recording is saved
    w.executor.holding = true;
    w.controller->startIfReady();
    ASSERT_EQ(w.relaunched.size(), 1u);
    EXPECT_EQ(w.relaunched[0], fs::canonical(w.installed) / "nuvel");
    EXPECT_EQ(readText(w.installed / "Info.json"), "{\"version\": \"2.0\"}");
    EXPECT_EQ(readText(w.marker), "2.0\n") << "the relaunch ran the new build";
    ASSERT_EQ(w.executor.held.size(), 1u) << "the old build is removed off the window thread";
    EXPECT_EQ(w.leftovers().size(), 1u);
    w.executor.held.front()();
    EXPECT_EQ(w.leftovers(), std::vector<std::string>{}) << "the old build and the staging are gone";
    EXPECT_EQ(w.controller->status(), "Installing the verified update…");
}

TEST(SignedUpdater, anIdleInstallRelaunchesAtOnceAndANoNewerFeedOnlyFinishes) {
    UpdaterWorld w;
    w.publish({});
    w.makeController();
    w.check();
    EXPECT_EQ(w.relaunched.size(), 1u);
    EXPECT_FALSE(w.controller->isUpdating());
    EXPECT_EQ(w.controller->status(), "Update check finished.");

    UpdaterWorld same;
    same.publish({{}, "1.0"});
    same.makeController();
    same.check();
    EXPECT_EQ(same.confirmations, 0);
    EXPECT_EQ(same.controller->status(), "Update check finished.");
    EXPECT_FALSE(same.controller->isUpdating());
}

TEST(SignedUpdater, whatIsNotSignedOrSafeIsRefusedAndTheCycleEnds) {
    struct Case {
        const char* name;
        Release release;
        bool relaunchWorks;
        int confirmations;
        std::string missingModule = {};
    };
    const std::vector<Case> cases = {
        {"tampered feed", {{}, "2.0", true}, true, 0},
        {"tampered archive", {{}, "2.0", false, true}, true, 1},
        {"archive signed by another key", {{}, "2.0", false, false, true}, true, 1},
        {"archive longer than the feed says", {{}, "2.0", false, false, false, -1}, true, 1},
        {"signed archive that climbs out",
         {{{"lib/nuvel/nuvel", "x"}, {"lib/nuvel/Info.json", "{}"}, {"../escape", "x"}}},
         true,
         1},
        {"signed archive without a program", {{{"lib/nuvel/readme", "x"}}}, true, 1},
        {"signed archive whose program is a link out of what is installed",
         {{{"bin", "", "", true},
           {"bin/real", "#!/bin/sh\n", "", false, false, 0755},
           {"lib", "", "", true},
           {"lib/nuvel", "", "", true},
           {"lib/nuvel/nuvel", "", "../../bin/real"},
           {"lib/nuvel/Info.json", "{\"version\": \"2.0\"}"}}},
         true,
         1},
        {"signed archive with a link out of the program folder to nothing",
         {{{"lib/nuvel/nuvel", "x"}, {"lib/nuvel/Info.json", "{}"}, {"lib/nuvel/sib", "", "../other"}}},
         true,
         1},
        {"relaunch that fails", {}, false, 1},
        {"archive at a local file", {.url = "file:///etc/passwd"}, true, 0},
        {"archive over plain http to another machine",
         {.url = "http://updates.nuvel.test/nuvel.tar.gz"},
         true,
         0},
        {"transport whose module is missing", {}, true, 0, "nuvel-transport.so"},
        {"unpacking whose module is missing", {}, true, 1, "nuvel-archive.so"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdaterWorld w;
        w.publish(c.release);
        w.relaunchWorks = c.relaunchWorks;
        w.missingModule = c.missingModule;
        w.makeController();
        w.check();
        EXPECT_EQ(w.confirmations, c.confirmations);
        EXPECT_FALSE(w.controller->isUpdating()) << "the busy state never sticks";
        EXPECT_EQ(w.controller->status(), "Update check could not finish. Try again later.");
        EXPECT_TRUE(w.relaunched.empty());
        EXPECT_FALSE(fs::exists(w.root.path() / "escape"));
        if (c.relaunchWorks) {
            EXPECT_EQ(readText(w.installed / "Info.json"), "{\"version\": \"1.0\"}");
            EXPECT_EQ(w.leftovers(), std::vector<std::string>{});
        }
        EXPECT_TRUE(w.controller->canCheckForUpdates()) << "a new check may start";
        if (!c.missingModule.empty()) {
            std::string why;
            try {
                if (c.missingModule == "nuvel-transport.so")
                    makeProgramHttpTransport()->send({"GET", w.server.url("/feed.json")}, {});
                else
                    unpackWithArchiveModule(w.root.path() / "a.tar.gz", w.root.path() / "unpacked");
                ADD_FAILURE() << "worked without its module";
            } catch (const TransportError& error) {
                EXPECT_EQ(error.code(), TransportError::Code::other);
                why = error.what();
            } catch (const UpdateError& error) {
                EXPECT_EQ(error.code(), UpdateError::Code::install);
                why = error.what();
            }
            EXPECT_NE(why.find(c.missingModule), std::string::npos) << why;
        }
    }
}

TEST(SignedUpdater, aHeldInstallThatFailsEndsTheCycleAndStagingOfAnEarlierRunIsRemoved) {
    UpdaterWorld w;
    fs::create_directories(w.installed.parent_path() / ".nuvel-update-0123456789abcdef" / "tree");
    w.publish({});
    w.makeController();
    w.busyOnDownload = true;
    w.check();
    ASSERT_TRUE(w.controller->hasDeferredRelaunch());
    EXPECT_EQ(w.leftovers().size(), 1u) << "only this run's staging";
    fs::remove_all(w.installed); // the installed build went away meanwhile
    w.busy = false;
    w.controller->startIfReady();
    EXPECT_FALSE(w.controller->isUpdating());
    EXPECT_FALSE(w.controller->hasDeferredRelaunch());
    EXPECT_EQ(w.controller->status(), "Update check could not finish. Try again later.");
    EXPECT_TRUE(w.relaunched.empty());
    EXPECT_EQ(w.leftovers(), std::vector<std::string>{});
}

TEST(UpdateArchive, unpacksFoldersFilesAndInnerLinksAndRefusesTheRest) {
    struct Case {
        const char* name;
        std::vector<TarEntry> entries;
        bool accepted;
        const char* bytesFrom = nullptr; // the archive as stored in the source tree instead
    };
    const std::vector<Case> cases = {
        {"files, folders, inner links, modes that are cut back",
         {{"a", "", "", true},
          {"a/f", "text", "", false, false, 04755},
          {"a/l", "", "f"},
          {"b", "", "a/f"},
          {"a/shared", "x", "", false, false, 06777},
          {"a/writable", "y", "", false, false, 0666},
          {"a/c", "", "", true},
          {"a/c/up", "", "../l"}},
         true},
        {"chain of links that leads out",
         {{"a", "", "", true}, {"a/b", "", "", true}, {"a/b/l", "", "../.."}, {"a/m", "", "b/l/.."}},
         false},
        {"chain of links that leads out through a later link",
         {{"a", "", "", true}, {"a/m", "", "b/.."}, {"a/b", "", ".."}},
         false},
        {"chain of links that leads out to nothing",
         {{"a", "", "", true}, {"a/up", "", ".."}, {"m", "", "a/up/../missing"}},
         false},
        {"link loop", {{"a", "", "b"}, {"b", "", "a"}}, false},
        {"damaged gzip stream", {}, false, "fuzz/corpus/UpdateArchiveFuzz/damaged.tar.gz"},
        {"absolute name", {{"/tmp/nuvel-absolute", "x"}}, false},
        {"dot-dot step", {{"a/../../x", "x"}}, false},
        {"hard link", {{"f", "x"}, {"g", "f", "", false, true}}, false},
        {"absolute link", {{"l", "", "/etc/passwd"}}, false},
        {"link that climbs out", {{"a/l", "", "../../x"}}, false},
        {"a file that unpacks to more than the limit",
         {{"big", "x", "", false, false, 0644, UpdateArchive::maximumUnpackedBytes + 1}},
         false},
        {"files that together unpack to more than the limit",
         {{"half", "x", "", false, false, 0644, UpdateArchive::maximumUnpackedBytes / 2 + 1},
          {"other half", "x", "", false, false, 0644, UpdateArchive::maximumUnpackedBytes / 2 + 1}},
         false},
        {"a name step longer than a file name may be", {{std::string(256, 'n'), "x"}}, false},
        {"a name longer than a path may be",
         {{[] {
               std::string deep;
               for (int i = 0; i < 20; ++i)
                   deep += std::string(250, 'd') + "/";
               return deep + "f";
           }(),
           "x"}},
         false},
        {"empty archive", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("archive");
        // A folder made in a set-group-id folder inherits the bit.
        fs::permissions(dir.path(), fs::perms::set_gid, fs::perm_options::add);
        files::atomicWrite(dir / "a.tar.gz", c.bytesFrom
                                                 ? files::readFile(fs::path(NUVEL_SOURCE_DIR) / c.bytesFrom)
                                                 : test::makeTarGz(c.entries));
        const fs::path out = dir / "out";
        if (!c.accepted) {
            EXPECT_THROW(UpdateArchive::unpack(dir / "a.tar.gz", out), UpdateError);
            EXPECT_FALSE(fs::exists("/tmp/nuvel-absolute"));
            continue;
        }
        UpdateArchive::unpack(dir / "a.tar.gz", out);
        EXPECT_EQ(readText(out / "a" / "f"), "text");
        EXPECT_EQ(fs::read_symlink(out / "a" / "l"), "f");
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (entry.is_symlink())
                continue;
            EXPECT_EQ(entry.symlink_status().permissions() &
                          (fs::perms::set_uid | fs::perms::set_gid | fs::perms::group_write |
                           fs::perms::others_write),
                      fs::perms::none)
                << entry.path();
        }
        EXPECT_EQ(fs::status(out / "a" / "shared").permissions(), fs::perms(0755));
    }
}

TEST(UpdateFeed, versionsCompareAsDottedNumbers) {
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"1.0", "1.0.0", 0}, {"1.10", "1.9", 1}, {"2", "10", -1},   {"1.0.1", "1.0", 1},
        {"1.x", "0.1", -1},  {"", "0", -1},      {"1..2", "1", -1}, {"3.0", "3.0-beta", 1},
    };
    for (const auto& [a, b, expected] : cases)
        EXPECT_EQ(UpdateFeed::compareVersions(a, b), expected) << a << " vs " << b;
    const std::vector<UpdateItem> items = {{"1.2", "u1", 1, {}}, {"1.10", "u2", 1, {}}, {"0.9", "u3", 1, {}}};
    EXPECT_EQ(UpdateFeed::newest(items, "1.1")->url, "u2");
    EXPECT_FALSE(UpdateFeed::newest(items, "1.10"));
}

TEST(SignUpdateTool, makesArchivesAndFeedsTheUpdaterAccepts) {
    TempDir dir("sign-update");
    fs::create_directories(dir / "tree/lib/nuvel");
    std::ofstream(dir / "tree/lib/nuvel/Info.json") << "{}";
    std::ofstream(dir / "tree/lib/nuvel/nuvel") << "#!/bin/sh\n";
    const std::string tool = std::string(NUVEL_SOURCE_DIR) + "/scripts/sign-update";
    const std::string d = dir.path().string();
    FILE* keygen = popen((tool + " keygen '" + d + "/k.pem'").c_str(), "r");
    ASSERT_NE(keygen, nullptr);
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, keygen), nullptr);
    ASSERT_EQ(pclose(keygen), 0);
    std::string publicKey(line);
    publicKey.erase(publicKey.find_last_not_of('\n') + 1);
    ASSERT_EQ(std::system((tool + " archive '" + d + "/tree' 2.1 '" + d + "/a.tar.gz'").c_str()), 0);
    ASSERT_EQ(std::system((tool + " feed '" + d + "/k.pem' 2.1 https://u.example/a.tar.gz '" + d +
                           "/a.tar.gz' '" + d + "/feed.json'")
                              .c_str()),
              0);
    const Bytes key = *base64Decode(publicKey);
    const std::vector<UpdateItem> items = UpdateFeed::open(files::readFile(dir / "feed.json"), key);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "2.1");
    EXPECT_EQ(items[0].url, "https://u.example/a.tar.gz");
    const Bytes archive = files::readFile(dir / "a.tar.gz");
    EXPECT_EQ(items[0].length, archive.size());
    EXPECT_TRUE(ed25519::verify(key, archive, items[0].signature));
    fs::create_directories(dir / "installed/lib/nuvel");
    UpdateInstaller installer(dir / "installed/lib/nuvel", &UpdateArchive::unpack);
    installer.stage(dir / "a.tar.gz");
    EXPECT_TRUE(installer.staged());
}

} // namespace
} // namespace nuvel
