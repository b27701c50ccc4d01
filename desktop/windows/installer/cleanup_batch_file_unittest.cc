#include "desktop/windows/installer/cleanup_batch_file.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/cleanup_batch_test_support.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

// The process a batch file waits for: it runs until the test ends it.
CHILD_PROCESS_MAIN(CleanupBatchWatchedProcess) {
  ::Sleep(120 * 1000);
  return 0;
}

// Keeps the file of its "hold" switch open, so that it cannot be deleted,
// until it is ended.
CHILD_PROCESS_MAIN(CleanupBatchFileHolder) {
  const base::FilePath path = base::CommandLine::ForCurrentProcess()->GetSwitchValuePath("hold");
  // The test probes the file with exclusive opens until this one holds it;
  // an open that meets a probe is tried again.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 600 && file == INVALID_HANDLE_VALUE; ++tries) {
    file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_SHARING_VIOLATION)
      return 1;
    if (file == INVALID_HANDLE_VALUE)
      ::Sleep(20);
  }
  if (file == INVALID_HANDLE_VALUE)
    return 1;
  ::Sleep(120 * 1000);
  ::CloseHandle(file);
  return 0;
}

// A process that has ended by the time a batch file looks for it.
CHILD_PROCESS_MAIN(CleanupBatchEndedProcess) { return 0; }

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

// |name| in the OEM code page when every character has an exact form there.
bool OemCanCarry(const std::wstring& name) {
  BOOL used_default = FALSE;
  char buffer[64];
  return ::GetOEMCP() != CP_UTF8 &&
         ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, buffer,
                               sizeof(buffer), nullptr, &used_default) > 0 &&
         !used_default;
}

TEST(CleanupBatchFileTest, WaitLoopForTheKnownProcessesOnly) {
  CleanupBatchContents contents;
  contents.pid1 = 4242;
  EXPECT_EQ(
      "cd /d \"%SystemRoot%\"\n"
      "SET PID1_RUNNING=TRUE\n"
      ":again\n"
      "IF %PID1_RUNNING%==TRUE (\n"
      "TASKLIST /FI \"PID eq 4242\" | FIND /c /i \".exe\"\n"
      "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\n"
      ")\n"
      "ping -n 2 127.0.0.1\n"
      "IF %PID1_RUNNING%==TRUE GOTO :again\n"
      "del %0\n",
      BuildCleanupBatchText(contents));

  // The third process without the second; its lines keep their own names.
  contents.pid3 = 77;
  const std::string text = BuildCleanupBatchText(contents);
  EXPECT_EQ(std::string::npos, text.find("PID2"));
  EXPECT_NE(std::string::npos, text.find("SET PID1_RUNNING=TRUE\nSET PID3_RUNNING=TRUE\n:again\n"));
  EXPECT_NE(std::string::npos, text.find("TASKLIST /FI \"PID eq 77\" | FIND /c /i \".exe\"\n"
                                         "IF ERRORLEVEL 1 SET PID3_RUNNING=FALSE\n)\n"
                                         "ping -n 2 127.0.0.1\n"));
  EXPECT_NE(std::string::npos, text.find("IF %PID1_RUNNING%==TRUE GOTO :again\n"
                                         "IF %PID3_RUNNING%==TRUE GOTO :again\ndel %0\n"));
}

