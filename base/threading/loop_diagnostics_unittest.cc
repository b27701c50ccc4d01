#include "base/threading/loop_diagnostics.h"

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "base/bind.h"
#include "base/json_reader.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/waitable_event.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using trace_event::TraceConfig;
using trace_event::TraceLog;

// The trace's events by name.
std::multimap<std::string, DictValue*> EventsByName(Value* root) {
  std::multimap<std::string, DictValue*> events;
  DictValue* dict = nullptr;
  ListValue* list = nullptr;
  if (!root || !root->GetAsDictionary(&dict) || !dict->GetList("traceEvents", &list))
    return events;
  for (size_t i = 0; i < list->size(); ++i) {
    DictValue* event = nullptr;
    std::string name;
    if (list->GetDictionary(i, &event) && event->GetString("name", &name))
      events.emplace(name, event);
  }
  return events;
}

void PostMessageToSelf() {
  // A window message through the UI pump's own handling.
  PostThreadMessageW(GetCurrentThreadId(), WM_USER + 7, 0, 0);
}

void Nothing() {}

TEST(LoopDiagnosticsTest, SitesCarryTheirArgumentsAndFlows) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("toplevel,base,disabled-by-default-toplevel.flow"),
                  TraceLog::kRecordUntilFull);
  {
    MessageLoop loop(MessageLoop::TYPE_UI);
    loop.task_runner()->PostTask(FROM_HERE, Bind(&PostMessageToSelf));
    loop.task_runner()->PostTask(FROM_HERE, Bind(&Nothing));
    LoopRunner().RunUntilIdle();

    SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(1, "TraceSitePool");
    WaitableEvent ran(WaitableEvent::ResetPolicy::kManual,
                      WaitableEvent::InitialState::kNotSignaled);
    pool->PostWorkerTask(FROM_HERE, Bind(&WaitableEvent::Signal, Unretained(&ran)));
    ASSERT_TRUE(ran.TimedWait(TimeSpan::FromSeconds(30)));
    pool->Shutdown();
  }
  std::unique_ptr<Value> root = JsonReader::Read(log->Flush());
  const std::multimap<std::string, DictValue*> events = EventsByName(root.get());
  ASSERT_FALSE(events.empty());

  std::string text;
  int number = 0;
  auto runs = events.equal_range("MessageLoop::RunTask");
  ASSERT_NE(runs.first, runs.second);
  for (auto it = runs.first; it != runs.second; ++it) {
    EXPECT_TRUE(it->second->GetString("args.src_file", &text));
    EXPECT_NE(std::string::npos, text.find("loop_diagnostics_unittest.cc"));
    EXPECT_TRUE(it->second->GetString("args.src_func", &text));
  }

  // Each posted loop task: a flow out where it was posted and a flow in
  // (with its wait) where it ran, bound by the same id.
  std::set<std::string> outs, ins;
  auto posts = events.equal_range("MessageLoop::PostTask");
  for (auto it = posts.first; it != posts.second; ++it) {
    bool flag = false;
    std::string bind_id, id;
    ASSERT_TRUE(it->second->GetString("bind_id", &bind_id));
    EXPECT_TRUE(it->second->GetString("id", &id));
    EXPECT_EQ(id, bind_id);
    if (it->second->GetBoolean("flow_out", &flag) && flag)
      outs.insert(bind_id);
    if (it->second->GetBoolean("flow_in", &flag) && flag) {
      EXPECT_TRUE(it->second->GetInteger("args.queue_duration", &number));
      EXPECT_GE(number, 0);
      ins.insert(bind_id);
    }
  }
  EXPECT_GE(ins.size(), 2u);
  EXPECT_EQ(outs, ins);

  bool saw_message = false;
  auto messages = events.equal_range("UIMessagePump::ProcessMessageHelper");
  for (auto it = messages.first; it != messages.second; ++it) {
    EXPECT_TRUE(it->second->GetInteger("args.message", &number));
    saw_message = saw_message || number == WM_USER + 7;
  }
  EXPECT_TRUE(saw_message);

  // The pool: the queueing and the taking are two sites of one flow; the
  // run is its own "toplevel" site.
  bool pool_out = false, pool_in = false;
  auto pool_posts = events.equal_range("SequencedWorkerPool::Inner::PostTask");
  for (auto it = pool_posts.first; it != pool_posts.second; ++it) {
    bool flag = false;
    pool_out = pool_out || (it->second->GetBoolean("flow_out", &flag) && flag);
    pool_in = pool_in || (it->second->GetBoolean("flow_in", &flag) && flag);
  }
  EXPECT_TRUE(pool_out);
  EXPECT_TRUE(pool_in);
  auto pool_runs = events.equal_range("SequencedWorkerPool::Inner::ThreadLoop");
  ASSERT_NE(pool_runs.first, pool_runs.second);
  EXPECT_TRUE(pool_runs.first->second->GetString("args.src_func", &text));
  std::string category;
  EXPECT_TRUE(pool_runs.first->second->GetString("cat", &category));
  EXPECT_EQ("toplevel", category);
}

}  // namespace
}  // namespace base
