#include "desktop/windows/crash_reporter/crash_log/crash_logger.h"

#include <string>
#include <thread>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/process.h"
#include "desktop/windows/crash_reporter/crash_log/self_report_log.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {

// Sets up the reporter's logging and logs a line to its file, one to a
// CrashLogger and one more to the file.
CHILD_PROCESS_MAIN(ReporterLogging) {
  InitReporterLogging();
  LOG(INFO) << "to the file";
  {
    CrashLogger logger;
    LOG(ERROR) << "to the logger";
    if (logger.text().find(":to the logger\n") == std::string::npos)
      return 3;
  }
  LOG(WARNING) << "after the logger";
  logging::CloseLogFile();
  return 0;
}

namespace {

class CrashLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    previous_ = logging::GetLogMessageHandler();
    logging::SetLogMessageHandler(&ReporterLogMessageHandler);
  }
  void TearDown() override { logging::SetLogMessageHandler(previous_); }

  base::ScopedTempDir temp_;
  logging::LogMessageHandlerFunction previous_ = nullptr;
};

TEST_F(CrashLoggerTest, CollectsTheLinesOfItsThreadOnly) {
  EXPECT_FALSE(ReporterLogMessageHandler(0, "x.cc", 1, 0, "line\n"));
  CrashLogger outer;
  const int line = __LINE__ + 1;
  LOG(WARNING) << "outer line";
  {
    CrashLogger inner;
    LOG(ERROR) << "inner line";
    std::thread([] { LOG(ERROR) << "other thread"; }).join();
    EXPECT_EQ(&inner, CrashLogger::Current());
    EXPECT_NE(std::string::npos, inner.text().find("crash_logger_unittest.cc:"));
    EXPECT_NE(std::string::npos, inner.text().find(":inner line\n"));
  }
  EXPECT_EQ(&outer, CrashLogger::Current());
  EXPECT_EQ("crash_logger_unittest.cc:" + std::to_string(line) + ":outer line\n", outer.text());
  EXPECT_TRUE(ReporterLogMessageHandler(0, "C:\\src\\a\\b.cc", 12, 5, "[pfx]text\n"));
  EXPECT_NE(std::string::npos, outer.text().find("b.cc:12:text\n"));
}

TEST_F(CrashLoggerTest, AppendsItsSectionToTheCrashLog) {
  const base::FilePath log = temp_.GetPath().Append(L"crash.txt");
  CrashLogger logger;
  EXPECT_TRUE(logger.AppendToCrashLog(log)) << "nothing collected, nothing to do";
  EXPECT_FALSE(base::PathExists(log));
  ASSERT_EQ(5, base::WriteFileBytes(log, "head\n", 5));
  logger.Append("a.cc:3:first\n");
  EXPECT_TRUE(logger.AppendToCrashLog(log));
  EXPECT_EQ("", logger.text());
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(log, &text));
  EXPECT_EQ("head\n\r\nCrash Logger:\r\na.cc:3:first\r\n", text);

  logger.Append("kept\n");
  EXPECT_FALSE(logger.AppendToCrashLog(temp_.GetPath().Append(L"no\\such\\folder.txt")));
}

TEST_F(CrashLoggerTest, ReporterLogPath) {
  const base::FilePath path = GetReporterLogPath();
  EXPECT_EQ(L"velmo_crashreporter.log", path.BaseName().value());
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
  EXPECT_EQ(base::FilePath(temp).StripTrailingSeparators(), path.DirName());
}

TEST_F(CrashLoggerTest, ReporterLoggingWritesItsFileInTheTemporaryFolder) {
  wchar_t old_tmp[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  ::SetEnvironmentVariableW(L"TMP", temp_.GetPath().c_str());
  base::Process child =
      base::LaunchProcess(testing::GetChildCommandLine("ReporterLogging"), base::LaunchOptions());
  ::SetEnvironmentVariableW(L"TMP", old_tmp[0] ? old_tmp : nullptr);
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0, exit_code);
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(temp_.GetPath().Append(L"velmo_crashreporter.log"), &text));
  // Process id, thread id, time and tick count lead every line.
  const std::string prefix = "[" + std::to_string(child.Pid()) + ":";
  EXPECT_EQ(0u, text.find(prefix)) << text;
  EXPECT_NE(std::string::npos, text.find(":INFO:crash_logger_unittest.cc("));
  EXPECT_NE(std::string::npos, text.find("] to the file"));
  EXPECT_NE(std::string::npos, text.find("] after the logger"));
  EXPECT_EQ(std::string::npos, text.find("to the logger"));
}

TEST_F(CrashLoggerTest, SelfReportLogEmbedsTheMinidump) {
  const base::FilePath path = temp_.GetPath().Append(L"self.txt");
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_TRUE(file);
  const uint8_t minidump[] = {'M', 'D', 'M', 'P', '\n', 0, '\r', 0xFF};
  EXPECT_TRUE(WriteSelfReportLog(file, L"installer.exe", 0xC0000005, 0x7FF612345678, minidump,
                                 sizeof(minidump)));
  fclose(file);
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(path, &text));
  const std::string expected =
      "VELMO-CRASHLOG V1 desktop" + installer::GetCrashLogProductSuffix() + " " +
      installer::GetVersionString() + " " + std::to_string(installer::GetBuildNumber()) +
      " windows x64 release\r\ninstaller.exe caused exception C0000005 at address 7FF612345678 "
      "(BASE: 00000000)\r\n\r\nmetadata:\r\nprocess_type=\"crash_reporter\"\r\n\r\nminidump:\r\n" +
      std::string(reinterpret_cast<const char*>(minidump), sizeof(minidump));
  EXPECT_EQ(expected, text);
}

// Every reporter appends to one file: past its bound it becomes the
// previous log, replacing the one before, so the two stay bounded.
TEST_F(CrashLoggerTest, ReporterLogPastItsBoundStartsAfresh) {
  const base::FilePath log = temp_.GetPath().Append(L"velmo_crashreporter.log");
  const base::FilePath previous = GetPreviousReporterLogPath(log);
  EXPECT_EQ(temp_.GetPath().Append(L"velmo_crashreporter.old.log"), previous);
  const std::string small(100, 'a');
  ASSERT_EQ(100, base::WriteFileBytes(log, small.data(), 100));
  EXPECT_FALSE(RotateReporterLog(log, 1000));
  EXPECT_TRUE(base::PathExists(log));
  EXPECT_FALSE(base::PathExists(previous));

  ASSERT_EQ(1, base::WriteFileBytes(previous, "o", 1));
  const std::string large(2000, 'b');
  ASSERT_EQ(2000, base::WriteFileBytes(log, large.data(), 2000));
  EXPECT_TRUE(RotateReporterLog(log, 1000));
  EXPECT_FALSE(base::PathExists(log));
  std::string moved;
  ASSERT_TRUE(base::ReadFileToString(previous, &moved));
  EXPECT_EQ(large, moved);
  EXPECT_FALSE(RotateReporterLog(log, 1000));  // Nothing there.
}

}  // namespace
}  // namespace crash_reporter
