#include "desktop/windows/installer/ui/installer_ui_lock.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct LockAttempt {
  base::FilePath folder;
  base::win::ScopedHandle lock_file;
  DWORD result = 0;
  DWORD thread_id = 0;
};

DWORD WINAPI AcquireOnThread(void* param) {
  auto* attempt = static_cast<LockAttempt*>(param);
  attempt->thread_id = ::GetCurrentThreadId();
  attempt->result = AcquireInstallerUILock(attempt->folder, &attempt->lock_file);
  return 0;
}

// Runs an acquisition on a thread of its own, as a second installer's UI
// thread would.
void AcquireFromOtherThread(LockAttempt* attempt) {
  base::win::ScopedHandle thread(::CreateThread(nullptr, 0, &AcquireOnThread, attempt, 0, nullptr));
  ASSERT_TRUE(thread.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.Get(), 30000));
}

class InstallerUILockTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  base::FilePath LockPath() const { return temp_.GetPath().Append(kInstallerUILockFileName); }

  base::ScopedTempDir temp_;
};

TEST_F(InstallerUILockTest, SecondInstanceLearnsTheOwnersThreadUntilTheOwnerLetsGo) {
  base::win::ScopedHandle owner_file;
  const DWORD owner = AcquireInstallerUILock(temp_.GetPath(), &owner_file);
  EXPECT_EQ(::GetCurrentThreadId(), owner);
  ASSERT_TRUE(owner_file.IsValid());
  EXPECT_TRUE(base::PathExists(LockPath()));

  LockAttempt second;
  second.folder = temp_.GetPath();
  AcquireFromOtherThread(&second);
  EXPECT_NE(second.thread_id, owner);
  EXPECT_EQ(owner, second.result);
  EXPECT_FALSE(second.lock_file.IsValid());

  // Closing the owner's handle removes the file and frees the lock.
  owner_file.Reset();
  EXPECT_FALSE(base::PathExists(LockPath()));
  LockAttempt third;
  third.folder = temp_.GetPath();
  AcquireFromOtherThread(&third);
  EXPECT_EQ(third.thread_id, third.result);
  EXPECT_TRUE(third.lock_file.IsValid());
}

TEST_F(InstallerUILockTest, UnreadableOrShortLockFileLetsTheRunGoOn) {
  // Held without any sharing: neither created over nor readable.
  {
    base::win::ScopedHandle blocker(::CreateFileW(LockPath().value().c_str(), GENERIC_WRITE, 0,
                                                  nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(blocker.IsValid());
    base::win::ScopedHandle lock_file;
    EXPECT_EQ(0u, AcquireInstallerUILock(temp_.GetPath(), &lock_file));
    EXPECT_FALSE(lock_file.IsValid());
  }
  // Readable but empty: no thread id in it, so no switch to a thread that
  // cannot be named.
  {
    base::win::ScopedHandle holder(::CreateFileW(LockPath().value().c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                                                 nullptr));
    ASSERT_TRUE(holder.IsValid());
    base::win::ScopedHandle lock_file;
    EXPECT_EQ(0u, AcquireInstallerUILock(temp_.GetPath(), &lock_file));
  }
}

TEST_F(InstallerUILockTest, MissingFolderGivesNoLockAndNoOwner) {
  base::win::ScopedHandle lock_file;
  EXPECT_EQ(0u, AcquireInstallerUILock(temp_.GetPath().Append(L"missing"), &lock_file));
  EXPECT_FALSE(lock_file.IsValid());
}

TEST(ActivateThreadWindowTest, OnlyAnEnabledVisibleWindowIsBroughtForward) {
  const DWORD thread = ::GetCurrentThreadId();
  HWND hidden = ::CreateWindowExW(0, L"STATIC", L"hidden", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                  nullptr, nullptr);
  ASSERT_TRUE(hidden);
  EXPECT_FALSE(ActivateThreadWindow(thread));

  HWND disabled = ::CreateWindowExW(0, L"STATIC", L"disabled", WS_POPUP | WS_VISIBLE | WS_DISABLED,
                                    0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(disabled);
  EXPECT_FALSE(ActivateThreadWindow(thread));

  HWND shown = ::CreateWindowExW(0, L"STATIC", L"shown", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(ActivateThreadWindow(thread));
  EXPECT_EQ(shown, ::GetForegroundWindow());

  ::DestroyWindow(shown);
  ::DestroyWindow(disabled);
  ::DestroyWindow(hidden);
}

}  // namespace
}  // namespace installer
