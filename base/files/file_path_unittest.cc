#include "base/files/file_path.h"

#include <sstream>

#include "gtest/gtest.h"

namespace base {
namespace {

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

struct BinaryCase {
  const wchar_t* first;
  const wchar_t* second;
  const wchar_t* expected;
};

std::string Describe(const wchar_t* text) { return FilePath(text).AsUTF8Unsafe(); }

TEST(FilePathTest, DirName) {
  const UnaryCase cases[] = {
      {L"", L"."},
      {L"aa", L"."},
      {L"aa\\", L"."},
      {L"aa\\bb", L"aa"},
      {L"aa\\bb\\", L"aa"},
      {L"aa\\\\bb\\\\", L"aa"},
      {L"aa/bb/cc", L"aa/bb"},
      {L"\\aa", L"\\"},
      {L"\\", L"\\"},
      {L"\\\\server\\share\\dir", L"\\\\server\\share"},
      {L"\\\\server\\share", L"\\\\server"},
      {L"\\\\server", L"\\\\"},
      {L"\\\\", L"\\\\"},
      {L"c:", L"c:"},
      {L"C:\\", L"C:\\"},
      {L"C:\\\\", L"C:\\"},
      {L"C:/", L"C:/"},
      {L"C:aa", L"C:"},
      {L"C:\\aa", L"C:\\"},
      {L"C:\\aa\\", L"C:\\"},
      {L"C:\\aa\\bb.txt", L"C:\\aa"},
      {L"C:/aa/bb/", L"C:/aa"},
  };
  for (const UnaryCase& c : cases) {
    EXPECT_EQ(FilePath(c.expected).value(), FilePath(c.input).DirName().value())
        << "input: " << Describe(c.input);
  }
}

TEST(FilePathTest, BaseName) {
  const UnaryCase cases[] = {
      {L"", L""},
      {L"aa", L"aa"},
      {L"aa\\", L"aa"},
      {L"aa\\bb", L"bb"},
      {L"aa\\bb\\\\", L"bb"},
      {L"aa/bb", L"bb"},
      {L"\\", L"\\"},
      {L"\\\\server", L"server"},
      {L"\\\\server\\share\\", L"share"},
      {L"c:", L""},
      {L"C:\\", L"\\"},
      {L"C:aa", L"aa"},
      {L"C:\\aa\\bb.txt", L"bb.txt"},
      {L"C:/aa/bb/", L"bb"},
  };
  for (const UnaryCase& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.input).BaseName().value())
        << "input: " << Describe(c.input);
  }
}

TEST(FilePathTest, ExtensionAndRemoveExtension) {
  struct Case {
    const wchar_t* input;
    const wchar_t* extension;
    const wchar_t* without;
  };
  const Case cases[] = {
      {L"", L"", L""},
      {L"foo", L"", L"foo"},
      {L"foo.txt", L".txt", L"foo"},
      {L"foo.tar.gz", L".gz", L"foo.tar"},
      {L"C:\\dir.d\\foo", L"", L"C:\\dir.d\\foo"},
      {L"C:\\dir.d\\foo.exe", L".exe", L"C:\\dir.d\\foo"},
      {L"C:\\dir\\foo.exe\\", L".exe", L"C:\\dir\\foo"},
      {L"foo.", L".", L"foo"},
      {L".", L"", L"."},
      {L"..", L"", L".."},
      {L"dir\\..", L"", L"dir\\.."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.extension), FilePath(c.input).Extension())
        << "input: " << Describe(c.input);
    EXPECT_EQ(std::wstring(c.without), FilePath(c.input).RemoveExtension().value())
        << "input: " << Describe(c.input);
  }
}

TEST(FilePathTest, AddAndReplaceExtension) {
  struct Case {
    const wchar_t* input;
    const wchar_t* extension;
    const wchar_t* added;
    const wchar_t* replaced;
  };
  const Case cases[] = {
      {L"", L"txt", L"", L""},
      {L"foo", L"txt", L"foo.txt", L"foo.txt"},
      {L"foo", L".txt", L"foo.txt", L"foo.txt"},
      {L"foo.", L"txt", L"foo.txt", L"foo.txt"},
      {L"foo.exe", L"txt", L"foo.exe.txt", L"foo.txt"},
      {L"foo.exe", L"", L"foo.exe", L"foo"},
      {L"foo.exe", L".", L"foo.exe", L"foo"},
      {L"C:\\dir\\foo.exe\\", L"bak", L"C:\\dir\\foo.exe.bak", L"C:\\dir\\foo.bak"},
      {L"dir\\..", L"txt", L"dir\\..", L"dir\\.."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.added), FilePath(c.input).AddExtension(c.extension).value())
        << "input: " << Describe(c.input) << " + " << Describe(c.extension);
    EXPECT_EQ(std::wstring(c.replaced), FilePath(c.input).ReplaceExtension(c.extension).value())
        << "input: " << Describe(c.input) << " + " << Describe(c.extension);
  }
}

