#include "desktop/windows/crash_reporter/crash_log/crash_log_zip.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>

// zip.h brings zlib's declaration macros that iowin32.h needs.
#include <minizip/zip.h>
#include <minizip/iowin32.h>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/scoped_stdio_file.h"

namespace crash_reporter {
namespace {

constexpr size_t kChunkSize = 1048576;

// Closes the archive on every path; a successful close is reported once
// through Close().
class ZipArchive {
 public:
  explicit ZipArchive(const base::FilePath& path) {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    // The wide file functions take the path's UTF-16 text through the char*.
    zip_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  }
  ~ZipArchive() {
    if (zip_)
      zipClose(zip_, nullptr);
  }
  zipFile get() const { return zip_; }
  bool Close() {
    zipFile zip = zip_;
    zip_ = nullptr;
    return zip && zipClose(zip, nullptr) == ZIP_OK;
  }

 private:
  zipFile zip_ = nullptr;
};

bool CopyIntoZip(const base::FilePath& text_path, const base::FilePath& zip_path) {
  ZipArchive archive(zip_path);
  if (!archive.get()) {
    LOG(ERROR) << "Could not create the zip archive " << zip_path.value();
    return false;
  }
  zip_fileinfo info = {};
  if (zipOpenNewFileInZip(archive.get(), kCrashLogZipEntryName, &info, nullptr, 0, nullptr, 0,
                          nullptr, Z_DEFLATED, Z_BEST_COMPRESSION) != ZIP_OK) {
    LOG(ERROR) << "Could not add " << kCrashLogZipEntryName << " to " << zip_path.value();
    return false;
  }
  ScopedStdioFile text(_wfopen(text_path.c_str(), L"rb"));
  if (!text.IsValid()) {
    LOG(ERROR) << "Could not open the crash log " << text_path.value();
    return false;
  }
  if (_fseeki64(text.Get(), 0, SEEK_END) != 0) {
    LOG(ERROR) << "Could not size the crash log " << text_path.value();
    return false;
  }
  const int64_t size = _ftelli64(text.Get());
  if (size <= 0 || _fseeki64(text.Get(), 0, SEEK_SET) != 0) {
    LOG(ERROR) << "The crash log " << text_path.value() << " is empty or unreadable";
    return false;
  }
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkSize]);
  if (!chunk) {
    LOG(ERROR) << "Could not allocate the zip copy buffer";
    return false;
  }
  for (int64_t left = size; left > 0;) {
    size_t want = left < static_cast<int64_t>(kChunkSize) ? static_cast<size_t>(left) : kChunkSize;
    if (fread(chunk.get(), 1, want, text.Get()) != want ||
        zipWriteInFileInZip(archive.get(), chunk.get(), static_cast<unsigned>(want)) != ZIP_OK) {
      LOG(ERROR) << "Could not copy the crash log into " << zip_path.value();
      return false;
    }
    left -= static_cast<int64_t>(want);
  }
  if (zipCloseFileInZip(archive.get()) != ZIP_OK || !archive.Close()) {
    LOG(ERROR) << "Could not close the zip archive " << zip_path.value();
    return false;
  }
  return true;
}

}  // namespace

bool ZipCrashLog(const base::FilePath& text_path, const base::FilePath& zip_path) {
  if (CopyIntoZip(text_path, zip_path))
    return true;
  ::DeleteFileW(zip_path.c_str());
  return false;
}

}  // namespace crash_reporter
