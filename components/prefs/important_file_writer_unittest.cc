#include "components/prefs/important_file_writer.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/bind.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/shared_ref.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"

namespace prefs {
namespace {

int CountEntries(const base::FilePath& dir) {
  base::DirectoryEnumerator entries(dir, false, base::DirectoryEnumerator::FILES);
  int count = 0;
  while (!entries.Next().empty())
    ++count;
  return count;
}

std::string ReadAll(const base::FilePath& path) {
  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(path, &contents));
  return contents;
}

int FailureCount(ImportantFileWriter::TempFileFailure failure) {
  base::HistogramBase* histogram = ImportantFileWriter::GetTempFileFailuresHistogramForTesting();
  return histogram ? histogram->TakeSnapshot()->GetCount(failure) : 0;
}

class ImportantFileWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    path_ = dir_.GetPath().AppendASCII("prefs.json");
  }
  void TearDown() override {
    ImportantFileWriter::SetFailureForTesting(ImportantFileWriter::kNoFailure);
  }

  base::ScopedTempDir dir_;
  base::FilePath path_;
};

TEST_F(ImportantFileWriterTest, WritesAndReplacesWithoutLeftovers) {
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "first"));
  EXPECT_EQ(ReadAll(path_), "first");
  const std::string binary("a\0b\r\n", 5);
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, binary));
  EXPECT_EQ(ReadAll(path_), binary);
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, ""));
  EXPECT_EQ(ReadAll(path_), "");
  EXPECT_EQ(CountEntries(dir_.GetPath()), 1);
}

// Each failing step leaves the old file byte for byte, deletes the
// temporary and records its kind once.
TEST_F(ImportantFileWriterTest, AnyFailedStepKeepsTheOldFile) {
  const std::string old_content("{\"kept\": true}\n\0tail", 21);
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, old_content));
  const ImportantFileWriter::TempFileFailure steps[] = {
      ImportantFileWriter::kFailedCreating, ImportantFileWriter::kFailedOpening,
      ImportantFileWriter::kFailedWriting, ImportantFileWriter::kFailedFlushing,
      ImportantFileWriter::kFailedRenaming};
  for (ImportantFileWriter::TempFileFailure step : steps) {
    SCOPED_TRACE(static_cast<int>(step));
    const int before = FailureCount(step);
    ImportantFileWriter::SetFailureForTesting(step);
    EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(path_, "new content that must not land"));
    EXPECT_EQ(ReadAll(path_), old_content);
    EXPECT_EQ(CountEntries(dir_.GetPath()), 1);
    EXPECT_EQ(FailureCount(step), before + 1);
  }
  EXPECT_EQ(FailureCount(ImportantFileWriter::kFailedDeleting), 0);
  ImportantFileWriter::SetFailureForTesting(ImportantFileWriter::kNoFailure);
  EXPECT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "now it lands"));
  EXPECT_EQ(ReadAll(path_), "now it lands");
}

TEST_F(ImportantFileWriterTest, RealRenameFailureKeepsTheOldFile) {
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "old"));
  const int before = FailureCount(ImportantFileWriter::kFailedRenaming);
  {
    // Open without delete sharing: the system refuses to replace it.
    base::File holder(path_, base::File::FLAG_OPEN | base::File::FLAG_READ);
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(path_, "new"));
  }
  EXPECT_EQ(ReadAll(path_), "old");
  EXPECT_EQ(CountEntries(dir_.GetPath()), 1);
  EXPECT_EQ(FailureCount(ImportantFileWriter::kFailedRenaming), before + 1);
  // A missing folder fails at the first step.
  EXPECT_FALSE(ImportantFileWriter::WriteFileAtomically(
      dir_.GetPath().AppendASCII("missing").AppendASCII("x.json"), "data"));
}

// A reader that holds the file while the rename is due costs a wait, not
// the write: the rename is tried again until the file is free.
TEST_F(ImportantFileWriterTest, TargetHeldOpenForAMomentStillGetsTheWrite) {
  ASSERT_TRUE(ImportantFileWriter::WriteFileAtomically(path_, "old"));
  auto holder = std::make_unique<base::File>(path_, base::File::FLAG_OPEN | base::File::FLAG_READ);
  ASSERT_TRUE(holder->IsValid());
  const int retries_before = ImportantFileWriter::GetRenameRetriesForTesting();
  bool written = false;
  base::PlainThread writer("writer", base::Bind(
                                         [](const base::FilePath* path, bool* written) {
                                           *written = ImportantFileWriter::WriteFileAtomically(
                                               *path, "new");
                                         },
                                         &path_, &written));
  ASSERT_TRUE(writer.Start());
  // The holder lets go once the writer has met it.
  for (int waited_ms = 0;
       ImportantFileWriter::GetRenameRetriesForTesting() == retries_before && waited_ms < 60000;
       waited_ms += 5) {
    ::Sleep(5);
  }
  EXPECT_GT(ImportantFileWriter::GetRenameRetriesForTesting(), retries_before);
  holder.reset();
  writer.Join();
  EXPECT_TRUE(written);
  EXPECT_EQ(ReadAll(path_), "new");
  EXPECT_EQ(CountEntries(dir_.GetPath()), 1);
}

class CountingSerializer : public ImportantFileWriter::DataSerializer {
 public:
  bool SerializeData(std::string* data) override {
    ++calls;
    *data = "serialized " + std::to_string(calls);
    return true;
  }
  int calls = 0;
};

TEST_F(ImportantFileWriterTest, ScheduledWritesAreCoalescedAndFlushedOnDestruction) {
  base::MessageLoop loop;
  base::SharedRef<base::SequencedWorkerPool> pool =
      base::MakeShared<base::SequencedWorkerPool>(1, "WriterTest");
  auto sequence = pool->GetSequencedTaskRunner(pool->GetSequenceToken());
  CountingSerializer serializer;
  {
    ImportantFileWriter writer(path_, sequence, base::TimeSpan::FromMilliseconds(30));
    EXPECT_FALSE(writer.HasPendingWrite());
    writer.ScheduleWrite(&serializer);
    writer.ScheduleWrite(&serializer);
    EXPECT_TRUE(writer.HasPendingWrite());
    EXPECT_EQ(serializer.calls, 0);
    base::LoopRunner runner;
    loop.task_runner()->PostDelayedTask(FROM_HERE, runner.QuitClosure(),
                                        base::TimeSpan::FromMilliseconds(150));
    runner.Run();
    EXPECT_FALSE(writer.HasPendingWrite());
    EXPECT_EQ(serializer.calls, 1);
    EXPECT_EQ(writer.write_count(), 1);
    // A write scheduled just before destruction is not lost.
    writer.ScheduleWrite(&serializer);
  }
  EXPECT_EQ(serializer.calls, 2);
  pool->Shutdown();  // Waits for the posted writes.
  EXPECT_EQ(ReadAll(path_), "serialized 2");

  // With the pool gone, the write happens on the calling thread.
  ImportantFileWriter late_writer(path_, sequence);
  late_writer.WriteNow("written here");
  EXPECT_EQ(ReadAll(path_), "written here");
}

}  // namespace
}  // namespace prefs
