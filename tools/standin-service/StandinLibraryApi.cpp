// The meeting library: pages, search, reconciliation, rename, delete, transcripts, notes and
// transcript corrections.
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "tools/standin-service/StandinBackend.hpp"
#include "tools/standin-service/StandinSample.hpp"

#include <algorithm>

namespace nuvel::standin {

namespace {

// Cursors are standard base64 and always hold "+" and "/", so a client that does not encode its
// query values loses them.
const Bytes cursorPrefix = {0xfb, 0xef, 0xff};

std::string makeCursor(const std::string& workspaceId, std::size_t offset) {
    Bytes bytes = cursorPrefix;
    const std::string text = workspaceId + "|" + std::to_string(offset);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return base64Encode(bytes);
}

std::size_t readCursor(const std::string& cursor, const std::string& workspaceId) {
    const std::optional<Bytes> bytes = base64Decode(cursor);
    const std::string expected = workspaceId + "|";
    if (!bytes || bytes->size() <= cursorPrefix.size() + expected.size() ||
        !std::equal(cursorPrefix.begin(), cursorPrefix.end(), bytes->begin())) {
        fail(400, "invalid_cursor", "unknown cursor");
    }
    const std::string text(bytes->begin() + static_cast<std::ptrdiff_t>(cursorPrefix.size()), bytes->end());
    const std::string digits = text.substr(expected.size());
    if (text.compare(0, expected.size(), expected) != 0 || digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        fail(400, "invalid_cursor", "the cursor belongs to another listing");
    }
    return static_cast<std::size_t>(std::stoul(digits));
}

struct Piece {
    std::string text;
    bool hit;
};

// The words of a passage as snippet pieces, marking the words that the first match of the folded
// query touches; nullopt when the passage does not match.
std::optional<std::vector<Piece>> snippet(const std::vector<std::string>& words,
                                          const std::string& foldedQuery) {
    std::string folded;
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const std::string& word : words) {
        if (!folded.empty())
            folded += ' ';
        const std::size_t start = folded.size();
        folded += unicode::foldCaseAndDiacritics(word);
        spans.emplace_back(start, folded.size());
    }
    const std::size_t at = folded.find(foldedQuery);
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t end = at + foldedQuery.size();
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const bool hit = spans[i].first < end && at < spans[i].second;
        if (i == 0) {
            pieces.push_back({words[i], hit});
        } else if (hit == pieces.back().hit) {
            pieces.back().text += " " + words[i];
        } else if (hit) {
            pieces.back().text += " ";
            pieces.push_back({words[i], true});
        } else {
            pieces.push_back({" " + words[i], false});
        }
    }
    return pieces;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t space = text.find(' ', start);
        const std::string word =
            text.substr(start, space == std::string::npos ? std::string::npos : space - start);
        if (!word.empty())
            words.push_back(word);
        if (space == std::string::npos)
            break;
        start = space + 1;
    }
    return words;
}

json::Ordered transcriptJson(const Transcript& transcript) {
    json::Ordered words = json::Ordered::array();
    for (const Word& w : transcript.words) {
        words.push_back({{"id", w.id},
                         {"text", w.text},
                         {"start_ms", w.startMs},
                         {"end_ms", w.endMs},
                         {"speaker", w.speaker}});
    }
    json::Ordered speakers = json::Ordered::object();
    for (const auto& [id, label] : transcript.speakers)
        speakers[id] = {{"label", label}};
    return json::Ordered{{"version", 1}, {"words", words}, {"speakers", speakers}};
}

Word* findWord(Transcript& transcript, const std::string& id) {
    for (Word& w : transcript.words) {
        if (w.id == id)
            return &w;
    }
    return nullptr;
}

std::string requiredField(const std::optional<std::string>& value, const char* name) {
    if (!value || unicode::trimWhitespaceAndNewlines(*value).empty()) {
        fail(422, "invalid_operation", std::string("the operation needs a non-empty ") + name);
    }
    return *value;
}

} // namespace

