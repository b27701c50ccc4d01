#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/exit_callback_manager.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_printf.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "components/prefs/important_file_writer.h"
#include "desktop/common/autoupdate/updatechecker/fallback_storage.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace autoupdate {
namespace {

constexpr char kEventsSwitch[] = "gs-test-events";

// Holds the access mutex until the parent signals "<prefix>release", after
// signalling "<prefix>ready".
CHILD_PROCESS_MAIN(GlobalStorageMutexHolder) {
  const std::wstring prefix =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(kEventsSwitch);
  base::win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, GlobalStorage::kMutexName));
  if (!mutex.IsValid() || WaitForSingleObject(mutex.Get(), 10000) != WAIT_OBJECT_0)
    return 1;
  base::win::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (prefix + L"ready").c_str()));
  base::win::ScopedHandle release(OpenEventW(SYNCHRONIZE, FALSE, (prefix + L"release").c_str()));
  if (!ready.IsValid() || !release.IsValid() || !SetEvent(ready.Get()))
    return 2;
  const DWORD wait = WaitForSingleObject(release.Get(), 60000);
  ReleaseMutex(mutex.Get());
  return wait == WAIT_OBJECT_0 ? 0 : 3;
}

std::vector<std::string>* g_log_lines = nullptr;

bool CaptureLogLine(int, const char*, int, size_t, const std::string& line) {
  if (g_log_lines)
    g_log_lines->push_back(line);
  return false;
}

class GlobalStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    company_ = base::FormatString("VelmoGsTest%lu", GetCurrentProcessId());
    installer::SetProductConfigForTesting(
        base::FormatString(R"({"company_name": "%s"})", company_.c_str()).c_str());
    key_path_ = L"Software\\" + base::UTF8ToWide(company_);
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    file_path_ = temp_dir_.GetPath().Append(GlobalStorage::kFallbackFileName);
  }

  void TearDown() override {
    SetKeySecurity(L"D:P(A;OICI;KA;;;WD)");  // Whatever a test left, deletable again.
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
    installer::SetProductConfigForTesting(nullptr);
    prefs::ImportantFileWriter::SetFailureForTesting(prefs::ImportantFileWriter::kNoFailure);
  }

  // Creates the company key and gives it the DACL of |sddl|.
  void SetKeySecurity(const wchar_t* sddl) {
    base::win::ScopedHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
      return;  // Nothing to repair in TearDown; a test's own use asserts below.
    }
    base::win::ScopedLocalAlloc descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Receive()),
        nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor.Get()));
  }

  // The registry value as wide text, as any other reader sees it; "<none>"
  // when missing.
  std::wstring RegistryValue(const wchar_t* name) {
    base::win::RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
      return L"<none>";
    std::wstring value;
    return key.ReadValue(name, &value) == ERROR_SUCCESS ? value : L"<none>";
  }

  // The "GS" object of the fallback file.
  std::unique_ptr<base::DictValue> FileValues() {
    std::string contents;
    if (!base::ReadFileToString(file_path_, &contents))
      return nullptr;
    std::unique_ptr<base::Value> root = base::JsonReader::Read(contents);
    const base::DictValue* dict = nullptr;
    const base::DictValue* values = nullptr;
    if (!root || !root->GetAsDictionary(&dict) ||
        !dict->GetDictionaryWithoutPathExpansion(FallbackStorage::kValuesKey, &values)) {
      return nullptr;
    }
    return values->CreateDeepCopyDict();
  }

  void WriteFile(const std::string& contents) {
    ASSERT_EQ(static_cast<int>(contents.size()),
              base::WriteFileBytes(file_path_, contents.data(), static_cast<int>(contents.size())));
  }

  std::string company_;
  std::wstring key_path_;
  base::ScopedTempDir temp_dir_;
  base::FilePath file_path_;
};

TEST_F(GlobalStorageTest, ProcessWideInstanceOutsideAStandAloneCopyUsesTheRegistry) {
  base::ExitCallbackManager exit_manager;  // Destroys the instance at the end.
  GlobalStorage* storage = GlobalStorage::GetInstance();
  ASSERT_TRUE(storage);
  EXPECT_EQ(storage, GlobalStorage::GetInstance());
  // The test executable's folder is no installation, so no stand-alone copy.
  EXPECT_FALSE(storage->fallback_mode());
  EXPECT_EQ(key_path_, storage->key_path());
}

