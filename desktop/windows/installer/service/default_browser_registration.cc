#include "desktop/windows/installer/service/default_browser_registration.h"

#include <shlobj.h>

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/named_program.h"
#include "desktop/windows/installer/service/registration_journal.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

const wchar_t* const kBrowserProtocols[3] = {L"http", L"https", L"ftp"};
const wchar_t* const kBrowserFileTypes[5] = {L".htm", L".html", L".shtml", L".xht", L".xhtml"};

namespace {

constexpr wchar_t kClassesKey[] = L"Software\\Classes\\";
constexpr wchar_t kStartMenuInternetKey[] = L"Software\\Clients\\StartMenuInternet";
constexpr wchar_t kRegisteredApplicationsKey[] = L"Software\\RegisteredApplications";
constexpr wchar_t kUrlUserChoiceKey[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\";
constexpr wchar_t kFileUserChoiceKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr wchar_t kOpenCommandSubkey[] = L"\\shell\\open\\command";
constexpr wchar_t kApplicationDescription[] = L"Do more on the web";

bool IsFileType(const std::wstring& name) { return !name.empty() && name[0] == L'.'; }

std::wstring UserChoiceKey(const std::wstring& name) {
  return (IsFileType(name) ? kFileUserChoiceKey : kUrlUserChoiceKey) + name + L"\\UserChoice";
}

// The arguments of every command that opens a page or file in the browser.
std::wstring OpenCommand(const base::FilePath& launcher) {
  return QuoteCommand(launcher, L"-noautoupdate -- \"%1\"");
}

std::wstring DefaultIcon(const base::FilePath& launcher) { return launcher.value() + L",0"; }

bool WriteNone(RegistrationJournal* journal, const std::wstring& key_path, const wchar_t* name) {
  return journal->WriteValue(key_path, name, REG_NONE, nullptr, 0);
}

// Reads a value of Software\Classes\<subkey>, from HKCU first, then HKLM,
// the order in which the shell merges the two.
bool ReadClassesValue(const std::wstring& subkey, const wchar_t* name, std::wstring* value) {
  const std::wstring path = kClassesKey + subkey;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    base::win::RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
      continue;
    if (key.ReadValue(name, value) == ERROR_SUCCESS && !value->empty())
      return true;
  }
  return false;
}

// Whether the default value of |key_path| below |root| is a command that
// starts |launcher|.
bool CommandNamesLauncher(HKEY root, const std::wstring& key_path, const base::FilePath& launcher) {
  base::win::RegistryKey key;
  std::wstring command;
  return key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
         key.ReadValue(L"", &command) == ERROR_SUCCESS &&
         IsSameProgramPath(GetProgramFromCommand(command), launcher);
}

bool DeleteTree(HKEY root, const std::wstring& parent, const std::wstring& name) {
  base::win::RegistryKey key;
  LONG result = key.Open(root, parent.c_str(), KEY_ALL_ACCESS);
  if (result == ERROR_FILE_NOT_FOUND)
    return true;
  if (result == ERROR_SUCCESS)
    result = key.DeleteKey(name.c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    ELOG(ERROR, result) << "Cannot delete registry key " << base::WideToUTF8(parent) << "\\"
                        << base::WideToUTF8(name);
    return false;
  }
  return true;
}

// Deletes the value |name| of |key_path| when it is there and, with
// |expected| given, holds that text.
bool DeleteValueIf(HKEY root, const std::wstring& key_path, const wchar_t* name,
                   const std::wstring* expected) {
  base::win::RegistryKey key;
  if (key.Open(root, key_path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE) != ERROR_SUCCESS ||
      !key.HasValue(name))
    return true;
  if (expected) {
    std::wstring value;
    if (key.ReadValue(name, &value) != ERROR_SUCCESS ||
        !base::FilePath::CompareEqualIgnoreCase(value, *expected))
      return true;
  }
  const LONG result = key.DeleteValue(name);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot delete registry value \"" << base::WideToUTF8(name) << "\" of "
                        << base::WideToUTF8(key_path);
    return false;
  }
  return true;
}

}  // namespace

bool IsSameProgramPath(const base::FilePath& a, const base::FilePath& b) {
  std::wstring left = a.StripTrailingSeparators().value();
  std::wstring right = b.StripTrailingSeparators().value();
  for (std::wstring* text : {&left, &right}) {
    for (wchar_t& c : *text) {
      if (c == L'/')
        c = L'\\';
    }
  }
  return !left.empty() && base::FilePath::CompareEqualIgnoreCase(left, right);
}

