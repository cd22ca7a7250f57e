#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/prompts/DesktopApplications.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QStringListModel>
#include <QTest>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

using namespace nuvel;
using nuvel::test::PreferredLanguagesScope;

namespace {

class InterfaceHelpers : public ::testing::Test {
protected:
    void SetUp() override { test::application(); }
};

Qt::Alignment horizontal(const QLabel* label) {
    return label->alignment() & (Qt::AlignHorizontal_Mask);
}

TEST(FormatDuration, MinutesBelowAnHourHoursFromIt) {
    EXPECT_EQ(formatDuration(0), "00:00");
    EXPECT_EQ(formatDuration(59.9), "00:59");
    EXPECT_EQ(formatDuration(61), "01:01");
    EXPECT_EQ(formatDuration(3599), "59:59");
    EXPECT_EQ(formatDuration(3599.999), "59:59");
    EXPECT_EQ(formatDuration(3600), "1:00:00");
    EXPECT_EQ(formatDuration(25 * 3600 + 61), "25:01:01");
    EXPECT_EQ(formatDuration(1000 * 3600), "1000:00:00"); // hours are not capped
}

TEST(FormatDuration, NegativeAndOutOfRangeInputsAreSafe) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(formatDuration(-5), "00:00");
    EXPECT_EQ(formatDuration(-0.5), "00:00");
    EXPECT_EQ(formatDuration(-0.0), "00:00");
    EXPECT_EQ(formatDuration(std::nan("")), "00:00");
    EXPECT_EQ(formatDuration(-inf), "00:00");
    EXPECT_EQ(formatDuration(-1e300), "00:00");
    // Beyond the 64-bit range: the largest count, 9223372036854775807 s.
    EXPECT_EQ(formatDuration(inf), "2562047788015215:30:07");
    EXPECT_EQ(formatDuration(1e300), "2562047788015215:30:07");
    EXPECT_EQ(formatDuration(9223372036854775808.0), "2562047788015215:30:07");
    // The largest double below 2^63 still converts exactly.
    EXPECT_EQ(formatDuration(std::nextafter(9223372036854775808.0, 0.0)), "2562047788015215:13:04");
}

TEST(ShortTimes, SecondsGoWithTheirSeparatorOtherFieldsAndQuotedTextStay) {
    const struct {
        const char* format;
        const char* kept;
    } cases[] = {
        {"HH:mm:ss", "HH:mm"},
        {"h:mm:ss AP", "h:mm AP"},
        {"H.mm.ss", "H.mm"},
        {"HH:mm:ss.zzz", "HH:mm"},
        {"HH:mm:s", "HH:mm"},
        {"AP h:mm:ss", "AP h:mm"},
        {"H:mm:ss 'ss'", "H:mm 'ss'"},
        {"H:mm 'ch'''", "H:mm 'ch'''"},
        {"h:mm AP", "h:mm AP"},
        {"HH:mm", "HH:mm"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hoursAndMinutesFormat(QString::fromUtf8(c.format)), QString::fromUtf8(c.kept)) << c.format;

    // The C locale's short form holds seconds; the others' short forms are shown as they are.
    const QTime time(6, 28, 20);
    EXPECT_EQ(shortTimeText(QLocale::c(), time), "06:28");
    for (const QLocale& locale :
         {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::English, QLocale::UnitedKingdom),
          QLocale(QLocale::Finnish), QLocale(QLocale::Arabic, QLocale::Egypt), QLocale(QLocale::Korean)})
        EXPECT_EQ(shortTimeText(locale, time), locale.toString(time, QLocale::ShortFormat))
            << locale.name().toStdString();
}

