#include "base/string_number_conversions.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringNumberConversionsTest, IntToString) {
  EXPECT_EQ("0", IntToString(0));
  EXPECT_EQ("-1", IntToString(-1));
  EXPECT_EQ("2147483647", IntToString(INT_MAX));
  EXPECT_EQ("-2147483648", IntToString(INT_MIN));
  EXPECT_EQ(L"-2147483648", IntToString16(INT_MIN));
  EXPECT_EQ(L"42", IntToString16(42));
  EXPECT_EQ("4294967295", UintToString(UINT_MAX));
  EXPECT_EQ(L"4294967295", UintToString16(UINT_MAX));
  EXPECT_EQ("9223372036854775807", Int64ToString(INT64_MAX));
  EXPECT_EQ("-9223372036854775808", Int64ToString(INT64_MIN));
  EXPECT_EQ(L"-9223372036854775808", Int64ToString16(INT64_MIN));
  EXPECT_EQ("18446744073709551615", Uint64ToString(UINT64_MAX));
  EXPECT_EQ(L"18446744073709551615", Uint64ToString16(UINT64_MAX));
  EXPECT_EQ(L"0", Uint64ToString16(0));
  EXPECT_EQ("-5", NumberToString(-5L));
  EXPECT_EQ("5", NumberToString(5ULL));
  EXPECT_EQ("0.5", NumberToString(0.5));
  EXPECT_EQ(L"-7", NumberToString16(-7LL));
  EXPECT_EQ(L"2.5", NumberToString16(2.5));
}

struct IntCase {
  const char* input;
  bool ok;
  int64_t value;
};

TEST(StringNumberConversionsTest, StringToInt) {
  const IntCase cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"-42", true, -42},
      {"-0", true, 0},
      {"007", true, 7},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},  // INT_MIN text accepted
      {"2147483648", false, 0},        // one past INT_MAX
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"12a", false, 0},
      {"a12", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"\t1", false, 0},
      {"1\n", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"+1", false, 0},
      {"--1", false, 0},
      {"1-", false, 0},
      {"0x10", false, 0},
      {"1.5", false, 0},
      {"1e3", false, 0},
      {"\xef\xbc\x91", false, 0},  // fullwidth digit one
  };
  for (const auto& c : cases) {
    int value = 12345;
    EXPECT_EQ(c.ok, StringToInt(c.input, &value)) << c.input;
    EXPECT_EQ(c.ok ? c.value : 12345, value) << c.input;  // unchanged on failure
  }
  // Embedded NUL.
  EXPECT_FALSE(StringToInt(std::string_view("1\0", 2), nullptr));
  // A null output only validates.
  EXPECT_TRUE(StringToInt("5", nullptr));

  int value = 0;
  EXPECT_TRUE(StringToInt16(L"-17", &value));
  EXPECT_EQ(-17, value);
  EXPECT_FALSE(StringToInt16(L"\uff11", &value));   // fullwidth digit
  EXPECT_FALSE(StringToInt16(L"1\u0660", &value));  // Arabic-Indic zero
}

TEST(StringNumberConversionsTest, StringToInt64) {
  int64_t value = 0;
  EXPECT_TRUE(StringToInt64("9223372036854775807", &value));
  EXPECT_EQ(INT64_MAX, value);
  EXPECT_TRUE(StringToInt64("-9223372036854775808", &value));
  EXPECT_EQ(INT64_MIN, value);
  EXPECT_FALSE(StringToInt64("9223372036854775808", &value));
  EXPECT_FALSE(StringToInt64("-9223372036854775809", &value));
  EXPECT_FALSE(StringToInt64("99999999999999999999", &value));
  EXPECT_EQ(INT64_MIN, value);
  EXPECT_TRUE(StringToInt64_16(L"-9223372036854775808", &value));
  EXPECT_EQ(INT64_MIN, value);
  EXPECT_TRUE(StringToInt64_16(L"1234567890123", &value));
  EXPECT_EQ(1234567890123, value);
  EXPECT_FALSE(StringToInt64_16(L"", &value));
  EXPECT_FALSE(StringToInt64_16(L"12a", &value));
  EXPECT_FALSE(StringToInt64_16(L" 1", &value));
  EXPECT_FALSE(StringToInt64_16(L"-", &value));
}

