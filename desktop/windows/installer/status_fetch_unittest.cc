#include "desktop/windows/installer/status_fetch.h"

#include <windows.h>

#include <memory>

#include "base/command_line.h"
#include "base/files/scoped_temp_dir.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/waitable_event.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr base::TimeSpan kBound = base::TimeSpan::FromSeconds(30);

// Holds every read at its start until the test lets it go.
base::WaitableEvent* g_read_started = nullptr;
base::WaitableEvent* g_release_read = nullptr;
void BlockingReadHook(const base::FilePath&) {
  g_read_started->Signal();
  g_release_read->Wait();
}

class StatusFetchTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }
  void TearDown() override {
    StatusFetch::SetReadHookForTesting(nullptr);
    EXPECT_TRUE(WaitForStatusReadsInFlight(kBound));
  }

  base::ScopedTempDir temp_dir_;
};

TEST_F(StatusFetchTest, ReplyCarriesTheStatus) {
  base::MessageLoop loop;
  base::LoopRunner runner;
  std::unique_ptr<InstallerStatus> status;
  auto fetch = StatusFetch::Start(temp_dir_.GetPath(), true,
                                  base::Bind(
                                      [](std::unique_ptr<InstallerStatus>* out, base::LoopRunner* r,
                                         base::SharedRef<StatusFetch> f) {
                                        *out = f->TakeStatus();
                                        r->Quit();
                                      },
                                      &status, &runner));
  ASSERT_TRUE(fetch);
  runner.Run();
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->valid_install_path());
  EXPECT_TRUE(status->replace_tarsel());
  EXPECT_EQ(temp_dir_.GetPath(), status->install_folder());
}

TEST_F(StatusFetchTest, NoLoopNoRead) {
  EXPECT_FALSE(StatusFetch::Start(
      temp_dir_.GetPath(), false,
      base::Bind([](base::SharedRef<StatusFetch>) { ADD_FAILURE() << "reply ran"; })));
  EXPECT_EQ(0, GetStatusReadsInFlight());
}

// The settings, their loop and their fetch record all go while the read is
// held on the pool thread: the record must outlive them until the read ends,
// then be freed.
TEST_F(StatusFetchTest, DestroyedWhileTheReadRuns) {
  test::ScopedSettingsSeams seams("FetchBlocked");
  base::WaitableEvent started(base::WaitableEvent::ResetPolicy::kAutomatic,
                              base::WaitableEvent::InitialState::kNotSignaled);
  base::WaitableEvent release(base::WaitableEvent::ResetPolicy::kManual,
                              base::WaitableEvent::InitialState::kNotSignaled);
  g_read_started = &started;
  g_release_read = &release;
  StatusFetch::SetReadHookForTesting(&BlockingReadHook);
  const int live_before = StatusFetch::LiveCountForTesting();
  {
    base::MessageLoop loop;
    auto settings = std::make_unique<Settings>(base::CommandLine(), false, false, false,
                                               temp_dir_.GetPath().Append(L"a"), false, false);
    ASSERT_TRUE(started.TimedWait(kBound));
    // A second folder drops the first read while it runs.
    ASSERT_TRUE(settings->SetInstallFolder(temp_dir_.GetPath().Append(L"b")));
    settings.reset();
  }
  // The held read, and the second one waiting for a pool thread or held too.
  EXPECT_GE(GetStatusReadsInFlight(), 1);
  EXPECT_GE(StatusFetch::LiveCountForTesting(), live_before + 1);
  EXPECT_FALSE(WaitForStatusReadsInFlight(base::TimeSpan::FromMilliseconds(50)));
  release.Signal();
  EXPECT_TRUE(WaitForStatusReadsInFlight(kBound));
  EXPECT_EQ(live_before, StatusFetch::LiveCountForTesting());
  EXPECT_EQ(0, GetStatusReadsInFlight());
}

TEST_F(StatusFetchTest, DestroyingSettingsDuringReadsNeverCrashes) {
  test::ScopedSettingsSeams seams("FetchLoop");
  const int live_before = StatusFetch::LiveCountForTesting();
  for (int run = 0; run < 200; ++run) {
    base::MessageLoop loop;
    auto settings = std::make_unique<Settings>(
        base::CommandLine(), false, false, false,
        temp_dir_.GetPath().Append(L"run" + std::to_wstring(run % 7)), false, false);
    if (run % 3 == 0)
      settings->SetInstallFolder(temp_dir_.GetPath());
    if (run % 5 == 0) {
      // Let some replies land before the end.
      base::LoopRunner().RunUntilIdle();
    }
    settings.reset();
  }
  ASSERT_TRUE(WaitForStatusReadsInFlight(kBound));
  EXPECT_EQ(live_before, StatusFetch::LiveCountForTesting());
}

}  // namespace
}  // namespace installer
