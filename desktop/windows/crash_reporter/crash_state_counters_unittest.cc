#include "desktop/windows/crash_reporter/crash_state_counters.h"

#include <windows.h>

#include <string>

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

class CrashStateCountersTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    path_ = temp_.GetPath().Append(L"counters.json");
  }
  void Write(const std::string& text) {
    ASSERT_EQ(static_cast<int>(text.size()),
              base::WriteFileBytes(path_, text.data(), static_cast<int>(text.size())));
  }
  std::string Read() {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(path_, &text));
    return text;
  }

  base::ScopedTempDir temp_;
  base::FilePath path_;
};

TEST_F(CrashStateCountersTest, CountsAreAddedToThoseStoredAndKeepOtherEntries) {
  Write("{\"browser\": 7, \"installer\": 2, \"note\": \"x\"}");
  {
    CrashStateCounters counters(path_);
    counters.Increment("installer", 1, false);
    counters.Increment("installer", 2, false);
    counters.Increment("crash_reporter", 1, false);
  }  // stored when the counters end, even without a wake-up
  EXPECT_EQ("{\"browser\":7,\"crash_reporter\":1,\"installer\":5}", Read());

  // A new file, and a shorter text than before: nothing of the old is left.
  Write("{\"installer\": 123456789}        ");
  EXPECT_TRUE(CrashStateCounters::WriteCounts(path_, {{"installer", 1}}));
  EXPECT_EQ("{\"installer\":123456790}", Read());
  base::DeletePath(path_, false);
  EXPECT_TRUE(CrashStateCounters::WriteCounts(path_, {{"installer", 1}}));
  EXPECT_EQ("{\"installer\":1}", Read());
}

TEST_F(CrashStateCountersTest, AFileThatIsNoDictionaryIsNeverOverwritten) {
  for (const char* text : {"[]", "{\"installer\": ", "3"}) {
    Write(text);
    {
      CrashStateCounters counters(path_);
      counters.Increment("installer", 1, true);
    }
    EXPECT_EQ(text, Read());
  }
}

TEST_F(CrashStateCountersTest, AnEmptyFileLeftByAFailedWriteIsRepaired) {
  Write("");
  {
    CrashStateCounters counters(path_);
    counters.Increment("installer", 1, true);
  }
  EXPECT_EQ("{\"installer\":1}", Read());
}

TEST_F(CrashStateCountersTest, CountsWaitWhileTheFileIsHeldAndArriveLater) {
  Write("{}");
  base::File holder(path_, base::File::FLAG_OPEN | base::File::FLAG_READ |
                               base::File::FLAG_EXCLUSIVE_READ | base::File::FLAG_EXCLUSIVE_WRITE);
  ASSERT_TRUE(holder.IsValid());
  // Retries spaced so that their nine outlast any delay a loaded machine
  // puts between the first failure and the file's release.
  CrashStateCounters counters(path_, /*retry_delay_ms=*/2000);
  counters.Increment("installer", 1, true);
  ::Sleep(350);  // the first attempt fails meanwhile
  holder.Close();
  // The retries go on after the file is free again, so the count arrives
  // without another wake-up.
  std::string text;
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (text != "{\"installer\":1}" && ::GetTickCount64() < deadline) {
    ::Sleep(50);
    base::ReadFileToString(path_, &text);
  }
  EXPECT_EQ("{\"installer\":1}", text);
}

TEST_F(CrashStateCountersTest, WithoutAPathNothingIsStoredAndShutdownEnds) {
  CrashStateCounters::Counts counts = {{"installer", 1}};
  EXPECT_FALSE(CrashStateCounters::WriteCounts(base::FilePath(), counts));
  CrashStateCounters counters{base::FilePath()};
  counters.Increment("installer", 1, true);
}

}  // namespace
}  // namespace crash_reporter
