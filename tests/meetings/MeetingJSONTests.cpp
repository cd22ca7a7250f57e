#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

using Kind = MeetingJSON::Kind;
using test::decodeFailure;

const std::string composedE = "\xC3\xA9";    // U+00E9
const std::string decomposedE = "e\xCC\x81"; // e + U+0301

TEST(MeetingJSON, EachJSONValueDecodesToItsOwnCase) {
    EXPECT_EQ(MeetingJSON::decode("true").kind(), Kind::boolean);
    EXPECT_EQ(MeetingJSON::decode("true").boolValue(), true);
    EXPECT_EQ(MeetingJSON::decode("null").kind(), Kind::null);
    EXPECT_EQ(MeetingJSON::decode("[]"), MeetingJSON::array({}));
    EXPECT_EQ(MeetingJSON::decode("{}"), MeetingJSON::object({}));

    // Only true and false are booleans; a number stays a number, quoted text stays text.
    MeetingJSON one = MeetingJSON::decode("1");
    EXPECT_EQ(one.kind(), Kind::number);
    EXPECT_EQ(one.numberValue(), 1.0);
    EXPECT_EQ(one, MeetingJSON::decode("1.0"));
    EXPECT_EQ(MeetingJSON::decode("\"true\""), MeetingJSON::string("true"));
    EXPECT_EQ(MeetingJSON::decode("\"12\"").kind(), Kind::string);
    EXPECT_EQ(MeetingJSON::decode("18446744073709551615").numberValue(), 18446744073709551615.0);
}

TEST(MeetingJSON, MembersAndPayloadAccessors) {
    MeetingJSON value = MeetingJSON::decode(R"({"a": null, "n": 2})");
    ASSERT_NE(value["a"], nullptr);
    EXPECT_EQ(value["a"]->kind(), Kind::null);
    EXPECT_EQ(value["b"], nullptr);
    EXPECT_EQ(value["n"]->numberValue(), 2.0);
    EXPECT_EQ(value.stringValue(), nullptr);
    EXPECT_EQ(value.numberValue(), std::nullopt);

    MeetingJSON text = MeetingJSON::string("a");
    EXPECT_EQ(text["a"], nullptr); // members only exist on objects
    EXPECT_EQ(text.arrayValue(), nullptr);
    EXPECT_EQ(text.boolValue(), std::nullopt);
    EXPECT_EQ(*text.stringValue(), "a");

    // A member is found under a canonically equivalent spelling of its key.
    MeetingJSON accented = MeetingJSON::object({{composedE, MeetingJSON::boolean(true)}});
    ASSERT_NE(accented[decomposedE], nullptr);
    EXPECT_EQ(accented[decomposedE]->boolValue(), true);
}

TEST(MeetingJSON, EqualityFollowsCaseNumberAndTextRules) {
    MeetingJSON nan = MeetingJSON::number(std::nan(""));
    EXPECT_FALSE(nan == nan);
    EXPECT_EQ(MeetingJSON::number(0.0), MeetingJSON::number(-0.0));
    EXPECT_FALSE(MeetingJSON::number(1) == MeetingJSON::boolean(true));
    EXPECT_FALSE(MeetingJSON::number(1) == MeetingJSON::string("1"));
    EXPECT_FALSE(MeetingJSON::null() == MeetingJSON::boolean(false));
    EXPECT_FALSE(MeetingJSON::null() == MeetingJSON::array({}));
    EXPECT_EQ(MeetingJSON::null(), MeetingJSON::decode("null"));

    EXPECT_EQ(MeetingJSON::decode(R"({"a":1,"b":[true]})"), MeetingJSON::decode(R"({"b":[true],"a":1})"));
    EXPECT_FALSE(MeetingJSON::decode("[1,2]") == MeetingJSON::decode("[2,1]"));
    EXPECT_FALSE(MeetingJSON::decode("[1]") == MeetingJSON::decode("[1,1]"));
    EXPECT_FALSE(MeetingJSON::decode(R"({"a":1})") == MeetingJSON::decode(R"({"a":1,"b":1})"));

    // Canonical equivalence for text and for keys, at any depth.
    EXPECT_EQ(MeetingJSON::string(composedE), MeetingJSON::string(decomposedE));
    EXPECT_FALSE(MeetingJSON::string("e") == MeetingJSON::string(composedE));
    MeetingJSON a =
        MeetingJSON::object({{composedE, MeetingJSON::array({MeetingJSON::string(decomposedE)})}});
    MeetingJSON b =
        MeetingJSON::object({{decomposedE, MeetingJSON::array({MeetingJSON::string(composedE)})}});
    EXPECT_EQ(a, b);
    MeetingJSON c = MeetingJSON::object({{decomposedE, MeetingJSON::array({MeetingJSON::string("x")})}});
    EXPECT_FALSE(a == c);
    // Two spellings of one key on one side are not matched twice by a single member on the other.
    MeetingJSON twice =
        MeetingJSON::object({{composedE, MeetingJSON::null()}, {decomposedE, MeetingJSON::null()}});
    MeetingJSON other = MeetingJSON::object({{composedE, MeetingJSON::null()}, {"x", MeetingJSON::null()}});
    EXPECT_FALSE(twice == other);
    EXPECT_FALSE(other == twice);
}

TEST(MeetingJSON, GoldenRoundTripWritesWholeNumbersAsIntegers) {
    MeetingJSON value = test::expectGoldenRoundTrip<MeetingJSON>("meeting-json.json");
    EXPECT_EQ(value[""]->kind(), Kind::null);
    EXPECT_EQ((*value["array"]->arrayValue())[1].numberValue(), 1.5);
    EXPECT_EQ(MeetingJSON::decode("[1.0, 2.50, 1e2]").encode(), "[1,2.5,100]");
    EXPECT_EQ(MeetingJSON::decode(R"({"b":1,"a":2})").encode(), R"({"a":2,"b":1})");
}

TEST(MeetingJSON, NumbersThatAreNotFiniteAreRefusedWhenDecoding) {
    EXPECT_EQ(decodeFailure<MeetingJSON>("1e400"), json::JsonError::Code::nonFinite);
    EXPECT_EQ(decodeFailure<MeetingJSON>(R"({"a":[-1e999]})"), json::JsonError::Code::nonFinite);
    EXPECT_EQ(decodeFailure<MeetingJSON>("[1,"), json::JsonError::Code::syntax);

    // A JSON value built in memory takes the same check.
    json::Value built = json::Value::object();
    built["x"] = std::numeric_limits<double>::infinity();
    try {
        MeetingJSON::fromJson(built);
        ADD_FAILURE() << "decoded an infinity";
    } catch (const json::JsonError& e) {
        EXPECT_EQ(e.code(), json::JsonError::Code::nonFinite);
        EXPECT_EQ(e.path(), "$.x");
    }

    // Only a value put together by code can hold one, and then encoding refuses it.
    EXPECT_THROW(MeetingJSON::number(std::nan("")).encode(), json::JsonError);
}

TEST(MeetingJSON, DeepNestingIsRefusedWithoutCrashing) {
    std::string deep(100000, '[');
    EXPECT_EQ(decodeFailure<MeetingJSON>(deep), json::JsonError::Code::syntax);
    std::string fine = std::string(400, '[') + std::string(400, ']');
    EXPECT_EQ(MeetingJSON::decode(fine).kind(), Kind::array);
}

} // namespace
} // namespace nuvel
