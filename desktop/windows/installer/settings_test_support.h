// Helpers of the settings tests: seams that keep the settings away from the
// machine's real registry values and drives, and a wait for a status read.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_TEST_SUPPORT_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/string_number_conversions.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/time.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/install_folder_discovery.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_observer.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

class FakeDriveProbe : public DriveProbe {
 public:
  struct Drive {
    wchar_t letter;
    bool medium;
    UINT type;
  };

  DWORD GetLogicalDrives() const override {
    DWORD mask = 0;
    for (const Drive& drive : drives)
      mask |= 1u << (drive.letter - L'A');
    return mask;
  }
  bool HasMedium(wchar_t letter) const override {
    const Drive* drive = Find(letter);
    return drive && drive->medium;
  }
  UINT GetDriveType(wchar_t letter) const override {
    const Drive* drive = Find(letter);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
  }

  std::vector<Drive> drives;

 private:
  const Drive* Find(wchar_t letter) const {
    for (const Drive& drive : drives) {
      if (drive.letter == letter)
        return &drive;
    }
    return nullptr;
  }
};

// A registry key of the test's own below HKEY_CURRENT_USER (named after
// the test and the process), deleted at the end.
class ScopedTestRegistryKey {
 public:
  explicit ScopedTestRegistryKey(const char* tag) {
    path_ = L"Software\\VelmoSettingsTest_" +
            base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId())) + L"_" +
            std::wstring(tag, tag + strlen(tag));
    base::win::RegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS));
  }
  ~ScopedTestRegistryKey() {
    base::win::RegistryKey software;
    if (software.Open(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS) == ERROR_SUCCESS)
      software.DeleteKey(path_.substr(wcslen(L"Software\\")).c_str());
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// The settings read an empty registry key of the test's own, see no drives
// (unless the test adds some) and search no real uninstall entries.
class ScopedSettingsSeams {
 public:
  explicit ScopedSettingsSeams(const char* tag) : registry_(tag) {
    SetInstallFolderRegistryKeyForTesting(HKEY_CURRENT_USER, registry_.path());
    SetDriveProbeForTesting(&drives);
    SetUninstallEntryPlacesForTesting(&uninstall_places);
  }
  ~ScopedSettingsSeams() {
    SetInstallFolderRegistryKeyForTesting(nullptr, std::wstring());
    SetDriveProbeForTesting(nullptr);
    SetUninstallEntryPlacesForTesting(nullptr);
  }
  const std::wstring& registry_path() const { return registry_.path(); }

  FakeDriveProbe drives;
  std::vector<UninstallEntryPlace> uninstall_places;

 private:
  ScopedTestRegistryKey registry_;
};

// Counts the notifications and ends a run of the loop on OnSettingsObtained.
class RecordingObserver : public SettingsObserver {
 public:
  void OnSettingsChanged() override { ++changed; }
  void OnLanguageChanged() override { ++language_changed; }
  void OnSettingsObtained() override {
    ++obtained;
    if (runner)
      runner->Quit();
  }

  int changed = 0;
  int language_changed = 0;
  int obtained = 0;
  base::LoopRunner* runner = nullptr;
};

// The command line of "installer.exe" with |switches|.
inline base::CommandLine MakeCommandLine(const std::vector<std::wstring>& switches) {
  std::vector<std::wstring> argv = {L"installer.exe"};
  argv.insert(argv.end(), switches.begin(), switches.end());
  return base::CommandLine::FromArgv(argv);
}

// Runs the current loop until |settings| reports its status read (true), or
// until |timeout| passed (false).
inline bool WaitForSettingsObtained(Settings* settings,
                                    base::TimeSpan timeout = base::TimeSpan::FromSeconds(30)) {
  RecordingObserver observer;
  base::LoopRunner runner;
  observer.runner = &runner;
  settings->AddObserver(&observer);
  base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(), timeout);
  if (settings->IsFetchingStatus())
    runner.Run();
  settings->RemoveObserver(&observer);
  return observer.obtained > 0;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_TEST_SUPPORT_H_
