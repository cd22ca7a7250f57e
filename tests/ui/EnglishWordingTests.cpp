// The English wording the windows show: no sentence of the model names the other platform.
#include "Nuvel/model/StatusText.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "Nuvel/ui/common/EnglishWording.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/prompts/MeetingPrompts.hpp"
#include "Nuvel/ui/settings/SettingsController.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "tests/ui/LibraryWorld.hpp"
#include "tests/ui/ShellFakes.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace nuvel;

namespace {

class EnglishWordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::application();
        QCoreApplication::installTranslator(&wording);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&wording); }

    EnglishWording wording;
};

// Every text a window shows or tells an assistive tool: labels, buttons, items, menus and
// their actions, tool tips, titles, placeholders, accessible names and descriptions.
void collectTexts(QObject* object, QStringList& texts) {
    auto addAction = [&texts](QAction* action) {
        texts << action->text() << action->toolTip() << action->iconText();
    };
    if (auto* widget = qobject_cast<QWidget*>(object)) {
        texts << widget->windowTitle() << widget->toolTip() << widget->accessibleName()
              << widget->accessibleDescription();
        for (QAction* action : widget->actions()) {
            addAction(action);
            if (action->menu() != nullptr)
                collectTexts(action->menu(), texts);
        }
    }
    if (auto* label = qobject_cast<QLabel*>(object))
        texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(object))
        texts << button->text();
    if (auto* field = qobject_cast<QLineEdit*>(object))
        texts << field->placeholderText();
    if (auto* box = qobject_cast<QComboBox*>(object))
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
    if (auto* menu = qobject_cast<QMenu*>(object))
        texts << menu->title();
    for (QObject* child : object->children())
        collectTexts(child, texts);
}

// The other platform's names for its places and panels.
const QRegularExpression
    otherPlatform(QStringLiteral("\\b(Mac|Finder|System Settings|Login Items?|in Applications)\\b"));

} // namespace

TEST_F(EnglishWordingTest, NoWindowShowsTheOtherPlatformsNames) {
    QStringList texts;
    // The shell: the menus, the popover and the window around the library.
    test::DelegateFixture shell;
    shell.launched();
    collectTexts(shell.delegate->libraryWindow(), texts);
    collectTexts(shell.delegate->companion()->view(), texts);
    // The library with its panes.
    test::LibraryWorld library;
    collectTexts(library.library->view(), texts);
    // Settings, with a program to start at login that is not there.
    test::TempDir home("wording");
    SettingsController::Platform platform;
    platform.loginItem = std::make_shared<LoginItem>(home / "autostart", home / "missing" / "nuvel");
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    SettingsController settings(CapturePreferences(*defaults), std::make_shared<MeetingPreferences>(defaults),
                                SettingsActions{}, platform);
    collectTexts(settings.window(), texts);
    // The source check of all system audio, and a meeting prompt.
    SourceCheckController check(library.world.queue, SourceChecks{}, SystemAudioSelection::allSystem(),
                                QStringLiteral("Check"), std::nullopt);
    collectTexts(&check, texts);
    MeetingPrompts prompts(library.model(), library.world.queue,
                           std::make_shared<MeetingPreferences>(defaults), {}, nullptr);
    prompts.panel().show(prompts.microphoneContent({MeetingApp::zoom, std::nullopt}, std::nullopt), 60);
    collectTexts(prompts.panel().panel(), texts);
    prompts.dismiss();

    texts.removeAll(QString());
    EXPECT_GT(texts.size(), 200);
    for (const QString& text : texts)
        EXPECT_FALSE(otherPlatform.match(text).hasMatch()) << text.toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("Open Autostart Folder")));
    EXPECT_TRUE(texts.contains(QStringLiteral(
        "Launch at login needs the Nuvel program, which was not found where it was installed.")));
}

TEST_F(EnglishWordingTest, NoSentenceTheModelShowsNamesTheOtherPlatform) {
    std::vector<std::string_view> sentences(allStatusSentences().begin(), allStatusSentences().end());
    // The sending and cloud sentences that name a place on the machine.
    sentences.insert(sentences.end(), {upload_sentences::ambiguous, upload_sentences::signIn,
                                       upload_sentences::paused, cloud_sentences::draftNotSaved,
                                       cloud_sentences::correctionNotSent, cloud_sentences::cacheNotCleared});
    for (std::string_view sentence : sentences) {
        const std::string shown = localize(sentence);
        for (const char* word : {"Mac", "Finder", "System Settings"})
            EXPECT_EQ(shown.find(word), std::string::npos) << shown;
        EXPECT_FALSE(shown.empty()) << sentence;
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Saved on this Mac. Send to Nuvel when you are ready.",
         "Saved on this computer. Send to Nuvel when you are ready."},
        {"Microphone access is off. Enable Nuvel in System Settings, or import a recording.",
         "Microphone access is off. Enable Nuvel in Settings, or import a recording."},
        {"Show in Finder", "Show in Files"},
        {"Login item could not be changed. Check Login Items Settings.",
         "Launch at login could not be changed. Check the autostart folder."},
        {"Recording was interrupted. Your saved audio is safe.",
         "Recording was interrupted. Your saved audio is safe."},
    };
    for (const auto& [key, shown] : cases)
        EXPECT_EQ(localize(key), shown);
    EXPECT_EQ(QCoreApplication::translate("Other", "Saved on this Mac."), "Saved on this Mac.")
        << "only the model's context";
}
