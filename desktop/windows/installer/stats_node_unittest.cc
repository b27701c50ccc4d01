#include "desktop/windows/installer/stats_node.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/time.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The integer at |key| of |dictionary|, or -1.
int IntegerAt(const base::DictValue& dictionary, const char* key) {
  int value = -1;
  return dictionary.GetIntegerWithoutPathExpansion(key, &value) ? value : -1;
}

TEST(StatsNodeTest, ValuesAreWrittenUnderPlainKeys) {
  StatsReport report;
  StatsNode node = report.root_node();
  node.Increment("starts");
  node.Increment("starts");
  node.Increment("fresh");
  node.SetString("install.folder", "C:\\Velmo");
  node.SetString("user", L"\u00c5sa");
  node.SetInteger("all_users", 1);
  node.SetInteger("removed", 5);
  node.Remove("removed");
  node.Remove("never_there");

  base::AutoLock hold(report.lock());
  const base::DictValue& root = report.root();
  EXPECT_EQ(2, IntegerAt(root, "starts"));
  EXPECT_EQ(1, IntegerAt(root, "fresh"));
  EXPECT_EQ(1, IntegerAt(root, "all_users"));
  EXPECT_FALSE(root.HasKey("removed"));
  std::string text;
  // A dotted key is one key, not a path into an "install" object.
  EXPECT_TRUE(root.GetStringWithoutPathExpansion("install.folder", &text));
  EXPECT_EQ("C:\\Velmo", text);
  EXPECT_FALSE(root.HasKey("install"));
  EXPECT_TRUE(root.GetStringWithoutPathExpansion("user", &text));
  EXPECT_EQ("\xc3\x85sa", text);
  EXPECT_EQ(5u, root.size());
}

TEST(StatsNodeTest, IncrementRestartsAtOneOverNonIntegers) {
  StatsReport report;
  StatsNode node = report.root_node();
  node.SetString("count", "many");
  node.Increment("count");
  base::AutoLock hold(report.lock());
  EXPECT_EQ(1, IntegerAt(report.root(), "count"));
}

TEST(StatsNodeTest, ListEntriesAreNewDictionariesSharingTheReport) {
  StatsReport report;
  StatsNode root = report.root_node();
  root.SetString("downloads", "replaced");

  std::unique_ptr<StatsNode> first = root.AddListEntry("downloads");
  std::unique_ptr<StatsNode> second = root.AddListEntry("downloads");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(report.start_time(), first->start_time());
  first->SetInteger("attempt", 1);
  second->SetInteger("attempt", 2);
  // Entries nest.
  second->AddListEntry("retries")->Increment("errors");

  base::AutoLock hold(report.lock());
  const base::ListValue* list = nullptr;
  ASSERT_TRUE(report.root().GetListWithoutPathExpansion("downloads", &list));
  ASSERT_EQ(2u, list->size());
  const base::DictValue* entry = nullptr;
  ASSERT_TRUE(list->GetDictionary(0, &entry));
  EXPECT_EQ(1, IntegerAt(*entry, "attempt"));
  EXPECT_EQ(1u, entry->size());
  ASSERT_TRUE(list->GetDictionary(1, &entry));
  EXPECT_EQ(2, IntegerAt(*entry, "attempt"));
  const base::ListValue* retries = nullptr;
  ASSERT_TRUE(entry->GetListWithoutPathExpansion("retries", &retries));
  const base::DictValue* retry = nullptr;
  ASSERT_TRUE(retries->GetDictionary(0, &retry));
  EXPECT_EQ(1, IntegerAt(*retry, "errors"));
}

