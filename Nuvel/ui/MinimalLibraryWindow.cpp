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
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QMimeData>
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

namespace {

// The one local file a drag carries, if it carries exactly that.
std::optional<std::filesystem::path> droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return std::nullopt;
    return std::filesystem::path(urls.first().toLocalFile().toStdString());
}

NewRecordingSheet::Environment sheetEnvironment(AppModel& model, const MinimalLibraryWindow::Dependencies& d,
                                               MinimalLibraryWindow* library) {
    NewRecordingSheet::Environment e;
    e.commitScratchpad = [library] { library->commitScratchpad(); };
    e.window = [library]() -> QWidget* { return library->view(); };
    e.model = &model;
    e.queue = d.queue;
    e.executor = d.executor;
    e.dialogs = d.dialogs;
    e.defaults = d.defaults;
    e.sources = d.sources;
    e.permission = d.permission;
    return e;
}

} // namespace

MinimalLibraryWindow::MinimalLibraryWindow(AppModel& model, Dependencies dependencies)
    : model_(model), sheet_(sheetEnvironment(model, dependencies, this)),
      import_(model, *dependencies.dialogs, *dependencies.defaults) {
    root_ = new QWidget;
    root_->setObjectName(QStringLiteral("library"));
    root_->setLayoutDirection(preferredLayoutDirection());
    root_->setAcceptDrops(true);
    root_->installEventFilter(this);

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
    if (root_)
        root_->removeEventFilter(this);
    delete root_.data();
}

bool MinimalLibraryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != root_)
        return false;
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (droppedFile(drag->mimeData())) {
            drag->acceptProposedAction();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::optional<std::filesystem::path> file = droppedFile(drop->mimeData());
        if (!file)
            return false;
        drop->acceptProposedAction();
        // The confirmation runs once the drag has ended, not inside the drag's own event loop.
        QPointer<MinimalLibraryWindow> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, path = *file] {
                if (self)
                    self->import_.confirmImport(path);
            },
            Qt::QueuedConnection);
        return true;
    }
    return false;
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
    connect(importAudio_.data(), &QAction::triggered, this, [this] {
        NUVEL_MAIN_ACTOR_ENTRY(file);
        chooseAudioFile();
    });
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
    const bool idle = !model_.isRecording() && !model_.busy() && !model_.updateInProgress();
    if (newRecording_)
        newRecording_->setEnabled(idle);
    if (importAudio_)
        importAudio_->setEnabled(idle);

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

void MinimalLibraryWindow::beginNewRecording(const RecordingSuggestion* suggestion) {
    NUVEL_MAIN_ACTOR_ENTRY(file);
    sheet_.beginNewRecording(suggestion);
}

void MinimalLibraryWindow::chooseAudioFile() {
    NUVEL_MAIN_ACTOR_ENTRY(file);
    import_.chooseAudioFile();
}

void MinimalLibraryWindow::setCalendar(ShellCalendar* calendar) {
    sheet_.calendar = calendar;
}

} // namespace nuvel
