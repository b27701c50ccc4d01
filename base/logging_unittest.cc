#include "base/logging.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace logging {
namespace {

// Lines each child writes in the appending test.
constexpr int kAppendedLines = 10000;

std::vector<std::string>* g_captured = nullptr;
std::vector<size_t>* g_captured_starts = nullptr;
bool g_swallow = true;

bool CaptureHandler(int, const char*, int, size_t message_start, const std::string& line) {
  g_captured->push_back(line);
  g_captured_starts->push_back(message_start);
  return g_swallow;
}

std::wstring UniqueTempPath(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  std::wstring path(temp, length);
  path += L"velmo_logging_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount64()) + L"_" + name;
  return path;
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string data;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file)
    return data;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
    data.append(buffer, n);
  fclose(file);
  return data;
}

// Restores the test main's logging set-up whatever a test changes.
class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_handler_ = GetLogMessageHandler();
    g_captured = &lines_;
    g_captured_starts = &starts_;
    g_swallow = true;
    SetLogMessageHandler(&CaptureHandler);
  }
  void TearDown() override {
    SetLogMessageHandler(saved_handler_);
    SetLogItems(false, false, true, false);
    SetVlogLevels("", "");
    SetMinLogLevel(LOG_INFO);
    SetLogAssertHandlerForTesting(nullptr);
    LoggingSettings none;
    none.logging_dest = LOG_NONE;
    InitLogging(none);
    g_captured = nullptr;
    g_captured_starts = nullptr;
  }

  std::vector<std::string> lines_;
  std::vector<size_t> starts_;
  LogMessageHandlerFunction saved_handler_ = nullptr;
};

TEST_F(LoggingTest, PrefixCarriesExactlyTheChosenItems) {
  struct Case {
    bool pid, tid, time, tick;
    const char* pattern;
  } cases[] = {
      {false, false, true, false,
       R"(\[\d{4}/\d{6}\.\d{3}:INFO:logging_unittest\.cc\(\d+\)\] hello\n)"},
      {false, false, false, false, R"(\[INFO:logging_unittest\.cc\(\d+\)\] hello\n)"},
      {true, true, true, true,
       R"(\[\d+:\d+:\d{4}/\d{6}\.\d{3}:\d+:INFO:logging_unittest\.cc\(\d+\)\] hello\n)"},
      {true, false, false, true, R"(\[\d+:\d+:INFO:logging_unittest\.cc\(\d+\)\] hello\n)"},
  };
  for (const Case& c : cases) {
    lines_.clear();
    starts_.clear();
    SetLogItems(c.pid, c.tid, c.time, c.tick);
    LOG(INFO) << "hello";
    ASSERT_EQ(1u, lines_.size());
    EXPECT_TRUE(std::regex_match(lines_[0], std::regex(c.pattern))) << lines_[0];
    EXPECT_EQ("hello\n", lines_[0].substr(starts_[0]));
  }
  // The process id, when present, is this process's.
  SetLogItems(true, false, false, false);
  lines_.clear();
  LOG(WARNING) << "x";
  EXPECT_EQ("[" + std::to_string(GetCurrentProcessId()) + ":WARNING:",
            lines_[0].substr(0, lines_[0].find("logging_unittest")));
}

TEST_F(LoggingTest, MinimumLevelAndSeverityNames) {
  SetLogItems(false, false, false, false);
  SetMinLogLevel(LOG_WARNING);
  LOG(INFO) << "dropped";
  LOG(WARNING) << "kept";
  LOG(ERROR) << "kept too";
  ASSERT_EQ(2u, lines_.size());
  EXPECT_EQ(0u, lines_[0].find("[WARNING:"));
  EXPECT_EQ(0u, lines_[1].find("[ERROR:"));
  EXPECT_EQ("VERBOSE2", SeverityName(-2));
  EXPECT_EQ("FATAL", SeverityName(LOG_FATAL));
}

TEST_F(LoggingTest, VmoduleChangesOneFileOnly) {
  SetLogItems(false, false, false, false);
  SetVlogLevels("1", "logging_unittest=3,*/special/*=5");
  EXPECT_EQ(3, GetVlogLevel(__FILE__));
  EXPECT_EQ(1, GetVlogLevel("base/other_file.cc"));
  EXPECT_EQ(5, GetVlogLevel("src/special/thing.cc"));
  VLOG(3) << "three";
  VLOG(4) << "four";
  ASSERT_EQ(1u, lines_.size());
  EXPECT_EQ(0u, lines_[0].find("[VERBOSE3:logging_unittest.cc("));

  // Without switches verbose logging is off everywhere.
  SetVlogLevels("", "");
  EXPECT_EQ(0, GetVlogLevel(__FILE__));
  VLOG(1) << "off";
  EXPECT_EQ(1u, lines_.size());

  // Malformed pieces are ignored, the rest still applies.
  SetVlogLevels("x", "=2,logging_unittest=,logging_unittest=2x,logging_unittest=2");
  EXPECT_EQ(2, GetVlogLevel(__FILE__));
  EXPECT_EQ(0, GetVlogLevel("other.cc"));
}

