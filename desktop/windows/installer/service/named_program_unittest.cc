#include "desktop/windows/installer/service/named_program.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The forms a registration writes a program in, and texts that name none.
TEST(NamedProgramTest, FindsTheProgramOfCommandsAndIconLocations) {
  const struct {
    const wchar_t* text;
    const wchar_t* program;
  } cases[] = {
      {L"\"C:\\Program Files\\Velmo\\launcher.exe\" -noautoupdate -- \"%1\"",
       L"C:\\Program Files\\Velmo\\launcher.exe"},
      {L"  \"C:\\Velmo\\launcher.exe\"", L"C:\\Velmo\\launcher.exe"},
      {L"\"C:\\Velmo\\launcher.exe\",0", L"C:\\Velmo\\launcher.exe"},
      {L"C:\\Program Files\\Velmo\\launcher.exe,0", L"C:\\Program Files\\Velmo\\launcher.exe"},
      {L"C:\\Program Files\\Other\\Other.EXE -url %1", L"C:\\Program Files\\Other\\Other.EXE"},
      {L"C:\\Tools\\a.exes\\b.exe", L"C:\\Tools\\a.exes\\b.exe"},
      {L"C:\\Program Files\\Other\\icons.dll,-101", L"C:\\Program Files\\Other\\icons.dll"},
      {L"C:/Velmo/launcher.exe", L"C:/Velmo/launcher.exe"},
      {L"\\\\server\\share\\browser.exe \"%1\"", L"\\\\server\\share\\browser.exe"},
      // A program the system looks for, descriptions, ProgIds, variables.
      {L"rundll32.exe url.dll,FileProtocolHandler %1", L""},
      {L"URL:http", L""},
      {L"VelmoStable", L""},
      {L"", L""},
      {L"\"%ProgramFiles%\\Internet Explorer\\iexplore.exe\" %1", L""},
      {L"\\\\?\\C:\\Velmo\\launcher.exe", L""},
      {L"Velmo\\launcher.exe", L""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(std::wstring(c.program), GetProgramNamedBy(c.text).value()) << c.text;
}

// Only a program surely gone counts as missing: one that is there, or
// whose drive is not there now, does not.
TEST(NamedProgramTest, TellsAProgramThatIsGone) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath present = temp.GetPath().Append(L"Other Browser\\browser.exe");
  ASSERT_TRUE(base::CreateDirectoryTree(present.DirName()));
  ASSERT_EQ(2, base::WriteFileBytes(present, "MZ", 2));
  const std::wstring missing_file = temp.GetPath().Append(L"Other Browser\\gone.exe").value();
  const std::wstring missing_folder = temp.GetPath().Append(L"Removed\\launcher.exe").value();
  std::wstring absent_drive;
  for (wchar_t letter = L'Z'; letter >= L'D' && absent_drive.empty(); --letter) {
    const std::wstring root = std::wstring(1, letter) + L":\\";
    if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR)
      absent_drive = root + L"Velmo\\launcher.exe";
  }
  ASSERT_FALSE(absent_drive.empty());

  const struct {
    std::wstring text;
    bool missing;
  } cases[] = {
      {L"\"" + present.value() + L"\" -url \"%1\"", false}, {present.value() + L",1", false},
      {L"\"" + missing_file + L"\" \"%1\"", true},          {missing_folder + L",0", true},
      {L"\"" + absent_drive + L"\" \"%1\"", false},         {L"URL:http", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.missing, NamesMissingProgram(c.text)) << c.text;

  // Stored values: variables of a REG_EXPAND_SZ are expanded first; values
  // of other types name nothing.
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMO_NAMED_PROGRAM_TEST", temp.GetPath().c_str()));
  auto stored = [](const std::wstring& text) {
    std::vector<uint8_t> data((text.size() + 1) * sizeof(wchar_t));
    memcpy(data.data(), text.c_str(), data.size());
    return data;
  };
  const std::vector<uint8_t> gone = stored(L"\"%VELMO_NAMED_PROGRAM_TEST%\\Removed\\x.exe\" %1");
  const std::vector<uint8_t> there =
      stored(L"%VELMO_NAMED_PROGRAM_TEST%\\Other Browser\\browser.exe,0");
  EXPECT_TRUE(RegistryValueNamesMissingProgram(REG_EXPAND_SZ, gone));
  EXPECT_FALSE(RegistryValueNamesMissingProgram(REG_EXPAND_SZ, there));
  EXPECT_FALSE(RegistryValueNamesMissingProgram(REG_SZ, gone));
  EXPECT_TRUE(RegistryValueNamesMissingProgram(REG_SZ, stored(missing_file)));
  EXPECT_FALSE(RegistryValueNamesMissingProgram(REG_BINARY, stored(missing_file)));
  ::SetEnvironmentVariableW(L"VELMO_NAMED_PROGRAM_TEST", nullptr);
}

}  // namespace
}  // namespace installer
