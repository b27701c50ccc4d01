#include "desktop/windows/installer/status_fetch.h"

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/code_location.h"
#include "base/logging.h"
#include "base/threading/in_flight_counter.h"
#include "base/threading/worker_pool.h"
#include "base/win/scoped_com.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/interrupted_installation.h"

namespace installer {
namespace {

std::atomic<int> g_live_fetches{0};
std::atomic<StatusFetch::ReadHook> g_read_hook{nullptr};

// The reads in flight. Never destroyed: a read may still finish while the
// process exits.
base::InFlightCounter* ReadsInFlight() {
  static base::InFlightCounter* const instance = new base::InFlightCounter();
  return instance;
}

// Counts one read from its posting until its task has let go of everything.
class InFlightToken {
 public:
  InFlightToken() { ReadsInFlight()->Add(); }
  InFlightToken(InFlightToken&& other) : counted_(other.counted_) { other.counted_ = false; }
  InFlightToken& operator=(InFlightToken&&) = delete;
  ~InFlightToken() {
    if (counted_)
      ReadsInFlight()->Remove();
  }

 private:
  bool counted_ = true;
};

}  // namespace

// What the pool task owns. The token is declared first so that it is
// destroyed last: a read stops counting only after the record (and the
// status in it, when the task was the last holder) is gone.
struct StatusFetch::ReadJob {
  InFlightToken token;
  base::SharedRef<StatusFetch> fetch;
};

StatusFetch::StatusFetch(const base::FilePath& folder, bool replace_tarsel)
    : folder_(folder), replace_tarsel_(replace_tarsel) {
  g_live_fetches.fetch_add(1, std::memory_order_relaxed);
}

StatusFetch::~StatusFetch() { g_live_fetches.fetch_sub(1, std::memory_order_relaxed); }

// static
base::SharedRef<StatusFetch> StatusFetch::Start(const base::FilePath& folder, bool replace_tarsel,
                                                Reply reply) {
  base::SharedRef<StatusFetch> fetch(new StatusFetch(folder, replace_tarsel));
  ReadJob job{InFlightToken(), fetch};
  if (!base::WorkerPool::PostTaskAndReply(
          base::CodeLocation("FetchStatus", __FILE__, __LINE__, base::GetProgramCounter()),
          base::Bind(&StatusFetch::RunReadJob, base::Passed(std::move(job))),
          base::Bind(std::move(reply), fetch))) {
    LOG(ERROR) << "Cannot start reading the status of " << folder;
    return nullptr;
  }
  return fetch;
}

void StatusFetch::Cancel() { cancelled_.store(true, std::memory_order_release); }

bool StatusFetch::IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }

std::unique_ptr<InstallerStatus> StatusFetch::TakeStatus() { return std::move(status_); }

// static
int StatusFetch::LiveCountForTesting() { return g_live_fetches.load(std::memory_order_relaxed); }

// static
void StatusFetch::SetReadHookForTesting(ReadHook hook) {
  g_read_hook.store(hook, std::memory_order_release);
}

// static
void StatusFetch::RunReadJob(ReadJob job) { job.fetch->Read(); }

void StatusFetch::Read() {
  if (ReadHook hook = g_read_hook.load(std::memory_order_acquire))
    hook(folder_);
  if (IsCancelled()) {
    VLOG(1) << "Status read of " << folder_ << " dropped before it began";
    return;
  }
  base::win::ScopedComInitializer com(base::win::ScopedComInitializer::Apartment::kSingleThreaded);
  if (!com.Succeeded()) {
    // The folder is still checked; only what needs COM (the install log,
    // shortcuts) stays unread.
    LOG(ERROR) << "Cannot initialise COM for the status read, hr=0x" << std::hex << com.hr();
  }
  // A run on the folder that was ended from outside may have left half an
  // installation: it is undone first, so that the status (and the operation
  // chosen from it) describes the folder as the next run will find it. The
  // journals of runs still going are left alone.
  RollBackInterruptedInstallations(folder_, /*wait_ms=*/0);
  auto status = std::make_unique<InstallerStatus>(replace_tarsel_);
  status->Init(folder_);
  status_ = std::move(status);
}

int GetStatusReadsInFlight() { return ReadsInFlight()->count(); }

bool WaitForStatusReadsInFlight(base::TimeSpan bound) {
  if (ReadsInFlight()->WaitForIdle(bound))
    return true;
  LOG(ERROR) << "Status reads still in flight after " << bound.InMilliseconds()
             << " ms: " << GetStatusReadsInFlight();
  return false;
}

}  // namespace installer
