#pragma once

#include <QFont>
#include <QList>
#include <QString>

class QLabel;
class QWidget;

namespace nuvel {

// A vertical stack: a widget whose QVBoxLayout (no margins) holds the views in order, the
// given spacing between them, each as wide as the stack; laid out right to left when the
// first preferred language begins with "ar". Hidden views take no room and no spacing.
// Null entries are skipped.
QWidget* makeStack(const QList<QWidget*>& views, double spacing);

// A wrapping, selectable label of plain text in the system font of that point size and
// weight; aligned right when the first preferred language begins with "ar", left otherwise,
// with the text's own writing direction. It gives way first when its row is too narrow.
QLabel* makeWrappingLabel(const QString& text, double pointSize, QFont::Weight weight);

} // namespace nuvel
