// The UTF-16 helpers behind find in text views, the all-matches regex search and date formatting.
#include "NuvelKit/support/DateFormat.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace nuvel::unicode {
namespace {

using Boundaries = std::vector<std::size_t>;

TEST(GraphemeBoundaries, ClustersOfMixedScripts) {
    const struct {
        std::u16string text;
        Boundaries expected;
    } cases[] = {
        {u"", {0}},
        {u"ab", {0, 1, 2}},
        {u"a\r\nb\n\r", {0, 1, 3, 4, 5, 6}},                      // CR LF is one cluster, LF CR two
        {u"xe\u0301y", {0, 1, 3, 4}},                             // a mark after ASCII joins it
        {u"\u0645\u0640\u0645\u0651\u062F", {0, 1, 2, 4, 5}},     // tatweel stands alone, shadda joins
        {u"\U0001F600a", {0, 2, 3}},                              // a surrogate pair
        {u"\U0001F468\u200D\U0001F469!", {0, 5, 6}},              // a ZWJ sequence
        {u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", {0, 4, 8}}, // two flags
        {u"a\u0308\u0301", {0, 3}},
        {u"\u1100\u1161\u11A8k", {0, 3, 4}}, // a Hangul syllable in jamo
    };
    for (const auto& c : cases)
        EXPECT_EQ(graphemeBoundaries(c.text), c.expected) << fromUtf16(c.text);
}

// The ASCII shortcut must cut exactly where the rules do: compare with the whole-text ICU path
// on random mixtures of ASCII, controls, marks and other scripts.
TEST(GraphemeBoundaries, AgreeWithTheRulesOnRandomText) {
    const std::u16string pieces[] = {u"a",      u"Z",      u" ",      u"\r",     u"\n",         u"\u0301",
                                     u"\u0651", u"\u0640", u"\u0645", u"\u200D", u"\U0001F600", u"\U0001F1E9",
                                     u"\u093F", u"\u0915", u"\u1100", u"\u1161", u"\uFE0F",     u"\u00E9"};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        const int length = int(random() % 24);
        for (int i = 0; i < length; ++i)
            text += pieces[random() % std::size(pieces)];
        const std::string utf8 = fromUtf16(text);
        const Boundaries boundaries = graphemeBoundaries(text);
        ASSERT_EQ(boundaries.size(), graphemeCount(utf8) + 1) << utf8;
        for (std::size_t k = 0; k < boundaries.size(); ++k)
            EXPECT_EQ(boundaries[k], utf16Length(graphemePrefix(utf8, k))) << utf8 << " cluster " << k;
    }
}

TEST(Utf16Forms, RoundTripAndRepairs) {
    EXPECT_EQ(toUtf16("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00E9\U0001F600");
    EXPECT_EQ(fromUtf16(u"a\u00E9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(toUtf16("a\xFF"
                      "b"),
              u"a\uFFFDb");
    const std::u16string loneHigh{u'x', char16_t(0xD83D)}, loneLow{char16_t(0xDE00), u'y'};
    EXPECT_EQ(fromUtf16(loneHigh), "x\xEF\xBF\xBD");
    EXPECT_EQ(fromUtf16(loneLow), "\xEF\xBF\xBDy");
}

TEST(Utf16Folding, MatchesTheUtf8FoldingAndKnowsMarks) {
    for (const char* text : {"Caf\xC3\xA9", "\xC3\x85NGSTR\xC3\x96M",
                             "Stra\xC3\x9F"
                             "e",
                             "\xD9\x85\xD9\x91\xD9\x8E", "\xE1\xBA\xA0\xCC\x81"})
        EXPECT_EQ(fromUtf16(foldCaseAndDiacritics(toUtf16(text))),
                  foldCaseAndDiacritics(std::string_view(text)))
            << text;
    EXPECT_EQ(foldCaseAndDiacritics(std::u16string_view(u"\u00C9T\u00C9")), u"ete");
    for (char32_t mark : {U'\u0301', U'\u0651', U'\u0903', U'\u20DD'})
        EXPECT_TRUE(isMark(mark)) << unsigned(mark);
    for (char32_t other : {U'a', U'\u0640', U'\u0645', U'\u200D', U'1'})
        EXPECT_FALSE(isMark(other)) << unsigned(other);
}

TEST(RegexAllMatches, ByteRangesOfEveryMatchAndGroup) {
    const Regex pattern(R"(\[(\d+)(x)?\])");
    // "é" takes two bytes, the Arabic-Indic digit two as well: ranges count bytes.
    const std::string text = "\xC3\xA9[12] [3x][\xD9\xA4]";
    const auto matches = pattern.allMatches(text);
    ASSERT_EQ(matches.size(), 3u);
    using Range = std::optional<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(matches[0], (Regex::Groups{Range({2, 6}), Range({3, 5}), std::nullopt}));
    EXPECT_EQ(matches[1], (Regex::Groups{Range({7, 11}), Range({8, 9}), Range({9, 10})}));
    EXPECT_EQ(matches[2], (Regex::Groups{Range({11, 15}), Range({12, 14}), std::nullopt}));
    EXPECT_TRUE(pattern.allMatches("none here").empty());
    EXPECT_EQ(Regex("a").allMatches("aaa").size(), 3u);
}

TEST(DateFormat, StylesLocalesZonesAndLimits) {
    const double moment = 1736089440; // 2025-01-05 15:04 UTC
    EXPECT_EQ(formatDateTime(moment, DateStyle::medium, DateStyle::short_, "en_US", "UTC"),
              "Jan 5, 2025, 3:04\u202FPM");
    EXPECT_EQ(formatDateTime(moment, DateStyle::long_, DateStyle::short_, "de_DE", "Europe/Berlin"),
              "5. Januar 2025 um 16:04");
    EXPECT_EQ(formatDateTime(moment, DateStyle::medium, DateStyle::none, "en_US", "UTC"), "Jan 5, 2025");
    EXPECT_EQ(formatDateTime(1e300, DateStyle::medium, DateStyle::none, "en_US", "UTC"), "Dec 31, 9999");
    EXPECT_EQ(formatDateTime(std::nan(""), DateStyle::medium, DateStyle::none, "en_US", "UTC"),
              "Jan 1, 1970");
    EXPECT_FALSE(formatDateTime(moment, DateStyle::medium, DateStyle::short_).empty());
}

} // namespace
} // namespace nuvel::unicode
