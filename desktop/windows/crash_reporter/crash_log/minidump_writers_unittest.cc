// Minidumps of a crashed child, parsed back: the system's streams, the
// exception, and the writers' own streams.
#include <windows.h>
#include <dbghelp.h>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/crashed_child_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/server_minidump_writer.h"
#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using installer::test::ScopedLogCapture;

// The streams of a minidump file by type (Wine ends the directory with
// unused entries of type 0, which are skipped).
class ParsedMinidump {
 public:
  explicit ParsedMinidump(const base::FilePath& path) {
    if (!base::ReadFileToString(path, &bytes_) || bytes_.size() < sizeof(MINIDUMP_HEADER))
      return;
    MINIDUMP_HEADER header;
    memcpy(&header, bytes_.data(), sizeof(header));
    if (header.Signature != 0x504D444D)  // "MDMP"
      return;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
      MINIDUMP_DIRECTORY entry;
      size_t at = header.StreamDirectoryRva + i * sizeof(entry);
      if (at + sizeof(entry) > bytes_.size())
        return;
      memcpy(&entry, bytes_.data() + at, sizeof(entry));
      if (entry.StreamType == UnusedStream)
        continue;
      if (entry.Location.Rva + entry.Location.DataSize > bytes_.size())
        return;
      streams_[entry.StreamType] = bytes_.substr(entry.Location.Rva, entry.Location.DataSize);
    }
    valid_ = true;
  }
  bool valid() const { return valid_; }
  bool Has(uint32_t type) const { return streams_.count(type) != 0; }
  std::string Stream(uint32_t type) const {
    auto it = streams_.find(type);
    return it == streams_.end() ? std::string() : it->second;
  }
  template <typename T>
  T Get(uint32_t type) const {
    T value = {};
    std::string stream = Stream(type);
    memcpy(&value, stream.data(), std::min(stream.size(), sizeof(T)));
    return value;
  }

 private:
  std::string bytes_;
  std::map<uint32_t, std::string> streams_;
  bool valid_ = false;
};

class MinidumpWritersTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  base::FilePath DumpPath() { return temp_.GetPath().Append(L"crash.dmp"); }

  void ExpectCrashStreams(const ParsedMinidump& dump, const CrashedChild& child,
                          uint32_t code = 0xC0000005) {
    ASSERT_TRUE(dump.valid());
    EXPECT_TRUE(dump.Has(SystemInfoStream));
    EXPECT_TRUE(dump.Has(ThreadListStream));
    EXPECT_TRUE(dump.Has(ModuleListStream));
    EXPECT_TRUE(dump.Has(MemoryListStream));
    auto exception = dump.Get<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
    EXPECT_EQ(child.data().thread_id, exception.ThreadId);
    EXPECT_EQ(code, exception.ExceptionRecord.ExceptionCode);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64,
              dump.Get<MINIDUMP_SYSTEM_INFO>(SystemInfoStream).ProcessorArchitecture);
  }

  base::ScopedTempDir temp_;
};

TEST_F(MinidumpWritersTest, ClientMinidumpWithInvalidParameterAssertion) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(2, kInvalidParameterAssertion));
  ASSERT_TRUE(WriteClientMinidump(
      child.pid(), child.data().thread_id_address, child.data().exception_pointers_address,
      child.data().assertion_address, DumpPath(), kInstallerMinidumpLimit));
  ParsedMinidump dump(DumpPath());
  ExpectCrashStreams(dump, child);
  EXPECT_EQ(installer::GetVersionString() + " " + std::to_string(installer::GetBuildNumber()),
            dump.Stream(kVersionStreamType));
  ASSERT_EQ(sizeof(AssertionInfo), dump.Stream(kAssertionStreamType).size());
  auto assertion = dump.Get<AssertionInfo>(kAssertionStreamType);
  EXPECT_EQ(kInvalidParameterAssertion, assertion.type);
  EXPECT_EQ(77u, assertion.line);
}

TEST_F(MinidumpWritersTest, BlockWithPureCallHasNoAssertionStream) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(0, kPureCallAssertion));
  ASSERT_TRUE(WriteMinidumpFromBlock(child.pid(), child.data().block_address, DumpPath(),
                                     kInstallerMinidumpLimit));
  ParsedMinidump dump(DumpPath());
  ExpectCrashStreams(dump, child);
  EXPECT_TRUE(dump.Has(kVersionStreamType));
  EXPECT_FALSE(dump.Has(kAssertionStreamType));
}

