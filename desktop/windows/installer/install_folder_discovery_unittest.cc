#include "desktop/windows/installer/install_folder_discovery.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/threading/message_loop.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(StandaloneFoldersTest, DrivesRankedAndFiltered) {
  test::FakeDriveProbe probe;
  probe.drives = {
      {L'A', true, DRIVE_REMOVABLE}, {L'C', true, DRIVE_FIXED}, {L'D', true, DRIVE_CDROM}};
  EXPECT_EQ(
      (std::vector<base::FilePath>{base::FilePath(L"A:\\Velmo"), base::FilePath(L"C:\\Velmo")}),
      FindStandaloneFolders(probe));

  // Without a medium a drive is no candidate; a lone CD-ROM stays.
  probe.drives = {{L'A', false, DRIVE_REMOVABLE}, {L'E', true, DRIVE_CDROM}};
  EXPECT_EQ((std::vector<base::FilePath>{base::FilePath(L"E:\\Velmo")}),
            FindStandaloneFolders(probe));

  // Best first; the best is kept even when it is a drive of unknown kind.
  probe.drives = {{L'F', true, DRIVE_UNKNOWN},
                  {L'G', true, DRIVE_RAMDISK},
                  {L'H', true, DRIVE_REMOTE},
                  {L'I', true, DRIVE_NO_ROOT_DIR}};
  EXPECT_EQ(
      (std::vector<base::FilePath>{base::FilePath(L"H:\\Velmo"), base::FilePath(L"G:\\Velmo")}),
      FindStandaloneFolders(probe));
  probe.drives = {{L'F', true, DRIVE_UNKNOWN}, {L'I', true, DRIVE_NO_ROOT_DIR}};
  EXPECT_EQ((std::vector<base::FilePath>{base::FilePath(L"F:\\Velmo")}),
            FindStandaloneFolders(probe));

  probe.drives.clear();
  EXPECT_TRUE(FindStandaloneFolders(probe).empty());
}

TEST(StandaloneFoldersTest, SystemProbeAnswersForTheSystemDrive) {
  // Wine offers no removable media; the probe must still report drive C
  // as a fixed drive without failing.
  SystemDriveProbe probe;
  EXPECT_NE(0u, probe.GetLogicalDrives() & (1u << 2));
  EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), probe.GetDriveType(L'C'));
}

class RegistryInstallFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    ASSERT_EQ(ERROR_SUCCESS,
              key_.Open(HKEY_CURRENT_USER, registry_.path().c_str(), KEY_ALL_ACCESS));
  }
  // A folder holding the record an installation leaves, or |record|.
  base::FilePath MakeFolder(const wchar_t* name,
                            const wchar_t* record = Installation::kInstallLogFileName) {
    base::FilePath folder = temp_dir_.GetPath().Append(name);
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    if (record) {
      EXPECT_EQ(1, base::WriteFileBytes(folder.Append(record), "x", 1));
    }
    return folder;
  }
  base::FilePath Read(bool x64) {
    return ReadRegistryInstallFolderFrom(HKEY_CURRENT_USER, registry_.path(), x64);
  }

  test::ScopedTestRegistryKey registry_{"RegistryFolder"};
  base::win::RegistryKey key_;
  base::ScopedTempDir temp_dir_;
};

TEST_F(RegistryInstallFolderTest, ValuesInTheirOrder) {
  EXPECT_TRUE(Read(false).empty());

  const base::FilePath primordial = MakeFolder(L"primordial");
  ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last install path", primordial.value()));
  EXPECT_EQ(primordial, Read(false));

  const base::FilePath stable = MakeFolder(L"stable");
  ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last Stable Install Path", stable.value() + L"\\\\"));
  EXPECT_EQ(stable, Read(false));  // Trailing separators removed.

  const base::FilePath x64 = MakeFolder(L"x64");
  ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last Stable Install Path x64", x64.value()));
  EXPECT_EQ(x64, Read(true));
  EXPECT_EQ(stable, Read(false));

  // The first value found decides, even when its folder is gone.
  ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last Stable Install Path",
                                           temp_dir_.GetPath().Append(L"gone").value()));
  EXPECT_TRUE(Read(false).empty());
  ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last Stable Install Path", L"relative\\path"));
  EXPECT_TRUE(Read(false).empty());

  // Only a folder with an installation's record (this engine's or the
  // former one's) counts: an empty or partial one that anything left does
  // not decide where the next installation goes.
  for (const auto& [folder, counts] :
       {std::pair{MakeFolder(L"empty", nullptr), false},
        std::pair{MakeFolder(L"partial", kLauncherFileName), false},
        std::pair{MakeFolder(L"former", kTarselInstallLogFileName), true}}) {
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteValue(L"Last Stable Install Path", folder.value()));
    EXPECT_EQ(counts ? folder : base::FilePath(), Read(false)) << folder;
  }
}

