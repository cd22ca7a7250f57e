#include "Nuvel/ui/sheets/SourceCheckController.hpp"

#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <algorithm>

namespace nuvel {

namespace {

constexpr int contentWidth = 460;
constexpr int inset = 20; // around the content
constexpr int initialContentHeight = 240;

QString text(const char* key) {
    return QCoreApplication::translate("SourceCheckController", key);
}

// The status line's three sentences.
QString checkingText() {
    return text(
        "Checking sources for three seconds. Audio is metered and discarded; nothing is saved or uploaded.");
}
QString passedText() {
    return text(
        "Source check finished. If the meeting app was quiet during the check, cancel and repeat while it "
        "plays a test sound. Silence can be normal. Start when ready.");
}
QString failedText() {
    return text(
        "A source could not be checked. Check permissions and the selected app, then cancel and try again.");
}

void useSecondaryTextColour(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    widget->setPalette(palette);
}

// Extra room after one view of a stack made by makeStack, on top of the stack's spacing. A
// spacer takes no spacing of its own in a box layout, so the gap becomes exactly `spacing`.
void setCustomSpacing(QWidget* stack, QWidget* after, int spacing) {
    auto* box = qobject_cast<QBoxLayout*>(stack->layout());
    if (box == nullptr)
        return;
    const int index = box->indexOf(after);
    if (index >= 0 && spacing > box->spacing())
        box->insertSpacing(index + 1, spacing - box->spacing());
}

// The meters as the checks see them: they follow the sheet's two level bars while those exist.
class SheetMeters final : public SourceCheckMeters {
public:
    SheetMeters(LevelIndicator* microphone, LevelIndicator* system)
        : microphone_(microphone), system_(system) {}
    void setMicrophoneLevel(double level) override {
        if (microphone_)
            microphone_->setValue(level);
    }
    void setSystemLevel(double level) override {
        if (system_)
            system_->setValue(level);
    }

private:
    QPointer<LevelIndicator> microphone_;
    QPointer<LevelIndicator> system_;
};

} // namespace

SourceCheckController::SourceCheckController(MainQueue& queue, SourceChecks checks,
                                             std::optional<SystemAudioSelection> source,
                                             const QString& heading,
                                             std::optional<std::uint32_t> microphoneDeviceID)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), queue_(&queue),
      checks_(std::move(checks)), source_(source), microphoneDeviceID_(microphoneDeviceID) {
    queue_->requireCurrent("SourceCheckController::SourceCheckController");
    setObjectName(QStringLiteral("source-check-sheet"));
    setWindowTitle(text("Check recording sources"));
    setSizeGripEnabled(false);
    resize(contentWidth, initialContentHeight);

    microphone_ = new LevelIndicator;
    microphone_->setObjectName(QStringLiteral("source-check-microphone-level"));
    microphone_->setAccessibleName(text("Microphone level"));
    system_ = new LevelIndicator;
    system_->setObjectName(QStringLiteral("source-check-application-level"));
    // The second meter is named for the source it measures: one application, or everything played.
    const bool allSystem = source_ && source_->kind == SystemAudioSelection::Kind::allSystem;
    system_->setAccessibleName(allSystem ? text("All system audio level") : text("Application audio level"));
    for (LevelIndicator* meter : {microphone_, system_}) {
        meter->setWarningValue(0.8);
        meter->setCriticalValue(0.95);
    }

    QLabel* microphoneCaption = makeLabel(text("Microphone"), 11, QFont::Normal);
    microphoneCaption->setObjectName(QStringLiteral("source-check-microphone-caption"));
    useSecondaryTextColour(microphoneCaption);
    QLabel* systemCaption =
        makeLabel(allSystem ? text("All system audio") : text("Application audio"), 11, QFont::Normal);
    systemCaption->setObjectName(QStringLiteral("source-check-application-caption"));
    useSecondaryTextColour(systemCaption);

    status_ = makeWrappingLabel(QString(), 12, QFont::Normal);
    status_->setObjectName(QStringLiteral("source-check-status"));
    status_->setAlignment(status_->alignment() | Qt::AlignTop);
    useSecondaryTextColour(status_);

    auto* cancel = new QPushButton(text("Cancel"));
    cancel->setObjectName(QStringLiteral("source-check-cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &SourceCheckController::cancelCheck);
    start_ = new QPushButton(text("Start recording"));
    start_->setObjectName(QStringLiteral("source-check-start"));
    start_->setAutoDefault(false);
    start_->setDefault(true);
    start_->setEnabled(false);
    connect(start_, &QPushButton::clicked, this, &SourceCheckController::startRecording);
    // Both buttons sit at the trailing end, "Cancel" first; the row mirrors right to left.
    auto* buttons = new QWidget;
    buttons->setObjectName(QStringLiteral("source-check-buttons"));
    auto* buttonLayout = new QHBoxLayout(buttons);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    buttonLayout->setSpacing(8);
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(cancel);
    buttonLayout->addWidget(start_);

    QLabel* headingLabel = makeWrappingLabel(heading, 15, QFont::DemiBold);
    headingLabel->setObjectName(QStringLiteral("source-check-heading"));

    QWidget* microphoneRow = makeStack({microphoneCaption, microphone_}, 4);
    microphoneRow->setObjectName(QStringLiteral("source-check-microphone-row"));
    QWidget* systemRow = makeStack({systemCaption, system_}, 4);
    systemRow->setObjectName(QStringLiteral("source-check-application-row"));

    QWidget* main = makeStack({headingLabel, microphoneRow, systemRow, status_, buttons}, 12);
    main->setObjectName(QStringLiteral("source-check-content"));
    setCustomSpacing(main, status_, 20);
    systemRow->setVisible(source_.has_value());
    // The stacks keep their natural height: the sheet is as tall as its content.
    main->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    for (QWidget* row : {microphoneRow, systemRow, buttons})
        row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    pinToSuperview(main, this, inset);

    meters_ = std::make_shared<SheetMeters>(microphone_, system_);
    setStatus(checkingText());
}

SourceCheckController::~SourceCheckController() {
    check_.cancel();
    meters_.reset();
}

void SourceCheckController::present(QWidget* parent) {
    queue_->requireCurrent("SourceCheckController::present");
    if (presented_ || dismissed_)
        return;
    presented_ = true;
    retainedSelf_ = true;
    if (parent != nullptr) {
        setParent(parent->window(), windowFlags());
        open(); // window-modal on the parent's window
    } else {
        show();
    }
    check_ = spawn(*queue_, runCheck(QPointer<SourceCheckController>(this), checks_, source_,
                                     microphoneDeviceID_, meters_));
}

Task<void> SourceCheckController::runCheck(QPointer<SourceCheckController> controller, SourceChecks checks,
                                           std::optional<SystemAudioSelection> source,
                                           std::optional<std::uint32_t> microphoneDeviceID,
                                           std::weak_ptr<SourceCheckMeters> meters) {
    bool passed = false;
    try {
        if (source) {
            if (!checks.system)
                throw Error("no system-audio check is available");
            co_await checks.system(*source, true, microphoneDeviceID, meters);
        } else {
            if (!checks.microphone)
                throw Error("no microphone check is available");
            co_await checks.microphone(microphoneDeviceID, meters);
        }
        passed = true;
    } catch (...) {
        // Every failure, a cancellation included, ends in the one failure sentence.
    }
    if (controller)
        controller->finishCheck(passed);
}

void SourceCheckController::finishCheck(bool passed) {
    if (dismissed_)
        return;
    if (passed) {
        sourceChecked_ = true;
        start_->setEnabled(true);
        setStatus(passedText());
    } else {
        setStatus(failedText());
    }
}

void SourceCheckController::cancelCheck() {
    queue_->requireCurrent("SourceCheckController::cancelCheck");
    dismiss();
}

void SourceCheckController::startRecording() {
    queue_->requireCurrent("SourceCheckController::startRecording");
    if (!sourceChecked_)
        return;
    std::function<void()> action = std::exchange(onStart, nullptr);
    dismissWith(QDialog::Accepted);
    if (action)
        action();
}

void SourceCheckController::dismiss() {
    queue_->requireCurrent("SourceCheckController::dismiss");
    dismissWith(QDialog::Rejected);
}

void SourceCheckController::dismissWith(int result) {
    if (check_.isValid()) {
        check_.cancel();
        check_ = TaskHandle();
    }
    dismissed_ = true;
    QDialog::done(result); // ends the window-modal session and hides the sheet
    close();
    if (retainedSelf_) {
        retainedSelf_ = false;
        deleteLater();
    }
}

void SourceCheckController::keyPressEvent(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        startRecording();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        cancelCheck();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SourceCheckController::closeEvent(QCloseEvent* event) {
    if (dismissed_) {
        event->accept();
        return;
    }
    // Closed by the window system: the same as "Cancel".
    event->ignore();
    cancelCheck();
}

void SourceCheckController::reject() {
    if (dismissed_)
        return;
    cancelCheck();
}

void SourceCheckController::setStatus(const QString& value) {
    status_->setText(value);
    fitToContent();
}

void SourceCheckController::fitToContent() {
    QLayout* content = layout();
    if (content == nullptr)
        return;
    // The status line keeps room for the longest of its sentences, wrapped at its width: the
    // sheet takes its height once and never has to grow while it is on screen, where a window
    // system may keep the old height and cut the sentence's last line.
    const QMargins margins = status_->contentsMargins();
    const int width = contentWidth - 2 * inset - margins.left() - margins.right();
    int tallest = 0;
    for (const QString& sentence : {checkingText(), passedText(), failedText()})
        tallest = std::max(tallest,
                           status_->fontMetrics()
                               .boundingRect(QRect(0, 0, width, QWIDGETSIZE_MAX), Qt::TextWordWrap, sentence)
                               .height());
    status_->setMinimumHeight(tallest + margins.top() + margins.bottom());
    content->activate();
    const int height = content->hasHeightForWidth() ? content->totalHeightForWidth(contentWidth)
                                                    : content->totalSizeHint().height();
    setFixedSize(contentWidth, height);
}

} // namespace nuvel
