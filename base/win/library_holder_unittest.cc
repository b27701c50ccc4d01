#include "base/win/library_holder.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/logging.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

// Collects log lines while alive, still passing them on.
class LogCapture {
 public:
  LogCapture() : previous_(logging::GetLogMessageHandler()) {
    lines_ = &captured_;
    logging::SetLogMessageHandler(&Handler);
  }
  ~LogCapture() {
    logging::SetLogMessageHandler(previous_);
    lines_ = nullptr;
  }
  const std::vector<std::string>& lines() const { return captured_; }
  bool Contains(const std::string& text) const {
    for (const std::string& line : captured_) {
      if (line.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

 private:
  static bool Handler(int, const char*, int, size_t, const std::string& line) {
    if (lines_)
      lines_->push_back(line);
    return false;
  }
  static inline std::vector<std::string>* lines_ = nullptr;
  logging::LogMessageHandlerFunction previous_;
  std::vector<std::string> captured_;
};

TEST(LibraryHolderTest, FindsSystemFunctions) {
  LibraryHolder kernel32(L"kernel32.dll");
  ASSERT_TRUE(kernel32.IsLoaded());
  EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), kernel32.Handle());
  void* address = kernel32.GetFunctionPointer("GetTickCount");
  EXPECT_EQ(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")),
      address);
  auto get_process_id =
      kernel32.GetFunction<decltype(&::GetCurrentProcessId)>("GetCurrentProcessId");
  ASSERT_NE(nullptr, get_process_id);
  EXPECT_EQ(GetCurrentProcessId(), get_process_id());

  LogCapture log;
  EXPECT_EQ(nullptr, kernel32.GetFunctionPointer("VelmoNoSuchFunction"));
  EXPECT_TRUE(log.Contains("VelmoNoSuchFunction"));
}

TEST(LibraryHolderTest, MissingLibraryFailsAndLogs) {
  LogCapture log;
  LibraryHolder missing(L"velmo_no_such_library.dll");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_EQ(nullptr, missing.GetFunctionPointer("Anything"));
  EXPECT_TRUE(log.Contains("velmo_no_such_library.dll"));

  LibraryHolder empty;
  EXPECT_FALSE(empty.Load(L""));
  EXPECT_FALSE(empty.IsLoaded());
}

TEST(LibraryHolderTest, BareNamesNeverComeFromTheApplicationFolder) {
  // A copy of a system library beside the test executable, under a name that
  // exists nowhere else.
  wchar_t exe[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring folder(exe, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  const std::wstring name = L"velmo_libtest_" + std::to_wstring(GetCurrentProcessId()) + L".dll";
  const std::wstring copy = folder + name;
  wchar_t system[MAX_PATH];
  UINT system_length = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(system_length, 0u);
  const std::wstring source = std::wstring(system, system_length) + L"\\version.dll";
  ASSERT_TRUE(CopyFileW(source.c_str(), copy.c_str(), FALSE)) << GetLastError();

  {
    LibraryHolder bare(name);
    EXPECT_FALSE(bare.IsLoaded());
    LibraryHolder full(copy);
    EXPECT_TRUE(full.IsLoaded());
    // The system copy of a bare name loads.
    LibraryHolder system_version(L"version.dll");
    EXPECT_TRUE(system_version.IsLoaded());
    EXPECT_NE(nullptr, system_version.GetFunctionPointer("GetFileVersionInfoSizeW"));
  }
  EXPECT_TRUE(DeleteFileW(copy.c_str())) << GetLastError();
}

TEST(LibraryHolderTest, ReleasesTheLibrary) {
  // A library the test executable does not link, so only the holder keeps it.
  ASSERT_EQ(nullptr, GetModuleHandleW(L"msimg32.dll"));
  {
    LibraryHolder holder(L"msimg32.dll");
    ASSERT_TRUE(holder.IsLoaded());
    EXPECT_EQ(holder.Handle(), GetModuleHandleW(L"msimg32.dll"));
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(L"msimg32.dll"));
}

}  // namespace
}  // namespace base::win
