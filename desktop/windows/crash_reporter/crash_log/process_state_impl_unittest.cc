#include "desktop/windows/crash_reporter/crash_log/process_state_impl.h"

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <string>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/crash_reporter/crash_log/crashed_child_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/memory_reader.h"
#include "desktop/windows/crash_reporter/crash_log/thread_info_impl.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "gtest/gtest.h"

namespace crash_reporter {

CHILD_PROCESS_MAIN(CrashIntoWaitingFilter) { return RunCrashedChild(); }

namespace {

using installer::test::ScopedLogCapture;

base::FilePath ExePath() {
  base::FilePath path;
  base::PathRegistry::Get(base::kPathExeFile, &path);
  return path;
}

const ModuleInfo* FindModule(const ProcessState& state, const std::string& name) {
  for (const auto& module : state.GetModules()) {
    if (_stricmp(module->GetName(), name.c_str()) == 0)
      return module.get();
  }
  return nullptr;
}

uint32_t FixtureTimeStamp() {
  std::string file;
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  EXPECT_TRUE(base::ReadFileToString(exe_dir.Append(L"crash_fixture.dll"), &file));
  uint32_t nt = 0;
  uint32_t stamp = 0;
  memcpy(&nt, file.data() + 0x3C, 4);
  memcpy(&stamp, file.data() + nt + 8, 4);
  return stamp;
}

TEST(ProcessStateImplTest, SnapshotOfACrashedChild) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(3));
  ScopedLogCapture log;
  ProcessStateImpl state;
  ASSERT_TRUE(state.Snapshot(child.pid(), child.data().exception_pointers_address,
                             child.data().thread_id_address, {}));

  EXPECT_EQ(0xC0000005u, state.GetExceptionCodeValue());
  ASSERT_GE(state.GetThreads().size(), 4u);
  const ThreadInfo& crashed = *state.GetThreads()[0];
  EXPECT_TRUE(crashed.IsCrashed());
  EXPECT_EQ(child.data().thread_id, crashed.GetThreadId());
  EXPECT_EQ(state.GetExceptionAddress(), crashed.GetRegisters().rip);
  EXPECT_NE(0u, crashed.GetStackSize());
  for (size_t i = 1; i < state.GetThreads().size(); ++i) {
    const ThreadInfo& thread = *state.GetThreads()[i];
    EXPECT_FALSE(thread.IsCrashed());
    EXPECT_NE(child.data().thread_id, thread.GetThreadId());
    EXPECT_NE(0u, thread.GetRegisters().rsp);
    EXPECT_NE(0u, thread.GetRegisters().rip);
    EXPECT_EQ(0, thread.GetPriority());
    // Wine gives every thread a private read-write stack.
    EXPECT_NE(0u, thread.GetStackSize()) << thread.GetThreadId();
  }

  ASSERT_TRUE(state.GetMainModule());
  EXPECT_STREQ("crash_log_unittests.exe", state.GetMainModule()->GetName());
  EXPECT_EQ(0, log.Count("Couldn't find main module"));
  const ModuleInfo* fixture = FindModule(state, "crash_fixture.dll");
  ASSERT_TRUE(fixture);
  EXPECT_STREQ("7.6.5.4", fixture->GetFileVersion());
  EXPECT_EQ(FixtureTimeStamp(), fixture->GetTimeStamp());
  EXPECT_GT(fixture->GetCodeEnd(), 0u);
  EXPECT_LT(fixture->GetCodeEnd(), fixture->GetSize());
  EXPECT_NE(0u, state.working_set_size());
  EXPECT_NE(0u, state.peak_working_set_size());

  std::unique_ptr<MemoryReader> reader = state.CreateMemoryReader();
  size_t read = 0;
  const uint8_t* bytes = reader->ReadMemory(child.data().thread_id_address, 4, &read);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(4u, read);
  EXPECT_TRUE(state.IsReadable(child.data().thread_id_address));
  EXPECT_FALSE(state.IsReadable(0));
}

std::atomic<int> g_module_snapshot_calls{0};

