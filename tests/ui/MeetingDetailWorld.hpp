#pragma once

// A long, real-looking cloud meeting for the detail screen's interface tests, in English or in
// Arabic, with notes that cite it and a sharing state; and a spy over the screen's closures.

#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "tests/model/MeetingDetailFixtures.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace nuvel::test {

inline const std::vector<std::vector<std::string>>& englishTurns() {
    static const std::vector<std::vector<std::string>> turns = {
        {"Morning", "everyone.", "Let's", "start", "with", "the", "budget", "for", "the", "third",
         "quarter."},
        {"Thanks", "Ada.", "We", "came", "in", "four", "percent", "under", "plan,", "mostly", "on",
         "travel."},
        {"Good.", "Can", "we", "move", "that", "into", "the", "hiring", "line", "before", "May?"},
        {"I", "think", "so,", "but", "finance", "wants", "the", "résumé", "review", "done", "first."},
        {"Then", "let's", "agree:", "Ben", "sends", "the", "revised", "numbers", "by", "Friday."},
        {"One", "risk:", "the", "vendor", "contract", "renews", "in", "June", "at", "a", "higher", "rate."},
    };
    return turns;
}

inline const std::vector<std::vector<std::string>>& arabicTurns() {
    static const std::vector<std::vector<std::string>> turns = {
        {"صباح", "الخير", "جميعاً.", "لنبدأ", "بميزانية", "الربع", "الثالث."},
        {"شكراً", "يا", "عائشة.", "أنفقنا", "أقل", "من", "الخطة", "بأربعة", "بالمئة."},
        {"ممتاز.", "هل", "يمكن", "نقل", "المبلغ", "إلى", "بند", "التوظيف", "قبل", "مايو؟"},
        {"أظن", "ذلك،", "لكن", "المالية", "تريد", "مراجعة", "السير", "الذاتية", "أولاً."},
        {"إذن", "نتفق:", "يرسل", "بلال", "الأرقام", "المعدلة", "يوم", "الجمعة."},
        {"هناك", "خطر:", "عقد", "المورد", "يتجدد", "في", "يونيو", "بسعر", "أعلى."},
    };
    return turns;
}

// `turnCount` turns of three speakers (the third without a name), every 40th word corrected.
inline NativeMeetingDocument longMeeting(bool arabic, int turnCount = 120) {
    const auto& turns = arabic ? arabicTurns() : englishTurns();
    std::vector<MeetingWord> words;
    MeetingJSON::Array corrections;
    std::int64_t at = 4000;
    for (int t = 0; t < turnCount; ++t) {
        const std::string speaker = "S" + std::to_string(1 + t % 3);
        for (const auto& text : turns[std::size_t(t) % turns.size()]) {
            const std::string id = "w" + std::to_string(words.size());
            words.push_back(word(id, text, at, at + 380, speaker));
            if (words.size() % 40 == 0)
                corrections.push_back(MeetingJSON::object(
                    {{"id", MeetingJSON::string(id)}, {"from", MeetingJSON::string(text + "s")}}));
            at += 430;
        }
        at += 1200;
    }
    NativeMeetingDocument document = meetingOf(std::move(words));
    document.transcript.transcript.speakers =
        arabic ? std::map<std::string, MeetingSpeaker>{{"S1", MeetingSpeaker{"عائشة"}},
                                                       {"S2", MeetingSpeaker{"بلال"}}}
               : std::map<std::string, MeetingSpeaker>{{"S1", MeetingSpeaker{"Ada"}},
                                                       {"S2", MeetingSpeaker{"Ben"}}};
    document.transcript.corrections = MeetingJSON::array(std::move(corrections));
    document.transcript.duration_ms = at;
    document.summary.title = arabic ? "مراجعة ميزانية الربع الثالث" : "Q3 budget review";
    document.summary.duration = double(at) / 1000;
    const std::string summary =
        arabic ? "أنفق الفريق أقل من الخطة [0:09] ويقترح نقل المبلغ إلى التوظيف."
               : "The team came in under plan [0:09] and wants to move the money to hiring.";
    const std::string task = arabic ? "يرسل بلال الأرقام المعدلة" : "Ben sends the revised numbers by Friday";
    const std::string risk =
        arabic ? "عقد المورد يتجدد بسعر أعلى" : "The vendor contract renews at a higher rate";
    document.notes =
        notesDocument(R"({"meeting": {"status": "ready", "output": {"markdown": ")" + summary +
                          R"(", "action_items": [{"task": ")" + task +
                          R"(", "timestamp": "0:25"}], "decisions": [{"decision": ")" + risk + R"("}]}}})",
                      R"([{"template": "meeting", "path": "/output/decisions/0", "start_ms": 0,
                                        "word_id": "w60", "source_layer": "corrected"}])",
                      "null", true, "corrected", true);
    return document;
}

