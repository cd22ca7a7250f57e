#include "NuvelKit/support/Json.hpp"

#include <gtest/gtest.h>

namespace nuvel::json {
namespace {

struct Point {
    std::int64_t x;
    static Point fromJson(const Reader& r) { return Point{r.int64("x")}; }
};

TEST(JsonObjectList, DecodesEachObjectWithItsPath) {
    Value doc = parse(R"({"points":[{"x":1},{"x":2.0}],"none":null})");
    Reader r(doc);
    auto points = r.objectList<Point>("points", &Point::fromJson);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].x, 2);
    EXPECT_FALSE(r.optObjectList<Point>("none", &Point::fromJson));
    EXPECT_FALSE(r.optObjectList<Point>("absent", &Point::fromJson));

    Value bad = parse(R"({"points":[{"x":1},3]})");
    try {
        Reader(bad).objectList<Point>("points", &Point::fromJson);
        FAIL() << "a number is not an object";
    } catch (const JsonError& e) {
        EXPECT_EQ(e.code(), JsonError::Code::wrongType);
        EXPECT_EQ(e.path(), "$.points[1]");
    }
    Value missing = parse(R"({"points":[{"y":1}]})");
    try {
        Reader(missing).objectList<Point>("points", &Point::fromJson);
        FAIL() << "x is required";
    } catch (const JsonError& e) {
        EXPECT_EQ(e.code(), JsonError::Code::missingKey);
        EXPECT_EQ(e.path(), "$.points[0].x");
    }
}

} // namespace
} // namespace nuvel::json
