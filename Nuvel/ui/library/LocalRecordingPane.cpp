#include "Nuvel/ui/library/LocalRecordingPane.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/annotations/AnnotationSync.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/library/NotesEditor.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "NuvelKit/support/DateFormat.hpp"

#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace nuvel {

namespace {

constexpr int meterWidth = 320;

void showSecondary(QWidget* view) {
    view->setForegroundRole(QPalette::PlaceholderText);
}

void showRed(QWidget* view) {
    QPalette palette = view->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 59, 48));
    view->setPalette(palette);
}

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// The creation time as the details line shows it: the locale's long date and short time, in the
// user's time zone, as the cloud side writes its meetings' times.
QString createdText(Date createdAt) {
    return QString::fromStdString(
        formatDateTime(createdAt.unixSeconds(), DateStyle::long_, DateStyle::short_));
}

const QString separator = QStringLiteral(" \u00B7 ");

// The controls Tab reaches in `layout`, in the order they stand in it, nested layouts included.
void collectTabStops(QLayout* layout, QList<QWidget*>& stops) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QLayout* inner = item->layout()) {
            collectTabStops(inner, stops);
        } else if (QWidget* widget = item->widget()) {
            if (QLayout* own = widget->layout())
                collectTabStops(own, stops);
            else if (widget->focusPolicy() & Qt::TabFocus)
                stops.append(widget);
        }
    }
}

// Tab goes through the pane top to bottom. The window's order is the order the controls were
// made in, and a pane built again around the kept notes editor makes its buttons after it.
void orderTabStops(QLayout* column) {
    QList<QWidget*> stops;
    collectTabStops(column, stops);
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

} // namespace

LocalRecordingPane::LocalRecordingPane(AppModel& model, Dependencies dependencies, QObject* parent)
    : QObject(parent), model_(model), dependencies_(dependencies) {}

LocalRecordingPane::~LocalRecordingPane() {
    // The long-lived views are ours while no pane holds them.
    for (QWidget* view : {static_cast<QWidget*>(timerLabel_), static_cast<QWidget*>(meter_),
                          static_cast<QWidget*>(systemMeter_)})
        if (view != nullptr && view->parentWidget() == nullptr)
            delete view;
}

bool LocalRecordingPane::isActive(const LocalRecording& recording) const {
    return model_.isRecording() && model_.activeID() == recording.id;
}

void LocalRecordingPane::ensureLongLivedViews() {
    if (timerLabel_ == nullptr) {
        timerLabel_ = new QLabel(QStringLiteral("00:00"));
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(40);
        font.setWeight(QFont::Light);
        timerLabel_->setFont(font);
        timerLabel_->setAlignment(preferredTextAlignment());
        timerLabel_->setObjectName(QStringLiteral("local-timer"));
        // Like the meters, it paints its own background: its repaint each second draws it alone.
        timerLabel_->setAutoFillBackground(true);
        shownSecond_ = std::numeric_limits<double>::quiet_NaN();
    }
    const auto makeMeter = [](QPointer<LevelIndicator>& meter, const char* name) {
        if (meter != nullptr)
            return;
        meter = new LevelIndicator;
        meter->setWarningValue(0.8);
        meter->setCriticalValue(0.95);
        meter->setFixedHeight(LevelIndicator::barHeight);
        meter->setObjectName(QString::fromLatin1(name));
    };
    makeMeter(meter_, "local-meter");
    makeMeter(systemMeter_, "local-system-meter");
}

void LocalRecordingPane::render(QVBoxLayout* detail, const LocalRecording& recording) {
    QWidget* held = nullptr;
    if (holdsEditor_ && pane_ != nullptr && scratchpad_ != nullptr && renderedID_ == recording.id &&
        detail != nullptr) {
        held = pane_;
        holdsEditor_ = false;
    } else {
        detach();
    }
    renderedID_ = recording.id;
    detail_ = detail;
    if (detail == nullptr)
        return;
    pane_ = build(recording, held);
    detail->addWidget(pane_);
}

void LocalRecordingPane::detach() {
    if (scratchpad_ != nullptr)
        scratchpad_->disconnect(this);
    scratchpad_ = nullptr;
    for (QWidget* view : {static_cast<QWidget*>(timerLabel_), static_cast<QWidget*>(meter_),
                          static_cast<QWidget*>(systemMeter_)})
        if (view != nullptr && view->parentWidget() != nullptr)
            view->setParent(nullptr);
    // A held view that no render took back goes as the owner's views do.
    if (holdsEditor_ && pane_ != nullptr) {
        pane_->hide();
        pane_->setParent(nullptr);
        pane_->deleteLater();
    }
    holdsEditor_ = false;
    pane_ = nullptr;
    column_ = nullptr;
}

