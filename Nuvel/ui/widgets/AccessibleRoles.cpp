#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMetaObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVariant>
#include <QWindow>
#include <algorithm>
#include <vector>

namespace nuvel {

namespace {

constexpr const char* roleProperty = "nuvelAccessibleRole";

enum class Mark { pageTab = 1, pageTabList, readout, readingText, choice, notification, panel };

Mark markOf(const QWidget* widget) {
    return Mark(widget->property(roleProperty).toInt());
}

// The interfaces made here, told apart from the toolkit's own.
class MarkedAccessible : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
};

// A button's text as it reads: a lone "&" marks a shortcut letter, "&&" is an ampersand.
QString withoutMnemonic(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        plain += text[i];
    }
    return plain;
}

class PageTabAccessible final : public MarkedAccessible {
public:
    explicit PageTabAccessible(QAbstractButton* button) : MarkedAccessible(button, QAccessible::PageTab) {}

    QString text(QAccessible::Text kind) const override {
        QString text = MarkedAccessible::text(kind);
        if (kind == QAccessible::Name && text.isEmpty())
            text = withoutMnemonic(button()->text());
        return text;
    }
    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.selectable = true;
        state.selected = button()->isChecked();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled())
            names << pressAction();
        return names + MarkedAccessible::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != pressAction()) {
            MarkedAccessible::doAction(action);
            return;
        }
        // Chosen at once, as a click chooses it: what the tool asks next finds the page shown.
        if (button()->isEnabled())
            button()->click();
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// A widget whose text is read through the accessible text interface, with one selection and
// no text attributes.
class TextAccessible : public MarkedAccessible, public QAccessibleTextInterface {
public:
    explicit TextAccessible(QWidget* widget) : MarkedAccessible(widget, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return MarkedAccessible::interface_cast(type);
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

// Plain text read through the accessible text interface; positions are characters of `text()`.
class ReadoutAccessible final : public TextAccessible {
public:
    explicit ReadoutAccessible(QLabel* label) : TextAccessible(label) {}

    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.readOnly = true;
        state.editable = false;
        state.selectableText = (label()->textInteractionFlags() & Qt::TextSelectableByMouse) != 0;
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return label()->text();
        return MarkedAccessible::text(kind);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && label()->hasSelectedText()) {
            *start = label()->selectionStart();
            *end = *start + int(label()->selectedText().size());
        }
    }
    int selectionCount() const override { return label()->hasSelectedText() ? 1 : 0; }
    void removeSelection(int index) override {
        if (index == 0)
            label()->setSelection(0, 0);
    }
    void setSelection(int index, int start, int end) override {
        if (index != 0)
            return;
        const int from = clamped(std::min(start, end));
        label()->setSelection(from, clamped(std::max(start, end)) - from);
    }
    int cursorPosition() const override { return label()->hasSelectedText() ? label()->selectionStart() : 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const int from = clamped(start);
        return label()->text().mid(from, clamped(end) - from);
    }
    int characterCount() const override { return int(label()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}

private:
    QLabel* label() const { return static_cast<QLabel*>(widget()); }
    int clamped(int position) const { return std::clamp(position, 0, characterCount()); }
};

// A document view read through the accessible text interface; positions are the document's.
class ReadingTextAccessible final : public TextAccessible {
public:
    explicit ReadingTextAccessible(QTextEdit* view) : TextAccessible(view) {}

    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.readOnly = view()->isReadOnly();
        state.editable = !view()->isReadOnly();
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return view()->toPlainText();
        return MarkedAccessible::text(kind);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        const QTextCursor cursor = view()->textCursor();
        if (index == 0 && cursor.hasSelection()) {
            *start = cursor.selectionStart();
            *end = cursor.selectionEnd();
        }
    }
    int selectionCount() const override { return view()->textCursor().hasSelection() ? 1 : 0; }
    void removeSelection(int index) override {
        if (index != 0)
            return;
        QTextCursor cursor = view()->textCursor();
        cursor.clearSelection();
        view()->setTextCursor(cursor);
    }
    void setSelection(int index, int start, int end) override {
        if (index != 0)
            return;
        view()->setTextCursor(span(start, end));
    }
    int cursorPosition() const override { return view()->textCursor().position(); }
    void setCursorPosition(int position) override { view()->setTextCursor(span(position, position)); }
    QString text(int start, int end) const override {
        QString text = span(start, end).selectedText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        return text;
    }
    int characterCount() const override { return std::max(0, view()->document()->characterCount() - 1); }
    QRect characterRect(int offset) const override {
        const QTextCursor at = span(offset, offset);
        QRect box = view()->cursorRect(at);
        const QString character = text(offset, offset + 1);
        box.setWidth(std::max(1, view()->fontMetrics().horizontalAdvance(character)));
        return {view()->viewport()->mapToGlobal(box.topLeft()), box.size()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(local))
            return -1;
        return view()->cursorForPosition(local).position();
    }
    void scrollToSubstring(int start, int) override {
        const QRect box = view()->cursorRect(span(start, start));
        QScrollBar* bar = view()->verticalScrollBar();
        if (box.top() < 0 || box.bottom() > view()->viewport()->height())
            bar->setValue(bar->value() + box.top());
    }

private:
    QTextEdit* view() const { return static_cast<QTextEdit*>(widget()); }
    QTextCursor span(int start, int end) const {
        QTextCursor cursor(view()->document());
        cursor.setPosition(std::clamp(start, 0, characterCount()));
        cursor.setPosition(std::clamp(end, 0, characterCount()), QTextCursor::KeepAnchor);
        return cursor;
    }
};

