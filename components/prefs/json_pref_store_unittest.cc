#include "components/prefs/json_pref_store.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/exit_callback_manager.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/process.h"
#include "base/threading/message_loop.h"
#include "base/threading/os_thread.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "components/prefs/prefs_task_pool.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace prefs {
namespace {

constexpr char kPathSwitch[] = "prefs-path";

std::unique_ptr<base::DictValue> ReadDict(const base::FilePath& path) {
  std::string contents;
  if (!base::ReadFileToString(path, &contents))
    return nullptr;
  std::unique_ptr<base::Value> value = base::JsonReader::Read(contents);
  base::DictValue* dict = nullptr;
  if (!value || !value->GetAsDictionary(&dict))
    return nullptr;
  return dict->CreateDeepCopyDict();
}

// Waits until the writes already posted for |path| are done.
void WaitForFileSequence(PrefsTaskPoolHolder* pool, const base::FilePath& path) {
  base::WaitableEvent done(base::WaitableEvent::ResetPolicy::kManual,
                           base::WaitableEvent::InitialState::kNotSignaled);
  pool->GetSequenceForFile(path)->PostTask(
      FROM_HERE, base::Bind([](base::WaitableEvent* event) { event->Signal(); }, &done));
  ASSERT_TRUE(done.TimedWait(base::TimeSpan::FromSeconds(10)));
}

class KeyRecorder : public PrefStore::Observer {
 public:
  void OnPrefValueChanged(const std::string& key) override { keys.push_back(key); }
  std::vector<std::string> keys;
};

class JsonPrefStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    path_ = dir_.GetPath().AppendASCII("installer_prefs.json");
    pool_ = base::MakeShared<PrefsTaskPoolHolder>();
  }

  base::MessageLoop loop_;
  base::ScopedTempDir dir_;
  base::FilePath path_;
  base::SharedRef<PrefsTaskPoolHolder> pool_;
};

TEST_F(JsonPrefStoreTest, ChangesReachTheFileAndReadBack) {
  {
    base::SharedRef<JsonPrefStore> store = OpenJsonPrefStore(pool_, path_);
    EXPECT_EQ(store->GetReadError(), JsonPrefStore::kReadNoFile);
    EXPECT_FALSE(store->ReadOnly());
    EXPECT_EQ(store->histogram_suffix(), "installer_prefs");
    store->SetValue("installer-experiments.a", std::make_unique<base::ScalarValue>(3), 0);
    store->SetValue("name", std::make_unique<base::TextValue>("velmo"), 0);
    EXPECT_TRUE(store->HasPendingWrite());
    store->CommitPendingWrite();
    EXPECT_FALSE(store->HasPendingWrite());
    WaitForFileSequence(pool_.get(), path_);
    std::unique_ptr<base::DictValue> on_disk = ReadDict(path_);
    ASSERT_TRUE(on_disk);
    int a = 0;
    EXPECT_TRUE(on_disk->GetInteger("installer-experiments.a", &a));
    EXPECT_EQ(a, 3);

    // Changing in place, then removing.
    base::Value* mutable_value = nullptr;
    ASSERT_TRUE(store->GetMutableValue("installer-experiments", &mutable_value));
    base::DictValue* experiments = nullptr;
    ASSERT_TRUE(mutable_value->GetAsDictionary(&experiments));
    experiments->SetInteger("b", 4);
    store->ReportValueChanged("installer-experiments", 0);
    store->RemoveValue("name", 0);
  }  // The last reference writes the pending change.
  WaitForFileSequence(pool_.get(), path_);

  base::SharedRef<JsonPrefStore> reopened = OpenJsonPrefStore(pool_, path_);
  EXPECT_EQ(reopened->GetReadError(), JsonPrefStore::kReadNone);
  const base::Value* value = nullptr;
  EXPECT_FALSE(reopened->GetValue("name", &value));
  ASSERT_TRUE(reopened->GetValue("installer-experiments.b", &value));
  int b = 0;
  EXPECT_TRUE(value->GetAsInteger(&b));
  EXPECT_EQ(b, 4);
}

TEST_F(JsonPrefStoreTest, ObserversAndLossyChanges) {
  base::SharedRef<JsonPrefStore> store = OpenJsonPrefStore(pool_, path_);
  KeyRecorder recorder;
  store->AddObserver(&recorder);
  store->SetValue("k", std::make_unique<base::ScalarValue>(true), 0);
  store->SetValue("k", std::make_unique<base::ScalarValue>(true), 0);  // Equal: nothing.
  store->SetValueWithoutNotify("quiet", std::make_unique<base::ScalarValue>(1), 0);
  store->RemoveValue("k", 0);
  store->RemoveValue("absent", 0);
  EXPECT_EQ(recorder.keys, (std::vector<std::string>{"k", "k"}));
  store->RemoveObserver(&recorder);
  store->CommitPendingWrite();

  // A lossy change schedules nothing but is written by the next commit.
  store->SetValue("lossy", std::make_unique<base::ScalarValue>(9), JsonPrefStore::kLossyWriteFlag);
  EXPECT_TRUE(store->HasPendingWrite());
  store->CommitPendingWrite();
  WaitForFileSequence(pool_.get(), path_);
  std::unique_ptr<base::DictValue> on_disk = ReadDict(path_);
  ASSERT_TRUE(on_disk);
  int lossy = 0;
  EXPECT_TRUE(on_disk->GetInteger("lossy", &lossy));
  EXPECT_EQ(lossy, 9);
  EXPECT_FALSE(on_disk->HasKey("k"));
}

