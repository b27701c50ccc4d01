#include "base/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "base/json_string_escape.h"
#include "base/logging.h"
#include "base/utf8_internal.h"

namespace base {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr uint32_t kReplacementCharacter = 0xFFFD;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// A recursive-descent parser over one text. Recursion is bounded by
// JsonReader::kMaxDepth, checked before each list or dictionary is entered.
class Parser {
 public:
  explicit Parser(std::string_view input) : input_(input) {
    if (input_.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
      input_.remove_prefix(kUtf8ByteOrderMark.size());
  }

  std::unique_ptr<Value> Parse() {
    std::unique_ptr<Value> root = ParseValue();
    if (!root)
      return nullptr;
    SkipWhitespace();
    if (pos_ != input_.size())
      return Fail(IsCommentStart() ? JsonReader::kCommentNotAllowed
                                   : JsonReader::kUnexpectedDataAfterRoot);
    return root;
  }

  int error_code() const { return error_code_; }

  // "Line: <l>, column: <c>, <text>" for the recorded error.
  std::string ErrorMessage() const {
    int line = 1;
    size_t line_start = 0;
    const size_t end = std::min(error_pos_, input_.size());
    for (size_t i = 0; i < end; ++i) {
      if (input_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    return "Line: " + std::to_string(line) +
           ", column: " + std::to_string(error_pos_ - line_start + 1) + ", " +
           JsonReader::ErrorCodeToString(error_code_);
  }

 private:
  // Records the error at the current position; returns null for brevity.
  std::nullptr_t Fail(JsonReader::ErrorCode code) { return FailAt(code, pos_); }
  std::nullptr_t FailAt(JsonReader::ErrorCode code, size_t pos) {
    error_code_ = code;
    error_pos_ = pos;
    return nullptr;
  }

  bool AtEnd() const { return pos_ >= input_.size(); }
  char Peek() const { return input_[pos_]; }

  bool IsCommentStart() const {
    return pos_ + 1 < input_.size() && input_[pos_] == '/' &&
           (input_[pos_ + 1] == '/' || input_[pos_ + 1] == '*');
  }

  // What a character that cannot stand here is reported as.
  JsonReader::ErrorCode UnexpectedHere() const {
    return IsCommentStart() ? JsonReader::kCommentNotAllowed : JsonReader::kUnexpectedToken;
  }

  void SkipWhitespace() {
    while (!AtEnd()) {
      char c = Peek();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
        return;
      ++pos_;
    }
  }

  std::unique_ptr<Value> ParseValue() {
    SkipWhitespace();
    if (AtEnd())
      return Fail(JsonReader::kUnexpectedEnd);
    char c = Peek();
    switch (c) {
      case '{': return ParseDictionary();
      case '[': return ParseList();
      case '"': {
        std::string text;
        if (!ParseString(&text))
          return nullptr;
        return std::make_unique<TextValue>(text);
      }
      case 't': return ParseLiteral("true", std::make_unique<ScalarValue>(true));
      case 'f': return ParseLiteral("false", std::make_unique<ScalarValue>(false));
      case 'n': return ParseLiteral("null", std::make_unique<ScalarValue>());
      default:
        if (c == '-' || IsDigit(c))
          return ParseNumber();
        return Fail(UnexpectedHere());
    }
  }

  std::unique_ptr<Value> ParseLiteral(std::string_view word, std::unique_ptr<Value> value) {
    const std::string_view rest = input_.substr(pos_, word.size());
    if (rest != word) {
      // "tru" at the end of the text is cut short; "trux" is wrong.
      return Fail(rest.size() < word.size() && word.substr(0, rest.size()) == rest
                      ? JsonReader::kUnexpectedEnd
                      : JsonReader::kUnexpectedToken);
    }
    pos_ += word.size();
    return value;
  }

  // Entered at '['.
  std::unique_ptr<Value> ParseList() {
    if (depth_ >= JsonReader::kMaxDepth)
      return Fail(JsonReader::kTooMuchNesting);
    ++depth_;
    ++pos_;
    auto list = std::make_unique<ListValue>();
    SkipWhitespace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      --depth_;
      return list;
    }
    while (true) {
      std::unique_ptr<Value> item = ParseValue();
      if (!item)
        return nullptr;
      list->Append(std::move(item));
      SkipWhitespace();
      if (AtEnd())
        return Fail(JsonReader::kUnexpectedEnd);
      char c = Peek();
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c != ',')
        return Fail(IsCommentStart() ? JsonReader::kCommentNotAllowed : JsonReader::kSyntaxError);
      ++pos_;
      SkipWhitespace();
      if (!AtEnd() && Peek() == ']')
        return Fail(JsonReader::kTrailingComma);
    }
    --depth_;
    return list;
  }

  // Entered at '{'.
  std::unique_ptr<Value> ParseDictionary() {
    if (depth_ >= JsonReader::kMaxDepth)
      return Fail(JsonReader::kTooMuchNesting);
    ++depth_;
    ++pos_;
    auto dict = std::make_unique<DictValue>();
    SkipWhitespace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      --depth_;
      return dict;
    }
    while (true) {
      SkipWhitespace();
      if (AtEnd())
        return Fail(JsonReader::kUnexpectedEnd);
      char c = Peek();
      if (c != '"') {
        bool identifier_start =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || IsDigit(c);
        return Fail(identifier_start ? JsonReader::kUnquotedDictionaryKey : UnexpectedHere());
      }
      std::string key;
      if (!ParseString(&key))
        return nullptr;
      SkipWhitespace();
      if (AtEnd())
        return Fail(JsonReader::kUnexpectedEnd);
      if (Peek() != ':')
        return Fail(IsCommentStart() ? JsonReader::kCommentNotAllowed : JsonReader::kSyntaxError);
      ++pos_;
      std::unique_ptr<Value> value = ParseValue();
      if (!value)
        return nullptr;
      // A repeated key keeps the last value, as most producers expect.
      dict->SetWithoutPathExpansion(key, std::move(value));
      SkipWhitespace();
      if (AtEnd())
        return Fail(JsonReader::kUnexpectedEnd);
      c = Peek();
      if (c == '}') {
        ++pos_;
        break;
      }
      if (c != ',')
        return Fail(IsCommentStart() ? JsonReader::kCommentNotAllowed : JsonReader::kSyntaxError);
      ++pos_;
      SkipWhitespace();
      if (!AtEnd() && Peek() == '}')
        return Fail(JsonReader::kTrailingComma);
    }
    --depth_;
    return dict;
  }

