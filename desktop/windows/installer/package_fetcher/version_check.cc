#include "desktop/windows/installer/package_fetcher/version_check.h"

#include <windows.h>

#include <atomic>

#include "base/command_line.h"
#include "base/dotted_version.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_util.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/launch_lock.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/stats_node.h"

namespace installer {
namespace {

// A dotted version a build may set to accept older downloads; none in this
// program.
constexpr char kAllowedVersionOverride[] = "";
// An override may not reach further than this above the installer's own
// first component.
constexpr uint32_t kMaxOverrideDistance = 50;

constexpr DWORD kPollIntervalMs = 10;

std::atomic<int64_t> g_timeout_for_testing_ms{0};

base::TimeSpan VersionQueryTimeout() {
  const int64_t ms = g_timeout_for_testing_ms.load();
  return ms > 0 ? base::TimeSpan::FromMilliseconds(ms) : kVersionQueryTimeout;
}

// The answer of |file| to |question|, without the line break that ends it.
bool Ask(const base::FilePath& file, const char* question, std::string* answer) {
  base::CommandLine command_line(file);
  command_line.AppendSwitch(question);
  std::string output;
  bool ran;
  {
    base::AutoLock hold(GetLaunchLock());
    ran = RunAndCaptureOutputWithin(command_line, VersionQueryTimeout(), &output);
  }
  if (!ran)
    return false;
  *answer = std::string(base::TrimStringView(output, " \r\n", base::TRIM_TRAILING));
  return true;
}

}  // namespace

bool RunAndCaptureOutputWithin(const base::CommandLine& command_line, base::TimeSpan limit,
                               std::string* output, size_t max_output) {
  output->clear();
  base::win::ScopedHandle read_end;
  base::Process process = base::LaunchWithOutputPipe(command_line, &read_end);
  if (!process.IsValid())
    return false;  // Logged by the launch.

  // The pipe is polled rather than read, so that a child that never writes
  // and never ends cannot hold this thread beyond the limit; the limit is
  // checked on every round, so that one that writes without pause cannot
  // either.
  const base::MonotonicTime deadline = base::MonotonicTime::Now() + limit;
  bool pipe_open = true;
  while (pipe_open && base::MonotonicTime::Now() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(read_end.Get(), nullptr, 0, nullptr, &available, nullptr)) {
      if (GetLastError() != ERROR_BROKEN_PIPE) {
        PLOG(ERROR) << "Reading the output of process " << process.Pid() << " failed";
        process.Terminate(1, true);
        return false;
      }
      pipe_open = false;
    } else if (available > 0) {
      if (output->size() + available > max_output) {
        LOG(ERROR) << "Process " << process.Pid() << " (" << command_line.GetCommandLineString()
                   << ") wrote more than " << max_output << " bytes; ending it";
        process.Terminate(1, true);
        return false;
      }
      std::string chunk(available, '\0');
      DWORD read = 0;
      if (!ReadFile(read_end.Get(), chunk.data(), available, &read, nullptr)) {
        pipe_open = GetLastError() != ERROR_BROKEN_PIPE;
        if (pipe_open) {
          PLOG(ERROR) << "Reading the output of process " << process.Pid() << " failed";
          process.Terminate(1, true);
          return false;
        }
      }
      output->append(chunk.data(), read);
    } else {
      Sleep(kPollIntervalMs);
    }
  }
  const base::TimeSpan left = deadline - base::MonotonicTime::Now();
  const DWORD wait_ms = left.InMilliseconds() > 0 ? static_cast<DWORD>(left.InMilliseconds()) : 0;
  if (!process.WaitForExitWithTimeout(wait_ms, nullptr)) {
    LOG(ERROR) << "Process " << process.Pid() << " (" << command_line.GetCommandLineString()
               << ") did not end within " << limit.InMilliseconds() << " ms; ending it";
    process.Terminate(1, true);
    return false;
  }
  return true;
}

void SetVersionQueryTimeoutForTesting(base::TimeSpan limit) {
  g_timeout_for_testing_ms.store(limit.InMilliseconds());
}

bool CheckDownloadedVersion(const base::FilePath& file, bool check_stream, StatsNode* node) {
  const base::DottedVersion own(GetInternalVersion());
  base::DottedVersion minimum = own;
  const base::DottedVersion override_version(kAllowedVersionOverride);
  if (override_version.IsValid() && own.IsValid() &&
      override_version.components()[0] <= own.components()[0] + kMaxOverrideDistance) {
    VLOG(1) << "Using allowed version override " << kAllowedVersionOverride;
    minimum = override_version;
  }

  std::string version;
  if (!Ask(file, kInternalVersionSwitch, &version)) {
    LOG(ERROR) << "Could not ask " << file << " for its version";
    return false;
  }
  VLOG(1) << "Downloaded item version: " << version;
  node->SetString("internal_version", version);
  const base::DottedVersion downloaded(version);
  if (!downloaded.IsValid() || !minimum.IsValid() || downloaded < minimum) {
    LOG(ERROR) << "Downloaded item is older than the installer";
    return false;
  }

  if (check_stream) {
    std::string stream;
    if (!Ask(file, kStreamSwitch, &stream)) {
      LOG(ERROR) << "Could not ask " << file << " for its stream";
      return false;
    }
    VLOG(1) << "Downloaded item stream: " << stream;
    node->SetString("stream", stream);
    if (stream != GetStreamName()) {
      LOG(ERROR) << "Downloaded item is of a different stream than the installer";
      return false;
    }
  }
  return true;
}

}  // namespace installer