// Wine writes the same dump for both types, so a limit below its size
// makes both attempts fail: the file is deleted.
TEST_F(MinidumpWritersTest, TooLargeForTheLimitTwiceGivesNoFile) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(0));
  ScopedLogCapture log;
  EXPECT_FALSE(WriteMinidumpFromBlock(child.pid(), child.data().block_address, DumpPath(), 1000));
  EXPECT_FALSE(base::PathExists(DumpPath()));
  EXPECT_EQ(1, log.Count("Minidump of type 0x40 has"));
  EXPECT_EQ(1, log.Count("Minidump of type 0x0 has"));
  EXPECT_EQ(1, log.Count("fits 1000 bytes"));

  // An unreadable block fails before any file is made.
  EXPECT_FALSE(WriteMinidumpFromBlock(child.pid(), 16, DumpPath(), kInstallerMinidumpLimit));
  EXPECT_FALSE(base::PathExists(DumpPath()));
}

// A dump writer that writes a dump of a size chosen per type, or fails.
struct FakeDumpWriter {
  static std::vector<MINIDUMP_TYPE> types;
  static std::map<MINIDUMP_TYPE, size_t> sizes;
  static std::map<MINIDUMP_TYPE, DWORD> errors;

  static BOOL WINAPI Write(HANDLE, DWORD, HANDLE file, MINIDUMP_TYPE type,
                           PMINIDUMP_EXCEPTION_INFORMATION, PMINIDUMP_USER_STREAM_INFORMATION,
                           PMINIDUMP_CALLBACK_INFORMATION) {
    types.push_back(type);
    if (errors.count(type)) {
      ::SetLastError(errors[type]);
      return FALSE;
    }
    const std::string bytes(sizes[type], type == MiniDumpNormal ? 'n' : 'i');
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
};
std::vector<MINIDUMP_TYPE> FakeDumpWriter::types;
std::map<MINIDUMP_TYPE, size_t> FakeDumpWriter::sizes;
std::map<MINIDUMP_TYPE, DWORD> FakeDumpWriter::errors;

// Wine writes the same dump for every type, so the fallback to a normal
// dump is driven by a writer of the test's own.
TEST_F(MinidumpWritersTest, ADumpTooLargeOrRefusedFallsBackToANormalOne) {
  MinidumpWriteFunction previous = SetMinidumpWriterForTesting(&FakeDumpWriter::Write);
  ExceptionInfoBlock block = {};
  struct Case {
    const char* what;
    std::map<MINIDUMP_TYPE, DWORD> errors;
    bool written;
    std::vector<MINIDUMP_TYPE> types;
    std::string contents;
  };
  const Case cases[] = {
      {"too large",
       {},
       true,
       {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal},
       std::string(100, 'n')},
      {"invalid argument",
       {{MiniDumpWithIndirectlyReferencedMemory, static_cast<DWORD>(0x80070057)}},
       true,
       {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal},
       std::string(100, 'n')},
      {"other failure",
       {{MiniDumpWithIndirectlyReferencedMemory, ERROR_ACCESS_DENIED}},
       false,
       {MiniDumpWithIndirectlyReferencedMemory},
       ""},
  };
  for (const Case& test_case : cases) {
    FakeDumpWriter::types.clear();
    FakeDumpWriter::sizes = {{MiniDumpWithIndirectlyReferencedMemory, 5000}, {MiniDumpNormal, 100}};
    FakeDumpWriter::errors = test_case.errors;
    const base::FilePath path = DumpPath();
    bool written = false;
    {
      base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(file.IsValid());
      written = WriteSizeLimitedMinidump(::GetCurrentProcess(), ::GetCurrentProcessId(), block,
                                         file.Get(), 1000);
    }
    EXPECT_EQ(test_case.written, written) << test_case.what;
    EXPECT_EQ(test_case.types, FakeDumpWriter::types) << test_case.what;
    std::string contents;
    ASSERT_TRUE(base::ReadFileToString(path, &contents));
    if (test_case.written) {
      EXPECT_EQ(test_case.contents, contents) << test_case.what;
    }
  }
  // The first dump that fits is kept as it is.
  FakeDumpWriter::types.clear();
  FakeDumpWriter::errors.clear();
  FakeDumpWriter::sizes = {{MiniDumpWithIndirectlyReferencedMemory, 900}, {MiniDumpNormal, 100}};
  {
    base::win::ScopedHandle file(::CreateFileW(DumpPath().c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(WriteSizeLimitedMinidump(::GetCurrentProcess(), ::GetCurrentProcessId(), block,
                                         file.Get(), 1000));
  }
  EXPECT_EQ(std::vector<MINIDUMP_TYPE>{MiniDumpWithIndirectlyReferencedMemory},
            FakeDumpWriter::types);
  SetMinidumpWriterForTesting(previous);
}

TEST_F(MinidumpWritersTest, ServerWriterNamesDumpsByGuid) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(0, kPureCallAssertion, 0xC0000008));
  uint64_t pointers = 0;
  SIZE_T read = 0;
  ASSERT_TRUE(::ReadProcessMemory(
      child.process(), reinterpret_cast<const void*>(child.data().exception_pointers_address),
      &pointers, sizeof(pointers), &read));
  std::wstring path;
  {
    ServerMinidumpWriter writer(temp_.GetPath().value(), child.process(), child.pid(),
                                child.data().thread_id, child.data().thread_id, pointers,
                                child.data().assertion_address, 0, true);
    ASSERT_TRUE(writer.CreateDumpFile(&path));
    std::wstring again;
    EXPECT_FALSE(writer.CreateDumpFile(&again));
    EXPECT_TRUE(std::regex_match(
        base::FilePath(path).BaseName().AsUTF8Unsafe(),
        std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.dmp")))
        << path;
    EXPECT_EQ(temp_.GetPath(), base::FilePath(path).DirName());
    // No verifier under Wine: the invalid-handle dump has no handle trace.
    ASSERT_TRUE(writer.WriteMinidump());
  }  // the writer holds its file unshared until it ends
  ParsedMinidump dump{base::FilePath(path)};
  ExpectCrashStreams(dump, child, 0xC0000008);
  EXPECT_FALSE(dump.Has(kHandleOperationListStreamType));
  auto request = dump.Get<DumpRequestInfo>(kDumpRequestStreamType);
  EXPECT_EQ(sizeof(DumpRequestInfo), dump.Stream(kDumpRequestStreamType).size());
  EXPECT_EQ(0u, request.validity) << "the pointers are the client's";
  EXPECT_EQ(kPureCallAssertion, dump.Get<AssertionInfo>(kServerAssertionStreamType).type);
}

// A full-memory dump type gives two files: the full memory beside a dump
// without it, which carries the added streams and went through the callback.
BOOL CALLBACK CountDumpCallbacks(void* count, MINIDUMP_CALLBACK_INPUT*, MINIDUMP_CALLBACK_OUTPUT*) {
  ++*static_cast<int*>(count);
  return TRUE;
}

TEST_F(MinidumpWritersTest, ServerWriterWritesFullMemoryBesideTheDump) {
  CrashedChild child;
  ASSERT_TRUE(child.Start(0));
  uint64_t pointers = 0;
  SIZE_T read = 0;
  ASSERT_TRUE(::ReadProcessMemory(
      child.process(), reinterpret_cast<const void*>(child.data().exception_pointers_address),
      &pointers, sizeof(pointers), &read));
  constexpr uint32_t kAddedStreamType = 0x7E570001;
  const char added[] = "added";
  int callbacks = 0;
  std::wstring path;
  std::wstring full_path;
  {
    ServerMinidumpWriter writer(temp_.GetPath().value(), child.process(), child.pid(),
                                child.data().thread_id, child.data().thread_id, pointers, 0,
                                MiniDumpWithFullMemory, true);
    writer.AddUserStream(kAddedStreamType, added, sizeof(added));
    writer.set_callback({&CountDumpCallbacks, &callbacks});
    ASSERT_TRUE(writer.CreateDumpFile(&path, &full_path));
    ASSERT_TRUE(writer.WriteMinidump());
  }
  EXPECT_EQ(base::FilePath(path).DirName(), base::FilePath(full_path).DirName());
  ParsedMinidump dump{base::FilePath(path)};
  ParsedMinidump full{base::FilePath(full_path)};
  ExpectCrashStreams(dump, child);
  ASSERT_TRUE(full.valid());
  EXPECT_TRUE(full.Has(Memory64ListStream));
  EXPECT_FALSE(dump.Has(Memory64ListStream));
  EXPECT_EQ(std::string(added, sizeof(added)), dump.Stream(kAddedStreamType));
  EXPECT_GT(callbacks, 0);
}

// A crash pipe server that generates dumps hands the callback the path of a
// dump written by the server writer.
struct DumpPaths {
  std::vector<std::wstring> paths;
  static void OnDump(void* context, const CrashPipeClientRecord*, const std::wstring* path,
                     const std::wstring*) {
    static_cast<DumpPaths*>(context)->paths.push_back(path ? *path : L"<none>");
  }
};

TEST_F(MinidumpWritersTest, PipeServerGeneratesDumps) {
  DumpPaths recorded;
  const std::wstring folder = temp_.GetPath().value();
  const std::wstring pipe =
      std::wstring(kCrashPipeNamePrefix) + L"DumpTest" + std::to_wstring(::GetCurrentProcessId());
  CrashPipeServer server(pipe, nullptr, nullptr, nullptr, &DumpPaths::OnDump, &recorded, nullptr,
                         nullptr, nullptr, nullptr, true, &folder);
  ASSERT_TRUE(server.Start());
  // The thread that started the server owns its server-alive mutex: the
  // crash comes from another one.
  bool requested = false;
  DWORD crashed_thread = 0;
  std::thread crashing([&] {
    CrashPipeClient client(pipe, 0, CustomInfo());
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xE0000002;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    crashed_thread = ::GetCurrentThreadId();
    // A real dump takes several seconds under the emulator on a loaded
    // machine: longer than a crashing installer waits.
    client.set_dump_request_timeout_for_testing(180 * 1000);
    requested = client.Register() && client.RequestDump(&pointers, nullptr);
  });
  crashing.join();
  ASSERT_TRUE(requested);
  ASSERT_EQ(1u, recorded.paths.size());
  EXPECT_EQ(temp_.GetPath(), base::FilePath(recorded.paths[0]).DirName());
  ParsedMinidump dump{base::FilePath(recorded.paths[0])};
  ASSERT_TRUE(dump.valid());
  EXPECT_EQ(0xE0000002u,
            dump.Get<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream).ExceptionRecord.ExceptionCode);
  EXPECT_EQ(crashed_thread, dump.Get<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream).ThreadId);
  EXPECT_TRUE(dump.Has(kDumpRequestStreamType));
  EXPECT_TRUE(dump.Has(kServerAssertionStreamType));
}

// A dump the server cannot write (the client's exception pointers lead
// nowhere) leaves no file behind, the full-memory one included, skips the
// callback and still releases the client.
TEST_F(MinidumpWritersTest, PipeServerLeavesNoFileOfAFailedDump) {
  DumpPaths recorded;
  const std::wstring folder = temp_.GetPath().value();
  const std::wstring pipe = std::wstring(kCrashPipeNamePrefix) + L"FailedDumpTest" +
                            std::to_wstring(::GetCurrentProcessId());
  CrashPipeServer server(pipe, nullptr, nullptr, nullptr, &DumpPaths::OnDump, &recorded, nullptr,
                         nullptr, nullptr, nullptr, true, &folder);
  ASSERT_TRUE(server.Start());
  for (const uint32_t dump_type : {uint32_t{MiniDumpWithFullMemory}, uint32_t{0}}) {
    bool released = false;
    std::thread crashing([&] {
      CrashPipeClient client(pipe, dump_type, CustomInfo());
      client.set_dump_request_timeout_for_testing(180 * 1000);
      released = client.Register() &&
                 client.RequestDump(reinterpret_cast<EXCEPTION_POINTERS*>(0x10), nullptr);
    });
    crashing.join();
    EXPECT_TRUE(released) << dump_type;
    EXPECT_TRUE(recorded.paths.empty()) << dump_type;
    std::vector<std::wstring> left;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*.dmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        left.push_back(found.cFileName);
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    EXPECT_TRUE(left.empty()) << dump_type << ": " << (left.empty() ? L"" : left[0]);
  }
}

}  // namespace
}  // namespace crash_reporter
