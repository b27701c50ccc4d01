#include "desktop/windows/crash_reporter/crash_log/server_minidump_writer.h"

#include <windows.h>
#include <dbghelp.h>
#include <rpc.h>

#include <cstring>
#include <utility>
#include <vector>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/guid_string.h"

namespace crash_reporter {
namespace {

// Libraries are loaded under one lock and dumps written under another:
// dbghelp is not safe for concurrent use.
base::LazyInstance<base::Lock> g_library_lock;
base::LazyInstance<base::Lock> g_write_lock;

constexpr uint32_t kStatusInvalidHandle = 0xC0000008;
constexpr uint32_t kHandleTraceResource = 1;
constexpr uint32_t kBadReferenceOperation = 3;
constexpr uint32_t kFullMemoryFlag = MiniDumpWithFullMemory;

using UuidCreateFunction = RPC_STATUS(RPC_ENTRY*)(UUID*);
using EnumerateCallback = ULONG(NTAPI*)(void* record, void* context, ULONG* level);
using VerifierEnumerateResourceFunction = ULONG(NTAPI*)(HANDLE process, ULONG flags,
                                                        ULONG resource_type,
                                                        EnumerateCallback callback, void* context);

struct HandleTraceCollector {
  std::vector<std::string> records;
  uint64_t bad_handle = 0;
  bool found = false;
};

ULONG NTAPI CollectHandleOperation(void* record, void* context, ULONG* level) {
  auto* collector = static_cast<HandleTraceCollector*>(context);
  const auto* bytes = static_cast<const char*>(record);
  collector->records.emplace_back(bytes, kHandleOperationSize);
  uint32_t operation = 0;
  memcpy(&operation, bytes + 16, sizeof(operation));
  if (operation == kBadReferenceOperation) {
    memcpy(&collector->bad_handle, bytes, sizeof(collector->bad_handle));
    collector->found = true;
  }
  *level = 0;  // go on
  return 0;
}

}  // namespace

ServerMinidumpWriter::ServerMinidumpWriter(std::wstring dump_folder, HANDLE process, DWORD pid,
                                           DWORD thread_id, DWORD requesting_thread_id,
                                           uint64_t exception_pointers, uint64_t assertion_address,
                                           uint32_t dump_type, bool client_pointers)
    : dump_folder_(std::move(dump_folder)),
      process_(process),
      pid_(pid),
      thread_id_(thread_id),
      requesting_thread_id_(requesting_thread_id),
      exception_pointers_(exception_pointers),
      assertion_address_(assertion_address),
      dump_type_(dump_type),
      client_pointers_(client_pointers) {}

ServerMinidumpWriter::~ServerMinidumpWriter() = default;

bool ServerMinidumpWriter::CreateDumpFile(std::wstring* path, std::wstring* full_memory_path) {
  if (dump_file_.IsValid()) {
    LOG(ERROR) << "A dump file is already open";
    return false;
  }
  UuidCreateFunction uuid_create = nullptr;
  {
    base::AutoLock lock(g_library_lock.Get());
    if (!rpcrt4_.IsLoaded() && !rpcrt4_.Load(L"rpcrt4.dll"))
      return false;
    uuid_create = rpcrt4_.GetFunction<UuidCreateFunction>("UuidCreate");
  }
  UUID uuid;
  if (!uuid_create || uuid_create(&uuid) != RPC_S_OK) {
    LOG(ERROR) << "Cannot create a dump id";
    return false;
  }
  const std::wstring stem = dump_folder_ + L"\\" + GuidToWideString(uuid);
  std::wstring file = stem + L".dmp";
  dump_file_.Reset(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!dump_file_.IsValid()) {
    PLOG(ERROR) << "Cannot create the dump file " << file;
    return false;
  }
  dump_path_ = file;
  if (dump_type_ & kFullMemoryFlag) {
    std::wstring full = stem + L"-full.dmp";
    full_memory_file_.Reset(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!full_memory_file_.IsValid()) {
      PLOG(ERROR) << "Cannot create the full-memory dump file " << full;
      DiscardDumpFiles();
      return false;
    }
    full_memory_path_ = full;
    if (full_memory_path)
      *full_memory_path = full;
  }
  *path = file;
  return true;
}

void ServerMinidumpWriter::AddUserStream(uint32_t type, const void* data, uint32_t size) {
  additional_streams_.push_back({type, size, const_cast<void*>(data)});
}

void ServerMinidumpWriter::DiscardDumpFiles() {
  for (auto [file, path] :
       {std::pair{&dump_file_, &dump_path_}, std::pair{&full_memory_file_, &full_memory_path_}}) {
    if (path->empty())
      continue;
    file->Reset();
    if (!::DeleteFileW(path->c_str()))
      PLOG(ERROR) << "Cannot delete the unwritten dump file " << *path;
    path->clear();
  }
}

bool ServerMinidumpWriter::LoadDbghelp() {
  base::AutoLock lock(g_library_lock.Get());
  if (!write_dump_ && (dbghelp_.IsLoaded() || dbghelp_.Load(L"dbghelp.dll")))
    write_dump_ = dbghelp_.GetFunctionPointer("MiniDumpWriteDump");
  return write_dump_ != nullptr;
}

bool ServerMinidumpWriter::ReadBytes(uint64_t address, void* out, size_t size) const {
  if (!client_pointers_) {
    memcpy(out, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), size);
    return true;
  }
  SIZE_T read = 0;
  return ::ReadProcessMemory(process_, reinterpret_cast<const void*>(address), out, size, &read) &&
         read == size;
}

