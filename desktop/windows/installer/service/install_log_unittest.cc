#include "desktop/windows/installer/service/install_log.h"

#include <windows.h>

#include <string>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_com.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Every field set, with texts outside ASCII and with XML-special characters.
InstallLog MakeFullLog() {
  InstallLog log;
  log.copy_only = true;
  log.all_users = true;
  log.pinned = true;
  log.app_id = "1700000000";
  log.version = "43.0.1.2 <beta> & \"more\"";
  log.path = base::FilePath(L"C:\\Program Files\\Caf\u00e9 \u65e5\u672c \U0001F600 #1%20");
  log.subfolder = base::FilePath(L"43.0.1.2_0");
  log.files = {base::FilePath(L"browser.dll"), base::FilePath(L"locales\\\u65e5\u672c.pak"),
               base::FilePath(L"a&b<c>'d\".txt")};
  log.root_files = {base::FilePath(L"launcher.exe"), base::FilePath(L"caf\u00e9.ini")};
  log.hklm_keys = {{"Software\\Classes\\VelmoStable",
                    1,
                    {{"REG_SZ", L"FriendlyTypeName", L"Velmo <Web> Document & \"more\""},
                     {"REG_SZ", L"URL Protocol", L""},
                     {"REG_SZ", L"", L"\"C:\\Caf\u00e9\\Launcher.exe\" -- \"%1\""}}},
                   {"Software\\Caf\xC3\xA9", 0, {{"REG_DWORD", L"NoModify", L"1"}}},
                   {"Software\\Empty", 4, {}}};
  log.hkcu_keys = {
      {"Software\\Classes\\.htm\\OpenWithProgIDs", 0, {{"REG_NONE", L"VelmoStable", L""}}, 2},
      {"Software\\Velmo", 2, {{"REG_SZ", L"Last \U0001F600 Path", L"  spaced\n\tline  "}}}};
  log.desktop_shortcut = base::FilePath(L"C:\\Users\\\u00e9\\Desktop\\Velmo.lnk");
  log.start_menu_shortcut = base::FilePath(L"C:\\Start Menu\\Velmo & Co.lnk");
  log.quick_launch_shortcut = base::FilePath(L"C:\\Quick Launch\\\u65e5\u672c.lnk");
  log.components = {{"suite", base::FilePath(L"C:\\Caf\u00e9\\suite")},
                    {"caf\xC3\xA9 <&>", base::FilePath(L"C:\\x\\\"quoted\"")}};
  return log;
}

class InstallLogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    file_ = temp_dir_.GetPath().Append(L"installation_status.xml");
  }

  void WriteFile(const std::string& bytes) {
    ASSERT_EQ(static_cast<int>(bytes.size()),
              base::WriteFileBytes(file_, bytes.data(), static_cast<int>(bytes.size())));
  }

  std::string ReadFile() {
    std::string bytes;
    EXPECT_TRUE(base::ReadFileToString(file_, &bytes));
    return bytes;
  }

  int CountEntries(const base::FilePath& folder) {
    base::DirectoryEnumerator entries(
        folder, false, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES,
        L"*");
    int count = 0;
    while (!entries.Next().empty())
      ++count;
    return count;
  }

  base::win::ScopedComInitializer com_;
  base::ScopedTempDir temp_dir_;
  base::FilePath file_;
};

TEST_F(InstallLogTest, EveryFieldRoundTrips) {
  const InstallLog original = MakeFullLog();
  ASSERT_TRUE(original.Save(file_));
  EXPECT_EQ(0u, ReadFile().find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));

  InstallLog loaded;
  ASSERT_TRUE(loaded.Load(file_)) << ReadFile();
  EXPECT_EQ(original, loaded);
  // Field by field where a mismatch would be hard to read from the above.
  EXPECT_EQ(original.path.value(), loaded.path.value());
  EXPECT_EQ(original.version, loaded.version);
  EXPECT_EQ(original.hkcu_keys[1].values[0].data, loaded.hkcu_keys[1].values[0].data);
  EXPECT_EQ(original.components[1].name, loaded.components[1].name);

  // An empty log round-trips too (empty texts and lists, flags clear).
  InstallLog empty;
  ASSERT_TRUE(empty.Save(file_));
  ASSERT_TRUE(loaded.Load(file_));
  EXPECT_EQ(InstallLog(), loaded);
}

// The log's own folder may hold characters outside ASCII and characters that
// mean something in URLs.
TEST_F(InstallLogTest, SavesAndLoadsInNonAsciiFolder) {
  base::FilePath folder = temp_dir_.GetPath().Append(L"Caf\u00e9 \u65e5\u672c \U0001F600 #%41");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  base::FilePath file = folder.Append(L"installation_status.xml");
  InstallLog original = MakeFullLog();
  ASSERT_TRUE(original.Save(file));
  InstallLog loaded;
  ASSERT_TRUE(loaded.Load(file));
  EXPECT_EQ(original, loaded);
}

