#include "desktop/windows/installer/ui/installer_progress.h"

#include "base/logging.h"

namespace installer {
namespace {

constexpr uint32_t kPhaseWeights[InstallerProgress::kPhaseCount] = {1, 1000, 200, 1, 1, 100};

}  // namespace

void InstallerProgress::SetPhase(int32_t phase) {
  if (phase < 0 || phase >= kPhaseCount) {
    LOG(ERROR) << "Invalid installer progress phase " << phase;
    return;
  }
  phase_ = phase;
}

void InstallerProgress::SetTotal(uint32_t total) {
  phase_done_ = 0;
  phase_total_ = phase_ == kAfterExtraction ? 0 : total;
}

void InstallerProgress::SetCurrent(uint32_t current) {
  if (phase_total_ != 0)
    phase_done_ = current;
}

void InstallerProgress::SetTotalSteps(uint32_t steps) {
  phase_total_ = steps;
  phase_done_ = 1;
}

void InstallerProgress::Step() { ++phase_done_; }

uint32_t InstallerProgress::GetWeightedProgress() const {
  uint32_t progress = 0;
  for (int32_t i = 0; i < phase_; ++i)
    progress += kPhaseWeights[i];
  if (phase_total_ == 0)
    return progress;
  // A count that runs past its total (a back end reporting more steps than
  // it announced) must not push the bar into the next phase's share.
  const double share =
      phase_done_ >= phase_total_ ? 1.0 : static_cast<double>(phase_done_) / phase_total_;
  return progress + static_cast<uint32_t>(kPhaseWeights[phase_] * share);
}

uint32_t InstallerProgress::GetTotalProgressWeight() {
  uint32_t total = 0;
  for (uint32_t weight : kPhaseWeights)
    total += weight;
  return total < 1 ? 1 : total;
}

}  // namespace installer
