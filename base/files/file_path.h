// A path held as one UTF-16 string. Both '\\' and '/' separate components;
// the path is stored as given and only normalised where an operation says so.
#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <iosfwd>
#include <string>
#include <string_view>

namespace base {

class FilePath {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;

  static constexpr wchar_t kSeparators[] = L"\\/";
  static constexpr wchar_t kPreferredSeparator = L'\\';
  static constexpr wchar_t kExtensionSeparator = L'.';

  FilePath() = default;
  explicit FilePath(std::wstring_view path) : path_(path) {}
  FilePath(const FilePath&) = default;
  FilePath(FilePath&&) = default;
  FilePath& operator=(const FilePath&) = default;
  FilePath& operator=(FilePath&&) = default;

  const std::wstring& value() const { return path_; }
  const wchar_t* c_str() const { return path_.c_str(); }
  bool empty() const { return path_.empty(); }
  void clear() { path_.clear(); }

  static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

  // The parent folder ("." for a bare name, the root for a root).
  FilePath DirName() const;
  // The last component; trailing separators and a drive letter are stripped.
  FilePath BaseName() const;
  // The extension of the base name including its leading '.', or empty.
  std::wstring Extension() const;
  FilePath RemoveExtension() const;
  // Appends |extension| ('.' inserted when missing). Empty paths stay empty.
  FilePath AddExtension(std::wstring_view extension) const;
  FilePath ReplaceExtension(std::wstring_view extension) const;
  FilePath InsertBeforeExtension(std::wstring_view suffix) const;
  FilePath InsertBeforeExtensionASCII(std::string_view suffix) const;

  // Appends one component, inserting a separator as needed. An absolute or
  // parent-referencing component is still appended as text; callers validate.
  FilePath Append(std::wstring_view component) const;
  FilePath Append(const FilePath& component) const;
  FilePath AppendASCII(std::string_view component) const;

  // When this path is a parent of |child| (component by component, drive
  // letters ignoring case), appends the rest of |child| to |path| and returns
  // true. |path| may be null to only test the relation.
  bool AppendRelativePath(const FilePath& child, FilePath* path) const;
  bool IsParent(const FilePath& child) const { return AppendRelativePath(child, nullptr); }

  bool IsAbsolute() const;
  bool EndsWithSeparator() const;
  FilePath StripTrailingSeparators() const;
  // True when any component is "..".
  bool ReferencesParent() const;

  // The path as 8-bit text when it is pure ASCII, else empty.
  std::string MaybeAsASCII() const;
  std::string AsUTF8Unsafe() const;
  static FilePath FromUTF8Unsafe(std::string_view utf8);

  // Three-way comparison ignoring case (upper-casing through CharUpperW).
  static int CompareIgnoreCase(std::wstring_view a, std::wstring_view b);
  static bool CompareEqualIgnoreCase(std::wstring_view a, std::wstring_view b) {
    return CompareIgnoreCase(a, b) == 0;
  }

  // Compares the path text; drive letters compare ignoring case.
  bool operator==(const FilePath& other) const;
  bool operator!=(const FilePath& other) const { return !(*this == other); }
  bool operator<(const FilePath& other) const { return path_ < other.path_; }

 private:
  std::wstring path_;
};

// Writes the path as UTF-8 (for log lines).
std::ostream& operator<<(std::ostream& out, const FilePath& path);

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
