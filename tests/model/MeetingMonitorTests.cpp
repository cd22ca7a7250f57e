// The meeting monitor over a scripted signal source on the virtual clock, and the meeting
// settings it reads.
#include "Nuvel/model/MeetingAppNames.hpp"
#include "Nuvel/model/MeetingMonitor.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>

using namespace nuvel;

namespace {

using Ids = std::vector<std::string>;
using Prompt = MeetingMonitor::Prompt;

class ScriptedSignals final : public MeetingSignalSource {
public:
    MeetingSignals currentSignals() override {
        ++reads;
        return signals;
    }
    MeetingSignals signals;
    int reads = 0;
};

const MeetingSignals quiet{false, std::nullopt, std::nullopt, {"us.zoom.xos"}};
const MeetingSignals zoomCall{true, Ids{"us.zoom.xos"}, std::nullopt, {"com.apple.finder", "us.zoom.xos"}};

struct Harness {
    ManualMainQueue queue{0.0};
    std::shared_ptr<MemoryDefaultsStore> defaults = std::make_shared<MemoryDefaultsStore>();
    std::shared_ptr<MeetingPreferences> preferences = std::make_shared<MeetingPreferences>(defaults);
    std::shared_ptr<ScriptedSignals> source = std::make_shared<ScriptedSignals>();
    bool capturing = false;
    std::vector<std::pair<double, Prompt>> prompts;
    std::vector<double> ended;
    MeetingMonitor monitor{queue, preferences, source, [this] { return Date{queue.now()}; }};

    Harness() {
        source->signals = quiet;
        monitor.isCapturing = [this] { return capturing; };
        monitor.onPrompt = [this](const Prompt& prompt) { prompts.emplace_back(queue.now(), prompt); };
        monitor.onCallEnded = [this] { ended.push_back(queue.now()); };
    }
    void advanceTo(double t) { queue.advance(t - queue.now()); }
};

} // namespace

TEST(MeetingMonitor, PollsOnlyWhileDetectionIsOnAndStartsOverWhenSwitchedOff) {
    Harness h;
    // Absent from the defaults: detection is on.
    h.monitor.refresh();
    h.monitor.refresh();
    EXPECT_TRUE(h.monitor.isPolling());
    EXPECT_EQ(h.queue.pendingTimers(), 1u);
    h.source->signals = zoomCall;
    h.advanceTo(10);
    EXPECT_EQ(h.source->reads, 5) << "one poll every 2 s";
    ASSERT_EQ(h.prompts.size(), 1u);
    EXPECT_EQ(h.monitor.lastSignals(), zoomCall);

    // Switched off: no timer, a new detector, and the owner told (at every refresh).
    h.preferences->setDetectionEnabled(false);
    h.monitor.refresh();
    EXPECT_FALSE(h.monitor.isPolling());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
    EXPECT_EQ(h.ended, (std::vector<double>{10}));
    EXPECT_TRUE(h.monitor.detector().lastAsked.empty());
    EXPECT_FALSE(h.monitor.detector().currentCall);
    EXPECT_FALSE(h.monitor.lastSignals());
    h.monitor.refresh();
    EXPECT_EQ(h.ended.size(), 2u);
    h.advanceTo(30);
    EXPECT_EQ(h.source->reads, 5);

    // A stored value that is not a boolean reads as on. The new detector asks again at once,
    // although Zoom was asked 20 s ago, once the call has settled for 4 s of polling.
    h.defaults->set("meetings.detection", "off");
    h.monitor.refresh();
    EXPECT_TRUE(h.monitor.isPolling());
    h.advanceTo(40);
    ASSERT_EQ(h.prompts.size(), 2u);
    EXPECT_EQ(h.prompts[1].first, 36);

    // The timer does not outlive its monitor.
    {
        MeetingMonitor other(h.queue, h.preferences, h.source);
        other.refresh();
        EXPECT_EQ(h.queue.pendingTimers(), 2u);
    }
    EXPECT_EQ(h.queue.pendingTimers(), 1u);
}

// Each scenario refreshes a monitor at t = 0 (polls at 2, 4, 6, ...), applies its changes at
// the given times (between polls) and checks every prompt and every call end with its time.
TEST(MeetingMonitor, ReportsPromptsAndCallEndsOnThePollClock) {
    using Change = std::function<void(Harness&)>;
    auto signals = [](MeetingSignals s) { return Change([s](Harness& h) { h.source->signals = s; }); };
    auto capturing = [](bool on) { return Change([on](Harness& h) { h.capturing = on; }); };
    auto muted = [](std::set<MeetingApp> apps) {
        return Change([apps](Harness& h) { h.preferences->setMutedApps(apps); });
    };
    struct Scenario {
        const char* name;
        std::vector<std::pair<double, Change>> changes;
        double until;
        std::vector<std::pair<double, Prompt>> prompts;
        std::vector<double> ended;
    };
    const Prompt zoomPrompt{MeetingApp::zoom, "us.zoom.xos"};
    const std::vector<Scenario> scenarios{
        {"a call is prompted at the poll 4 s after the first that saw it",
         {{1, signals(zoomCall)}},
         60,
         {{6, zoomPrompt}},
         {}},
        {"a call end is told once, at the first poll 30 s after the first that missed it",
         {{1, signals(zoomCall)}, {9, signals(quiet)}},
         120,
         {{6, zoomPrompt}},
         {40}},
        {"a call that comes back within the grace is the same call",
         {{1, signals(zoomCall)}, {9, signals(quiet)}, {37, signals(zoomCall)}, {45, signals(quiet)}},
         120,
         {{6, zoomPrompt}},
         {76}},
        {"capturing while Zoom holds the microphone: no prompt, then or later in that call",
         {{1, signals(zoomCall)}, {1.5, capturing(true)}, {3, capturing(false)}},
         60,
         {},
         {}},
        {"only this application records: no prompt though Zoom is frontmost",
         {{1, signals(MeetingSignals{true, Ids{}, "us.zoom.xos", {"us.zoom.xos"}})}},
         60,
         {},
         {}},
        {"muted during the settle time: none; unmuted before the end: at the next poll",
         {{1, signals(zoomCall)}, {3, muted({MeetingApp::zoom, MeetingApp::slack})}, {7, muted({})}},
         60,
         {{8, zoomPrompt}},
         {}},
        {"a browser call names the browser, not a helper listed before it",
         {{1, signals(MeetingSignals{true,
                                     Ids{"com.google.Chrome.helper"},
                                     "com.apple.finder",
                                     {"com.google.Chrome.helper.Renderer", "com.google.Chrome"}})}},
         60,
         {{6, Prompt{MeetingApp::browser, "com.google.Chrome"}}},
         {}},
        {"a prompted application that runs only as a helper: no bundle identifier",
         {{1, signals(MeetingSignals{
                  true, Ids{"com.google.Chrome.helper"}, std::nullopt, {"com.google.Chrome.helper"}})}},
         60,
         {{6, Prompt{MeetingApp::browser, std::nullopt}}},
         {}},
    };

    for (const auto& scenario : scenarios) {
        Harness h;
        h.monitor.refresh();
        for (const auto& [at, change] : scenario.changes) {
            h.advanceTo(at);
            change(h);
        }
        h.advanceTo(scenario.until);
        EXPECT_EQ(h.prompts, scenario.prompts) << scenario.name;
        EXPECT_EQ(h.ended, scenario.ended) << scenario.name;
    }
}

