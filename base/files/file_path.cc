#include "base/files/file_path.h"

#include <windows.h>

#include <ostream>
#include <vector>

#include "base/utf_string_conversions.h"

namespace base {

namespace {

using StringType = FilePath::StringType;
constexpr StringType::size_type npos = StringType::npos;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

wchar_t ToLowerAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// Index of the colon of a leading "X:", or npos.
StringType::size_type FindDriveLetter(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':' && IsAsciiLetter(path[0]))
    return 1;
  return npos;
}

bool StartsWithDriveLetter(std::wstring_view path) { return FindDriveLetter(path) != npos; }

// Length of the root that trailing-separator stripping must keep: "C:\",
// "C:", "\\" (the start of a UNC or device path), "\" or nothing.
StringType::size_type RootLength(std::wstring_view path) {
  StringType::size_type start = 0;
  if (StartsWithDriveLetter(path))
    start = 2;
  StringType::size_type seps = 0;
  while (start + seps < path.size() && FilePath::IsSeparator(path[start + seps]))
    ++seps;
  if (seps == 0)
    return start;
  // Exactly two leading separators (no drive) keep their meaning as "\\".
  if (start == 0 && seps == 2)
    return 2;
  return start + 1;
}

StringType StripTrailing(std::wstring_view path) {
  StringType::size_type keep = RootLength(path);
  StringType::size_type end = path.size();
  while (end > keep && FilePath::IsSeparator(path[end - 1]))
    --end;
  return StringType(path.substr(0, end));
}

bool IsDotOrDotDot(std::wstring_view name) { return name == L"." || name == L".."; }

// Root tokens first ("C:" for a drive, then "\" or "\\" for leading
// separators, normalised to backslashes), then every non-empty component.
std::vector<StringType> GetComponents(std::wstring_view path) {
  std::vector<StringType> components;
  StringType::size_type pos = 0;
  if (StartsWithDriveLetter(path)) {
    components.emplace_back(path.substr(0, 2));
    pos = 2;
  }
  StringType::size_type seps = 0;
  while (pos + seps < path.size() && FilePath::IsSeparator(path[pos + seps]))
    ++seps;
  if (seps > 0) {
    components.emplace_back((pos == 0 && seps == 2) ? L"\\\\" : L"\\");
    pos += seps;
  }
  while (pos < path.size()) {
    StringType::size_type next = path.find_first_of(FilePath::kSeparators, pos);
    if (next == npos)
      next = path.size();
    if (next > pos)
      components.emplace_back(path.substr(pos, next - pos));
    pos = next + 1;
  }
  return components;
}

// Drive letters ("X:") compare ignoring case; anything else exactly.
bool ComponentsEqual(const StringType& a, const StringType& b) {
  if (a.size() != b.size())
    return false;
  if (StartsWithDriveLetter(a) && StartsWithDriveLetter(b))
    return ToLowerAscii(a[0]) == ToLowerAscii(b[0]) && a.compare(1, npos, b, 1, npos) == 0;
  return a == b;
}

wchar_t UpperCase(wchar_t c) {
  // The single-character form of CharUpperW: a value with a zero high word
  // is taken as a character, not a string. NUL is its own upper case and
  // never reaches the call.
  if (c == L'\0')
    return c;
  return static_cast<wchar_t>(
      reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
}

}  // namespace

FilePath FilePath::DirName() const {
  StringType new_path = StripTrailing(path_);
  const StringType::size_type root = RootLength(new_path);
  const StringType::size_type last_sep = new_path.find_last_of(kSeparators);
  if (last_sep == npos || last_sep + 1 <= root) {
    // No separator beyond the root's: "foo" -> ".", "C:foo" -> "C:",
    // "C:\foo" -> "C:\", "\foo" -> "\", "\\server" -> "\\"; a root is its own
    // parent.
    new_path.resize(root);
  } else {
    new_path.resize(last_sep);
    new_path = StripTrailing(new_path);
  }
  if (new_path.empty())
    new_path = L".";
  return FilePath(new_path);
}

FilePath FilePath::BaseName() const {
  StringType new_path = StripTrailing(path_);
  const StringType::size_type drive = FindDriveLetter(new_path);
  if (drive != npos)
    new_path.erase(0, drive + 1);
  // A root made only of separators is its own base name.
  const StringType::size_type last_sep = new_path.find_last_of(kSeparators);
  if (last_sep != npos && new_path.find_first_not_of(kSeparators) != npos)
    new_path.erase(0, last_sep + 1);
  return FilePath(new_path);
}

std::wstring FilePath::Extension() const {
  const StringType base = BaseName().value();
  if (IsDotOrDotDot(base))
    return StringType();
  const StringType::size_type dot = base.rfind(kExtensionSeparator);
  if (dot == npos)
    return StringType();
  return base.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  const StringType ext = Extension();
  if (ext.empty())
    return *this;
  StringType stripped = StripTrailing(path_);
  stripped.resize(stripped.size() - ext.size());
  return FilePath(stripped);
}

FilePath FilePath::AddExtension(std::wstring_view extension) const {
  const StringType base = BaseName().value();
  if (extension.empty() || extension == L"." || base.empty() || IsDotOrDotDot(base))
    return *this;
  StringType str = StripTrailing(path_);
  if (extension[0] != kExtensionSeparator && str.back() != kExtensionSeparator)
    str.push_back(kExtensionSeparator);
  str.append(extension);
  return FilePath(str);
}

FilePath FilePath::ReplaceExtension(std::wstring_view extension) const {
  const StringType base = BaseName().value();
  if (base.empty() || IsDotOrDotDot(base))
    return *this;
  FilePath no_ext = RemoveExtension();
  if (extension.empty() || extension == L".")
    return no_ext;
  StringType str = no_ext.value();
  if (extension[0] != kExtensionSeparator)
    str.push_back(kExtensionSeparator);
  str.append(extension);
  return FilePath(str);
}

FilePath FilePath::InsertBeforeExtension(std::wstring_view suffix) const {
  const StringType base = BaseName().value();
  if (suffix.empty() || base.empty() || IsDotOrDotDot(base))
    return *this;
  const StringType ext = Extension();
  StringType str = RemoveExtension().value();
  str.append(suffix);
  str.append(ext);
  return FilePath(str);
}

FilePath FilePath::InsertBeforeExtensionASCII(std::string_view suffix) const {
  return InsertBeforeExtension(ASCIIToWide(suffix));
}

FilePath FilePath::Append(std::wstring_view component) const {
  // Windows stops a path at its first NUL; so does the appended text.
  const StringType::size_type nul = component.find(L'\0');
  if (nul != npos)
    component = component.substr(0, nul);
  if (component.empty())
    return *this;
  if (path_.empty() || path_ == L".")
    return FilePath(component);

  StringType new_path = StripTrailing(path_);
  // No separator after a bare drive ("C:" + "x" is "C:x", relative to that
  // drive's current folder), after a root that already ends in one, or
  // before a component that starts with one.
  const bool bare_drive = FindDriveLetter(new_path) != npos && new_path.size() == 2;
  if (!bare_drive && !IsSeparator(new_path.back()) && !IsSeparator(component.front()))
    new_path.push_back(kPreferredSeparator);
  new_path.append(component);
  return FilePath(new_path);
}

FilePath FilePath::Append(const FilePath& component) const {
  return Append(std::wstring_view(component.value()));
}

FilePath FilePath::AppendASCII(std::string_view component) const {
  return Append(ASCIIToWide(component));
}

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  const std::vector<StringType> parent_components = GetComponents(path_);
  const std::vector<StringType> child_components = GetComponents(child.path_);
  if (parent_components.empty() || parent_components.size() >= child_components.size())
    return false;
  for (size_t i = 0; i < parent_components.size(); ++i) {
    if (!ComponentsEqual(parent_components[i], child_components[i]))
      return false;
  }
  if (path) {
    for (size_t i = parent_components.size(); i < child_components.size(); ++i)
      *path = path->Append(child_components[i]);
  }
  return true;
}

