#include <gtest/gtest.h>

#include <string>

#include "browser/local_state_json.h"

using local_state::EditResult;

namespace {

const char* Name(EditResult r) {
    switch (r) {
    case EditResult::Invalid: return "Invalid";
    case EditResult::Unchanged: return "Unchanged";
    default: return "Changed";
    }
}

struct Case {
    const char* what;
    std::string text;
    bool has;           // HasExclusion
    bool valid;         // the text is usable at all
    const char* added;    // text after AddExclusion, or null when nothing is written
    const char* removed;  // text after RemoveExclusion, or null when nothing is written
};

}  // namespace

TEST(LocalStateJson, AddAndRemoveOverTheCases) {
    const std::string deepestAdded = "{\"d\":" + std::string(511, '[') + std::string(511, ']') +
                                     ",\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":false}}}";
    const Case cases[] = {
        {"no protocol_handler", R"({"a":1,"b":{"c":[true,null]}})", false, true,
         R"({"a":1,"b":{"c":[true,null]},"protocol_handler":{"excluded_schemes":{"tsl":false}}})", nullptr},
        {"no excluded_schemes", R"({"protocol_handler":{"x":1}})", false, true,
         R"({"protocol_handler":{"x":1,"excluded_schemes":{"tsl":false}}})", nullptr},
        {"other schemes only", R"({"protocol_handler":{"excluded_schemes":{"afp":true}}})", false, true,
         R"({"protocol_handler":{"excluded_schemes":{"afp":true,"tsl":false}}})", nullptr},
        {"tsl true stays", R"({"protocol_handler":{"excluded_schemes":{"tsl":true}}})", true, true, nullptr,
         R"({"protocol_handler":{"excluded_schemes":{}}})"},
        {"tsl of any value counts", R"({"protocol_handler":{"excluded_schemes":{"tsl":"x"}}})", true, true,
         nullptr, R"({"protocol_handler":{"excluded_schemes":{}}})"},
        {"a,tsl,b", R"({"protocol_handler":{"excluded_schemes":{"a":false,"tsl":false,"b":true}}})", true, true,
         nullptr, R"({"protocol_handler":{"excluded_schemes":{"a":false,"b":true}}})"},
        {"tsl,a,b", R"({"protocol_handler":{"excluded_schemes":{"tsl":false,"a":false,"b":true}}})", true, true,
         nullptr, R"({"protocol_handler":{"excluded_schemes":{"b":true,"a":false}}})"},
        {"tsl twice", R"({"protocol_handler":{"excluded_schemes":{"tsl":false,"a":1,"tsl":true}}})", true, true,
         nullptr, R"({"protocol_handler":{"excluded_schemes":{"a":1}}})"},
        {"names are case-sensitive", R"({"protocol_handler":{"excluded_schemes":{"TSL":false}}})", false, true,
         R"({"protocol_handler":{"excluded_schemes":{"TSL":false,"tsl":false}}})", nullptr},
        {"indented becomes compact", "{\n   \"x\" : [ 1, 2 ],\r\n\t\"protocol_handler\" : { }\n}\n", false, true,
         R"({"x":[1,2],"protocol_handler":{"excluded_schemes":{"tsl":false}}})", nullptr},
        {"strings keep their content",
         "{\"s\":\"\\u0001\\b\\f\\n\\r\\t\\\"\\\\\\/\\u00e9\xea\xb0\x80\\ud83d\\ude00\",\"n\":-1.5e300}", false, true,
         "{\"s\":\"\\u0001\\b\\f\\n\\r\\t\\\"\\\\/\xc3\xa9\xea\xb0\x80\xf0\x9f\x98\x80\",\"n\":-1.5e300,"
         "\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":false}}}",
         nullptr},
        {"empty text", "", false, false, nullptr, nullptr},
        {"blank text", " \r\n", false, false, nullptr, nullptr},
        {"byte order mark", "\xEF\xBB\xBF{\"a\":1}", false, false, nullptr, nullptr},
        {"truncated", R"({"protocol_handler":{"excluded_schemes":{"tsl":fal)", false, false, nullptr, nullptr},
        {"trailing garbage", R"({"a":1} x)", false, false, nullptr, nullptr},
        {"text after a NUL", std::string("{\"a\":1}\0{\"b\":2}", 15), false, false, nullptr, nullptr},
        {"comment", "{\"a\":1 /* c */}", false, false, nullptr, nullptr},
        {"root is an array", R"([{"protocol_handler":{}}])", false, false, nullptr, nullptr},
        {"root is a string", R"("tsl")", false, false, nullptr, nullptr},
        {"protocol_handler is a string", R"({"protocol_handler":"x"})", false, false, nullptr, nullptr},
        {"protocol_handler is null", R"({"protocol_handler":null})", false, false, nullptr, nullptr},
        {"excluded_schemes is an array", R"({"protocol_handler":{"excluded_schemes":["tsl"]}})", false, false,
         nullptr, nullptr},
        {"excluded_schemes is true", R"({"protocol_handler":{"excluded_schemes":true}})", false, false, nullptr,
         nullptr},
        {"too deep", std::string(600, '[') + std::string(600, ']'), false, false, nullptr, nullptr},
        {"one level too deep", "{\"d\":" + std::string(512, '[') + std::string(512, ']') + "}", false, false,
         nullptr, nullptr},
        {"deepest allowed", "{\"d\":" + std::string(511, '[') + std::string(511, ']') + "}", false, true,
         deepestAdded.c_str(), nullptr},
        {"only the root's protocol_handler counts",
         R"({"a":{"protocol_handler":{"excluded_schemes":{"tsl":false}}}})", false, true,
         R"({"a":{"protocol_handler":{"excluded_schemes":{"tsl":false}}},)"
         R"("protocol_handler":{"excluded_schemes":{"tsl":false}}})",
         nullptr},
        {"only direct members of excluded_schemes count",
         R"({"protocol_handler":{"excluded_schemes":{"x":{"tsl":true}}}})", false, true,
         R"({"protocol_handler":{"excluded_schemes":{"x":{"tsl":true},"tsl":false}}})", nullptr},
        {"the first protocol_handler is the one",
         R"({"protocol_handler":{},"protocol_handler":{"excluded_schemes":{"tsl":true}}})", false, true,
         R"({"protocol_handler":{"excluded_schemes":{"tsl":false}},)"
         R"("protocol_handler":{"excluded_schemes":{"tsl":true}}})",
         nullptr},
        {"a later protocol_handler of another shape is passed over",
         R"({"protocol_handler":{"excluded_schemes":{"tsl":true}},"protocol_handler":7})", true, true, nullptr,
         R"({"protocol_handler":{"excluded_schemes":{}},"protocol_handler":7})"},
        {"removal keeps the moved members' values whole",
         R"({"protocol_handler":{"excluded_schemes":{"tsl":false,"o":{"p":[1,{"q":"}"}]},"n":1e400}}})", true,
         true, nullptr, R"({"protocol_handler":{"excluded_schemes":{"n":1e400,"o":{"p":[1,{"q":"}"}]}}}})"},
        {"digits inside strings stay as they are", R"({"k\"1":"\\","-5":"x\"-5 01 1e"})", false, true,
         R"({"k\"1":"\\","-5":"x\"-5 01 1e","protocol_handler":{"excluded_schemes":{"tsl":false}}})", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool valid = !c.valid;
        EXPECT_EQ(local_state::HasExclusion(c.text, "tsl", &valid), c.has);
        EXPECT_EQ(valid, c.valid);

        std::string out = "untouched";
        EditResult add = local_state::AddExclusion(c.text, "tsl", out);
        EditResult wantAdd = !c.valid ? EditResult::Invalid : c.added ? EditResult::Changed : EditResult::Unchanged;
        EXPECT_STREQ(Name(add), Name(wantAdd));
        EXPECT_EQ(out, c.added ? c.added : "untouched");

        out = "untouched";
        EditResult remove = local_state::RemoveExclusion(c.text, "tsl", out);
        EditResult wantRemove =
            !c.valid ? EditResult::Invalid : c.removed ? EditResult::Changed : EditResult::Unchanged;
        EXPECT_STREQ(Name(remove), Name(wantRemove));
        EXPECT_EQ(out, c.removed ? c.removed : "untouched");
    }
}

