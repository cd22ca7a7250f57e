#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace nuvel;
using nuvel::test::PreferredLanguagesScope;

namespace {

const QString checkingText =
    "Checking sources for three seconds. Audio is metered and discarded; nothing is saved or uploaded.";
const QString passedText = "Source check finished. If the meeting app was quiet during the check, cancel and "
                           "repeat while it plays a test sound. Silence can be normal. Start when ready.";
const QString failedText =
    "A source could not be checked. Check permissions and the selected app, then cancel and try again.";

// A check that completes one pass each time the manual queue moves on by 100 ms, setting the
// meters from its script, and fails at a chosen pass.
struct FakeCheck {
    double microphoneLevel = 0.42;
    double systemLevel = 0.86;
    std::optional<int> failAtPass; // 1-based

    int runs = 0;
    int passes = 0;
    bool cancelled = false;
    bool lostMeters = false;
    bool system = false;
    std::optional<SystemAudioSelection> selection;
    bool includesMicrophone = false;
    std::optional<std::uint32_t> deviceID;
};

Task<void> fakePasses(FakeCheck* fake, std::weak_ptr<SourceCheckMeters> meters) {
    try {
        for (int pass = 1; pass <= SourceCheck::passes; ++pass) {
            co_await checkCancellation();
            if (auto sink = meters.lock()) {
                sink->setMicrophoneLevel(fake->microphoneLevel);
                if (fake->system)
                    sink->setSystemLevel(fake->systemLevel);
            } else {
                fake->lostMeters = true;
            }
            if (fake->failAtPass == pass)
                throw Error("the source stopped");
            co_await sleepFor(SourceCheck::passInterval);
            ++fake->passes;
        }
    } catch (const Cancelled&) {
        fake->cancelled = true;
        throw;
    }
}

SourceChecks fakeChecks(FakeCheck* fake) {
    SourceChecks checks;
    checks.microphone = [fake](std::optional<std::uint32_t> deviceID,
                               std::weak_ptr<SourceCheckMeters> meters) {
        ++fake->runs;
        fake->system = false;
        fake->deviceID = deviceID;
        return fakePasses(fake, std::move(meters));
    };
    checks.system = [fake](SystemAudioSelection selection, bool includesMicrophone,
                           std::optional<std::uint32_t> deviceID, std::weak_ptr<SourceCheckMeters> meters) {
        ++fake->runs;
        fake->system = true;
        fake->selection = selection;
        fake->includesMicrophone = includesMicrophone;
        fake->deviceID = deviceID;
        return fakePasses(fake, std::move(meters));
    };
    return checks;
}

class SourceCheckSheet : public ::testing::Test {
protected:
    void SetUp() override { test::application(); }
    void TearDown() override {
        for (auto& sheet : made)
            delete sheet.data(); // sheets a test did not dismiss
        test::flushDeferredDeletes();
    }