TEST_F(GlobalStorageTest, RegistryValuesRoundTripAndDelete) {
  GlobalStorage storage(false);
  ASSERT_FALSE(storage.fallback_mode());
  storage.Init(temp_dir_.GetPath());

  // Deleting from a key that does not exist yet succeeds.
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", ""));
  std::string value = "stale";
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("", value);

  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", "0f1e-2d3c"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("a.b", "dotted"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", "4b5a"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("4b5a", value);
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("a.b", &value));
  EXPECT_EQ("dotted", value);
  EXPECT_EQ(L"4b5a", RegistryValue(L"UUID"));  // REG_SZ, readable by everyone.

  // A value written by another (wide) writer, with its NUL counted.
  base::win::RegistryKey key(HKEY_CURRENT_USER, key_path_.c_str(), KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Other", std::wstring_view(L"wide")));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("Other", &value));
  EXPECT_EQ("wide", value);

  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", ""));
  EXPECT_EQ(L"<none>", RegistryValue(L"UUID"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("", value);
  EXPECT_FALSE(base::PathExists(file_path_));  // The registry sufficed.
}

TEST_F(GlobalStorageTest, RefusesWhatCannotComeBackUnchanged) {
  GlobalStorage storage(false);
  std::string value;
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.SetValue("", "x"));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.GetValue("", &value));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.GetValue("UUID", nullptr));
  // Non-ASCII text and embedded NULs would come back changed.
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.SetValue("UUID", "caf\xc3\xa9"));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.SetValue("\xc3\xa9t\xc3\xa9", "x"));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage.SetValue("UUID", std::string_view("a\0b", 3)));
  EXPECT_EQ(L"<none>", RegistryValue(L"UUID"));

  // Non-ASCII text someone else stored is a failure, not a mangled value.
  base::win::RegistryKey key(HKEY_CURRENT_USER, key_path_.c_str(), KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Name", std::wstring_view(L"caf\u00e9")));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Number", DWORD{7}));
  value = "stale";
  EXPECT_EQ(GlobalStorage::kFailure, storage.GetValue("Name", &value));
  EXPECT_EQ("", value);
  EXPECT_EQ(GlobalStorage::kFailure, storage.GetValue("Number", &value));

  GlobalStorage copy_only(true);
  copy_only.Init(temp_dir_.GetPath());
  WriteFile(R"({"GS": {"Name": "caf\u00e9", "Number": 7}})");
  EXPECT_EQ(GlobalStorage::kFailure, copy_only.GetValue("Name", &value));
  EXPECT_EQ(GlobalStorage::kFailure, copy_only.GetValue("Number", &value));
  EXPECT_EQ(GlobalStorage::kInvalidArgument, copy_only.SetValue("Name", "caf\xc3\xa9"));
}

TEST_F(GlobalStorageTest, UnwritableKeySwitchesToTheFallbackFile) {
  SetKeySecurity(L"D:P(A;OICI;KR;;;WD)");  // Everyone may read, no one write.
  GlobalStorage storage(false);
  ASSERT_TRUE(storage.fallback_mode());

  // Without a folder there is nowhere to write.
  EXPECT_EQ(GlobalStorage::kFailure, storage.SetValue("UUID", "x"));
  storage.Init(temp_dir_.GetPath());
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", "f00d"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("Other", "1"));
  std::string value;
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("f00d", value);
  EXPECT_EQ(L"<none>", RegistryValue(L"UUID"));
  std::unique_ptr<base::DictValue> values = FileValues();
  ASSERT_TRUE(values);
  EXPECT_TRUE(values->GetStringWithoutPathExpansion("UUID", &value));
  EXPECT_EQ("f00d", value);

  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", ""));
  values = FileValues();
  ASSERT_TRUE(values);
  EXPECT_FALSE(values->HasKey("UUID"));
  EXPECT_TRUE(values->HasKey("Other"));
}

TEST_F(GlobalStorageTest, StandAloneCopyNeverTouchesTheRegistry) {
  GlobalStorage storage(true);
  ASSERT_TRUE(storage.fallback_mode());
  storage.Init(temp_dir_.GetPath());
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", "beef"));
  std::string value;
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("beef", value);
  base::win::ScopedHKey key;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_READ, key.Receive()));
}

