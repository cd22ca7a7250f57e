#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace nuvel {

// The small line symbols the meeting prompts and the upcoming list show, drawn by us so they
// look the same under every icon theme (and without one).
enum class Symbol {
    video,          // a camera: a meeting with a video link
    videoFill,      // the same, filled
    calendar,       // a calendar page: a meeting without one
    ellipsisCircle, // three dots in a circle: an options menu
};

// The symbol in `color`, `size` device-independent pixels square, for a screen of that pixel
// ratio.
QPixmap symbolPixmap(Symbol symbol, int size, const QColor& color, qreal devicePixelRatio = 1.0);
// The symbol as an icon that follows the palette's text colour, at the usual icon sizes.
QIcon symbolIcon(Symbol symbol, const QColor& color);

} // namespace nuvel
