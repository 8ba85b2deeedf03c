#include "core/json_value.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(JsonValueTest, ReadsDocumentsAndRefusesWhatIsNotStrictJson) {
  struct Case {
    std::string Text;
    bool Valid;
  };
  const std::string deep = std::string(TJsonValue::kMaxDepth, '[') + std::string(TJsonValue::kMaxDepth, ']');
  const std::string tooDeep = "[" + deep + "]";
  const Case cases[] = {
      {R"( {"a": [1, -2.5e3, true, false, null, "x"], "b": {}} )", true},
      {"\"\\u00e9\\ud83d\\ude00\"", true},
      {"\"caf\xC3\xA9\"", true},
      {deep, true},
      {tooDeep, false},
      {"", false},
      {"{", false},
      {"{\"a\":1,}", false},
      {"[1,]", false},
      {"{\"a\":1,\"a\":2}", false},  // a repeated key could smuggle a second value past a check
      {"01", false},
      {"1.", false},
      {"-", false},
      {"NaN", false},
      {"'x'", false},
      {"\"tab\there\"", false},
      {"\"\\x41\"", false},
      {"\"\\ud800\"", false},          // a lone high surrogate
      {"\"\\udc00\\ud800\"", false},   // pair in the wrong order
      {"\"\xC0\xAF\"", false},          // overlong "/"
      {"\"\xED\xA0\x80\"", false},      // a raw surrogate
      {"\"\xF4\x90\x80\x80\"", false},  // past U+10FFFF
      {"\"\xC3\"", false},              // cut sequence
      {"\"\xFF\"", false},
      {"{} {}", false},
      {std::string("{}\0", 3), false},
  };
  for (const Case& c : cases) EXPECT_EQ(TJsonValue::Parse(c.Text).has_value(), c.Valid) << c.Text;
}

TEST(JsonValueTest, DecodesEscapesAndFindsMembers) {
  const auto value = TJsonValue::Parse(R"({"s":"a\"\\\/\n\u0041\ud83d\ude00","n":12.5,"o":{"k":true}})");
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->Find("s"));
  EXPECT_EQ(value->Find("s")->String, "a\"\\/\nA\xF0\x9F\x98\x80");
  EXPECT_EQ(value->Find("n")->Number, 12.5);
  EXPECT_TRUE(value->Find("o")->Find("k")->Bool);
  EXPECT_EQ(value->Find("missing"), nullptr);
  EXPECT_EQ(value->Find("n")->Find("k"), nullptr);
}

TEST(JsonValueTest, QuotedTextReadsBackAsItself) {
  const std::string text = std::string("q\"b\\s/\n\r\t\x01\x7F") + "\xC3\xA9";
  const auto value = TJsonValue::Parse(JsonQuote(text));
  ASSERT_TRUE(value);
  EXPECT_EQ(value->String, text);
  EXPECT_TRUE(IsValidUtf8(text));
  EXPECT_FALSE(IsValidUtf8("\xC3("));
}

}  // namespace
}  // namespace brindle
