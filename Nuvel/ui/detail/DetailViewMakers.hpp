#pragma once

// The small views every part of the detail screen makes alike.

#include <QIcon>
#include <QStyle>

class QLabel;
class QWidget;

namespace nuvel {

// The desktop theme's icon of that name, or the style's stand-in where the theme lacks it.
QIcon themedIcon(const char* name, QStyle::StandardPixmap fallback);

// Every label of this screen shows its text as typed: titles, statuses and the service's words
// are never read as markup.
QLabel* plainLabel(QWidget* parent = nullptr);

// A wrapping 12-point plain label; `secondary` dims it to the placeholder colour.
QLabel* smallLabel(bool secondary);

} // namespace nuvel