TEST(CleanupBatchFileTest, FilesThenFoldersDeepestFirstWithPercentDoubled) {
  const base::FilePath install(L"C:\\Velmo");
  CleanupBatchContents contents;
  contents.pid1 = 1;
  contents.pid2 = 2;
  const base::FilePath first(L"C:\\Velmo\\1.0\\a\\b\\x.dll");
  const base::FilePath second(L"C:\\Velmo\\1.0\\100%TEMP%\\y.pak");
  for (const base::FilePath& file : {first, second}) {
    contents.leftover_files.push_back(file);
    AddLeftoverFolders(file, install, &contents.leftover_folders);
  }
  const std::string text = BuildCleanupBatchText(contents);
  // Each file is deleted, or waited for while something holds it (a bounded
  // number of rounds for all files together).
  const std::string tail =
      "IF %PID2_RUNNING%==TRUE GOTO :again\n"
      "SET DELETE_ROUNDS=0\n"
      ":del0\n"
      "IF NOT EXIST \"C:\\Velmo\\1.0\\a\\b\\x.dll\" GOTO :deleted0\n"
      "del \"C:\\Velmo\\1.0\\a\\b\\x.dll\"\n"
      "IF NOT EXIST \"C:\\Velmo\\1.0\\a\\b\\x.dll\" GOTO :deleted0\n"
      "IF %DELETE_ROUNDS% GEQ 300 GOTO :deleted0\n"
      "SET /A DELETE_ROUNDS=%DELETE_ROUNDS%+1\n"
      "ping -n 2 127.0.0.1 >NUL\n"
      "GOTO :del0\n"
      ":deleted0\n"
      ":del1\n"
      "IF NOT EXIST \"C:\\Velmo\\1.0\\100%%TEMP%%\\y.pak\" GOTO :deleted1\n"
      "del \"C:\\Velmo\\1.0\\100%%TEMP%%\\y.pak\"\n"
      "IF NOT EXIST \"C:\\Velmo\\1.0\\100%%TEMP%%\\y.pak\" GOTO :deleted1\n"
      "IF %DELETE_ROUNDS% GEQ 300 GOTO :deleted1\n"
      "SET /A DELETE_ROUNDS=%DELETE_ROUNDS%+1\n"
      "ping -n 2 127.0.0.1 >NUL\n"
      "GOTO :del1\n"
      ":deleted1\n"
      "rmdir \"C:\\Velmo\\1.0\\a\\b\"\n"
      "rmdir \"C:\\Velmo\\1.0\\a\"\n"
      "rmdir \"C:\\Velmo\\1.0\\100%%TEMP%%\"\n"
      "rmdir \"C:\\Velmo\\1.0\"\n"
      "del %0\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
}

TEST(CleanupBatchFileTest, FolderWalkStopsAtTheInstallFolder) {
  const base::FilePath install(L"C:\\Users\\Ann\\AppData\\Local\\Velmo");
  std::set<base::FilePath> folders;
  AddLeftoverFolders(install.Append(L"1.0\\locales\\de.pak"), install, &folders);
  AddLeftoverFolders(install.Append(L"launcher.exe"), install, &folders);
  const std::set<base::FilePath> expected = {install.Append(L"1.0"),
                                             install.Append(L"1.0\\locales")};
  EXPECT_EQ(expected, folders);

  // A path outside the install folder brings none of its folders.
  folders.clear();
  AddLeftoverFolders(base::FilePath(L"C:\\Users\\Ann\\other\\f.txt"), install, &folders);
  AddLeftoverFolders(base::FilePath(L"C:\\f.txt"), install, &folders);
  EXPECT_TRUE(folders.empty());
}

TEST(CleanupBatchFileTest, PathsInTheOemCodePageOrShortForm) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());

  // An accented user name: written in the OEM code page, never as UTF-8.
  const std::wstring accented = L"J\u00f6s\u00e9";
  if (OemCanCarry(accented)) {
    std::string text;
    ASSERT_TRUE(EncodeBatchFilePath(base::FilePath(L"C:\\Users\\" + accented), &text));
    EXPECT_EQ(std::string::npos, text.find("\xc3")) << "UTF-8 lead byte in " << text;
    EXPECT_EQ(13u, text.size());  // One byte per character.
    wchar_t back[32] = {};
    ASSERT_GT(::MultiByteToWideChar(CP_OEMCP, 0, text.c_str(), -1, back, 32), 0);
    EXPECT_EQ(L"C:\\Users\\" + accented, std::wstring(back));
  }

  // A name the code page cannot carry: the existing file's short form.
  const std::wstring foreign = L"\u0416\u4e2d\u0416\u4e2d\u0416\u4e2d\u0416\u4e2d";
  ASSERT_FALSE(OemCanCarry(foreign)) << "The OEM code page carries every test name";
  const base::FilePath existing = temp.GetPath().Append(foreign + L" 100%.txt");
  ASSERT_TRUE(WriteText(existing, "x"));
  std::string text;
  ASSERT_TRUE(EncodeBatchFilePath(existing, &text));
  for (char c : text)
    EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
  // And it names the same file.
  wchar_t back[MAX_PATH] = {};
  ASSERT_GT(::MultiByteToWideChar(CP_OEMCP, 0, text.c_str(), -1, back, MAX_PATH), 0);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(back)) << text;

  // Neither form exists for a missing file: the line is left out.
  const base::FilePath missing = temp.GetPath().Append(foreign + L" gone.txt");
  EXPECT_FALSE(EncodeBatchFilePath(missing, &text));
  CleanupBatchContents contents;
  contents.pid1 = 1;
  contents.leftover_files = {missing};
  EXPECT_EQ(std::string::npos, BuildCleanupBatchText(contents).find("gone"));
  EXPECT_EQ(std::string::npos, BuildCleanupBatchText(contents).find("del \""));
}

