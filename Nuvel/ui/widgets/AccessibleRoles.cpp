#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVariant>
#include <algorithm>

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

// The viewport a scroll area draws its content in. It hands the keyboard focus to its area,
// which has the focus alone: the toolkit says the viewport has it too.
class ViewportAccessible final : public MarkedAccessible {
public:
    explicit ViewportAccessible(QWidget* viewport) : MarkedAccessible(viewport, QAccessible::Client) {}

    QAccessible::State state() const override {
        QAccessible::State state = MarkedAccessible::state();
        state.focused = false;
        return state;
    }
};

bool isViewport(const QWidget* widget) {
    const auto* area = qobject_cast<const QAbstractScrollArea*>(widget->parentWidget());
    return area != nullptr && area->viewport() == widget;
}

QAccessibleInterface* markedAccessible(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    if (isViewport(widget))
        return new ViewportAccessible(widget);
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