TEST_F(JsonPrefStoreTest, CorruptFileIsKeptAsideAndUnreadableFileIsNeverOverwritten) {
  const std::string corrupt = "{\"half\": [1, 2";
  ASSERT_EQ(base::WriteFileBytes(path_, corrupt.data(), static_cast<int>(corrupt.size())),
            static_cast<int>(corrupt.size()));
  {
    base::SharedRef<JsonPrefStore> store = OpenJsonPrefStore(pool_, path_);
    EXPECT_EQ(store->GetReadError(), JsonPrefStore::kReadJsonParse);
    EXPECT_FALSE(store->ReadOnly());
    EXPECT_FALSE(store->GetValue("half", nullptr));
    std::string aside;
    ASSERT_TRUE(base::ReadFileToString(path_.AddExtension(L"bad"), &aside));
    EXPECT_EQ(aside, corrupt);
  }

  const std::string list = "[1]";
  ASSERT_EQ(base::WriteFileBytes(path_, list.data(), 3), 3);
  EXPECT_EQ(OpenJsonPrefStore(pool_, path_)->GetReadError(), JsonPrefStore::kReadJsonType);

  // Held open without read sharing: the store cannot read it.
  base::File holder(path_, base::File::FLAG_OPEN | base::File::FLAG_READ |
                               base::File::FLAG_EXCLUSIVE_READ | base::File::FLAG_SHARE_DELETE);
  ASSERT_TRUE(holder.IsValid());
  base::SharedRef<JsonPrefStore> store = OpenJsonPrefStore(pool_, path_);
  EXPECT_EQ(store->GetReadError(), JsonPrefStore::kReadAccessDenied);
  EXPECT_TRUE(store->ReadOnly());
  store->SetValue("x", std::make_unique<base::ScalarValue>(1), 0);
  EXPECT_FALSE(store->HasPendingWrite());
  store->CommitPendingWrite();
  store.reset();
  holder.Close();
  WaitForFileSequence(pool_.get(), path_);
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(path_, &contents));
  EXPECT_EQ(contents, list);
}

// A child that changes a store and returns at once, as the installer's
// entry point does. With "release-late", a second thread holds the last
// store reference for a while after the entry point returned.
CHILD_PROCESS_MAIN(JsonPrefStoreQuickExitChild) {
  const base::FilePath path =
      base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(kPathSwitch);
  const bool release_late = base::CommandLine::ForCurrentProcess()->HasSwitch("release-late");
  base::ExitCallbackManager exit_manager;
  base::MessageLoop loop;
  base::SharedRef<PrefsTaskPoolHolder> pool = GetPrefsTaskPool();
  pool->SetWaitAtExit(true);
  base::SharedRef<JsonPrefStore> store = OpenJsonPrefStore(pool, path);
  store->SetValue("last_change", std::make_unique<base::TextValue>("made at exit"), 0);
  if (release_late) {
    // Never joined: it may outlive the entry point, as threads of other
    // components do.
    auto* releaser = new base::PlainThread(
        "LateReleaser", base::Bind(
                            [](base::SharedRef<JsonPrefStore> held) {
                              base::OsThread::Sleep(base::TimeSpan::FromMilliseconds(300));
                              held.reset();
                            },
                            base::Passed(base::SharedRef<JsonPrefStore>(store))));
    if (!releaser->Start())
      return 2;
  }
  return 0;
}

TEST_F(JsonPrefStoreTest, ChangeMadeJustBeforeTheProcessEndsIsOnDisk) {
  for (bool release_late : {false, true}) {
    SCOPED_TRACE(release_late);
    const base::FilePath path =
        dir_.GetPath().AppendASCII(release_late ? "late.json" : "quick.json");
    const std::string old_content = "{\"old\": 1}";
    ASSERT_EQ(base::WriteFileBytes(path, old_content.data(), static_cast<int>(old_content.size())),
              static_cast<int>(old_content.size()));
    base::CommandLine command_line = testing::GetChildCommandLine("JsonPrefStoreQuickExitChild");
    command_line.AppendSwitchPath(kPathSwitch, path);
    if (release_late)
      command_line.AppendSwitch("release-late");
    base::LaunchOptions options;
    options.wait = true;
    base::Process child = base::LaunchProcess(command_line, options);
    ASSERT_TRUE(child.IsValid());
    int exit_code = -1;
    ASSERT_TRUE(child.WaitForExit(&exit_code));
    EXPECT_EQ(exit_code, 0);

    std::unique_ptr<base::DictValue> on_disk = ReadDict(path);
    ASSERT_TRUE(on_disk);
    std::string last_change;
    EXPECT_TRUE(on_disk->GetString("last_change", &last_change));
    EXPECT_EQ(last_change, "made at exit");
    int old_value = 0;
    EXPECT_TRUE(on_disk->GetInteger("old", &old_value));
    EXPECT_EQ(old_value, 1);
  }
}

}  // namespace
}  // namespace prefs
