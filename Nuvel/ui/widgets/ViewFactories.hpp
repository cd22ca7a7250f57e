#pragma once

#include <QFont>
#include <QIcon>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <string_view>

class QLabel;
class QPushButton;
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

// A push button titled with `title` as the interface shows it (through the wording table), that
// runs `action` when pressed. With a symbol name the desktop's icon for it sits before the title;
// a symbol the icon theme lacks leaves the button with its title only. Laid out right to left
// when the first preferred language begins with "ar".
QPushButton* makeActionButton(const QString& title, std::optional<std::string_view> symbol,
                              std::function<void()> action);

// A row: the views side by side, `spacing` apart, never taller than they need; right to left
// when the first preferred language begins with "ar". Null entries are skipped.
QWidget* makeRow(const QList<QWidget*>& views, double spacing = 8);

// The icon theme's icon for a symbol name of the interface ("play.fill", "trash", …); a null
// icon for a name we do not know or the theme does not have.
QIcon symbolNamed(std::string_view symbol);

} // namespace nuvel
