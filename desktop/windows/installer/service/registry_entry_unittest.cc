#include "desktop/windows/installer/service/registry_entry.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class FakeResolver : public PlaceholderResolver {
 public:
  bool ResolvePlaceholder(const std::wstring& name, std::wstring* value) override {
    auto it = texts.find(name);
    if (it == texts.end())
      return false;
    *value = it->second;
    return true;
  }
  InstallLogRegistryKeys* GetInstallLogRecorder(HKEY root) override {
    return root == HKEY_CURRENT_USER ? hkcu_recorder : nullptr;
  }

  std::map<std::wstring, std::wstring> texts = {{L"Product", L"Velmo"},
                                                {L"Stream", L"Stable"},
                                                {L"Loop", L"{Product}"}};
  InstallLogRegistryKeys* hkcu_recorder = nullptr;
};

class RegistryEntryTest : public testing::Test {
 protected:
  void SetUp() override {
    key_path_ = L"Software\\VelmoTest\\registry_entry-" +
                base::UintToString16(GetCurrentProcessId()) + L"-" +
                std::wstring(base::UTF8ToWide(
                    testing::UnitTest::GetInstance()->current_test_info()->name()));
    resolver_.texts[L"TestKey"] = key_path_;
  }
  void TearDown() override {
    base::win::RegistryKey parent;
    if (parent.Open(HKEY_CURRENT_USER, L"Software\\VelmoTest", KEY_ALL_ACCESS) == ERROR_SUCCESS)
      parent.DeleteKey(key_path_.substr(wcslen(L"Software\\VelmoTest\\")).c_str());
  }

  std::unique_ptr<Operation> Make(const RegistryRow& row, HKEY root = HKEY_CURRENT_USER) {
    std::unique_ptr<Operation> operation;
    EXPECT_TRUE(RegistryEntry(row, &resolver_).CreateOperation(root, &operation));
    return operation;
  }

  // The raw value, or type REG_NONE with |found| false.
  bool Read(const wchar_t* name, std::vector<uint8_t>* data, DWORD* type) {
    base::win::RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
      return false;
    return key.ReadValueBinary(name, data, type) == ERROR_SUCCESS;
  }

  std::wstring key_path_;
  FakeResolver resolver_;
};

TEST_F(RegistryEntryTest, ResolvesPlaceholdersOnce) {
  RegistryEntry entry({L"k", nullptr, REG_SZ, nullptr}, &resolver_);
  std::wstring out;
  ASSERT_TRUE(entry.ResolvePlaceholders(L"Software\\Classes\\{Product}{Stream}\\x", &out));
  EXPECT_EQ(L"Software\\Classes\\VelmoStable\\x", out);
  // A replacement is not searched again, and a lone "}" is plain text.
  ASSERT_TRUE(entry.ResolvePlaceholders(L"{Loop}}", &out));
  EXPECT_EQ(L"{Product}}", out);
  ASSERT_TRUE(entry.ResolvePlaceholders(L"", &out));
  EXPECT_EQ(L"", out);

  out = L"unchanged";
  EXPECT_FALSE(entry.ResolvePlaceholders(L"a{Unknown}b", &out));
  EXPECT_FALSE(entry.ResolvePlaceholders(L"a{Product", &out));
  EXPECT_EQ(L"unchanged", out);

  RegistryEntry without_resolver({L"k", nullptr, REG_SZ, nullptr}, nullptr);
  EXPECT_TRUE(without_resolver.ResolvePlaceholders(L"plain", &out));
  EXPECT_FALSE(without_resolver.ResolvePlaceholders(L"{Product}", &out));

  // An unknown placeholder in any part of the row fails the operation.
  std::unique_ptr<Operation> operation;
  EXPECT_FALSE(RegistryEntry({L"{TestKey}", L"{Nope}", REG_SZ, L"x"}, &resolver_)
                   .CreateOperation(HKEY_CURRENT_USER, &operation));
  EXPECT_FALSE(RegistryEntry({L"{TestKey}", L"v", REG_SZ, L"{Nope"}, &resolver_)
                   .CreateOperation(HKEY_CURRENT_USER, &operation));
  EXPECT_EQ(nullptr, operation);
}

