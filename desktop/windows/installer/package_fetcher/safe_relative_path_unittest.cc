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

// Each refused name is refused for what is really wrong with it: only
// names that could lead out of the folder are said to.
TEST(SafeRelativePathTest, RefusesEachNameForItsFault) {
  const std::wstring with_null(L"a\0b", 3);
  const wchar_t lone_high[] = {L'a', 0xD800, L'b', 0};
  const wchar_t lone_low[] = {L'a', 0xDC00, 0};
  const wchar_t high_at_end[] = {L'a', 0xD83D, 0};
  const wchar_t swapped[] = {0xDE00, 0xD83D, 0};
  const wchar_t superscript_port[] = {L'C', L'O', L'M', 0xB9, 0};
  const std::wstring too_long(kMaxEntryNameLength + 1, L'a');
  struct Case {
    std::wstring_view name;
    NameFault fault;
    std::wstring_view at;  // Where the fault lies.
  } cases[] = {
      {L"", NameFault::kEmpty, L""},
      {too_long, NameFault::kTooLong, too_long},
      {L"..", NameFault::kLeavesFolder, L".."},
      {L"..\\x", NameFault::kLeavesFolder, L".."},
      {L"a\\..\\..\\x", NameFault::kLeavesFolder, L".."},
      {L"a/../x", NameFault::kLeavesFolder, L".."},
      {L"...", NameFault::kDotsAndSpaces, L"..."},
      {L"a\\.. \\x", NameFault::kDotsAndSpaces, L".. "},
      {L"C:\\x", NameFault::kLeavesFolder, L"C:\\x"},
      {L"C:x", NameFault::kLeavesFolder, L"C:x"},
      {L"\\x", NameFault::kLeavesFolder, L"\\x"},
      {L"/x", NameFault::kLeavesFolder, L"/x"},
      {L"\\\\server\\share\\x", NameFault::kLeavesFolder, L"\\\\server\\share\\x"},
      {L"\\\\?\\C:\\x", NameFault::kLeavesFolder, L"\\\\?\\C:\\x"},
      // A drive of one letter, where a stream needs a file's name.
      {L"a:b", NameFault::kLeavesFolder, L"a:b"},
      {L"ab:c", NameFault::kStream, L"ab"},
      {L"dir\\a.txt:stream", NameFault::kStream, L"a.txt"},
      {L"a\tb", NameFault::kControlCharacter, L"\t"},
      {with_null, NameFault::kControlCharacter, std::wstring_view(L"\0", 1)},
      {lone_high, NameFault::kBrokenUtf16, std::wstring_view(lone_high + 1, 1)},
      {lone_low, NameFault::kBrokenUtf16, std::wstring_view(lone_low + 1, 1)},
      {high_at_end, NameFault::kBrokenUtf16, std::wstring_view(high_at_end + 1, 1)},
      {swapped, NameFault::kBrokenUtf16, std::wstring_view(swapped, 1)},
      {L"a\\\\b", NameFault::kEmptyPart, L""},
      {L"a\\", NameFault::kEmptyPart, L""},
      {L".", NameFault::kDotsAndSpaces, L"."},
      {L". .", NameFault::kDotsAndSpaces, L". ."},
      {L"a\\ .\\b", NameFault::kDotsAndSpaces, L" ."},
      {L"CON", NameFault::kDeviceName, L"CON"},
      {L"aux.txt", NameFault::kDeviceName, L"aux.txt"},
      {L"dir\\NUL.dll", NameFault::kDeviceName, L"NUL.dll"},
      {L"COM1", NameFault::kDeviceName, L"COM1"},
      {L"LPT9 .log", NameFault::kDeviceName, L"LPT9 .log"},
      {L"CONIN$", NameFault::kDeviceName, L"CONIN$"},
      {superscript_port, NameFault::kDeviceName, superscript_port},
  };
  for (const Case& c : cases) {
    const NameCheck check = CheckRelativePath(c.name, true);
    const std::wstring name(c.name);
    EXPECT_EQ(c.fault, check.fault) << name;
    EXPECT_EQ(std::wstring(c.at), std::wstring(check.at)) << name;
    EXPECT_FALSE(IsSafeRelativePath(c.name, true)) << name;
  }
  EXPECT_EQ(NameFault::kSeparator, CheckRelativePath(L"dir\\file.exe", false).fault);
  EXPECT_EQ(NameFault::kSeparator, CheckRelativePath(L"dir/file.exe", false).fault);
}

// The words say what Windows would make of the name.
TEST(SafeRelativePathTest, DescribesTheFaultInWords) {
  struct Case {
    const wchar_t* name;
    const char* words;
  } cases[] = {
      {L"..\\x", "has a name that does not stay inside C:\\out"},
      {L"LPT9 .log", "has a name that Windows takes for the device LPT9 in any folder, not a file"},
      {L"aux.txt", "has a name that Windows takes for the device AUX in any folder, not a file"},
      {L"a.txt:stream",
       "has a colon in its name, which Windows takes for a stream of the file \"a.txt\", not a "
       "file of its own"},
      {L"a\x01",
       "has a control character (\\x01) in its name, which no Windows file name may hold"},
      {L"a\\", "has a name with an empty part (two separators together, or one at its end)"},
      {L"a\\.\\b",
       "has a name with a part made only of dots and spaces (\".\"), which Windows does not keep "
       "as a name"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.words, DescribeNameFault(CheckRelativePath(c.name, true), "C:\\out")) << c.name;
}

}  // namespace
}  // namespace installer
