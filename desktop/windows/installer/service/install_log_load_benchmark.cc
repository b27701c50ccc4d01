// Measures loading install logs of growing size, to show that the time per
// entry stays flat: reading a log must take time in proportion to its size.
//
//   install_log_load_benchmark.exe [--sizes=10000,100000,1000000] [--runs=3]
//
// For each size, writes an install log with that many file entries into a
// temporary folder, then loads it (the best of the runs counts) and prints
// the load time and the time per entry. Exits with 0 only when every log
// loads whole and the time per entry at the largest size is at most twice
// the time per entry at the smallest.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/string_printf.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/service/install_log.h"

namespace {

constexpr char kSizesSwitch[] = "sizes";
constexpr char kRunsSwitch[] = "runs";
constexpr char kDefaultSizes[] = "10000,100000,1000000";
constexpr int kDefaultRuns = 3;
constexpr double kAllowedGrowth = 2.0;

double NowMs() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// A log like an installation's, with |entries| files in a few folders.
installer::InstallLog MakeLog(size_t entries) {
  installer::InstallLog log;
  log.app_id = "1700000000";
  log.version = "43.0.2442.991";
  log.path = base::FilePath(L"C:\\Program Files\\Velmo");
  log.subfolder = base::FilePath(L"43.0.2442.991");
  log.files.reserve(entries);
  for (size_t i = 0; i < entries; ++i) {
    log.files.push_back(base::FilePath(base::FormatString16(L"resources\\part%02u\\file%07u.pak",
                                                            static_cast<unsigned>(i % 64),
                                                            static_cast<unsigned>(i))));
  }
  log.root_files = {base::FilePath(L"launcher.exe")};
  return log;
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_NONE;
  logging::InitLogging(settings);
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();

  std::string sizes_text = command_line.GetSwitchValueASCII(kSizesSwitch);
  if (sizes_text.empty())
    sizes_text = kDefaultSizes;
  std::vector<size_t> sizes;
  for (const std::string& piece :
       base::SplitString(sizes_text, ",", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    uint32_t size = 0;
    if (!base::StringToUint(piece, &size) || size == 0) {
      std::fprintf(stderr, "Bad size \"%s\"\n", piece.c_str());
      return 2;
    }
    sizes.push_back(size);
  }
  int runs = kDefaultRuns;
  if (command_line.HasSwitch(kRunsSwitch) &&
      (!base::StringToInt(command_line.GetSwitchValueASCII(kRunsSwitch), &runs) || runs < 1)) {
    std::fprintf(stderr, "Bad number of runs\n");
    return 2;
  }

  base::win::ScopedComInitializer com;
  base::ScopedTempDir temp;
  if (!com.Succeeded() || !temp.CreateUniqueTempDir()) {
    std::fprintf(stderr, "No COM or no temporary folder\n");
    return 2;
  }

  bool ok = true;
  std::vector<double> per_entry;
  for (size_t size : sizes) {
    const base::FilePath file =
        temp.GetPath().Append(L"log" + base::NumberToString16(static_cast<unsigned>(size)));
    const double save_start = NowMs();
    if (!MakeLog(size).Save(file)) {
      std::fprintf(stderr, "Cannot save a log of %zu entries\n", size);
      return 2;
    }
    const double save_ms = NowMs() - save_start;
    double best = 0;
    for (int run = 0; run < runs; ++run) {
      installer::InstallLog log;
      const double start = NowMs();
      const bool loaded = log.Load(file);
      const double elapsed = NowMs() - start;
      if (!loaded || log.files.size() != size) {
        std::fprintf(stderr, "The log of %zu entries did not load whole\n", size);
        ok = false;
        break;
      }
      if (run == 0 || elapsed < best)
        best = elapsed;
    }
    per_entry.push_back(best * 1000.0 / static_cast<double>(size));
    std::printf("%8zu entries: saved in %9.1f ms, loaded in %9.1f ms, %7.3f us per entry\n", size,
                save_ms, best, per_entry.back());
  }
  if (per_entry.size() >= 2) {
    const double growth = per_entry.back() / per_entry.front();
    std::printf("time per entry at %zu entries / at %zu entries: %.2f (at most %.1f)\n",
                sizes.back(), sizes.front(), growth, kAllowedGrowth);
    ok = ok && growth <= kAllowedGrowth;
  }
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
