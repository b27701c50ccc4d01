#include "desktop/windows/installer/service/registration_journal.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/default_browser_registration.h"
#include "desktop/windows/installer/service/installation.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kUrlChoice[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\";
constexpr wchar_t kFileChoice[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

// Every key and value below |root|\|path|, as "key path" for a key and
// "key path|value name" = type and data for a value (names in lower case,
// as the registry compares them). The company key, which keeps the previous
// default browser on purpose, is left out.
void Dump(HKEY root, const std::wstring& path, std::map<std::wstring, std::wstring>* out) {
  if (base::ToLowerASCII(path) ==
      base::ToLowerASCII(L"Software\\" + base::UTF8ToWide(GetCompanyName()))) {
    return;
  }
  (*out)[base::ToLowerASCII(path)] = L"<key>";
  for (base::win::RegistryValueIterator it(root, path.c_str()); it.Valid(); ++it) {
    std::wstring text = base::NumberToString16(static_cast<unsigned>(it.Type())) + L":";
    for (uint8_t byte : it.Data())
      text += base::NumberToString16(static_cast<unsigned>(byte)) + L",";
    (*out)[base::ToLowerASCII(path + L"|" + it.Name())] = text;
  }
  std::vector<std::wstring> subkeys;
  for (base::win::RegistryKeyIterator it(root, path.c_str()); it.Valid(); ++it)
    subkeys.push_back(it.Name());
  for (const std::wstring& name : subkeys)
    Dump(root, path.empty() ? name : path + L"\\" + name, out);
}

std::map<std::wstring, std::wstring> DumpRoots() {
  std::map<std::wstring, std::wstring> state;
  std::map<std::wstring, std::wstring> machine;
  Dump(HKEY_CURRENT_USER, L"", &state);
  Dump(HKEY_LOCAL_MACHINE, L"", &machine);
  for (const auto& [path, value] : machine)
    state[L"hklm\\" + path] = value;
  return state;
}

bool Write(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  base::win::RegistryKey key;
  return key.Create(root, path.c_str(), KEY_SET_VALUE) == ERROR_SUCCESS &&
         key.WriteValue(name, value) == ERROR_SUCCESS;
}

std::wstring Read(HKEY root, const std::wstring& path, const wchar_t* name) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS) {
    value.clear();
  }
  return value;
}

