#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "NuvelKit/support/Json.hpp"

namespace nuvel {
namespace {

json::JsonError::Code parseFailure(std::string_view text) {
    try {
        json::parse(text);
    } catch (const json::JsonError& e) {
        return e.code();
    }
    ADD_FAILURE() << "parsed: " << text;
    return json::JsonError::Code::invalidValue;
}

TEST(Json, NumbersBeyondTheDoubleRangeAreRejectedAsNonFinite) {
    EXPECT_EQ(parseFailure("1e400"), json::JsonError::Code::nonFinite);
    EXPECT_EQ(parseFailure("{\"a\":[-1e400]}"), json::JsonError::Code::nonFinite);
    EXPECT_EQ(parseFailure("{\"a\":"), json::JsonError::Code::syntax);
    EXPECT_EQ(parseFailure("NaN"), json::JsonError::Code::syntax);
    EXPECT_EQ(json::parse("1e-400").get<double>(), 0.0); // underflow is an ordinary zero
}

TEST(Json, WholeDoublesAreWrittenAsIntegers) {
    EXPECT_EQ(json::dump(json::number(12.0)), "12");
    EXPECT_EQ(json::dump(json::number(-3.0)), "-3");
    EXPECT_EQ(json::dump(json::number(1.5)), "1.5");
    EXPECT_EQ(json::dump(json::number(0.1)), "0.1");
    EXPECT_EQ(json::dump(json::number(-0.0)), "-0.0");
    EXPECT_EQ(json::dump(json::number(-9223372036854775808.0)), "-9223372036854775808");
    // 2^63 and beyond do not fit an Int64: written as doubles that read back unchanged.
    EXPECT_EQ(json::parse(json::dump(json::number(9223372036854775808.0))).get<double>(), 9223372036854775808.0);
    EXPECT_EQ(json::dump(json::number(1e300)), "1e+300");
    EXPECT_THROW(json::dump(json::number(std::nan(""))), json::JsonError);
    EXPECT_THROW(json::dump(json::number(std::numeric_limits<double>::infinity())), json::JsonError);
}

} // namespace
} // namespace nuvel
