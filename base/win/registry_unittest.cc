#include "base/win/registry.h"

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"

// Views: HKLM\Software is redirected for the 32-bit view (to Wow6432Node)
// on Windows and under Wine, while HKCU\Software is shared between the views
// (since Windows 7, and under Wine too). The view tests therefore work below
// HKLM\Software, where the test user is an administrator.
namespace base::win {
namespace {

constexpr wchar_t kTestRoot[] = L"Software\\VelmoTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    leaf_ = UTF8ToWide(info->name()) + L"_" + std::to_wstring(GetCurrentProcessId());
    path_ = std::wstring(kTestRoot) + L"\\" + leaf_;
    DeleteInBothViews();
  }
  void TearDown() override { DeleteInBothViews(); }

  void DeleteInBothViews() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      RegistryKey parent;
      if (parent.Open(HKEY_LOCAL_MACHINE, kTestRoot, KEY_ALL_ACCESS | view) != ERROR_SUCCESS)
        continue;
      parent.DeleteKey(leaf_.c_str());
      parent.Close();
      // Left in place while other tests still use it.
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestRoot, view, 0);
    }
  }

  RegistryKey CreateTestKey(REGSAM view = KEY_WOW64_64KEY) {
    RegistryKey key(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_ALL_ACCESS | view);
    EXPECT_TRUE(key.Valid());
    return key;
  }

  std::wstring leaf_;
  std::wstring path_;
};

TEST_F(RegistryTest, ViewsAreKeptApart) {
  RegistryKey key32 = CreateTestKey(KEY_WOW64_32KEY);
  RegistryKey key64 = CreateTestKey(KEY_WOW64_64KEY);
  ASSERT_TRUE(key32.Valid() && key64.Valid());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key32.wow64access());

  ASSERT_EQ(ERROR_SUCCESS, key32.WriteValue(L"Only32", L"thirty-two"));
  ASSERT_EQ(ERROR_SUCCESS, key64.WriteValue(L"Only64", DWORD{64}));
  EXPECT_TRUE(key32.HasValue(L"Only32"));
  EXPECT_FALSE(key64.HasValue(L"Only32"));
  EXPECT_TRUE(key64.HasValue(L"Only64"));
  EXPECT_FALSE(key32.HasValue(L"Only64"));

  // A subkey created through the 32-bit key lands in the 32-bit view.
  ASSERT_EQ(ERROR_SUCCESS, key32.CreateKey(L"Child", KEY_ALL_ACCESS));
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key32.wow64access());
  ASSERT_EQ(ERROR_SUCCESS, key32.WriteValue(L"InChild", L"x"));
  const std::wstring child_path = path_ + L"\\Child";
  EXPECT_FALSE(
      RegistryKey(HKEY_LOCAL_MACHINE, child_path.c_str(), KEY_READ | KEY_WOW64_64KEY).Valid());
  RegistryKey reopened(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_READ | KEY_WOW64_32KEY);
  ASSERT_EQ(ERROR_SUCCESS, reopened.OpenKey(L"Child", KEY_READ));
  EXPECT_TRUE(reopened.HasValue(L"InChild"));

  // The 64-bit key cannot reach into the other view.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key64.OpenKey(L"Child", KEY_READ));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key64.OpenKey(L"Child", KEY_READ | KEY_WOW64_32KEY));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegistryKey().Open(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_READ | kWow64AccessMask));
}

TEST_F(RegistryTest, ConstructorCreatesOnlyForWriting) {
  const std::wstring missing = path_ + L"\\Missing";
  RegistryKey read_only(HKEY_LOCAL_MACHINE, missing.c_str(), KEY_READ);
  EXPECT_FALSE(read_only.Valid());
  RegistryKey writable(HKEY_LOCAL_MACHINE, missing.c_str(), KEY_SET_VALUE);
  EXPECT_TRUE(writable.Valid());
  EXPECT_TRUE(RegistryKey(HKEY_LOCAL_MACHINE, missing.c_str(), KEY_READ).Valid());

  // A holder of a root key never closes the predefined handle.
  RegistryKey root;
  ASSERT_EQ(ERROR_SUCCESS, root.Open(HKEY_LOCAL_MACHINE, nullptr, KEY_READ));
  root.Close();
  EXPECT_TRUE(RegistryKey(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_READ).Valid());
}