Reply Backend::libraryPage(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const std::optional<std::string> workspaceId = request.param("workspace_id");
    if (!workspaceId)
        fail(400, "invalid_request", "workspace_id is required");
    if (workspaceOf(account, *workspaceId) == nullptr)
        fail(403, "workspace_forbidden", "the account has no such workspace");
    std::size_t limit = 50;
    if (const std::optional<std::string> text = request.param("limit")) {
        const bool digits =
            !text->empty() && text->size() <= 3 &&
            std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; });
        limit = digits ? static_cast<std::size_t>(std::stoul(*text)) : 0;
        if (limit < 1 || limit > 100)
            fail(400, "invalid_request", "limit must be 1 to 100");
    }
    const std::optional<std::string> cursor = request.param("cursor");
    const std::size_t offset = cursor ? readCursor(*cursor, *workspaceId) : 0;

    std::vector<const Meeting*> listed;
    for (const std::string& id : meetingIds()) {
        const Meeting& m = meetings_.at(id);
        if (m.workspaceId == *workspaceId && m.committed())
            listed.push_back(&m);
    }
    json::Ordered meetings = json::Ordered::array();
    for (std::size_t i = offset; i < listed.size() && i < offset + limit; ++i)
        meetings.push_back(meetingJson(account, *listed[i], now));
    json::Ordered out = json::Ordered::object();
    out["contract_version"] = 1;
    out["meetings"] = std::move(meetings);
    if (offset + limit < listed.size())
        out["next_cursor"] = makeCursor(*workspaceId, offset + limit);
    out["as_of"] = isoTime(now);
    json::putOptional(out, "offline_access_seconds", account.limits.offlineAccessSeconds);
    return jsonReply(200, out);
}

Reply Backend::search(const Request& request) {
    const StandinAccount& account = authenticate(request);
    const std::optional<std::string> query = request.param("q");
    if (!query)
        fail(400, "invalid_request", "q is required");
    if (unicode::graphemeCount(*query) > 200)
        fail(400, "query_too_long", "a query holds at most 200 characters");
    const std::optional<std::string> workspaceId = request.param("workspace_id");
    if (workspaceId && workspaceOf(account, *workspaceId) == nullptr) {
        fail(403, "workspace_forbidden", "the account has no such workspace");
    }
    const std::string folded = unicode::foldCaseAndDiacritics(unicode::trimWhitespaceAndNewlines(*query));

    json::Ordered hits = json::Ordered::array();
    std::size_t matches = 0;
    auto addHit = [&](const Meeting& m, std::int64_t passage, const char* kind, std::int64_t atMs,
                      const std::vector<Piece>& pieces) {
        if (++matches > options_.searchResultLimit)
            return;
        json::Ordered snippetJson = json::Ordered::array();
        for (const Piece& p : pieces)
            snippetJson.push_back({{"text", p.text}, {"hit", p.hit}});
        hits.push_back({{"passage", passage},
                        {"meeting_id", m.id},
                        {"title", m.title},
                        {"layer", "corrected"},
                        {"kind", kind},
                        {"at_ms", atMs},
                        {"snippet", snippetJson}});
    };
    for (const std::string& id : folded.empty() ? std::vector<std::string>{} : meetingIds()) {
        const Meeting& m = meetings_.at(id);
        if (!m.committed() ||
            (workspaceId ? m.workspaceId != *workspaceId : workspaceOf(account, m.workspaceId) == nullptr)) {
            continue;
        }
        // Passage 0 is the title; the speaker turns of the corrected transcript count from 1.
        if (auto pieces = snippet(splitWords(m.title), folded))
            addHit(m, 0, "title", 0, *pieces);
        std::int64_t passage = 0;
        const std::vector<Word>& words = m.corrected.words;
        for (std::size_t start = 0; start < words.size();) {
            std::size_t end = start;
            std::vector<std::string> texts;
            while (end < words.size() && words[end].speaker == words[start].speaker)
                texts.push_back(words[end++].text);
            ++passage;
            if (auto pieces = snippet(texts, folded))
                addHit(m, passage, "transcript", words[start].startMs, *pieces);
            start = end;
        }
    }
    return jsonReply(200, json::Ordered{{"query", *query},
                                        {"results", hits},
                                        {"truncated", matches > options_.searchResultLimit}});
}

