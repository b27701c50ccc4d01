#include "desktop/windows/installer/ui/installer_progress.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerProgressTest, PhasesAddUpToTheWholeBar) {
  InstallerProgress progress;
  EXPECT_EQ(1303u, InstallerProgress::GetTotalProgressWeight());
  EXPECT_EQ(0u, progress.GetWeightedProgress());

  // Half of the download: the waiting phase plus half of the download's.
  progress.SetPhase(InstallerProgress::kDownloading);
  progress.SetTotal(4000);
  progress.SetCurrent(2000);
  EXPECT_EQ(1u + 500u, progress.GetWeightedProgress());

  // A third of the unpacking, truncated toward zero.
  progress.SetPhase(InstallerProgress::kExtracting);
  progress.SetTotal(3);
  progress.SetCurrent(1);
  EXPECT_EQ(1001u + 66u, progress.GetWeightedProgress());

  // The back end's steps: the first one counts as begun.
  progress.SetPhase(InstallerProgress::kInstalling);
  progress.SetTotalSteps(10);
  EXPECT_EQ(1203u + 10u, progress.GetWeightedProgress());
  for (int i = 0; i < 9; ++i)
    progress.Step();
  EXPECT_EQ(1303u, progress.GetWeightedProgress());
}

TEST(InstallerProgressTest, ProgressWithoutAKnownTotalDoesNotMoveTheBar) {
  InstallerProgress progress;
  progress.SetPhase(InstallerProgress::kDownloading);
  progress.SetCurrent(500);
  EXPECT_EQ(1u, progress.GetWeightedProgress());

  // Downloads after the extraction (additional files) do not count.
  progress.SetPhase(InstallerProgress::kAfterExtraction);
  progress.SetTotal(1000);
  progress.SetCurrent(999);
  EXPECT_EQ(1201u, progress.GetWeightedProgress());
}

TEST(InstallerProgressTest, OverrunAndBadPhasesStayInsideTheBar) {
  InstallerProgress progress;
  progress.SetPhase(InstallerProgress::kInstalling);
  progress.SetTotalSteps(2);
  for (int i = 0; i < 5; ++i)
    progress.Step();
  EXPECT_EQ(InstallerProgress::GetTotalProgressWeight(), progress.GetWeightedProgress());

  progress.SetPhase(6);
  progress.SetPhase(-1);
  EXPECT_EQ(InstallerProgress::kInstalling, progress.phase());
}

}  // namespace
}  // namespace installer
