#include "base/files/directory_enumerator.h"

#include "base/logging.h"

namespace base {

namespace {

bool CharsEqualIgnoreCase(wchar_t a, wchar_t b) {
  return a == b ||
         FilePath::CompareIgnoreCase(std::wstring_view(&a, 1), std::wstring_view(&b, 1)) == 0;
}

}  // namespace

DirectoryEnumerator::DirectoryEnumerator(const FilePath& root, bool recursive, int kinds,
                                         std::wstring_view pattern)
    : root_(root),
      recursive_(recursive),
      kinds_(kinds),
      pattern_(pattern.empty() ? L"*" : pattern) {
  pending_.push_back(root_);
}

DirectoryEnumerator::~DirectoryEnumerator() = default;

// static
bool DirectoryEnumerator::MatchesPattern(std::wstring_view name, std::wstring_view pattern) {
  // Greedy match remembering the last '*': on a mismatch the star takes one
  // more character and matching resumes after it. Linear in practice, never
  // worse than |name| * |pattern|.
  size_t n = 0;
  size_t p = 0;
  size_t star = std::wstring_view::npos;
  size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == L'?' || CharsEqualIgnoreCase(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (star != std::wstring_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*')
    ++p;
  return p == pattern.size();
}

bool DirectoryEnumerator::StartNextFolder() {
  while (!pending_.empty()) {
    current_folder_ = pending_.back();
    pending_.pop_back();
    const FilePath search = current_folder_.Append(L"*");
    HANDLE find = ::FindFirstFileExW(search.c_str(), FindExInfoBasic, &find_data_,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // An empty drive root has no "." entry and reports no files; a missing
      // folder (or one that vanished meanwhile) has nothing to give either.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
          error == ERROR_NO_MORE_FILES) {
        VLOG(1) << "Nothing to enumerate in " << current_folder_ << " (error " << error << ")";
      } else {
        ELOG(ERROR, error) << "Cannot search folder " << current_folder_;
      }
      continue;
    }
    find_.Reset(find);
    have_entry_ = true;
    return true;
  }
  return false;
}

FilePath DirectoryEnumerator::Next() {
  for (;;) {
    if (!find_.IsValid()) {
      if (!StartNextFolder())
        return FilePath();
    }
    if (!have_entry_) {
      if (!::FindNextFileW(find_.Get(), &find_data_)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_MORE_FILES)
          ELOG(ERROR, error) << "Cannot read folder " << current_folder_;
        find_.Reset();
        continue;
      }
    }
    have_entry_ = false;

    const std::wstring_view name(find_data_.cFileName);
    if (name == L"." || name == L"..")
      continue;
    const FilePath path = current_folder_.Append(name);
    const bool is_directory = (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_directory && recursive_ && !(find_data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      pending_.push_back(path);
    if (!(kinds_ & (is_directory ? DIRECTORIES : FILES)))
      continue;
    if (!MatchesPattern(name, pattern_))
      continue;
    last_entry_ = find_data_;
    return path;
  }
}

DirectoryEnumerator::EntryInfo DirectoryEnumerator::GetInfo() const {
  EntryInfo info;
  info.is_directory = (last_entry_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.attributes = last_entry_.dwFileAttributes;
  info.size = static_cast<int64_t>((static_cast<uint64_t>(last_entry_.nFileSizeHigh) << 32) |
                                   last_entry_.nFileSizeLow);
  info.last_modified = Time::FromFileTime(last_entry_.ftLastWriteTime);
  return info;
}

}  // namespace base