QWidget* LocalRecordingPane::holdEditor() {
    if (pane_ == nullptr || scratchpad_ == nullptr || column_ == nullptr) {
        detach();
        return nullptr;
    }
    for (QWidget* view : {static_cast<QWidget*>(timerLabel_), static_cast<QWidget*>(meter_),
                          static_cast<QWidget*>(systemMeter_)})
        if (view != nullptr && view->parentWidget() != nullptr)
            view->setParent(nullptr);
    // None of these has the keyboard, so taking them away moves it nowhere.
    while (QLayoutItem* item = column_->takeAt(0)) {
        if (QWidget* view = item->widget(); view != nullptr && view != scratchpad_) {
            view->hide();
            view->setParent(nullptr);
            view->deleteLater();
        }
        delete item;
    }
    holdsEditor_ = true;
    return pane_;
}

void LocalRecordingPane::tick() {
    ensureLongLivedViews();
    // The timer shows whole seconds: of ten ticks a second, one has a new text to make.
    const double elapsed = model_.elapsed();
    const double second = elapsed > 0 ? std::floor(elapsed) : 0;
    if (second != shownSecond_) {
        showElapsed(formatDuration(elapsed));
        shownSecond_ = second;
    }
    meter_->setValue(model_.microphoneLevel());
    systemMeter_->setValue(model_.systemLevel());
}

void LocalRecordingPane::showElapsed(const QString& text) {
    if (timerLabel_->text() == text)
        return;
    // A label of fixed size takes its new text each second without laying out the pane again
    // (the wrapping texts around it are costly to measure); the size follows the text only when
    // its length changes, past an hour. The timer's font is fixed-pitch.
    const bool resize =
        text.size() != timerLabel_->text().size() || timerLabel_->minimumSize() != timerLabel_->maximumSize();
    timerLabel_->setText(text);
    if (resize)
        timerLabel_->setFixedSize(timerLabel_->sizeHint());
}

void LocalRecordingPane::commitScratchpad() {
    if (!renderedID_ || scratchpad_ == nullptr)
        return;
    const Uuid id = *renderedID_;
    std::string text = scratchpad_->toPlainText().toStdString();
    if (editorIsPrivate_)
        model_.setScratchpad(std::move(text), id);
    else
        model_.setNotepad(text, id);
}

QPlainTextEdit* LocalRecordingPane::scratchpad() const {
    return scratchpad_;
}
QLabel* LocalRecordingPane::timerLabel() const {
    return timerLabel_;
}
LevelIndicator* LocalRecordingPane::meter() const {
    return meter_;
}

QString LocalRecordingPane::notesCaption(const LocalRecording& recording) const {
    NotesCaptionContext context;
    context.editorIsPrivate = editorIsPrivate_;
    context.active = isActive(recording);
    context.notepadSync = model_.bootstrap() && model_.bootstrap()->capabilities.notepadSync.value_or(false);
    context.notepadNeedsSync = notepadNeedsSync(recording);
    return nuvel::notesCaption(recording, context);
}

// ---- Layout ----