Reply Backend::reconcile(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const std::optional<std::string> ids = request.param("ids");
    if (!ids)
        fail(400, "invalid_request", "ids is required");
    std::vector<std::string> asked;
    if (!ids->empty()) {
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = ids->find(',', start);
            asked.push_back(
                ids->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (asked.size() > 100)
        fail(400, "too_many_ids", "at most 100 ids per request");
    // The device checks every id before it joins them: an empty one between commas is a slip.
    if (std::any_of(asked.begin(), asked.end(), [](const std::string& id) { return id.empty(); })) {
        fail(400, "invalid_ids", "ids holds an empty id");
    }
    json::Ordered meetings = json::Ordered::array();
    json::Ordered removed = json::Ordered::array();
    for (const std::string& id : asked) {
        const Meeting* m = findMeeting(id);
        const bool visible =
            m != nullptr && m->committed() &&
            (m->ownerAccountId == account.id || workspaceOf(account, m->workspaceId) != nullptr);
        if (visible) {
            meetings.push_back(meetingJson(account, *m, now));
        } else {
            removed.push_back(id);
        }
    }
    return jsonReply(200, json::Ordered{{"meetings", meetings}, {"removed_ids", removed}});
}

Reply Backend::rename(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "edit", now))
        fail(403, "forbidden", "you may not edit this meeting");
    const json::Value body = jsonBody(request, {"title"});
    const std::string title = unicode::trimWhitespaceAndNewlines(json::Reader(body).string("title"));
    if (title.empty() || unicode::graphemeCount(title) > 200)
        fail(422, "invalid_title", "a title holds 1 to 200 characters");
    m.title = title;
    m.titleAuto = false;
    m.updatedAt = unixSeconds(now);
    return jsonReply(200, meetingJson(account, m, now));
}

Reply Backend::deleteMeeting(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "delete", now))
        fail(403, "forbidden", "you may not delete this meeting");
    m.deleted = true;
    m.audio.clear();
    m.parts.clear();
    return emptyReply(204);
}

Reply Backend::transcript(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const Meeting& m = visibleMeeting(account, request.segments[2]);
    const std::string layer = request.param("layer").value_or("");
    if (layer != "raw" && layer != "corrected")
        fail(400, "invalid_layer", "layer must be raw or corrected");
    const bool corrected = layer == "corrected";
    json::Ordered out = json::Ordered::object();
    out["contract_version"] = 1;
    out["layer"] = layer;
    out["revision"] = corrected ? m.revision : 1;
    out["original_revision"] = 1;
    out["duration_ms"] = static_cast<std::int64_t>(m.durationSeconds * 1000.0);
    out["transcript"] = transcriptJson(corrected ? m.corrected : m.raw);
    if (corrected) {
        json::Ordered corrections = json::Ordered::array();
        for (std::size_t i = 0; i < m.corrected.words.size() && i < m.raw.words.size(); ++i) {
            if (m.corrected.words[i].text != m.raw.words[i].text) {
                corrections.push_back({{"id", m.raw.words[i].id},
                                       {"from", m.raw.words[i].text},
                                       {"to", m.corrected.words[i].text}});
            }
        }
        out["corrections"] = std::move(corrections);
    }
    out["access"] = accessJson(accessFor(account, m, now));
    return jsonReply(200, out);
}