bool ServerMinidumpWriter::ReadHandleTrace(std::string* stream) {
  base::win::LibraryHolder verifier;
  if (!verifier.Load(L"verifier.dll"))
    return false;
  auto enumerate =
      verifier.GetFunction<VerifierEnumerateResourceFunction>("VerifierEnumerateResource");
  HandleTraceCollector collector;
  if (!enumerate ||
      enumerate(process_, 0, kHandleTraceResource, &CollectHandleOperation, &collector) != 0) {
    LOG(WARNING) << "No handle trace of process " << pid_;
    return false;
  }
  std::vector<const std::string*> kept;
  for (const std::string& record : collector.records) {
    uint64_t handle = 0;
    memcpy(&handle, record.data(), sizeof(handle));
    if (collector.found && handle == collector.bad_handle)
      kept.push_back(&record);
  }
  MINIDUMP_HANDLE_OPERATION_LIST header = {};
  header.SizeOfHeader = sizeof(header);
  header.SizeOfEntry = kHandleOperationSize;
  header.NumberOfEntries = static_cast<ULONG32>(kept.size());
  stream->assign(reinterpret_cast<const char*>(&header), sizeof(header));
  for (const std::string* record : kept)
    stream->append(*record);
  return true;
}

bool ServerMinidumpWriter::WriteMinidump() {
  // A dump that was not written leaves no empty file behind.
  if (WriteIntoDumpFiles())
    return true;
  DiscardDumpFiles();
  return false;
}

bool ServerMinidumpWriter::WriteIntoDumpFiles() {
  if (!dump_file_.IsValid()) {
    LOG(ERROR) << "No dump file to write to";
    return false;
  }
  if ((dump_type_ & kFullMemoryFlag) && !full_memory_file_.IsValid()) {
    LOG(ERROR) << "A full-memory dump needs its own file";
    return false;
  }
  if (!LoadDbghelp())
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = thread_id_;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(static_cast<uintptr_t>(exception_pointers_));
  exception.ClientPointers = client_pointers_;

  DumpRequestInfo request = {};
  if (!client_pointers_)
    request = {3, ::GetCurrentThreadId(), requesting_thread_id_};
  std::vector<MINIDUMP_USER_STREAM> streams;
  streams.push_back({kDumpRequestStreamType, sizeof(request), &request});
  AssertionInfo assertion = {};
  if (assertion_address_) {
    if (!ReadBytes(assertion_address_, &assertion, sizeof(assertion))) {
      PLOG(ERROR) << "Cannot read the assertion of process " << pid_;
      return false;
    }
    streams.push_back({kServerAssertionStreamType, sizeof(assertion), &assertion});
  }
  std::string handle_trace;
  if (exception_pointers_ && !(dump_type_ & MiniDumpWithHandleData)) {
    uint64_t pointers[2] = {};  // ExceptionRecord, ContextRecord
    uint32_t code = 0;
    if (!ReadBytes(exception_pointers_, pointers, sizeof(pointers)) ||
        !ReadBytes(pointers[0], &code, sizeof(code))) {
      PLOG(ERROR) << "Cannot read the exception of process " << pid_;
      return false;
    }
    if (code == kStatusInvalidHandle && ReadHandleTrace(&handle_trace)) {
      streams.push_back({kHandleOperationListStreamType, static_cast<ULONG>(handle_trace.size()),
                         handle_trace.data()});
    }
  }
  streams.insert(streams.end(), additional_streams_.begin(), additional_streams_.end());
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {static_cast<ULONG>(streams.size()),
                                                   streams.data()};
  auto write_dump =
      reinterpret_cast<decltype(&::MiniDumpWriteDump)>(reinterpret_cast<void (*)()>(write_dump_));
  base::AutoLock lock(g_write_lock.Get());
  // The full memory goes into a file of its own, with the handles; the dump
  // file stays small enough to send.
  if ((dump_type_ & kFullMemoryFlag) &&
      !write_dump(process_, pid_, full_memory_file_.Get(),
                  static_cast<MINIDUMP_TYPE>(dump_type_ | MiniDumpWithHandleData),
                  exception_pointers_ ? &exception : nullptr, &user_streams, nullptr)) {
    PLOG(ERROR) << "MiniDumpWriteDump failed for the full memory of process " << pid_;
    return false;
  }
  if (!write_dump(process_, pid_, dump_file_.Get(),
                  static_cast<MINIDUMP_TYPE>(dump_type_ & ~kFullMemoryFlag),
                  exception_pointers_ ? &exception : nullptr, &user_streams,
                  callback_ ? &*callback_ : nullptr)) {
    PLOG(ERROR) << "MiniDumpWriteDump failed for process " << pid_;
    return false;
  }
  return true;
}

}  // namespace crash_reporter
