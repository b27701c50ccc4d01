#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <lzma/7z.h>
#include <lzma/7zAlloc.h>
#include <lzma/7zCrc.h>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/threading/lock.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/package_fetcher/archive_block_limits.h"
#include "desktop/windows/installer/package_fetcher/archive_entry_names.h"
#include "desktop/windows/installer/package_fetcher/archive_header_coders.h"
#include "desktop/windows/installer/package_fetcher/archive_open_budget.h"
#include "desktop/windows/installer/package_fetcher/extracted_files.h"
#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"
#include "desktop/windows/installer/package_fetcher/mapped_output_allocator.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"

namespace installer {
namespace {

// Every 7z archive begins with a start header of this size: the signature,
// the version and where the catalogue lies.
constexpr int64_t kStartHeaderSize = 32;
// The result for an archive that cannot be used at all.
constexpr DWORD kUnusableArchive = ERROR_INVALID_HANDLE;
// Reads through the look-ahead buffer are this large; bigger buffers gain
// nothing measurable against the decoder's own speed.
constexpr size_t kLookAheadSize = 1 << 20;
// One WriteFile call moves at most this much.
constexpr DWORD kMaxWriteChunk = 1u << 30;
// Blocks of an archive are independent: up to this many are decoded at once,
// one per processor.
constexpr int kMaxDecodeThreads = 8;
// How often the calling thread reports the progress of the decoding threads.
constexpr DWORD kProgressIntervalMs = 20;

const ISzAlloc kTempAlloc = {&SzAllocTemp, &SzFreeTemp};

// What a decoder result means, for the log.
const char* DecoderErrorMeaning(SRes result) {
  switch (result) {
    case SZ_ERROR_DATA: return "data error";
    case SZ_ERROR_MEM: return "not enough memory";
    case SZ_ERROR_CRC: return "CRC mismatch";
    case SZ_ERROR_UNSUPPORTED: return "unsupported archive feature";
    case SZ_ERROR_INPUT_EOF: return "the archive ends early (truncated download?)";
    case SZ_ERROR_READ: return "the archive cannot be read";
    case SZ_ERROR_ARCHIVE: return "damaged archive headers";
    case SZ_ERROR_NO_ARCHIVE: return "not a 7z archive";
    default: return "decoder failure";
  }
}

// A system error for a failure that did not leave one.
DWORD ErrorOr(DWORD error, DWORD fallback) { return error != ERROR_SUCCESS ? error : fallback; }

// A reader of the archive with a position of its own: every read names its
// offset, so that the threads decoding different blocks can share the one
// handle.
struct FileInStream {
  ISeekInStream vt;
  HANDLE file;
  int64_t position;
};

SRes ReadArchive(ISeekInStreamPtr p, void* buffer, size_t* size) {
  auto* stream = reinterpret_cast<FileInStream*>(const_cast<ISeekInStream*>(p));
  const size_t wanted = *size;
  size_t done = 0;
  while (done < wanted) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wanted - done, kMaxWriteChunk));
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(stream->position));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(stream->position) >> 32);
    DWORD read = 0;
    if (!::ReadFile(stream->file, static_cast<char*>(buffer) + done, chunk, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF)
        break;  // At or past the end: what was read so far is the answer.
      *size = done;
      return SZ_ERROR_READ;
    }
    if (read == 0)
      break;
    done += read;
    stream->position += read;
  }
  *size = done;
  return SZ_OK;
}

SRes SeekArchive(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  auto* stream = reinterpret_cast<FileInStream*>(const_cast<ISeekInStream*>(p));
  int64_t base_position;
  switch (origin) {
    case SZ_SEEK_SET: base_position = 0; break;
    case SZ_SEEK_CUR: base_position = stream->position; break;
    case SZ_SEEK_END: {
      LARGE_INTEGER size;
      if (!::GetFileSizeEx(stream->file, &size))
        return SZ_ERROR_READ;
      base_position = size.QuadPart;
      break;
    }
    default: return SZ_ERROR_PARAM;
  }
  // A position from a damaged header must not wrap around.
  if ((*position > 0 && base_position > INT64_MAX - *position) ||
      (*position < 0 && base_position + *position < 0)) {
    return SZ_ERROR_READ;
  }
  const int64_t target = base_position + *position;
  stream->position = target;
  *position = target;
  return SZ_OK;
}