TEST(StatsNodeTest, TimestampsFormatUtcWithMilliseconds) {
  base::Time::Exploded exploded;
  exploded.year = 2017;
  exploded.month = 2;
  exploded.day_of_month = 17;
  exploded.hour = 17;
  exploded.minute = 5;
  exploded.second = 3;
  exploded.millisecond = 42;
  EXPECT_EQ("2017-02-17 17:05:03.042", StatsNode::FormatTimestamp(exploded));
  exploded = {};
  exploded.year = 2024;
  exploded.month = 12;
  exploded.day_of_month = 1;
  exploded.millisecond = 999;
  EXPECT_EQ("2024-12-01 00:00:00.999", StatsNode::FormatTimestamp(exploded));

  StatsReport report;
  StatsNode node = report.root_node();
  const base::Time before = base::Time::Now();
  node.SetTimestamp("started");
  const base::Time after = base::Time::Now();

  base::AutoLock hold(report.lock());
  std::string stamp;
  ASSERT_TRUE(report.root().GetStringWithoutPathExpansion("started", &stamp));
  base::Time::Exploded parsed;
  char tail = 0;
  ASSERT_EQ(7, std::sscanf(stamp.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%c", &parsed.year,
                           &parsed.month, &parsed.day_of_month, &parsed.hour, &parsed.minute,
                           &parsed.second, &parsed.millisecond, &tail))
      << stamp;
  EXPECT_EQ(23u, stamp.size()) << stamp;
  base::Time stamped;
  ASSERT_TRUE(base::Time::FromExploded(/*is_local=*/false, parsed, &stamped)) << stamp;
  // Millisecond resolution: the stamp lies between the two readings.
  EXPECT_LE((before - stamped).InMilliseconds(), 1) << stamp;
  EXPECT_LE((stamped - after).InMilliseconds(), 1) << stamp;
}

TEST(StatsNodeTest, TimestampAndElapsedWritesTwoKeysOnly) {
  base::DictValue dictionary;
  base::Lock lock;
  const base::MonotonicTime started =
      base::MonotonicTime::Now() - base::TimeSpan::FromMilliseconds(1500);
  StatsNode node(&dictionary, &lock, started);
  node.SetTimestampAndElapsed("x");

  EXPECT_FALSE(dictionary.HasKey("x"));
  EXPECT_EQ(2u, dictionary.size());
  std::string stamp;
  EXPECT_TRUE(dictionary.GetStringWithoutPathExpansion("x.time", &stamp));
  EXPECT_EQ(23u, stamp.size()) << stamp;
  const int elapsed = IntegerAt(dictionary, "x.elapsed");
  EXPECT_GE(elapsed, 1500);
  EXPECT_LT(elapsed, 1500 + 10000);
}

TEST(StatsNodeTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 500;
  StatsReport report;
  StatsNode root = report.root_node();
  std::unique_ptr<StatsNode> shared_entry = root.AddListEntry("shared");

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      StatsNode node = root;  // Copies share the report's lock.
      for (int i = 0; i < kRounds; ++i) {
        node.Increment("count");
        shared_entry->Increment("count");
        std::unique_ptr<StatsNode> entry = node.AddListEntry("events");
        entry->SetInteger("thread", t);
        entry->SetTimestampAndElapsed("at");
        node.SetString("last", "t" + std::to_string(t));
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  base::AutoLock hold(report.lock());
  const base::DictValue& dictionary = report.root();
  EXPECT_EQ(kThreads * kRounds, IntegerAt(dictionary, "count"));
  const base::ListValue* shared = nullptr;
  ASSERT_TRUE(dictionary.GetListWithoutPathExpansion("shared", &shared));
  const base::DictValue* shared_dictionary = nullptr;
  ASSERT_TRUE(shared->GetDictionary(0, &shared_dictionary));
  EXPECT_EQ(kThreads * kRounds, IntegerAt(*shared_dictionary, "count"));

  const base::ListValue* events = nullptr;
  ASSERT_TRUE(dictionary.GetListWithoutPathExpansion("events", &events));
  ASSERT_EQ(static_cast<size_t>(kThreads * kRounds), events->size());
  std::vector<int> per_thread(kThreads, 0);
  for (size_t i = 0; i < events->size(); ++i) {
    const base::DictValue* event = nullptr;
    ASSERT_TRUE(events->GetDictionary(i, &event));
    const int thread = IntegerAt(*event, "thread");
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << i;
    ++per_thread[thread];
    EXPECT_EQ(3u, event->size()) << i;
  }
  for (int count : per_thread)
    EXPECT_EQ(kRounds, count);
}

}  // namespace
}  // namespace installer
