#include "base/trace_event/string_tokenizer.h"

namespace base::trace_event {

bool StringTokenizer::GetNext() {
  token_is_separator_ = false;
  for (;;) {
    if (position_ >= text_.size())
      return false;
    const size_t start = position_;
    if (IsSeparator(text_[position_])) {
      ++position_;
      if (return_separators_) {
        token_ = text_.substr(start, 1);
        token_is_separator_ = true;
        return true;
      }
      continue;
    }
    char open_quote = 0;
    bool escaped = false;
    while (position_ < text_.size()) {
      const char c = text_[position_];
      if (open_quote) {
        if (escaped)
          escaped = false;
        else if (c == '\\')
          escaped = true;
        else if (c == open_quote)
          open_quote = 0;
      } else if (IsSeparator(c)) {
        break;
      } else if (IsQuote(c)) {
        open_quote = c;
      }
      ++position_;
    }
    token_ = text_.substr(start, position_ - start);
    return true;
  }
}

}  // namespace base::trace_event