  // Four hex digits at |pos|; -1 when they are not there.
  int ReadHex4(size_t pos) const {
    if (pos > input_.size() || input_.size() - pos < 4)
      return -1;
    int value = 0;
    for (size_t i = 0; i < 4; ++i) {
      int digit = HexDigitValue(input_[pos + i]);
      if (digit < 0)
        return -1;
      value = (value << 4) | digit;
    }
    return value;
  }

  // Entered at '"'; leaves |pos_| after the closing quote.
  bool ParseString(std::string* out) {
    ++pos_;
    while (true) {
      if (AtEnd()) {
        Fail(JsonReader::kUnexpectedEnd);
        return false;
      }
      const unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\') {
        if (!ParseEscape(out))
          return false;
        continue;
      }
      if (c < 0x20) {
        Fail(JsonReader::kControlCharacterInString);
        return false;
      }
      if (c < 0x80) {
        out->push_back(static_cast<char>(c));
        ++pos_;
        continue;
      }
      size_t next = pos_;
      uint32_t code_point = 0;
      if (!utf8_internal::DecodeUtf8(input_, &next, &code_point)) {
        Fail(JsonReader::kInvalidUtf8);
        return false;
      }
      out->append(input_.substr(pos_, next - pos_));
      pos_ = next;
    }
  }