TEST(FilePathTest, InsertBeforeExtension) {
  const BinaryCase cases[] = {
      {L"", L"_x", L""},
      {L"foo", L"", L"foo"},
      {L"foo", L"_x", L"foo_x"},
      {L"foo.txt", L"_x", L"foo_x.txt"},
      {L"C:\\a.b\\foo.tar.gz", L" (1)", L"C:\\a.b\\foo.tar (1).gz"},
      {L"..", L"_x", L".."},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.first).InsertBeforeExtension(c.second).value())
        << "input: " << Describe(c.first);
  }
  EXPECT_EQ(L"setup.old.exe", FilePath(L"setup.exe").InsertBeforeExtensionASCII(".old").value());
}

TEST(FilePathTest, Append) {
  const BinaryCase cases[] = {
      {L"", L"cc", L"cc"},
      {L".", L"ff", L"ff"},
      {L"aa", L"", L"aa"},
      {L"aa", L"bb", L"aa\\bb"},
      {L"aa\\", L"bb", L"aa\\bb"},
      {L"aa\\\\", L"bb", L"aa\\bb"},
      {L"aa/", L"bb", L"aa\\bb"},
      {L"aa", L"\\bb", L"aa\\bb"},
      {L"aa", L"bb\\cc", L"aa\\bb\\cc"},
      {L"\\", L"aa", L"\\aa"},
      {L"\\\\", L"server", L"\\\\server"},
      {L"c:", L"aa", L"c:aa"},
      {L"C:\\", L"aa", L"C:\\aa"},
      {L"C:\\aa", L"bb.txt", L"C:\\aa\\bb.txt"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), FilePath(c.first).Append(c.second).value())
        << Describe(c.first) << " + " << Describe(c.second);
  }
  EXPECT_EQ(L"C:\\aa\\bb", FilePath(L"C:\\aa").AppendASCII("bb").value());
  EXPECT_EQ(L"aa\\bb", FilePath(L"aa").Append(FilePath(L"bb")).value());
  // Text after an embedded NUL would be cut off by Windows anyway.
  EXPECT_EQ(L"aa\\bb", FilePath(L"aa").Append(std::wstring_view(L"bb\0cc", 5)).value());
}

TEST(FilePathTest, AppendRelativePath) {
  struct Case {
    const wchar_t* parent;
    const wchar_t* child;
    bool is_parent;
    const wchar_t* rest;
  };
  const Case cases[] = {
      {L"C:\\foo", L"C:\\foo\\bar", true, L"bar"},
      {L"C:\\foo\\", L"C:\\foo\\bar\\baz", true, L"bar\\baz"},
      {L"c:\\foo", L"C:\\foo\\bar", true, L"bar"},
      {L"C:/foo", L"C:\\foo\\bar", true, L"bar"},
      {L"C:\\", L"C:\\foo", true, L"foo"},
      {L"\\\\server\\share", L"\\\\server\\share\\x", true, L"x"},
      {L"C:\\Foo", L"C:\\foo\\bar", false, L""},
      {L"C:\\foo", L"C:\\foo", false, L""},
      {L"C:\\foo", L"C:\\foobar\\x", false, L""},
      {L"C:\\foo\\bar", L"C:\\foo", false, L""},
      {L"C:\\foo", L"D:\\foo\\bar", false, L""},
      {L"\\foo", L"\\\\foo\\bar", false, L""},
      {L"", L"foo", false, L""},
      {L"foo", L"foo\\bar", true, L"bar"},
  };
  for (const Case& c : cases) {
    FilePath rest(L"base");
    EXPECT_EQ(c.is_parent, FilePath(c.parent).AppendRelativePath(FilePath(c.child), &rest))
        << Describe(c.parent) << " / " << Describe(c.child);
    EXPECT_EQ(c.is_parent, FilePath(c.parent).IsParent(FilePath(c.child)));
    const std::wstring expected = c.is_parent ? std::wstring(L"base\\") + c.rest : L"base";
    EXPECT_EQ(expected, rest.value()) << Describe(c.parent) << " / " << Describe(c.child);
  }
}