HANDLE WINAPI FailingModuleSnapshot(DWORD flags, DWORD pid) {
  if (flags & TH32CS_SNAPMODULE) {
    ++g_module_snapshot_calls;
    ::SetLastError(ERROR_BAD_LENGTH);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateToolhelp32Snapshot(flags, pid);
}

// Tool Help keeps failing: ten attempts, then the modules the process
// described itself; damaged and missing module files are logged and kept.
TEST(ProcessStateImplTest, FallbackModulesAndDamagedFiles) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath damaged = temp.GetPath().Append(L"damaged.dll");
  ASSERT_EQ(5, base::WriteFileBytes(damaged, "MZxyz", 5));
  CrashedChild child;
  ASSERT_TRUE(child.Start(0));

  ProcessStateImpl::SetCreateSnapshotFunctionForTesting(&FailingModuleSnapshot);
  g_module_snapshot_calls = 0;
  ScopedLogCapture log;
  ProcessStateImpl state;
  const std::vector<FallbackModule> fallback = {
      {L"damaged.dll", damaged, 0x180000000, 0x5000},
      {L"main.exe", ExePath(), 0x140000000, 0x9000},
      {L"", temp.GetPath().Append(L"gone.dll"), 0x190000000, 0x1000},
  };
  bool ok = state.Snapshot(child.pid(), child.data().exception_pointers_address,
                           child.data().thread_id_address, fallback);
  ProcessStateImpl::SetCreateSnapshotFunctionForTesting(nullptr);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ProcessStateImpl::kModuleSnapshotAttempts, g_module_snapshot_calls.load());
  EXPECT_EQ(1, log.Count("TH32CS_SNAPMODULE failed, retries_left=0"));
  EXPECT_EQ(1, log.Count("Using fallback modules"));
  EXPECT_EQ(1, log.Count("GetNtHeaders failed for damaged.dll"));
  EXPECT_EQ(
      1, log.Count("CreateFile failed for " + temp.GetPath().Append(L"gone.dll").AsUTF8Unsafe()));
  EXPECT_EQ(1, log.Count(" has no name"));
  ASSERT_EQ(3u, state.GetModules().size());
  EXPECT_STREQ("damaged.dll", state.GetModules()[0]->GetName());
  EXPECT_EQ(0x180000000u, state.GetModules()[0]->GetLoadAddress());
  EXPECT_EQ(0x5000u, state.GetModules()[0]->GetSize());
  EXPECT_STREQ("", state.GetModules()[0]->GetFileVersion());
  EXPECT_EQ(0u, state.GetModules()[0]->GetTimeStamp());
  ASSERT_TRUE(state.GetMainModule());
  EXPECT_STREQ("main.exe", state.GetMainModule()->GetName());
  EXPECT_EQ(0x140000000u, state.GetMainModule()->GetLoadAddress());
  EXPECT_EQ(0x190000000u, state.GetModules()[2]->GetLoadAddress());
  EXPECT_TRUE(state.GetThreads()[0]->IsCrashed());
}

TEST(ProcessStateImplTest, UnreadableExceptionFailsTheSnapshot) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(0));
  ProcessStateImpl state;
  // The thread-id slot holds no pointer to an EXCEPTION_POINTERS record.
  EXPECT_FALSE(state.Snapshot(child.pid(), child.data().thread_id_address,
                              child.data().thread_id_address, {}));
  ProcessStateImpl missing;
  EXPECT_FALSE(missing.Snapshot(0xFFFFFFF0, 0, 0, {}));
}

TEST(ProcessStateImplTest, ImagePathMapsBackToADrive) {
  const base::FilePath image = ProcessStateImpl::GetImagePath(::GetCurrentProcess());
  EXPECT_TRUE(base::FilePath::CompareEqualIgnoreCase(ExePath().value(), image.value()))
      << image.value();
  ScopedLogCapture log;
  EXPECT_TRUE(ProcessStateImpl::GetDeviceName(L"C:").empty());
  EXPECT_TRUE(ProcessStateImpl::GetDeviceName(L"C:\\x").empty());
  EXPECT_EQ(2, log.Count("GetDeviceName: '"));
  EXPECT_FALSE(ProcessStateImpl::GetDeviceName(L"C:\\").empty());
}

// A stack pointer outside a private read-write region gives stack size 0.
TEST(ThreadInfoImplTest, StackSizeOnlyForAStackRegion) {
  static int not_a_stack = 0;
  ScopedLogCapture log;
  EXPECT_EQ(0u, ThreadInfoImpl::GetStackSizeAt(::GetCurrentProcess(),
                                               reinterpret_cast<uint64_t>(&not_a_stack)));
  EXPECT_EQ(1, log.Count("Sanity checks failed"));
  int on_stack = 0;
  const uint64_t sp = reinterpret_cast<uint64_t>(&on_stack);
  const uint64_t size = ThreadInfoImpl::GetStackSizeAt(::GetCurrentProcess(), sp);
  EXPECT_GT(size, 0u);
  EXPECT_EQ(0u, (sp + size) % 4096) << "the size reaches the end of the region";
}

// Only the first hundred failed reads are logged.
TEST(MemoryReaderTest, FailuresAreLoggedAHundredTimes) {
  MemoryReader reader(::GetCurrentProcess());
  ScopedLogCapture log;
  size_t read = 1;
  for (int i = 0; i < 100; ++i)
    EXPECT_FALSE(reader.ReadMemory(16, 8, &read));
  EXPECT_EQ(0u, read);
  EXPECT_EQ(100, log.Count("ReadProcessMemory failed for address 0x10 and size 8, bytes_read=0"));
  EXPECT_EQ(1, log.Count("Reached limit of logged memory read errors"));
  EXPECT_FALSE(reader.ReadMemory(16, 8, &read));
  EXPECT_EQ(100, log.Count("ReadProcessMemory failed"));
  EXPECT_EQ(1, log.Count("Reached limit"));
  int value = 5;
  const uint8_t* bytes = reader.ReadMemory(reinterpret_cast<uint64_t>(&value), 4, &read);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(4u, read);
  EXPECT_EQ(5, *reinterpret_cast<const int*>(bytes));
}

}  // namespace
}  // namespace crash_reporter
