#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/JsonReference.hpp"

#include <cmath>
#include <deque>
#include <gtest/gtest.h>
#include <limits>
#include <optional>

using namespace nuvel;
using json::JsonError;

namespace {

JsonError::Code failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const JsonError& e) {
        return e.code();
    }
    ADD_FAILURE() << "no JsonError thrown";
    return JsonError::Code::invalidValue;
}

json::Reader reader(const char* text) {
    static std::deque<json::Value> keep; // the reader refers to the parsed value
    keep.push_back(json::parse(text));
    return json::Reader(keep.back());
}

} // namespace

TEST(JsonParse, RejectsSyntaxDepthAndOverflow) {
    EXPECT_EQ(failure([] { json::parse("{"); }), JsonError::Code::syntax);
    EXPECT_EQ(failure([] { json::parse("{\"a\":1} x"); }), JsonError::Code::syntax);
    EXPECT_EQ(failure([] { json::parse("NaN"); }), JsonError::Code::syntax);
    EXPECT_EQ(failure([] { json::parse(std::string(600, '[') + std::string(600, ']')); }),
              JsonError::Code::syntax);
    EXPECT_NO_THROW(json::parse(std::string(500, '[') + std::string(500, ']')));
    for (const char* overflow : {"1e400", "[1,{\"a\":-1e999}]", "{\"a\":[[[1.8e308]]]}"})
        EXPECT_EQ(failure([&] { json::parse(overflow); }), JsonError::Code::nonFinite) << overflow;
    EXPECT_EQ(json::parse("{\"a\":1e-400}")["a"].get<double>(), 0.0);
}

// parse() reads with simdjson and leaves whatever that refuses to nlohmann's lexer; both must
// give the same value or the same refusal, at the edges where the two libraries differ most.
TEST(JsonParse, FastReaderAgreesWithTheReferenceAtTheEdges) {
    const std::string nest513 = std::string(513, '[') + std::string(513, ']');
    const std::string nest514 = std::string(514, '[') + std::string(514, ']');
    const std::string scalarAt513 = std::string(513, '[') + "1" + std::string(513, ']');
    const std::string nul = std::string("\"a\\u0000b\"");
    struct Row {
        std::string text;
        std::optional<JsonError::Code> refused;
    };
    const std::vector<Row> rows = {
        {R"({"a":1,"a":[2]})", std::nullopt}, // the last value of a repeated key
        {R"("\uD83D\uDE00")", std::nullopt},
        {R"("\uDC00")", JsonError::Code::syntax}, // lone surrogates
        {R"("\uD800")", JsonError::Code::syntax},
        {R"("\uD800\u0041")", JsonError::Code::syntax},
        {"\"\xC0\xAF\"", JsonError::Code::syntax}, // overlong, encoded surrogate, stray byte
        {"\"\xED\xA0\x80\"", JsonError::Code::syntax},
        {"\"\xFF\"", JsonError::Code::syntax},
        {"\"\x01\"", JsonError::Code::syntax}, // a control character unescaped
        {"\xEF\xBB\xBF[1]", std::nullopt},     // a byte order mark, which nlohmann skips
        {"[1]\f", JsonError::Code::syntax},
        {"[01]", JsonError::Code::syntax},
        {"[1.]", JsonError::Code::syntax},
        {"", JsonError::Code::syntax}, // no value at all, however the text is padded
        {" \t\r\n", JsonError::Code::syntax},
        {"\xEF\xBB\xBF", JsonError::Code::syntax},
        {"[-1e400]", JsonError::Code::nonFinite},
        {nul, std::nullopt},
        {"[-0,-0.0,0,1E2,4.9e-325,18446744073709551615]", std::nullopt},
        {"[18446744073709551616,-9223372036854775809,100000000000000000000]", std::nullopt},
        {nest513, std::nullopt},
        {nest514, JsonError::Code::syntax},
        {scalarAt513, JsonError::Code::syntax},
    };
    for (const Row& row : rows) {
        if (row.refused) {
            EXPECT_EQ(failure([&] { json::parse(row.text); }), *row.refused) << row.text;
            EXPECT_EQ(failure([&] { json::referenceParse(row.text); }), *row.refused) << row.text;
        } else {
            const json::Value fast = json::parse(row.text), reference = json::referenceParse(row.text);
            EXPECT_EQ(fast, reference) << row.text;
            EXPECT_EQ(fast.dump(), reference.dump()) << row.text;
        }
    }
    EXPECT_EQ(json::parse(R"({"a":1,"a":[2]})")["a"], json::Value::array({2}));
    EXPECT_EQ(json::parse(nul).get<std::string>(), std::string("a\0b", 3));
    const json::Value numbers = json::parse("[-0,-0.0,18446744073709551616]");
    EXPECT_FALSE(std::signbit(numbers[0].get<double>()));
    EXPECT_TRUE(std::signbit(numbers[1].get<double>()));
    EXPECT_EQ(numbers[2].get<double>(), 18446744073709551616.0);
}

TEST(JsonReader, RequiredKeys) {
    auto r = reader(R"({"s":"x","n":null,"b":true,"i":3,"f":3.5,"o":{},"a":[]})");
    EXPECT_EQ(r.string("s"), "x");
    EXPECT_EQ(failure([&] { r.string("missing"); }), JsonError::Code::missingKey);
    EXPECT_EQ(failure([&] { r.string("n"); }), JsonError::Code::missingKey);
    EXPECT_EQ(failure([&] { r.string("i"); }), JsonError::Code::wrongType);
    EXPECT_EQ(failure([&] { r.array("o"); }), JsonError::Code::wrongType);
    EXPECT_EQ(failure([&] { r.object("a"); }), JsonError::Code::wrongType);
    EXPECT_EQ(failure([] { json::Reader(json::parse("[]")); }), JsonError::Code::wrongType);
    EXPECT_FALSE(r.has("n"));
    EXPECT_TRUE(r.has("b"));
}

