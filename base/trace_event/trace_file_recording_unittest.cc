#include "base/trace_event/trace_file_recording.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/trace_event/trace_log.h"
#include "base/trace_event/trace_site.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base::trace_event {
namespace {

TEST(TraceFileRecordingTest, WritesTraceOfTheRunAndNeverOverwrites) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring base = temp.GetPath().Append(L"run").value();
  {
    // Without the variable nothing is recorded.
    SetEnvironmentVariableW(L"VELMO_TRACE_FILE", nullptr);
    ScopedTraceFileRecording off;
    EXPECT_FALSE(off.recording());
    EXPECT_EQ(0, TraceLog::GetInstance()->enabled_modes());
  }

  SetEnvironmentVariableW(L"VELMO_TRACE_FILE", base.c_str());
  SetEnvironmentVariableW(L"VELMO_TRACE_CATEGORIES", L"velmo.file,-velmo.file.skip");
  std::wstring path;
  {
    ScopedTraceFileRecording recording;
    ASSERT_TRUE(recording.recording());
    path = recording.path();
    EXPECT_EQ(base + L"." + std::to_wstring(GetCurrentProcessId()) + L".json", path);
    TRACE_EVENT_SCOPE("velmo.file", "InTheFile");
    TRACE_EVENT_SCOPE("velmo.file.skip", "NotInTheFile");
  }
  SetEnvironmentVariableW(L"VELMO_TRACE_FILE", nullptr);
  SetEnvironmentVariableW(L"VELMO_TRACE_CATEGORIES", nullptr);
  EXPECT_EQ(0, TraceLog::GetInstance()->enabled_modes());

  std::string contents;
  ASSERT_TRUE(ReadFileToString(FilePath(path), &contents));
  EXPECT_NE(std::string::npos, contents.find("\"InTheFile\""));
  EXPECT_EQ(std::string::npos, contents.find("NotInTheFile"));
  std::unique_ptr<Value> parsed = JsonReader::Read(contents);
  DictValue* dict = nullptr;
  ListValue* events = nullptr;
  ASSERT_TRUE(parsed && parsed->GetAsDictionary(&dict) && dict->GetList("traceEvents", &events));
  EXPECT_GE(events->size(), 2u);

  // A second write to the same name leaves the first file alone.
  EXPECT_FALSE(WriteNewTraceFile(path, "{}"));
  std::string again;
  ASSERT_TRUE(ReadFileToString(FilePath(path), &again));
  EXPECT_EQ(contents, again);
}

}  // namespace
}  // namespace base::trace_event