TEST_F(RegistryEntryTest, RowsThatDoNotApplyGiveNoOperation) {
  const RegistryRow base_row{L"{TestKey}", L"v", REG_SZ, L"x"};
  EXPECT_NE(nullptr, Make(base_row));

  RegistryRow later_windows = base_row;
  later_windows.min_windows_version = 1000;
  RegistryRow machine_only = base_row;
  machine_only.required_root = RegistryRoot::kLocalMachine;
  RegistryRow user_only = base_row;
  user_only.required_root = RegistryRoot::kCurrentUser;
  RegistryRow later_channel = base_row;
  later_channel.min_channel = GetBuildStream() + 1;
  RegistryRow this_channel = base_row;
  this_channel.min_channel = GetBuildStream();

  EXPECT_EQ(nullptr, Make(later_windows));
  EXPECT_EQ(nullptr, Make(machine_only));
  EXPECT_EQ(nullptr, Make(user_only, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(nullptr, Make(later_channel));
  EXPECT_NE(nullptr, Make(user_only));
  EXPECT_NE(nullptr, Make(this_channel));
  // A skipped row is not resolved, so its placeholders do not matter.
  RegistryRow skipped_unknown{L"{Nope}", L"v", REG_SZ, L"x", 1, RegistryRoot::kLocalMachine};
  EXPECT_EQ(nullptr, Make(skipped_unknown));
}

TEST_F(RegistryEntryTest, ValueRowsWriteTypedDataAndRollBack) {
  const RegistryRow rows[] = {
      {L"{TestKey}", L"Name", REG_SZ, L"{Product} Web"},
      {L"{TestKey}", nullptr, REG_EXPAND_SZ, L"%TEMP%"},
      {L"{TestKey}", L"Number", REG_DWORD, L"32"},
      {L"{TestKey}", L"Bytes", RegistryEntry::kTextBytes, L"ab{Stream}"},
      {L"{TestKey}", L"{Product}{Stream}", REG_NONE, nullptr},
  };
  Transaction transaction;
  for (const RegistryRow& row : rows) {
    std::unique_ptr<Operation> operation = Make(row);
    ASSERT_NE(nullptr, operation);
    ASSERT_TRUE(transaction.Execute(std::move(operation)));
  }

  std::vector<uint8_t> data;
  DWORD type = 0;
  ASSERT_TRUE(Read(L"Name", &data, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  ASSERT_EQ(sizeof(L"Velmo Web"), data.size());  // The NUL is counted.
  EXPECT_EQ(0, memcmp(L"Velmo Web", data.data(), data.size()));
  ASSERT_TRUE(Read(L"", &data, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  EXPECT_EQ(sizeof(L"%TEMP%"), data.size());
  ASSERT_TRUE(Read(L"Number", &data, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  ASSERT_EQ(4u, data.size());
  EXPECT_EQ(32u, *reinterpret_cast<const uint32_t*>(data.data()));
  ASSERT_TRUE(Read(L"Bytes", &data, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ("abStable", std::string(data.begin(), data.end()));
  ASSERT_TRUE(Read(L"VelmoStable", &data, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
  EXPECT_TRUE(data.empty());

  EXPECT_TRUE(transaction.Rollback());
  EXPECT_FALSE(Read(L"Name", &data, &type));
  EXPECT_FALSE(Read(L"Number", &data, &type));
  EXPECT_FALSE(Read(L"VelmoStable", &data, &type));
}

TEST_F(RegistryEntryTest, DataThatDoesNotFitItsTypeFails) {
  std::unique_ptr<Operation> operation;
  for (const RegistryRow& row : {RegistryRow{L"{TestKey}", L"n", REG_DWORD, L"thirty"},
                                 RegistryRow{L"{TestKey}", L"n", REG_DWORD, L"-1"},
                                 RegistryRow{L"{TestKey}", L"n", REG_DWORD, nullptr},
                                 RegistryRow{L"{TestKey}", L"n", REG_NONE, L"data"},
                                 RegistryRow{L"{TestKey}", L"n", REG_MULTI_SZ, L"a"},
                                 RegistryRow{L"", L"n", REG_SZ, L"a"}}) {
    EXPECT_FALSE(RegistryEntry(row, &resolver_).CreateOperation(HKEY_CURRENT_USER, &operation))
        << row.type;
    EXPECT_EQ(nullptr, operation);
  }
}

TEST_F(RegistryEntryTest, DeleteRowsRemoveValueAndKey) {
  base::win::RegistryKey key(HKEY_CURRENT_USER, (key_path_ + L"\\Sub").c_str(), KEY_SET_VALUE);
  ASSERT_TRUE(key.Valid());
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Old", L"text"));
  key.Close();

  Transaction transaction;
  ASSERT_TRUE(
      transaction.Execute(Make({L"{TestKey}\\Sub", L"Old", RegistryEntry::kDeleteValue, nullptr})));
  base::win::RegistryKey sub;
  ASSERT_EQ(ERROR_SUCCESS,
            sub.Open(HKEY_CURRENT_USER, (key_path_ + L"\\Sub").c_str(), KEY_QUERY_VALUE));
  EXPECT_FALSE(sub.HasValue(L"Old"));
  sub.Close();

  ASSERT_TRUE(
      transaction.Execute(Make({L"{TestKey}", nullptr, RegistryEntry::kDeleteKey, nullptr})));
  EXPECT_NE(ERROR_SUCCESS, sub.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_QUERY_VALUE));

  EXPECT_TRUE(transaction.Rollback());
  ASSERT_EQ(ERROR_SUCCESS,
            sub.Open(HKEY_CURRENT_USER, (key_path_ + L"\\Sub").c_str(), KEY_QUERY_VALUE));
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, sub.ReadValue(L"Old", &text));
  EXPECT_EQ(L"text", text);
}

TEST_F(RegistryEntryTest, WrittenValuesAreRecordedForTheRootOnly) {
  InstallLogRegistryKeys records;
  resolver_.hkcu_recorder = &records;
  const std::wstring lower_key = L"software\\classes\\{Product}{Stream}";
  EXPECT_NE(nullptr, Make({L"Software\\Classes\\{Product}{Stream}", L"FriendlyTypeName", REG_SZ,
                           L"{Product} Web Document", 1, RegistryRoot::kAny, 0, 1}));
  EXPECT_NE(nullptr,
            Make({lower_key.c_str(), nullptr, REG_DWORD, L"7", 1, RegistryRoot::kAny, 0, 3}));
  EXPECT_NE(nullptr, Make({L"Software\\Classes\\{Product}{Stream}", L"Gone",
                           RegistryEntry::kDeleteValue, nullptr}));
  EXPECT_NE(nullptr, Make({L"Software\\Other", L"v", REG_SZ, L"x"}, HKEY_LOCAL_MACHINE));

  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("Software\\Classes\\VelmoStable", records[0].path);
  EXPECT_EQ(3, records[0].cleanup_depth);
  ASSERT_EQ(2u, records[0].values.size());
  EXPECT_EQ("REG_SZ", records[0].values[0].type);
  EXPECT_EQ(L"FriendlyTypeName", records[0].values[0].name);
  EXPECT_EQ(L"Velmo Web Document", records[0].values[0].data);
  EXPECT_EQ("REG_DWORD", records[0].values[1].type);
  EXPECT_EQ(L"", records[0].values[1].name);
  EXPECT_EQ(L"7", records[0].values[1].data);
}

}  // namespace
}  // namespace installer
