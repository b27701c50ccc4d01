#include "desktop/windows/installer/package_fetcher/archive_entry_names.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ArchiveEntryNamesTest, EscapesWhatALogLineCannotHold) {
  EXPECT_EQ("dir\\a.txt", EscapeEntryName(L"dir\\a.txt"));
  EXPECT_EQ("a\\x0At\\x7F\\x1B", EscapeEntryName(L"a\nt\x7F\x1B"));
  EXPECT_EQ("\xC3\xA9t\xC3\xA9", EscapeEntryName(L"\x00E9t\x00E9"));
  // A pair of surrogates is one character; a lone one cannot be UTF-8.
  EXPECT_EQ("\xF0\x9F\x98\x80", EscapeEntryName(L"\xD83D\xDE00"));
  EXPECT_EQ("a\\uD800b", EscapeEntryName(L"a\xD800"
                                         L"b"));
  EXPECT_EQ("abc... (6 characters)", EscapeEntryName(L"abcdef", 3));
}

TEST(ArchiveEntryNamesTest, LongestComponent) {
  EXPECT_EQ(0u, LongestNameComponent(L""));
  EXPECT_EQ(4u, LongestNameComponent(L"ab\\abcd/a"));
  EXPECT_EQ(300u, LongestNameComponent(L"x\\" + std::wstring(300, L'b')));
}

TEST(ArchiveEntryNamesTest, NamesOfOneFileOnWindows) {
  struct Case {
    std::vector<std::wstring> names;
    bool same;
    size_t first, second;
  } cases[] = {
      {{L"a.txt", L"b.txt", L"dir\\a.txt"}, false, 0, 0},
      {{L"a.txt", L"installer.exe", L"INSTALLER.EXE"}, true, 1, 2},
      {{L"dir\\Sub\\x", L"other", L"DIR/sub/X"}, true, 0, 2},
      // Windows drops dots and spaces at the end of each component.
      {{L"installer.exe", L"installer.exe. ."}, true, 0, 1},
      {{L"dir. \\x", L"dir\\x"}, true, 0, 1},
      {{L"\x00E9t\x00E9", L"\x00C9T\x00C9"}, true, 0, 1},
      {{L"a.txt", L"a.txt.bak"}, false, 0, 0},
  };
  for (const Case& c : cases) {
    size_t first = 99, second = 99;
    EXPECT_EQ(c.same, FindSameFileNames(c.names, &first, &second)) << c.names.back();
    if (c.same) {
      EXPECT_EQ(c.first, first);
      EXPECT_EQ(c.second, second);
    }
  }
}

// A file where another entry needs a folder, as Windows compares names;
// a folder entry of that name is no conflict.
TEST(ArchiveEntryNamesTest, FileInPlaceOfAFolder) {
  struct Case {
    std::vector<std::wstring> names;
    std::vector<bool> is_folder;
    bool found;
    size_t file, below;
  } cases[] = {
      {{L"x", L"x\\y"}, {false, false}, true, 0, 1},
      {{L"A\\b\\c", L"a/B"}, {false, false}, true, 1, 0},
      {{L"x", L"x\\y"}, {true, false}, false, 0, 0},
      {{L"a.txt", L"a.txt.d\\y", L"b\\a.txt"}, {false, false, false}, false, 0, 0},
  };
  for (const Case& c : cases) {
    size_t file = 99, below = 99;
    EXPECT_EQ(c.found, FindFileInPlaceOfFolder(c.names, c.is_folder, &file, &below)) << c.names[1];
    if (c.found) {
      EXPECT_EQ(c.file, file);
      EXPECT_EQ(c.below, below);
    }
  }
}

TEST(ArchiveEntryNamesTest, PartsEndingInADotOrASpace) {
  std::wstring_view part;
  EXPECT_TRUE(FindComponentEndingInDotOrSpace(L"a\\dir \\file.txt", &part));
  EXPECT_EQ(L"dir ", part);
  EXPECT_TRUE(FindComponentEndingInDotOrSpace(L"dir/file.", &part));
  EXPECT_EQ(L"file.", part);
  EXPECT_FALSE(FindComponentEndingInDotOrSpace(L"a .b\\.c\\d", &part));
}

}  // namespace
}  // namespace installer
