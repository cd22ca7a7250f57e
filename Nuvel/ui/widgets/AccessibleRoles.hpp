#pragma once

#include <QString>

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QTextEdit;
class QWidget;

namespace nuvel {

// What an assistive tool is told a control is, where the toolkit's own answer misleads a
// screen reader. Each call marks the widget; the accessible interfaces that read the marks are
// installed on the first call, so a widget is marked before it is shown.

// A button that chooses one page of several: role "page tab", selected while checked; its
// press action chooses it.
void markAsPageTab(QAbstractButton* button);
// The row that holds page tabs: role "page tab list".
void markAsPageTabList(QWidget* row);
// A line of text that shows something the user reads under a standing purpose (a meeting's
// title, its status line): role read-only "text", named for its purpose, whose text is what the
// label shows.
void markAsReadout(QLabel* label, const QString& purpose);
// A read-only document view (notes, transcript): role read-only "text", named by its accessible
// name, with the document as its text and the view's selection and caret as its own.
void markAsReadingText(QTextEdit* view);
// A choice among values, named for its purpose: a combo box otherwise gives its current value
// as its name on this desktop. The value stays its value.
void nameChoice(QComboBox* box, const QString& purpose);
// A window that appears by itself and never takes the keyboard: role "notification", which a
// screen reader announces as it shows.
void markAsNotification(QWidget* window);

// A panel of controls that opens by itself over the other windows (the status item's panel):
// role "dialog", named `name`, so that a screen reader says what it is and reads its controls.
void markAsPanel(QWidget* window, const QString& name);

// Names the clear button of a field that has one ("Clear search"), which the toolkit leaves
// unnamed.
void nameClearButton(QLineEdit* field, const QString& name);

// Installs the interfaces above; the marking functions call it. Repeated calls do nothing. From
// then on a scroll area's viewport no longer says it has the keyboard focus: it passes the focus
// to its area, and the toolkit reported both, the viewport as an unnamed second control.
void installAccessibleRoles();

} // namespace nuvel
