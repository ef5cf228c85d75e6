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
        {"too deep to write back", std::string(600, '[') + std::string(600, ']'), false, false, nullptr, nullptr},
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

TEST(LocalStateJson, AddThenRemoveLeavesTheSchemeOut) {
    const std::string start = R"({"protocol_handler":{"excluded_schemes":{"afp":true}},"z":0})";
    std::string added, removed;
    ASSERT_EQ(local_state::AddExclusion(start, "tsl", added), EditResult::Changed);
    EXPECT_TRUE(local_state::HasExclusion(added, "tsl"));
    ASSERT_EQ(local_state::RemoveExclusion(added, "tsl", removed), EditResult::Changed);
    EXPECT_EQ(removed, start);
}
