#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <gtest/gtest.h>
#include <regex>

namespace nuvel {
namespace {

using Lines = std::vector<NotepadLine>;

// Hands out the given ids in order, then "nnew1", "nnew2", ...
struct IdSequence {
    std::vector<std::string> queued;
    std::size_t next = 0;
    int counter = 0;
    Notepad::IdMaker maker() {
        return [this] {
            if (next < queued.size())
                return queued[next++];
            return "nnew" + std::to_string(++counter);
        };
    }
};

std::vector<std::string> idsOf(const Lines& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(l.id);
    return out;
}
std::vector<std::string> textsOf(const Lines& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(l.text);
    return out;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(NotepadLine, JsonAlwaysWritesAtAndReadsNullOrMissingAsNone) {
    EXPECT_EQ(json::dump(NotepadLine{"nabc", "hi", std::nullopt}.toJson()),
              R"({"id":"nabc","text":"hi","at":null})");
    EXPECT_EQ(json::dump(NotepadLine{"nabc", "hi", 5}.toJson()), R"({"id":"nabc","text":"hi","at":5})");
    for (const char* text : {R"({"id":"n1","text":"a","at":null})", R"({"id":"n1","text":"a","extra":1})"})
        EXPECT_EQ(NotepadLine::fromJson(json::Reader(json::parse(text))),
                  (NotepadLine{"n1", "a", std::nullopt}));
    EXPECT_EQ(NotepadLine::fromJson(json::Reader(json::parse(R"({"id":"n1","text":"a","at":7.0})"))).at, 7);
    EXPECT_THROW(NotepadLine::fromJson(json::Reader(json::parse(R"({"id":"n1","at":7})"))), json::JsonError);
    EXPECT_THROW(NotepadLine::fromJson(json::Reader(json::parse(R"({"id":"n1","text":"a","at":"7"})"))),
                 json::JsonError);
}

TEST(NotepadIds, GeneratedIdsFitThePattern) {
    const std::regex pattern("^n[a-z0-9]{8}$");
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(std::regex_match(Notepad::makeLineID(), pattern));
    EXPECT_NE(Notepad::makeLineID(), Notepad::makeLineID());
    for (const char* ok : {"nabc", "n0123456789abcde", "n999"})
        EXPECT_TRUE(Notepad::isValidLineID(ok)) << ok;
    for (const char* bad : {"nab", "n0123456789abcdef", "nAbc", "xabc", "n-abc", "", "n", "nab\xC3\xA9"})
        EXPECT_FALSE(Notepad::isValidLineID(bad)) << bad;
}

TEST(NotepadText, JoinsWithLineFeeds) {
    EXPECT_EQ(Notepad::text({}), "");
    EXPECT_EQ(Notepad::text({{"na1", "a", 1}, {"na2", "", std::nullopt}, {"na3", "c", 2}}), "a\n\nc");
}

TEST(NotepadLines, KeepsIdsAndTimesOfUntouchedAndEditedLines) {
    const Lines previous = {{"n001", "one", 100}, {"n002", "two", std::nullopt}, {"n003", "three", 300}};
    IdSequence ids;

    EXPECT_TRUE(Notepad::lines("", previous, 5, ids.maker()).empty());
    EXPECT_TRUE(Notepad::lines("", {}, 5, ids.maker()).empty());

    // Editing the middle line keeps every id; the edited line without a time takes the given one.
    Lines edited = Notepad::lines("one\nTWO\nthree", previous, 900, ids.maker());
    EXPECT_EQ(edited, (Lines{{"n001", "one", 100}, {"n002", "TWO", 900}, {"n003", "three", 300}}));
    // An edited line that had a time keeps it.
    edited = Notepad::lines("ONE\ntwo\nthree", previous, 900, ids.maker());
    EXPECT_EQ(edited[0], (NotepadLine{"n001", "ONE", 100}));

    // Inserted lines get fresh ids and the clamped time, or none when blank or no time is given.
    IdSequence insertIds;
    Lines inserted = Notepad::lines("one\nnew\n  \t\ntwo\nthree", previous, 90'000'000, insertIds.maker());
    EXPECT_EQ(inserted, (Lines{{"n001", "one", 100},
                               {"nnew1", "new", 86'400'000},
                               {"nnew2", "  \t", std::nullopt},
                               {"n002", "two", std::nullopt},
                               {"n003", "three", 300}}));
    EXPECT_EQ(Notepad::lines("zero\none", {}, -5, ids.maker())[0].at, 0);
    EXPECT_EQ(Notepad::lines("zero", {}, std::nullopt, ids.maker())[0].at, std::nullopt);

    // Deleted lines go; carriage returns stay in the text.
    EXPECT_EQ(Notepad::lines("one\r\nthree", previous, 1, ids.maker()),
              (Lines{{"n001", "one\r", 100}, {"n003", "three", 300}}));
}

TEST(NotepadLines, MatchesTheWayTheWalkBreaksTies) {
    // Previous "b","b" and new "a","b": the walk matches the new "b" with the first previous one,
    // so "a" is an inserted line and the second "b" is deleted.
    IdSequence ids;
    const Lines previous = {{"n001", "b", 1}, {"n002", "b", 2}};
    EXPECT_EQ(Notepad::lines("a\nb", previous, 9, ids.maker()), (Lines{{"nnew1", "a", 9}, {"n001", "b", 1}}));
    // Two lines swapped: equally long matches either way; the tie skips the new line, so the
    // moved-up line is the inserted one.
    IdSequence swapIds;
    const Lines swapped = {{"n001", "y", 1}, {"n002", "x", 2}};
    EXPECT_EQ(Notepad::lines("x\ny", swapped, 9, swapIds.maker()),
              (Lines{{"nnew1", "x", 9}, {"n001", "y", 1}}));
    // A run of changed lines pairs up by position with the run it replaced.
    const Lines three = {{"n001", "x", 1}, {"n002", "y", 2}, {"n003", "z", 3}};
    EXPECT_EQ(idsOf(Notepad::lines("x\nY\nZ\nW\nz", three, 9, ids.maker())),
              (std::vector<std::string>{"n001", "n002", "nnew2", "nnew3", "n003"}));
}

// The splitting rule written out plainly, with the full table: the library trims the table, and
// must still give the same lines.
Lines referenceLines(const std::vector<std::string>& texts, const Lines& previous, std::int64_t time,
                     const Notepad::IdMaker& makeId) {
    const std::size_t n = texts.size(), m = previous.size();
    std::vector<std::vector<int>> L(n + 1, std::vector<int>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            L[i][j] = texts[i] == previous[j].text ? L[i + 1][j + 1] + 1 : std::max(L[i + 1][j], L[i][j + 1]);
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0, j = 0; i < n && j < m;) {
        if (texts[i] == previous[j].text)
            pairs.emplace_back(i++, j++);
        else if (L[i + 1][j] >= L[i][j + 1])
            ++i;
        else
            ++j;
    }
    pairs.emplace_back(n, m);
    Lines out;
    std::size_t a = 0, b = 0;
    for (auto [pi, pj] : pairs) {
        for (std::size_t k = 0; a + k < pi; ++k) {
            if (b + k < pj)
                out.push_back(
                    {previous[b + k].id, texts[a + k], previous[b + k].at ? previous[b + k].at : time});
            else
                out.push_back({makeId(), texts[a + k], time});
        }
        if (pi < n)
            out.push_back(previous[pj]);
        a = pi + 1;
        b = pj + 1;
    }
    if (out.size() == 1 && out[0].text.empty())
        return {};
    return out;
}

TEST(NotepadLines, AgreesWithTheFullTable) {
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % bound;
    };
    const std::vector<std::string> words = {"a", "b", "c", "d"};
    for (int round = 0; round < 2000; ++round) {
        Lines previous;
        for (std::uint32_t i = 0, count = next(7); i < count; ++i)
            previous.push_back({"np" + std::to_string(i) + "x", words[next(4)],
                                next(2) ? std::optional<std::int64_t>(i) : std::nullopt});
        std::vector<std::string> texts;
        std::string text;
        for (std::uint32_t i = 0, count = 1 + next(7); i < count; ++i) {
            texts.push_back(words[next(4)] + (next(5) == 0 ? "!" : ""));
            text += (i ? "\n" : "") + texts.back();
        }
        IdSequence mine, theirs;
        ASSERT_EQ(Notepad::lines(text, previous, 77, mine.maker()),
                  referenceLines(texts, previous, 77, theirs.maker()))
            << text;
    }
}

TEST(NotepadLines, RedrawsIdsThatAreAlreadyTaken) {
    const Lines previous = {{"n001", "one", 1}, {"n002", "two", 2}};
    IdSequence ids{{"n001", "n002", "nfresh", "nfresh", "nother"}};
    // The maker first answers ids of existing lines; a collision would merge lines on sync.
    Lines out = Notepad::lines("one\na\nb\ntwo", previous, 5, ids.maker());
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"n001", "nfresh", "nother", "n002"}));
    // Ids of deleted lines are not handed out again either.
    IdSequence again{{"n002"}};
    EXPECT_EQ(idsOf(Notepad::lines("b\none", previous, 5, again.maker())),
              (std::vector<std::string>{"nnew1", "n001"}));
    // A maker stuck on a taken id still ends with a unique, valid id.
    Lines stuck = Notepad::lines("one\nx\ntwo", previous, 5, [] { return std::string("n001"); });
    EXPECT_NE(stuck[1].id, "n001");
    EXPECT_TRUE(Notepad::isValidLineID(stuck[1].id));
}