  // Entered at '\\'.
  bool ParseEscape(std::string* out) {
    if (pos_ + 1 >= input_.size()) {
      Fail(JsonReader::kUnexpectedEnd);
      return false;
    }
    const char kind = input_[pos_ + 1];
    char simple = 0;
    switch (kind) {
      case '"':
      case '\\':
      case '/': simple = kind; break;
      case 'b': simple = '\b'; break;
      case 'f': simple = '\f'; break;
      case 'n': simple = '\n'; break;
      case 'r': simple = '\r'; break;
      case 't': simple = '\t'; break;
      case 'u': break;
      default: Fail(JsonReader::kInvalidEscape); return false;
    }
    if (kind != 'u') {
      out->push_back(simple);
      pos_ += 2;
      return true;
    }

    int unit = ReadHex4(pos_ + 2);
    if (unit < 0) {
      Fail(JsonReader::kInvalidEscape);
      return false;
    }
    pos_ += 6;
    uint32_t code_point = static_cast<uint32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      // Joined with a following low-surrogate escape; alone it is replaced.
      int low = -1;
      if (pos_ + 1 < input_.size() && input_[pos_] == '\\' && input_[pos_ + 1] == 'u')
        low = ReadHex4(pos_ + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code_point =
            0x10000 + ((code_point - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
        pos_ += 6;
      } else {
        code_point = kReplacementCharacter;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      code_point = kReplacementCharacter;
    }
    utf8_internal::AppendUtf8(code_point, out);
    return true;
  }

  // Entered at '-' or a digit.
  std::unique_ptr<Value> ParseNumber() {
    const size_t start = pos_;
    if (Peek() == '-')
      ++pos_;
    if (AtEnd() || !IsDigit(Peek()))
      return Fail(JsonReader::kInvalidNumber);
    if (Peek() == '0') {
      ++pos_;
      if (!AtEnd() && IsDigit(Peek()))
        return Fail(JsonReader::kInvalidNumber);  // Leading zero.
    } else {
      while (!AtEnd() && IsDigit(Peek()))
        ++pos_;
    }
    bool integral = true;
    if (!AtEnd() && Peek() == '.') {
      integral = false;
      ++pos_;
      if (AtEnd() || !IsDigit(Peek()))
        return Fail(JsonReader::kInvalidNumber);
      while (!AtEnd() && IsDigit(Peek()))
        ++pos_;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-'))
        ++pos_;
      if (AtEnd() || !IsDigit(Peek()))
        return Fail(JsonReader::kInvalidNumber);
      while (!AtEnd() && IsDigit(Peek()))
        ++pos_;
    }
    const std::string_view text = input_.substr(start, pos_ - start);

    // At most ten digits and a sign cannot overflow 64 bits.
    if (integral && text.size() <= 11) {
      int64_t value = 0;
      for (char c : text) {
        if (c != '-')
          value = value * 10 + (c - '0');
      }
      if (text[0] == '-')
        value = -value;
      if (value >= INT32_MIN && value <= INT32_MAX)
        return std::make_unique<ScalarValue>(static_cast<int>(value));
    }

    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
      // Overflow fails; underflow reads as the nearest representable value.
      value = std::strtod(std::string(text).c_str(), nullptr);
    } else if (ec != std::errc() || end != text.data() + text.size()) {
      return FailAt(JsonReader::kInvalidNumber, start);
    }
    if (!std::isfinite(value))
      return FailAt(JsonReader::kNumberOutOfRange, start);
    return std::make_unique<ScalarValue>(value);
  }

  std::string_view input_;
  size_t pos_ = 0;
  int depth_ = 0;
  int error_code_ = JsonReader::kNoError;
  size_t error_pos_ = 0;
};

}  // namespace

// static
std::unique_ptr<Value> JsonReader::Read(std::string_view json) {
  int error_code = kNoError;
  std::string error_message;
  std::unique_ptr<Value> root = ReadAndReturnError(json, &error_code, &error_message);
  if (!root)
    LOG(ERROR) << "Cannot parse JSON: " << error_message;
  return root;
}

// static
std::unique_ptr<Value> JsonReader::ReadAndReturnError(std::string_view json, int* error_code,
                                                      std::string* error_message) {
  Parser parser(json);
  std::unique_ptr<Value> root = parser.Parse();
  if (error_code)
    *error_code = root ? kNoError : parser.error_code();
  if (error_message) {
    if (root)
      error_message->clear();
    else
      *error_message = parser.ErrorMessage();
  }
  return root;
}

// static
const char* JsonReader::ErrorCodeToString(int error_code) {
  switch (error_code) {
    case kNoError: return "";
    case kInvalidEscape: return "Invalid escape sequence.";
    case kSyntaxError: return "Syntax error.";
    case kUnexpectedToken: return "Unexpected token.";
    case kTrailingComma: return "Trailing comma not allowed.";
    case kTooMuchNesting: return "Too much nesting.";
    case kUnexpectedDataAfterRoot: return "Unexpected data after root element.";
    case kInvalidUtf8: return "Invalid UTF-8 sequence.";
    case kUnquotedDictionaryKey: return "Dictionary keys must be quoted.";
    case kInvalidNumber: return "Invalid number.";
    case kNumberOutOfRange: return "Number out of range.";
    case kControlCharacterInString: return "Unescaped control character in string.";
    case kUnexpectedEnd: return "Unexpected end of input.";
    case kCommentNotAllowed: return "Comments are not allowed.";
    default: return "Unknown error.";
  }
}

}  // namespace base