TEST_F(InterfaceHelpers, LabelsAlignRightOnlyWhenTheFirstLanguageIsArabic) {
    struct Case {
        QStringList languages;
        Qt::Alignment expected;
    };
    const Case cases[] = {
        {{"ar-EG", "en-US"}, Qt::AlignRight}, {{"ar"}, Qt::AlignRight},
        {{"en-US", "ar-EG"}, Qt::AlignLeft}, // only the first language counts
        {{"fr-FR"}, Qt::AlignLeft},           {{}, Qt::AlignLeft},
    };
    for (const auto& c : cases) {
        PreferredLanguagesScope scope(c.languages);
        std::unique_ptr<QLabel> label(makeLabel("Microphone", 11, QFont::Normal));
        std::unique_ptr<QLabel> wrapping(makeWrappingLabel("Some longer text", 12, QFont::Normal));
        const QString which = c.languages.join(",");
        EXPECT_EQ(horizontal(label.get()), c.expected | Qt::AlignAbsolute) << which.toStdString();
        EXPECT_EQ(horizontal(wrapping.get()), c.expected | Qt::AlignAbsolute) << which.toStdString();
        EXPECT_EQ(prefersRightToLeft(), c.expected == Qt::AlignRight);
    }
}

TEST_F(InterfaceHelpers, TheLanguageIsReadOnEveryCall) {
    QStringList languages{"en-GB"};
    setPreferredLanguagesSource([&languages] { return languages; });
    std::unique_ptr<QLabel> before(makeLabel("a", 11, QFont::Normal));
    languages = {"ar-SA"};
    std::unique_ptr<QLabel> after(makeLabel("a", 11, QFont::Normal));
    setPreferredLanguagesSource({});
    EXPECT_EQ(horizontal(before.get()), Qt::AlignLeft | Qt::AlignAbsolute);
    EXPECT_EQ(horizontal(after.get()), Qt::AlignRight | Qt::AlignAbsolute);
    // Without a source of its own the system's list is used (whatever it holds here).
    EXPECT_EQ(preferredLanguages(), QLocale::system().uiLanguages());
}

TEST_F(InterfaceHelpers, LabelsShowPlainTextInTheSystemFont) {
    PreferredLanguagesScope scope({"en-US"});
    std::unique_ptr<QLabel> label(makeLabel("<b>Room</b> & more", 11, QFont::Normal));
    EXPECT_EQ(label->text(), "<b>Room</b> & more");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 11.0);
    EXPECT_EQ(label->font().weight(), QFont::Normal);
    EXPECT_EQ(label->font().family(), QGuiApplication::font().family());

    std::unique_ptr<QLabel> heading(makeWrappingLabel("Online meeting", 15, QFont::DemiBold));
    EXPECT_TRUE(heading->wordWrap());
    EXPECT_EQ(heading->textFormat(), Qt::PlainText);
    EXPECT_TRUE(heading->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_DOUBLE_EQ(heading->font().pointSizeF(), 15.0);
    EXPECT_EQ(heading->font().weight(), QFont::DemiBold);
    // It gives way when the row is narrow: no minimum width of the longest word.
    EXPECT_LE(heading->minimumWidth(), 1);
}

