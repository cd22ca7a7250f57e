#include "Nuvel/ui/detail/DetailSheetViews.hpp"

#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace nuvel {

SheetStackView::SheetStackView(int spacing, QWidget* parent)
    : QWidget(parent), column_(new QVBoxLayout(this)) {
    NUVEL_MAIN_ACTOR_ENTRY();
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(spacing);
}

void SheetStackView::add(QWidget* view, int spacingAfter) {
    column_->addWidget(view);
    if (spacingAfter >= 0)
        column_->addSpacing(spacingAfter - column_->spacing());
}

ClosureButton::ClosureButton(const QString& title, std::function<void()> handler, QWidget* parent)
    : QPushButton(title, parent), handler(std::move(handler)) {
    NUVEL_MAIN_ACTOR_ENTRY();
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY();
        if (this->handler)
            this->handler();
    });
}

QWidget* makeButtonRow(const QList<QWidget*>& trailing, const QList<QWidget*>& leading) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QWidget* view : leading)
        layout->addWidget(view);
    layout->addStretch(1);
    for (QWidget* view : trailing)
        layout->addWidget(view);
    return row;
}

void installSheetContent(QDialog* sheet, SheetStackView* stack, int width) {
    auto* content = new QVBoxLayout(sheet);
    content->setContentsMargins(20, 20, 20, 20);
    content->addWidget(stack);
    stack->setFixedWidth(width - 40);
    sheet->adjustSize();
}

void applyLayoutDirection(QWidget* view, Qt::LayoutDirection direction) {
    view->setLayoutDirection(direction);
    const Qt::Alignment side = prefersRightToLeft() ? Qt::AlignRight : Qt::AlignLeft;
    if (auto* field = qobject_cast<QLineEdit*>(view))
        field->setAlignment(side | Qt::AlignAbsolute | Qt::AlignVCenter);
    else if (auto* label = qobject_cast<QLabel*>(view))
        label->setAlignment(side | Qt::AlignAbsolute | Qt::AlignVCenter);
    for (QObject* child : view->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget != nullptr && !widget->isWindow())
            applyLayoutDirection(widget, direction);
}

void applySheetDirection(QWidget* view) {
    applyLayoutDirection(view, preferredLayoutDirection());
}

QLabel* makeSheetHeading(const QString& text) {
    auto* title = new QLabel(text);
    title->setTextFormat(Qt::PlainText);
    QFont font = title->font();
    font.setPointSizeF(13);
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    return title;
}

QDialog* makeSheet(QWidget* root, const QString& title, int width, int height, QObject* context,
                   std::function<void(QDialog*)> rejected) {
    auto* sheet = new QDialog(root != nullptr ? root->window() : nullptr);
    sheet->setWindowTitle(title);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->resize(width, height);
    // Closing the window by other means ends the sheet as Cancel or Done would.
    QObject::connect(sheet, &QDialog::rejected, context,
                     [sheet, rejected = std::move(rejected)] { rejected(sheet); });
    return sheet;
}

void closeSheet(QPointer<QDialog>& sheet) {
    if (sheet == nullptr)
        return;
    QDialog* closing = sheet;
    sheet = nullptr;
    closing->hide();
    closing->deleteLater();
}

bool windowHasSheet(const QWidget* root) {
    if (root == nullptr)
        return false;
    for (QDialog* dialog : root->window()->findChildren<QDialog*>())
        if (dialog->isVisible() && dialog->windowModality() != Qt::NonModal)
            return true;
    return false;
}

} // namespace nuvel