TEST_F(InstallLogTest, SaveReplacesExistingLogAndLeavesNoTemporary) {
  InstallLog first = MakeFullLog();
  ASSERT_TRUE(first.Save(file_));
  InstallLog second;
  second.app_id = "2";
  second.files = {base::FilePath(L"only.dll")};
  ASSERT_TRUE(second.Save(file_));

  InstallLog loaded;
  ASSERT_TRUE(loaded.Load(file_));
  EXPECT_EQ(second, loaded);
  EXPECT_EQ(1, CountEntries(temp_dir_.GetPath()));

  // A log that cannot be written leaves the old file as it was, and no
  // temporary behind.
  const std::string before = ReadFile();
  InstallLog bad = second;
  bad.hklm_keys.push_back({"Software\\Bad", 0, {{"REG_SZ", L"v", L"carriage\rreturn"}}});
  EXPECT_FALSE(bad.Save(file_));
  EXPECT_EQ(before, ReadFile());
  EXPECT_EQ(1, CountEntries(temp_dir_.GetPath()));

  // A folder that does not exist cannot take the log.
  EXPECT_FALSE(second.Save(temp_dir_.GetPath().Append(L"missing").Append(L"log.xml")));
}

// Damaged files load as false and leave the log as it was.
TEST_F(InstallLogTest, DamagedFilesDoNotLoad) {
  const InstallLog good = MakeFullLog();
  ASSERT_TRUE(good.Save(file_));
  const std::string saved = ReadFile();
  const std::string header = "<?xml version=\"1.0\"?>";
  const std::string root_ok =
      "<install_log version=\"1\" copy_only=\"0\" all_users=\"0\" pinned=\"0\">";

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"truncated", saved.substr(0, saved.size() / 2)},
      {"truncated at the end", saved.substr(0, saved.size() - 3)},
      {"binary garbage", std::string("MZ\x90\x00\x03\x00\xff\xfe\xfd<\x01\x02&", 14)},
      {"empty", ""},
      {"wrong root", header + "<velmo_log version=\"1\" copy_only=\"0\" all_users=\"0\" "
                              "pinned=\"0\"></velmo_log>"},
      {"no version", header + "<install_log copy_only=\"0\" all_users=\"0\" pinned=\"0\"/>"},
      {"version not a number", header + "<install_log version=\"one\" copy_only=\"0\" "
                                        "all_users=\"0\" pinned=\"0\"/>"},
      {"version zero", header + "<install_log version=\"0\" copy_only=\"0\" all_users=\"0\" "
                                "pinned=\"0\"/>"},
      {"flag not 0 or 1", header + "<install_log version=\"1\" copy_only=\"yes\" "
                                   "all_users=\"0\" pinned=\"0\"/>"},
      {"flag missing", header + "<install_log version=\"1\" copy_only=\"0\" all_users=\"0\"/>"},
      {"depth not a number",
       header + root_ok + "<registry root=\"HKLM\"><key path=\"S\" clean=\"1x\"/></registry>" +
           "</install_log>"},
      {"created levels negative",
       header + root_ok +
           "<registry root=\"HKCU\"><key path=\"S\" clean=\"0\" created=\"-2\"/></registry>" +
           "</install_log>"},
      {"depth negative", header + root_ok +
                             "<registry root=\"HKCU\"><key path=\"S\" clean=\"-1\"/></registry>" +
                             "</install_log>"},
      {"depth overflowing", header + root_ok +
                                "<registry root=\"HKCU\"><key path=\"S\" "
                                "clean=\"99999999999\"/></registry></install_log>"},
      {"unknown root", header + root_ok + "<registry root=\"HKCR\"/></install_log>"},
      {"key without path",
       header + root_ok + "<registry root=\"HKLM\"><key clean=\"0\"/></registry></install_log>"},
      {"value without type", header + root_ok +
                                 "<registry root=\"HKLM\"><key path=\"S\" clean=\"0\"><value "
                                 "name=\"n\">d</value></key></registry></install_log>"},
      {"component without path",
       header + root_ok + "<components><component name=\"suite\"/></components></install_log>"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    WriteFile(test.bytes);
    InstallLog log = good;
    EXPECT_FALSE(log.Load(file_));
    EXPECT_EQ(good, log);
  }

  InstallLog log = good;
  EXPECT_FALSE(log.Load(temp_dir_.GetPath().Append(L"missing.xml")));
  EXPECT_EQ(good, log);
}