TEST_F(LoggingTest, SystemErrorTextFollowsTheMessage) {
  SetLogItems(false, false, false, false);
  SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "opening";
  ASSERT_EQ(1u, lines_.size());
  EXPECT_NE(std::string::npos, lines_[0].find("] opening: ")) << lines_[0];
  EXPECT_NE(std::string::npos, lines_[0].find("(0x2)\n")) << lines_[0];
  // Logging leaves the caller's last error alone.
  SetLastError(ERROR_ACCESS_DENIED);
  LOG(INFO) << "x";
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// The first error of the process is kept as it was written, without its
// prefix; later errors and other severities leave it alone. (Another test
// of this program may have logged the first error already.)
TEST_F(LoggingTest, TheFirstErrorIsKept) {
  LOG(WARNING) << "only a warning";
  EXPECT_EQ(std::string::npos, GetFirstErrorMessage().find("only a warning"));
  SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "the first failure";
  const std::string first = GetFirstErrorMessage();
  ASSERT_FALSE(first.empty());
  if (first.rfind("the first failure", 0) == 0) {
    EXPECT_EQ("the first failure: ", first.substr(0, 19));
    EXPECT_EQ('\n', lines_.back().back());
    EXPECT_NE('\n', first.back());
  }
  LOG(ERROR) << "a later failure";
  EXPECT_EQ(first, GetFirstErrorMessage());
}

TEST_F(LoggingTest, WideTextIsWrittenAsUtf8) {
  SetLogItems(false, false, false, false);
  LOG(INFO) << L"caf\u00e9 " << std::wstring(L"\u65e5");
  ASSERT_EQ(1u, lines_.size());
  EXPECT_EQ("caf\xc3\xa9 \xe6\x97\xa5\n", lines_[0].substr(starts_[0]));
}

std::string* g_fatal_line = nullptr;
void RecordFatal(const std::string& line) { *g_fatal_line = line; }

TEST_F(LoggingTest, FailedCheckReportsTheCondition) {
  std::string fatal;
  g_fatal_line = &fatal;
  SetLogAssertHandlerForTesting(&RecordFatal);
  int value = 2;
  CHECK(value == 2) << "not reached";
  EXPECT_TRUE(fatal.empty());
  CHECK_EQ(value, 3) << "value was " << value;
  EXPECT_NE(std::string::npos, fatal.find("FATAL:")) << fatal;
  EXPECT_NE(std::string::npos, fatal.find("Check failed: (value) == (3). value was 2")) << fatal;
}

TEST_F(LoggingTest, FileDestinationDeletesOrAppends) {
  std::wstring path = UniqueTempPath(L"file.log");
  g_swallow = false;  // Let lines reach the file too.
  SetLogItems(false, false, false, false);

  LoggingSettings settings;
  settings.logging_dest = LOG_TO_FILE;
  settings.log_file = base::FilePath(path);
  settings.delete_old = DELETE_OLD_LOG_FILE;
  ASSERT_TRUE(InitLogging(settings));
  LOG(INFO) << "first";
  ASSERT_TRUE(InitLogging(settings));  // Deletes what "first" wrote.
  LOG(INFO) << "second";
  settings.delete_old = APPEND_TO_OLD_LOG_FILE;
  ASSERT_TRUE(InitLogging(settings));
  LOG(INFO) << "third";
  CloseLogFile();

  std::string contents = ReadWholeFile(path);
  EXPECT_EQ(std::string::npos, contents.find("first"));
  EXPECT_NE(std::string::npos, contents.find("] second\n[INFO:"));
  EXPECT_NE(std::string::npos, contents.find("] third\n"));
  DeleteFileW(path.c_str());
}

TEST_F(LoggingTest, HandlerCanKeepLinesOutOfTheFile) {
  std::wstring path = UniqueTempPath(L"handled.log");
  LoggingSettings settings;
  settings.log_file = base::FilePath(path);
  ASSERT_TRUE(InitLogging(settings));
  g_swallow = true;
  LOG(INFO) << "swallowed";
  g_swallow = false;
  LOG(INFO) << "written";
  CloseLogFile();
  std::string contents = ReadWholeFile(path);
  EXPECT_EQ(std::string::npos, contents.find("swallowed"));
  EXPECT_NE(std::string::npos, contents.find("written"));
  EXPECT_EQ(2u, lines_.size());
  DeleteFileW(path.c_str());
}

// The switches of a real process command line reach the verbose levels.
CHILD_PROCESS_MAIN(LoggingVmoduleChild) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  LoggingSettings settings;
  settings.log_file = command_line->GetSwitchValuePath("log-file");
  settings.delete_old = DELETE_OLD_LOG_FILE;
  SetLogMessageHandler(nullptr);
  if (!InitLogging(settings))
    return 2;
  VLOG(2) << "verbose from the test file";
  if (GetVlogLevel("base/elsewhere.cc") != 0)
    return 3;
  LOG(INFO) << "done";
  return 0;
}

