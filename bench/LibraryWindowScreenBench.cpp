// The library window over the real application model, holding 1,000 cloud meetings and 100
// recordings on this computer: a render of the cloud side and of the local side, each followed
// by the layout and a paint of the whole window, and one tick while an upload runs, in which the
// playback of the meeting shown moves on a second, followed by the paint it asks for. Each figure
// is printed beside a bare QListView over a QStringListModel with the same 1,100 two-line rows,
// measured in the same iterations, as a ratio ("x_bare"): for a render, the bare list is reset
// with its rows, laid out and painted; for a tick, one of its rows changes and the paint it asks
// for is done.
#include "Nuvel/ui/library/LibrarySidebar.hpp"
#include "tests/ui/LibraryWorld.hpp"

#include <QLabel>
#include <QListView>
#include <QStringListModel>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace nuvel;
using namespace nuvel::test;

constexpr int cloudMeetings = 1000;
constexpr int localRecordings = 100;
const char* const states[] = {"ready", "processing", "queued", "failed"};

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Deferred deletes, posted layouts and the list's delayed layout run, and the updates they ask
// for are delivered at once, not in a later pass; the window is painted whole when `paint`,
// else only where something asked for it.
void settle(QWidget& window, bool paint) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    if (paint)
        window.repaint();
}

std::vector<MeetingSummary> meetings(int count) {
    std::vector<MeetingSummary> made;
    made.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        made.push_back(summary("mt_" + std::to_string(i),
                               "Weekly planning with the field team #" + std::to_string(i),
                               60.0 * (5 + i % 90), states[i % 4]));
    return made;
}

// The two lines of every row the window lists, as one text each.
QStringList bareRows(AppModel& model, const std::vector<MeetingSummary>& cloud) {
    QStringList rows;
    for (const MeetingSummary& meeting : cloud) {
        const SidebarRow row = cloudRow(meeting);
        rows.push_back(row.title + '\n' + row.subtitle);
    }
    for (const LocalRecording& recording : model.recordings()) {
        const SidebarRow row = localRow(recording, std::nullopt, false);
        rows.push_back(row.title + '\n' + row.subtitle);
    }
    return rows;
}

struct Screens {
    std::unique_ptr<LibraryWorld> world;
    QWidget window;
    QListView bare;
    QStringListModel bareModel;
    QStringList rows;
    std::vector<MeetingSummary> listed = meetings(cloudMeetings);

    Screens() {
        std::vector<LocalRecording> seeded;
        for (int i = 0; i < localRecordings; ++i)
            seeded.push_back(ShellWorld::recording("Room recording " + std::to_string(i)));
        world = std::make_unique<LibraryWorld>(true, seeded);
        world->cloud->shown.meetings = listed;
        world->cloud->shown.hasMore = true;
        world->cloud->shown.selectedID = "mt_500";
        world->calendar.state = SettingsActions::CalendarAccess::granted;
        for (int i = 0; i < 3; ++i)
            world->calendar.held.push_back(CalendarMeeting{"c" + std::to_string(i),
                                                           "Sync " + std::to_string(i),
                                                           Date{800000000.0 + 1800.0 * (i + 1)},
                                                           Date{800000000.0 + 1800.0 * (i + 2)},
                                                           {},
                                                           {},
                                                           "",
                                                           std::nullopt,
                                                           std::nullopt});
        world->library->setCalendar(&world->calendar);

        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(world->library->view());
        window.resize(1100, 720);
        window.show();
        settle(window, true);

        rows = bareRows(world->model(), listed);
        bare.setModel(&bareModel);
        bare.setUniformItemSizes(true);
        bare.resize(world->library->table()->size());
        bare.show();
        settle(bare, true);
    }
    ~Screens() { world->library->view()->setParent(nullptr); }

    void showSide(bool cloud) {
        world->library->locationChanged(cloud ? 1 : 0);
        settle(window, true);
    }
    // The bare list reset with its rows, laid out and painted.
    double resetBare() {
        const auto start = Clock::now();
        bareModel.setStringList(rows);
        settle(bare, true);
        return millisecondsSince(start);
    }
};

Screens& screens() {
    static Screens* made = [] {
        application();
        return new Screens; // lives until the process ends, as the window does
    }();
    return *made;
}