TEST_F(RegistryTest, TypedReadsAndWrites) {
  RegistryKey key = CreateTestKey();
  ASSERT_TRUE(key.Valid());

  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Text", L"hello"));
  std::vector<uint8_t> raw;
  DWORD type = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueBinary(L"Text", &raw, &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(6 * sizeof(wchar_t), raw.size()) << "the terminating NUL is counted";
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"Text", &text));
  EXPECT_EQ(L"hello", text);

  // The default value.
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(nullptr, L"default"));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"", &text));
  EXPECT_EQ(L"default", text);

  const wchar_t kExpandable[] = L"%SystemRoot%\\velmo";
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"Expand", kExpandable, sizeof(kExpandable), REG_EXPAND_SZ));
  wchar_t system_root[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"SystemRoot", system_root, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"Expand", &text));
  EXPECT_EQ(std::wstring(system_root, length) + L"\\velmo", text);

  DWORD dword = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Number", DWORD{0xdeadbeef}));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueDW(L"Number", &dword));
  EXPECT_EQ(0xdeadbeefu, dword);
  uint64_t qword = 0;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValueQW(L"Big", 0x0123456789abcdefull));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValueQW(L"Big", &qword));
  EXPECT_EQ(0x0123456789abcdefull, qword);

  // Wrong types and sizes are refused, and the out value is untouched.
  dword = 7;
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"Text", &dword));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"Big", &dword));
  const uint8_t four_bytes[4] = {1, 2, 3, 4};
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Binary", four_bytes, 4, REG_BINARY));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"Binary", &dword));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"ShortDword", four_bytes, 3, REG_DWORD));
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueDW(L"ShortDword", &dword));
  EXPECT_EQ(7u, dword);
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValueQW(L"Number", &qword));
  text = L"unchanged";
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValue(L"Number", &text));
  EXPECT_EQ(L"unchanged", text);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadValueDW(L"Missing", &dword));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.ReadValue(L"Missing", &text));

  std::vector<std::wstring> list;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValues(L"List", {L"one", L"", L"three"}));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValues(L"List", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"one", L"three"}), list);
  EXPECT_EQ(ERROR_CANTREAD, key.ReadValues(L"Text", &list));

  EXPECT_EQ(ERROR_SUCCESS, key.DeleteValue(L"Text"));
  EXPECT_FALSE(key.HasValue(L"Text"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteValue(L"Text"));
}

TEST_F(RegistryTest, MalformedTextIsReadSafely) {
  RegistryKey key = CreateTestKey();
  ASSERT_TRUE(key.Valid());
  struct Case {
    const wchar_t* name;
    const char* bytes;
    DWORD size;
    DWORD type;
    const wchar_t* expected;
  };
  // Byte images of UTF-16LE text, written without the NUL the writer would
  // add.
  const Case cases[] = {
      {L"NoNul", "a\0b\0c\0", 6, REG_SZ, L"abc"},
      {L"OddSize", "a\0b\0c\0d", 7, REG_SZ, L"abc"},
      {L"OneByte", "a", 1, REG_SZ, L""},
      {L"Empty", "", 0, REG_SZ, L""},
      {L"InnerNul", "a\0b\0\0\0c\0d\0", 10, REG_SZ, L"ab"},
      {L"ExpandNoNul", "%\0O\0S\0%\0", 8, REG_EXPAND_SZ, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUTF8(c.name));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(c.name, c.bytes, c.size, c.type));
    std::wstring text = L"before";
    ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(c.name, &text));
    if (c.expected) {
      EXPECT_EQ(c.expected, text);
    } else {
      wchar_t os[64];
      DWORD length = GetEnvironmentVariableW(L"OS", os, 64);
      ASSERT_GT(length, 0u);
      EXPECT_EQ(std::wstring(os, length), text);
    }
  }

  // String lists: without the closing NULs (and with an odd byte), and with
  // an empty string that ends the list early.
  std::vector<std::wstring> list;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"OpenList", "a\0\0\0b\0c", 7, REG_MULTI_SZ));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValues(L"OpenList", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), list);
  ASSERT_EQ(ERROR_SUCCESS,
            key.WriteValue(L"ShortList", "a\0\0\0\0\0b\0\0\0\0\0", 12, REG_MULTI_SZ));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValues(L"ShortList", &list));
  EXPECT_EQ((std::vector<std::wstring>{L"a"}), list);

  // Long text: far larger than any first guess of a buffer.
  const std::wstring long_text(70000, L'x');
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Long", long_text));
  std::wstring read_back;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"Long", &read_back));
  EXPECT_EQ(long_text, read_back);
}

