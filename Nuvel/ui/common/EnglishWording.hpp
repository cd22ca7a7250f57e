#pragma once

#include <QString>
#include <QTranslator>

namespace nuvel {

// The application's English wording. The model's status sentences are written with the other
// platform's names for places on the machine ("this Mac", "System Settings", "Finder"): they
// are the keys the model writes and its tests check. This translator shows the words of a Linux
// desktop instead ("this computer", "Settings", "Files"); sentences without such a name pass
// through unchanged. The sentences about login items read as what this desktop has instead: the
// autostart folder. The service's bare processing-state words ("running", …) are shown as
// capitalised words of the interface ("Processing", …).
//
// Installed once on the application at start-up; `localize` (Localization.hpp) asks it.
class EnglishWording final : public QTranslator {
public:
    // The translation context of the model's sentences.
    static constexpr const char* context = "Nuvel";

    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }
    // The Linux wording of a sentence of `context`; a null string (keep the sentence) otherwise.
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
};

} // namespace nuvel
