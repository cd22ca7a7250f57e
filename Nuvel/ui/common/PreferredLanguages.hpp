#pragma once

#include <QStringList>
#include <functional>

namespace nuvel {

// The user's preferred languages, most preferred first. By default the system's
// (QLocale::system().uiLanguages()); tests and the start-up code may put another source in
// place. An empty function restores the system's.
void setPreferredLanguagesSource(std::function<QStringList()> source);
QStringList preferredLanguages();

// The right-to-left rule of the whole interface: true exactly when the first preferred
// language begins with "ar". Read afresh on every call; false when there is no language.
bool prefersRightToLeft();

// The layout direction and the absolute horizontal text alignment that follow the rule.
Qt::LayoutDirection preferredLayoutDirection();
Qt::Alignment preferredTextAlignment();

} // namespace nuvel