// The arguments and result of one guarded decoder call.
struct DecodeCall {
  const CSzArEx* db;
  ILookInStreamPtr stream;
  UInt32 index;
  UInt32* block_index;
  Byte** buffer;
  size_t* buffer_size;
  size_t* offset;
  size_t* size;
  ISzAllocPtr alloc_main;
  SRes result;
};

std::atomic<SevenZipExtractor::DecodeHook> g_decode_hook{nullptr};

void RunDecode(void* context) {
  auto* call = static_cast<DecodeCall*>(context);
  call->result =
      SzArEx_Extract(call->db, call->stream, call->index, call->block_index, call->buffer,
                     call->buffer_size, call->offset, call->size, call->alloc_main, &kTempAlloc);
  if (SevenZipExtractor::DecodeHook hook = g_decode_hook.load())
    hook(*call->buffer);
}

bool IsInOutputBuffer(void* context, const void* address) {
  return static_cast<const MappedOutputAllocator*>(context)->IsInMappedView(address);
}

void EnsureCrcTable() {
  static const bool generated = (CrcGenerateTable(), true);
  (void)generated;
}

std::wstring EntryName(const CSzArEx& db, UInt32 index) {
  const size_t length = SzArEx_GetFileNameUtf16(&db, index, nullptr);
  if (length <= 1)
    return std::wstring();
  std::wstring name(length, L'\0');
  SzArEx_GetFileNameUtf16(&db, index, reinterpret_cast<UInt16*>(name.data()));
  name.resize(length - 1);  // Without the terminating null.
  return name;
}

// The archive as the decoder reads it: through a look-ahead buffer, with a
// position of its own.
class ArchiveLookStream {
 public:
  explicit ArchiveLookStream(HANDLE archive) {
    stream_.vt.Read = &ReadArchive;
    stream_.vt.Seek = &SeekArchive;
    stream_.file = archive;
    stream_.position = 0;
    look_buffer_.reset(new Byte[kLookAheadSize]);
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = look_buffer_.get();
    look_.bufSize = kLookAheadSize;
    look_.realStream = &stream_.vt;
    LookToRead2_INIT(&look_);
  }
  ArchiveLookStream(const ArchiveLookStream&) = delete;
  ArchiveLookStream& operator=(const ArchiveLookStream&) = delete;

  ILookInStreamPtr get() const { return &look_.vt; }

 private:
  FileInStream stream_;
  std::unique_ptr<Byte[]> look_buffer_;
  CLookToRead2 look_;
};

// For a file or folder that cannot be made: a note when its path is longer
// than Windows takes without long-path support, which gives the plain
// "not found" errors.
std::string TooLongNote(const base::FilePath& path) {
  if (path.value().size() < MAX_PATH)
    return std::string();
  return "; the path is " + std::to_string(path.value().size()) +
         " characters long, too long for Windows (at most " + std::to_string(MAX_PATH - 1) + ")";
}

// Says why entry |index| of |db| could not be made at |path| (system error
// |error|) when something was there already.
void LogEntryInTheWay(const CSzArEx& db, UInt32 index, const base::FilePath& path, DWORD error,
                      const ExtractedFiles& files) {
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
    return;
  const std::string entry = EscapeEntryName(EntryName(db, index));
  uint32_t owner = 0;
  if (files.FindOwner(index, &owner)) {
    LOG(ERROR) << "Archive entries " << owner << " (" << EscapeEntryName(EntryName(db, owner))
               << ") and " << index << " (" << entry << ") both name the file " << path
               << "; the archive is refused";
  } else if (base::DirectoryExists(path)) {
    LOG(ERROR) << "Archive entry " << index << " (" << entry << ") is a file, but " << path
               << " is a folder; the archive is refused";
  } else if (base::PathExists(path)) {
    LOG(ERROR) << "Archive entry " << index << " (" << entry << ") names " << path
               << ", which is in the unpacking folder already; the archive is refused";
  }
}

