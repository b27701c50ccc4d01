#include "desktop/windows/installer/cleanup_batch_file.h"

#include <windows.h>

#include <string_view>

#include "base/command_line.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"

namespace installer {

namespace {

// Rounds of about a second that the deletions of the leftover files may wait
// together for the processes holding them to end.
constexpr int kDeleteRounds = 300;

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

// |path| as batch-file text when it can be written and lies below
// |install_folder| (when that is set); false (logged) otherwise.
bool EncodeLeftoverPath(const base::FilePath& path, const base::FilePath& install_folder,
                        std::string* encoded) {
  if (!install_folder.empty() && (path.ReferencesParent() || !install_folder.IsParent(path))) {
    LOG(ERROR) << "Not writing " << path << " into the cleanup batch file: it is not below "
               << install_folder;
    return false;
  }
  return EncodeBatchFilePath(path, encoded);
}

// Appends |command| "<path>" when the path can be written.
void AppendPathCommand(std::string* text, const char* command, const base::FilePath& path,
                       const base::FilePath& install_folder) {
  std::string encoded;
  if (!EncodeLeftoverPath(path, install_folder, &encoded))
    return;
  *text += command;
  *text += " \"" + encoded + "\"\n";
}

// Appends the deletion of the leftover file |path|, the |index|th, retried
// about once a second while it fails. A file still in use is what tells that
// a process holding it runs, also where the process list cannot be read
// (some emulators' "tasklist" prints nothing): the deletion itself is the
// wait. The rounds of every file draw on one budget, so that a file some
// other program keeps open ends the waiting instead of holding the batch
// file for good.
void AppendFileDeletion(std::string* text, size_t index, const base::FilePath& path,
                        const base::FilePath& install_folder) {
  std::string encoded;
  if (!EncodeLeftoverPath(path, install_folder, &encoded))
    return;
  const std::string quoted = "\"" + encoded + "\"";
  const std::string number = base::NumberToString(static_cast<unsigned long long>(index));
  const std::string again = ":del" + number;
  const std::string done = ":deleted" + number;
  *text += again + "\n";
  *text += "IF NOT EXIST " + quoted + " GOTO " + done + "\n";
  *text += "del " + quoted + "\n";
  *text += "IF NOT EXIST " + quoted + " GOTO " + done + "\n";
  *text += std::string("IF %DELETE_ROUNDS% GEQ ") + base::NumberToString(kDeleteRounds) + " GOTO " +
           done + "\n";
  *text += "SET /A DELETE_ROUNDS=%DELETE_ROUNDS%+1\n";
  *text += "ping -n 2 127.0.0.1 >NUL\n";
  *text += "GOTO " + again + "\n";
  *text += done + "\n";
}

// Starts the removal of the (then empty) install folder a moment after this
// batch file, which stands in it, has ended and deleted itself. The started
// interpreter inherits the batch file's working folder, which is outside the
// installation by then. Its command line is parsed
// twice, here and by that interpreter: the path stays quoted in both, and a
// "%" (which the second parse would expand) leaves the folder in place.
void AppendInstallFolderRemoval(std::string* text, const base::FilePath& install_folder) {
  std::string encoded;
  if (!EncodeBatchFilePath(install_folder, &encoded))
    return;
  if (encoded.find('%') != std::string::npos) {
    LOG(WARNING) << "The cleanup batch file leaves " << install_folder
                 << " in place: its name holds a \"%\"";
    return;
  }
  *text += "start \"\" /b cmd /c ping -n 2 127.0.0.1 ^>NUL ^& rmdir \"" + encoded + "\"\n";
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

  // Whoever started the file may have left it a working folder inside the
  // installation (the uninstaller started from its version folder hands its
  // own on), and no folder that is some process's working folder can be
  // removed: the file leaves it before anything else.
  std::string text = kLeaveInstallationLine;
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
  if (!contents.leftover_files.empty())
    text += "SET DELETE_ROUNDS=0\n";
  for (size_t i = 0; i < contents.leftover_files.size(); ++i)
    AppendFileDeletion(&text, i, contents.leftover_files[i], contents.install_folder);
  for (auto it = contents.leftover_folders.rbegin(); it != contents.leftover_folders.rend(); ++it)
    AppendPathCommand(&text, "rmdir", *it, contents.install_folder);
  if (contents.remove_install_folder && !contents.install_folder.empty())
    AppendInstallFolderRemoval(&text, contents.install_folder);
  text += "del %0\n";
  return text;
}

bool RunCleanupBatchFile(const base::FilePath& batch) {
  base::LaunchOptions options;
  options.start_hidden = true;
  // Not this process's working folder: an uninstaller started from its
  // version folder works there, and the batch file (and the console it
  // gets) would keep that folder for as long as they run. Without a Windows
  // folder (the look-up logs why) the file's own first line still leaves it.
  base::PathRegistry::Get(base::kPathWindowsDirectory, &options.current_directory);
  base::Process process = base::LaunchProcess(base::CommandLine(batch), options);
  if (!process.IsValid()) {
    LOG(ERROR) << "Could not run " << batch;
    return false;
  }
  // The process handle is released here; the batch file outlives us.
  return true;
}

}  // namespace installer