bool FilePath::IsAbsolute() const {
  const StringType::size_type drive = FindDriveLetter(path_);
  if (drive != npos)
    return path_.size() > drive + 1 && IsSeparator(path_[drive + 1]);
  // UNC ("\\server\share") and device ("\\?\", "\\.\") paths.
  return path_.size() > 1 && IsSeparator(path_[0]) && IsSeparator(path_[1]);
}

bool FilePath::EndsWithSeparator() const { return !path_.empty() && IsSeparator(path_.back()); }

FilePath FilePath::StripTrailingSeparators() const { return FilePath(StripTrailing(path_)); }

bool FilePath::ReferencesParent() const {
  for (const StringType& component : GetComponents(path_)) {
    if (component == L"..")
      return true;
    // Windows drops trailing dots and blanks from a component, so ".. " or
    // "..." may walk up as well: treat any component made only of dots and
    // blanks that contains ".." as a parent reference.
    if (component.find_first_not_of(L". \t\r\n") == npos && component.find(L"..") != npos)
      return true;
  }
  return false;
}

std::string FilePath::MaybeAsASCII() const {
  std::string result;
  result.reserve(path_.size());
  for (wchar_t c : path_) {
    if (static_cast<unsigned>(c) >= 0x80)
      return std::string();
    result.push_back(static_cast<char>(c));
  }
  return result;
}

std::string FilePath::AsUTF8Unsafe() const { return WideToUTF8(path_); }

// static
FilePath FilePath::FromUTF8Unsafe(std::string_view utf8) { return FilePath(UTF8ToWide(utf8)); }

// static
int FilePath::CompareIgnoreCase(std::wstring_view a, std::wstring_view b) {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const wchar_t ua = UpperCase(a[i]);
    const wchar_t ub = UpperCase(b[i]);
    if (ua < ub)
      return -1;
    if (ua > ub)
      return 1;
  }
  if (a.size() < b.size())
    return -1;
  if (a.size() > b.size())
    return 1;
  return 0;
}

bool FilePath::operator==(const FilePath& other) const {
  if (path_.size() != other.path_.size())
    return false;
  if (StartsWithDriveLetter(path_) && StartsWithDriveLetter(other.path_)) {
    return ToLowerAscii(path_[0]) == ToLowerAscii(other.path_[0]) &&
           path_.compare(1, npos, other.path_, 1, npos) == 0;
  }
  return path_ == other.path_;
}

std::ostream& operator<<(std::ostream& out, const FilePath& path) {
  return out << WideToUTF8(path.value());
}

}  // namespace base