// Elements this layout does not know are passed over, absent ones stay empty,
// a missing all-users flag (the former engine's logs) is told apart from "0",
// and a newer layout version is read as far as this one goes.
TEST_F(InstallLogTest, LoadsNewerAndSparseLayouts) {
  WriteFile(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<install_log version=\"7\" copy_only=\"1\" pinned=\"1\" future=\"x\">\n"
      "  <future_field>whatever</future_field>\n"
      "  <app_id>42</app_id>\n"
      "  <files><file>a.dll</file><other/><file>b\\c.dll</file></files>\n"
      "  <registry root=\"HKLM\"><key path=\"S\\K\" clean=\"3\"/></registry>\n"
      "</install_log>\n");
  InstallLog log = MakeFullLog();
  ASSERT_TRUE(log.Load(file_));
  InstallLog expected;
  expected.copy_only = true;
  expected.all_users_recorded = false;
  expected.pinned = true;
  expected.app_id = "42";
  expected.files = {base::FilePath(L"a.dll"), base::FilePath(L"b\\c.dll")};
  expected.hklm_keys = {{"S\\K", 3, {}}};
  EXPECT_EQ(expected, log);
}

TEST(RecordRegistryValueTest, MergesByKeyPathIgnoringCaseAndKeepsHighestDepth) {
  InstallLogRegistryKeys keys;
  ASSERT_TRUE(RecordRegistryValue(&keys, L"Software\\Classes\\Velmo", 1, "REG_SZ", L"A", L"1"));
  ASSERT_TRUE(RecordRegistryValue(&keys, L"Software\\Other", 0, "REG_DWORD", L"X", L"32"));
  ASSERT_TRUE(RecordRegistryValue(&keys, L"SOFTWARE\\classes\\VELMO", 0, "REG_SZ", L"B", L"2"));
  ASSERT_TRUE(RecordRegistryValue(&keys, L"software\\classes\\velmo", 4, "REG_NONE", L"C", L""));
  ASSERT_TRUE(RecordRegistryValue(&keys, L"Software\\Classes\\Velmo", 2, "REG_SZ", L"", L"d"));
  // Case is also ignored outside ASCII, as the registry does.
  ASSERT_TRUE(RecordRegistryValue(&keys, L"Software\\Caf\u00e9", 0, "REG_SZ", L"E", L"e"));
  ASSERT_TRUE(RecordRegistryValue(&keys, L"SOFTWARE\\CAF\u00c9", 1, "REG_SZ", L"F", L"f"));

  ASSERT_EQ(3u, keys.size());
  // The first path written is the one kept.
  EXPECT_EQ("Software\\Classes\\Velmo", keys[0].path);
  EXPECT_EQ(4, keys[0].cleanup_depth);
  const std::vector<InstallLogRegistryValue> expected = {{"REG_SZ", L"A", L"1"},
                                                         {"REG_SZ", L"B", L"2"},
                                                         {"REG_NONE", L"C", L""},
                                                         {"REG_SZ", L"", L"d"}};
  EXPECT_EQ(expected, keys[0].values);
  EXPECT_EQ("Software\\Other", keys[1].path);
  EXPECT_EQ(0, keys[1].cleanup_depth);
  EXPECT_EQ("Software\\Caf\xC3\xA9", keys[2].path);
  EXPECT_EQ(1, keys[2].cleanup_depth);
  EXPECT_EQ(2u, keys[2].values.size());

  // A value written again (its name in another case) replaces its record.
  ASSERT_TRUE(RecordRegistryValue(&keys, L"software\\other", 0, "REG_SZ", L"x", L"new"));
  ASSERT_EQ(1u, keys[1].values.size());
  EXPECT_EQ((InstallLogRegistryValue{"REG_SZ", L"x", L"new"}), keys[1].values[0]);

  // Bad input changes nothing.
  const InstallLogRegistryKeys before = keys;
  EXPECT_FALSE(RecordRegistryValue(nullptr, L"K", 0, "REG_SZ", L"n", L"d"));
  EXPECT_FALSE(RecordRegistryValue(&keys, L"", 0, "REG_SZ", L"n", L"d"));
  EXPECT_FALSE(RecordRegistryValue(&keys, L"Software\\Other", -1, "REG_SZ", L"n", L"d"));
  EXPECT_EQ(before, keys);
}

TEST(InstallLogKeysTest, GetRegistryKeysByRoot) {
  InstallLog log;
  EXPECT_EQ(&log.hklm_keys, log.GetRegistryKeys(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(&log.hkcu_keys, log.GetRegistryKeys(HKEY_CURRENT_USER));
  EXPECT_EQ(nullptr, log.GetRegistryKeys(HKEY_CLASSES_ROOT));
  log = MakeFullLog();
  log.Clear();
  EXPECT_EQ(InstallLog(), log);
}

}  // namespace
}  // namespace installer
