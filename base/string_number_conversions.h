// Conversions between numbers and text.
//
// Naming: a "16" suffix (StringToUint16, IntToString16, ...) means UTF-16
// (std::wstring) TEXT, never a 16-bit number. StringToUint16 reads UTF-16 text
// into an unsigned 32-bit number.
#ifndef BASE_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRING_NUMBER_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace base {

// ---------------------------------------------------------------------------
// Numbers to decimal text.

std::string IntToString(int value);
std::wstring IntToString16(int value);
std::string UintToString(unsigned value);
std::wstring UintToString16(unsigned value);
std::string Int64ToString(int64_t value);
std::wstring Int64ToString16(int64_t value);
std::string Uint64ToString(uint64_t value);
std::wstring Uint64ToString16(uint64_t value);

// Overloads for generic code. (long is 32 bits on Windows.)
std::string NumberToString(int value);
std::string NumberToString(unsigned value);
std::string NumberToString(long value);
std::string NumberToString(unsigned long value);
std::string NumberToString(long long value);
std::string NumberToString(unsigned long long value);
std::string NumberToString(double value);  // FormatDoubleShortest
std::wstring NumberToString16(int value);
std::wstring NumberToString16(unsigned value);
std::wstring NumberToString16(long value);
std::wstring NumberToString16(unsigned long value);
std::wstring NumberToString16(long long value);
std::wstring NumberToString16(unsigned long long value);
std::wstring NumberToString16(double value);

// ---------------------------------------------------------------------------
// Decimal text to numbers.
//
// Each returns true only when the WHOLE text is a decimal number that fits
// the type:
//  - digits '0'-'9' only, at least one; leading zeros are fine ("007" is 7);
//  - signed types accept one leading '-' ("-0" is 0); unsigned types reject
//    any '-';
//  - no '+' sign, no whitespace anywhere (" 1", "1 " fail), no "0x", no
//    other character ("12a" fails), and the empty text fails;
//  - a value out of the type's range fails (no clamping): "2147483647" and
//    "-2147483648" are ints, "2147483648" is not.
// On success *output receives the value; on failure *output is left
// UNCHANGED. |output| may be null to only validate.

bool StringToInt(std::string_view input, int* output);
bool StringToInt16(std::wstring_view input, int* output);
bool StringToInt64(std::string_view input, int64_t* output);
bool StringToInt64_16(std::wstring_view input, int64_t* output);
bool StringToUint(std::string_view input, uint32_t* output);
bool StringToUint16(std::wstring_view input, uint32_t* output);
bool StringToUint64(std::string_view input, uint64_t* output);
bool StringToUint64_16(std::wstring_view input, uint64_t* output);
bool StringToSizeT(std::string_view input, size_t* output);

// ---------------------------------------------------------------------------
// Hexadecimal.

// Hexadecimal text to a number: an optional "0x" or "0X" prefix, then one or
// more hex digits (either case; leading zeros fine); no sign, no whitespace.
// False when anything else is present, when no digit follows the prefix, or
// when the value does not fit. On failure *output is left unchanged.
bool HexStringToUint64(std::string_view input, uint64_t* output);
bool HexStringToUint(std::string_view input, uint32_t* output);

// Bytes to UPPER-CASE hexadecimal, two digits per byte ({0x0a, 0xff} gives
// "0AFF"); no bytes give "".
std::string HexEncode(const void* bytes, size_t size);
std::string HexEncode(std::string_view bytes);
inline std::string HexEncode(const std::vector<uint8_t>& bytes) {
  return HexEncode(bytes.data(), bytes.size());
}

// Two hexadecimal digits (either case) per byte, no prefix, no separators.
// False on an odd length, the empty text, or any non-hex character. On
// success *output is replaced by the bytes; on failure it is left unchanged.
bool HexStringToBytes(std::string_view input, std::vector<uint8_t>* output);
// The same into a byte string.
bool HexStringToString(std::string_view input, std::string* output);

// ---------------------------------------------------------------------------
// Doubles.

// The shortest text that reads back (strtod) as exactly the same double,
// through std::to_chars (plain form or exponent form, whichever is shorter;
// ties take the plain form):
//   1.0 -> "1", 100.0 -> "100", 0.1 -> "0.1", -2.5 -> "-2.5",
//   1e21 -> "1e+21", 1e-7 -> "1e-07", 5e-324 -> "5e-324", -0.0 -> "-0".
// Integral values get NO ".0": a JSON writer that wants doubles to stay
// doubles on reading back appends ".0" itself when the result has none of
// '.', 'e', "inf"/"nan" letters.
// Non-finite values: NaN -> "NaN", +inf -> "Infinity", -inf -> "-Infinity"
// (JavaScript's spellings). These are NOT valid JSON: a JSON writer must test
// std::isfinite first and decide (fail, or write null).
std::string FormatDoubleShortest(double value);

// Decimal text (strtod syntax restricted to: optional '-', digits, optional
// fraction, optional exponent; no whitespace, no hex, no inf/nan) to a
// double. False when the whole text is not such a number or the value
// overflows to infinity. On failure *output is left unchanged.
bool StringToDouble(std::string_view input, double* output);

}  // namespace base

#endif  // BASE_STRING_NUMBER_CONVERSIONS_H_