// Writes entry |index| of |db|, |size| bytes at |data|, to |path| as a new
// file, with its time. 0 or the system error, with |*status| saying which
// call failed.
DWORD WriteEntry(const CSzArEx& db, UInt32 index, const base::FilePath& path, const Byte* data,
                 size_t size, const ExtractedFiles& files, SevenZipExtractor::Status* status) {
  DWORD create_error = ERROR_SUCCESS;
  base::win::ScopedHandle file = files.Create(index, &create_error);
  if (!file.IsValid()) {
    LogEntryInTheWay(db, index, path, create_error, files);
    LOG(ERROR) << "Error returned by CreateFile: " << create_error << " for " << path
               << TooLongNote(path);
    *status = SevenZipExtractor::kCreateFailed;
    return create_error;
  }
  size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, kMaxWriteChunk));
    DWORD wrote = 0;
    // The source is the mapped output buffer: a page that cannot be read
    // back makes WriteFile fail rather than fault.
    const BOOL ok = ::WriteFile(file.Get(), data + done, chunk, &wrote, nullptr);
    if (!ok || wrote != chunk) {
      const DWORD error = ErrorOr(ok ? ERROR_SUCCESS : ::GetLastError(), ERROR_WRITE_FAULT);
      LOG(ERROR) << "Error returned by WriteFile: " << error << " for " << path;
      *status = SevenZipExtractor::kWriteFailed;
      return error;
    }
    done += wrote;
  }
  if (SzBitWithVals_Check(&db.MTime, index)) {
    FILETIME time;
    time.dwLowDateTime = db.MTime.Vals[index].Low;
    time.dwHighDateTime = db.MTime.Vals[index].High;
    if (!::SetFileTime(file.Get(), nullptr, nullptr, &time)) {
      const DWORD error = ErrorOr(::GetLastError(), ERROR_WRITE_FAULT);
      LOG(ERROR) << "Error returned by SetFileTime: " << error << " for " << path;
      *status = SevenZipExtractor::kSetTimeFailed;
      return error;
    }
  }
  // Closed here, not by the holder, because a failed close can mean lost
  // data on a network volume.
  if (!base::win::CloseHandleThroughVerifier(file.Release())) {
    const DWORD error = ErrorOr(::GetLastError(), ERROR_WRITE_FAULT);
    LOG(ERROR) << "Error returned by CloseHandle: " << error << " for " << path;
    *status = SevenZipExtractor::kCloseFailed;
    return error;
  }
  return ERROR_SUCCESS;
}

// Decodes blocks on one thread: its own reads of the archive and its own
// output buffer, in a file of the destination folder.
class BlockDecoder {
 public:
  BlockDecoder(HANDLE archive, const CSzArEx* db, const base::FilePath& folder)
      : db_(db), stream_(archive), allocator_(folder) {}
  BlockDecoder(const BlockDecoder&) = delete;
  BlockDecoder& operator=(const BlockDecoder&) = delete;
  // The output buffer goes back before the allocator deletes its file.
  ~BlockDecoder() { ISzAlloc_Free(allocator_.sz_alloc(), output_); }

  // Decodes entry |index| under the in-page error guard. False after an
  // in-page error in the output buffer, with its NT status.
  bool Decode(UInt32 index, SRes* result, const Byte** data, size_t* size, DWORD* nt_status) {
    size_t offset = 0;
    DecodeCall call = {db_,           stream_.get(), index, &block_index_,         &output_,
                       &output_size_, &offset,       size,  allocator_.sz_alloc(), SZ_OK};
    if (!RunWithInPageErrorGuard(&RunDecode, &call, &IsInOutputBuffer, &allocator_, nt_status)) {
      // What the decoder allocated for itself during the call is lost; the
      // output buffer is still known and is freed with the decoder.
      return false;
    }
    *result = call.result;
    *data = output_ + offset;
    return true;
  }

 private:
  const CSzArEx* db_;
  ArchiveLookStream stream_;
  MappedOutputAllocator allocator_;
  UInt32 block_index_ = 0xFFFFFFFF;
  Byte* output_ = nullptr;
  size_t output_size_ = 0;
};

// What the decoding threads share: the blocks and their entries, the next
// block to take, how many entries are written, and the first failure.
struct DecodeRun {
  const CSzArEx* db;
  HANDLE archive;
  base::FilePath folder;
  const std::vector<base::FilePath>* paths;
  const ExtractedFiles* files;
  // The entries of each block, in archive order.
  std::vector<std::vector<UInt32>> block_entries;

