#include "desktop/windows/crash_reporter/test_crash_trigger.h"

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include <string>

#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_log_directories.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"

namespace crash_reporter {

// A pure virtual call the compiler cannot resolve: the base constructor
// calls through the object while its vtable is still the base's. The classes
// have external linkage, since with every override in sight the compiler
// would prove the call unreachable and drop it.
class TestPureCallBase {
 public:
  TestPureCallBase() { CallThrough(this); }
  virtual ~TestPureCallBase() = default;
  virtual void Pure() = 0;

 private:
  [[gnu::noipa]] static void CallThrough(TestPureCallBase* self) { self->Pure(); }
};

class TestPureCallDerived : public TestPureCallBase {
 public:
  void Pure() override;
};

[[gnu::noipa]] void TestPureCallDerived::Pure() {}

void TriggerCrash(const char* kind) {
  LOG(WARNING) << "Crashing on request: " << kind;
  if (strcmp(kind, "access-violation") == 0) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (strcmp(kind, "breakpoint") == 0) {
    ::DebugBreak();
  } else if (strcmp(kind, "invalid-parameter") == 0) {
    char target[4];
    const char* volatile source = "longer than the target";
    strcpy_s(target, sizeof(target), source);
  } else if (strcmp(kind, "pure-call") == 0) {
    TestPureCallDerived object;
  } else {
    LOG(ERROR) << "Unknown test crash kind: " << kind;
  }
}

void MaybeTriggerTestCrash(const char* role) {
  std::string request = base::WideToUTF8(ReadEnvironmentVariable(kTestCrashVariable));
  size_t colon = request.find(':');
  if (colon == std::string::npos || request.compare(0, colon, role) != 0)
    return;
  TriggerCrash(request.c_str() + colon + 1);
}

void MaybeOverrideTestFlagsFile() {
  const std::wstring path = ReadEnvironmentVariable(kTestCrashFlagsFileVariable);
  if (!path.empty() &&
      !base::PathRegistry::Override(kPathCrashFlagsPreferenceFile, base::FilePath(path))) {
    LOG(ERROR) << "Cannot set the test's flags preference file";
  }
}

unsigned long TestDumpRequestTimeout(unsigned long usual) {
  const std::wstring text = ReadEnvironmentVariable(kTestDumpWaitVariable);
  if (text.empty())
    return usual;
  wchar_t* end = nullptr;
  const unsigned long value = wcstoul(text.c_str(), &end, 10);
  if (*end != L'\0' || value == 0) {
    LOG(ERROR) << "Not a wait in milliseconds: " << base::WideToUTF8(text);
    return usual;
  }
  return value;
}

}  // namespace crash_reporter