// The batch file run by the command interpreter: it waits while the watched
// process runs, then deletes the leftovers, whose paths have accented
// letters, a "%" that would otherwise expand a variable, and letters the OEM
// code page lacks; then their folders, and itself.
TEST(CleanupBatchFileTest, RunWaitsForTheProcessThenDeletesEverything) {
  test::ScopedBatchToolsPath tools;
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath install = temp.GetPath().Append(L"J\u00f6s\u00e9 M\u00fcller");
  const std::vector<base::FilePath> leftovers = {
      install.Append(L"1.0\\r\u00e9sum\u00e9.dll"),
      install.Append(L"1.0\\100%PATH%\\data.pak"),
      install.Append(L"1.0\\\u0416\u4e2d\u0416\u4e2d\u0416\u4e2d\\f.txt"),
  };
  // Kept: not a leftover, so its folder (the install folder) stays.
  const base::FilePath kept = install.Append(L"installer_prefs.json");
  ASSERT_TRUE(base::CreateDirectoryTree(install));
  ASSERT_TRUE(WriteText(kept, "{}"));
  CleanupBatchContents contents;
  for (const base::FilePath& file : leftovers) {
    ASSERT_TRUE(base::CreateDirectoryTree(file.DirName()));
    ASSERT_TRUE(WriteText(file, "leftover"));
    contents.leftover_files.push_back(file);
    AddLeftoverFolders(file, install, &contents.leftover_folders);
  }
  ASSERT_EQ(3u, contents.leftover_folders.size());

  base::LaunchOptions hidden;
  hidden.start_hidden = true;
  base::Process watched =
      base::LaunchProcess(testing::GetChildCommandLine("CleanupBatchWatchedProcess"), hidden);
  ASSERT_TRUE(watched.IsValid());
  contents.pid1 = watched.Pid();
  const base::FilePath batch = install.Append(kCleanupBatchFileName);
  ASSERT_TRUE(WriteText(batch, BuildCleanupBatchText(contents)));

  base::Process cmd = base::LaunchProcess(base::CommandLine(batch), hidden);
  ASSERT_TRUE(cmd.IsValid());
  // Several rounds of the wait loop: nothing goes while the process runs.
  EXPECT_FALSE(cmd.WaitForExitWithTimeout(3500, nullptr));
  for (const base::FilePath& file : leftovers)
    EXPECT_TRUE(base::PathExists(file)) << file;
  EXPECT_TRUE(base::PathExists(batch));

  ASSERT_TRUE(watched.Terminate(0, /*wait=*/true));
  EXPECT_TRUE(cmd.WaitForExitWithTimeout(60 * 1000, nullptr));
  for (const base::FilePath& file : leftovers)
    EXPECT_FALSE(base::PathExists(file)) << file;
  for (const base::FilePath& folder : contents.leftover_folders)
    EXPECT_FALSE(base::PathExists(folder)) << folder;
  EXPECT_FALSE(base::PathExists(batch));
  EXPECT_TRUE(base::PathExists(kept));
}