// Uninstall entries in a test key of HKEY_CURRENT_USER and in both views of
// a test key of HKEY_LOCAL_MACHINE.
class UninstallEntriesTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = L"Software\\VelmoSettingsTest_" +
            base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId())) + L"_Uninstall";
    places_ = {{HKEY_CURRENT_USER, base_, 0},
               {HKEY_LOCAL_MACHINE, base_, KEY_WOW64_64KEY},
               {HKEY_LOCAL_MACHINE, base_, KEY_WOW64_32KEY}};
  }
  void TearDown() override {
    for (const UninstallEntryPlace& place : places_) {
      base::win::RegistryKey software;
      if (software.Open(place.root, L"Software", KEY_ALL_ACCESS | place.view) == ERROR_SUCCESS)
        software.DeleteKey(base_.substr(wcslen(L"Software\\")).c_str());
    }
  }
  void AddEntry(size_t place, const std::wstring& name, const wchar_t* publisher,
                const wchar_t* display_name) {
    base::win::RegistryKey key;
    const std::wstring path = base_ + L"\\" + name;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Create(places_[place].root, path.c_str(), KEY_ALL_ACCESS | places_[place].view));
    if (publisher) {
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Publisher", publisher));
    }
    if (display_name) {
      ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"DisplayName", display_name));
    }
  }

  std::wstring base_;
  std::vector<UninstallEntryPlace> places_;
};

TEST_F(UninstallEntriesTest, SameStreamEntriesInPlaceOrder) {
  AddEntry(2, L"Velmo 32", L"Velmo Software AS", L"Velmo Stable 43.0");
  AddEntry(1, L"Velmo 64", L"Velmo Software AS", L"Velmo Stable 43.0");
  AddEntry(0, L"Velmo user", L"Velmo Software", L"Velmo Stable 43.0");
  // Not counted: another stream, another publisher, no stream word, other
  // names, unreadable values.
  AddEntry(0, L"Velmo next", L"Velmo Software", L"Velmo Next 44.0");
  AddEntry(0, L"Velmo other", L"Other Software", L"Velmo Stable 43.0");
  AddEntry(0, L"Velmo short", L"Velmo Software", L"Velmo Stable");
  AddEntry(0, L"Velmo nopub", nullptr, L"Velmo Stable 43.0");
  AddEntry(0, L"Velmo noname", L"Velmo Software", nullptr);
  AddEntry(0, L"Velmox wrong", L"Velmo Software", L"VelmoStable 43.0");
  AddEntry(0, L"Other", L"Velmo Software", L"Velmo Stable 43.0");

  EXPECT_EQ((std::vector<std::wstring>{L"0:Velmo user", L"1:Velmo 64", L"2:Velmo 32"}),
            FindSameStreamUninstallEntries(places_, 4, 10));
  EXPECT_EQ((std::vector<std::wstring>{L"0:Velmo user", L"1:Velmo 64"}),
            FindSameStreamUninstallEntries(places_, 4, 2));
  EXPECT_EQ((std::vector<std::wstring>{L"0:Velmo next"}),
            FindSameStreamUninstallEntries(places_, 3, 10));
  EXPECT_TRUE(FindSameStreamUninstallEntries(places_, 1, 10).empty());
}

// The system's own places: the user's entries first, then the machine's
// 64-bit view (on a 64-bit Windows), then its 32-bit view, where earlier
// releases wrote theirs.
TEST(UninstallEntryPlacesTest, SystemPlacesFindEntriesOfEachView) {
  const std::vector<UninstallEntryPlace> places = GetUninstallEntryPlaces();
  ASSERT_GE(places.size(), 2u);
  const bool x64 = places.size() == 3;
  const std::wstring tag = L"Velmo places test " +
                           base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId()));
  struct Entry {
    HKEY root;
    REGSAM view;
    std::wstring name;
  };
  std::vector<Entry> entries = {{HKEY_CURRENT_USER, 0, tag + L" user"},
                                {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, tag + L" 32"}};
  if (x64)
    entries.push_back({HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, tag + L" 64"});
  const std::wstring uninstall = places[0].key_path;
  for (const Entry& entry : entries) {
    base::win::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(entry.root, (uninstall + L"\\" + entry.name).c_str(),
                                        KEY_ALL_ACCESS | entry.view));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Publisher", L"Velmo Software"));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"DisplayName", L"Velmo Stable 43.0"));
  }
  std::vector<std::wstring> ours;
  for (const std::wstring& match : FindSameStreamUninstallEntries(places, 4, 1000)) {
    if (match.find(tag) != std::wstring::npos)
      ours.push_back(match);
  }
  std::vector<std::wstring> expected = {L"0:" + tag + L" user"};
  if (x64)
    expected.push_back(L"1:" + tag + L" 64");
  expected.push_back(base::NumberToString16(static_cast<unsigned>(places.size() - 1)) + L":" + tag +
                     L" 32");
  EXPECT_EQ(expected, ours);
  for (const Entry& entry : entries) {
    base::win::RegistryKey key;
    if (key.Open(entry.root, uninstall.c_str(), KEY_ALL_ACCESS | entry.view) == ERROR_SUCCESS)
      key.DeleteKey(entry.name.c_str());
  }
}