void LocalRecordingPane::place(QWidget* view, int spacingAfter) {
    if (pendingSpacing_ >= 0)
        column_->addSpacing(pendingSpacing_);
    if (view->layout() != nullptr)
        view->setSizePolicy(view->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    column_->addWidget(view);
    pendingSpacing_ = spacingAfter;
}

void LocalRecordingPane::addMeter(LevelIndicator* indicator, const QString& caption,
                                  const QString& accessibleName) {
    QLabel* label = makeLabel(caption, 11, QFont::Normal);
    showSecondary(label);
    label->setText(label->fontMetrics().elidedText(caption, Qt::ElideMiddle, meterWidth));
    setPlainToolTip(label, caption);
    indicator->setAccessibleName(accessibleName);
    QWidget* stack = makeStack({label, indicator}, 4);
    indicator->setVisible(true);
    stack->setFixedWidth(meterWidth);
    place(stack, 12);
    column_->setAlignment(stack, Qt::AlignLeading);
}

QWidget* LocalRecordingPane::build(const LocalRecording& recording, QWidget* held) {
    QPlainTextEdit* kept = held != nullptr ? scratchpad_.data() : nullptr;
    QWidget* pane = held;
    if (pane == nullptr) {
        pane = new QWidget;
        pane->setObjectName(QStringLiteral("local-pane"));
        pane->setLayoutDirection(preferredLayoutDirection());
        column_ = new QVBoxLayout(pane);
        column_->setContentsMargins(0, 0, 0, 0);
        column_->setSpacing(0);
    }
    pendingSpacing_ = -1;

    const bool active = isActive(recording);
    const bool paused = active && model_.isPaused();

    QLabel* heading =
        makeLabel(active ? localized(paused ? "Paused" : "Recording") : localized("Saved on this Mac"), 11,
                  QFont::DemiBold);
    heading->setObjectName(QStringLiteral("local-heading"));
    if (active && !paused)
        showRed(heading);
    else
        showSecondary(heading);
    place(heading, 4);

    QLabel* title = makeWrappingLabel(recording.title.empty() ? localized("Untitled recording")
                                                              : fromStd(recording.title),
                                      24, QFont::DemiBold);
    title->setObjectName(QStringLiteral("local-title"));
    place(title, 4);

    QString when = createdText(recording.createdAt);
    if (!active)
        when += separator + formatDuration(recording.totalDuration());
    const QString where = fromStd(model_.workspaceTitle()) + separator +
                          localized(recording.aiNotes ? "AI notes on" : "AI notes off");
    QLabel* details = makeWrappingLabel(when + QStringLiteral("\n") + where, 12, QFont::Normal);
    details->setObjectName(QStringLiteral("local-details"));
    showSecondary(details);
    place(details, 20);

    if (active)
        buildActive(recording);
    else
        buildSaved(recording);

    if (recording.recoveryAssetIDs && !recording.recoveryAssetIDs->empty()) {
        QLabel* tail = makeWrappingLabel(localized("An unfinished audio tail is preserved for recovery. It "
                                                   "is not included in playback or export."),
                                         12, QFont::Normal);
        tail->setObjectName(QStringLiteral("local-recovery"));
        showSecondary(tail);
        place(tail);
    }

    pendingSpacing_ = 20;
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    place(line, 20);

    buildNotes(recording, kept);
    buildBookmarks(recording);
    orderTabStops(column_);
    return pane;
}

void LocalRecordingPane::buildActive(const LocalRecording& recording) {
    ensureLongLivedViews();
    const bool paused = model_.isPaused();
    place(timerLabel_, 12);
    column_->setAlignment(timerLabel_, Qt::AlignLeading);
    timerLabel_->setVisible(true);
    addMeter(meter_, localized("Microphone"), localized("Microphone level"));
    const bool withSource = recording.captureMode && *recording.captureMode != "room";
    const bool named = recording.captureSourceName && !recording.captureSourceName->empty();
    const QString sourceName = named ? fromStd(*recording.captureSourceName) : localized("Application audio");
    if (withSource)
        addMeter(systemMeter_, sourceName, localized("Application audio level"));

    // The running sentence names what is recorded: the microphone alone, or the source with it.
    QString running = localized("Microphone is recording. Keep Nuvel open; you can close this window.");
    if (withSource)
        running =
            localized("%@ and the microphone are recording. Keep Nuvel open; you can close this window.")
                .replace(QStringLiteral("%@"), QChar(0x2068) + sourceName + QChar(0x2069));
    QLabel* status = makeWrappingLabel(paused ? localized("Paused. No audio is being retained.") : running,
                                       13, QFont::Normal);
    status->setObjectName(QStringLiteral("local-status"));
    status->setAccessibleName(withoutDirectionMarks(status->text()));
    place(status, 12);

    QPushButton* pauseButton = makeActionButton(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"),
                                                paused ? "play.fill" : "pause.fill", [this] { pause(); });
    pauseButton->setObjectName(QStringLiteral("local-pause"));
    QPushButton* mark = makeActionButton(QStringLiteral("Mark moment"), "bookmark", [this] { bookmark(); });
    mark->setObjectName(QStringLiteral("local-bookmark"));
    QPushButton* stopButton =
        makeActionButton(QStringLiteral("Stop and save"), "stop.fill", [this] { stop(); });
    stopButton->setObjectName(QStringLiteral("local-stop"));
    place(makeRow({pauseButton, mark, stopButton}));

    tick();
}

void LocalRecordingPane::buildSaved(const LocalRecording& recording) {
    QLabel* status = makeWrappingLabel(transferStatusText(recording), 13, QFont::Normal);
    status->setObjectName(QStringLiteral("local-status"));
    place(status, 12);

    const bool idle = !model_.busy() && !model_.uploading();
    const bool hasAudio = !recording.segments.empty();
    const auto button = [idle](const char* title, const char* symbol, const char* name,
                               std::function<void()> action) {
        QPushButton* made = makeActionButton(QString::fromUtf8(title), symbol, std::move(action));
        made->setObjectName(QString::fromLatin1(name));
        made->setEnabled(idle);
        return made;
    };

    QList<QWidget*> first;
    if (recording.transfer != TransferState::accepted && model_.canSend(recording) && hasAudio)
        first.append(button("Send to Nuvel", "arrow.up.circle", "local-send", [this] { upload(); }));
    if (recording.remoteID)
        first.append(button("Refresh status", "arrow.clockwise", "local-refresh", [this] { refresh(); }));
    if (recording.resultURL)
        first.append(button("Open in Nuvel library", "arrow.up.right.square", "local-open-result",
                            [this] { openResult(); }));
    if (!first.isEmpty())
        place(makeRow(first));

    QList<QWidget*> second;
    if (hasAudio) {
        // The model tells which recording its player holds; that one is the one playing.
        const bool playing = model_.playbackID() == recording.id && model_.playbackPlaying();
        second.append(button(playing ? "Pause playback" : "Play", playing ? "pause.fill" : "play.fill",
                             "local-play", [this] { playAudio(); }));
        second.append(
            button("Export audio…", "square.and.arrow.up", "local-export", [this] { exportAudio(); }));
    }
    if (idle)
        second.append(button("Remove local copy…", "trash", "local-remove", [this] { discard(); }));
    if (!second.isEmpty())
        place(makeRow(second));
}

void LocalRecordingPane::buildNotes(const LocalRecording& recording, QPlainTextEdit* kept) {
    auto* mode = new SegmentedControl({localized("Meeting notes"), localized("Private notes")});
    mode->setObjectName(QStringLiteral("local-notes-mode"));
    mode->setAccessibleName(localized("Notes"));
    mode->setLayoutDirection(preferredLayoutDirection());
    mode->setSelectedSegment(showsPrivateNotes_ ? 1 : 0);
    mode->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(mode, &SegmentedControl::segmentChosen, this, &LocalRecordingPane::notesModeChanged);
    place(mode, 8);
    column_->setAlignment(mode, Qt::AlignLeading);

    // A kept editor shows the mode it was built in: the mode changes only through the switch,
    // whose own redraw builds a new editor.
    if (kept == nullptr)
        editorIsPrivate_ = showsPrivateNotes_;

    QLabel* caption = makeWrappingLabel(notesCaption(recording), 11, QFont::Normal);
    caption->setObjectName(QStringLiteral("local-notes-caption"));
    showSecondary(caption);
    place(caption);

    if (kept != nullptr) {
        // What the user typed is the recording's already: each change was written through.
        kept->setReadOnly(model_.uploading());
        kept->setFixedHeight(isActive(recording) && !editorIsPrivate_ ? 220 : 160);
        place(kept);
        return;
    }
    auto* editor = new NotesEditor;
    editor->setObjectName(QStringLiteral("local-notes-editor"));
    editor->onFile = [this](const std::filesystem::path& file) {
        if (onFile)
            onFile(file);
    };
    editor->setFont(systemFont(13, QFont::Normal));
    editor->document()->setDocumentMargin(8);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab leaves the notes as it leaves every other control: kept there, it would hold the
    // keyboard in the editor for good.
    editor->setTabChangesFocus(true);
    editor->setPlainText(
        editorIsPrivate_ ? fromStd(recording.scratchpad)
                         : fromStd(Notepad::text(recording.notepad.value_or(std::vector<NotepadLine>{}))));
    editor->setReadOnly(model_.uploading());
    editor->setAccessibleName(localized(editorIsPrivate_ ? "Private notes" : "Meeting notes"));
    editor->setFixedHeight(isActive(recording) && !editorIsPrivate_ ? 220 : 160);
    connect(editor, &QPlainTextEdit::textChanged, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY();
        commitScratchpad();
    });
    place(editor);
    scratchpad_ = editor;
}