// A quote is the one character of this path that a file name may not hold:
// every other one ("&", spaces, a dot) is legal, so only the quote check
// stands between the name and a command of its own in the batch file.
TEST(CleanupBatchFileTest, AQuoteAloneIsEnoughToRefuseAPath) {
  const base::FilePath install(L"C:\\Velmo");
  const base::FilePath hostile = install.Append(L"x\" & echo INJECTED & rem \".dll");
  const base::FilePath sound = install.Append(L"1.0\\a & b.dll");
  std::string encoded;
  EXPECT_FALSE(EncodeBatchFilePath(hostile, &encoded));
  ASSERT_TRUE(EncodeBatchFilePath(sound, &encoded));
  EXPECT_EQ("C:\\Velmo\\1.0\\a & b.dll", encoded);

  CleanupBatchContents contents;
  contents.install_folder = install;
  contents.pid1 = 1;
  contents.leftover_files = {hostile, sound};
  const std::string text = BuildCleanupBatchText(contents);
  EXPECT_EQ(std::string::npos, text.find("INJECTED")) << text;
  EXPECT_NE(std::string::npos, text.find("del \"C:\\Velmo\\1.0\\a & b.dll\"\n")) << text;
}

// Where the command interpreter's process list says nothing (the
// emulator's "tasklist" prints nothing, and its "find" refuses the options),
// the batch file still waits: a leftover that the installer's process holds
// is deleted once that process has ended, and its folder with it, even when
// the file was started working in that very folder.
TEST(CleanupBatchFileTest, LeftoverInUseIsDeletedOnceItsHolderEnds) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath install = temp.GetPath().Append(L"Velmo");
  const base::FilePath held = install.Append(L"1.0\\installer.exe.old");
  ASSERT_TRUE(base::CreateDirectoryTree(held.DirName()));
  ASSERT_TRUE(WriteText(held, "in use"));

  base::LaunchOptions hidden;
  hidden.start_hidden = true;
  base::CommandLine holder_command = testing::GetChildCommandLine("CleanupBatchFileHolder");
  holder_command.AppendSwitchPath("hold", held);
  base::Process holder = base::LaunchProcess(holder_command, hidden);
  ASSERT_TRUE(holder.IsValid());
  // The holder has the file open once an exclusive open fails.
  bool held_open = false;
  for (int i = 0; i < 1200 && !held_open; ++i) {
    HANDLE probe = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      held_open = ::GetLastError() == ERROR_SHARING_VIOLATION;
      if (!held_open)
        break;
    } else {
      ::CloseHandle(probe);
      if (holder.WaitForExitWithTimeout(50, nullptr))
        break;
    }
  }
  ASSERT_TRUE(held_open) << "the holder did not open the file";

  CleanupBatchContents contents;
  contents.pid1 = holder.Pid();
  contents.install_folder = install;
  contents.leftover_files.push_back(held);
  AddLeftoverFolders(held, install, &contents.leftover_folders);
  contents.remove_install_folder = true;
  const base::FilePath batch = install.Append(kCleanupBatchFileName);
  ASSERT_TRUE(WriteText(batch, BuildCleanupBatchText(contents)));
  base::LaunchOptions in_version_folder = hidden;
  in_version_folder.current_directory = held.DirName();
  base::Process cmd = base::LaunchProcess(base::CommandLine(batch), in_version_folder);
  ASSERT_TRUE(cmd.IsValid());
  EXPECT_FALSE(cmd.WaitForExitWithTimeout(3500, nullptr));
  EXPECT_TRUE(base::PathExists(held));

  ASSERT_TRUE(holder.Terminate(0, /*wait=*/true));
  EXPECT_TRUE(cmd.WaitForExitWithTimeout(120 * 1000, nullptr));
  EXPECT_FALSE(base::PathExists(held));
  EXPECT_FALSE(base::PathExists(held.DirName()));
  EXPECT_FALSE(base::PathExists(batch));
  // The install folder goes a moment after the batch file.
  for (int i = 0; i < 1200 && base::PathExists(install); ++i)
    ::Sleep(50);
  EXPECT_FALSE(base::PathExists(install));
  if (cmd.IsValid() && !cmd.WaitForExitWithTimeout(0, nullptr))
    cmd.Terminate(1, /*wait=*/true);
}