void report(benchmark::State& state, double screenMS, double bareMS, const char* label) {
    const double n = double(state.iterations());
    state.counters["screen_ms"] = screenMS / n;
    state.counters["bare_ms"] = bareMS / n;
    state.counters["x_bare"] = screenMS / bareMS;
    state.SetLabel(label);
}

// Arg 0: the same 1,000 meetings rendered again, as after any change of the model; arg 1: the
// list changes length on every render (1,000 and 999 meetings in turn), so the view is reset.
void RenderCloudSide(benchmark::State& state) {
    Screens& s = screens();
    s.showSide(true);
    const bool changing = state.range(0) != 0;
    std::vector<MeetingSummary> shorter(s.listed.begin(), s.listed.end() - 1);
    double screenMS = 0, bareMS = 0;
    int turn = 0;
    for (auto _ : state) {
        if (changing)
            s.world->cloud->shown.meetings = (turn++ % 2 == 0) ? shorter : s.listed;
        const auto start = Clock::now();
        s.world->library->render();
        settle(s.window, true);
        screenMS += millisecondsSince(start);
        bareMS += s.resetBare();
    }
    s.world->cloud->shown.meetings = s.listed;
    if (s.world->library->table()->model()->rowCount() !=
        (changing && turn % 2 == 1 ? cloudMeetings - 1 : cloudMeetings))
        state.SkipWithError("the cloud side does not list the meetings");
    report(state, screenMS, bareMS, changing ? "list changed" : "same list");
}
BENCHMARK(RenderCloudSide)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The 100 recordings listed, the first one's pane beside them.
void RenderLocalSide(benchmark::State& state) {
    Screens& s = screens();
    s.showSide(false);
    AppModel& model = s.world->model();
    model.select(model.recordings().front().id);
    s.world->world.queue.drain();
    double screenMS = 0, bareMS = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        s.world->library->render();
        settle(s.window, true);
        screenMS += millisecondsSince(start);
        bareMS += s.resetBare();
    }
    if (s.world->library->table()->model()->rowCount() != localRecordings)
        state.SkipWithError("the local side does not list the recordings");
    report(state, screenMS, bareMS, "recording selected");
}
BENCHMARK(RenderLocalSide)->Unit(benchmark::kMillisecond);

// A recording is being sent (its upload waits on the executor for the whole run) while the
// meeting shown on the cloud side plays: no recording may run during an upload, so the ticks are
// the playback's, and each shows the position a second on, in the clock and the slider.
void TickDuringUpload(benchmark::State& state) {
    Screens& s = screens();
    AppModel& model = s.world->model();
    const Uuid sent = model.recordings().front().id;
    s.world->world.executor.holding = true;
    model.startUploadIfAllowed(sent, false);
    s.world->world.queue.drain();
    if (!model.uploading()) {
        state.SkipWithError("the upload did not start");
        return;
    }
    CloudMeetingState& cloud = s.world->cloud->shown;
    cloud.document = longMeeting(false);
    cloud.document->summary.id = cloud.selectedID.value_or("mt_500");
    cloud.durationMilliseconds = cloud.document->transcript.duration_ms;
    cloud.playbackMilliseconds = 0;
    cloud.isPlaying = true;
    s.showSide(true);
    s.resetBare();
    const auto* clock = s.window.findChild<QLabel*>(QStringLiteral("meeting-detail-playback-time"));
    if (clock == nullptr) {
        state.SkipWithError("the meeting shows no playback clock");
        return;
    }
    double screenMS = 0, bareMS = 0;
    int turn = 0, unchanged = 0;
    for (auto _ : state) {
        cloud.playbackMilliseconds = (cloud.playbackMilliseconds + 1000) % cloud.durationMilliseconds;
        const QString shown = clock->text();
        auto start = Clock::now();
        s.world->library->tick();
        settle(s.window, false);
        screenMS += millisecondsSince(start);
        unchanged += clock->text() == shown ? 1 : 0;
        start = Clock::now();
        s.bareModel.setData(s.bareModel.index(turn % 20), s.rows[(turn + 1) % int(s.rows.size())]);
        ++turn;
        settle(s.bare, false);
        bareMS += millisecondsSince(start);
    }
    if (unchanged > 0)
        state.SkipWithError("a tick did not show the playback moving on");
    report(state, screenMS, bareMS, "uploading, playing");
}
BENCHMARK(TickDuringUpload)->Unit(benchmark::kMillisecond);

} // namespace
