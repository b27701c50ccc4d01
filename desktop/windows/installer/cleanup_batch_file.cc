#include "desktop/windows/installer/cleanup_batch_file.h"

#include <windows.h>

#include <string_view>

#include "base/logging.h"
#include "base/string_number_conversions.h"

namespace installer {

namespace {

// |text| in the OEM code page; false when a character has no exact form
// there (no best-fit substitutes: "é" must not become "e", which would name
// another file).
bool ToOemCodePage(std::wstring_view text, std::string* out) {
  out->clear();
  if (text.empty())
    return true;
  const int length = static_cast<int>(text.size());
  const UINT code_page = ::GetOEMCP();
  // A UTF-8 OEM code page carries every character, and refuses both the
  // best-fit flag and the default-character report.
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_out = utf8 ? nullptr : &used_default;
  const int size = ::WideCharToMultiByte(CP_OEMCP, flags, text.data(), length, nullptr, 0, nullptr,
                                         used_default_out);
  if (size <= 0) {
    PLOG(WARNING) << "Cannot convert a path to the OEM code page " << code_page;
    return false;
  }
  std::string result(static_cast<size_t>(size), '\0');
  used_default = FALSE;
  if (::WideCharToMultiByte(CP_OEMCP, flags, text.data(), length, result.data(), size, nullptr,
                            used_default_out) != size) {
    PLOG(WARNING) << "Cannot convert a path to the OEM code page " << code_page;
    return false;
  }
  if (used_default)
    return false;
  *out = std::move(result);
  return true;
}

// The short (8.3) form of an existing |path|; empty when there is none.
std::wstring GetShortPath(const base::FilePath& path) {
  const DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0)
    return std::wstring();
  std::wstring result(size, L'\0');
  const DWORD written = ::GetShortPathNameW(path.c_str(), result.data(), size);
  if (written == 0 || written >= size)
    return std::wstring();
  result.resize(written);
  return result;
}

void AppendProcessWait(std::string* text, const char* variable, base::ProcessId pid) {
  const std::string name(variable);
  *text += "IF %" + name + "%==TRUE (\n";
  *text += "TASKLIST /FI \"PID eq " + base::NumberToString(static_cast<unsigned long>(pid)) +
           "\" | FIND /c /i \".exe\"\n";
  *text += "IF ERRORLEVEL 1 SET " + name + "=FALSE\n";
  *text += ")\n";
}

// Whether every character of |path| may stand in a file path: a quote, a
// line break or another control character would let the path end its
// quoting or its line in the batch file.
bool HoldsOnlyPathCharacters(const std::wstring& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 0x20 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'?' || c == L'*')
      return false;
    if (c == L':' && i != 1)
      return false;
  }
  return true;
}

// Appends |command| "<path>" when the path can be written and lies below
// |install_folder| (when that is set).
void AppendPathCommand(std::string* text, const char* command, const base::FilePath& path,
                       const base::FilePath& install_folder) {
  if (!install_folder.empty() && (path.ReferencesParent() || !install_folder.IsParent(path))) {
    LOG(ERROR) << "Not writing " << path << " into the cleanup batch file: it is not below "
               << install_folder;
    return;
  }
  std::string encoded;
  if (!EncodeBatchFilePath(path, &encoded))
    return;
  *text += command;
  *text += " \"" + encoded + "\"\n";
}

}  // namespace

CleanupBatchContents::CleanupBatchContents() = default;
CleanupBatchContents::CleanupBatchContents(const CleanupBatchContents&) = default;
CleanupBatchContents::~CleanupBatchContents() = default;

void AddLeftoverFolders(const base::FilePath& path, const base::FilePath& install_folder,
                        std::set<base::FilePath>* folders) {
  base::FilePath folder = path.DirName();
  while (install_folder.IsParent(folder)) {
    folders->insert(folder);
    const base::FilePath parent = folder.DirName();
    if (parent == folder)
      break;
    folder = parent;
  }
}

bool EncodeBatchFilePath(const base::FilePath& path, std::string* text) {
  if (!HoldsOnlyPathCharacters(path.value())) {
    LOG(ERROR) << "Not writing " << path
               << " into the cleanup batch file: it holds a character file names cannot hold";
    return false;
  }
  std::string encoded;
  if (!ToOemCodePage(path.value(), &encoded)) {
    const std::wstring short_path = GetShortPath(path);
    if (short_path.empty() || !ToOemCodePage(short_path, &encoded)) {
      LOG(ERROR) << "Cannot write " << path
                 << " into the cleanup batch file: the OEM code page cannot carry its name";
      return false;
    }
  }
  text->clear();
  text->reserve(encoded.size());
  for (char c : encoded) {
    // Doubled, "%" stays a literal percent sign instead of starting a
    // variable reference.
    if (c == '%')
      text->push_back('%');
    text->push_back(c);
  }
  return true;
}

std::string BuildCleanupBatchText(const CleanupBatchContents& contents) {
  struct Watched {
    const char* variable;
    base::ProcessId pid;
  };
  const Watched watched[] = {{"PID1_RUNNING", contents.pid1},
                             {"PID2_RUNNING", contents.pid2},
                             {"PID3_RUNNING", contents.pid3}};
  // The first process is always waited for; the others only when known.
  auto included = [](const Watched& process) {
    return process.pid != 0 || std::string_view(process.variable) == "PID1_RUNNING";
  };

  std::string text;
  for (const Watched& process : watched) {
    if (included(process))
      text += std::string("SET ") + process.variable + "=TRUE\n";
  }
  text += ":again\n";
  for (const Watched& process : watched) {
    if (included(process))
      AppendProcessWait(&text, process.variable, process.pid);
  }
  text += "ping -n 2 127.0.0.1\n";
  for (const Watched& process : watched) {
    if (included(process))
      text += std::string("IF %") + process.variable + "%==TRUE GOTO :again\n";
  }
  for (const base::FilePath& file : contents.leftover_files)
    AppendPathCommand(&text, "del", file, contents.install_folder);
  for (auto it = contents.leftover_folders.rbegin(); it != contents.leftover_folders.rend(); ++it)
    AppendPathCommand(&text, "rmdir", *it, contents.install_folder);
  text += "del %0\n";
  return text;
}

}  // namespace installer
