// Measures how fast SevenZipExtractor unpacks an archive into a folder
// (decoding, the mapped output buffer and writing the files), timed inside
// the program so that Wine's start-up is not counted. Prints the unpacked
// bytes, the seconds and the rate.
//
//   lzma_util_benchmark.exe <archive.7z> <empty output folder>
//
// tools/bench_7z_unpack.sh runs it beside the native `7zz x -mmt1` on the
// 300 MiB fixture and prints the ratio of the rates.

#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

int Run() {
  const base::CommandLine::StringVector args = base::CommandLine::ForCurrentProcess()->GetArgs();
  if (args.size() != 2) {
    fprintf(stderr, "usage: lzma_util_benchmark <archive.7z> <output folder>\n");
    return 2;
  }
  const base::FilePath archive(args[0]);
  const base::FilePath folder(args[1]);
  if (!base::CreateDirectoryTree(folder))
    return 1;

  const base::MonotonicTime start = base::MonotonicTime::Now();
  installer::SevenZipExtractor extractor(nullptr);
  if (extractor.Open(archive) != 0)
    return 1;
  std::vector<base::FilePath> written;
  const DWORD result = extractor.ExtractSevenZipArchive(folder, &written);
  extractor.Close();
  const base::TimeSpan elapsed = base::MonotonicTime::Now() - start;
  if (result != 0) {
    fprintf(stderr, "extraction failed with %lu (status %u)\n", result,
            static_cast<unsigned>(extractor.status()));
    return 1;
  }

  uint64_t bytes = 0;
  for (const base::FilePath& path : written) {
    int64_t size = 0;
    if (base::GetFileSize(path, &size))
      bytes += static_cast<uint64_t>(size);
  }
  const double seconds = elapsed.InSecondsF();
  printf("files %zu\n", written.size());
  printf("bytes %llu\n", static_cast<unsigned long long>(bytes));
  printf("seconds %.3f\n", seconds);
  printf("MiB/s %.1f\n", seconds > 0 ? static_cast<double>(bytes) / kMiB / seconds : 0.0);
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  const int result = Run();
  fflush(stdout);
  return result;
}
