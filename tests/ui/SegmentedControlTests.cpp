// The segmented control reports each choice of the user's once, however it is made: a click, a
// click on the selected segment, the space key, or an assistive tool's press or toggle; the
// program's own selection is never reported.
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;
using namespace nuvel::test;

namespace {

void accessibleAction(QAbstractButton* button, const QString& action) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_TRUE(accessible && accessible->actionInterface());
    ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(action))
        << accessible->actionInterface()->actionNames().join(",").toStdString();
    accessible->actionInterface()->doAction(action);
}

void mouse(QWidget* widget, QEvent::Type type, QPoint at) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(QWidget* widget) {
    mouse(widget, QEvent::MouseButtonPress, widget->rect().center());
    mouse(widget, QEvent::MouseButtonRelease, widget->rect().center());
}

// Pressed on the segment, released away from it.
void slideOff(QWidget* widget) {
    mouse(widget, QEvent::MouseButtonPress, widget->rect().center());
    mouse(widget, QEvent::MouseButtonRelease, QPoint(-50, -50));
}

void space(QWidget* widget) {
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(widget, &event);
    }
}

TEST(SegmentedControl, EveryWayOfChoosingASegmentReportsItOnceAndTheProgramsOwnSelectionNever) {
    application();
    struct Case {
        const char* name;
        std::function<void(SegmentedControl&, QAbstractButton* second)> act;
        std::vector<int> reported;
        int selected;
    };
    const Case cases[] = {
        {"a click", [](SegmentedControl&, QAbstractButton* b) { click(b); }, {1}, 1},
        {"a click on the selected segment",
         [](SegmentedControl& c, QAbstractButton*) { click(c.findChildren<QAbstractButton*>().at(0)); },
         {0},
         0},
        {"a press that slides off", [](SegmentedControl&, QAbstractButton* b) { slideOff(b); }, {}, 0},
        {"the space key", [](SegmentedControl&, QAbstractButton* b) { space(b); }, {1}, 1},
        // A screen reader sees page tabs, the chosen one selected, and presses one.
        {"an assistive press",
         [](SegmentedControl& c, QAbstractButton* b) {
             QAccessibleInterface* row = QAccessible::queryAccessibleInterface(&c);
             QAccessibleInterface* first =
                 QAccessible::queryAccessibleInterface(c.findChildren<QAbstractButton*>().at(0));
             ASSERT_TRUE(row && first);
             EXPECT_EQ(row->role(), QAccessible::PageTabList);
             EXPECT_EQ(first->role(), QAccessible::PageTab);
             EXPECT_TRUE(first->state().selected);
             EXPECT_EQ(first->text(QAccessible::Name), "On this computer");
             accessibleAction(b, QAccessibleActionInterface::pressAction());
             EXPECT_FALSE(first->state().selected);
         },
         {1},
         1},
        {"the program's selection",
         [](SegmentedControl& c, QAbstractButton*) { c.setSelectedSegment(1); },
         {},
         1},
        {"a press that slides off, then an assistive press, then a click on the segment it chose",
         [](SegmentedControl&, QAbstractButton* b) {
             slideOff(b);
             accessibleAction(b, QAccessibleActionInterface::pressAction());
             QCoreApplication::processEvents();
             click(b);
         },
         {1, 1},
         1},
    };
    for (const Case& c : cases) {
        SegmentedControl control({"On this computer", "Nuvel library"});
        control.show();
        std::vector<int> reported;
        QObject::connect(&control, &SegmentedControl::segmentChosen,
                         [&](int segment) { reported.push_back(segment); });
        control.setSelectedSegment(0);
        c.act(control, control.findChildren<QAbstractButton*>().at(1));
        EXPECT_EQ(reported, c.reported) << c.name;
        EXPECT_EQ(control.selectedSegment(), c.selected) << c.name;
    }
}

// The segment Tab gives the keyboard to (the selected one: the arrows move between segments)
// shows it, as the style draws any control's focus; the control looks as it did once the keyboard
// has left.
TEST(SegmentedControl, TheSegmentWithTheKeyboardShowsIt) {
    application();
    QWidget window;
    auto* control = new SegmentedControl({"Notes", "Transcript"}, &window);
    auto* elsewhere = new QPushButton("Elsewhere", &window);
    elsewhere->move(0, 40);
    control->setSelectedSegment(0);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    elsewhere->setFocus();
    const auto tab = [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &press);
    };
    const QImage unfocused = control->grab().toImage();
    EXPECT_TRUE(
        unfocused.save(QString::fromStdString((artifactsFolder() / "segmented-nofocus.png").string())));
    tab();
    QAbstractButton* selected = control->findChildren<QAbstractButton*>().at(0);
    ASSERT_TRUE(selected->hasFocus());
    const QImage focused = control->grab().toImage();
    // The whole segment, not only a tint of its edge.
    const QRect inside = selected->geometry().adjusted(2, 2, -2, -2);
    EXPECT_NE(focused.copy(inside), unfocused.copy(inside));
    EXPECT_TRUE(focused.save(QString::fromStdString((artifactsFolder() / "segmented-focus.png").string())));
    tab();
    ASSERT_TRUE(elsewhere->hasFocus());
    EXPECT_EQ(control->grab().toImage(), unfocused);
    QApplication::setActiveWindow(nullptr);
}

} // namespace