bool RemoveBrowserRegistration(HKEY root, const base::FilePath& launcher,
                               const std::wstring& previous_command) {
  RegistrationJournal journal(root, launcher.DirName());
  if (!journal.empty()) {
    // What the registration replaced is known: exactly that comes back.
    return journal.Restore();
  }
  // Registered by an installer that kept no record: what names |launcher|
  // goes.
  bool ok = true;
  const std::wstring classes = L"Software\\Classes";
  for (const wchar_t* protocol : kBrowserProtocols) {
    const std::wstring key = kClassesKey + std::wstring(protocol);
    if (!CommandNamesLauncher(root, key + kOpenCommandSubkey, launcher))
      continue;
    const bool web =
        std::wstring_view(protocol) == L"http" || std::wstring_view(protocol) == L"https";
    // A kept browser that was removed since gets nothing back: the shell
    // would start a program that is not there.
    const bool previous_gone = !previous_command.empty() && NamesMissingProgram(previous_command);
    if (web && previous_gone) {
      LOG(INFO) << "Not giving the " << base::WideToUTF8(protocol)
                << " handler back to the previous default browser: its program is no longer "
                   "there";
    }
    if (web && !previous_command.empty() && !previous_gone) {
      base::win::RegistryKey command;
      LONG result = command.Create(root, (key + kOpenCommandSubkey).c_str(), KEY_SET_VALUE);
      if (result == ERROR_SUCCESS)
        result = command.WriteValue(L"", previous_command);
      if (result != ERROR_SUCCESS) {
        ELOG(ERROR, result) << "Cannot give the " << base::WideToUTF8(protocol) << " handler back";
        ok = false;
      }
      ok &= DeleteTree(root, key, L"DefaultIcon");
    } else {
      ok &= DeleteTree(root, classes, protocol);
    }
  }

  // The file types point at the ProgId, which stays while another
  // installation's launcher is what it starts.
  const std::wstring progid = GetBrowserProgId();
  if (CommandNamesLauncher(root, kClassesKey + progid + kOpenCommandSubkey, launcher)) {
    for (const wchar_t* file_type : kBrowserFileTypes) {
      const std::wstring key = kClassesKey + std::wstring(file_type);
      ok &= DeleteValueIf(root, key, L"", &progid);
      ok &= DeleteValueIf(root, key + L"\\OpenWithProgIDs", progid.c_str(), nullptr);
    }
    ok &= DeleteTree(root, classes, progid);
  }

  const std::wstring client = std::wstring(kStartMenuInternetKey) + L"\\" + progid;
  if (CommandNamesLauncher(root, client + kOpenCommandSubkey, launcher)) {
    const std::wstring display_name = GetBrowserDisplayName();
    ok &= DeleteValueIf(root, kRegisteredApplicationsKey, display_name.c_str(), nullptr);
    ok &= DeleteValueIf(root, kStartMenuInternetKey, L"", &progid);
    ok &= DeleteTree(root, kStartMenuInternetKey, progid);
  }
  return ok;
}

std::wstring GetBrowserProgId() {
  return base::UTF8ToWide(GetProductName()) + base::UTF8ToWide(GetStreamName());
}

std::wstring GetBrowserDisplayName() {
  return base::UTF8ToWide(GetProductName()) + L" " + base::UTF8ToWide(GetStreamName());
}

std::wstring QuoteCommand(const base::FilePath& program, std::wstring_view arguments) {
  std::wstring command = L"\"" + program.value() + L"\"";
  if (!arguments.empty()) {
    command += L' ';
    command += arguments;
  }
  return command;
}

base::FilePath GetProgramFromCommand(std::wstring_view command) {
  size_t start = command.find_first_not_of(L' ');
  if (start == std::wstring_view::npos)
    return base::FilePath();
  command.remove_prefix(start);
  if (command[0] == L'"') {
    command.remove_prefix(1);
    return base::FilePath(command.substr(0, command.find(L'"')));
  }
  return base::FilePath(command.substr(0, command.find(L' ')));
}

bool GetRegisteredOpenCommand(const std::wstring& name, std::wstring* command,
                              std::wstring* progid) {
  if (progid)
    progid->clear();
  if (name.empty()) {
    LOG(ERROR) << "No protocol or file type to look up";
    return false;
  }
  std::wstring chosen;
  {
    base::win::RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, UserChoiceKey(name).c_str(), KEY_QUERY_VALUE) ==
            ERROR_SUCCESS &&
        key.ReadValue(L"ProgId", &chosen) == ERROR_SUCCESS && !chosen.empty()) {
      if (progid)
        *progid = chosen;
      if (ReadClassesValue(chosen + kOpenCommandSubkey, L"", command))
        return true;
      VLOG(1) << "The chosen handler " << base::WideToUTF8(chosen) << " of "
              << base::WideToUTF8(name) << " has no open command";
    }
  }
  std::wstring class_name = name;
  if (IsFileType(name) && !ReadClassesValue(name, L"", &class_name)) {
    VLOG(1) << "No class registered for " << base::WideToUTF8(name);
    return false;
  }
  if (ReadClassesValue(class_name + kOpenCommandSubkey, L"", command))
    return true;
  VLOG(1) << "No open command registered for " << base::WideToUTF8(name);
  return false;
}

