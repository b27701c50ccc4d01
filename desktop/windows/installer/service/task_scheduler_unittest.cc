#include "desktop/windows/installer/service/task_scheduler.h"

#include <windows.h>

#include <taskschd.h>

#include <string>
#include <vector>

#include "base/files/path_registry.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// Reads the scheduler's state through its own interfaces, independently of
// the code under test.
class TaskReader {
 public:
  bool Connect() {
    const ScopedVariant none;
    const ScopedBstr root(L"\\");
    return SUCCEEDED(service_.CreateInstance(CLSID_TaskScheduler, IID_ITaskService,
                                             CLSCTX_INPROC_SERVER)) &&
           SUCCEEDED(service_->Connect(none.value(), none.value(), none.value(), none.value())) &&
           SUCCEEDED(service_->GetFolder(root.Get(), folder_.Receive()));
  }

  // The definition of the registered task |name|, or none.
  ComPtr<ITaskDefinition> Find(const std::wstring& name) {
    const ScopedBstr task_name(name);
    ComPtr<IRegisteredTask> task;
    ComPtr<ITaskDefinition> definition;
    if (SUCCEEDED(folder_->GetTask(task_name.Get(), task.Receive())))
      task->get_Definition(definition.Receive());
    return definition;
  }

  // Whether the scheduler can make a trigger of |kind| (Wine's knows only
  // daily triggers and answers E_NOTIMPL for the others).
  bool SupportsTrigger(TASK_TRIGGER_TYPE2 kind) {
    ComPtr<ITaskDefinition> definition;
    ComPtr<ITriggerCollection> triggers;
    ComPtr<ITrigger> trigger;
    return SUCCEEDED(service_->NewTask(0, definition.Receive())) &&
           SUCCEEDED(definition->get_Triggers(triggers.Receive())) &&
           triggers->Create(kind, trigger.Receive()) != E_NOTIMPL;
  }

  bool CanListTasks() {
    ComPtr<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    HRESULT hr = folder_->GetTasks(TASK_ENUM_HIDDEN, tasks.Receive());
    if (SUCCEEDED(hr))
      hr = tasks->get_Count(&count);
    return hr != E_NOTIMPL;
  }

  void Delete(const std::wstring& name) {
    const ScopedBstr task_name(name);
    folder_->DeleteTask(task_name.Get(), 0);
  }

 private:
  ComPtr<ITaskService> service_;
  ComPtr<ITaskFolder> folder_;
};

// The kinds of the definition's triggers, in order. False when the
// scheduler cannot tell (Wine's neither stores a registered task's triggers,
// actions or settings nor counts them: E_NOTIMPL).
bool TriggerKinds(ITaskDefinition* definition, std::vector<TASK_TRIGGER_TYPE2>* kinds_out) {
  std::vector<TASK_TRIGGER_TYPE2>& kinds = *kinds_out;
  ComPtr<ITriggerCollection> triggers;
  LONG count = 0;
  if (FAILED(definition->get_Triggers(triggers.Receive())))
    return false;
  const HRESULT hr = triggers->get_Count(&count);
  if (hr == E_NOTIMPL)
    return false;
  EXPECT_HRESULT_SUCCEEDED(hr);
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<ITrigger> trigger;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    if (SUCCEEDED(triggers->get_Item(i, trigger.Receive())) && SUCCEEDED(trigger->get_Type(&type)))
      kinds.push_back(type);
  }
  return true;
}