void LocalRecordingPane::buildBookmarks(const LocalRecording& recording) {
    if (recording.bookmarks.empty())
        return;
    pendingSpacing_ = 20;
    QLabel* heading = makeLabel(localized("Marked moments"), 13, QFont::DemiBold);
    heading->setObjectName(QStringLiteral("local-bookmarks-heading"));
    place(heading);

    const bool enabled = !model_.isRecording() && !model_.busy();
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(std::max(1.0, systemFont(0, QFont::Normal).pointSizeF() - 2));
    digits.setWeight(QFont::Normal);
    QList<QWidget*> buttons;
    for (const Bookmark& mark : recording.bookmarks) {
        const std::int64_t at = mark.mediaMilliseconds;
        QPushButton* button = makeActionButton(formatDuration(double(at) / 1000.0), "bookmark",
                                               [this, at] { playBookmark(at); });
        button->setObjectName(QStringLiteral("local-bookmark-%1").arg(at));
        button->setProperty("tag", qint64(at));
        button->setFont(digits);
        button->setEnabled(enabled);
        buttons.append(button);
    }
    place(makeRow(buttons, 6));
}

// ---- Actions ----

void LocalRecordingPane::upload() {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    if (const std::optional<Uuid> id = model_.selectedID())
        model_.startUploadIfAllowed(*id, false);
}