TEST(NotepadNormalize, CutsTextsAtCharactersAndUnits) {
    Lines out = Notepad::normalize({{"n001", std::string(1200, 'a'), 5}});
    EXPECT_EQ(out[0].text, std::string(1000, 'a'));

    out = Notepad::normalize({{"n001",
                               "a\tb\rc\x01"
                               "d\x7F"
                               "e\nf",
                               5}});
    EXPECT_EQ(out[0].text, "a b c d e f");

    // Canonical composition: "e" + combining acute becomes one precomposed character.
    out = Notepad::normalize({{"n001",
                               "caf"
                               "e\xCC\x81",
                               5}});
    EXPECT_EQ(out[0].text, "caf\xC3\xA9");

    // 1200 clusters of "a" + combining low line (no precomposed form): 2400 units, so the cut is
    // made by units at 500 whole clusters.
    out = Notepad::normalize({{"n001", repeat("a\xCC\xB2", 1200), 5}});
    EXPECT_EQ(out[0].text, repeat("a\xCC\xB2", 500));
    EXPECT_EQ(unicode::graphemeCount(out[0].text), 500u);

    // Emoji outside the basic plane take two units each.
    const std::string face = "\xF0\x9F\x98\x80";
    out = Notepad::normalize({{"n001", repeat(face, 700), 5}});
    EXPECT_EQ(out[0].text, repeat(face, 500));
    // A keycap sequence is one character of three units: 333 fit.
    const std::string keycap = "1\xEF\xB8\x8F\xE2\x83\xA3";
    out = Notepad::normalize({{"n001", repeat(keycap, 400), 5}});
    EXPECT_EQ(out[0].text, repeat(keycap, 333));
}

