// A cursor over a text that hands out the runs between separator characters.
//
//   StringTokenizer tokens("a,b,,c", ",");
//   while (tokens.GetNext()) Use(tokens.token());   // "a", "b", "c"
//
// With quote characters a separator inside a quoted run (opened and closed by
// the same quote character; a backslash escapes the next character) does not
// end the token. With separators returned, each separator is a token of its
// own.
#ifndef BASE_TRACE_EVENT_STRING_TOKENIZER_H_
#define BASE_TRACE_EVENT_STRING_TOKENIZER_H_

#include <string_view>

namespace base::trace_event {

class StringTokenizer {
 public:
  StringTokenizer(std::string_view text, std::string_view separators)
      : text_(text), separators_(separators) {}

  void set_quote_chars(std::string_view quotes) { quotes_ = quotes; }
  void set_return_separators(bool value) { return_separators_ = value; }

  // Advances to the next token; false when the text is used up.
  bool GetNext();
  std::string_view token() const { return token_; }
  bool token_is_separator() const { return token_is_separator_; }

 private:
  bool IsSeparator(char c) const { return separators_.find(c) != std::string_view::npos; }
  bool IsQuote(char c) const { return quotes_.find(c) != std::string_view::npos; }

  std::string_view text_;
  std::string_view separators_;
  std::string_view quotes_;
  bool return_separators_ = false;
  size_t position_ = 0;
  std::string_view token_;
  bool token_is_separator_ = false;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_STRING_TOKENIZER_H_
