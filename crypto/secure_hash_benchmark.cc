// Measures SHA-256 throughput over a file: reads it in 1 MiB chunks and
// feeds them to SecureHash. Prints the digest, the overall rate (reading and
// hashing) and the rate of the hashing alone, so that a slow result can be
// put down to the reads or to the hash.
//
//   secure_hash_benchmark.exe <file>

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/time.h"
#include "base/win/scoped_handle.h"
#include "crypto/secure_hash.h"

namespace {

constexpr DWORD kChunkSize = 1024 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;

int Run() {
  const base::CommandLine::StringVector args = base::CommandLine::ForCurrentProcess()->GetArgs();
  if (args.size() != 1) {
    fprintf(stderr, "usage: secure_hash_benchmark <file>\n");
    return 2;
  }
  const std::wstring& path = args[0];
  base::win::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot open " << path;
    return 1;
  }
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkSize]);

  uint64_t total_bytes = 0;
  base::TimeSpan hashing;
  const base::MonotonicTime start = base::MonotonicTime::Now();
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.get(), kChunkSize, &read, nullptr)) {
      PLOG(ERROR) << "Cannot read " << path;
      return 1;
    }
    if (read == 0)
      break;
    const base::MonotonicTime hash_start = base::MonotonicTime::Now();
    hash->Update(buffer.get(), read);
    hashing += base::MonotonicTime::Now() - hash_start;
    total_bytes += read;
  }
  uint8_t digest[crypto::SecureHash::kSha256Length];
  hash->Finish(digest, sizeof(digest));
  const base::TimeSpan elapsed = base::MonotonicTime::Now() - start;

  const double mib = static_cast<double>(total_bytes) / kMiB;
  const double seconds = elapsed.InSecondsF();
  const double hash_seconds = hashing.InSecondsF();
  printf("digest %s\n", base::ToLowerASCII(base::HexEncode(digest, sizeof(digest))).c_str());
  printf("bytes %llu\n", static_cast<unsigned long long>(total_bytes));
  printf("seconds %.3f\n", seconds);
  printf("MiB/s %.1f\n", seconds > 0 ? mib / seconds : 0.0);
  printf("hash-only MiB/s %.1f\n", hash_seconds > 0 ? mib / hash_seconds : 0.0);
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  const int result = Run();
  fflush(stdout);
  return result;
}