// A non-editable combo box: named for its purpose, its current choice as its value, and the
// list of choices as its one child, as the toolkit's own combo box has it.
class ChoiceAccessible final : public MarkedAccessible {
public:
    explicit ChoiceAccessible(QComboBox* box) : MarkedAccessible(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return box()->currentText();
        QString text = MarkedAccessible::text(kind);
        if (kind == QAccessible::Name && text.isEmpty())
            text = box()->currentText();
        return text;
    }
    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.expandable = true;
        state.expanded = box()->view() != nullptr && box()->view()->isVisible();
        return state;
    }
    int childCount() const override { return box()->view() != nullptr ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && box()->view() != nullptr ? QAccessible::queryAccessibleInterface(box()->view())
                                                      : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() != nullptr && child->object() == box()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QStringList actionNames() const override {
        QStringList names;
        if (box()->isEnabled())
            names << showMenuAction() << pressAction();
        return names + MarkedAccessible::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction()) {
            MarkedAccessible::doAction(action);
            return;
        }
        if (box()->isEnabled())
            // The pop-up opens after the bus has its answer.
            QMetaObject::invokeMethod(box(), &QComboBox::showPopup, Qt::QueuedConnection);
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// A widget a scroll area keeps for itself: the viewport it draws its content in, and on an item
// view every widget of its own (the scroll bars' holders, the headers). The viewport hands the
// keyboard focus to its area, which has the focus alone: the toolkit says the viewport has it
// too. An item view's accessible children are its items (and header cells) only, so its own
// widgets are no child of it and have no parent: the toolkit still tells of their state changes
// (shown, enabled with the view), and a screen reader that asked where one sits was answered
// from a list that does not hold it, with a warning.
class ScrollAreaPartAccessible final : public MarkedAccessible {
public:
    explicit ScrollAreaPartAccessible(QWidget* part) : MarkedAccessible(part, QAccessible::Client) {}

    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.focused = false;
        return state;
    }
    QAccessibleInterface* parent() const override {
        if (qobject_cast<const QAbstractItemView*>(widget()->parentWidget()) != nullptr)
            return nullptr;
        return MarkedAccessible::parent();
    }
};

bool isScrollAreaPart(const QWidget* widget) {
    const QWidget* holder = widget->parentWidget();
    if (const auto* area = qobject_cast<const QAbstractScrollArea*>(holder);
        area != nullptr && area->viewport() == widget)
        return true;
    return qobject_cast<const QAbstractItemView*>(holder) != nullptr;
}

