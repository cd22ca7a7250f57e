#include "tools/standin-service/StandinSample.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <sstream>
#include <vector>

namespace nuvel::standin::sample {

namespace {

struct Line {
    const char* speaker;
    const char* text;
};

// Sentences the notes below point into, by index.
constexpr Line script[] = {
    {"s1", "Thanks for joining, everyone. Let's review the launch plan for the beta."},
    {"s2", "The installer is ready, but the sign-in flow still needs one more test pass."},
    {"s1", "Can you own that test pass and report back by Thursday?"},
    {"s2", "Yes, I will take it and share the results in the team channel."},
    {"s1", "Next, pricing. I propose we keep the free tier at five hours a month."},
    {"s2", "I agree, as long as uploads over the limit show a clear message."},
    {"s1", "Then we have decided: five hours on the free tier."},
    {"s2", "One open question is whether shared links should include audio by default."},
    {"s1", "Let's leave links without audio for now and revisit after feedback."},
    {"s2", "We also talked briefly about the offline cache and how long it lasts."},
    {"s1", "Customers care most about their data staying on their own machine."},
    {"s2", "That's the message for the landing page, then."},
    {"s1", "Great, thanks everyone. That's all for today."},
};
constexpr std::size_t lineCount = sizeof(script) / sizeof(script[0]);

struct ScriptWord {
    std::size_t line;
    std::string text;
};

std::vector<ScriptWord> scriptWords() {
    std::vector<ScriptWord> words;
    for (std::size_t line = 0; line < lineCount; ++line) {
        std::istringstream in(script[line].text);
        std::string word;
        while (in >> word)
            words.push_back({line, word});
    }
    return words;
}

// "m:ss", or "h:mm:ss" from one hour on.
std::string stamp(std::int64_t milliseconds) {
    const std::int64_t total = milliseconds / 1000;
    const std::int64_t h = total / 3600, m = (total / 60) % 60, s = total % 60;
    char buffer[48];
    if (h > 0) {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(h),
                      static_cast<long long>(m), static_cast<long long>(s));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", static_cast<long long>(total / 60),
                      static_cast<long long>(s));
    }
    return buffer;
}

// The first word of a line, when the transcript still holds it.
const Word* firstWordOf(const Transcript& transcript, std::size_t line) {
    const std::vector<ScriptWord> words = scriptWords();
    for (std::size_t i = 0; i < words.size() && i < transcript.words.size(); ++i) {
        if (words[i].line == line)
            return &transcript.words[i];
    }
    return nullptr;
}

json::Ordered item(std::initializer_list<std::pair<const char*, const char*>> members) {
    json::Ordered object = json::Ordered::object();
    for (const auto& [key, value] : members)
        object[key] = value;
    return object;
}

} // namespace

Transcript transcript(double durationSeconds) {
    Transcript result;
    result.speakers = {{"s1", "Maya"}, {"s2", "Jonas"}};
    const double durationMs =
        std::isfinite(durationSeconds) && durationSeconds > 0 ? durationSeconds * 1000.0 : 1.0;
    std::vector<ScriptWord> words = scriptWords();
    const std::size_t fitting = std::max<std::size_t>(1, static_cast<std::size_t>(durationMs / 20.0));
    if (words.size() > fitting)
        words.resize(fitting);
    const double slot = durationMs * 0.95 / static_cast<double>(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        Word word;
        word.id = "w" + std::to_string(i + 1);
        word.text = words[i].text;
        word.startMs = static_cast<std::int64_t>(slot * static_cast<double>(i));
        word.endMs =
            std::max(word.startMs + 1, static_cast<std::int64_t>(slot * (static_cast<double>(i) + 0.8)));
        word.speaker = script[words[i].line].speaker;
        result.words.push_back(std::move(word));
    }
    return result;
}