// Both roots of this process go to fresh keys of the test's own, so that
// the handlers of "another program" are the test's and nothing of the
// machine is touched.
class RegistrationJournalTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    const std::wstring pid = base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId()));
    product_ = "VelmoJournal" + base::WideToUTF8(pid);
    SetProductConfigForTesting(("{\"product_name\": \"" + product_ + "\", \"company_name\": \"" +
                                product_ + "Co\", \"file_name_base\": \"velmo\"}")
                                   .c_str());
    base_ = L"Software\\VelmoJournalTest" + pid + L"_" +
            base::UTF8ToWide(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(ERROR_SUCCESS,
              user_.Create(HKEY_CURRENT_USER, (base_ + L"\\User").c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS,
              machine_.Create(HKEY_CURRENT_USER, (base_ + L"\\Machine").c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, user_.Handle()));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_.Handle()));
    // Another browser that is there: what it registered comes back.
    other_exe_ = MakeFolder(L"Other").Append(L"other.exe");
    ASSERT_EQ(2, base::WriteFileBytes(other_exe_, "MZ", 2));
  }
  void TearDown() override {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    user_.Close();
    machine_.Close();
    base::win::RegistryKey software;
    if (software.Open(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS) == ERROR_SUCCESS)
      software.DeleteKey(base_.substr(wcslen(L"Software\\")).c_str());
    SetProductConfigForTesting(nullptr);
  }

  // Another browser, registered as a user of Windows 7 finds it: its own
  // protocol handlers (with "URL Protocol", icon and edit flags), its file
  // type ProgId with content type and OpenWithProgIDs, its client, and the
  // user's choices that name it.
  void RegisterOtherBrowser(HKEY root) {
    const std::wstring classes = L"Software\\Classes\\";
    for (const wchar_t* protocol : kBrowserProtocols) {
      const std::wstring key = classes + protocol;
      ASSERT_TRUE(Write(root, key, L"", std::wstring(L"URL:") + protocol + L" of Other"));
      ASSERT_TRUE(Write(root, key, L"URL Protocol", L""));
      base::win::RegistryKey flags(root, key.c_str(), KEY_SET_VALUE);
      ASSERT_EQ(ERROR_SUCCESS, flags.WriteValue(L"EditFlags", static_cast<DWORD>(2)));
      ASSERT_TRUE(Write(root, key + L"\\DefaultIcon", L"", other_exe_.value() + L",1"));
      ASSERT_TRUE(Write(root, key + L"\\shell\\open\\command", L"", OtherCommand()));
    }
    for (const wchar_t* file_type : {L".htm", L".html", L".xhtml"}) {
      const std::wstring key = classes + file_type;
      ASSERT_TRUE(Write(root, key, L"", L"OtherHTML"));
      ASSERT_TRUE(Write(root, key, L"Content Type", L"text/html"));
      base::win::RegistryKey open_with;
      ASSERT_EQ(ERROR_SUCCESS,
                open_with.Create(root, (key + L"\\OpenWithProgIDs").c_str(), KEY_SET_VALUE));
      ASSERT_EQ(ERROR_SUCCESS, open_with.WriteValue(L"OtherHTML", nullptr, 0, REG_NONE));
    }
    ASSERT_TRUE(Write(root, classes + L"OtherHTML\\shell\\open\\command", L"", OtherCommand()));
    ASSERT_TRUE(Write(root, L"Software\\Clients\\StartMenuInternet", L"", L"OTHER.EXE"));
    ASSERT_TRUE(Write(root,
                      L"Software\\Clients\\StartMenuInternet\\OTHER.EXE\\shell\\open\\command", L"",
                      L"\"" + other_exe_.value() + L"\""));
    ASSERT_TRUE(Write(root, L"Software\\RegisteredApplications", L"Other",
                      L"Software\\Clients\\StartMenuInternet\\OTHER.EXE\\Capabilities"));
    if (root == HKEY_CURRENT_USER) {
      for (const wchar_t* protocol : kBrowserProtocols) {
        const std::wstring key = kUrlChoice + std::wstring(protocol) + L"\\UserChoice";
        ASSERT_TRUE(Write(root, key, L"Progid", L"OtherURL"));
      }
      ASSERT_TRUE(
          Write(root, kFileChoice + std::wstring(L".html\\UserChoice"), L"Progid", L"OtherHTML"));
    }
  }

  std::wstring OtherCommand() const { return L"\"" + other_exe_.value() + L"\" -url \"%1\""; }

  base::FilePath MakeFolder(const wchar_t* name) {
    const base::FilePath folder = temp_.GetPath().Append(name);
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    return folder;
  }

  base::ScopedTempDir temp_;
  base::FilePath other_exe_;
  std::string product_;
  std::wstring base_;
  base::win::RegistryKey user_;
  base::win::RegistryKey machine_;
};

