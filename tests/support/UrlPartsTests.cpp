#include "NuvelKit/support/Url.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

TEST(UrlParts, SplitsEveryComponentAsWritten) {
    auto url = Url::parse("HTTPS://Us%20er:p@ss@Example.COM:8443/a/./B%2F?x=1&y#Frag/?");
    EXPECT_FALSE(url) << "two '@' in one authority";

    url = Url::parse("HTTPS://Us%20er:pa:ss@Example.COM:8443/a/./B%2F?x=1&y#Frag/?");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme(), "HTTPS");
    EXPECT_EQ(url->user(), "Us%20er");
    EXPECT_EQ(url->password(), "pa:ss");
    EXPECT_EQ(url->host(), "Example.COM");
    EXPECT_EQ(url->port(), "8443");
    EXPECT_EQ(url->path(), "/a/./B%2F");
    EXPECT_EQ(url->query(), "x=1&y");
    EXPECT_EQ(url->fragment(), "Frag/?");
}

TEST(UrlParts, AbsentDiffersFromEmpty) {
    auto bare = Url::parse("nuvel://auth");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->user());
    EXPECT_FALSE(bare->password());
    EXPECT_FALSE(bare->port());
    EXPECT_FALSE(bare->query());
    EXPECT_FALSE(bare->fragment());
    EXPECT_TRUE(bare->path().empty());
    EXPECT_FALSE(bare->queryItems());

    auto empty = Url::parse("nuvel://@auth:?#");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->user(), "");
    EXPECT_FALSE(empty->password());
    EXPECT_EQ(empty->port(), "");
    EXPECT_EQ(empty->query(), "");
    EXPECT_EQ(empty->fragment(), "");
    EXPECT_EQ(empty->queryItems(), std::vector<QueryItem>{});

    auto noAuthority = Url::parse("mailto:a@example.com");
    ASSERT_TRUE(noAuthority);
    EXPECT_FALSE(noAuthority->host());
    EXPECT_EQ(noAuthority->path(), "a@example.com");
}

TEST(UrlParts, QueryItemsAreSplitAndDecoded) {
    auto url = Url::parse("x://h?a=1&b&c=&=d&e=f=g&%41%62=%2B+%26&&");
    ASSERT_TRUE(url);
    std::vector<QueryItem> expected{{"a", "1"},         {"b", std::nullopt}, {"c", ""},
                                    {"", "d"},          {"e", "f=g"},        {"Ab", "++&"},
                                    {"", std::nullopt}, {"", std::nullopt}};
    EXPECT_EQ(url->queryItems(), expected);
}

TEST(UrlParts, RefusesWhatNoUrlMayHold) {
    for (const char* bad : {
             "nuvel://auth?code=a b",
             "nuvel://au\tth",
             "nuvel://auth?x=\"",
             "nuvel://auth\\x",
             "nuvel://auth?x=%",
             "nuvel://auth?x=%4",
             "nuvel://auth?x=%G0",
             "nuvel://auth#a#b",
             "nuvel://auth:12a",
             "nuvel://[::1",
             "nuvel://[::1]x",
             "nuvel://a[b]",
             "1nuvel://auth",
             ":foo",
             "nu vel://auth",
             "nuvel://auth/\xc3\xa9",
             "nuvel://auth?x={}",
             "nuvel://auth|",
         }) {
        EXPECT_FALSE(Url::parse(bad)) << bad;
    }
    auto literal = Url::parse("http://[::1]:80/");
    ASSERT_TRUE(literal);
    EXPECT_EQ(literal->host(), "[::1]");
    EXPECT_EQ(literal->port(), "80");
}

TEST(UrlParts, PercentCoding) {
    EXPECT_EQ(percentEncode("aZ09-._~ +/=&%\xc3\xa9"), "aZ09-._~%20%2B%2F%3D%26%25%C3%A9");
    EXPECT_EQ(percentDecode("%C3%a9%2b+"), "\xc3\xa9++");
    EXPECT_FALSE(percentDecode("%"));
    EXPECT_FALSE(percentDecode("%1"));
    EXPECT_FALSE(percentDecode("%x1"));
}

} // namespace
} // namespace nuvel