// Under an Arabic interface a text in English keeps its own direction where it is shown: its
// punctuation stays at its end. Each widget draws its text as it would draw the same text
// isolated left to right, never as one isolated right to left, also where the desktop's Arabic
// locale turns the whole application right to left (every painter starts in its direction).
TEST_F(InterfaceHelpers, TextKeepsItsOwnDirectionInARightToLeftInterface) {
    PreferredLanguagesScope arabic({"ar-EG"});
    QGuiApplication::setLayoutDirection(Qt::RightToLeft);
    const QString ltr = QChar(0x2066), rtl = QChar(0x2067), pop = QChar(0x2069);
    const struct {
        const char* name;
        std::function<QWidget*(const QString&)> make;
        QString text;
    } rows[] = {
        {"a button", [](const QString& t) { return new QPushButton(t); }, "Sign out…"},
        {"a prompt's title", [](const QString& t) { return new ElidingLabel(t, 13, QFont::DemiBold); },
         "Record this meeting?"},
        {"a pop-up",
         [](const QString& t) {
             auto* box = new QComboBox;
             box->addItem(t);
             return box;
         },
         "1×"},
        {"a check box", [](const QString& t) { return new QCheckBox(t); }, "Remind me (once)."},
    };
    // Each from the widget's own font alone. A font that has the marks (none of the project's has
    // them) would lend them, invisible and without width, its taller line, and the text would sit
    // lower in the references than where the widget draws the same text without them.
    const auto drawn = [](QWidget* widget) {
        QFont font = widget->font();
        font.setStyleStrategy(QFont::NoFontMerging);
        widget->setFont(font);
        widget->setLayoutDirection(Qt::RightToLeft);
        widget->resize(240, 32);
        return widget->grab().toImage();
    };
    for (const auto& row : rows) {
        std::unique_ptr<QWidget> shown(row.make(row.text)), leftToRight(row.make(ltr + row.text + pop)),
            rightToLeft(row.make(rtl + row.text + pop));
        const QImage image = drawn(shown.get());
        EXPECT_EQ(image, drawn(leftToRight.get())) << row.name;
        EXPECT_NE(image, drawn(rightToLeft.get())) << row.name;
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
}

TEST_F(InterfaceHelpers, StacksLayOutTheirViewsFullWidthInOrder) {
    PreferredLanguagesScope scope({"en-US"});
    auto* label = makeLabel("first", 11, QFont::Normal);
    auto* button = new QPushButton("second");
    auto* fixed = new QWidget;
    fixed->setFixedHeight(10);
    fixed->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* hidden = new QLabel("hidden");
    hidden->hide();
    std::unique_ptr<QWidget> stack(makeStack({label, nullptr, hidden, button, fixed}, 12));
    auto* layout = stack->layout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->count(), 4); // the null entry is skipped
    EXPECT_EQ(layout->spacing(), 12);
    EXPECT_EQ(stack->layoutDirection(), Qt::LeftToRight);
    stack->resize(300, 200);
    layout->setGeometry(QRect(0, 0, 300, 200));
    for (QWidget* view : {static_cast<QWidget*>(label), static_cast<QWidget*>(button), fixed}) {
        EXPECT_EQ(view->parentWidget(), stack.get());
        EXPECT_EQ(view->geometry().width(), 300) << view->metaObject()->className();
    }
    // In order, with the spacing between them; the hidden view takes neither room nor spacing.
    EXPECT_EQ(button->geometry().top() - label->geometry().bottom() - 1, 12);
    EXPECT_EQ(fixed->geometry().top() - button->geometry().bottom() - 1, 12);
}

TEST_F(InterfaceHelpers, StacksRunRightToLeftUnderArabic) {
    PreferredLanguagesScope arabic({"ar-EG"});
    std::unique_ptr<QWidget> stack(makeStack({new QLabel("a")}, 4));
    EXPECT_EQ(stack->layoutDirection(), Qt::RightToLeft);
    PreferredLanguagesScope english({"en-US"});
    std::unique_ptr<QWidget> other(makeStack({new QLabel("a")}, 4));
    EXPECT_EQ(other->layoutDirection(), Qt::LeftToRight);
    PreferredLanguagesScope none({});
    std::unique_ptr<QWidget> third(makeStack({}, 4));
    EXPECT_EQ(third->layoutDirection(), Qt::LeftToRight);
}

