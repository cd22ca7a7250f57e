// The update controller's rules over a scripted updater: which properties configure it, and
// how it answers the updater while audio work runs.

#include "Nuvel/app/UpdateController.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

const std::string key = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

class ScriptedUpdater final : public Updater {
public:
    void start() override { ++starts; }
    bool canCheckForUpdates() const override { return starts > 0 && canCheck; }
    void checkForUpdates() override { ++checks; }
    int starts = 0;
    int checks = 0;
    bool canCheck = true;
};

json::Value lockedDown() {
    return {{"NuvelEnableUpdates", "YES"},
            {"SUFeedURL", "https://u.nuvel.example/feed.json"},
            {"SUPublicEDKey", key},
            {"SURequireSignedFeed", true},
            {"SUVerifyUpdateBeforeExtraction", true},
            {"SUAutomaticallyUpdate", false},
            {"SUAllowsAutomaticUpdates", false}};
}

struct Controller {
    ManualMainQueue queue;
    bool busy = false;
    int changes = 0;
    ScriptedUpdater* updater = nullptr;
    std::optional<UpdateController::UpdaterSettings> settings;
    std::unique_ptr<UpdateController> controller;

    explicit Controller(json::Value properties = lockedDown()) {
        controller = std::make_unique<UpdateController>(
            InfoProperties(std::move(properties)), [this] { return busy; }, [this] { ++changes; },
            [this](const UpdateController::UpdaterSettings& s, UpdaterDelegate&) {
                settings = s;
                auto made = std::make_unique<ScriptedUpdater>();
                updater = made.get();
                return made;
            },
            queue, nullptr);
    }
    UpdateController* operator->() { return controller.get(); }
};

TEST(UpdateController, onlyALockedDownBuildGetsAnUpdater) {
    const std::vector<std::pair<const char*, std::function<void(json::Value&)>>> cases = {
        {"no enabling key", [](json::Value& v) { v.erase("NuvelEnableUpdates"); }},
        {"enabled in lower case", [](json::Value& v) { v["NuvelEnableUpdates"] = "yes"; }},
        {"enabled as a boolean", [](json::Value& v) { v["NuvelEnableUpdates"] = true; }},
        {"silent installation by default", [](json::Value& v) { v.erase("SUAutomaticallyUpdate"); }},
        {"signed feed as text", [](json::Value& v) { v["SURequireSignedFeed"] = "true"; }},
        {"key with a line break", [](json::Value& v) { v["SUPublicEDKey"] = key + "\n"; }},
    };
    for (const auto& [name, change] : cases) {
        json::Value properties = lockedDown();
        change(properties);
        Controller c(properties);
        EXPECT_FALSE(c->configured()) << name;
        EXPECT_EQ(c->status(), "Signed updates are not configured for this build.") << name;
        c->checkForUpdates();
        EXPECT_EQ(c.changes, 1) << name << ": the check only tells its observer";
        EXPECT_FALSE(c->canCheckForUpdates()) << name;
    }
    Controller c;
    ASSERT_TRUE(c->configured());
    EXPECT_EQ(c.settings->feedURL, "https://u.nuvel.example/feed.json");
    EXPECT_EQ(c.settings->publicKey.size(), 32u);
    EXPECT_EQ(c->status(), "Signed updates are ready. Automatic checks require your permission; installation "
                           "always requires confirmation.");
}

TEST(UpdateController, startsOnceWhenIdleAndRefusesChecksWhileBusy) {
    Controller c;
    c->startIfReady();
    EXPECT_EQ(c.updater->starts, 0) << "not before start-up restoration began";
    c->setStartupRestorationBegan(true);
    c.busy = true;
    c->startIfReady();
    EXPECT_EQ(c.updater->starts, 0) << "not while busy";
    c->checkForUpdates();
    EXPECT_EQ(c->status(), "Finish recording and uploading before checking for updates.");
    EXPECT_EQ(c.updater->checks, 0);
    c.busy = false;
    c->startIfReady();
    c->startIfReady();
    EXPECT_EQ(c.updater->starts, 1);
    EXPECT_TRUE(c->canCheckForUpdates());
    c->checkForUpdates();
    EXPECT_EQ(c.updater->checks, 1);
    EXPECT_TRUE(c->isUpdating());
    c.updater->canCheck = false;
    c->checkForUpdates();
    EXPECT_EQ(c.updater->checks, 1) << "the updater cannot check now";
    EXPECT_FALSE(c->canCheckForUpdates());
}

TEST(UpdateController, answersTheUpdaterByTheBusyTest) {
    const std::string refusal = "Finish recording and uploading before updating Nuvel.";
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "busy" : "idle");
        Controller c;
        c.busy = busy;
        EXPECT_EQ(c->mayPerformUpdateCheck(), busy ? std::optional(refusal) : std::nullopt);
        EXPECT_EQ(c->isUpdating(), !busy);
        EXPECT_EQ(c->shouldProceedWithUpdate({}), busy ? std::optional(refusal) : std::nullopt);
        int relaunches = 0;
        EXPECT_EQ(c->shouldPostponeRelaunch([&] { return ++relaunches > 0; }), busy);
        EXPECT_EQ(c->hasDeferredRelaunch(), busy);
        c->didFinishUpdateCycle(std::nullopt);
        EXPECT_EQ(c->isUpdating(), busy) << "a held relaunch keeps the update going";
        EXPECT_EQ(c->status(), busy ? "Update installation is waiting for recording and uploading to finish."
                                    : "Update check finished.");
        EXPECT_EQ(c->canCheckForUpdates(), false);
        c.busy = false;
        c->startIfReady();
        EXPECT_EQ(relaunches, busy ? 1 : 0);
        EXPECT_FALSE(c->hasDeferredRelaunch());
    }
    Controller failed;
    failed->didFinishUpdateCycle(std::string("offline"));
    EXPECT_EQ(failed->status(), "Update check could not finish. Try again later.");
    EXPECT_FALSE(failed->isUpdating());
}

TEST(UpdateController, aHeldRelaunchThatFailsEndsTheUpdateAndDoesNotStick) {
    Controller c;
    c.busy = true;
    c->mayPerformUpdateCheck();
    c.busy = true;
    ASSERT_TRUE(c->shouldPostponeRelaunch([] { return false; }));
    c->didFinishUpdateCycle(std::nullopt);
    ASSERT_TRUE(c->isUpdating());
    c.busy = false;
    const int before = c.changes;
    c->startIfReady();
    EXPECT_FALSE(c->isUpdating());
    EXPECT_FALSE(c->hasDeferredRelaunch());
    EXPECT_EQ(c->status(), "Update check could not finish. Try again later.");
    EXPECT_GT(c.changes, before);
}

} // namespace
} // namespace nuvel
