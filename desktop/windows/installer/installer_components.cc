#include "desktop/windows/installer/installer_components.h"

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/string_split.h"

namespace installer {

namespace {

constexpr wchar_t kSuiteComponentName[] = L"suite";
constexpr wchar_t kAssistantComponentName[] = L"assistant";

}  // namespace

std::vector<ComponentEntry> ParseComponentsSwitch(std::wstring_view value) {
  std::vector<ComponentEntry> entries;
  for (const std::wstring& text :
       base::SplitString16(value, L"|", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    // Empty pieces are kept here: in ": only:" the name is the empty first
    // piece, not "only".
    std::vector<std::wstring> parts =
        base::SplitString16(text, L":", base::TRIM_WHITESPACE, base::SPLIT_WANT_ALL);
    ComponentEntry entry;
    entry.text = text;
    entry.name = parts[0];
    if (parts.size() > 1)
      entry.folder = parts[1];
    entries.push_back(std::move(entry));
  }
  return entries;
}

base::FilePath GetComponentInstallerPath(const base::FilePath& folder, std::wstring_view name,
                                         bool* rewritten) {
  if (rewritten)
    *rewritten = false;
  const base::FilePath path = folder.Append(std::wstring(name) + kComponentInstallerSuffix);
  if (name != kSuiteComponentName || base::PathExists(path))
    return path;
  if (rewritten)
    *rewritten = true;
  return folder.Append(std::wstring(kAssistantComponentName) + kComponentInstallerSuffix);
}

}  // namespace installer