// The parts of a registered task made from |info| with a daily trigger.
void ExpectDailyTaskContents(ITaskDefinition* definition, const ScheduledTaskInfo& info) {
  ComPtr<ITriggerCollection> triggers;
  ComPtr<ITrigger> first;
  ComPtr<IDailyTrigger> daily;
  ASSERT_HRESULT_SUCCEEDED(definition->get_Triggers(triggers.Receive()));
  ASSERT_HRESULT_SUCCEEDED(triggers->get_Item(1, first.Receive()));
  ASSERT_HRESULT_SUCCEEDED(first.QueryInterface(IID_IDailyTrigger, &daily));
  short interval = 0;
  ASSERT_HRESULT_SUCCEEDED(daily->get_DaysInterval(&interval));
  EXPECT_EQ(interval, 1);

  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec;
  ASSERT_HRESULT_SUCCEEDED(definition->get_Actions(actions.Receive()));
  ASSERT_HRESULT_SUCCEEDED(actions->get_Item(1, action.Receive()));
  ASSERT_HRESULT_SUCCEEDED(action.QueryInterface(IID_IExecAction, &exec));
  ScopedBstr path;
  ScopedBstr arguments;
  ASSERT_HRESULT_SUCCEEDED(exec->get_Path(path.Receive()));
  ASSERT_HRESULT_SUCCEEDED(exec->get_Arguments(arguments.Receive()));
  EXPECT_EQ(path.view(), info.command_line.GetProgram().value());
  EXPECT_EQ(arguments.view(), info.command_line.GetArgumentsString());

  ComPtr<ITaskSettings> settings;
  ASSERT_HRESULT_SUCCEEDED(definition->get_Settings(settings.Receive()));
  ScopedBstr limit;
  ASSERT_HRESULT_SUCCEEDED(settings->get_ExecutionTimeLimit(limit.Receive()));
  EXPECT_EQ(limit.view(), L"PT" + std::to_wstring(info.execution_time_limit_seconds) + L"S");
  VARIANT_BOOL network = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(settings->get_RunOnlyIfNetworkAvailable(&network));
  EXPECT_EQ(network, info.run_only_if_network_available ? VARIANT_TRUE : VARIANT_FALSE);

  ComPtr<IRegistrationInfo> registration;
  ScopedBstr description;
  ASSERT_HRESULT_SUCCEEDED(definition->get_RegistrationInfo(registration.Receive()));
  ASSERT_HRESULT_SUCCEEDED(registration->get_Description(description.Receive()));
  EXPECT_EQ(description.view(), info.description);
}

class TaskSchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeFile, &test_exe_));
    ASSERT_TRUE(reader_.Connect());
    scheduler_ = TaskScheduler::Create();
    ASSERT_TRUE(scheduler_);
    ASSERT_TRUE(scheduler_->Init());
  }

  void TearDown() override {
    for (const std::wstring& suffix : suffixes_)
      reader_.Delete(TaskScheduler::GetTaskName(suffix));
  }

  // A task name suffix of this test and process (tests of several processes
  // share the scheduler), removed again at the end.
  std::wstring UniqueSuffix(const wchar_t* what) {
    std::wstring suffix =
        std::wstring(L"Test ") + what + L" " + std::to_wstring(::GetCurrentProcessId());
    suffixes_.push_back(suffix);
    return suffix;
  }

  ScheduledTaskInfo DailyTask(const std::wstring& suffix) {
    ScheduledTaskInfo info;
    info.command_line = base::CommandLine(test_exe_);
    info.command_line.AppendSwitch("scheduledautoupdate");
    info.command_line.AppendArg(L"$(Arg0)");
    info.name_suffix = suffix;
    info.description = L"Keeps the test up to date.";
    info.execution_time_limit_seconds = 3600;
    info.trigger_kind = ScheduledTaskInfo::kTriggerDaily;
    info.run_only_if_network_available = true;
    return info;
  }

  base::win::ScopedComInitializer com_;
  base::FilePath test_exe_;
  TaskReader reader_;
  std::unique_ptr<TaskScheduler> scheduler_;
  std::vector<std::wstring> suffixes_;
};

TEST_F(TaskSchedulerTest, TaskNamesStartWithTheProductName) {
  EXPECT_EQ(TaskScheduler::GetTaskName(L"Autoupdate 1234"),
            base::UTF8ToWide(GetProductName()) + L" scheduled Autoupdate 1234");
}