TEST(JsonReader, BooleansAreOnlyTrueAndFalse) {
    auto r = reader(R"({"t":true,"f":false,"one":1,"zero":0,"text":"true"})");
    EXPECT_TRUE(r.boolean("t"));
    EXPECT_FALSE(r.boolean("f"));
    for (const char* key : {"one", "zero", "text"})
        EXPECT_EQ(failure([&] { r.boolean(key); }), JsonError::Code::wrongType) << key;
}

TEST(JsonReader, IntegersAreWholeNumbersInRange) {
    auto r = reader(R"({"i":3,"f":3.0,"half":3.5,"neg":-7,"big":9223372036854775807,
        "over":9223372036854775808,"two63":9.223372036854775808e18,"min":-9223372036854775808,
        "under":-9223372036854775809,"minus63":-9.223372036854775808e18,"far":-1e30,
        "e":1e3,"wide":3000000000,"s":"3","b":true})");
    EXPECT_EQ(r.int64("i"), 3);
    EXPECT_EQ(r.int64("f"), 3);
    EXPECT_EQ(r.int64("e"), 1000);
    EXPECT_EQ(r.int64("neg"), -7);
    EXPECT_EQ(r.int64("big"), INT64_MAX);
    EXPECT_EQ(r.int64("min"), INT64_MIN);
    EXPECT_EQ(failure([&] { r.int64("half"); }), JsonError::Code::outOfRange);
    // Both ends alike: the first integers beyond either end round to a double on the boundary.
    for (const char* key : {"over", "two63", "under", "minus63", "far"})
        EXPECT_EQ(failure([&] { r.int64(key); }), JsonError::Code::outOfRange) << key;
    EXPECT_EQ(failure([&] { r.integer("wide"); }), JsonError::Code::outOfRange);
    EXPECT_EQ(r.int64("wide"), 3000000000);
    EXPECT_EQ(failure([&] { r.int64("s"); }), JsonError::Code::wrongType);
    EXPECT_EQ(failure([&] { r.int64("b"); }), JsonError::Code::wrongType);
}

TEST(JsonReader, DoublesAcceptAnyFiniteNumber) {
    auto r = reader(R"({"i":3,"f":-0.25,"big":18446744073709551615,"s":"1"})");
    EXPECT_EQ(r.number("i"), 3.0);
    EXPECT_EQ(r.number("f"), -0.25);
    EXPECT_EQ(r.number("big"), 18446744073709551615.0);
    EXPECT_EQ(failure([&] { r.number("s"); }), JsonError::Code::wrongType);
}

TEST(JsonReader, OptionalsAreAbsentWhenMissingOrNullButStillTyped) {
    auto r = reader(R"({"n":null,"s":"x","i":"7","l":["a","b"],"bad":["a",1]})");
    EXPECT_FALSE(r.optString("missing"));
    EXPECT_FALSE(r.optString("n"));
    EXPECT_FALSE(r.optInt64("n"));
    EXPECT_FALSE(r.optObject("n"));
    EXPECT_EQ(r.optString("s"), "x");
    EXPECT_EQ(failure([&] { r.optInt64("i"); }), JsonError::Code::wrongType);
    EXPECT_EQ(r.optStringList("l"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(failure([&] { r.stringList("bad"); }), JsonError::Code::wrongType);
}

TEST(JsonReader, ErrorsNameThePath) {
    auto r = reader(R"({"outer":{"list":[{"x":1},{"x":"no"}]}})");
    try {
        r.object("outer").list<int>("list", [](const json::Value& v, const std::string& path) {
            return json::Reader(v, path).integer("x");
        });
        FAIL();
    } catch (const JsonError& e) {
        EXPECT_EQ(e.path(), "$.outer.list[1].x");
    }
}

TEST(JsonWrite, CompactOrderedAndOmittingAbsentOptionals) {
    json::Ordered o;
    o["zeta"] = 1;
    o["alpha"] = "é/\"";
    json::putOptional(o, "absent", std::optional<int>());
    json::putOptional(o, "present", std::optional<bool>(false));
    EXPECT_EQ(json::dump(o), R"({"zeta":1,"alpha":"é/\"","present":false})");

    json::Ordered bad;
    bad["x"] = std::string("\xff");
    EXPECT_EQ(failure([&] { json::dump(bad); }), JsonError::Code::unencodable);
    json::Ordered inf;
    inf["x"] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(failure([&] { json::dump(inf); }), JsonError::Code::unencodable);
}

TEST(Json, WholeDoublesAreWrittenAsIntegers) {
    EXPECT_EQ(json::dump(json::number(12.0)), "12");
    EXPECT_EQ(json::dump(json::number(-3.0)), "-3");
    EXPECT_EQ(json::dump(json::number(1.5)), "1.5");
    EXPECT_EQ(json::dump(json::number(0.1)), "0.1");
    EXPECT_EQ(json::dump(json::number(-0.0)), "-0.0");
    EXPECT_EQ(json::dump(json::number(-9223372036854775808.0)), "-9223372036854775808");
    // 2^63 and beyond do not fit an Int64: written as doubles that read back unchanged.
    EXPECT_EQ(json::parse(json::dump(json::number(9223372036854775808.0))).get<double>(),
              9223372036854775808.0);
    EXPECT_EQ(json::dump(json::number(1e300)), "1e+300");
    EXPECT_THROW(json::dump(json::number(std::nan(""))), JsonError);
    EXPECT_THROW(json::dump(json::number(std::numeric_limits<double>::infinity())), JsonError);
}