TEST(NotepadNormalize, LimitsLineCountAndTotalUnits) {
    Lines many;
    for (int i = 0; i < 401; ++i)
        many.push_back({"n" + std::to_string(1000 + i), "x", 0});
    EXPECT_EQ(Notepad::normalize(many).size(), 400u);

    Lines big;
    for (int i = 0; i < 20; ++i)
        big.push_back({"n" + std::to_string(1000 + i), std::string(1000, 'a' + i % 26), 0});
    Lines kept = Notepad::normalize(big);
    ASSERT_EQ(kept.size(), 16u); // the 17th would make 17000 units: it and all after it go
    EXPECT_EQ(kept.back().id, "n1015");

    // The line that overflows stops the list even when a later one would fit.
    Lines mixed(big.begin(), big.begin() + 15);
    mixed.push_back({"n2000", std::string(1001, 'z'), 0}); // cut to 1000: exactly 16000 in all
    mixed.push_back({"n2001", "y", 0});
    mixed.push_back({"n2002", "", 0});
    kept = Notepad::normalize(mixed);
    EXPECT_EQ(idsOf(kept).back(), "n2000");
    EXPECT_EQ(kept.size(), 16u);
}

TEST(NotepadNormalize, ReplacesInvalidAndRepeatedIdsAndClampsTimes) {
    IdSequence ids{{"nlater", "nfirst"}};
    Lines out = Notepad::normalize({{"nAbc", "a", -5},
                                    {"nab", "b", 90'000'000},
                                    {"nok1", "c", std::nullopt},
                                    {"nok1", "d", 86'400'000},
                                    {"nlater", "e", 0}},
                                   ids.maker());
    // "nlater" belongs to the last line, so it is not given to the first.
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"nfirst", "nnew1", "nok1", "nnew2", "nlater"}));
    EXPECT_EQ(out[0].at, 0);
    EXPECT_EQ(out[1].at, 86'400'000);
    EXPECT_EQ(out[2].at, std::nullopt);

    Lines random = Notepad::normalize({{"bad", "x", 1}, {"bad", "y", 2}});
    EXPECT_TRUE(Notepad::isValidLineID(random[0].id));
    EXPECT_NE(random[0].id, random[1].id);
}