TEST_F(UninstallEntriesTest, ProfileDeletionFollowsSharedEntries) {
  base::MessageLoop loop;
  test::ScopedSettingsSeams seams("UninstallShared");
  seams.uninstall_places = places_;
  AddEntry(1, L"Velmo a", L"Velmo Software", L"Velmo Stable 43.0");
  AddEntry(2, L"Velmo b", L"Velmo Software", L"Velmo Next 43.0");
  {
    Settings settings(base::CommandLine::FromArgv({L"installer.exe", L"--uninstall"}), true, false,
                      false, base::FilePath(), false, false);
    EXPECT_TRUE(settings.IsProfileDeletionAllowed());
  }
  AddEntry(2, L"Velmo c", L"Velmo Software", L"Velmo Stable 43.0");
  {
    Settings settings(base::CommandLine::FromArgv({L"installer.exe", L"--uninstall"}), true, false,
                      false, base::FilePath(), false, false);
    EXPECT_FALSE(settings.IsProfileDeletionAllowed());
  }
  {
    // The back end does not look.
    Settings settings(base::CommandLine::FromArgv({L"installer.exe", L"--uninstall", L"--backend"}),
                      true, false, false, base::FilePath(), false, false);
    EXPECT_TRUE(settings.IsProfileDeletionAllowed());
  }
  EXPECT_TRUE(UninstallStreamWordMatches(2, L"developer"));
  EXPECT_TRUE(UninstallStreamWordMatches(2, L"Developer"));
  EXPECT_TRUE(UninstallStreamWordMatches(3, L"beta"));
  EXPECT_FALSE(UninstallStreamWordMatches(1, L"Nightly"));
}

TEST(DefaultInstallFolderTest, EachSourceAndMode) {
  base::MessageLoop loop;
  base::ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  test::ScopedSettingsSeams seams("DefaultFolder");
  seams.drives.drives = {{L'C', true, DRIVE_FIXED}, {L'A', true, DRIVE_REMOVABLE}};
  const base::FilePath registry_folder = temp_dir.GetPath().Append(L"FromRegistry");
  ASSERT_TRUE(base::CreateDirectoryTree(registry_folder));
  ASSERT_EQ(
      1, base::WriteFileBytes(registry_folder.Append(Installation::kInstallLogFileName), "x", 1));
  {
    base::win::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Open(HKEY_CURRENT_USER, seams.registry_path().c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Last Stable Install Path", registry_folder.value()));
  }
  ASSERT_TRUE(
      base::PathRegistry::Override(base::kPathProgramFilesX86, temp_dir.GetPath().Append(L"PF86")));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathProgramFilesNative,
                                           temp_dir.GetPath().Append(L"PF")));
  const base::FilePath command_line_folder = temp_dir.GetPath().Append(L"FromCommandLine");
  Settings settings(base::CommandLine(), false, false, false, command_line_folder, false, true);
  ASSERT_TRUE(test::WaitForSettingsObtained(&settings));

  EXPECT_EQ(registry_folder, settings.registry_install_folder());
  EXPECT_EQ(command_line_folder, settings.GetInstallFolder());
  EXPECT_EQ(
      (std::vector<base::FilePath>{base::FilePath(L"A:\\Velmo"), base::FilePath(L"C:\\Velmo")}),
      settings.standalone_folders());
  using S = Settings;
  EXPECT_EQ(command_line_folder, settings.ComputeDefaultInstallFolder(
                                     S::kFromCommandLine | S::kFromRegistry, false, false, false));
  EXPECT_EQ(registry_folder, settings.ComputeDefaultInstallFolder(
                                 S::kFromRegistry | S::kFromStandardFolder, false, true, false));
  // A stand-alone copy never goes where the registry says.
  EXPECT_EQ(base::FilePath(L"A:\\Velmo"),
            settings.ComputeDefaultInstallFolder(S::kFromRegistry | S::kFromStandardFolder, false,
                                                 false, true));
  EXPECT_EQ(temp_dir.GetPath().Append(L"PF\\Velmo"),
            settings.ComputeDefaultInstallFolder(S::kFromStandardFolder, true, true, false));
  EXPECT_EQ(temp_dir.GetPath().Append(L"PF86\\Velmo"),
            settings.ComputeDefaultInstallFolder(S::kFromStandardFolder, false, true, false));
  base::FilePath user_programs;
  ASSERT_TRUE(GetUserProgramsFolder(&user_programs));
  EXPECT_EQ(user_programs.Append(L"Velmo"),
            settings.ComputeDefaultInstallFolder(S::kFromStandardFolder, false, false, false));
  EXPECT_TRUE(settings.ComputeDefaultInstallFolder(S::kFromRegistry, false, false, true).empty());
  base::PathRegistry::ClearOverridesForTesting();
}

}  // namespace
}  // namespace installer
