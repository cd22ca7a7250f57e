#include "Nuvel/ui/detail/DetailReadingPanes.hpp"

#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/MeetingDetailNotes.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/detail/DetailTextDocument.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QTextCursor>
#include <algorithm>
#include <memory>

namespace nuvel {

using namespace meetingdetail;

namespace {
TextRange selectionOf(const ReadableTextView* view) {
    const QTextCursor cursor = view->textCursor();
    return {std::size_t(cursor.selectionStart()),
            std::size_t(cursor.selectionEnd() - cursor.selectionStart())};
}
} // namespace

QWidget* DetailReadingPanes::build(MeetingDetailController& owner) {
    MeetingDetailController* self = &owner;
    notes_ = new ReadableTextView;
    transcript_ = new ReadableTextView;
    configureReadingView(notes_, localized("Meeting notes"));
    configureReadingView(transcript_, localized("Meeting transcript"), false);
    notes_->setObjectName(QStringLiteral("meeting-detail-notes"));
    transcript_->setObjectName(QStringLiteral("meeting-detail-transcript"));
    QObject::connect(notes_, &QTextBrowser::anchorClicked, self,
                     [self](const QUrl& url) { self->openLink(url.toString()); });
    // consumed: nothing to open there
    QObject::connect(transcript_, &QTextBrowser::anchorClicked, self, [] {});
    transcript_->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(transcript_, &QWidget::customContextMenuRequested, self,
                     [this, self](const QPoint& at) { showTranscriptMenu(*self, at); });
    auto* content = new QWidget;
    auto* contentRow = new QHBoxLayout(content);
    contentRow->setContentsMargins(0, 0, 0, 0);
    contentRow->addWidget(notes_);
    contentRow->addWidget(transcript_);
    transcript_->hide();
    content->setMinimumHeight(180);
    content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return content;
}

void DetailReadingPanes::forget() {
    notes_ = nullptr;
    transcript_ = nullptr;
}

std::optional<MeetingDetailSnapshot::Evidence> DetailReadingPanes::evidence(const std::string& key) const {
    if (const auto found = evidenceRanges_.find(key); found != evidenceRanges_.end())
        return found->second;
    return std::nullopt;
}

void DetailReadingPanes::drawTranscript(const MeetingDetailSnapshot& display, const DetailLocale& locale) {
    const int keptAnchor = transcript_->textCursor().anchor();
    const int keptPosition = transcript_->textCursor().position();
    TranscriptContent content = transcriptContent(display, locale);
    wordRanges_ = std::move(content.wordRanges);
    transcriptText_ = std::move(content.text);
    transcript_->setAlignsTrailing(transcriptText_.rightToLeft);
    transcript_->replaceDocument(makeDetailTextDocument(transcriptText_, transcript_->palette()));
    const int end = transcript_->document()->characterCount() - 1;
    if (std::max(keptAnchor, keptPosition) <= end) {
        QTextCursor cursor(transcript_->document());
        cursor.setPosition(keptAnchor);
        cursor.setPosition(keptPosition, QTextCursor::KeepAnchor);
        transcript_->setTextCursor(cursor);
    }
}

bool DetailReadingPanes::drawNotes(const MeetingDetailSnapshot& display, const DetailLocale& locale) {
    NotesContent content = notesContent(display, locale);
    evidenceRanges_ = std::move(content.evidenceRanges);
    notesText_ = std::move(content.text);
    notes_->setAlignsTrailing(notesText_.rightToLeft);
    notes_->replaceDocument(makeDetailTextDocument(notesText_, notes_->palette()));
    return content.showTranscript;
}

void DetailReadingPanes::forgetContent() {
    wordRanges_.clear();
    evidenceRanges_.clear();
    transcriptText_ = {};
    notesText_ = {};
}

void DetailReadingPanes::clearDocuments() {
    notes_->replaceDocument(std::make_unique<QTextDocument>());
    transcript_->replaceDocument(std::make_unique<QTextDocument>());
}

void DetailReadingPanes::showTab(bool transcriptTab) {
    notes_->setVisible(!transcriptTab);
    transcript_->setVisible(transcriptTab);
}

std::vector<MeetingDetailSnapshot::Word> DetailReadingPanes::selectedWords() const {
    std::vector<MeetingDetailSnapshot::Word> out;
    if (transcript_ == nullptr)
        return out;
    for (std::size_t index :
         meetingdetail::selectedWords(displayedWords_, wordRanges_, selectionOf(transcript_)))
        out.push_back(displayedWords_[index]);
    return out;
}

std::optional<std::string> DetailReadingPanes::findNext(const std::u16string& query, bool transcriptTab,
                                                        const DetailLocale& locale) {
    ReadableTextView* target = transcriptTab ? transcript_ : notes_;
    const DetailText& text = transcriptTab ? transcriptText_ : notesText_;
    const FindResult result = meetingdetail::findNext(query, text.string, selectionOf(target), locale);
    if (const auto* none = std::get_if<FindNoMatches>(&result))
        return none->sentence;
    if (const auto* range = std::get_if<TextRange>(&result))
        target->selectRange(int(range->location), int(range->length));
    return std::nullopt;
}

void DetailReadingPanes::showTranscriptMenu(MeetingDetailController& owner, const QPoint& at) {
    QMenu menu(transcript_);
    QAction* copy = menu.addAction(localized("Copy"));
    copy->setEnabled(transcript_->textCursor().hasSelection());
    QObject::connect(copy, &QAction::triggered, transcript_, &QTextEdit::copy);
    QObject::connect(menu.addAction(localized("Play selection")), &QAction::triggered, &owner,
                     &MeetingDetailController::playSelection);
    QObject::connect(menu.addAction(localized("Correct selection…")), &QAction::triggered, &owner,
                     &MeetingDetailController::correctSelection);
    menu.exec(transcript_->viewport()->mapToGlobal(at));
}

} // namespace nuvel
