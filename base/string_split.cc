#include "base/string_split.h"

#include "base/string_util.h"

namespace base {

namespace {

template <typename Char>
std::basic_string_view<Char> WhitespaceFor();
template <>
std::basic_string_view<char> WhitespaceFor<char>() {
  return kWhitespaceASCII;
}
template <>
std::basic_string_view<wchar_t> WhitespaceFor<wchar_t>() {
  return kWhitespaceWide;
}

// Splits at any character of |separators| (|is_substr| false) or at each
// occurrence of the whole |separators| text (|is_substr| true).
template <typename Char, typename Out>
std::vector<Out> SplitT(std::basic_string_view<Char> input, std::basic_string_view<Char> separators,
                        bool is_substr, WhitespaceHandling whitespace, SplitResult result_type) {
  std::vector<Out> result;
  if (input.empty())
    return result;
  constexpr size_t npos = std::basic_string_view<Char>::npos;
  size_t start = 0;
  while (true) {
    size_t end;
    size_t skip;
    if (separators.empty()) {
      end = npos;
      skip = 0;
    } else if (is_substr) {
      end = input.find(separators, start);
      skip = separators.size();
    } else {
      end = input.find_first_of(separators, start);
      skip = 1;
    }
    std::basic_string_view<Char> piece = input.substr(start, end == npos ? npos : end - start);
    if (whitespace == TRIM_WHITESPACE)
      piece = TrimStringView(piece, WhitespaceFor<Char>(), TRIM_ALL);
    if (result_type == SPLIT_WANT_ALL || !piece.empty())
      result.emplace_back(piece);
    if (end == npos)
      break;
    start = end + skip;
  }
  return result;
}

}  // namespace

std::vector<std::string> SplitString(std::string_view input, std::string_view separators,
                                     WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitT<char, std::string>(input, separators, false, whitespace, result_type);
}

std::vector<std::wstring> SplitString16(std::wstring_view input, std::wstring_view separators,
                                        WhitespaceHandling whitespace, SplitResult result_type) {
  return SplitT<wchar_t, std::wstring>(input, separators, false, whitespace, result_type);
}

std::vector<std::string_view> SplitIntoSlices(std::string_view input, char separator,
                                              WhitespaceHandling whitespace,
                                              SplitResult result_type) {
  return SplitT<char, std::string_view>(input, std::string_view(&separator, 1), false, whitespace,
                                        result_type);
}

std::vector<std::wstring_view> SplitIntoSlices16(std::wstring_view input, wchar_t separator,
                                                 WhitespaceHandling whitespace,
                                                 SplitResult result_type) {
  return SplitT<wchar_t, std::wstring_view>(input, std::wstring_view(&separator, 1), false,
                                            whitespace, result_type);
}

std::vector<std::string> SplitStringUsingSubstr(std::string_view input, std::string_view delimiter,
                                                WhitespaceHandling whitespace,
                                                SplitResult result_type) {
  return SplitT<char, std::string>(input, delimiter, true, whitespace, result_type);
}

}  // namespace base