TEST_F(InterfaceHelpers, ActionButtonsRowsAndApplicationIcons) {
    PreferredLanguagesScope arabic({"ar"});
    int pressed = 0;
    std::unique_ptr<QPushButton> plain(makeActionButton("Send to Nuvel", std::nullopt, [&] { ++pressed; }));
    std::unique_ptr<QPushButton> unknown(makeActionButton("Pause", "no.such.symbol", {}));
    EXPECT_EQ(plain->text(), "Send to Nuvel");
    EXPECT_TRUE(plain->icon().isNull());
    EXPECT_TRUE(unknown->icon().isNull()); // an unknown symbol keeps the title alone
    EXPECT_EQ(unknown->text(), "Pause");
    EXPECT_EQ(plain->layoutDirection(), Qt::RightToLeft);
    plain->click();
    unknown->click(); // no action: nothing happens
    EXPECT_EQ(pressed, 1);

    std::unique_ptr<QWidget> row(makeRow({new QPushButton("a"), nullptr, new QPushButton("b")}, 6));
    auto* layout = qobject_cast<QHBoxLayout*>(row->layout());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->spacing(), 6);
    EXPECT_EQ(layout->count(), 3); // two buttons and the trailing stretch
    EXPECT_EQ(row->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(row->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    EXPECT_FALSE(applicationIcon(std::nullopt));
    EXPECT_FALSE(applicationIcon(std::string()));
    EXPECT_FALSE(applicationIcon(std::string("org.example.NotInstalled")));
    EXPECT_FALSE(applicationIcon(std::string("org.example.NotInstalled.desktop")));
}

TEST_F(InterfaceHelpers, PinnedViewsFillTheContainerInsideTheInset) {
    QWidget container;
    auto* view = new QWidget;
    pinToSuperview(view, &container, 12);
    EXPECT_EQ(view->parentWidget(), &container);
    container.resize(200, 100);
    container.layout()->setGeometry(QRect(0, 0, 200, 100));
    EXPECT_EQ(view->geometry(), QRect(12, 12, 176, 76));

    // A second view overlaps the first; a negative inset counts as none.
    auto* second = new QWidget;
    pinToSuperview(second, &container, -4);
    container.layout()->setGeometry(QRect(0, 0, 200, 100));
    EXPECT_EQ(second->geometry(), QRect(0, 0, 200, 100));
    EXPECT_EQ(view->geometry(), QRect(0, 0, 200, 100));

    // Nothing happens for missing views.
    pinToSuperview(nullptr, &container, 3);
    pinToSuperview(&container, &container, 3);
    EXPECT_EQ(container.layout()->count(), 2);
}

TEST_F(InterfaceHelpers, LevelIndicatorsClampAndChangeColourAtTheirThresholds) {
    LevelIndicator meter;
    EXPECT_EQ(meter.height(), 8);
    const QColor normal = meter.fillColor();
    meter.setValue(0.79);
    EXPECT_EQ(meter.fillColor(), normal);
    meter.setValue(0.8);
    const QColor warning = meter.fillColor();
    EXPECT_NE(warning, normal);
    meter.setValue(0.95);
    EXPECT_NE(meter.fillColor(), warning);
    EXPECT_NE(meter.fillColor(), normal);
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [in, shown] : {std::pair{7.0, 1.0}, {-1.0, 0.0}, {std::nan(""), 0.0}, {inf, 1.0}}) {
        meter.setValue(in);
        EXPECT_EQ(meter.value(), shown) << in;
    }

    // The bar fills from the leading edge in the colour of its value, over the empty track.
    meter.resize(200, 8);
    const QColor track = meter.palette().color(QPalette::Base);
    struct Row {
        double value;
        Qt::LayoutDirection direction;
        int filledAt, emptyAt;
    };
    for (const Row& row : {Row{0.5, Qt::LeftToRight, 50, 150}, Row{0.5, Qt::RightToLeft, 150, 50},
                           Row{0.96, Qt::LeftToRight, 100, 197}, Row{0.3, Qt::LeftToRight, 30, 100}}) {
        meter.setLayoutDirection(row.direction);
        meter.setValue(row.value);
        const QImage shown = meter.grab().toImage();
        EXPECT_EQ(shown.pixelColor(row.filledAt, 4), meter.fillColor()) << row.value << " " << row.direction;
        EXPECT_EQ(shown.pixelColor(row.emptyAt, 4), track) << row.value << " " << row.direction;
    }
}

