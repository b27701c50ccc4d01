#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include <lzma/7z.h>
#include <lzma/7zAlloc.h>
#include <lzma/7zCrc.h>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"
#include "desktop/windows/installer/package_fetcher/mapped_output_allocator.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"

namespace installer {
namespace {

// The result for an archive that cannot be used at all.
constexpr DWORD kUnusableArchive = ERROR_INVALID_HANDLE;
// Reads through the look-ahead buffer are this large; bigger buffers gain
// nothing measurable against the decoder's own speed.
constexpr size_t kLookAheadSize = 1 << 20;
// LZMA reaches a few thousand to one on the most repetitive input. A block
// that claims far more than that from its packed bytes has a damaged or
// hostile header, and is refused before its output buffer is allocated.
constexpr uint64_t kMaxCompressionRatio = 1 << 16;
constexpr uint64_t kCompressionSlack = 1 << 20;
// One WriteFile call moves at most this much.
constexpr DWORD kMaxWriteChunk = 1u << 30;

const ISzAlloc kHeapAlloc = {&SzAlloc, &SzFree};
const ISzAlloc kTempAlloc = {&SzAllocTemp, &SzFreeTemp};

// A system error for a failure that did not leave one.
DWORD ErrorOr(DWORD error, DWORD fallback) { return error != ERROR_SUCCESS ? error : fallback; }

struct FileInStream {
  ISeekInStream vt;
  HANDLE file;
};

SRes ReadArchive(ISeekInStreamPtr p, void* buffer, size_t* size) {
  HANDLE file = reinterpret_cast<const FileInStream*>(p)->file;
  const size_t wanted = *size;
  size_t done = 0;
  while (done < wanted) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wanted - done, kMaxWriteChunk));
    DWORD read = 0;
    if (!::ReadFile(file, static_cast<char*>(buffer) + done, chunk, &read, nullptr)) {
      *size = done;
      return SZ_ERROR_READ;
    }
    if (read == 0)
      break;  // The end of the file: what was read so far is the answer.
    done += read;
  }
  *size = done;
  return SZ_OK;
}

SRes SeekArchive(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  HANDLE file = reinterpret_cast<const FileInStream*>(p)->file;
  DWORD method;
  switch (origin) {
    case SZ_SEEK_SET: method = FILE_BEGIN; break;
    case SZ_SEEK_CUR: method = FILE_CURRENT; break;
    case SZ_SEEK_END: method = FILE_END; break;
    default: return SZ_ERROR_PARAM;
  }
  LARGE_INTEGER distance;
  distance.QuadPart = *position;
  LARGE_INTEGER result;
  if (!::SetFilePointerEx(file, distance, &result, method))
    return SZ_ERROR_READ;
  *position = result.QuadPart;
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

}  // namespace

// What one extraction holds, released in order whichever way it ends.
class SevenZipExtractor::Extraction {
 public:
  explicit Extraction(HANDLE archive) {
    stream_.vt.Read = &ReadArchive;
    stream_.vt.Seek = &SeekArchive;
    stream_.file = archive;
    look_buffer_.reset(new Byte[kLookAheadSize]);
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = look_buffer_.get();
    look_.bufSize = kLookAheadSize;
    look_.realStream = &stream_.vt;
    LookToRead2_INIT(&look_);
    SzArEx_Init(&db_);
  }
  ~Extraction() {
    if (allocator_) {
      // The output buffer goes back before the allocator deletes its file.
      ISzAlloc_Free(allocator_->sz_alloc(), output_);
      allocator_.reset();
    }
    SzArEx_Free(&db_, &kHeapAlloc);
  }

  SRes Open() {
    // The archive is read from its start: Open() may have been followed by
    // an earlier extraction.
    Int64 start = 0;
    if (SeekArchive(&stream_.vt, &start, SZ_SEEK_SET) != SZ_OK)
      return SZ_ERROR_READ;
    return SzArEx_Open(&db_, &look_.vt, &kHeapAlloc, &kTempAlloc);
  }

  const CSzArEx& db() const { return db_; }
  MappedOutputAllocator* allocator() { return allocator_.get(); }
  void CreateAllocator(const base::FilePath& folder) {
    allocator_ = std::make_unique<MappedOutputAllocator>(folder);
  }

  // Decodes entry |index| under the in-page error guard. False after an
  // in-page error in the output buffer, with its NT status.
  bool Decode(UInt32 index, SRes* result, const Byte** data, size_t* size, DWORD* nt_status) {
    size_t offset = 0;
    DecodeCall call = {&db_,          &look_.vt, index, &block_index_,          &output_,
                       &output_size_, &offset,   size,  allocator_->sz_alloc(), SZ_OK};
    if (!RunWithInPageErrorGuard(&RunDecode, &call, &IsInOutputBuffer, allocator_.get(),
                                 nt_status)) {
      // What the decoder allocated for itself during the call is lost; the
      // output buffer is still known and is freed with the extraction.
      return false;
    }
    *result = call.result;
    *data = output_ + offset;
    return true;
  }