bool WriteBrowserProgIdClass(RegistrationJournal* journal, const base::FilePath& launcher) {
  const std::wstring key = kClassesKey + GetBrowserProgId();
  const std::wstring type_name = base::UTF8ToWide(GetProductName()) + L" Web Document";
  bool ok = journal->WriteString(key, L"", type_name);
  ok &= journal->WriteString(key, L"FriendlyTypeName", type_name);
  ok &= journal->WriteString(key, L"URL Protocol", L"");
  ok &= journal->WriteString(key + L"\\DefaultIcon", L"", DefaultIcon(launcher));
  ok &= journal->WriteString(key + kOpenCommandSubkey, L"", OpenCommand(launcher));
  return ok;
}

bool WriteProtocolHandler(RegistrationJournal* journal, const std::wstring& protocol,
                          const base::FilePath& launcher) {
  if (protocol.empty() || IsFileType(protocol)) {
    LOG(ERROR) << "Not a protocol name: \"" << base::WideToUTF8(protocol) << "\"";
    return false;
  }
  const std::wstring key = kClassesKey + protocol;
  bool ok = journal->WriteString(key, L"", L"URL:" + protocol);
  ok &= journal->WriteString(key, L"URL Protocol", L"");
  ok &= journal->WriteString(key + L"\\DefaultIcon", L"", DefaultIcon(launcher));
  ok &= journal->WriteString(key + kOpenCommandSubkey, L"", OpenCommand(launcher));
  return ok;
}

bool WriteFileTypeHandler(RegistrationJournal* journal, const std::wstring& extension) {
  if (!IsFileType(extension) || extension.size() < 2) {
    LOG(ERROR) << "Not a file type: \"" << base::WideToUTF8(extension) << "\"";
    return false;
  }
  bool ok = journal->WriteString(kClassesKey + extension, L"", GetBrowserProgId());
  ok &= WriteOpenWithProgId(journal, extension);
  return ok;
}

bool WriteOpenWithProgId(RegistrationJournal* journal, const std::wstring& extension) {
  return WriteNone(journal, kClassesKey + extension + L"\\OpenWithProgIDs",
                   GetBrowserProgId().c_str());
}

bool WriteStartMenuInternetClient(RegistrationJournal* journal, const base::FilePath& launcher) {
  const std::wstring progid = GetBrowserProgId();
  const std::wstring display_name = GetBrowserDisplayName();
  const std::wstring client = std::wstring(kStartMenuInternetKey) + L"\\" + progid;
  const std::wstring capabilities = client + L"\\Capabilities";
  const std::wstring quoted = QuoteCommand(launcher, L"");

  bool ok = journal->WriteString(client, L"", display_name);
  ok &= journal->WriteString(client + L"\\DefaultIcon", L"", DefaultIcon(launcher));
  ok &= journal->WriteString(client + kOpenCommandSubkey, L"", quoted);
  ok &= journal->WriteString(client + L"\\InstallInfo", L"ReinstallCommand",
                             QuoteCommand(launcher, L"--makedefaultbrowser"));
  ok &= journal->WriteString(capabilities, L"ApplicationName", display_name);
  ok &= journal->WriteString(capabilities, L"ApplicationDescription", kApplicationDescription);
  ok &= journal->WriteString(capabilities, L"ApplicationIcon", quoted + L",0");
  for (const wchar_t* file_type : kBrowserFileTypes)
    ok &= journal->WriteString(capabilities + L"\\FileAssociations", file_type, progid);
  for (const wchar_t* protocol : kBrowserProtocols)
    ok &= journal->WriteString(capabilities + L"\\UrlAssociations", protocol, progid);
  ok &= journal->WriteString(capabilities + L"\\Startmenu", L"StartMenuInternet", progid);
  ok &= journal->WriteString(kRegisteredApplicationsKey, display_name.c_str(), capabilities);
  // Read by Windows versions before Default Programs and by programs that
  // still look for "the" browser there.
  ok &= journal->WriteString(kStartMenuInternetKey, L"", progid);
  return ok;
}

bool ClearUserChoice(RegistrationJournal* journal, const std::wstring& name) {
  if (base::win::GetWindowsVersion() >= base::win::VERSION_WIN8) {
    VLOG(1) << "The user's choice for " << base::WideToUTF8(name)
            << " is kept; only the shell may change it";
    return true;
  }
  if (journal->root() != HKEY_CURRENT_USER) {
    LOG(ERROR) << "The user's choice lives under HKEY_CURRENT_USER";
    return false;
  }
  // Recorded, so that the uninstallation gives the choice back (what fails
  // is logged there).
  return journal->ClearKey(UserChoiceKey(name));
}

void NotifyAssociationsChanged() {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // namespace installer