TEST_F(TaskSchedulerTest, DailyTaskIsRegisteredFoundAndDeleted) {
  const std::wstring suffix = UniqueSuffix(L"Daily");
  ScheduledTaskInfo info = DailyTask(suffix);
  // Also asks for a logon trigger, which not every scheduler implements;
  // the task must be registered either way.
  info.boot_or_logon_trigger = true;
  ASSERT_TRUE(scheduler_->CreateTask(info));

  const std::wstring name = TaskScheduler::GetTaskName(suffix);
  ComPtr<ITaskDefinition> definition = reader_.Find(name);
  ASSERT_TRUE(definition.IsValid()) << "task not registered: " << base::WideToUTF8(name);

  std::vector<TASK_TRIGGER_TYPE2> kinds;
  if (TriggerKinds(definition.Get(), &kinds)) {
    ExpectDailyTaskContents(definition.Get(), info);
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds[0], TASK_TRIGGER_DAILY);
    // The logon trigger, where the scheduler has one.
    EXPECT_EQ(kinds.size(), reader_.SupportsTrigger(TASK_TRIGGER_LOGON) ? 2u : 1u);
    if (kinds.size() > 1) {
      EXPECT_EQ(kinds[1], TASK_TRIGGER_LOGON);
    }

    // Registering again replaces the task.
    info.execution_time_limit_seconds = 60;
    ASSERT_TRUE(scheduler_->CreateTask(info));
    definition = reader_.Find(name);
    ASSERT_TRUE(definition.IsValid());
    ComPtr<ITaskSettings> settings;
    ScopedBstr limit;
    ASSERT_HRESULT_SUCCEEDED(definition->get_Settings(settings.Receive()));
    ASSERT_HRESULT_SUCCEEDED(settings->get_ExecutionTimeLimit(limit.Receive()));
    EXPECT_EQ(limit.view(), L"PT60S");
  } else {
    // Wine registers, finds and deletes the task but keeps none of its
    // contents, so they cannot be checked here.
    EXPECT_FALSE(reader_.SupportsTrigger(TASK_TRIGGER_LOGON));
  }

  EXPECT_TRUE(scheduler_->DeleteTask(suffix));
  EXPECT_FALSE(reader_.Find(name).IsValid());
  // Nothing left to delete still counts as deleted.
  EXPECT_TRUE(scheduler_->DeleteTask(suffix));
}

TEST_F(TaskSchedulerTest, TriggerKinds) {
  const std::wstring once = UniqueSuffix(L"Once");
  const std::wstring none = UniqueSuffix(L"None");
  ScheduledTaskInfo info = DailyTask(once);
  info.trigger_kind = ScheduledTaskInfo::kTriggerRunOnce;
  // A scheduler without one-time triggers (Wine's) refuses the task.
  const bool has_time_trigger = reader_.SupportsTrigger(TASK_TRIGGER_TIME);
  ASSERT_EQ(scheduler_->CreateTask(info), has_time_trigger);
  info.name_suffix = none;
  info.trigger_kind = ScheduledTaskInfo::kTriggerNone;
  ASSERT_TRUE(scheduler_->CreateTask(info));

  ComPtr<ITaskDefinition> once_definition = reader_.Find(TaskScheduler::GetTaskName(once));
  ComPtr<ITaskDefinition> none_definition = reader_.Find(TaskScheduler::GetTaskName(none));
  EXPECT_EQ(once_definition.IsValid(), has_time_trigger);
  ASSERT_TRUE(none_definition.IsValid());
  std::vector<TASK_TRIGGER_TYPE2> kinds;
  if (TriggerKinds(none_definition.Get(), &kinds)) {
    EXPECT_TRUE(kinds.empty());
  }
  if (has_time_trigger && TriggerKinds(once_definition.Get(), &kinds)) {
    EXPECT_EQ(kinds, std::vector<TASK_TRIGGER_TYPE2>{TASK_TRIGGER_TIME});
  }
}