// One file or folder of a file panel's list.
class FolderItemAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    FolderItemAccessible(QListView* view, const QModelIndex& index) : view_(view), index_(index) {}

    const QPersistentModelIndex& index() const { return index_; }

    bool isValid() const override {
        return view_ != nullptr && view_->model() != nullptr && index_.isValid();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ != nullptr ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text kind) const override {
        if (!isValid())
            return {};
        if (kind == QAccessible::Description)
            return index_.data(Qt::AccessibleDescriptionRole).toString();
        if (kind != QAccessible::Name)
            return {};
        const QString told = index_.data(Qt::AccessibleTextRole).toString();
        return told.isEmpty() ? index_.data(Qt::DisplayRole).toString() : told;
    }
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect box = view_->visualRect(index_);
        if (box.isNull())
            return {};
        return {view_->viewport()->mapToGlobal(box.topLeft()), box.size()};
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid())
            return state;
        if (!QRect(view_->mapToGlobal(QPoint(0, 0)), view_->size()).intersects(rect()))
            state.invisible = true;
        const QItemSelectionModel* selection = view_->selectionModel();
        state.selected = selection != nullptr && selection->isSelected(index_);
        state.focused = selection != nullptr && selection->currentIndex() == index_;
        if (index_.flags() & Qt::ItemIsSelectable) {
            state.selectable = true;
            state.focusable = true;
            state.multiSelectable = view_->selectionMode() == QAbstractItemView::MultiSelection;
            state.extSelectable = view_->selectionMode() == QAbstractItemView::ExtendedSelection;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }
    QStringList actionNames() const override { return {toggleAction()}; }
    // Chooses the item as a click does (the panel then takes its name), or lets it go.
    void doAction(const QString& action) override {
        if (action != toggleAction() || !isValid() || view_->selectionModel() == nullptr ||
            view_->selectionMode() == QAbstractItemView::NoSelection)
            return;
        QItemSelectionModel* selection = view_->selectionModel();
        const bool several = view_->selectionMode() == QAbstractItemView::MultiSelection ||
                             view_->selectionMode() == QAbstractItemView::ExtendedSelection;
        if (!selection->isSelected(index_))
            selection->select(index_,
                              several ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect);
        else if (several)
            selection->select(index_, QItemSelectionModel::Deselect);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QListView> view_;
    QPersistentModelIndex index_;
};

// The toolkit's file panel shows one folder as a list: the rows under the list's root, the
// folder, of the file system's model. The toolkit's own interface for a list counts the rows and
// columns at the top of the model instead, so the list read as the first file's name, size, type
// and date, or in an empty folder as four items that are not there (each one a warning). This
// one holds an item for each row of the folder.
class FolderListAccessible final : public MarkedAccessible {
public:
    explicit FolderListAccessible(QListView* view) : MarkedAccessible(view, QAccessible::List) {}
    ~FolderListAccessible() override {
        unwatch();
        forget();
    }

    int childCount() const override {
        const QAbstractItemModel* model = follow();
        return model != nullptr ? model->rowCount(view()->rootIndex()) : 0;
    }
    QAccessibleInterface* child(int row) const override {
        const QAbstractItemModel* model = follow();
        if (model == nullptr || row < 0)
            return nullptr;
        const QModelIndex index = model->index(row, view()->modelColumn(), view()->rootIndex());
        if (!index.isValid())
            return nullptr;
        if (const auto known = items_.constFind(row); known != items_.constEnd()) {
            auto* item = static_cast<FolderItemAccessible*>(QAccessible::accessibleInterface(*known));
            if (item != nullptr && item->index() == index)
                return item;
            QAccessible::deleteAccessibleInterface(*known);
            items_.erase(known);
        }
        auto* item = new FolderItemAccessible(view(), index);
        items_.insert(row, QAccessible::registerAccessibleInterface(item));
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->role() != QAccessible::ListItem || child->parent() != this)
            return -1;
        const QPersistentModelIndex& index = static_cast<const FolderItemAccessible*>(child)->index();
        return index.isValid() && index.parent() == view()->rootIndex() ? index.row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() && index.parent() == view()->rootIndex() ? child(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        if (!current.isValid() || current.parent() != view()->rootIndex())
            return nullptr;
        return child(current.row());
    }

private:
    QListView* view() const { return static_cast<QListView*>(widget()); }