// Registered as the default browser for the machine and the user (twice,
// as an upgrade does), then unregistered: another program's protocol
// handlers, file types, client and the user's choices are exactly as they
// were, and nothing of the browser is left.
TEST_F(RegistrationJournalTest, AnotherProgramsRegistrationComesBackExactly) {
  RegisterOtherBrowser(HKEY_LOCAL_MACHINE);
  RegisterOtherBrowser(HKEY_CURRENT_USER);
  const std::map<std::wstring, std::wstring> before = DumpRoots();

  Installation mine(MakeFolder(L"mine"));
  for (int round = 0; round < 2; ++round) {
    for (bool all_users : {true, false}) {
      ASSERT_TRUE(mine.SavePreviousDefaultBrowser(all_users));
      ASSERT_TRUE(mine.RegisterAsDefaultBrowser(all_users));
    }
  }
  EXPECT_TRUE(mine.IsDefaultHandlerFor(L"http", false));
  EXPECT_TRUE(mine.IsDefaultHandlerFor(L".html", false));
  const std::wstring ftp_command =
      Read(HKEY_LOCAL_MACHINE, L"Software\\Classes\\ftp\\shell\\open\\command", L"");
  EXPECT_EQ(mine.folder().Append(kLauncherExe), GetProgramFromCommand(ftp_command));
  EXPECT_EQ(GetBrowserProgId(),
            Read(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", L""));
  EXPECT_NE(before, DumpRoots());

  ASSERT_TRUE(mine.UnregisterAsDefaultBrowser(false));
  ASSERT_TRUE(mine.UnregisterAsDefaultBrowser(true));
  const std::map<std::wstring, std::wstring> after = DumpRoots();
  for (const auto& [path, value] : before) {
    auto it = after.find(path);
    EXPECT_TRUE(it != after.end() && it->second == value) << "changed or gone: " << path;
  }
  for (const auto& [path, value] : after)
    EXPECT_TRUE(before.count(path)) << "left behind: " << path;
  // The record of what was replaced goes with the registration.
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    base::win::RegistryKey record;
    EXPECT_NE(ERROR_SUCCESS, record.Open(root,
                                         (L"Software\\" + base::UTF8ToWide(GetCompanyName()) +
                                          L"\\" + kReplacedRegistrationKey)
                                             .c_str(),
                                         KEY_QUERY_VALUE));
  }
}

// On a machine where nothing handled the web, the registration leaves
// nothing: the keys it created go. A value another program set since the
// registration is that program's and stays, and so does the key holding it.
TEST_F(RegistrationJournalTest, CreatedKeysGoAndLaterChangesOfOthersStay) {
  const std::map<std::wstring, std::wstring> before = DumpRoots();
  Installation mine(MakeFolder(L"mine"));
  ASSERT_TRUE(mine.RegisterAsDefaultBrowser(false));
  const std::wstring https = L"Software\\Classes\\https\\shell\\open\\command";
  ASSERT_TRUE(Write(HKEY_CURRENT_USER, https, L"", OtherCommand()));
  ASSERT_TRUE(mine.UnregisterAsDefaultBrowser(false));

  EXPECT_EQ(OtherCommand(), Read(HKEY_CURRENT_USER, https, L""));
  std::map<std::wstring, std::wstring> after = DumpRoots();
  // What the other program wrote, and the keys above it.
  for (auto it = after.begin(); it != after.end();) {
    if (base::StartsWith(it->first, L"software\\classes\\https", base::CompareCase::SENSITIVE) &&
        (it->first.find(L'|') == std::wstring::npos ||
         it->first == base::ToLowerASCII(https + L"|"))) {
      it = after.erase(it);
    } else {
      ++it;
    }
  }
  // Software\Classes holds the other program's handler now, and Software
  // the company key (which the dump leaves out).
  after.erase(L"software\\classes");
  after.erase(L"software");
  std::map<std::wstring, std::wstring> expected = before;
  expected.erase(L"software\\classes");
  expected.erase(L"software");
  EXPECT_EQ(expected, after);
}

// A per-user installation, then an all-users one that registers for the
// machine and for its user too, each removed with its folder, in either
// order: neither gives back a registration of the other once that one is
// gone, so nothing is left that names either launcher, and the machine's
// other browser is the handler again.
TEST_F(RegistrationJournalTest, TwoInstallationsRemovedInEitherOrderLeaveNothingOfEither) {
  RegisterOtherBrowser(HKEY_LOCAL_MACHINE);
  const std::map<std::wstring, std::wstring> before = DumpRoots();
  for (bool per_user_first : {true, false}) {
    SCOPED_TRACE(per_user_first ? "per-user installation removed first"
                                : "all-users installation removed first");
    const base::FilePath user_folder = MakeFolder(L"user");
    const base::FilePath machine_folder = MakeFolder(L"machine");
    for (const base::FilePath& folder : {user_folder, machine_folder})
      ASSERT_EQ(2, base::WriteFileBytes(folder.Append(kLauncherExe), "MZ", 2));
    Installation user(user_folder);
    Installation machine(machine_folder);
    ASSERT_TRUE(user.SavePreviousDefaultBrowser(false));
    ASSERT_TRUE(user.RegisterAsDefaultBrowser(false));
    for (bool all_users : {true, false}) {
      ASSERT_TRUE(machine.SavePreviousDefaultBrowser(all_users));
      ASSERT_TRUE(machine.RegisterAsDefaultBrowser(all_users));
    }
    ASSERT_TRUE(machine.IsDefaultHandlerFor(L"http", false));

    auto remove_user = [&] {
      ASSERT_TRUE(user.UnregisterAsDefaultBrowser(false));
      ASSERT_TRUE(base::DeletePath(user_folder, true));
    };
    auto remove_machine = [&] {
      ASSERT_TRUE(machine.UnregisterAsDefaultBrowser(false));
      ASSERT_TRUE(machine.UnregisterAsDefaultBrowser(true));
      ASSERT_TRUE(base::DeletePath(machine_folder, true));
    };
    if (per_user_first) {
      remove_user();
      remove_machine();
    } else {
      remove_machine();
      remove_user();
    }

    std::map<std::wstring, std::wstring> after = DumpRoots();
    // The user's Software holds the company key, which keeps the previous
    // default browser (the dump leaves it out).
    after.erase(L"software");
    for (const auto& [path, value] : before) {
      auto it = after.find(path);
      EXPECT_TRUE(it != after.end() && it->second == value) << "changed or gone: " << path;
    }
    for (const auto& [path, value] : after)
      EXPECT_TRUE(before.count(path)) << "left behind: " << path;
    std::wstring command;
    ASSERT_TRUE(GetRegisteredOpenCommand(L"http", &command, nullptr));
    EXPECT_EQ(other_exe_, GetProgramFromCommand(command));
  }
}

// An installation an installer without records registered: its web
// handlers go back to the previous default browser that was kept, when that
// is still there, and go altogether when it is not.
TEST_F(RegistrationJournalTest, UnrecordedRegistrationGivesTheWebOnlyToABrowserStillThere) {
  const std::wstring gone_command =
      L"\"" + temp_.GetPath().Append(L"Removed\\launcher.exe").value() + L"\" \"%1\"";
  for (const std::wstring& previous : {OtherCommand(), gone_command}) {
    SCOPED_TRACE(base::WideToUTF8(previous));
    const base::FilePath folder = MakeFolder(L"unrecorded");
    const std::wstring mine = L"\"" + folder.Append(kLauncherExe).value() + L"\" \"%1\"";
    for (const wchar_t* protocol : {L"http", L"https"}) {
      ASSERT_TRUE(Write(HKEY_CURRENT_USER,
                        L"Software\\Classes\\" + std::wstring(protocol) + L"\\shell\\open\\command",
                        L"", mine));
    }
    ASSERT_TRUE(Write(HKEY_CURRENT_USER, L"Software\\" + base::UTF8ToWide(GetCompanyName()),
                      kPreviousDefaultBrowserValue, previous));

    ASSERT_TRUE(Installation(folder).UnregisterAsDefaultBrowser(false));
    for (const wchar_t* protocol : {L"http", L"https"}) {
      const std::wstring key = L"Software\\Classes\\" + std::wstring(protocol);
      if (previous == gone_command) {
        base::win::RegistryKey left;
        EXPECT_NE(ERROR_SUCCESS, left.Open(HKEY_CURRENT_USER, key.c_str(), KEY_QUERY_VALUE))
            << protocol;
      } else {
        EXPECT_EQ(previous, Read(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", L""))
            << protocol;
      }
    }
  }
}

}  // namespace
}  // namespace installer
