#include "base/string_number_conversions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

namespace base {

namespace {

// Decimal text of an integer, any character width.
template <typename Char, typename Int>
std::basic_string<Char> IntToStringT(Int value) {
  using Unsigned = std::make_unsigned_t<Int>;
  Char buffer[24];  // 20 digits of uint64 + sign
  Char* end = buffer + sizeof(buffer) / sizeof(Char);
  Char* p = end;
  bool negative = value < 0;
  // Negate in the unsigned type so that the minimum value works.
  Unsigned magnitude = negative ? static_cast<Unsigned>(0u - static_cast<Unsigned>(value))
                                : static_cast<Unsigned>(value);
  do {
    *--p = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative)
    *--p = static_cast<Char>('-');
  return std::basic_string<Char>(p, end);
}

template <typename Char>
int DigitValue(Char c, int base) {
  int value;
  if (c >= Char('0') && c <= Char('9'))
    value = c - Char('0');
  else if (c >= Char('a') && c <= Char('z'))
    value = c - Char('a') + 10;
  else if (c >= Char('A') && c <= Char('Z'))
    value = c - Char('A') + 10;
  else
    return -1;
  return value < base ? value : -1;
}

// Digits only (no sign, no prefix), at least one. Accumulates into the
// unsigned type; false on overflow past |limit| or a bad character.
template <typename Char, typename Unsigned>
bool ParseMagnitude(std::basic_string_view<Char> digits, int base, Unsigned limit, Unsigned* out) {
  if (digits.empty())
    return false;
  Unsigned value = 0;
  for (Char c : digits) {
    int digit = DigitValue(c, base);
    if (digit < 0)
      return false;
    Unsigned b = static_cast<Unsigned>(base);
    Unsigned d = static_cast<Unsigned>(digit);
    if (value > (limit - d) / b)
      return false;  // value * base + digit > limit
    value = static_cast<Unsigned>(value * b + d);
  }
  *out = value;
  return true;
}

template <typename Int, typename Char>
bool StringToIntT(std::basic_string_view<Char> input, Int* output) {
  using Unsigned = std::make_unsigned_t<Int>;
  bool negative = false;
  if (!input.empty() && input[0] == Char('-')) {
    if (!std::is_signed_v<Int>)
      return false;
    negative = true;
    input.remove_prefix(1);
  }
  constexpr Unsigned kMax = static_cast<Unsigned>(std::numeric_limits<Int>::max());
  // The magnitude of the minimum: max + 1 for two's complement signed types.
  Unsigned limit = negative ? static_cast<Unsigned>(kMax + 1u) : kMax;
  Unsigned magnitude;
  if (!ParseMagnitude(input, 10, limit, &magnitude))
    return false;
  if (output) {
    *output = negative ? static_cast<Int>(0u - magnitude)  // wraps to the negative value
                       : static_cast<Int>(magnitude);
  }
  return true;
}

template <typename Unsigned>
bool HexStringToUnsignedT(std::string_view input, Unsigned* output) {
  if (input.size() >= 2 && input[0] == '0' && (input[1] == 'x' || input[1] == 'X'))
    input.remove_prefix(2);
  Unsigned value;
  if (!ParseMagnitude(input, 16, std::numeric_limits<Unsigned>::max(), &value))
    return false;
  if (output)
    *output = value;
  return true;
}

}  // namespace

std::string IntToString(int value) { return IntToStringT<char>(value); }
std::wstring IntToString16(int value) { return IntToStringT<wchar_t>(value); }
std::string UintToString(unsigned value) { return IntToStringT<char>(value); }
std::wstring UintToString16(unsigned value) { return IntToStringT<wchar_t>(value); }
std::string Int64ToString(int64_t value) { return IntToStringT<char>(value); }
std::wstring Int64ToString16(int64_t value) { return IntToStringT<wchar_t>(value); }
std::string Uint64ToString(uint64_t value) { return IntToStringT<char>(value); }
std::wstring Uint64ToString16(uint64_t value) { return IntToStringT<wchar_t>(value); }

std::string NumberToString(int value) { return IntToStringT<char>(value); }
std::string NumberToString(unsigned value) { return IntToStringT<char>(value); }
std::string NumberToString(long value) { return IntToStringT<char>(value); }
std::string NumberToString(unsigned long value) { return IntToStringT<char>(value); }
std::string NumberToString(long long value) { return IntToStringT<char>(value); }
std::string NumberToString(unsigned long long value) { return IntToStringT<char>(value); }
std::string NumberToString(double value) { return FormatDoubleShortest(value); }
std::wstring NumberToString16(int value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(unsigned value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(long value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(unsigned long value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(long long value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(unsigned long long value) { return IntToStringT<wchar_t>(value); }
std::wstring NumberToString16(double value) {
  std::string narrow = FormatDoubleShortest(value);
  return std::wstring(narrow.begin(), narrow.end());  // ASCII only
}

bool StringToInt(std::string_view input, int* output) { return StringToIntT(input, output); }
bool StringToInt16(std::wstring_view input, int* output) { return StringToIntT(input, output); }
bool StringToInt64(std::string_view input, int64_t* output) { return StringToIntT(input, output); }
bool StringToInt64_16(std::wstring_view input, int64_t* output) {
  return StringToIntT(input, output);
}
bool StringToUint(std::string_view input, uint32_t* output) { return StringToIntT(input, output); }
bool StringToUint16(std::wstring_view input, uint32_t* output) {
  return StringToIntT(input, output);
}
bool StringToUint64(std::string_view input, uint64_t* output) {
  return StringToIntT(input, output);
}
bool StringToUint64_16(std::wstring_view input, uint64_t* output) {
  return StringToIntT(input, output);
}
bool StringToSizeT(std::string_view input, size_t* output) { return StringToIntT(input, output); }

bool HexStringToUint64(std::string_view input, uint64_t* output) {
  return HexStringToUnsignedT(input, output);
}
bool HexStringToUint(std::string_view input, uint32_t* output) {
  return HexStringToUnsignedT(input, output);
}

std::string HexEncode(const void* bytes, size_t size) {
  static const char kHexChars[] = "0123456789ABCDEF";
  const auto* data = static_cast<const uint8_t*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[2 * i] = kHexChars[data[i] >> 4];
    result[2 * i + 1] = kHexChars[data[i] & 0x0F];
  }
  return result;
}

std::string HexEncode(std::string_view bytes) { return HexEncode(bytes.data(), bytes.size()); }

namespace {

template <typename Container>
bool HexStringToBytesT(std::string_view input, Container* output) {
  if (input.empty() || input.size() % 2 != 0)
    return false;
  Container result;
  result.reserve(input.size() / 2);
  for (size_t i = 0; i < input.size(); i += 2) {
    int high = DigitValue(input[i], 16);
    int low = DigitValue(input[i + 1], 16);
    if (high < 0 || low < 0)
      return false;
    result.push_back(static_cast<typename Container::value_type>((high << 4) | low));
  }
  *output = std::move(result);
  return true;
}

}  // namespace

bool HexStringToBytes(std::string_view input, std::vector<uint8_t>* output) {
  return HexStringToBytesT(input, output);
}

bool HexStringToString(std::string_view input, std::string* output) {
  return HexStringToBytesT(input, output);
}

std::string FormatDoubleShortest(double value) {
  if (std::isnan(value))
    return "NaN";
  if (std::isinf(value))
    return value < 0 ? "-Infinity" : "Infinity";
  char buffer[64];
  std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  if (result.ec != std::errc())
    return std::string();  // cannot happen: 64 characters hold any double
  return std::string(buffer, result.ptr);
}

bool StringToDouble(std::string_view input, double* output) {
  // Check the syntax ourselves: -?digits(.digits)?([eE][+-]?digits)?
  size_t i = 0;
  const size_t n = input.size();
  if (i < n && input[i] == '-')
    ++i;
  size_t int_begin = i;
  while (i < n && input[i] >= '0' && input[i] <= '9')
    ++i;
  size_t int_digits = i - int_begin;
  size_t frac_digits = 0;
  if (i < n && input[i] == '.') {
    ++i;
    size_t frac_begin = i;
    while (i < n && input[i] >= '0' && input[i] <= '9')
      ++i;
    frac_digits = i - frac_begin;
  }
  if (int_digits == 0 && frac_digits == 0)
    return false;
  if (i < n && (input[i] == 'e' || input[i] == 'E')) {
    ++i;
    if (i < n && (input[i] == '+' || input[i] == '-'))
      ++i;
    size_t exp_begin = i;
    while (i < n && input[i] >= '0' && input[i] <= '9')
      ++i;
    if (i == exp_begin)
      return false;
  }
  if (i != n)
    return false;

  double value = 0;
  std::from_chars_result result = std::from_chars(input.data(), input.data() + n, value);
  if (result.ptr != input.data() + n)
    return false;
  if (result.ec == std::errc::result_out_of_range) {
    // Overflow fails; underflow reads as a zero of the right sign. Tell them
    // apart by the decimal magnitude: |magnitude| is first the position of
    // the first non-zero digit among all digits (1-based).
    long long magnitude = 0;
    bool seen_nonzero = false;
    long long position = 0;  // digits before the point, counted from the left
    size_t j = input[0] == '-' ? 1 : 0;
    for (; j < n && input[j] != 'e' && input[j] != 'E'; ++j) {
      if (input[j] == '.')
        continue;
      ++position;
      if (!seen_nonzero && input[j] != '0') {
        seen_nonzero = true;
        magnitude = position;
      }
    }
    long long exponent = 0;
    if (j < n) {
      ++j;
      bool exp_negative = false;
      if (input[j] == '+' || input[j] == '-')
        exp_negative = input[j++] == '-';
      for (; j < n; ++j) {
        if (exponent < 100000)
          exponent = exponent * 10 + (input[j] - '0');
      }
      if (exp_negative)
        exponent = -exponent;
    }
    // The value is about 10^(int_digits - magnitude + exponent).
    magnitude = static_cast<long long>(int_digits) - magnitude + exponent;
    if (magnitude > 0)
      return false;  // overflow
    value = input[0] == '-' ? -0.0 : 0.0;
  } else if (result.ec != std::errc()) {
    return false;
  }
  if (std::isinf(value))
    return false;
  if (output)
    *output = value;
  return true;
}

}  // namespace base