// Numbers are carried as their own text: none is converted, so none changes, however far it lies
// outside what a double holds, and none can upset the reader.
TEST(LocalStateJson, NumbersComeBackByteForByte) {
    const char* numbers[] = {
        "1.00000018200001e-335", "22222303030005e300", "1.5e300", "98765432109876543210", "-0.0", "4.9e-324",
        "1e400", "-1E+400", "0.10", "123.4560e-0007", "-9223372036854775809", "0",
    };
    for (const char* n : numbers) {
        SCOPED_TRACE(n);
        const std::string N = n;
        const std::string start = "{\"n\":" + N + ",\"a\":[" + N + "," + N +
                                  "],\"protocol_handler\":{\"excluded_schemes\":{\"afp\":" + N + "}}}";
        std::string added, removed;
        ASSERT_EQ(local_state::AddExclusion(start, "tsl", added), EditResult::Changed);
        EXPECT_EQ(added, "{\"n\":" + N + ",\"a\":[" + N + "," + N +
                             "],\"protocol_handler\":{\"excluded_schemes\":{\"afp\":" + N + ",\"tsl\":false}}}");
        ASSERT_EQ(local_state::RemoveExclusion(added, "tsl", removed), EditResult::Changed);
        EXPECT_EQ(removed, start);

        // The number inside excluded_schemes moves into the removed member's place whole.
        const std::string tslFirst = "{\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":" + N + ",\"b\":[" + N +
                                     "],\"c\":" + N + "}},\"z\":" + N + "}";
        ASSERT_EQ(local_state::RemoveExclusion(tslFirst, "tsl", removed), EditResult::Changed);
        EXPECT_EQ(removed, "{\"protocol_handler\":{\"excluded_schemes\":{\"c\":" + N + ",\"b\":[" + N + "]}},\"z\":" +
                               N + "}");
        EXPECT_TRUE(local_state::HasExclusion(tslFirst, "tsl"));
    }
    // A number of 400 digits.
    const std::string big = "{\"n\":" + std::string(400, '7') + "}";
    std::string added;
    ASSERT_EQ(local_state::AddExclusion(big, "tsl", added), EditResult::Changed);
    EXPECT_EQ(added, big.substr(0, big.size() - 1) + R"(,"protocol_handler":{"excluded_schemes":{"tsl":false}}})");
}