    // The view's model, whose changes drop the items made so far; after another folder is
    // shown they are dropped too.
    const QAbstractItemModel* follow() const {
        QAbstractItemModel* model = view()->model();
        if (model != model_) {
            unwatch();
            forget();
            model_ = model;
            if (model != nullptr) {
                const auto drop = [this] { forget(); };
                watched_ = {
                    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, view(), drop),
                    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, view(), drop),
                    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeMoved, view(), drop),
                    QObject::connect(model, &QAbstractItemModel::layoutAboutToBeChanged, view(), drop),
                    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, view(), drop)};
            }
        }
        if (root_ != view()->rootIndex()) {
            forget();
            root_ = view()->rootIndex();
        }
        return model;
    }
    void unwatch() const {
        for (const QMetaObject::Connection& connection : watched_)
            QObject::disconnect(connection);
        watched_.clear();
    }
    void forget() const {
        for (const QAccessible::Id id : std::as_const(items_))
            QAccessible::deleteAccessibleInterface(id);
        items_.clear();
    }

    mutable QPointer<QAbstractItemModel> model_;
    mutable QPersistentModelIndex root_;
    mutable QHash<int, QAccessible::Id> items_;
    mutable std::vector<QMetaObject::Connection> watched_;
};

// The list of files of the toolkit's own file panel (it names it so).
QListView* folderList(QWidget* widget) {
    auto* view = qobject_cast<QListView*>(widget);
    if (view == nullptr || view->objectName() != QLatin1String("listView"))
        return nullptr;
    for (QWidget* up = view->parentWidget(); up != nullptr; up = up->parentWidget())
        if (qobject_cast<QFileDialog*>(up) != nullptr)
            return view;
    return nullptr;
}

QAccessibleInterface* markedAccessible(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    if (isScrollAreaPart(widget))
        return new ScrollAreaPartAccessible(widget);
    if (QListView* list = folderList(widget))
        return new FolderListAccessible(list);
    switch (markOf(widget)) {
    case Mark::pageTab:
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            return new PageTabAccessible(button);
        break;
    case Mark::pageTabList:
        return new MarkedAccessible(widget, QAccessible::PageTabList);
    case Mark::readout:
        if (auto* label = qobject_cast<QLabel*>(widget))
            return new ReadoutAccessible(label);
        break;
    case Mark::readingText:
        if (auto* view = qobject_cast<QTextEdit*>(widget))
            return new ReadingTextAccessible(view);
        break;
    case Mark::choice:
        if (auto* box = qobject_cast<QComboBox*>(widget))
            return new ChoiceAccessible(box);
        break;
    case Mark::notification:
        return new MarkedAccessible(widget, QAccessible::Notification);
    case Mark::panel:
        return new MarkedAccessible(widget, QAccessible::Dialog);
    }
    return nullptr;
}

// Marks the widget, and drops an interface the toolkit made for it before the mark.
void mark(QWidget* widget, Mark kind) {
    installAccessibleRoles();
    widget->setProperty(roleProperty, int(kind));
    QAccessibleInterface* now = QAccessible::queryAccessibleInterface(widget);
    if (now != nullptr && dynamic_cast<MarkedAccessible*>(now) == nullptr)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(now));
}

} // namespace

void installAccessibleRoles() {
    static const bool installed = [] {
        QAccessible::installFactory(markedAccessible);
        return true;
    }();
    (void)installed;
}

void markAsPageTab(QAbstractButton* button) {
    mark(button, Mark::pageTab);
    // A screen reader hears of the tab that is now selected.
    QObject::connect(button, &QAbstractButton::toggled, button, [button] {
        QAccessibleEvent selected(button, QAccessible::Selection);
        QAccessible::updateAccessibility(&selected);
    });
}

void markAsPageTabList(QWidget* row) {
    mark(row, Mark::pageTabList);
}

void markAsReadout(QLabel* label, const QString& purpose) {
    label->setAccessibleName(purpose);
    mark(label, Mark::readout);
}

void markAsReadingText(QTextEdit* view) {
    mark(view, Mark::readingText);
}

void nameChoice(QComboBox* box, const QString& purpose) {
    box->setAccessibleName(purpose);
    mark(box, Mark::choice);
}

void nameClearButton(QLineEdit* field, const QString& name) {
    // The toolkit's own action behind the button; its button reads the action's text.
    if (auto* clear = field->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(name);
}

void markAsNotification(QWidget* window) {
    mark(window, Mark::notification);
}

void markAsPanel(QWidget* window, const QString& name) {
    window->setAccessibleName(name);
    mark(window, Mark::panel);
}

} // namespace nuvel