  std::atomic<size_t> next_block{0};
  std::atomic<uint32_t> entries_done{0};
  std::atomic<bool> failed{false};
  // Decoding threads still running; the last one signals |finished|.
  std::atomic<size_t> running{0};
  base::WaitableEvent finished{base::WaitableEvent::ResetPolicy::kManual,
                               base::WaitableEvent::InitialState::kNotSignaled};

  base::Lock lock;
  // Under |lock|: the first failure.
  DWORD error = ERROR_SUCCESS;
  SevenZipExtractor::Status status = SevenZipExtractor::kOk;
  DWORD in_page_nt_status = 0;

  // Records the first failure; the other threads stop at their next entry.
  void Fail(DWORD failure, SevenZipExtractor::Status failure_status, DWORD nt_status) {
    base::AutoLock hold(lock);
    if (failed.load())
      return;
    error = failure;
    status = failure_status;
    in_page_nt_status = nt_status;
    failed.store(true);
  }
};

// Takes blocks of |run| until none is left or one failed.
void DecodeBlocks(DecodeRun* run) {
  BlockDecoder decoder(run->archive, run->db, run->folder);
  for (;;) {
    const size_t block = run->next_block.fetch_add(1);
    if (block >= run->block_entries.size())
      return;
    for (UInt32 index : run->block_entries[block]) {
      if (run->failed.load())
        return;
      SRes result = SZ_OK;
      const Byte* data = nullptr;
      size_t size = 0;
      DWORD nt_status = 0;
      if (!decoder.Decode(index, &result, &data, &size, &nt_status)) {
        LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; NTSTATUS = 0x"
                   << std::hex << nt_status;
        run->Fail(ERROR_IO_DEVICE, SevenZipExtractor::kInPageError, nt_status);
        return;
      }
      if (result != SZ_OK) {
        const std::string entry = EscapeEntryName(EntryName(*run->db, index));
        if (result == SZ_ERROR_UNSUPPORTED) {
          LOG(ERROR) << "Archive block " << block << " (entry " << entry
                     << ") is packed with coders this installer cannot decode: "
                     << DescribeBlockCoders(run->db->db, static_cast<uint32_t>(block))
                     << "; the archive is refused";
        }
        if (result == SZ_ERROR_CRC) {
          LOG(ERROR) << "Error returned by SzExtract: " << result << " - CRC mismatch in entry "
                     << entry << " (block " << block << ")";
        } else {
          LOG(ERROR) << "Error returned by SzExtract: " << result << " - "
                     << DecoderErrorMeaning(result) << " in block " << block << " (entry " << entry
                     << ")";
        }
        run->Fail(kUnusableArchive, SevenZipExtractor::kDecodingFailed, 0);
        return;
      }
      SevenZipExtractor::Status status = SevenZipExtractor::kOk;
      const DWORD error =
          WriteEntry(*run->db, index, (*run->paths)[index], data, size, *run->files, &status);
      if (error != ERROR_SUCCESS) {
        run->Fail(error, status, 0);
        return;
      }
      run->entries_done.fetch_add(1);
    }
  }
}

// The function of one decoding thread.
void RunDecodingThread(DecodeRun* run) {
  DecodeBlocks(run);
  if (run->running.fetch_sub(1) == 1)
    run->finished.Signal();
}

// How many blocks are decoded at once: one per processor, at most
// kMaxDecodeThreads, at most one per block.
size_t DecodeThreadCount(size_t blocks) {
  const int processors = base::win::WindowsVersionInfo::GetInstance()->processors();
  const size_t threads = static_cast<size_t>(std::clamp(processors, 1, kMaxDecodeThreads));
  return std::max<size_t>(1, std::min(threads, blocks));
}

}  // namespace

// The archive's catalogue, read once within the open's memory budget; the
// decoding threads share it read-only.
class SevenZipExtractor::Extraction {
 public:
  explicit Extraction(HANDLE archive) : stream_(archive), budget_(kMaxArchiveOpenMemory) {
    SzArEx_Init(&db_);
  }
  ~Extraction() { SzArEx_Free(&db_, budget_.sz_alloc()); }

  // Reads the catalogue from the archive's start.
  SRes Open() { return SzArEx_Open(&db_, stream_.get(), budget_.sz_alloc(), budget_.sz_alloc()); }

  const CSzArEx& db() const { return db_; }
  const ArchiveOpenBudget& budget() const { return budget_; }