TEST(StringNumberConversionsTest, StringToUint) {
  uint32_t value = 7;
  EXPECT_TRUE(StringToUint("4294967295", &value));
  EXPECT_EQ(UINT32_MAX, value);
  EXPECT_FALSE(StringToUint("4294967296", &value));
  EXPECT_FALSE(StringToUint("-1", &value));
  EXPECT_FALSE(StringToUint("-0", &value));  // a leading "-" fails
  EXPECT_EQ(UINT32_MAX, value);

  value = 7;
  EXPECT_TRUE(StringToUint16(L"4294967295", &value));
  EXPECT_EQ(UINT32_MAX, value);
  EXPECT_TRUE(StringToUint16(L"0", &value));
  EXPECT_EQ(0u, value);
  EXPECT_TRUE(StringToUint16(L"70000", &value));  // UTF-16 text, 32-bit number
  EXPECT_EQ(70000u, value);
  EXPECT_FALSE(StringToUint16(L"4294967296", &value));
  EXPECT_FALSE(StringToUint16(L"-1", &value));
  EXPECT_FALSE(StringToUint16(L"-0", &value));
  EXPECT_FALSE(StringToUint16(L"", &value));
  EXPECT_FALSE(StringToUint16(L"+", &value));
  EXPECT_FALSE(StringToUint16(L"+5", &value));
  EXPECT_FALSE(StringToUint16(L"5 ", &value));
  EXPECT_EQ(70000u, value);
}

TEST(StringNumberConversionsTest, StringToUint64) {
  uint64_t value = 0;
  EXPECT_TRUE(StringToUint64("18446744073709551615", &value));
  EXPECT_EQ(UINT64_MAX, value);
  EXPECT_FALSE(StringToUint64("18446744073709551616", &value));
  EXPECT_FALSE(StringToUint64("99999999999999999999", &value));
  EXPECT_FALSE(StringToUint64("-1", &value));
  EXPECT_FALSE(StringToUint64("", &value));
  EXPECT_TRUE(StringToUint64("00000000000000000000000001", &value));
  EXPECT_EQ(1u, value);
  EXPECT_TRUE(StringToUint64_16(L"18446744073709551615", &value));
  EXPECT_EQ(UINT64_MAX, value);
  EXPECT_FALSE(StringToUint64_16(L"18446744073709551616", &value));
  size_t size = 0;
  EXPECT_TRUE(StringToSizeT("123", &size));
  EXPECT_EQ(123u, size);
}

TEST(StringNumberConversionsTest, HexStringToUint64) {
  uint64_t value = 0;
  EXPECT_TRUE(HexStringToUint64("0", &value));
  EXPECT_EQ(0u, value);
  EXPECT_TRUE(HexStringToUint64("ff", &value));
  EXPECT_EQ(255u, value);
  EXPECT_TRUE(HexStringToUint64("0xDEADbeef", &value));
  EXPECT_EQ(0xdeadbeefu, value);
  EXPECT_TRUE(HexStringToUint64("0XA", &value));
  EXPECT_EQ(10u, value);
  EXPECT_TRUE(HexStringToUint64("ffffffffffffffff", &value));
  EXPECT_EQ(UINT64_MAX, value);
  EXPECT_TRUE(HexStringToUint64("0000ffffffffffffffff", &value));
  EXPECT_EQ(UINT64_MAX, value);
  value = 3;
  EXPECT_FALSE(HexStringToUint64("10000000000000000", &value));  // overflow
  EXPECT_FALSE(HexStringToUint64("", &value));
  EXPECT_FALSE(HexStringToUint64("0x", &value));
  EXPECT_FALSE(HexStringToUint64("g", &value));
  EXPECT_FALSE(HexStringToUint64("12 ", &value));
  EXPECT_FALSE(HexStringToUint64(" 12", &value));
  EXPECT_FALSE(HexStringToUint64("-1", &value));
  EXPECT_FALSE(HexStringToUint64("+1", &value));
  EXPECT_FALSE(HexStringToUint64("0x0x1", &value));
  EXPECT_EQ(3u, value);

  uint32_t value32 = 0;
  EXPECT_TRUE(HexStringToUint("ffffffff", &value32));
  EXPECT_EQ(UINT32_MAX, value32);
  EXPECT_FALSE(HexStringToUint("100000000", &value32));
}

TEST(StringNumberConversionsTest, HexEncode) {
  EXPECT_EQ("", HexEncode(nullptr, 0));
  const uint8_t bytes[] = {0x00, 0x0a, 0x7f, 0x80, 0xff, 0x12};
  EXPECT_EQ("000A7F80FF12", HexEncode(bytes, sizeof(bytes)));
  EXPECT_EQ("616263", HexEncode(std::string_view("abc")));
  EXPECT_EQ("01FE", HexEncode(std::vector<uint8_t>{0x01, 0xfe}));
}

