#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// A JSON value as read from outside input. Parsing is strict (RFC 8259):
// text must be valid UTF-8 (no overlong forms, surrogates or code points
// past U+10FFFF, raw or escaped), no control character stands unescaped in
// a string, an object may not repeat a key, nesting stops at kMaxDepth, and
// nothing but white space may follow the value.
class TJsonValue {
 public:
  enum class TKind { Null, Bool, Number, String, Array, Object };
  static constexpr int kMaxDepth = 32;

  TKind Kind = TKind::Null;
  bool Bool = false;
  double Number = 0;
  std::string String;
  std::vector<TJsonValue> Array;
  // An object's members in the order read: Keys[i] names Members[i]. (A
  // vector of pairs would need the type complete here.)
  std::vector<std::string> Keys;
  std::vector<TJsonValue> Members;

  static std::optional<TJsonValue> Parse(std::string_view text);

  // The member named key of an object; null when absent or not an object.
  const TJsonValue* Find(std::string_view key) const;
  bool IsString() const { return Kind == TKind::String; }
};

// text as a JSON string literal with its quotes; text must be UTF-8.
std::string JsonQuote(std::string_view text);

// True when text is well-formed UTF-8 without surrogates or overlong forms.
bool IsValidUtf8(std::string_view text);

}  // namespace brindle