// Paths that would end their quoting or their line, and paths outside the
// install folder, never become lines: run by the command interpreter, the
// file deletes the sound leftover and nothing else, and no command hidden in
// a path runs.
TEST(CleanupBatchFileTest, HostilePathsNeverBecomeCommands) {
  test::ScopedBatchToolsPath tools;
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath install = temp.GetPath().Append(L"Velmo");
  const base::FilePath pwned = temp.GetPath().Append(L"pwned.txt");
  const base::FilePath outside = temp.GetPath().Append(L"outside\\decoy.txt");
  const base::FilePath sound = install.Append(L"1.0\\sound.dll");
  ASSERT_TRUE(base::CreateDirectoryTree(sound.DirName()));
  ASSERT_TRUE(base::CreateDirectoryTree(outside.DirName()));
  ASSERT_TRUE(WriteText(sound, "s"));
  ASSERT_TRUE(WriteText(outside, "d"));

  CleanupBatchContents contents;
  contents.install_folder = install;
  const std::vector<base::FilePath> hostile = {
      install.Append(L"x\" & echo PWNED>\"" + pwned.value() + L"\" & rem \".dll"),
      install.Append(L"a\necho PWNED>\"" + pwned.value() + L"\"\nrem b.dll"),
      install.Append(L"c\rd.dll"),
      install.Append(L"e|f.dll"),
      install.Append(L"..\\outside\\decoy.txt"),
      outside,
  };
  for (const base::FilePath& file : hostile) {
    std::string encoded;
    if (file.value().find_first_of(L"\"\r\n|") != std::wstring::npos) {
      EXPECT_FALSE(EncodeBatchFilePath(file, &encoded)) << file;
    }
    contents.leftover_files.push_back(file);
  }
  contents.leftover_files.push_back(sound);
  AddLeftoverFolders(sound, install, &contents.leftover_folders);
  // A folder that is no folder of the installation, handed in directly.
  contents.leftover_folders.insert(outside.DirName());

  base::Process ended = base::LaunchProcess(
      testing::GetChildCommandLine("CleanupBatchEndedProcess"), base::LaunchOptions());
  ASSERT_TRUE(ended.IsValid());
  ASSERT_TRUE(ended.WaitForExitWithTimeout(60 * 1000, nullptr));
  contents.pid1 = ended.Pid();
  const std::string text = BuildCleanupBatchText(contents);
  EXPECT_EQ(std::string::npos, text.find("PWNED"));
  EXPECT_EQ(std::string::npos, text.find("outside"));
  EXPECT_EQ(std::string::npos, text.find('\r'));
  EXPECT_NE(std::string::npos, text.find("del \"" + base::WideToUTF8(sound.value()) + "\"\n"));
  const std::string tail =
      ":deleted6\nrmdir \"" + base::WideToUTF8(sound.DirName().value()) + "\"\ndel %0\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(tail, text.substr(text.size() - tail.size()));

  const base::FilePath batch = install.Append(kCleanupBatchFileName);
  ASSERT_TRUE(WriteText(batch, text));
  base::LaunchOptions hidden;
  hidden.start_hidden = true;
  base::Process cmd = base::LaunchProcess(base::CommandLine(batch), hidden);
  ASSERT_TRUE(cmd.IsValid());
  EXPECT_TRUE(cmd.WaitForExitWithTimeout(60 * 1000, nullptr));
  EXPECT_FALSE(base::PathExists(sound));
  EXPECT_FALSE(base::PathExists(pwned));
  std::string decoy;
  EXPECT_TRUE(base::ReadFileToString(outside, &decoy));
  EXPECT_EQ("d", decoy);
}

}  // namespace
}  // namespace installer
