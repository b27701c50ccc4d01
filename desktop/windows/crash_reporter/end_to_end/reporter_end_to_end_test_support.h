// What the end-to-end crash tests share: environment variables for the
// processes they start, the crash logs of a folder, the zip of an upload, and
// the check of everything a reporter leaves after serving one crash.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_END_TO_END_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_END_TO_END_TEST_SUPPORT_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/values.h"

namespace crash_reporter {

// Environment variables set for the processes a test starts, removed again
// when it goes.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();

  void Set(const std::wstring& name, const std::wstring& value);

 private:
  std::vector<std::wstring> names_;
};

// How long the crashing installers of these tests wait for their reporter
// (kTestDumpWaitVariable): the tests expect the minidump, which a reporter on
// a loaded machine may not finish within the usual wait.
inline constexpr wchar_t kEndToEndDumpWaitMs[] = L"180000";
// How long a test waits for a crashed installer to end or for the first
// upload of its crash: the dump wait, and time to spare.
inline constexpr DWORD kCrashHandledWaitMs = 240000;

base::FilePath InstallerExe();

// The crash logs of |folder| whose names end with |suffix|.
std::vector<base::FilePath> FilesEndingWith(const base::FilePath& folder, const wchar_t* suffix);

// The pid in "velmo-crashlog-<pid>-<n>.txt".
DWORD ReporterPidOf(const base::FilePath& log);

std::string ReadText(const base::FilePath& path);

// The one entry of the zip made of |bytes| (written into |folder|); empty
// when it cannot be read.
std::string UnzipOnlyEntry(const std::string& bytes, const base::FilePath& folder);

struct CrashKind {
  const char* name;
  DWORD code;
};

// The crashes the trigger makes in the installer's own code, with the status
// each one ends its process with.
std::vector<CrashKind> InstallerCrashKinds();

// A test name made of a kind's name.
std::string CrashKindTestName(const CrashKind& kind);

// Where a reporter sends one crash: the pre-flight at |crash_path| answers
// 303 with |id|, the minidump goes to |collector_path|.
struct CrashUploadPaths {
  explicit CrashUploadPaths(const char* kind_name);
  std::string id;
  std::string crash_path;
  std::string collector_path;
};

// Checks what a reporter left for its first crash, of |kind|, with keep-logs
// set: the pre-flight and the zipped crash log, the minidump with its fields,
// both equal to the files kept in |logs|, and the report-id line. |scratch|
// takes the zip while it is read. |reporter_pid| receives the pid in the
// log's name. Use under ASSERT_NO_FATAL_FAILURE.
void ExpectCrashLoggedAndUploaded(const CrashKind& kind, const CrashUploadPaths& paths,
                                  const base::FilePath& logs, const base::FilePath& scratch,
                                  DWORD* reporter_pid);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_END_TO_END_TEST_SUPPORT_H_