TEST_F(RegistryTest, Enumeration) {
  RegistryKey key = CreateTestKey(KEY_WOW64_32KEY);
  ASSERT_TRUE(key.Valid());
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"A", L"text"));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"B", DWORD{2}));
  const std::vector<uint8_t> blob(3000, 0x5a);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"C", blob.data(), 3000, REG_BINARY));
  for (const wchar_t* name : {L"K1", L"K2", L"K3\\Nested"})
    ASSERT_TRUE(RegistryKey(key.Handle(), name, KEY_WRITE | KEY_WOW64_32KEY).Valid());

  std::set<std::wstring> names;
  RegistryValueIterator values(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_32KEY);
  EXPECT_EQ(3u, values.ValueCount());
  for (; values.Valid(); ++values) {
    names.insert(values.Name());
    if (values.Name() == L"A") {
      EXPECT_EQ(static_cast<DWORD>(REG_SZ), values.Type());
      EXPECT_EQ(L"text", values.Value());
    } else if (values.Name() == L"B") {
      ASSERT_EQ(sizeof(DWORD), values.Data().size());
      EXPECT_EQ(2, values.Data()[0]);
      EXPECT_EQ(L"", values.Value());
    } else if (values.Name() == L"C") {
      EXPECT_EQ(blob, values.Data());
    }
  }
  EXPECT_EQ((std::set<std::wstring>{L"A", L"B", L"C"}), names);

  names.clear();
  RegistryKeyIterator subkeys(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_32KEY);
  EXPECT_EQ(3u, subkeys.SubkeyCount());
  for (; subkeys.Valid(); ++subkeys)
    names.insert(subkeys.Name());
  EXPECT_EQ((std::set<std::wstring>{L"K1", L"K2", L"K3"}), names);

  // Nothing of it in the other view.
  EXPECT_FALSE(RegistryValueIterator(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_64KEY).Valid());
  EXPECT_FALSE(RegistryKeyIterator(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_64KEY).Valid());

  // Deleting the current value while iterating visits every value once.
  int visited = 0;
  for (RegistryValueIterator it(HKEY_LOCAL_MACHINE, path_.c_str(), KEY_WOW64_32KEY); it.Valid();
       ++it) {
    ++visited;
    EXPECT_EQ(ERROR_SUCCESS, key.DeleteValue(it.Name().c_str()));
  }
  EXPECT_EQ(3, visited);
  EXPECT_EQ(0u, key.GetValueCount());
}

TEST_F(RegistryTest, DeleteKeyRemovesATreeInOneView) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    RegistryKey key = CreateTestKey(view);
    ASSERT_TRUE(key.Valid());
    ASSERT_EQ(ERROR_SUCCESS, key.CreateKey(L"Tree\\Sub1\\Sub2", KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Deep", DWORD{1}));
    RegistryKey sibling(HKEY_LOCAL_MACHINE, (path_ + L"\\Tree\\Other").c_str(),
                        KEY_ALL_ACCESS | view);
    ASSERT_EQ(ERROR_SUCCESS, sibling.WriteValue(L"Value", L"v"));
  }

  RegistryKey key32 = CreateTestKey(KEY_WOW64_32KEY);
  EXPECT_EQ(ERROR_DIR_NOT_EMPTY, key32.DeleteEmptyKey(L"Tree"));
  ASSERT_EQ(ERROR_SUCCESS, key32.DeleteKey(L"Tree"));
  EXPECT_FALSE(
      RegistryKey(HKEY_LOCAL_MACHINE, (path_ + L"\\Tree").c_str(), KEY_READ | KEY_WOW64_32KEY)
          .Valid());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key32.DeleteKey(L"Tree"));

  // The 64-bit tree is whole.
  RegistryKey deep64(HKEY_LOCAL_MACHINE, (path_ + L"\\Tree\\Sub1\\Sub2").c_str(),
                     KEY_READ | KEY_WOW64_64KEY);
  ASSERT_TRUE(deep64.Valid());
  EXPECT_TRUE(deep64.HasValue(L"Deep"));
  EXPECT_TRUE(RegistryKey(HKEY_LOCAL_MACHINE, (path_ + L"\\Tree\\Other").c_str(),
                          KEY_READ | KEY_WOW64_64KEY)
                  .HasValue(L"Value"));

  RegistryKey key64 = CreateTestKey(KEY_WOW64_64KEY);
  ASSERT_EQ(ERROR_SUCCESS, key64.CreateKey(L"Empty", KEY_ALL_ACCESS));
  key64 = CreateTestKey(KEY_WOW64_64KEY);
  EXPECT_EQ(ERROR_SUCCESS, key64.DeleteEmptyKey(L"Empty"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, key64.DeleteKey(L""));
}

}  // namespace
}  // namespace base::win