void LocalRecordingPane::refresh() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.refreshSelectedStatus();
}

void LocalRecordingPane::openResult() {
    NUVEL_MAIN_ACTOR_ENTRY();
    const LocalRecording* selected = model_.selectedRecording();
    const std::optional<std::string> remoteID = selected ? selected->remoteID : std::nullopt;
    if (onOpenResult)
        onOpenResult(remoteID);
}

void LocalRecordingPane::playAudio() {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    model_.togglePlayback();
}

void LocalRecordingPane::playBookmark(std::int64_t mediaMilliseconds) {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    model_.togglePlayback(double(mediaMilliseconds) / 1000.0);
}

void LocalRecordingPane::exportAudio() {
    NUVEL_MAIN_ACTOR_ENTRY();
    const LocalRecording* selected = model_.selectedRecording();
    if (selected == nullptr || dependencies_.dialogs == nullptr)
        return;
    SavePanel panel;
    panel.proposedName = exportFileName(selected->createdAt);
    panel.nameFilters = {localized("MPEG-4 audio") + QStringLiteral(" (*.m4a)")};
    const std::optional<std::filesystem::path> file = dependencies_.dialogs->runSavePanel(panel);
    if (file && !file->empty())
        model_.exportAudio(*file);
}

void LocalRecordingPane::discard() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (dependencies_.dialogs == nullptr)
        return;
    if (confirmed(*dependencies_.dialogs, "Remove this local recording?",
                  "This deletes the audio and private notes saved on this Mac. Export any unsent recording "
                  "first. It "
                  "does not delete a meeting on Nuvel.",
                  "Remove local copy"))
        model_.discardRecording();
}

void LocalRecordingPane::pause() {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    model_.togglePause();
}

void LocalRecordingPane::bookmark() {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    model_.addBookmark();
}

void LocalRecordingPane::stop() {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    model_.stopRecording();
}

void LocalRecordingPane::notesModeChanged(int segment) {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    showsPrivateNotes_ = segment == 1;
    if (onRenderNeeded) {
        onRenderNeeded();
    } else if (detail_ != nullptr && pane_ != nullptr && renderedID_) {
        // Our own rebuild, in the old pane's place; the old one goes once the switch's click
        // has returned.
        const LocalRecording* shown = nullptr;
        for (const LocalRecording& recording : model_.recordings())
            if (recording.id == *renderedID_) {
                shown = &recording;
                break;
            }
        if (shown != nullptr) {
            QVBoxLayout* detail = detail_;
            QWidget* old = pane_;
            const int index = detail->indexOf(old);
            detach();
            detail_ = detail;
            pane_ = build(*shown);
            detail->insertWidget(index, pane_);
            detail->removeWidget(old);
            old->setParent(nullptr);
            old->deleteLater();
        }
    }
    if (scratchpad_ != nullptr)
        scratchpad_->setFocus(Qt::OtherFocusReason);
}

} // namespace nuvel
