// The English wording the windows show: no sentence of the model names the other platform.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "Nuvel/model/StatusText.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "Nuvel/ui/EnglishWording.hpp"
#include "Nuvel/ui/Localization.hpp"
#include "tests/ui/UiTestSupport.hpp"

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

} // namespace

TEST_F(EnglishWordingTest, NoSentenceTheModelShowsNamesTheOtherPlatform) {
    std::vector<std::string_view> sentences(allStatusSentences().begin(), allStatusSentences().end());
    // The sending and cloud sentences that name a place on the machine.
    sentences.insert(sentences.end(), {upload_sentences::ambiguous, upload_sentences::signIn, upload_sentences::paused,
                                       cloud_sentences::draftNotSaved, cloud_sentences::correctionNotSent,
                                       cloud_sentences::cacheNotCleared});
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
        {"Recording was interrupted. Your saved audio is safe.", "Recording was interrupted. Your saved audio is safe."},
    };
    for (const auto& [key, shown] : cases)
        EXPECT_EQ(localize(key), shown);
    EXPECT_EQ(QCoreApplication::translate("Other", "Saved on this Mac."), "Saved on this Mac.")
        << "only the model's context";
}
