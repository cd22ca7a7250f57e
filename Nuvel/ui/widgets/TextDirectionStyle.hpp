#pragma once

#include <QProxyStyle>

namespace nuvel {

// The desktop's style, except that every text it draws runs in its own writing direction. Under
// an Arabic interface the windows run right to left, and Qt would draw each title in its
// widget's direction, so an English one got its punctuation on the wrong side ("…Sign out",
// "?Record this meeting", "×1"). Here a text whose first strong letter reads left to right (or
// that has none) is drawn left to right, one that reads right to left is drawn right to left;
// where it sits in its widget does not change.
class TextDirectionStyle final : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                      const QString& text, QPalette::ColorRole textRole = QPalette::NoRole) const override;
};

// Makes the application's style a TextDirectionStyle over the desktop's, once; the application
// calls it as it starts.
void useTextDirectionStyle();

} // namespace nuvel
