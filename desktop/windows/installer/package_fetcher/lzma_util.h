// Unpacks a 7z archive into a folder with the LZMA SDK's decoder. Solid
// blocks are independent of each other: each is decoded on a thread of its
// own (one per processor, at most eight at once) into a file-backed view
// (MappedOutputAllocator), and a failing page of that view ends the
// extraction with ERROR_IO_DEVICE instead of the process. Every entry's CRC
// is checked by the decoder. The archive's catalogue is read within a
// memory budget (ArchiveOpenBudget), so that a header claiming gigabytes is
// refused before it is decoded. Before anything is written the catalogue is
// checked: at least one entry and no more than a package holds, every name
// must stay inside the folder, fit Windows there (no part ending in a dot or
// a space) and name a file of its own (names equal ignoring case are one
// file; no file where another entry needs a folder), and no block may claim
// more than its coders can produce from its packed bytes. Every file is
// made new, never over another: an entry reaching a file made already
// under another name (a short-name alias) fails, naming both entries.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_

#include <windows.h>

#include <cstdint>
#include <set>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

class PackageFetcherDelegate;

class SevenZipExtractor {
 public:
  enum Status : uint32_t {
    kOk = 0,
    kArchiveNotFound = 1,
    kArchiveNotOpened = 2,
    kNotSevenZip = 3,
    kDecodingFailed = 4,
    kInPageError = 5,
    kBadEntryName = 6,
    kCreateFailed = 7,
    kWriteFailed = 8,
    kSetTimeFailed = 9,
    kCloseFailed = 10,
  };

  // |progress| (may be null) gets SetTotalProgress with the number of
  // entries and SetCurrentProgress with the index of each entry.
  explicit SevenZipExtractor(PackageFetcherDelegate* progress);
  SevenZipExtractor(const SevenZipExtractor&) = delete;
  SevenZipExtractor& operator=(const SevenZipExtractor&) = delete;
  ~SevenZipExtractor();

  // Opens |archive| for reading; 0 or the system error code (status
  // kArchiveNotFound when it does not exist, kArchiveNotOpened otherwise).
  DWORD Open(const base::FilePath& archive);
  // Extracts every entry below |folder| (which should exist: the decoders'
  // output buffers are backed by files there). The paths of all entries are
  // added to |written| when given, once the archive passed its checks and
  // before anything is written. 0 on success, else a non-zero code: a
  // system error, ERROR_IO_DEVICE after an in-page error, or
  // ERROR_INVALID_HANDLE for an unusable archive. |progress| hears of the
  // entries written in their archive order, on the calling thread.
  DWORD ExtractSevenZipArchive(const base::FilePath& folder, std::vector<base::FilePath>* written);
  void Close();

  Status status() const { return status_; }

  // Tests: runs after each entry is decoded, inside the in-page error guard,
  // with the output buffer; a test raises there the in-page error that a
  // failing disk would raise, which no test can cause for real.
  using DecodeHook = void (*)(const void* output_buffer);
  static void SetDecodeHookForTesting(DecodeHook hook);
  // The NT status of the failed page operation after kInPageError.
  DWORD in_page_nt_status() const { return in_page_nt_status_; }

 private:
  class Extraction;

  bool EnsureFolder(const base::FilePath& folder);

  base::win::ScopedHandle archive_;
  std::set<base::FilePath> created_folders_;
  Status status_ = kOk;
  DWORD in_page_nt_status_ = 0;
  PackageFetcherDelegate* progress_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_LZMA_UTIL_H_
