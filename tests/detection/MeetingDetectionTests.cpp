#include "NuvelKit/detection/MeetingDetector.hpp"

#include <gtest/gtest.h>

using namespace nuvel;

namespace {

constexpr auto zoom = MeetingApp::zoom;
constexpr auto teams = MeetingApp::teams;
constexpr auto webex = MeetingApp::webex;
constexpr auto slack = MeetingApp::slack;
constexpr auto facetime = MeetingApp::facetime;
constexpr auto browser = MeetingApp::browser;
using Ids = std::vector<std::string>;

MeetingSignals recording(Ids inputs, Ids running = {}) {
    return MeetingSignals{true, std::move(inputs), std::nullopt, std::move(running)};
}
MeetingSignals unattributed(std::optional<std::string> frontmost, Ids running) {
    return MeetingSignals{true, std::nullopt, std::move(frontmost), std::move(running)};
}
const MeetingSignals quiet{false, std::nullopt, std::nullopt, {"us.zoom.xos"}};
const MeetingSignals zoomCall = recording({"us.zoom.xos"});
const MeetingSignals browserCall = recording({"com.google.Chrome"});

} // namespace

TEST(MeetingApp, RawValuesAndBundleIdentifiers) {
    std::vector<std::string> raw;
    for (MeetingApp app : allMeetingApps) {
        raw.emplace_back(rawValue(app));
        EXPECT_EQ(meetingAppFromRawValue(rawValue(app)), app);
    }
    EXPECT_EQ(raw, (Ids{"zoom", "teams", "webex", "slack", "facetime", "browser"}));
    for (const char* notRaw : {"Zoom", "", "browsers", " zoom"})
        EXPECT_EQ(meetingAppFromRawValue(notRaw), std::nullopt) << notRaw;

    const std::vector<std::pair<std::string, std::optional<MeetingApp>>> cases{
        {"us.zoom.xos", zoom},
        {"us.zoom.", zoom},
        {"us.zoomer", std::nullopt},
        {"com.microsoft.teams", teams},
        {"com.microsoft.teams2", teams},
        {"com.microsoft.Teams", std::nullopt}, // case-sensitive
        {"com.cisco.webexmeetingsapp", webex},
        {"Cisco-Systems.Spark", webex},
        {"com.webex.meetingmanager", webex},
        {"com.tinyspeck.slackmacgap", slack},
        {"com.apple.FaceTime", facetime},
        {"com.apple.WebKit.WebContent", browser},
        {"com.apple.WebKit", std::nullopt},
        {"com.google.Chrome.helper", browser},
        {"org.mozilla.firefox", browser},
        {"company.thebrowser.Browser", browser},
        {"com.operasoftware.OperaGX", browser},
        {" us.zoom.xos", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [id, app] : cases)
        EXPECT_EQ(meetingAppForBundleID(id), app) << id;
    EXPECT_EQ(bundleIDPrefixes(webex).size(), 3u);
    EXPECT_EQ(bundleIDPrefixes(browser).front(), "com.google.Chrome");
}

TEST(MeetingSignals, InfersTheApplicationInACall) {
    const std::vector<std::tuple<const char*, MeetingSignals, std::optional<MeetingApp>>> cases{
        {"microphone off, apps running",
         MeetingSignals{false, Ids{"us.zoom.xos"}, "us.zoom.xos", {"us.zoom.xos"}}, std::nullopt},
        {"unattributed: the frontmost browser wins over running Zoom",
         unattributed("com.apple.Safari", {"us.zoom.xos"}), browser},
        {"unattributed: a frontmost non-meeting app falls back to running Zoom",
         unattributed("com.apple.finder", {"com.apple.finder", "us.zoom.xos"}), zoom},
        {"unattributed: frontmost Slack counts", unattributed("com.tinyspeck.slackmacgap", {}), slack},
        {"unattributed: running Slack and browsers never count",
         unattributed(std::nullopt, {"com.tinyspeck.slackmacgap", "com.google.Chrome"}), std::nullopt},
        {"unattributed: the first dedicated running app",
         unattributed(std::nullopt, {"com.google.Chrome", "com.cisco.webex", "us.zoom.xos"}), webex},
        {"attributed: a dedicated app beats an earlier browser",
         recording({"com.google.Chrome", "us.zoom.xos"}), zoom},
        {"attributed: a browser alone", recording({"com.google.Chrome"}), browser},
        {"attributed: the first of Slack and a browser",
         recording({"x.unknown", "com.tinyspeck.slackmacgap", "com.google.Chrome"}), slack},
        {"attributed but empty: no fallback to frontmost Zoom",
         MeetingSignals{true, Ids{}, "us.zoom.xos", {"us.zoom.xos"}}, std::nullopt},
        {"attributed to unknown processes only: no fallback",
         recording({"org.gnome.Terminal"}, {"us.zoom.xos"}), std::nullopt},
    };
    for (const auto& [name, signals, app] : cases)
        EXPECT_EQ(signals.meetingApp(), app) << name;
}

// Each scenario steps one detector at the given times (seconds) under the monitor's policy,
// with the policy's switches and the capture state of that step, and checks what each step
// returns and which call is tracked after it.
TEST(MeetingDetector, StepsThroughCallsOnTheClock) {
    struct Step {
        double t;
        MeetingSignals signals;
        std::optional<MeetingApp> prompt = std::nullopt;
        std::optional<MeetingApp> call = std::nullopt;
        bool capturing = false;
        bool enabled = true;
        std::set<MeetingApp> muted = {};
    };
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
        std::map<MeetingApp, double> lastAsked;
    };
    auto seen = [](double t, const MeetingSignals& s, MeetingApp call) {
        return Step{t, s, std::nullopt, call};
    };
    auto asks = [](double t, const MeetingSignals& s, MeetingApp app) { return Step{t, s, app, app}; };
    auto gap = [](double t, std::optional<MeetingApp> call) { return Step{t, quiet, std::nullopt, call}; };

    const std::vector<Scenario> scenarios{
        {"the prompt comes once the call has lasted 4 s",
         {seen(0, zoomCall, zoom), seen(2, zoomCall, zoom), asks(4, zoomCall, zoom), seen(6, zoomCall, zoom)},
         {{zoom, 4}}},
        {"a quiet step shorter than the grace neither re-times nor re-prompts",
         {seen(0, zoomCall, zoom), gap(2, zoom), asks(4, zoomCall, zoom)},
         {{zoom, 4}}},
        {"a prompted call back after a 20 s gap is not prompted again",
         {seen(0, zoomCall, zoom), asks(4, zoomCall, zoom), gap(6, zoom), gap(16, zoom), gap(24, zoom),
          seen(26, zoomCall, zoom), seen(30, zoomCall, zoom)},
         {{zoom, 4}}},
        {"the call ends at the step 30 s after the first quiet one; the cooldown then holds, then lets go",
         {seen(0, zoomCall, zoom), asks(4, zoomCall, zoom), gap(6, zoom), gap(35.9, zoom),
          gap(36, std::nullopt), gap(100, std::nullopt),
          // 10 minutes after the prompt: settled, then handled without a prompt, to its end.
          seen(604, zoomCall, zoom), seen(608, zoomCall, zoom), seen(1300, zoomCall, zoom), gap(1302, zoom),
          gap(1332, std::nullopt),
          // Past 20 minutes after the prompt: prompted.
          seen(1400, zoomCall, zoom), asks(1404, zoomCall, zoom)},
         {{zoom, 1404}}},
        {"the cooldown ends at exactly 1200 s",
         {seen(0, zoomCall, zoom), asks(4, zoomCall, zoom), gap(6, zoom), gap(36, std::nullopt),
          seen(1200, zoomCall, zoom), asks(1204, zoomCall, zoom)},
         {{zoom, 1204}}},
        {"capturing at any step marks the call handled, also after the capture stops",
         {seen(0, zoomCall, zoom), Step{2, zoomCall, std::nullopt, zoom, true}, seen(4, zoomCall, zoom),
          seen(60, zoomCall, zoom), gap(62, zoom), seen(70, zoomCall, zoom)},
         {}},
        {"disabled: tracked and ended, never prompted; enabled mid-call: prompted at the next step",
         {Step{0, zoomCall, std::nullopt, zoom, false, false},
          Step{6, zoomCall, std::nullopt, zoom, false, false},
          Step{8, quiet, std::nullopt, zoom, false, false},
          Step{38, quiet, std::nullopt, std::nullopt, false, false},
          Step{40, zoomCall, std::nullopt, zoom, false, false},
          Step{46, zoomCall, std::nullopt, zoom, false, false}, asks(48, zoomCall, zoom)},
         {{zoom, 48}}},
        {"muted during the settle time: no prompt; unmuted before the end: prompted at the next step",
         {Step{0, zoomCall, std::nullopt, zoom, false, true, {zoom}},
          Step{6, zoomCall, std::nullopt, zoom, false, true, {zoom}},
          Step{8, zoomCall, zoom, zoom, false, true, {browser}}},
         {{zoom, 8}}},
        {"a call that switches from the prompted browser to Zoom is not prompted again",
         {seen(0, browserCall, browser), asks(4, browserCall, browser), seen(6, zoomCall, zoom),
          seen(12, zoomCall, zoom)},
         {{browser, 4}}},
        {"no call: a quiet step changes nothing", {gap(0, std::nullopt), gap(100, std::nullopt)}, {}},
    };

    for (const auto& scenario : scenarios) {
        MeetingDetector detector;
        for (const auto& step : scenario.steps) {
            MeetingDetectionPolicy policy{step.enabled, step.muted, 4, 30, 1200};
            auto prompt = detector.update(step.signals, Date{step.t}, policy, step.capturing);
            EXPECT_EQ(prompt, step.prompt) << scenario.name << " at t=" << step.t;
            EXPECT_EQ(detector.currentCall, step.call) << scenario.name << " at t=" << step.t;
            EXPECT_EQ(detector.activeSince.has_value(), step.call.has_value())
                << scenario.name << " t=" << step.t;
        }
        std::map<MeetingApp, double> asked;
        for (const auto& [app, date] : detector.lastAsked)
            asked[app] = date.sinceReferenceDate;
        EXPECT_EQ(asked, scenario.lastAsked) << scenario.name;
    }
}
