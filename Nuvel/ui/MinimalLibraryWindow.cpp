#include "Nuvel/ui/MinimalLibraryWindow.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/Dialogs.hpp"
#include "Nuvel/ui/InterfaceHelpers.hpp"
#include "Nuvel/ui/Localization.hpp"
#include "Nuvel/ui/MainActorEntry.hpp"
#include "Nuvel/ui/PreferredLanguages.hpp"
#include "Nuvel/ui/ViewFactories.hpp"
#include "NuvelKit/support/Defaults.hpp"

#include <QAction>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace nuvel {

namespace {

constexpr const char* file = "Nuvel/AppDelegate";

QString stateText(const LocalRecording& recording) {
    switch (recording.capture) {
    case CaptureState::recording:
        return localized("Recording");
    case CaptureState::paused:
        return localized("Paused");
    case CaptureState::interrupted:
        return localized("Needs recovery");
    case CaptureState::finalizing:
        return localized("Saving…");
    case CaptureState::saved:
        break;
    }
    return localized("Saved");
}

} // namespace

MinimalLibraryWindow::MinimalLibraryWindow(AppModel& model, MainQueue& queue, SourceChecks checks, Dialogs& dialogs,
                                           DefaultsStore& defaults)
    : model_(model), queue_(queue), checks_(std::move(checks)), dialogs_(dialogs), defaults_(defaults) {
    root_ = new QWidget;
    root_->setObjectName(QStringLiteral("library"));
    root_->setLayoutDirection(preferredLayoutDirection());

    account_ = makeLabel(QString(), 13, QFont::Normal);
    account_->setObjectName(QStringLiteral("library-account"));
    signIn_ = new QPushButton(localized("Sign in to Nuvel"));
    signIn_->setObjectName(QStringLiteral("library-sign-in"));
    connect(signIn_, &QPushButton::clicked, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY(file);
        model_.signIn();
    });
    auto* accountRow = new QWidget;
    auto* accountLayout = new QHBoxLayout(accountRow);
    accountLayout->setContentsMargins(0, 0, 0, 0);
    accountLayout->addWidget(account_, 1);
    accountLayout->addWidget(signIn_);

    status_ = makeWrappingLabel(QString(), 13, QFont::Normal);
    status_->setObjectName(QStringLiteral("library-status"));
    timer_ = makeLabel(QStringLiteral("00:00"), 28, QFont::Light);
    timer_->setObjectName(QStringLiteral("library-timer"));
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("library-recordings"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);

    QWidget* stack = makeStack({accountRow, status_, timer_, list_}, 12);
    auto* layout = new QVBoxLayout(root_);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(stack);
    render();
}

MinimalLibraryWindow::~MinimalLibraryWindow() {
    if (sheet_)
        sheet_->dismiss();
    delete root_.data();
}

QWidget* MinimalLibraryWindow::view() {
    return root_;
}

QWidget* MinimalLibraryWindow::initialFocus() {
    return list_;
}

void MinimalLibraryWindow::populateToolbar(QToolBar* toolbar) {
    newRecording_ = toolbar->addAction(QIcon(QStringLiteral(":/icons/record.circle.svg")), localized("New recording"));
    newRecording_->setObjectName(QStringLiteral("new-recording"));
    newRecording_->setToolTip(localized("New recording"));
    connect(newRecording_.data(), &QAction::triggered, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY(file);
        beginNewRecording(nullptr);
    });
    importAudio_ =
        toolbar->addAction(QIcon(QStringLiteral(":/icons/square.and.arrow.down.svg")), localized("Import audio…"));
    importAudio_->setObjectName(QStringLiteral("import-audio"));
    importAudio_->setToolTip(localized("Import audio…"));
    importAudio_->setEnabled(false);
    render();
}

void MinimalLibraryWindow::render() {
    if (const auto& session = model_.session()) {
        account_->setText(QString::fromStdString(session->account.email));
        signIn_->setVisible(false);
    } else {
        account_->setText(localized("Not signed in"));
        signIn_->setVisible(true);
        // A pending attempt does not block a new one: the browser never says it was given up.
        signIn_->setEnabled(!model_.busy());
    }
    status_->setText(QString::fromStdString(model_.message()));
    status_->setVisible(!model_.message().empty());
    if (newRecording_)
        newRecording_->setEnabled(!model_.isRecording() && !model_.busy() && !model_.updateInProgress());

    list_->clear();
    for (const LocalRecording& recording : model_.recordings()) {
        const QString title =
            recording.title.empty() ? localized("Untitled meeting") : QString::fromStdString(recording.title);
        const QString details = stateText(recording) + QStringLiteral(" · ") + formatDuration(recording.totalDuration());
        auto* item = new QListWidgetItem(title + QStringLiteral("\n") + details, list_);
        item->setData(Qt::UserRole, QString::fromStdString(recording.id.uppercase()));
    }
    tick();
}

void MinimalLibraryWindow::tick() {
    timer_->setVisible(model_.isRecording());
    timer_->setText(formatDuration(model_.elapsed()));
}

void MinimalLibraryWindow::beginNewRecording(const RecordingSuggestion*) {
    NUVEL_MAIN_ACTOR_ENTRY(file);
    if (model_.activeID() || model_.busy() || model_.updateInProgress() || sheet_)
        return;
    if (!model_.session()) {
        model_.signIn();
        return;
    }
    commitScratchpad();
    Alert alert;
    alert.message = localized("Choose recording sources");
    alert.informativeText = localized("Room · microphone only");
    alert.checkbox = localized("I have permission to record and process this conversation.");
    alert.buttons = {localized("Check sources"), localized("Cancel")};
    const AlertAnswer answer = dialogs_.runModal(alert);
    if (answer.button != 0)
        return;
    if (!answer.checked) {
        model_.setMessage("Confirm permission before starting a recording.");
        return;
    }
    auto* sheet = new SourceCheckController(queue_, checks_, std::nullopt, localized("Microphone"), std::nullopt);
    sheet->onStart = [weak = QPointer<MinimalLibraryWindow>(this)] {
        if (weak)
            weak->startCheckedRecording();
    };
    sheet_ = sheet;
    sheet->present(root_);
}

void MinimalLibraryWindow::startCheckedRecording() {
    if (!model_.session() || !model_.store() || model_.isRecording() || model_.busy() || model_.updateInProgress())
        return;
    AppModel::NewRecording request;
    request.aiNotes = defaults_.boolean("capture.aiNotesDefault").value_or(false);
    request.sourceName = localized("Microphone").toStdString();
    model_.startNewRecording(std::move(request));
}

} // namespace nuvel