Reply Backend::notes(const Request& request, Time) {
    const StandinAccount& account = authenticate(request);
    const Meeting& m = visibleMeeting(account, request.segments[2]);
    json::Ordered out = json::Ordered::object();
    out["ai_notes"] = m.aiNotes;
    const char* state = !m.aiNotes            ? "disabled"
                        : m.contentReady      ? "completed"
                        : m.state == "failed" ? "failed"
                                              : "pending";
    out["run"] = {{"state", state}};
    if (m.aiNotes && m.contentReady) {
        sample::Notes made = sample::notes(m.raw);
        out["notes"] = std::move(made.notes);
        out["type_template"] = "meeting";
        out["provenance"] = {{"source_layer", "raw"},
                             {"source_revision", 1},
                             {"corrected_revision", m.revision},
                             {"stale_text", m.revision > 1}};
        out["evidence"] = std::move(made.evidence);
    } else {
        out["provenance"] = {{"source_layer", "raw"},
                             {"source_revision", 1},
                             {"corrected_revision", m.revision},
                             {"stale_text", false}};
    }
    return jsonReply(200, out);
}

Reply Backend::revise(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "edit", now))
        fail(403, "forbidden", "you may not edit this meeting");
    const json::Value body = jsonBody(request, {"operation_id", "revision", "operations"});
    const json::Reader r(body);
    const std::string operationId = r.string("operation_id");
    const std::int64_t revision = r.int64("revision");
    struct Operation {
        std::string type;
        std::optional<std::string> wordId, speakerId, text, label;
    };
    const std::vector<Operation> operations =
        r.objectList<Operation>("operations", [](const json::Reader& o) {
            return Operation{o.string("type"), o.optString("word_id"), o.optString("speaker_id"),
                             o.optString("text"), o.optString("label")};
        });
    // Each kind of operation carries exactly its own members.
    for (const json::Value& op : body.at("operations")) {
        const std::string type = op.at("type").get<std::string>();
        if (type == "word_text")
            requireMembers(op, {"type", "word_id", "text"}, "a word_text operation");
        if (type == "speaker_label")
            requireMembers(op, {"type", "speaker_id", "label"}, "a speaker_label operation");
        if (type == "word_speaker")
            requireMembers(op, {"type", "word_id", "speaker_id"}, "a word_speaker operation");
    }
    if (operationId.empty() || operationId.size() > 64)
        fail(400, "invalid_request", "operation_id holds 1 to 64 characters");
    if (auto it = m.appliedOperations.find(operationId); it != m.appliedOperations.end()) {
        return jsonReply(
            200, json::Ordered{{"revision", it->second}, {"operation_id", operationId}, {"replayed", true}});
    }
    if (!m.contentReady)
        fail(409, "not_ready", "the transcript is still being made");
    if (revision != m.revision) {
        throw ApiFailure(409, "revision_conflict", "the transcript changed since that revision",
                         json::Ordered{{"detail", {{"revision", m.revision}}}});
    }
    if (operations.empty() || operations.size() > 1000)
        fail(422, "invalid_operation", "a correction holds 1 to 1000 operations");
    Transcript next = m.corrected;
    for (const Operation& op : operations) {
        if (op.type == "word_text") {
            Word* word = findWord(next, requiredField(op.wordId, "word_id"));
            if (word == nullptr)
                fail(422, "unknown_word", "no such word");
            word->text = requiredField(op.text, "text");
        } else if (op.type == "speaker_label") {
            auto speaker = next.speakers.find(requiredField(op.speakerId, "speaker_id"));
            if (speaker == next.speakers.end())
                fail(422, "unknown_speaker", "no such speaker");
            speaker->second = requiredField(op.label, "label");
        } else if (op.type == "word_speaker") {
            Word* word = findWord(next, requiredField(op.wordId, "word_id"));
            if (word == nullptr)
                fail(422, "unknown_word", "no such word");
            const std::string speaker = requiredField(op.speakerId, "speaker_id");
            if (next.speakers.count(speaker) == 0)
                fail(422, "unknown_speaker", "no such speaker");
            word->speaker = speaker;
        } else {
            fail(422, "invalid_operation", "unknown operation type");
        }
    }
    m.corrected = std::move(next);
    m.revision += 1;
    m.appliedOperations[operationId] = m.revision;
    m.updatedAt = unixSeconds(now);
    return jsonReply(
        200, json::Ordered{{"revision", m.revision}, {"operation_id", operationId}, {"replayed", false}});
}

} // namespace nuvel::standin
