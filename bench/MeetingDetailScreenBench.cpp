// The meeting detail screen with a three-hour meeting (30,000 words): a render of a newly opened
// meeting into the shown screen, and one find with its scroll and repaint. Each figure is
// printed beside the same work done by a bare QTextBrowser holding the same transcript as plain
// text, measured in the same iterations, as a ratio ("x_bare"). A last figure is the resident
// memory over 500 redraws of the open meeting, as the library's model changes cause them.
#include "Nuvel/ui/detail/MeetingDetailController.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace nuvel;

constexpr int wordCount = 30000;
constexpr std::int64_t meetingMS = 3 * 3600 * 1000;

QApplication& application() {
    static QApplication* app = [] {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "detail-screen-bench";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

NativeMeetingDocument meeting(bool arabic) {
    static const std::vector<std::string> latin = {"the",     "budget", "plan",  "we",   "should",
                                                   "ship",    "in",     "May",   "café", "review",
                                                   "numbers", "and",    "agree", "on",   "team"};
    static const std::vector<std::string> arabicWords = {
        "الميزانية", "الخطة", "نحن", "يجب", "أن", "نطلق", "في", "مايو", "نراجع", "الأرقام", "و", "الفريق"};
    const auto& vocabulary = arabic ? arabicWords : latin;
    const MeetingAccess access{"owner", "workspace", {{"edit", true}, {"export", true}, {"share", true}}};
    MeetingTranscript transcript;
    transcript.version = 1;
    for (int s = 1; s <= 4; ++s)
        transcript.speakers["S" + std::to_string(s)] = MeetingSpeaker{"Speaker " + std::to_string(s)};
    MeetingJSON::Array corrections;
    const std::int64_t step = meetingMS / wordCount;
    for (int i = 0; i < wordCount; ++i) {
        const std::string id = "w" + std::to_string(i);
        transcript.words.push_back(
            MeetingWord{id, vocabulary[std::size_t(i * 7 + i / 13) % vocabulary.size()], i * step,
                        i * step + step - 40, "S" + std::to_string(1 + (i / 40) % 4), std::nullopt});
        if (i % 50 == 0)
            corrections.push_back(MeetingJSON::object(
                {{"id", MeetingJSON::string(id)}, {"from", MeetingJSON::string("before")}}));
    }
    NativeMeetingDocument document;
    document.summary = MeetingSummary{"mt_bench", "Three hours", "ready", std::nullopt, 7,           access,
                                      "",         10800.0,       false,   1772445600,   std::nullopt};
    document.transcript =
        MeetingTranscriptDocument::make("corrected", 7, meetingMS, std::move(transcript), access);
    document.transcript.corrections = MeetingJSON::array(std::move(corrections));
    return document;
}

QString plainTranscript(const NativeMeetingDocument& document) {
    QString text;
    for (const auto& word : document.transcript.transcript.words)
        text += QString::fromStdString(word.text) + ' ';
    return text;
}

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Screens {
    QWidget window;
    MeetingDetailController controller;
    QTextBrowser bare;
    Screens() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(controller.view());
        window.resize(1000, 720);
        window.show();
        bare.resize(1000, 560);
        bare.show();
    }
};

void report(benchmark::State& state, double screenMS, double bareMS) {
    const double n = double(state.iterations());
    state.counters["screen_ms"] = screenMS / n;
    state.counters["bare_ms"] = bareMS / n;
    state.counters["x_bare"] = screenMS / bareMS;
    state.SetLabel(state.range(0) != 0 ? "arabic" : "latin");
}

void RenderNewMeeting(benchmark::State& state) {
    application();
    NativeMeetingDocument documents[2] = {meeting(state.range(0) != 0), meeting(state.range(0) != 0)};
    documents[1].summary.id = "mt_other";
    const QString plain = plainTranscript(documents[0]);
    Screens screens;
    double screenMS = 0, bareMS = 0;
    int turn = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        screens.controller.render(documents[turn++ % 2], nullptr, nullptr, std::nullopt);
        screens.window.repaint();
        screenMS += millisecondsSince(start);
        start = Clock::now();
        screens.bare.setPlainText(plain);
        screens.bare.repaint();
        bareMS += millisecondsSince(start);
    }
    report(state, screenMS, bareMS);
}
BENCHMARK(RenderNewMeeting)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One find on the transcript tab, its match scrolled into view and painted.
void FindAndScroll(benchmark::State& state) {
    application();
    const NativeMeetingDocument document = meeting(state.range(0) != 0);
    Screens screens;
    screens.controller.render(document, nullptr, nullptr, std::nullopt);
    screens.bare.setPlainText(plainTranscript(document));
    auto* search = screens.window.findChild<QLineEdit*>(QStringLiteral("meeting-detail-search"));
    const QString query = state.range(0) != 0 ? QStringLiteral("الأرقام") : QStringLiteral("numbers");
    search->setText(query);
    double screenMS = 0, bareMS = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        screens.controller.findNext();
        screens.window.repaint();
        screenMS += millisecondsSince(start);
        start = Clock::now();
        if (!screens.bare.find(query))
            screens.bare.moveCursor(QTextCursor::Start);
        screens.bare.repaint();
        bareMS += millisecondsSince(start);
    }
    report(state, screenMS, bareMS);
}
BENCHMARK(FindAndScroll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Resident memory in MiB, from the kernel's page count of this process.
double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// 500 redraws of the same open meeting (each a render of the same document): resident memory
// before, after the first 100, and after all 500. It stays flat once the first redraws have
// warmed the caches.
void RedrawResidentMemory(benchmark::State& state) {
    application();
    const NativeMeetingDocument document = meeting(state.range(0) != 0);
    Screens screens;
    screens.controller.render(document, nullptr, nullptr, std::nullopt);
    QApplication::processEvents();
    double before = 0, warm = 0, after = 0;
    for (auto _ : state) {
        before = residentMiB();
        for (int redraw = 1; redraw <= 500; ++redraw) {
            screens.controller.render(document, nullptr, nullptr, std::nullopt);
            QApplication::processEvents();
            if (redraw == 100)
                warm = residentMiB();
        }
        after = residentMiB();
    }
    state.counters["rss_start_mib"] = before;
    state.counters["rss_100_mib"] = warm;
    state.counters["rss_500_mib"] = after;
    state.counters["growth_100_to_500_mib"] = after - warm;
    state.SetLabel(state.range(0) != 0 ? "arabic" : "latin");
}
BENCHMARK(RedrawResidentMemory)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
