#include "desktop/windows/installer/package_file_placement.h"

#include <windows.h>

#include <unordered_map>
#include <unordered_set>

#include "base/files/directory_enumerator.h"

namespace installer {

namespace {

// What the package holds below one folder (key form, no trailing "\").
struct FolderFacts {
  size_t listed = 0;     // entries of the list below it
  size_t found = 0;      // of those, the ones found on disk
  bool blocked = false;  // holds something that must not move with it
};

// The folders above |key|, outermost first ("a", "a\b" for "a\b\c").
std::vector<std::wstring> Ancestors(const std::wstring& key) {
  std::vector<std::wstring> folders;
  for (size_t pos = key.find(L'\\'); pos != std::wstring::npos; pos = key.find(L'\\', pos + 1))
    folders.push_back(key.substr(0, pos));
  return folders;
}

// A name that stays inside the package: no root, drive, empty, "." or ".."
// component. Anything else is copied, exactly as written.
bool IsPlainRelative(const std::wstring& key) {
  if (key.empty() || key.find(L':') != std::wstring::npos)
    return false;
  size_t start = 0;
  for (;;) {
    const size_t end = key.find(L'\\', start);
    const std::wstring part = key.substr(start, end == std::wstring::npos ? end : end - start);
    if (part.empty() || part == L"." || part == L"..")
      return false;
    if (end == std::wstring::npos)
      return true;
    start = end + 1;
  }
}

}  // namespace

// static
std::wstring PackageFilePlacement::Key(const base::FilePath& relative) {
  std::wstring key = relative.value();
  for (wchar_t& c : key) {
    if (c == L'/')
      c = L'\\';
  }
  if (!key.empty())
    ::CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

// static
PackageFilePlacement PackageFilePlacement::Plan(const base::FilePath& package_folder,
                                                const std::vector<std::string>& entries,
                                                const std::set<std::wstring>& copied_names,
                                                const base::FilePath& destination) {
  PackageFilePlacement plan;
  const size_t count = entries.size();
  plan.copy_.assign(count, false);
  plan.folder_run_.assign(count, 0);
  plan.folder_.assign(count, base::FilePath());

  std::vector<std::wstring> keys(count);
  std::unordered_map<std::wstring, size_t> occurrences;
  std::unordered_map<std::wstring, size_t> first_index;
  std::unordered_set<std::wstring> copied;
  for (const std::wstring& name : copied_names)
    copied.insert(Key(base::FilePath(name)));
  for (size_t i = 0; i < count; ++i) {
    keys[i] = Key(base::FilePath::FromUTF8Unsafe(entries[i]));
    if (++occurrences[keys[i]] == 1)
      first_index[keys[i]] = i;
  }

  std::unordered_map<std::wstring, FolderFacts> folders;
  for (size_t i = 0; i < count; ++i) {
    const std::wstring& key = keys[i];
    plan.copy_[i] = occurrences[key] > 1 || copied.count(key) || !IsPlainRelative(key);
    for (const std::wstring& folder : Ancestors(key)) {
      FolderFacts& facts = folders[folder];
      ++facts.listed;
      facts.blocked |= plan.copy_[i];
    }
  }

  // What is on disk: every file must be a listed one, every folder hold a
  // listed file, nothing may be read-only (a copy would not be) or a link.
  const std::wstring prefix = package_folder.StripTrailingSeparators().value() + L"\\";
  base::DirectoryEnumerator enumerator(
      package_folder, /*recursive=*/true,
      base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    if (path.value().size() <= prefix.size())
      continue;
    const std::wstring key = Key(base::FilePath(path.value().substr(prefix.size())));
    const base::DirectoryEnumerator::EntryInfo info = enumerator.GetInfo();
    const bool odd =
        (info.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
    bool extra = false;
    if (info.is_directory) {
      extra = folders.find(key) == folders.end();
      if (odd || extra)
        folders[key].blocked = true;
    } else {
      const auto listed = occurrences.find(key);
      extra = listed == occurrences.end();
      // Copied, so that the installed file loses the attribute as a copy
      // does.
      if (!extra && (info.attributes & FILE_ATTRIBUTE_READONLY))
        plan.copy_[first_index[key]] = true;
    }
    for (const std::wstring& folder : Ancestors(key)) {
      FolderFacts& facts = folders[folder];
      facts.blocked |= odd || extra;
      if (!info.is_directory && !extra)
        ++facts.found;
    }
  }

  for (size_t i = 0; i < count;) {
    size_t run = 0;
    for (const std::wstring& folder : Ancestors(keys[i])) {
      const FolderFacts& facts = folders[folder];
      if (facts.blocked || facts.found != facts.listed || i + facts.listed > count)
        continue;
      // Every entry below the folder comes next in the list.
      const std::wstring below = folder + L"\\";
      bool consecutive = true;
      for (size_t j = i; j < i + facts.listed && consecutive; ++j)
        consecutive = keys[j].compare(0, below.size(), below) == 0;
      if (!consecutive)
        continue;
      // The folder as the list writes it: lower-casing keeps the length.
      std::wstring written =
          base::FilePath::FromUTF8Unsafe(entries[i]).value().substr(0, folder.size());
      for (wchar_t& c : written) {
        if (c == L'/')
          c = L'\\';
      }
      const base::FilePath folder_path(written);
      if (::GetFileAttributesW(destination.Append(folder_path).c_str()) != INVALID_FILE_ATTRIBUTES)
        continue;
      run = facts.listed;
      plan.folder_run_[i] = run;
      plan.folder_[i] = folder_path;
      break;
    }
    i += run ? run : 1;
  }
  return plan;
}

// static
PackageFilePlacement PackageFilePlacement::CopyAll(size_t count) {
  PackageFilePlacement plan;
  plan.copy_.assign(count, true);
  plan.folder_run_.assign(count, 0);
  plan.folder_.assign(count, base::FilePath());
  return plan;
}

void PackageFilePlacement::CopyEverything() {
  copy_.assign(copy_.size(), true);
  folder_run_.assign(folder_run_.size(), 0);
}

}  // namespace installer