TEST(StringNumberConversionsTest, HexStringToBytes) {
  std::vector<uint8_t> bytes = {9};
  EXPECT_TRUE(HexStringToBytes("000A7f80Ff12", &bytes));
  EXPECT_EQ(std::vector<uint8_t>({0x00, 0x0a, 0x7f, 0x80, 0xff, 0x12}), bytes);
  std::vector<uint8_t> kept = bytes;
  EXPECT_FALSE(HexStringToBytes("", &bytes));     // zero length
  EXPECT_FALSE(HexStringToBytes("abc", &bytes));  // odd length
  EXPECT_FALSE(HexStringToBytes("0g", &bytes));   // bad digit
  EXPECT_FALSE(HexStringToBytes("0x12", &bytes));
  EXPECT_FALSE(HexStringToBytes(" 12", &bytes));
  EXPECT_FALSE(HexStringToBytes("12 ", &bytes));
  EXPECT_EQ(kept, bytes);  // unchanged on failure
  std::string text;
  EXPECT_TRUE(HexStringToString("616263", &text));
  EXPECT_EQ("abc", text);
  // Round trip.
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  EXPECT_TRUE(HexStringToString(HexEncode(all), &text));
  EXPECT_EQ(all, text);
}

TEST(StringNumberConversionsTest, FormatDoubleShortest) {
  EXPECT_EQ("0", FormatDoubleShortest(0.0));
  EXPECT_EQ("-0", FormatDoubleShortest(-0.0));
  EXPECT_EQ("1", FormatDoubleShortest(1.0));  // no ".0": the JSON writer decides
  EXPECT_EQ("100", FormatDoubleShortest(100.0));
  EXPECT_EQ("-2.5", FormatDoubleShortest(-2.5));
  EXPECT_EQ("0.1", FormatDoubleShortest(0.1));
  EXPECT_EQ("0.30000000000000004", FormatDoubleShortest(0.1 + 0.2));
  EXPECT_EQ("1e+21", FormatDoubleShortest(1e21));
  EXPECT_EQ("1e-07", FormatDoubleShortest(1e-7));
  EXPECT_EQ("5e-324", FormatDoubleShortest(5e-324));
  EXPECT_EQ("1.7976931348623157e+308", FormatDoubleShortest(DBL_MAX));
  EXPECT_EQ("9007199254740992", FormatDoubleShortest(9007199254740992.0));
  EXPECT_EQ("123456789012", FormatDoubleShortest(123456789012.0));
  EXPECT_EQ("NaN", FormatDoubleShortest(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("Infinity", FormatDoubleShortest(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("-Infinity", FormatDoubleShortest(-std::numeric_limits<double>::infinity()));

  // Everything reads back as the same double.
  const double values[] = {0.1,      1.0 / 3.0,     2.0 / 3.0, 123456.789,  1e300,
                           1e-300,   DBL_MIN,       DBL_MAX,   DBL_EPSILON, 4.35,
                           0.000123, 6.02214076e23, -1.5e-10};
  for (double v : values) {
    double back = 0;
    std::string text = FormatDoubleShortest(v);
    ASSERT_TRUE(StringToDouble(text, &back)) << text;
    EXPECT_EQ(v, back) << text;
  }
}

TEST(StringNumberConversionsTest, StringToDouble) {
  double value = 0;
  EXPECT_TRUE(StringToDouble("1", &value));
  EXPECT_EQ(1.0, value);
  EXPECT_TRUE(StringToDouble("-0.5", &value));
  EXPECT_EQ(-0.5, value);
  EXPECT_TRUE(StringToDouble(".5", &value));
  EXPECT_EQ(0.5, value);
  EXPECT_TRUE(StringToDouble("5.", &value));
  EXPECT_EQ(5.0, value);
  EXPECT_TRUE(StringToDouble("1.5e3", &value));
  EXPECT_EQ(1500.0, value);
  EXPECT_TRUE(StringToDouble("1E+2", &value));
  EXPECT_EQ(100.0, value);
  EXPECT_TRUE(StringToDouble("25e-1", &value));
  EXPECT_EQ(2.5, value);
  EXPECT_TRUE(StringToDouble("1e-400", &value));  // underflow reads as zero
  EXPECT_EQ(0.0, value);
  EXPECT_TRUE(StringToDouble("-1e-400", &value));
  EXPECT_EQ(0.0, value);
  EXPECT_TRUE(std::signbit(value));
  value = 7;
  EXPECT_FALSE(StringToDouble("1e400", &value));  // overflow
  EXPECT_FALSE(StringToDouble("-1e400", &value));
  EXPECT_FALSE(StringToDouble("", &value));
  EXPECT_FALSE(StringToDouble("-", &value));
  EXPECT_FALSE(StringToDouble(".", &value));
  EXPECT_FALSE(StringToDouble("1e", &value));
  EXPECT_FALSE(StringToDouble("1e+", &value));
  EXPECT_FALSE(StringToDouble(" 1", &value));
  EXPECT_FALSE(StringToDouble("1 ", &value));
  EXPECT_FALSE(StringToDouble("+1", &value));
  EXPECT_FALSE(StringToDouble("0x1p3", &value));
  EXPECT_FALSE(StringToDouble("inf", &value));
  EXPECT_FALSE(StringToDouble("nan", &value));
  EXPECT_FALSE(StringToDouble("1.2.3", &value));
  EXPECT_EQ(7.0, value);
}

}  // namespace
}  // namespace base
