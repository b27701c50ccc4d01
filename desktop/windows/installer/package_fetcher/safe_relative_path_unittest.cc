#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(SafeRelativePathTest, AcceptsOrdinaryRelativeNames) {
  for (const wchar_t* name :
       {L"a.txt", L"dir\\sub\\b.bin", L"dir/sub/b.bin", L".hidden", L"a..b", L"console", L"COM10",
        L"LPT", L"nul2.txt", L"\u00e9t\u00e9.txt", L"\U0001F600.txt"}) {
    EXPECT_TRUE(IsSafeRelativePath(name, true)) << name;
  }
  EXPECT_TRUE(IsSafeRelativePath(std::wstring(kMaxEntryNameLength, L'a'), true));
  EXPECT_TRUE(IsSafeRelativePath(L"file.exe", false));
}

TEST(SafeRelativePathTest, RefusesNamesThatLeaveTheFolder) {
  for (const wchar_t* name : {L"",
                              L"..",
                              L"..\\x",
                              L"a\\..\\..\\x",
                              L"a/../x",
                              L"C:\\x",
                              L"C:x",
                              L"a:b",
                              L"\\x",
                              L"/x",
                              L"\\\\server\\share\\x",
                              L"\\\\?\\C:\\x",
                              L"a\\\\b",
                              L"a\\",
                              L"...",
                              L". .",
                              L"a\\ .\\b",
                              L"CON",
                              L"con.txt",
                              L"dir\\NUL",
                              L"aux .log",
                              L"COM1",
                              L"lpt9.x",
                              L"CONIN$",
                              L"a\tb"}) {
    EXPECT_FALSE(IsSafeRelativePath(name, true)) << name;
  }
  EXPECT_FALSE(IsSafeRelativePath(std::wstring(kMaxEntryNameLength + 1, L'a'), true));
  EXPECT_FALSE(IsSafeRelativePath(L"dir\\file.exe", false));
  EXPECT_FALSE(IsSafeRelativePath(L"dir/file.exe", false));
}

TEST(SafeRelativePathTest, RefusesBrokenUtf16) {
  const wchar_t lone_high[] = {L'a', 0xD800, L'b', 0};
  const wchar_t lone_low[] = {L'a', 0xDC00, 0};
  const wchar_t high_at_end[] = {L'a', 0xD83D, 0};
  const wchar_t swapped[] = {0xDE00, 0xD83D, 0};
  for (const wchar_t* name : {lone_high, lone_low, high_at_end, swapped})
    EXPECT_FALSE(IsSafeRelativePath(name, true));
  const std::wstring with_null(L"a\0b", 3);
  EXPECT_FALSE(IsSafeRelativePath(with_null, true));
}

}  // namespace
}  // namespace installer
