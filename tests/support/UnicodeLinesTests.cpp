#include "NuvelKit/support/Unicode.hpp"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using namespace nuvel;

namespace {

std::vector<std::string> pieces(std::string_view text) {
    std::vector<std::string> out;
    for (std::string_view piece : unicode::splitAtNewlines(text))
        out.emplace_back(piece);
    return out;
}

} // namespace

TEST(UnicodeLines, SplitsAtEachOfTheSevenNewlineCharacters) {
    using V = std::vector<std::string>;
    EXPECT_EQ(pieces(""), V{""});
    EXPECT_EQ(pieces("one"), V{"one"});
    // LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
    EXPECT_EQ(pieces("a\nb\vc\fd\re\xC2\x85"
                     "f\xE2\x80\xA8g\xE2\x80\xA9h"),
              (V{"a", "b", "c", "d", "e", "f", "g", "h"}));
    // CR LF is two separators; a trailing newline leaves an empty last piece.
    EXPECT_EQ(pieces("a\r\nb\n"), (V{"a", "", "b", ""}));
    // Not newlines: tab, NBSP, U+001C (information separator), the byte 0x85 outside a sequence.
    EXPECT_EQ(pieces("a\tb\xC2\xA0"
                     "c\x1C"
                     "d"),
              V{"a\tb\xC2\xA0"
                "c\x1C"
                "d"});
    EXPECT_EQ(pieces("a\x85"
                     "b"),
              V{"a\x85"
                "b"});
}

TEST(UnicodeLines, TrimsOnlyTabsAndSpaceSeparators) {
    // Tab, space, NBSP (Zs), ideographic space (Zs), en quad (Zs).
    EXPECT_EQ(unicode::trimSpacesAndTabs("\t \xC2\xA0x y\xE3\x80\x80\xE2\x80\x80"), "x y");
    EXPECT_EQ(unicode::trimSpacesAndTabs(" \t "), "");
    EXPECT_EQ(unicode::trimSpacesAndTabs(""), "");
    // Newlines and zero-width space (Cf) are not trimmed.
    EXPECT_EQ(unicode::trimSpacesAndTabs(" \n "), "\n");
    EXPECT_EQ(unicode::trimSpacesAndTabs("\xE2\x80\x8B"), "\xE2\x80\x8B");
    // Bytes between the blanks are kept even when they are not valid UTF-8.
    EXPECT_EQ(unicode::trimSpacesAndTabs(" \xFF "), "\xFF");
    EXPECT_TRUE(unicode::isSpaceOrTab(U'\u3000'));
    EXPECT_FALSE(unicode::isSpaceOrTab(U'\n'));
    EXPECT_FALSE(unicode::isSpaceOrTab(U'\u2028'));
}

TEST(UnicodeRegex, FirstMatchWithUnicodeDigits) {
    const unicode::Regex stamp(R"(\[(\d+(?::\d{2}){1,2})\])");
    auto m = stamp.firstMatch("see [4:05] and [0:10]");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (std::vector<std::string>{"[4:05]", "4:05"}));
    // \d is any Nd digit: Arabic-Indic digits match.
    m = stamp.firstMatch("\xD9\xA4:\xD9\xA0\xD9\xA5 [\xD9\xA4:\xD9\xA0\xD9\xA5]");
    ASSERT_TRUE(m);
    EXPECT_EQ((*m)[1], "\xD9\xA4:\xD9\xA0\xD9\xA5");
    EXPECT_FALSE(stamp.firstMatch("[4:5] [4] 4:05"));

    const unicode::Regex optional("a(b)?c");
    m = optional.firstMatch("xac");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (std::vector<std::string>{"ac", ""}));

    EXPECT_THROW(unicode::Regex("(unclosed"), std::invalid_argument);
}