    QPointer<SourceCheckController> make(std::optional<SystemAudioSelection> source = std::nullopt,
                                         std::optional<std::uint32_t> deviceID = std::nullopt,
                                         SourceChecks checks = {}) {
        if (!checks.microphone && !checks.system)
            checks = fakeChecks(&fake);
        QPointer<SourceCheckController> sheet(new SourceCheckController(
            queue, std::move(checks), source, "Record the room with this microphone", deviceID));
        sheet->onStart = [this, sheet] {
            ++starts;
            visibleAtStart = sheet && sheet->isVisible();
        };
        made.push_back(sheet);
        return sheet;
    }
    // Lets the check run `count` passes.
    void runPasses(int count) {
        queue.drain();
        for (int i = 0; i < count; ++i)
            queue.advance(SourceCheck::passInterval);
    }
    template <class T> T* find(QWidget* sheet, const char* name) {
        return sheet->findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* startButton(QWidget* sheet) { return find<QPushButton>(sheet, "source-check-start"); }
    QPushButton* cancelButton(QWidget* sheet) { return find<QPushButton>(sheet, "source-check-cancel"); }
    QString status(QWidget* sheet) { return find<QLabel>(sheet, "source-check-status")->text(); }
    double meter(QWidget* sheet, const char* name) { return find<LevelIndicator>(sheet, name)->value(); }
    void press(QWidget* target, Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    void saveScreenshot(QWidget* sheet, const std::string& name) {
        const QPixmap picture = sheet->grab();
        ASSERT_FALSE(picture.isNull());
        const auto path = test::artifactsFolder() / name;
        ASSERT_TRUE(picture.save(QString::fromStdString(path.string()), "PNG")) << path;
    }

    PreferredLanguagesScope languages{{"en-US"}};
    ManualMainQueue queue;
    FakeCheck fake;
    std::vector<QPointer<SourceCheckController>> made;
    int starts = 0;
    bool visibleAtStart = true;
};

TEST_F(SourceCheckSheet, BuildsItsWindowWithTheGivenTexts) {
    auto sheet = make();
    EXPECT_EQ(sheet->windowTitle(), "Check recording sources");
    EXPECT_EQ(sheet->width(), 460);
    EXPECT_FALSE(sheet->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(find<QLabel>(sheet, "source-check-heading")->text(), "Record the room with this microphone");
    EXPECT_EQ(find<QLabel>(sheet, "source-check-microphone-caption")->text(), "Microphone");
    EXPECT_EQ(find<QLabel>(sheet, "source-check-application-caption")->text(), "Application audio");
    EXPECT_EQ(status(sheet), checkingText);
    EXPECT_EQ(cancelButton(sheet)->text(), "Cancel");
    EXPECT_EQ(startButton(sheet)->text(), "Start recording");
    EXPECT_FALSE(startButton(sheet)->isEnabled());
    auto* microphone = find<LevelIndicator>(sheet, "source-check-microphone-level");
    auto* system = find<LevelIndicator>(sheet, "source-check-application-level");
    EXPECT_EQ(microphone->accessibleName(), "Microphone level");
    EXPECT_EQ(system->accessibleName(), "Application audio level");
    EXPECT_EQ(microphone->height(), 8);
    EXPECT_EQ(microphone->warningValue(), 0.8);
    EXPECT_EQ(system->criticalValue(), 0.95);
    // Nothing runs before the sheet is presented.
    queue.drain();
    EXPECT_EQ(fake.runs, 0);
}

TEST_F(SourceCheckSheet, StartStaysDisabledUntilThirtyPassesSucceed) {
    auto sheet = make(std::nullopt, 7u);
    sheet->present();
    EXPECT_TRUE(sheet->isVisible());
    runPasses(29);
    EXPECT_EQ(fake.runs, 1);
    EXPECT_FALSE(fake.system);
    EXPECT_EQ(fake.deviceID, 7u);
    EXPECT_EQ(fake.passes, 29);
    EXPECT_TRUE(sheet->isChecking());
    EXPECT_FALSE(startButton(sheet)->isEnabled());
    EXPECT_FALSE(sheet->sourceChecked());
    EXPECT_EQ(status(sheet), checkingText);
    EXPECT_DOUBLE_EQ(meter(sheet, "source-check-microphone-level"), 0.42);
    saveScreenshot(sheet, "source-check-sheet-checking.png");

    // Return and the action itself do nothing before the check has passed.
    press(sheet, Qt::Key_Return);
    press(cancelButton(sheet), Qt::Key_Enter);
    sheet->startRecording();
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(sheet->isVisible());

    runPasses(1);
    EXPECT_EQ(fake.passes, 30);
    EXPECT_TRUE(sheet->sourceChecked());
    EXPECT_TRUE(startButton(sheet)->isEnabled());
    EXPECT_EQ(status(sheet), passedText);
    EXPECT_TRUE(sheet->isVisible()); // it waits for the user
}

TEST_F(SourceCheckSheet, StartClosesTheSheetFirstThenRunsOnStartOnce) {
    auto sheet = make();
    sheet->present();
    runPasses(30);
    ASSERT_TRUE(startButton(sheet)->isEnabled());
    startButton(sheet)->click();
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(visibleAtStart);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    sheet->startRecording(); // a second press cannot start a second recording
    EXPECT_EQ(starts, 1);
    test::flushDeferredDeletes();
    EXPECT_TRUE(sheet.isNull()); // the sheet let go of itself

    // Once passed, Return starts wherever the focus is.
    auto second = make();
    second->present();
    runPasses(30);
    press(cancelButton(second), Qt::Key_Return);
    EXPECT_EQ(starts, 2);
    EXPECT_FALSE(visibleAtStart);
}

TEST_F(SourceCheckSheet, CancelStopsTheCheckAndNeverStarts) {
    auto sheet = make();
    sheet->present();
    runPasses(10);
    cancelButton(sheet)->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(sheet->isChecking());
    queue.drain();
    EXPECT_TRUE(fake.cancelled);
    EXPECT_EQ(fake.passes, 10);
    runPasses(30);
    EXPECT_EQ(fake.passes, 10);
    EXPECT_EQ(starts, 0);
    test::flushDeferredDeletes();
    EXPECT_TRUE(sheet.isNull());
}

TEST_F(SourceCheckSheet, EscapeAndTheWindowCloseCancelLikeTheButton) {
    auto first = make();
    first->present();
    runPasses(3);
    press(first, Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    queue.drain();
    EXPECT_TRUE(fake.cancelled);

    fake = FakeCheck();
    auto second = make();
    second->present();
    runPasses(30); // even after a passed check, closing the window does not start
    EXPECT_TRUE(second->sourceChecked());
    second->close();
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(starts, 0);
    test::flushDeferredDeletes();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(second.isNull());
}

TEST_F(SourceCheckSheet, AFailingSourceShowsTheFailureSentence) {
    fake.failAtPass = 12;
    auto sheet = make(SystemAudioSelection::application(4242));
    sheet->present();
    runPasses(12);
    EXPECT_EQ(status(sheet), failedText);
    EXPECT_FALSE(startButton(sheet)->isEnabled());
    EXPECT_FALSE(sheet->sourceChecked());
    saveScreenshot(sheet, "source-check-sheet-failed.png");
    press(sheet, Qt::Key_Return);
    EXPECT_EQ(starts, 0);
    // The check is not repeated.
    runPasses(40);
    EXPECT_EQ(fake.runs, 1);
    EXPECT_EQ(status(sheet), failedText);
    EXPECT_TRUE(sheet->isVisible());
}

TEST_F(SourceCheckSheet, TheApplicationRowShowsOnlyWithASource) {
    auto roomOnly = make();
    roomOnly->present();
    EXPECT_TRUE(find<QWidget>(roomOnly, "source-check-application-row")->isHidden());
    EXPECT_TRUE(find<QWidget>(roomOnly, "source-check-microphone-row")->isVisible());
    runPasses(5);
    EXPECT_FALSE(fake.system);
    EXPECT_DOUBLE_EQ(meter(roomOnly, "source-check-microphone-level"), 0.42);
    EXPECT_DOUBLE_EQ(meter(roomOnly, "source-check-application-level"), 0.0);
    roomOnly->cancelCheck();

    // With a source, the system check runs with the microphone and sets both meters.
    fake = FakeCheck();
    auto meeting = make(SystemAudioSelection::allSystem(), 3u);
    meeting->present();
    EXPECT_TRUE(find<QWidget>(meeting, "source-check-application-row")->isVisible());
    runPasses(2);
    EXPECT_TRUE(fake.system);
    EXPECT_EQ(fake.selection, SystemAudioSelection::allSystem());
    EXPECT_TRUE(fake.includesMicrophone);
    EXPECT_EQ(fake.deviceID, 3u);
    EXPECT_DOUBLE_EQ(meter(meeting, "source-check-microphone-level"), 0.42);
    EXPECT_DOUBLE_EQ(meter(meeting, "source-check-application-level"), 0.86);

    // The second meter is named for its source.
    const struct {
        SystemAudioSelection source;
        const char* caption;
        const char* label;
    } sources[] = {
        {SystemAudioSelection::allSystem(), "All system audio", "All system audio level"},
        {SystemAudioSelection::application(9), "Application audio", "Application audio level"},
    };
    for (const auto& c : sources) {
        auto sheet = make(c.source);
        EXPECT_EQ(find<QLabel>(sheet, "source-check-application-caption")->text(), c.caption);
        EXPECT_EQ(find<LevelIndicator>(sheet, "source-check-application-level")->accessibleName(), c.label);
    }
}

TEST_F(SourceCheckSheet, ASourceWithoutASystemCheckFails) {
    SourceChecks microphoneOnly = fakeChecks(&fake);
    microphoneOnly.system = nullptr;
    auto sheet = make(SystemAudioSelection::application(1), std::nullopt, microphoneOnly);
    sheet->present();
    queue.drain();
    EXPECT_EQ(fake.runs, 0);
    EXPECT_EQ(status(sheet), failedText);
    EXPECT_FALSE(startButton(sheet)->isEnabled());
}

TEST_F(SourceCheckSheet, OnAParentItIsAWindowModalSheetWithoutOneAWindowOfItsOwn) {
    QWidget window;
    window.resize(800, 600);
    window.show();
    auto onParent = make();
    onParent->present(&window);
    EXPECT_EQ(onParent->parentWidget(), &window);
    EXPECT_TRUE(onParent->isWindow());
    EXPECT_EQ(onParent->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(onParent->isVisible());
    runPasses(30);
    onParent->startRecording();
    EXPECT_FALSE(visibleAtStart);
    EXPECT_TRUE(window.isVisible());

    auto alone = make();
    alone->present();
    EXPECT_EQ(alone->parentWidget(), nullptr);
    EXPECT_TRUE(alone->isVisible());
    alone->cancelCheck();
    EXPECT_FALSE(alone->isVisible());
    test::flushDeferredDeletes();
    EXPECT_TRUE(onParent.isNull());
    EXPECT_TRUE(alone.isNull());
}

TEST_F(SourceCheckSheet, ASheetThatGoesAwayLeavesTheCheckWithoutMeters) {
    auto window = std::make_unique<QWidget>();
    window->show();
    auto sheet = make();
    sheet->present(window.get());
    runPasses(3);
    window.reset(); // takes the sheet with it
    EXPECT_TRUE(sheet.isNull());
    runPasses(30);
    EXPECT_TRUE(fake.cancelled || fake.lostMeters);
    EXPECT_EQ(starts, 0);
}

TEST_F(SourceCheckSheet, KeepsItsLayoutSpacing) {
    auto sheet = make(SystemAudioSelection::application(9));
    sheet->present();
    // Sized once, for the longest sentence: a window system may not let a shown sheet grow.
    const QSize shown = sheet->size();
    runPasses(30);
    EXPECT_EQ(sheet->size(), shown);
    auto geometry = [&](const char* name) {
        QWidget* widget = find<QWidget>(sheet, name);
        return QRect(widget->mapTo(sheet.data(), QPoint(0, 0)), widget->size());
    };
    const QRect heading = geometry("source-check-heading");
    const QRect microphone = geometry("source-check-microphone-row");
    const QRect application = geometry("source-check-application-row");
    const QRect statusLine = geometry("source-check-status");
    const QRect buttons = geometry("source-check-buttons");
    EXPECT_EQ(heading.left(), 20);
    EXPECT_EQ(heading.top(), 20);
    EXPECT_EQ(heading.width(), 420);
    EXPECT_EQ(microphone.top() - heading.bottom() - 1, 12);
    EXPECT_EQ(application.top() - microphone.bottom() - 1, 12);
    EXPECT_EQ(statusLine.top() - application.bottom() - 1, 12);
    EXPECT_EQ(buttons.top() - statusLine.bottom() - 1, 20);
    EXPECT_EQ(sheet->height() - buttons.bottom() - 1, 20);
    // The whole status sentence fits: the sheet grew with it.
    auto* label = find<QLabel>(sheet, "source-check-status");
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    // Buttons at the trailing (right) end, "Cancel" before "Start recording".
    const QRect cancel = geometry("source-check-cancel");
    const QRect start = geometry("source-check-start");
    EXPECT_LT(cancel.right(), start.left());
    EXPECT_EQ(start.right(), 460 - 20 - 1);
    saveScreenshot(sheet, "source-check-sheet.png");
}

TEST_F(SourceCheckSheet, RunsRightToLeftWhenTheFirstLanguageIsArabic) {
    PreferredLanguagesScope arabic({"ar-EG", "en-US"});
    auto sheet = make(SystemAudioSelection::application(9));
    sheet->present();
    runPasses(30);
    auto* content = find<QWidget>(sheet, "source-check-content");
    EXPECT_EQ(content->layoutDirection(), Qt::RightToLeft);
    for (const char* name :
         {"source-check-heading", "source-check-status", "source-check-microphone-caption"})
        EXPECT_EQ(find<QLabel>(sheet, name)->alignment() & Qt::AlignHorizontal_Mask,
                  Qt::AlignRight | Qt::AlignAbsolute)
            << name;
    EXPECT_TRUE(find<LevelIndicator>(sheet, "source-check-microphone-level")->isRightToLeft());
    // The buttons sit at the left end, mirrored: "Start recording" leftmost.
    const QPoint cancel = cancelButton(sheet)->mapTo(sheet.data(), QPoint(0, 0));
    const QPoint start = startButton(sheet)->mapTo(sheet.data(), QPoint(0, 0));
    EXPECT_EQ(start.x(), 20);
    EXPECT_GT(cancel.x(), start.x());
    EXPECT_LT(cancel.x() + cancelButton(sheet)->width(), 230);
    saveScreenshot(sheet, "source-check-sheet-rtl.png");
}

} // namespace