TEST_F(GlobalStorageTest, InitCopiesTheFallbackStringsIntoTheRegistry) {
  WriteFile(R"({"GS": {"A": "1", "B": 2, "C.D": "x"}, "other": true})");
  GlobalStorage storage(false);
  storage.Init(temp_dir_.GetPath());
  EXPECT_EQ(L"1", RegistryValue(L"A"));
  EXPECT_EQ(L"<none>", RegistryValue(L"B"));
  EXPECT_EQ(L"x", RegistryValue(L"C.D"));

  // From now on the file is kept in step with the registry ...
  EXPECT_EQ(GlobalStorage::kSuccess, storage.SetValue("A", "2"));
  std::unique_ptr<base::DictValue> values = FileValues();
  ASSERT_TRUE(values);
  std::string value;
  EXPECT_TRUE(values->GetStringWithoutPathExpansion("A", &value));
  EXPECT_EQ("2", value);

  // ... so that the next process's copy does not undo the change.
  GlobalStorage next(false);
  next.Init(temp_dir_.GetPath());
  EXPECT_EQ(L"2", RegistryValue(L"A"));
}

TEST_F(GlobalStorageTest, FailedFallbackWriteLeavesBothStoresAsTheyWere) {
  WriteFile(R"({"GS": {"UUID": "old"}})");
  GlobalStorage storage(false);
  storage.Init(temp_dir_.GetPath());
  ASSERT_EQ(L"old", RegistryValue(L"UUID"));

  prefs::ImportantFileWriter::SetFailureForTesting(prefs::ImportantFileWriter::kFailedRenaming);
  EXPECT_EQ(GlobalStorage::kFailure, storage.SetValue("UUID", "new"));
  prefs::ImportantFileWriter::SetFailureForTesting(prefs::ImportantFileWriter::kNoFailure);
  EXPECT_EQ(L"old", RegistryValue(L"UUID"));
  std::string value;
  ASSERT_TRUE(FileValues());
  EXPECT_TRUE(FileValues()->GetStringWithoutPathExpansion("UUID", &value));
  EXPECT_EQ("old", value);
}

TEST_F(GlobalStorageTest, AnotherProcessHoldingTheMutexGivesBusy) {
  GlobalStorage storage(false);
  ASSERT_EQ(GlobalStorage::kSuccess, storage.SetValue("UUID", "kept"));

  const std::wstring prefix = base::FormatString16(L"Local\\gs_test_%lu_", GetCurrentProcessId());
  base::win::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (prefix + L"ready").c_str()));
  base::win::ScopedHandle release(
      CreateEventW(nullptr, TRUE, FALSE, (prefix + L"release").c_str()));
  ASSERT_TRUE(ready.IsValid() && release.IsValid());
  base::CommandLine command_line = testing::GetChildCommandLine("GlobalStorageMutexHolder");
  command_line.AppendSwitchNative(kEventsSwitch, prefix);
  base::Process child = base::LaunchProcess(command_line, base::LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  HANDLE waits[] = {ready.Get(), child.Handle()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 120000));

  std::vector<std::string> lines;
  g_log_lines = &lines;
  const logging::LogMessageHandlerFunction previous = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&CaptureLogLine);
  std::string value = "stale";
  const int32_t get_result = storage.GetValue("UUID", &value);
  const int32_t set_result = storage.SetValue("UUID", "lost");
  logging::SetLogMessageHandler(previous);
  g_log_lines = nullptr;

  SetEvent(release.Get());
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);

  EXPECT_EQ(GlobalStorage::kBusy, get_result);
  EXPECT_EQ("", value);
  EXPECT_EQ(GlobalStorage::kBusy, set_result);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(std::string::npos, lines.back().find("[AU] GS: Couldn't get hold on an access mutex"));
  EXPECT_EQ(L"kept", RegistryValue(L"UUID"));

  // Free again once the other process let go.
  EXPECT_EQ(GlobalStorage::kSuccess, storage.GetValue("UUID", &value));
  EXPECT_EQ("kept", value);
}

}  // namespace
}  // namespace autoupdate