TEST_F(TaskSchedulerTest, AllUsersTaskRunsAsTheSystemAccount) {
  const std::wstring suffix = UniqueSuffix(L"AllUsers");
  ScheduledTaskInfo info = DailyTask(suffix);
  info.all_users = true;
  info.boot_or_logon_trigger = true;
  ASSERT_TRUE(scheduler_->CreateTask(info));
  ComPtr<ITaskDefinition> definition = reader_.Find(TaskScheduler::GetTaskName(suffix));
  ASSERT_TRUE(definition.IsValid());
  std::vector<TASK_TRIGGER_TYPE2> kinds;
  if (TriggerKinds(definition.Get(), &kinds)) {
    ComPtr<IPrincipal> principal;
    TASK_LOGON_TYPE logon_type = TASK_LOGON_NONE;
    ASSERT_HRESULT_SUCCEEDED(definition->get_Principal(principal.Receive()));
    ASSERT_HRESULT_SUCCEEDED(principal->get_LogonType(&logon_type));
    EXPECT_EQ(logon_type, TASK_LOGON_SERVICE_ACCOUNT);
    EXPECT_EQ(kinds.size(), reader_.SupportsTrigger(TASK_TRIGGER_BOOT) ? 2u : 1u);
    if (kinds.size() > 1) {
      EXPECT_EQ(kinds[1], TASK_TRIGGER_BOOT);
    }
  }
  EXPECT_TRUE(scheduler_->DeleteTask(suffix));
  EXPECT_FALSE(reader_.Find(TaskScheduler::GetTaskName(suffix)).IsValid());
}

TEST_F(TaskSchedulerTest, RefusesBadRequests) {
  const std::wstring suffix = UniqueSuffix(L"Bad");
  ScheduledTaskInfo no_program = DailyTask(suffix);
  no_program.command_line = base::CommandLine();
  EXPECT_FALSE(scheduler_->CreateTask(no_program));
  ScheduledTaskInfo no_name = DailyTask(L"");
  EXPECT_FALSE(scheduler_->CreateTask(no_name));
  ScheduledTaskInfo bad_trigger = DailyTask(suffix);
  bad_trigger.trigger_kind = static_cast<ScheduledTaskInfo::TriggerKind>(5);
  EXPECT_FALSE(scheduler_->CreateTask(bad_trigger));
  EXPECT_FALSE(reader_.Find(TaskScheduler::GetTaskName(suffix)).IsValid());
  EXPECT_FALSE(scheduler_->DeleteTask(L""));

  // Nothing works before Init.
  std::unique_ptr<TaskScheduler> uninitialized = TaskScheduler::Create();
  EXPECT_FALSE(uninitialized->CreateTask(DailyTask(suffix)));
  EXPECT_FALSE(uninitialized->DeleteTask(suffix));
  uninitialized->DeleteStaleTasks();
  EXPECT_FALSE(reader_.Find(TaskScheduler::GetTaskName(suffix)).IsValid());
}

TEST_F(TaskSchedulerTest, DeleteStaleTasksRemovesOnlyTasksWhoseProgramIsGone) {
  const std::wstring live = UniqueSuffix(L"Live");
  const std::wstring stale = UniqueSuffix(L"Stale");
  ASSERT_TRUE(scheduler_->CreateTask(DailyTask(live)));
  ScheduledTaskInfo gone = DailyTask(stale);
  gone.command_line.SetProgram(test_exe_.DirName().Append(L"removed installation\\launcher.exe"));
  ASSERT_TRUE(scheduler_->CreateTask(gone));
  ASSERT_TRUE(reader_.Find(TaskScheduler::GetTaskName(stale)).IsValid());

  testing::ScopedLogCapture log;
  scheduler_->DeleteStaleTasks();

  EXPECT_TRUE(reader_.Find(TaskScheduler::GetTaskName(live)).IsValid());
  if (reader_.CanListTasks()) {
    EXPECT_FALSE(reader_.Find(TaskScheduler::GetTaskName(stale)).IsValid());
  } else {
    // Wine cannot list registered tasks (nor read their programs back):
    // nothing can be told stale, so nothing is deleted. That is the
    // platform's limit, which is no error of the run.
    EXPECT_TRUE(reader_.Find(TaskScheduler::GetTaskName(stale)).IsValid());
    EXPECT_EQ(log.text().find("ERROR:"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("does not list its tasks"), std::string::npos) << log.text();
  }
}

}  // namespace
}  // namespace installer