// A program that logs before its log file is chosen writes no "debug.log"
// beside itself (it may run from a shared temporary folder); once chosen,
// the file gets the lines.
CHILD_PROCESS_MAIN(LoggingEarlyLinesChild) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  SetLogMessageHandler(nullptr);
  LoggingSettings no_file;
  InitLogging(no_file);
  LOG(WARNING) << "logged before the file was chosen";
  LoggingSettings settings;
  settings.log_file = command_line->GetSwitchValuePath("log-file");
  settings.delete_old = DELETE_OLD_LOG_FILE;
  if (!InitLogging(settings))
    return 2;
  LOG(INFO) << "logged into the file";
  CloseLogFile();
  return 0;
}

TEST_F(LoggingTest, NoFileBesideTheProgramBeforeTheFileIsChosen) {
  std::wstring path = UniqueTempPath(L"early.log");
  // The child runs from a copy of its own, so that only it could write
  // beside itself.
  base::ScopedTempDir folder;
  ASSERT_TRUE(folder.CreateUniqueTempDir());
  base::CommandLine command_line = testing::GetChildCommandLine("LoggingEarlyLinesChild");
  const base::FilePath copy = folder.GetPath().Append(command_line.GetProgram().BaseName());
  ASSERT_TRUE(base::CopySingleFile(command_line.GetProgram(), copy));
  command_line.SetProgram(copy);
  command_line.AppendSwitchNative("log-file", path);
  base::LaunchOptions options;
  options.wait = true;
  base::Process child = base::LaunchProcess(command_line, options);
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
  EXPECT_FALSE(base::PathExists(folder.GetPath().Append(L"debug.log")));
  std::string contents = ReadWholeFile(path);
  EXPECT_NE(std::string::npos, contents.find("logged into the file\n")) << contents;
  DeleteFileW(path.c_str());
}

TEST_F(LoggingTest, CommandLineSwitchesReachAChild) {
  std::wstring path = UniqueTempPath(L"child.log");
  base::CommandLine command_line = testing::GetChildCommandLine("LoggingVmoduleChild");
  command_line.AppendSwitchNative("log-file", path);
  command_line.AppendSwitchASCII("vmodule", "logging_unittest=2");
  base::LaunchOptions options;
  options.wait = true;
  base::Process child = base::LaunchProcess(command_line, options);
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
  std::string contents = ReadWholeFile(path);
  EXPECT_NE(std::string::npos, contents.find(":VERBOSE2:logging_unittest.cc(")) << contents;
  EXPECT_NE(std::string::npos, contents.find("verbose from the test file\n")) << contents;
  DeleteFileW(path.c_str());
}

// Appends numbered lines to the file of "log-file", tagged "tag".
CHILD_PROCESS_MAIN(LoggingAppendChild) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  SetLogMessageHandler(nullptr);
  LoggingSettings settings;
  settings.log_file = command_line->GetSwitchValuePath("log-file");
  if (!InitLogging(settings))
    return 2;
  const std::string tag = command_line->GetSwitchValueASCII("tag");
  for (int i = 0; i < kAppendedLines; ++i)
    LOG(INFO) << "line " << tag << " " << i << " of the appending test";
  CloseLogFile();
  return 0;
}

// Processes appending to one log file at once (a back end started in the
// same second as its front end) lose no line and tear none.
TEST_F(LoggingTest, ProcessesAppendingToOneFileKeepEveryLineWhole) {
  std::wstring path = UniqueTempPath(L"shared.log");
  std::vector<base::Process> children;
  for (const char* tag : {"a", "b", "c"}) {
    base::CommandLine command_line = testing::GetChildCommandLine("LoggingAppendChild");
    command_line.AppendSwitchNative("log-file", path);
    command_line.AppendSwitchASCII("tag", tag);
    children.push_back(base::LaunchProcess(command_line, base::LaunchOptions()));
    ASSERT_TRUE(children.back().IsValid());
  }
  for (base::Process& child : children) {
    int exit_code = -1;
    ASSERT_TRUE(child.WaitForExitWithTimeout(120 * 1000, &exit_code));
    EXPECT_EQ(0, exit_code);
  }
  const std::string contents = ReadWholeFile(path);
  const std::regex whole(R"(^\[[^\]]*\] line ([abc]) ([0-9]+) of the appending test$)");
  std::map<std::string, int> counts;
  size_t torn = 0;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos)
      end = contents.size();
    const std::string line = contents.substr(start, end - start);
    std::smatch match;
    if (std::regex_match(line, match, whole))
      ++counts[match[1].str()];
    else
      ++torn;
    start = end + 1;
  }
  EXPECT_EQ(0u, torn);
  for (const char* tag : {"a", "b", "c"})
    EXPECT_EQ(kAppendedLines, counts[tag]) << tag;
  DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace logging