inline MeetingSharingDocument sharingOf(bool withEntries) {
    return MeetingSharingDocument::decode(
        withEntries
            ? R"({"can": {}, "workspace_id": "ws", "plan_required": false,
                         "shares": [{"id": "s1", "kind": "guest", "email": "guest@example.com", "permission": "viewer"},
                                    {"id": "s2", "kind": "member"}],
                         "links": [{"id": "l1", "expires_at": "2030-05-01", "include_audio": true}, {"id": "l2"}]})"
            : R"({"can": {}, "workspace_id": "ws", "plan_required": false, "shares": [], "links": []})");
}

// Records every call of the screen's closures as one line of text.
struct DetailSpy {
    std::vector<std::string> calls;

    void wire(MeetingDetailController& c) {
        c.onPlay = [this](std::int64_t ms) { calls.push_back("play " + std::to_string(ms)); };
        c.onTogglePlayback = [this] { calls.push_back("toggle"); };
        c.onSeek = [this](std::int64_t ms) { calls.push_back("seek " + std::to_string(ms)); };
        c.onSpeed = [this](float rate) { calls.push_back("speed " + std::to_string(rate)); };
        c.onCorrection = [this](const MeetingCorrection& correction, const std::string& revision) {
            std::string text;
            if (const auto* w = std::get_if<MeetingCorrection::Word>(&correction.value))
                text = "word " + w->id + "=" + w->text;
            else if (const auto* s = std::get_if<MeetingCorrection::RenameSpeaker>(&correction.value))
                text = "speaker " + s->id + "=" + s->name;
            else {
                const auto& a = std::get<MeetingCorrection::AssignSpeaker>(correction.value);
                text = "assign " + a.speakerID + ":";
                for (const auto& id : a.wordIDs)
                    text += " " + id;
            }
            calls.push_back("correct " + text + " @" + revision);
        };
        c.onExport = [this](const std::string& f, const std::string& v) {
            calls.push_back("export " + f + " " + v);
        };
        c.onCreateShare = [this](const MeetingShareRequest& r) {
            calls.push_back("share " + r.kind + " " + r.email.value_or("-") + " " +
                            r.permission.value_or("-"));
        };
        c.onRevokeShare = [this](const std::string& id) { calls.push_back("revoke share " + id); };
        c.onRefresh = [this] { calls.push_back("refresh"); };
        c.onReloadCorrection = [this] { calls.push_back("reload"); };
        c.onRename = [this](const std::string& title) { calls.push_back("rename " + title); };
        c.onCreateLink = [this](int days, bool audio) {
            calls.push_back("link " + std::to_string(days) + (audio ? " audio" : " no audio"));
        };
        c.onRevokeLink = [this](const std::string& id) { calls.push_back("revoke link " + id); };
        c.onDelete = [this] { calls.push_back("delete"); };
    }
    std::vector<std::string> take() { return std::exchange(calls, {}); }
};

} // namespace nuvel::test