TEST(MeetingMonitor, PromptNamesTheMainApplication) {
    const std::vector<std::tuple<const char*, MeetingApp, MeetingSignals, std::optional<std::string>>> cases{
        {"the frontmost application comes first", MeetingApp::browser,
         MeetingSignals{true, std::nullopt, "org.mozilla.firefox", {"com.google.Chrome"}},
         "org.mozilla.firefox"},
        {"a frontmost application of another kind is passed over", MeetingApp::zoom,
         MeetingSignals{true, std::nullopt, "com.google.Chrome", {"us.zoom.xos"}}, "us.zoom.xos"},
        {"web-content processes are passed over", MeetingApp::browser,
         MeetingSignals{
             true, std::nullopt, "com.apple.WebKit.WebContent", {"com.apple.WebKit.GPU", "com.apple.Safari"}},
         "com.apple.Safari"},
        {"helpers are passed over, case-sensitively", MeetingApp::teams,
         MeetingSignals{true,
                        std::nullopt,
                        std::nullopt,
                        {"com.microsoft.teams2.helper", "com.microsoft.teams2.Helper"}},
         "com.microsoft.teams2.Helper"},
        {"the input list is not used", MeetingApp::zoom,
         MeetingSignals{true, Ids{"us.zoom.xos"}, std::nullopt, {}}, std::nullopt},
    };
    for (const auto& [name, app, signals, expected] : cases)
        EXPECT_EQ(MeetingMonitor::promptBundleID(app, signals), expected) << name;
}

TEST(MeetingPreferences, ReadsAndWritesTheMeetingSettings) {
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    MeetingPreferences preferences(defaults);
    struct Stored {
        std::optional<json::Value> value;
        bool flag;
        std::set<MeetingApp> apps;
    };
    const std::vector<Stored> cases{
        {std::nullopt, true, {}},
        {json::Value(false), false, {}},
        {json::Value(true), true, {}},
        {json::Value("no"), true, {}},
        {json::Value(0), true, {}},
        {json::Value::array({"zoom", "Zoom", "skype", "browser"}),
         true,
         {MeetingApp::zoom, MeetingApp::browser}},
        {json::Value::array({"zoom", 1}), true, {}},
        {json::Value("zoom"), true, {}},
    };
    for (const auto& stored : cases) {
        for (const char* key : {"meetings.detection", "meetings.reminders", "meetings.mutedApps"}) {
            if (stored.value)
                defaults->set(key, *stored.value);
            else
                defaults->remove(key);
        }
        std::string shown = stored.value ? stored.value->dump() : "absent";
        EXPECT_EQ(preferences.detectionEnabled(), stored.flag) << shown;
        EXPECT_EQ(preferences.remindersEnabled(), stored.flag) << shown;
        EXPECT_EQ(preferences.mutedApps(), stored.apps) << shown;
    }

    // One set is always stored the same way: its raw values in ascending order.
    preferences.setMutedApps({MeetingApp::webex, MeetingApp::browser, MeetingApp::zoom});
    EXPECT_EQ(defaults->value("meetings.mutedApps"), json::Value::array({"browser", "webex", "zoom"}));
    preferences.setMutedApps({});
    EXPECT_EQ(defaults->value("meetings.mutedApps"), json::Value::array());
    preferences.setDetectionEnabled(false);
    preferences.setRemindersEnabled(false);
    EXPECT_EQ(defaults->value("meetings.detection"), json::Value(false));
    EXPECT_EQ(defaults->value("meetings.reminders"), json::Value(false));

    // Only "Web browsers" goes through the localisation table.
    auto localize = [](std::string_view text) { return "«" + std::string(text) + "»"; };
    std::vector<std::string> names;
    for (MeetingApp app : allMeetingApps)
        names.push_back(displayName(app, localize));
    EXPECT_EQ(names, (Ids{"Zoom", "Microsoft Teams", "Webex", "Slack", "FaceTime", "«Web browsers»"}));
    EXPECT_EQ(displayName(MeetingApp::browser), "Web browsers");
}
