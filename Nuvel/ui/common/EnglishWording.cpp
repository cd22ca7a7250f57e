#include "Nuvel/ui/common/EnglishWording.hpp"

#include <array>
#include <cstring>
#include <utility>

namespace nuvel {

namespace {

// The other platform's names and what a Linux desktop calls the same thing, longest first.
constexpr std::array<std::pair<const char*, const char*>, 5> wording = {{
    {"System Settings", "Settings"},
    {"this Mac", "this computer"},
    {"your Mac", "your computer"},
    {"the Mac", "the computer"},
    {"Finder", "Files"},
}};

// The service's processing-state words, shown after "Sent to Nuvel" and in the cloud library's
// rows: the whole key is the word.
constexpr std::array<std::pair<const char*, const char*>, 6> processingStates = {{
    {"uploading", "Uploading"},
    {"queued", "Queued"},
    {"running", "Processing"},
    {"completed", "Completed"},
    {"failed", "Failed"},
    {"expired", "Expired"},
}};

// Whole sentences about the other platform's login items. Here launch at login is an entry in
// the autostart folder, which the button opens, and the program is wherever it was installed:
// it can only be missing, never outside an applications folder.
constexpr std::array<std::pair<const char*, const char*>, 5> loginItemSentences = {{
    {"Open Login Items Settings", "Open Autostart Folder"},
    {"Login item could not be changed. Check Login Items Settings.",
     "Launch at login could not be changed. Check the autostart folder."},
    {"Approve Nuvel in Login Items Settings to enable launch at login.",
     "Check the autostart folder to enable launch at login."},
    {"Install Nuvel in Applications before enabling launch at login.",
     "Launch at login needs the Nuvel program, which was not found where it was installed."},
    {"Check Login Items Settings for current status.", "Check the autostart folder for current status."},
}};

} // namespace

QString EnglishWording::translate(const char* sentenceContext, const char* sourceText, const char*,
                                  int) const {
    if (sentenceContext == nullptr || sourceText == nullptr || std::strcmp(sentenceContext, context) != 0)
        return {};
    for (const auto& [word, shown] : processingStates)
        if (std::strcmp(sourceText, word) == 0)
            return QString::fromLatin1(shown);
    for (const auto& [sentence, shown] : loginItemSentences)
        if (std::strcmp(sourceText, sentence) == 0)
            return QString::fromLatin1(shown);
    QString text = QString::fromUtf8(sourceText);
    bool changed = false;
    for (const auto& [theirs, ours] : wording) {
        const QString from = QString::fromLatin1(theirs);
        if (text.contains(from)) {
            text.replace(from, QString::fromLatin1(ours));
            changed = true;
        }
    }
    return changed ? text : QString();
}

} // namespace nuvel