 private:
  FileInStream stream_;
  std::unique_ptr<Byte[]> look_buffer_;
  CLookToRead2 look_;
  CSzArEx db_;
  std::unique_ptr<MappedOutputAllocator> allocator_;
  UInt32 block_index_ = 0xFFFFFFFF;
  Byte* output_ = nullptr;
  size_t output_size_ = 0;
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
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result;
    status_ = kNotSevenZip;
    return kUnusableArchive;
  }
  const CSzArEx& db = extraction.db();

  // Every name is checked before anything is written: an archive that tries
  // to reach outside the folder leaves no trace in it.
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    if (SzArEx_GetFileNameUtf16(&db, i, nullptr) == 0) {
      LOG(ERROR) << "Couldn't get file name";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
    if (!IsSafeRelativePath(EntryName(db, i), true)) {
      LOG(ERROR) << "Archive entry " << i << " has a name that does not stay inside " << folder
                 << "; the archive is refused";
      status_ = kBadEntryName;
      return kUnusableArchive;
    }
  }

  // A block is decoded whole into the output buffer, so the largest block
  // and every file written from the blocks must fit on the volume. Checked
  // before decoding, so that an archive that merely claims a huge size is
  // refused at once.
  uint64_t largest_block = 0;
  for (UInt32 f = 0; f < db.db.NumFolders; ++f) {
    const uint64_t unpacked = SzAr_GetFolderUnpackSize(&db.db, f);
    // The block's packed streams lie one after the other.
    const uint64_t packed = db.db.PackPositions[db.db.FoStartPackStreamIndex[f + 1]] -
                            db.db.PackPositions[db.db.FoStartPackStreamIndex[f]];
    // Divided rather than multiplied: a hostile packed size must not wrap.
    if (unpacked > kCompressionSlack &&
        (unpacked - kCompressionSlack) / kMaxCompressionRatio > packed) {
      LOG(ERROR) << "Archive block " << f << " claims " << unpacked << " bytes from " << packed
                 << " packed bytes; the archive is refused";
      status_ = kDecodingFailed;
      return kUnusableArchive;
    }
    largest_block = std::max<uint64_t>(largest_block, unpacked);
  }
  const uint64_t total_files = db.NumFiles ? db.UnpackPositions[db.NumFiles] : 0;
  ULARGE_INTEGER free_bytes;
  if (::GetDiskFreeSpaceExW(folder.c_str(), &free_bytes, nullptr, nullptr) &&
      (largest_block > free_bytes.QuadPart || total_files > free_bytes.QuadPart - largest_block)) {
    LOG(ERROR) << "Archive needs " << largest_block << " bytes for its largest block and "
               << total_files << " bytes of files; " << folder << " has " << free_bytes.QuadPart
               << " bytes free";
    status_ = kDecodingFailed;
    return ERROR_DISK_FULL;
  }

  extraction.CreateAllocator(folder);
  status_ = kOk;
  if (progress_)
    progress_->SetTotalProgress(db.NumFiles);

  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    if (progress_)
      progress_->SetCurrentProgress(i);
    const base::FilePath path = folder.Append(EntryName(db, i));
    if (written)
      written->push_back(path);

    if (SzArEx_IsDir(&db, i)) {
      if (!EnsureFolder(path)) {
        const DWORD error = ErrorOr(::GetLastError(), ERROR_CANNOT_MAKE);
        LOG(ERROR) << "Could not create the folder " << path;
        status_ = kCreateFailed;
        return error;
      }
      continue;
    }

    SRes result = SZ_OK;
    const Byte* data = nullptr;
    size_t size = 0;
    DWORD nt_status = 0;
    if (!extraction.Decode(i, &result, &data, &size, &nt_status)) {
      in_page_nt_status_ = nt_status;
      LOG(ERROR) << "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; NTSTATUS = 0x"
                 << std::hex << nt_status;
      status_ = kInPageError;
      return ERROR_IO_DEVICE;
    }
    if (result != SZ_OK) {
      LOG(ERROR) << "Error returned by SzExtract: " << result;
      status_ = kDecodingFailed;
      return kUnusableArchive;
    }

    if (!EnsureFolder(path.DirName())) {
      const DWORD error = ErrorOr(::GetLastError(), ERROR_CANNOT_MAKE);
      LOG(ERROR) << "Could not create the folder " << path.DirName();
      status_ = kCreateFailed;
      return error;
    }
    base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      const DWORD error = ErrorOr(::GetLastError(), ERROR_CANNOT_MAKE);
      LOG(ERROR) << "Error returned by CreateFile: " << error << " for " << path;
      status_ = kCreateFailed;
      return error;
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
        status_ = kWriteFailed;
        return error;
      }
      done += wrote;
    }
    if (SzBitWithVals_Check(&db.MTime, i)) {
      FILETIME time;
      time.dwLowDateTime = db.MTime.Vals[i].Low;
      time.dwHighDateTime = db.MTime.Vals[i].High;
      if (!::SetFileTime(file.Get(), nullptr, nullptr, &time)) {
        const DWORD error = ErrorOr(::GetLastError(), ERROR_WRITE_FAULT);
        LOG(ERROR) << "Error returned by SetFileTime: " << error << " for " << path;
        status_ = kSetTimeFailed;
        return error;
      }
    }
    // Closed here, not by the holder, because a failed close can mean lost
    // data on a network volume.
    if (!base::win::CloseHandleThroughVerifier(file.Release())) {
      const DWORD error = ErrorOr(::GetLastError(), ERROR_WRITE_FAULT);
      LOG(ERROR) << "Error returned by CloseHandle: " << error << " for " << path;
      status_ = kCloseFailed;
      return error;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace installer
