#include <gtest/gtest.h>

#include <limits>

#include "json.h"

namespace ondelle {
namespace {

Json parsed(const std::string& text, bool expect_ok = true) {
    Json value;
    EXPECT_EQ(parse_json(text, value), expect_ok) << text;
    return value;
}

std::string nested_arrays(int depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Texts that parse, and the exact text the writer gives back for them.
struct RoundTrip {
    std::string input;
    std::string output;
};

class JsonRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(JsonRoundTrip, ParsesAndWritesBack) {
    EXPECT_EQ(dump_json(parsed(GetParam().input)), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonRoundTrip,
    testing::Values(RoundTrip{" {} ", "{}"}, RoundTrip{" [ ] ", "[]"}, RoundTrip{"1.50", "1.50"},
                    RoundTrip{"-0", "-0"}, RoundTrip{"1-2", "1-2"}, RoundTrip{"+.5", "+.5"},
                    RoundTrip{"--", "--"}, RoundTrip{"e", "e"},
                    RoundTrip{R"({"a":1,"a":2})", R"({"a":1,"a":2})"},
                    RoundTrip{"\t{ \"k\" :\r\n[true ,false, null] }\n",
                              R"({"k":[true,false,null]})"},
                    RoundTrip{R"("a\/b\q")", R"("a/bq")"},
                    RoundTrip{R"("\b\f\n\r\t\"\\")", R"("\u0008\u000c\n\r\t\"\\")"},
                    RoundTrip{"\"tab\there\"", R"("tab\there")"},
                    RoundTrip{"\"\x01\x7f\xc3\"", "\"\\u0001\x7f\xc3\""},
                    RoundTrip{nested_arrays(65, ""), nested_arrays(65, "")},
                    RoundTrip{nested_arrays(64, "7"), nested_arrays(64, "7")}));

// Texts that fail, and what the partial tree left behind holds.
struct Failure {
    std::string input;
    std::string partial;
};

class JsonFailure : public testing::TestWithParam<Failure> {};

TEST_P(JsonFailure, FailsLeavingThePartialTree) {
    EXPECT_EQ(dump_json(parsed(GetParam().input, false)), GetParam().partial);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonFailure,
    testing::Values(Failure{"", "null"}, Failure{" \n\t ", "null"}, Failure{"{} x", "{}"},
                    Failure{"[1,]", "[1,0]"}, Failure{"[1 2]", "[1]"},
                    Failure{R"({"a":1,})", R"({"a":1})"}, Failure{R"({"a" 1})", "{}"},
                    Failure{R"({"a":)", R"({"a":null})"}, Failure{R"(["ab)", R"(["ab"])"},
                    Failure{"[1,", "[1,null]"}, Failure{"nullx", "null"},
                    Failure{"\"\\u12\"", "\"\\u000012\""}, Failure{"\"\\", "\"\""},
                    Failure{"\"\\u12g4x\"", "\"\\u00004x\""},
                    Failure{nested_arrays(66, ""), nested_arrays(65, "null")},
                    Failure{nested_arrays(65, "7"), nested_arrays(65, "null")}));

TEST(Json, StringEscapesDecodeToUtf8) {
    const struct {
        std::string input;
        std::string bytes;
    } cases[] = {
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\ud83d")", "\xEF\xBF\xBD"},
        {R"("\ude00")", "\xEF\xBF\xBD"},
        {R"("\ud83d\u0041")", "\xEF\xBF\xBD"},
        {R"("\u00e9")", "\xC3\xA9"},
        {R"("\u0041\u20AC")", "A\xE2\x82\xAC"},
    };
    for (const auto& c : cases) {
        const Json v = parsed(c.input);
        EXPECT_EQ(v.type, Json::String) << c.input;
        EXPECT_EQ(v.text, c.bytes) << c.input;
    }
}

TEST(Json, DuplicateKeysAreKeptAndSetReplacesTheFirstInPlace) {
    Json v = parsed(R"({"k":1,"x":0,"k":2})");
    ASSERT_EQ(v.members.size(), 3u);
    EXPECT_EQ(v.get("k").as_int(0), 1);
    v.set("k", Json(3));
    EXPECT_EQ(dump_json(v), R"({"k":3,"x":0,"k":2})");
    v.set("new", Json("n"));
    EXPECT_EQ(dump_json(v), R"({"k":3,"x":0,"k":2,"new":"n"})");
}

TEST(Json, SetAndPushReplaceOtherKinds) {
    Json s("text");
    s.set("a", Json(true));
    EXPECT_EQ(dump_json(s), R"({"a":true})");
    Json o = parsed(R"({"a":1})");
    o.push(Json());
    EXPECT_EQ(dump_json(o), "[null]");
}

TEST(Json, ConstructedValuesAndMessages) {
    EXPECT_EQ(dump_json(Json(std::int64_t{-5})), "-5");
    EXPECT_EQ(dump_json(Json(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
    EXPECT_EQ(dump_json(Json(0)), "0");
    EXPECT_EQ(dump_json(make_message("pong")), R"({"t":"pong"})");
    Json empty_number;
    empty_number.type = Json::Number;
    EXPECT_EQ(dump_json(empty_number), "0");
}

TEST(Json, LookupsOfMissingMembersGiveTheSharedNull) {
    const Json v = parsed(R"({"a":1})");
    EXPECT_EQ(&v.get("b"), &Json::null_value());
    EXPECT_EQ(&Json(7).get("a"), &Json::null_value());
    EXPECT_EQ(v.find("b"), nullptr);
    EXPECT_NE(v.find("a"), nullptr);
    EXPECT_TRUE(Json::null_value().is_null());
}

TEST(Json, MoveTakesTheContents) {
    Json a = parsed(R"({"a":[1,2]})");
    Json b = std::move(a);
    EXPECT_EQ(dump_json(b), R"({"a":[1,2]})");
    Json c = b;  // deep copy
    c.get("a");
    c.set("a", Json(1));
    EXPECT_EQ(dump_json(b), R"({"a":[1,2]})");
}

struct IntCase {
    std::string json;  // a JSON text of one value
    std::int64_t dflt;
    std::int64_t expected;
};

class JsonAsInt : public testing::TestWithParam<IntCase> {};

TEST_P(JsonAsInt, Reads) {
    Json v;
    parse_json(GetParam().json, v);
    EXPECT_EQ(v.as_int(GetParam().dflt), GetParam().expected) << GetParam().json;
}

constexpr auto int64_max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64_min = std::numeric_limits<std::int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Values, JsonAsInt,
    testing::Values(IntCase{"42", 0, 42}, IntCase{R"("42")", 0, 42}, IntCase{"-17", 0, -17},
                    IntCase{"2.9", 0, 2}, IntCase{"-2.9", 0, -2}, IntCase{"1e3", 0, 1000},
                    IntCase{"1-2", 7, 7}, IntCase{R"("12abc")", 7, 7},
                    IntCase{"9.9e30", 0, int64_max}, IntCase{"-1e19", 0, int64_min},
                    IntCase{"99999999999999999999", 0, int64_max}, IntCase{R"("nan")", 3, 3},
                    IntCase{R"(" 5")", 0, 5}, IntCase{R"("")", 4, 4}, IntCase{"true", 4, 4},
                    IntCase{"null", 4, 4}, IntCase{"[1]", 4, 4}, IntCase{"{}", 4, 4}));

TEST(Json, OtherReaders) {
    EXPECT_DOUBLE_EQ(parsed("2.5").as_double(0), 2.5);
    EXPECT_DOUBLE_EQ(parsed(R"("-1e2")").as_double(0), -100.0);
    EXPECT_DOUBLE_EQ(parsed("1-2").as_double(9), 9);
    EXPECT_DOUBLE_EQ(parsed("true").as_double(9), 9);

    EXPECT_TRUE(parsed("true").as_bool(false));
    EXPECT_TRUE(parsed(R"("true")").as_bool(false));
    EXPECT_FALSE(parsed(R"("false")").as_bool(true));
    EXPECT_TRUE(parsed(R"("True")").as_bool(true));
    EXPECT_FALSE(parsed(R"("True")").as_bool(false));
    EXPECT_FALSE(parsed("1").as_bool(false));

    EXPECT_EQ(parsed("false").as_string("d"), "false");
    EXPECT_EQ(parsed("12.0").as_string("d"), "12.0");
    EXPECT_EQ(parsed(R"("s")").as_string("d"), "s");
    EXPECT_EQ(parsed("{}").as_string("d"), "d");
    EXPECT_EQ(parsed("null").as_string("d"), "d");
}

}  // namespace
}  // namespace ondelle
