// InstallerProgress: one progress bar over the six phases of an interactive
// run. Each phase has a weight (downloading dominates, installing counts for
// less than unpacking); inside a phase the fetcher or the back end reports
// how many units there are and how many are done.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_PROGRESS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_PROGRESS_H_

#include <cstdint>

namespace installer {

class InstallerProgress {
 public:
  enum Phase : int32_t {
    kWaiting = 0,
    kDownloading = 1,
    kExtracting = 2,
    kAfterExtraction = 3,
    kPackageReady = 4,
    kInstalling = 5,
  };
  static constexpr int kPhaseCount = 6;

  int32_t phase() const { return phase_; }
  // Phases outside 0 to 5 are refused (logged), so that the weighting
  // never reads past its table.
  void SetPhase(int32_t phase);

  uint32_t phase_total() const { return phase_total_; }
  uint32_t phase_done() const { return phase_done_; }

  // The fetcher's size of the current operation. After extraction the
  // fetcher's further downloads do not move the bar.
  void SetTotal(uint32_t total);
  // How far the fetcher's operation is; ignored while no total is known.
  void SetCurrent(uint32_t current);
  // The back end's step count; the first step counts as begun.
  void SetTotalSteps(uint32_t steps);
  void Step();
  // The whole current phase is done.
  void Complete() { phase_done_ = phase_total_; }

  // The weights of all phases before the current one, plus the current
  // phase's share.
  uint32_t GetWeightedProgress() const;
  static uint32_t GetTotalProgressWeight();

 private:
  int32_t phase_ = kWaiting;
  uint32_t phase_total_ = 0;
  uint32_t phase_done_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_INSTALLER_PROGRESS_H_