 private:
  ArchiveLookStream stream_;
  ArchiveOpenBudget budget_;
  CSzArEx db_;
};

SevenZipExtractor::SevenZipExtractor(PackageFetcherDelegate* progress) : progress_(progress) {}

// static
void SevenZipExtractor::SetDecodeHookForTesting(DecodeHook hook) { g_decode_hook.store(hook); }

SevenZipExtractor::~SevenZipExtractor() = default;

DWORD SevenZipExtractor::Open(const base::FilePath& archive) {
  Close();
  archive_.Reset(::CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (archive_.IsValid())
    return ERROR_SUCCESS;
  const DWORD error = ErrorOr(::GetLastError(), ERROR_OPEN_FAILED);
  status_ = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? kArchiveNotFound
                                                                             : kArchiveNotOpened;
  ELOG(ERROR, error) << "Cannot open the archive " << archive;
  return error;
}

void SevenZipExtractor::Close() { archive_.Reset(); }

bool SevenZipExtractor::EnsureFolder(const base::FilePath& folder) {
  if (created_folders_.count(folder))
    return true;
  if (!base::CreateDirectoryTree(folder))
    return false;
  created_folders_.insert(folder);
  return true;
}

DWORD SevenZipExtractor::ExtractSevenZipArchive(const base::FilePath& folder,
                                                std::vector<base::FilePath>* written) {
  if (!archive_.IsValid()) {
    LOG(ERROR) << "No archive is open for extraction";
    return kUnusableArchive;
  }
  EnsureCrcTable();
  Extraction extraction(archive_.Get());
  const SRes open_result = extraction.Open();
  if (open_result != SZ_OK) {
    const ArchiveOpenBudget& budget = extraction.budget();
    if (budget.refused_size() != 0) {
      // Most likely the header's own unpacked size: it is allocated whole
      // before it is decoded.
      LOG(ERROR) << "Archive header would take " << budget.refused_size()
                 << " bytes of memory at once to open (with " << budget.held_when_refused()
                 << " bytes held already), more than the " << budget.budget()
                 << " bytes the header of any package may take: it claims far more than a "
                    "package holds; the archive is refused";
    } else {
      LARGE_INTEGER size = {};
      if (::GetFileSizeEx(archive_.Get(), &size) && size.QuadPart < kStartHeaderSize) {
        // The decoder takes this for no archive at all, even when the
        // signature is there.
        LOG(ERROR) << "Archive is " << size.QuadPart << " bytes long, shorter than the "
                   << kStartHeaderSize << "-byte start header every 7z archive begins with; "
                   << "the archive is refused";
      }
      std::vector<uint64_t> methods;
      if (open_result == SZ_ERROR_UNSUPPORTED &&
          ReadArchiveHeaderMethods(archive_.Get(), &methods) &&
          !std::all_of(methods.begin(), methods.end(), &IsDecodableMethod)) {
        LOG(ERROR) << "Archive header is packed with coders this installer cannot decode: "
                   << DescribeCoderMethods(methods) << "; the archive is refused";
      }
      LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result << " - "
                 << DecoderErrorMeaning(open_result);
    }
    status_ = kNotSevenZip;
    return kUnusableArchive;
  }
  const CSzArEx& db = extraction.db();
  if (db.NumFiles == 0) {
    LOG(ERROR) << "Archive has no entries: it holds no package; the archive is refused";
    status_ = kNotSevenZip;
    return kUnusableArchive;
  }
  // Refused before any name is looked at: each entry costs a file or a
  // folder, and a browser package has a few thousand at most.
  if (db.NumFiles > kMaxArchiveEntries) {
    LOG(ERROR) << "Archive has " << db.NumFiles << " entries, more than the " << kMaxArchiveEntries
               << " any package may hold; the archive is refused";
    status_ = kNotSevenZip;
    return kUnusableArchive;
  }

  // Every name is checked before anything is written: an archive that tries
  // to reach outside the folder leaves no trace in it.
  std::vector<std::wstring> names;
  names.reserve(db.NumFiles);
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    if (SzArEx_GetFileNameUtf16(&db, i, nullptr) == 0) {
      LOG(ERROR) << "Couldn't get file name";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
    std::wstring name = EntryName(db, i);
    const size_t longest = LongestNameComponent(name);
    if (longest > kMaxNameComponentLength) {
      LOG(ERROR) << "Archive entry " << i << " (" << EscapeEntryName(name)
                 << ") has a name that is too long: a part of it has " << longest
                 << " characters, Windows takes at most " << kMaxNameComponentLength
                 << "; the archive is refused";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
    const NameCheck check = CheckRelativePath(name, true);
    if (check.fault != NameFault::kNone) {
      LOG(ERROR) << "Archive entry " << i << " (" << EscapeEntryName(name) << ") "
                 << DescribeNameFault(check, folder.AsUTF8Unsafe()) << "; the archive is refused";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
    std::wstring_view component;
    if (FindComponentEndingInDotOrSpace(name, &component)) {
      LOG(ERROR) << "Archive entry " << i << " (" << EscapeEntryName(name)
                 << ") has a name that Windows cannot hold: its part \""
                 << EscapeEntryName(component) << "\" ends in "
                 << (component.back() == L' ' ? "a space" : "a dot")
                 << ", which Windows drops; the archive is refused";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
    names.push_back(std::move(name));
  }
  // Two entries for one file would be written in an order that depends on
  // the blocks and the threads, by two threads at once at worst.
  size_t first_same = 0;
  size_t second_same = 0;
  if (FindSameFileNames(names, &first_same, &second_same)) {
    LOG(ERROR) << "Archive entries " << first_same << " (" << EscapeEntryName(names[first_same])
               << ") and " << second_same << " (" << EscapeEntryName(names[second_same])
               << ") name the same file; the archive is refused";
    status_ = kBadEntryName;
    return kUnusableArchive;
  }
  std::vector<bool> is_folder(db.NumFiles);
  for (UInt32 i = 0; i < db.NumFiles; ++i)
    is_folder[i] = SzArEx_IsDir(&db, i);
  size_t file_entry = 0;
  size_t below_entry = 0;
  if (FindFileInPlaceOfFolder(names, is_folder, &file_entry, &below_entry)) {
    LOG(ERROR) << "Archive entry " << file_entry << " (" << EscapeEntryName(names[file_entry])
               << ") is a file, but entry " << below_entry << " ("
               << EscapeEntryName(names[below_entry])
               << ") needs a folder of that name; the archive is refused";
    status_ = kBadEntryName;
    return kUnusableArchive;
  }
  std::vector<base::FilePath> paths;
  paths.reserve(db.NumFiles);
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    paths.push_back(folder.Append(names[i]));
    // What Windows must take: the file's path and the folder made for it.
    const bool is_dir = SzArEx_IsDir(&db, i);
    const size_t folder_length =
        is_dir ? paths[i].value().size() : paths[i].DirName().value().size();
    const size_t file_length = is_dir ? 0 : paths[i].value().size();
    if (folder_length > kMaxFolderPathLength || file_length > kMaxFilePathLength) {
      LOG(ERROR) << "Archive entry " << i << " (" << EscapeEntryName(names[i])
                 << ") would be unpacked to a path of " << paths[i].value().size()
                 << " characters, longer than Windows takes (at most " << kMaxFilePathLength
                 << " for a file, " << kMaxFolderPathLength << " for a folder) below " << folder
                 << "; the archive is refused";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
  }

  // The entries of each block; entries without data (folders, empty files)
  // belong to none.
  const UInt32 block_count = db.db.NumFolders;
  std::vector<std::vector<UInt32>> block_entries(block_count);
  std::vector<UInt32> dataless;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const UInt32 block = db.FileToFolder[i];
    if (block == static_cast<UInt32>(-1)) {
      dataless.push_back(i);
    } else if (block < block_count) {
      block_entries[block].push_back(i);
    } else {
      LOG(ERROR) << "Archive entry " << i << " names block " << block << " of " << block_count;
      status_ = kDecodingFailed;
      return kUnusableArchive;
    }
  }

  // Each block being decoded lies whole in its thread's output buffer, so
  // the largest blocks decoded at once and every file written from the
  // blocks must fit on the volume. Checked before decoding, so that an
  // archive that merely claims a huge size is refused at once.
  const size_t thread_count = DecodeThreadCount(block_count);
  std::vector<uint64_t> block_sizes;
  for (UInt32 f = 0; f < block_count; ++f) {
    std::string why;
    if (!BlockClaimIsPlausible(db.db, f, &why)) {
      const std::vector<UInt32>& entries = block_entries[f];
      LOG(ERROR) << "Archive block " << f << " (entry "
                 << (entries.empty() ? std::string("none") : EscapeEntryName(names[entries[0]]))
                 << ") " << why << "; the archive is refused";
      status_ = kDecodingFailed;
      return kUnusableArchive;
    }
    block_sizes.push_back(SzAr_GetFolderUnpackSize(&db.db, f));
  }
  std::sort(block_sizes.begin(), block_sizes.end(), std::greater<uint64_t>());
  uint64_t buffers = 0;
  for (size_t t = 0; t < thread_count && t < block_sizes.size(); ++t) {
    // Saturated: sizes from a hostile header must not wrap into a small sum.
    buffers = block_sizes[t] > UINT64_MAX - buffers ? UINT64_MAX : buffers + block_sizes[t];
  }
  const uint64_t total_files = db.NumFiles ? db.UnpackPositions[db.NumFiles] : 0;
  ULARGE_INTEGER free_bytes;
  if (::GetDiskFreeSpaceExW(folder.c_str(), &free_bytes, nullptr, nullptr) &&
      (buffers > free_bytes.QuadPart || total_files > free_bytes.QuadPart - buffers)) {
    LOG(ERROR) << "Archive needs " << buffers << " bytes for the blocks decoded at once and "
               << total_files << " bytes of files; " << folder << " has " << free_bytes.QuadPart
               << " bytes free";
    status_ = kDecodingFailed;
    return ERROR_DISK_FULL;
  }

  if (written)
    written->insert(written->end(), paths.begin(), paths.end());
  status_ = kOk;
  if (progress_)
    progress_->SetTotalProgress(db.NumFiles);

  // Every folder is made before the threads start, so that they only ever
  // write files.
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const base::FilePath& path = paths[i];
    const base::FilePath target = SzArEx_IsDir(&db, i) ? path : path.DirName();
    if (!EnsureFolder(target)) {
      const DWORD error = ErrorOr(::GetLastError(), ERROR_CANNOT_MAKE);
      LOG(ERROR) << "Could not create the folder " << target << TooLongNote(target);
      status_ = kCreateFailed;
      return error;
    }
  }

  const ExtractedFiles files(folder, paths);
  DecodeRun run;
  run.db = &db;
  run.archive = archive_.Get();
  run.folder = folder;
  run.paths = &paths;
  run.files = &files;
  run.block_entries = std::move(block_entries);

  // Empty files need no decoder.
  for (UInt32 i : dataless) {
    if (!SzArEx_IsDir(&db, i)) {
      Status status = kOk;
      const DWORD error = WriteEntry(db, i, paths[i], nullptr, 0, files, &status);
      if (error != ERROR_SUCCESS) {
        status_ = status;
        return error;
      }
    }
    run.entries_done.fetch_add(1);
  }

  uint32_t reported = 0;
  auto report_progress = [&] {
    const uint32_t done = run.entries_done.load();
    for (; progress_ && reported < done; ++reported)
      progress_->SetCurrentProgress(reported);
  };
  if (!run.block_entries.empty()) {
    std::vector<std::unique_ptr<base::PlainThread>> threads;
    // Counted up front: a thread that ends before the next one starts must
    // not find itself the last.
    run.running.store(thread_count + 1);
    for (size_t t = 0; t < thread_count; ++t) {
      auto thread = std::make_unique<base::PlainThread>("Package unpacking",
                                                        base::Bind(&RunDecodingThread, &run));
      if (!thread->Start()) {
        run.running.fetch_sub(1);
        continue;  // Logged there; the threads started take every block.
      }
      threads.push_back(std::move(thread));
    }
    if (threads.empty()) {
      DecodeBlocks(&run);
    } else {
      if (run.running.fetch_sub(1) == 1)
        run.finished.Signal();
      // The calling thread reports the progress while the others decode.
      while (!run.finished.TimedWait(base::TimeSpan::FromMilliseconds(kProgressIntervalMs)))
        report_progress();
      for (const auto& thread : threads)
        thread->Join();
    }
  }
  report_progress();
  if (run.failed.load()) {
    status_ = run.status;
    in_page_nt_status_ = run.in_page_nt_status;
    return run.error;
  }
  return ERROR_SUCCESS;
}

}  // namespace installer
