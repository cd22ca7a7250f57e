#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace nuvel;

TEST(Uuid, CanonicalFormsAndParsing) {
    auto u = Uuid::parse("123e4567-E89B-12d3-a456-426614174000");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->uppercase(), "123E4567-E89B-12D3-A456-426614174000");
    EXPECT_EQ(u->lowercase(), "123e4567-e89b-12d3-a456-426614174000");
    EXPECT_EQ(Uuid::parse(u->lowercase()), u);
    for (const char* bad : {"", "123e4567e89b12d3a456426614174000", "123e4567-e89b-12d3-a456-42661417400",
                            "123e4567-e89b-12d3-a456-4266141740000", "123e4567-e89b-12d3-a456_426614174000",
                            "g23e4567-e89b-12d3-a456-426614174000", "{123e4567-e89b-12d3-a456-42661417400}"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;

    Uuid r = Uuid::random();
    EXPECT_NE(r, Uuid::random());
    EXPECT_EQ(r.uppercase()[14], '4');
    EXPECT_NE(std::string("89AB").find(r.uppercase()[19]), std::string::npos);
}

TEST(Dates, ReferenceDateAndIsoForms) {
    EXPECT_EQ(iso8601(Date{0}), "2001-01-01T00:00:00Z");
    EXPECT_EQ(iso8601(Date::fromUnix(1714555800.75)), "2024-05-01T09:30:00Z");
    EXPECT_EQ(iso8601(Date{-0.5}), "2000-12-31T23:59:59Z");
    EXPECT_EQ(isoCalendarDate(Date::fromUnix(1714555800)), "2024-05-01");
    EXPECT_EQ(iso8601(Date{std::numeric_limits<double>::infinity()}), "9999-12-31T23:59:59Z");
    EXPECT_EQ(iso8601(Date{std::nan("")}), "1970-01-01T00:00:00Z");

    EXPECT_EQ(parseIso8601("2024-05-01T09:30:00Z")->unixSeconds(), 1714555800.0);
    EXPECT_EQ(parseIso8601("2024-05-01T11:30:00+02:00")->unixSeconds(), 1714555800.0);
    EXPECT_NEAR(parseIso8601("2024-05-01T09:30:00.250Z")->unixSeconds(), 1714555800.25, 1e-6);
    EXPECT_TRUE(parseIso8601("2024-02-29T00:00:00Z"));
    for (const char* bad :
         {"2023-02-29T00:00:00Z", "2024-05-01 09:30:00Z", "2024-05-01T09:30:00", "2024-13-01T00:00:00Z",
          "2024-05-01T24:00:00Z", "2024-05-01T09:30:00Zjunk", "2024-05-01T09:30:00.Z"})
        EXPECT_FALSE(parseIso8601(bad)) << bad;
}

TEST(Clocks, MonotonicAndTimeZone) {
    double a = hostTimeSeconds(), b = hostTimeSeconds();
    EXPECT_LE(a, b);
    EXPECT_GT(continuousTimeSeconds(), 0);
    EXPECT_FALSE(systemTimeZoneName().empty());
}

TEST(Unicode, NormalisationAndLengths) {
    const std::string decomposed = "e\xCC\x81"; // e + combining acute
    const std::string composed = "\xC3\xA9";    // é
    EXPECT_EQ(unicode::nfc(decomposed), composed);
    EXPECT_TRUE(unicode::canonicallyEqual(decomposed, composed));
    EXPECT_FALSE(unicode::canonicallyEqual("e", composed));

    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"; // 👨‍👩‍👧
    EXPECT_EQ(unicode::graphemeCount(family), 1u);
    EXPECT_EQ(unicode::utf16Length(family), 8u);
    EXPECT_EQ(unicode::graphemeCount(decomposed + "a"), 2u);
    EXPECT_EQ(unicode::graphemePrefix(decomposed + "a" + family, 1), decomposed);
    EXPECT_EQ(unicode::graphemePrefix(decomposed + "a" + family, 3), decomposed + "a" + family);
    EXPECT_EQ(unicode::graphemePrefix("abc", 10), "abc");
    EXPECT_EQ(unicode::graphemeCount(""), 0u);
    EXPECT_EQ(unicode::utf16Length("\xF0\x9F\x98\x80"), 2u);
}

TEST(Unicode, TrimmingAndValidity) {
    // tab, no-break space, ideographic space, line separator, NEL around the text
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines("\t\xC2\xA0\xE3\x80\x80 a b\r\n\xE2\x80\xA8\xC2\x85"),
              "a b");
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines("   "), "");
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines("x"), "x");
    // zero-width space is not white space
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");
    EXPECT_TRUE(unicode::isValidUtf8("h\xC3\xA9"));
    EXPECT_FALSE(unicode::isValidUtf8("\xC3"));
    EXPECT_FALSE(unicode::isValidUtf8("\xED\xA0\x80")); // encoded surrogate
}

TEST(Unicode, NumericOrderingAndFolding) {
    EXPECT_LT(unicode::localizedStandardCompare("Meeting 2", "Meeting 10"), 0);
    EXPECT_GT(unicode::localizedStandardCompare("Meeting 10", "meeting 2"), 0);
    EXPECT_NE(unicode::localizedStandardCompare("a", "A"), 0);
    EXPECT_EQ(unicode::localizedStandardCompare("same", "same"), 0);
    EXPECT_EQ(unicode::foldCaseAndDiacritics("Crème BRÛLÉE"), "creme brulee");
}
