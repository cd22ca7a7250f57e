#pragma once

#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <functional>

class QDialog;
class QVBoxLayout;

class QLabel;

namespace nuvel {

// The column of a detail-screen sheet: a vertical stack painted in the window background of its
// palette, so it follows light and dark appearance.
class SheetStackView : public QWidget {
    Q_OBJECT
public:
    explicit SheetStackView(int spacing, QWidget* parent = nullptr);
    QVBoxLayout* column() const { return column_; }
    void add(QWidget* view, int spacingAfter = -1);

private:
    QVBoxLayout* column_;
};

// A push button that calls its handler when pressed.
class ClosureButton : public QPushButton {
    Q_OBJECT
public:
    ClosureButton(const QString& title, std::function<void()> handler, QWidget* parent = nullptr);
    std::function<void()> handler;
};

// A row of buttons, spacing 8: the leading views in order, then the trailing ones at the far side.
QWidget* makeButtonRow(const QList<QWidget*>& trailing, const QList<QWidget*>& leading);

// Places a sheet's column in its dialog: 20-point margins, the column `width` − 40 wide, the
// dialog sized to fit.
void installSheetContent(QDialog* sheet, SheetStackView* stack, int width);

// The layout direction of a sheet and every view in it; text fields and labels aligned right
// under an Arabic interface, left otherwise.
// A sheet's title line: 13 pt, semibold.
QLabel* makeSheetHeading(const QString& text);

void applyLayoutDirection(QWidget* view, Qt::LayoutDirection direction);
void applySheetDirection(QWidget* view);

// A window-modal sheet over the window of `root` (none while the screen has no view). Closing the
// window by other means calls `rejected` with the sheet, for as long as `context` lives.
QDialog* makeSheet(QWidget* root, const QString& title, int width, int height, QObject* context,
                   std::function<void(QDialog*)> rejected);

// Takes a sheet down and forgets it; nothing when none is open.
void closeSheet(QPointer<QDialog>& sheet);

// Whether the window of `root` shows a modal dialog now.
bool windowHasSheet(const QWidget* root);

} // namespace nuvel