Notes notes(const Transcript& transcript) {
    auto at = [&](std::size_t line) -> std::int64_t {
        const Word* word = firstWordOf(transcript, line);
        return word != nullptr ? word->startMs : 0;
    };
    const std::string markdown = "The team reviewed the beta launch plan [" + stamp(at(0)) + "].\n" +
                                 "The free tier stays at five hours a month [" + stamp(at(6)) + "].\n" +
                                 "Shared links stay without audio for now [" + stamp(at(8)) + "].";
    json::Ordered output = json::Ordered::object();
    output["markdown"] = markdown;
    output["action_items"] = json::Ordered::array(
        {item({{"task", "Run the final sign-in test pass"}, {"owner", "Jonas"}, {"deadline", "Thursday"}})});
    output["decisions"] = json::Ordered::array(
        {item({{"decision", "Keep the free tier at five hours a month"}, {"decided_by", "Maya"}})});
    output["open_proposals"] = json::Ordered::array(
        {item({{"proposal", "Include audio in shared links by default"}, {"proposed_by", "Jonas"}})});
    output["quotes"] = json::Ordered::array(
        {item({{"quote", "Customers care most about their data staying on their own machine."},
               {"speaker", "Maya"}})});
    json::Ordered discussed = item({{"text", "How long the offline cache lasts"}});
    discussed["timestamp"] = stamp(at(9));
    output["also_discussed"] = json::Ordered::array({discussed});

    json::Ordered entry = json::Ordered::object();
    entry["status"] = "ok";
    entry["output"] = std::move(output);
    Notes result;
    result.notes = json::Ordered::object();
    result.notes["meeting"] = std::move(entry);

    result.evidence = json::Ordered::array();
    const std::pair<const char*, std::size_t> cited[] = {{"/output/action_items/0", 2},
                                                         {"/output/decisions/0", 6},
                                                         {"/output/open_proposals/0", 7},
                                                         {"/output/quotes/0", 10}};
    for (const auto& [path, line] : cited) {
        const Word* word = firstWordOf(transcript, line);
        if (word == nullptr)
            continue;
        json::Ordered record = json::Ordered::object();
        record["template"] = "meeting";
        record["path"] = path;
        record["start_ms"] = word->startMs;
        record["word_id"] = word->id;
        record["source_layer"] = "raw";
        result.evidence.push_back(std::move(record));
    }
    return result;
}

std::string wavTone(double durationSeconds) {
    constexpr std::uint32_t rate = 8000;
    const double seconds = std::isfinite(durationSeconds) ? std::clamp(durationSeconds, 0.1, 600.0) : 1.0;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    const std::uint32_t dataBytes = frames * 2;
    std::string out;
    out.reserve(44 + dataBytes);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&](std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xff));
        out.push_back(static_cast<char>(v >> 8));
    };
    out += "RIFF";
    u32(36 + dataBytes);
    out += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    out += "data";
    u32(dataBytes);
    // 500 Hz repeats every 16 samples at 8 kHz: one period, copied.
    std::string period;
    for (int i = 0; i < 16; ++i) {
        const auto v = static_cast<std::int16_t>(0.1 * 32767.0 * std::sin(2.0 * std::numbers::pi * i / 16.0));
        period.push_back(static_cast<char>(static_cast<std::uint16_t>(v) & 0xff));
        period.push_back(static_cast<char>(static_cast<std::uint16_t>(v) >> 8));
    }
    for (std::uint32_t i = 0; i < frames; i += 16)
        out.append(period, 0, std::min<std::size_t>(32, (frames - i) * 2));
    return out;
}

std::string title(std::size_t n) {
    static const char* const titles[] = {"Beta launch review", "Weekly design sync", "Customer interview",
                                         "Quarterly planning", "Support triage"};
    constexpr std::size_t count = sizeof(titles) / sizeof(titles[0]);
    std::string result = titles[n % count];
    if (n >= count)
        result += " #" + std::to_string(n / count + 1);
    return result;
}

double durationSeconds(std::size_t n) {
    return 45.0 + static_cast<double>((n * 17) % 40);
}

} // namespace nuvel::standin::sample
