#include "core/json_value.h"

#include <charconv>
#include <cstdint>

namespace brindle {
namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not
// one a strict reader accepts.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class TReader {
 public:
  explicit TReader(std::string_view text) : text_(text) {}

  bool Document(TJsonValue& value) {
    SkipSpace();
    if (!Value(value, 0)) return false;
    SkipSpace();
    return pos_ == text_.size();
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++pos_;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool Value(TJsonValue& value, int depth) {
    if (AtEnd()) return false;
    switch (Peek()) {
      case '{':
        return ObjectValue(value, depth + 1);
      case '[':
        return ArrayValue(value, depth + 1);
      case '"':
        value.Kind = TJsonValue::TKind::String;
        return StringValue(value.String);
      case 't':
        value.Kind = TJsonValue::TKind::Bool;
        value.Bool = true;
        return Literal("true");
      case 'f':
        value.Kind = TJsonValue::TKind::Bool;
        value.Bool = false;
        return Literal("false");
      case 'n':
        value.Kind = TJsonValue::TKind::Null;
        return Literal("null");
      default:
        return NumberValue(value);
    }
  }

  bool ObjectValue(TJsonValue& value, int depth) {
    if (depth > TJsonValue::kMaxDepth) return false;
    value.Kind = TJsonValue::TKind::Object;
    ++pos_;
    SkipSpace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      std::string key;
      if (AtEnd() || Peek() != '"' || !StringValue(key)) return false;
      if (value.Find(key)) return false;
      SkipSpace();
      if (AtEnd() || Peek() != ':') return false;
      ++pos_;
      SkipSpace();
      TJsonValue member;
      if (!Value(member, depth)) return false;
      value.Keys.push_back(std::move(key));
      value.Members.push_back(std::move(member));
      SkipSpace();
      if (AtEnd()) return false;
      if (Peek() == '}') {
        ++pos_;
        return true;
      }
      if (Peek() != ',') return false;
      ++pos_;
    }
  }

  bool ArrayValue(TJsonValue& value, int depth) {
    if (depth > TJsonValue::kMaxDepth) return false;
    value.Kind = TJsonValue::TKind::Array;
    ++pos_;
    SkipSpace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      TJsonValue item;
      if (!Value(item, depth)) return false;
      value.Array.push_back(std::move(item));
      SkipSpace();
      if (AtEnd()) return false;
      if (Peek() == ']') {
        ++pos_;
        return true;
      }
      if (Peek() != ',') return false;
      ++pos_;
    }
  }

  bool Hex4(uint32_t& code) {
    if (pos_ + 4 > text_.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  bool Escape(std::string& out) {
    if (AtEnd()) return false;
    const char c = text_[pos_++];
    switch (c) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    uint32_t code = 0;
    if (!Hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      uint32_t low = 0;
      if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, code);
    return true;
  }

  bool StringValue(std::string& out) {
    ++pos_;
    while (!AtEnd()) {
      const unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++pos_;
        if (!Escape(out)) return false;
        continue;
      }
      const size_t length = Utf8SequenceLength(text_, pos_);
      if (length == 0) return false;
      out.append(text_.substr(pos_, length));
      pos_ += length;
    }
    return false;
  }

  bool NumberValue(TJsonValue& value) {
    const size_t start = pos_;
    const auto digits = [&] {
      const size_t first = pos_;
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
      return pos_ > first;
    };
    if (!AtEnd() && Peek() == '-') ++pos_;
    if (AtEnd()) return false;
    if (Peek() == '0') {
      ++pos_;
    } else if (!digits()) {
      return false;
    }
    if (!AtEnd() && Peek() == '.') {
      ++pos_;
      if (!digits()) return false;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (!digits()) return false;
    }
    value.Kind = TJsonValue::TKind::Number;
    const auto result = std::from_chars(text_.data() + start, text_.data() + pos_, value.Number);
    // Out of range is still a number; only its magnitude is lost.
    return result.ptr == text_.data() + pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<TJsonValue> TJsonValue::Parse(std::string_view text) {
  TJsonValue value;
  TReader reader(text);
  if (!reader.Document(value)) return std::nullopt;
  return value;
}

const TJsonValue* TJsonValue::Find(std::string_view key) const {
  if (Kind != TKind::Object) return nullptr;
  for (size_t i = 0; i < Keys.size(); ++i)
    if (Keys[i] == key) return &Members[i];
  return nullptr;
}

std::string JsonQuote(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace brindle