// What is not a JSON number makes the text unusable, wherever it stands.
TEST(LocalStateJson, MalformedNumbersAreRefused) {
    const char* numbers[] = {"01", "-01", "1.", ".5", "-", "+1", "1e", "1e+", "1.e5", "--1", "0x10", "1.2.3",
                             "1e5e5", "1-2", "NaN", "Infinity", "-Infinity", "1 2", "-.5"};
    for (const char* n : numbers) {
        SCOPED_TRACE(n);
        for (const std::string& text : {"{\"n\":" + std::string(n) + "}", "{\"n\":[" + std::string(n) + "]}",
                                        "{\"protocol_handler\":{\"excluded_schemes\":{\"tsl\":" + std::string(n) + "}}}"}) {
            bool valid = true;
            EXPECT_FALSE(local_state::HasExclusion(text, "tsl", &valid));
            EXPECT_FALSE(valid);
            std::string out = "untouched";
            EXPECT_EQ(local_state::AddExclusion(text, "tsl", out), EditResult::Invalid);
            EXPECT_EQ(local_state::RemoveExclusion(text, "tsl", out), EditResult::Invalid);
            EXPECT_EQ(out, "untouched");
        }
    }
}

TEST(LocalStateJson, AddThenRemoveLeavesTheSchemeOut) {
    const std::string start = R"({"protocol_handler":{"excluded_schemes":{"afp":true}},"z":0})";
    std::string added, removed;
    ASSERT_EQ(local_state::AddExclusion(start, "tsl", added), EditResult::Changed);
    EXPECT_TRUE(local_state::HasExclusion(added, "tsl"));
    ASSERT_EQ(local_state::RemoveExclusion(added, "tsl", removed), EditResult::Changed);
    EXPECT_EQ(removed, start);
}
