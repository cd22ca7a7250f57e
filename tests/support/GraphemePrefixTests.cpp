#include "NuvelKit/support/Unicode.hpp"

#include <gtest/gtest.h>

namespace nuvel::unicode {
namespace {

TEST(GraphemePrefixWithUnitLimit, StopsAtWhicheverLimitComesFirst) {
    EXPECT_EQ(graphemePrefix("abcdef", 3, 100), "abc");
    EXPECT_EQ(graphemePrefix("abcdef", 100, 4), "abcd");
    EXPECT_EQ(graphemePrefix("abc", 10, 10), "abc");
    EXPECT_EQ(graphemePrefix("abc", 0, 10), "");
    EXPECT_EQ(graphemePrefix("", 5, 5), "");
}

TEST(GraphemePrefixWithUnitLimit, NeverSplitsACluster) {
    const std::string face = "\xF0\x9F\x98\x80";                               // U+1F600: two UTF-16 units
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9"; // man ZWJ woman: five units
    EXPECT_EQ(graphemePrefix(face + face + face, 10, 5), face + face);
    EXPECT_EQ(graphemePrefix("a" + family + "b", 10, 5), "a");
    EXPECT_EQ(graphemePrefix("a" + family + "b", 10, 6), "a" + family);
    // "e" + combining acute is one cluster of two units.
    EXPECT_EQ(graphemePrefix("xe\xCC\x81y", 10, 2), "x");
    EXPECT_EQ(graphemePrefix("xe\xCC\x81y", 2, 10), "xe\xCC\x81");
}

} // namespace
} // namespace nuvel::unicode