// A key on the focused control, as the window hands it on: Return and Enter press a push button
// or choose a list's row as Space does; a window's default button keeps Return, and a check box
// or a text field keeps its own.
TEST_F(InterfaceHelpers, ReturnDoesWhatSpaceDoesOnTheFocusedButtonOrRow) {
    using Make = std::function<QWidget*(QWidget & window, QStringList & log)>;
    const auto button = [](const char* title) -> Make {
        return [title](QWidget& window, QStringList& log) {
            auto* made = new QPushButton(QString::fromUtf8(title), &window);
            QObject::connect(made, &QPushButton::clicked,
                             [&log, title] { log << QString("pressed ") + title; });
            return made;
        };
    };
    const Make toolButton = [](QWidget& window, QStringList& log) {
        auto* made = new QToolButton(&window);
        made->setText("Play");
        made->setFocusPolicy(Qt::StrongFocus);
        QObject::connect(made, &QToolButton::clicked, [&log] { log << "pressed Play"; });
        return made;
    };
    const Make listRow = [](QWidget& window, QStringList& log) {
        auto* list = new QListView(&window);
        list->setModel(new QStringListModel({"Beta launch review", "Weekly design sync"}, list));
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        // The keyboard on the second row, which is not chosen yet.
        list->selectionModel()->setCurrentIndex(list->model()->index(1, 0), QItemSelectionModel::NoUpdate);
        QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, [&log, list] {
            for (const QModelIndex& row : list->selectionModel()->selectedRows())
                log << "chose " + row.data().toString();
        });
        return list;
    };
    const Make checkBox = [](QWidget& window, QStringList& log) {
        auto* made = new QCheckBox("Include retained audio", &window);
        QObject::connect(made, &QCheckBox::toggled, [&log] { log << "toggled"; });
        return made;
    };
    const Make field = [](QWidget& window, QStringList& log) {
        auto* made = new QLineEdit(&window);
        QObject::connect(made, &QLineEdit::returnPressed, [&log] { log << "field"; });
        return made;
    };
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const struct {
        const char* name;
        Make make;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool withDefault; // a dialog whose default button is "OK"
        QStringList logged;
    } rows[] = {
        {"a push button", button("Share…"), Qt::Key_Return, none, false, {"pressed Share…"}},
        {"a push button, Space", button("Share…"), Qt::Key_Space, none, false, {"pressed Share…"}},
        {"a push button, Enter on the keypad",
         button("Create link"),
         Qt::Key_Enter,
         Qt::KeypadModifier,
         false,
         {"pressed Create link"}},
        {"a push button, Shift+Return", button("Share…"), Qt::Key_Return, Qt::ShiftModifier, false, {}},
        {"a tool button", toolButton, Qt::Key_Return, none, false, {"pressed Play"}},
        {"a list's focused row", listRow, Qt::Key_Return, none, false, {"chose Weekly design sync"}},
        {"a list's focused row, Space", listRow, Qt::Key_Space, none, false, {"chose Weekly design sync"}},
        {"a check box keeps Return", checkBox, Qt::Key_Return, none, false, {}},
        {"a text field keeps Return", field, Qt::Key_Return, none, false, {"field"}},
        {"a button beside a default button: Return is the default's",
         button("Undo draft"),
         Qt::Key_Return,
         none,
         true,
         {"pressed OK"}},
        {"the same button, Space", button("Undo draft"), Qt::Key_Space, none, true, {"pressed Undo draft"}},
        {"a text field beside a default button", field, Qt::Key_Return, none, true, {"field", "pressed OK"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QStringList log;
        std::unique_ptr<QWidget> window =
            row.withDefault ? std::make_unique<QDialog>() : std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        QWidget* focused = row.make(*window, log);
        layout->addWidget(focused);
        if (row.withDefault) {
            auto* ok = new QPushButton("OK", window.get());
            ok->setAutoDefault(false);
            ok->setDefault(true);
            QObject::connect(ok, &QPushButton::clicked, [&log] { log << "pressed OK"; });
            layout->addWidget(ok);
            if (auto* other = qobject_cast<QPushButton*>(focused))
                other->setAutoDefault(false);
        }
        window->show();
        QApplication::setActiveWindow(window.get());
        focused->setFocus(Qt::TabFocusReason);
        if (QApplication::focusWidget() != focused)
            GTEST_SKIP() << "this platform gives no keyboard focus";
        QTest::keyClick(window->windowHandle(), row.key, row.modifiers);
        EXPECT_EQ(log, row.logged);
        QApplication::setActiveWindow(nullptr);
    }
}

} // namespace