TEST(NotepadNormalize, IsIdempotent) {
    Lines messy = {{"X",
                    "  caf"
                    "e\xCC\x81\t",
                    99'999'999},
                   {"nabc", repeat("\xF0\x9F\x98\x80", 600), -1},
                   {"nabc", "dup", 3},
                   {"nxyz", "", std::nullopt}};
    Lines once = Notepad::normalize(messy);
    EXPECT_EQ(Notepad::normalize(once), once);
}

TEST(NotepadMerge, OneSidedEditsAndDeletions) {
    IdSequence ids;
    const Lines base = {{"n001", "a", 1}, {"n002", "b", 2}, {"n003", "c", 3}};

    // Edited only remotely, edited only locally.
    Lines local = {{"n001", "a", 1}, {"n002", "B local", 2}, {"n003", "c", 3}};
    Lines remote = {{"n001", "A remote", std::nullopt}, {"n002", "b", 2}, {"n003", "c", 3}};
    EXPECT_EQ(Notepad::merge(base, local, remote, ids.maker()),
              (Lines{{"n001", "A remote", 1}, {"n002", "B local", 2}, {"n003", "c", 3}}));

    // Deleted remotely and unchanged here: gone. Deleted remotely but edited here: kept after the
    // local line before it.
    local = {{"n001", "a", 1}, {"n002", "b", 2}, {"n003", "C edited", 3}};
    remote = {{"n001", "a", 1}};
    EXPECT_EQ(Notepad::merge(base, local, remote, ids.maker()),
              (Lines{{"n001", "a", 1}, {"n003", "C edited", 3}}));

    // Deleted here and unchanged there: gone; deleted here but changed there: kept.
    local = {{"n003", "c", 3}};
    remote = {{"n001", "a", 1}, {"n002", "b2", 2}, {"n003", "c", 3}};
    EXPECT_EQ(Notepad::merge(base, local, remote, ids.maker()), (Lines{{"n002", "b2", 2}, {"n003", "c", 3}}));
}

TEST(NotepadMerge, ConflictsKeepBothTextsRemoteFirst) {
    IdSequence ids;
    const Lines base = {{"n001", "a", 1}, {"n002", "b", 2}};
    const Lines local = {{"n001", "a", 1}, {"n002", "b here \xF0\x9F\x91\x8D", 5}, {"n009", "after", 6}};
    const Lines remote = {{"n002", "b the\xCC\x81re", std::nullopt}, {"n001", "a", 1}};
    // Remote order wins; the local text follows under a new id; the local-only line follows its
    // local predecessor, which is now the copy.
    EXPECT_EQ(Notepad::merge(base, local, remote, ids.maker()),
              (Lines{{"n002", "b the\xCC\x81re", std::nullopt},
                     {"nnew1", "b here \xF0\x9F\x91\x8D", 5},
                     {"n009", "after", 6},
                     {"n001", "a", 1}}));

    // Texts are compared exactly: composed and decomposed forms differ and conflict.
    const Lines b2 = {{"n001", "caf\xC3\xA9", 1}};
    EXPECT_EQ(textsOf(Notepad::merge(b2, {{"n001", "cafe\xCC\x81", 1}}, {{"n001", "cafe", 1}}, ids.maker())),
              (std::vector<std::string>{"cafe", "cafe\xCC\x81"}));
}

TEST(NotepadMerge, EmptyBaseAndLocalOnlyLines) {
    IdSequence ids;
    const Lines local = {
        {"n010", "new first", 1}, {"n001", "same", 2}, {"n002", "mine", 3}, {"n011", "tail", 4}};
    const Lines remote = {{"n001", "same", 2}, {"n002", "theirs", 3}, {"n020", "remote only", 9}};
    EXPECT_EQ(Notepad::merge({}, local, remote, ids.maker()), (Lines{{"n010", "new first", 1},
                                                                     {"n001", "same", 2},
                                                                     {"n002", "theirs", 3},
                                                                     {"nnew1", "mine", 3},
                                                                     {"n011", "tail", 4},
                                                                     {"n020", "remote only", 9}}));
}

TEST(NotepadMerge, ConflictCopiesNeverReuseAnId) {
    const Lines base = {{"n001", "a", 1}, {"n005", "gone", 1}};
    const Lines local = {{"n001", "mine", 1}, {"n003", "local only", 1}};
    const Lines remote = {{"n001", "theirs", 1}, {"n002", "remote only", 1}};
    IdSequence ids{{"n002", "n003", "n001", "n005", "nfresh"}};
    Lines merged = Notepad::merge(base, local, remote, ids.maker());
    EXPECT_EQ(idsOf(merged), (std::vector<std::string>{"n001", "nfresh", "n003", "n002"}));
}

} // namespace
} // namespace nuvel