TEST(FilePathTest, IsAbsoluteAndReferencesParent) {
  struct Case {
    const wchar_t* path;
    bool absolute;
    bool references_parent;
  };
  const Case cases[] = {
      {L"", false, false},
      {L"a", false, false},
      {L"C:", false, false},
      {L"C:a", false, false},
      {L"\\a", false, false},
      {L"C:\\", true, false},
      {L"c:/a", true, false},
      {L"\\\\server\\share", true, false},
      {L"\\\\?\\C:\\a", true, false},
      {L"//server/share", true, false},
      {L"..", false, true},
      {L"a\\..\\b", false, true},
      {L"C:\\a/..", true, true},
      {L"a\\..b\\c", false, false},
      {L"a\\b..\\c", false, false},
      {L"a\\...\\c", false, true},
      {L"a\\.. \\c", false, true},
      {L"a\\.\\c", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.absolute, FilePath(c.path).IsAbsolute()) << Describe(c.path);
    EXPECT_EQ(c.references_parent, FilePath(c.path).ReferencesParent()) << Describe(c.path);
  }
}

TEST(FilePathTest, EqualityDriveLetterIgnoresCase) {
  EXPECT_EQ(FilePath(L"c:\\Dir"), FilePath(L"C:\\Dir"));
  EXPECT_NE(FilePath(L"C:\\dir"), FilePath(L"C:\\Dir"));
  EXPECT_NE(FilePath(L"C:\\dir"), FilePath(L"C:/dir"));
  EXPECT_NE(FilePath(L"C:\\dir"), FilePath(L"C:\\dir\\"));
  EXPECT_NE(FilePath(L"ab"), FilePath(L"Ab"));
  EXPECT_EQ(FilePath(), FilePath(L""));
}

TEST(FilePathTest, CompareIgnoreCase) {
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"C:\\Program Files", L"c:\\PROGRAM files"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"abc", L"ABD"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"abd", L"ABC"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"ab", L"ABC"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"abc", L"AB"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"", L""));
  // Embedded NULs are ordinary units and compare below everything else.
  const std::wstring_view with_nul_a(L"a\0b", 3);
  const std::wstring_view with_nul_b(L"A\0B", 3);
  const std::wstring_view with_nul_c(L"A\0C", 3);
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(with_nul_a, with_nul_b));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(with_nul_a, with_nul_c));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(std::wstring_view(L"a\0", 2), L"a1"));
  EXPECT_TRUE(FilePath::CompareEqualIgnoreCase(L"Setup.EXE", L"setup.exe"));
}

TEST(FilePathTest, TextConversions) {
  EXPECT_EQ("C:\\dir\\a.txt", FilePath(L"C:\\dir\\a.txt").MaybeAsASCII());
  EXPECT_EQ("", FilePath(L"C:\\d\u00e9j\u00e0").MaybeAsASCII());
  std::ostringstream out;
  out << FilePath(L"\u00e9\\x");
  EXPECT_EQ("\xc3\xa9\\x", out.str());
}

TEST(FilePathTest, SeparatorsAndStripping) {
  EXPECT_TRUE(FilePath(L"a/").EndsWithSeparator());
  EXPECT_TRUE(FilePath(L"a\\").EndsWithSeparator());
  EXPECT_FALSE(FilePath(L"a").EndsWithSeparator());
  EXPECT_FALSE(FilePath().EndsWithSeparator());
  EXPECT_EQ(L"C:\\a", FilePath(L"C:\\a\\\\/").StripTrailingSeparators().value());
  EXPECT_EQ(L"C:\\", FilePath(L"C:\\\\").StripTrailingSeparators().value());
  EXPECT_EQ(L"\\\\", FilePath(L"\\\\").StripTrailingSeparators().value());
  EXPECT_EQ(L"\\", FilePath(L"\\\\\\").StripTrailingSeparators().value());
}

}  // namespace
}  // namespace base
