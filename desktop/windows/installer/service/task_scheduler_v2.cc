#include "desktop/windows/installer/service/task_scheduler_v2.h"

#include <windows.h>

#define SECURITY_WIN32
#include <security.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// mingw's taskschd.h lacks the logon trigger's interface; its methods follow
// those of ITrigger in this order.
struct LogonTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
constexpr IID kLogonTriggerIid = {0x72dade38,
                                  0xfae4,
                                  0x4b3e,
                                  {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};

// The local system account, which runs the tasks registered for all users.
constexpr wchar_t kSystemAccount[] = L"SYSTEM";

// The scheduler's time format, in local time: "2024-05-01T13:45:00".
std::wstring CurrentLocalTimeBoundary() {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  return base::FormatString16(L"%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                              now.wHour, now.wMinute, now.wSecond);
}

// "DOMAIN\user" of the calling thread's user; empty (logged) when unknown.
std::wstring CurrentUserSamName() {
  wchar_t name[512] = {};
  ULONG size = ARRAYSIZE(name);
  if (!::GetUserNameExW(NameSamCompatible, name, &size)) {
    PLOG(WARNING) << "Cannot read the current user's account name";
    return std::wstring();
  }
  return std::wstring(name, size);
}

// The program of an exec action as the file system knows it: environment
// variables expanded, surrounding quotes removed.
base::FilePath ActionProgramPath(std::wstring_view path) {
  std::wstring text(path);
  const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed > 0) {
    std::wstring expanded(needed, L'\0');
    const DWORD written = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written > 0 && written <= needed) {
      expanded.resize(written - 1);
      text = std::move(expanded);
    }
  }
  if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
    text = text.substr(1, text.size() - 2);
  return base::FilePath(text);
}

}  // namespace

TaskSchedulerV2::TaskSchedulerV2() = default;
TaskSchedulerV2::~TaskSchedulerV2() = default;

bool TaskSchedulerV2::IsInitialized() const {
  if (!root_folder_.IsValid()) {
    LOG(ERROR) << "The task scheduler is not initialised";
    return false;
  }
  return true;
}

bool TaskSchedulerV2::Init() {
  root_folder_.Reset();
  HRESULT hr = service_.CreateInstance(CLSID_TaskScheduler, IID_ITaskService, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create the task scheduler service object";
    return false;
  }
  // Empty arguments: the local computer, as the calling user.
  const ScopedVariant none;
  hr = service_->Connect(none.value(), none.value(), none.value(), none.value());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot connect to the task scheduler";
    service_.Reset();
    return false;
  }
  const ScopedBstr root(L"\\");
  hr = service_->GetFolder(root.Get(), root_folder_.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot open the task scheduler's root folder";
    service_.Reset();
    return false;
  }
  return true;
}

bool TaskSchedulerV2::SetRegistrationInfo(ITaskDefinition* definition,
                                          const ScheduledTaskInfo& info) {
  ComPtr<IRegistrationInfo> registration;
  HRESULT hr = definition->get_RegistrationInfo(registration.Receive());
  if (SUCCEEDED(hr)) {
    const ScopedBstr description(info.description);
    hr = registration->put_Description(description.Get());
  }
  if (SUCCEEDED(hr)) {
    const ScopedBstr author(base::UTF8ToWide(GetProductName()));
    hr = registration->put_Author(author.Get());
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the task's registration information";
    return false;
  }
  return true;
}

bool TaskSchedulerV2::SetSettings(ITaskDefinition* definition, const ScheduledTaskInfo& info) {
  ComPtr<ITaskSettings> settings;
  HRESULT hr = definition->get_Settings(settings.Receive());
  if (SUCCEEDED(hr)) {
    const ScopedBstr limit(
        base::FormatString16(L"PT%uS", static_cast<unsigned>(info.execution_time_limit_seconds)));
    hr = settings->put_ExecutionTimeLimit(limit.Get());
  }
  if (SUCCEEDED(hr)) {
    hr = settings->put_RunOnlyIfNetworkAvailable(
        info.run_only_if_network_available ? VARIANT_TRUE : VARIANT_FALSE);
  }
  // A run missed while the machine was off happens as soon as possible, and
  // laptops on battery still run it.
  if (SUCCEEDED(hr))
    hr = settings->put_StartWhenAvailable(VARIANT_TRUE);
  if (SUCCEEDED(hr))
    hr = settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
  if (SUCCEEDED(hr))
    hr = settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the task's settings";
    return false;
  }
  return true;
}

bool TaskSchedulerV2::SetTriggers(ITaskDefinition* definition, const ScheduledTaskInfo& info) {
  ComPtr<ITriggerCollection> triggers;
  HRESULT hr = definition->get_Triggers(triggers.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the task's trigger collection";
    return false;
  }

  if (info.trigger_kind == ScheduledTaskInfo::kTriggerRunOnce ||
      info.trigger_kind == ScheduledTaskInfo::kTriggerDaily) {
    const bool daily = info.trigger_kind == ScheduledTaskInfo::kTriggerDaily;
    ComPtr<ITrigger> trigger;
    hr = triggers->Create(daily ? TASK_TRIGGER_DAILY : TASK_TRIGGER_TIME, trigger.Receive());
    if (SUCCEEDED(hr)) {
      const ScopedBstr start(CurrentLocalTimeBoundary());
      hr = trigger->put_StartBoundary(start.Get());
    }
    if (SUCCEEDED(hr) && daily) {
      ComPtr<IDailyTrigger> daily_trigger;
      hr = trigger.QueryInterface(IID_IDailyTrigger, &daily_trigger);
      if (SUCCEEDED(hr))
        hr = daily_trigger->put_DaysInterval(1);
    }
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot add the task's " << (daily ? "daily" : "time") << " trigger";
      return false;
    }
  }

  if (info.boot_or_logon_trigger) {
    // For all users at start-up; for one user when that user logs on.
    ComPtr<ITrigger> trigger;
    hr = triggers->Create(info.all_users ? TASK_TRIGGER_BOOT : TASK_TRIGGER_LOGON,
                          trigger.Receive());
    if (hr == E_NOTIMPL) {
      // Some scheduler implementations (Wine's among them) know only the
      // time triggers. The start-up or logon run only makes the task run
      // sooner, so the task is still worth having without it.
      ELOG(WARNING, hr) << "The scheduler cannot run tasks at "
                        << (info.all_users ? "start-up" : "logon") << "; registering without it";
      return true;
    }
    if (SUCCEEDED(hr) && !info.all_users) {
      const std::wstring user = CurrentUserSamName();
      if (!user.empty()) {
        // Only this user's logon starts it.
        ComPtr<LogonTrigger> logon_trigger;
        hr = trigger.QueryInterface(kLogonTriggerIid, &logon_trigger);
        if (SUCCEEDED(hr)) {
          const ScopedBstr user_id(user);
          hr = logon_trigger->put_UserId(user_id.Get());
        }
      }
    }
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot add the task's " << (info.all_users ? "boot" : "logon")
                      << " trigger";
      return false;
    }
  }
  return true;
}

bool TaskSchedulerV2::SetAction(ITaskDefinition* definition, const ScheduledTaskInfo& info) {
  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec_action;
  HRESULT hr = definition->get_Actions(actions.Receive());
  if (SUCCEEDED(hr))
    hr = actions->Create(TASK_ACTION_EXEC, action.Receive());
  if (SUCCEEDED(hr))
    hr = action.QueryInterface(IID_IExecAction, &exec_action);
  if (SUCCEEDED(hr)) {
    const base::FilePath& program = info.command_line.GetProgram();
    const ScopedBstr path(program.value());
    hr = exec_action->put_Path(path.Get());
    if (SUCCEEDED(hr)) {
      const ScopedBstr arguments(info.command_line.GetArgumentsString());
      hr = exec_action->put_Arguments(arguments.Get());
    }
    if (SUCCEEDED(hr)) {
      const ScopedBstr folder(program.DirName().value());
      hr = exec_action->put_WorkingDirectory(folder.Get());
    }
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the task's program";
    return false;
  }
  return true;
}

bool TaskSchedulerV2::CreateTask(const ScheduledTaskInfo& info) {
  if (!IsInitialized())
    return false;
  if (info.command_line.GetProgram().empty() || info.name_suffix.empty()) {
    LOG(ERROR) << "A scheduled task needs a program and a name";
    return false;
  }
  if (info.trigger_kind != ScheduledTaskInfo::kTriggerRunOnce &&
      info.trigger_kind != ScheduledTaskInfo::kTriggerDaily &&
      info.trigger_kind != ScheduledTaskInfo::kTriggerNone) {
    LOG(ERROR) << "Unknown scheduled task trigger kind " << static_cast<int>(info.trigger_kind);
    return false;
  }
  const std::wstring name = GetTaskName(info.name_suffix);

  ComPtr<ITaskDefinition> definition;
  HRESULT hr = service_->NewTask(0, definition.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create a task definition";
    return false;
  }
  if (!SetRegistrationInfo(definition.Get(), info) || !SetSettings(definition.Get(), info) ||
      !SetTriggers(definition.Get(), info) || !SetAction(definition.Get(), info)) {
    return false;
  }

  // The account and logon type given here become the task's principal. All
  // users: the system account runs it whether anyone is logged on or not.
  // Otherwise it runs in the registering user's session with that user's
  // (limited) token, the default run level.
  const ScopedBstr task_name(name);
  const ScopedVariant user = info.all_users ? ScopedVariant(kSystemAccount) : ScopedVariant();
  const ScopedVariant none;
  ComPtr<IRegisteredTask> registered;
  hr = root_folder_->RegisterTaskDefinition(
      task_name.Get(), definition.Get(), TASK_CREATE_OR_UPDATE, user.value(), none.value(),
      info.all_users ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN, none.value(),
      registered.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot register the scheduled task " << name;
    return false;
  }
  return true;
}

bool TaskSchedulerV2::IsStale(IRegisteredTask* task) {
  ComPtr<ITaskDefinition> definition;
  ComPtr<IActionCollection> actions;
  LONG count = 0;
  HRESULT hr = task->get_Definition(definition.Receive());
  if (SUCCEEDED(hr))
    hr = definition->get_Actions(actions.Receive());
  if (SUCCEEDED(hr))
    hr = actions->get_Count(&count);
  if (FAILED(hr)) {
    // Unreadable is not proof of staleness: leave it alone.
    ELOG(ERROR, hr) << "Cannot read the actions of a scheduled task";
    return false;
  }
  for (LONG index = 1; index <= count; ++index) {
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec_action;
    ScopedBstr path;
    if (FAILED(actions->get_Item(index, action.Receive())) ||
        FAILED(action.QueryInterface(IID_IExecAction, &exec_action)) ||
        FAILED(exec_action->get_Path(path.Receive()))) {
      continue;
    }
    if (base::PathExists(ActionProgramPath(path.view())))
      return false;
  }
  // No program of the task exists (or it runs none): nothing would run.
  return true;
}

void TaskSchedulerV2::DeleteStaleTasks() {
  if (!IsInitialized())
    return;
  ComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  HRESULT hr = root_folder_->GetTasks(TASK_ENUM_HIDDEN, tasks.Receive());
  if (SUCCEEDED(hr))
    hr = tasks->get_Count(&count);
  if (FAILED(hr)) {
    if (hr == E_NOTIMPL) {
      // A limit of the platform, not a fault of this run (Wine's scheduler
      // registers and deletes tasks but cannot list them): with no list no
      // task can be told stale, so none is deleted.
      ELOG(WARNING, hr) << "The platform's task scheduler does not list its tasks; no stale task "
                           "deleted";
    } else {
      ELOG(ERROR, hr) << "Cannot list the scheduled tasks";
    }
    return;
  }
  const std::wstring prefix = GetTaskName(L"");
  std::vector<std::wstring> stale;
  for (LONG index = 1; index <= count; ++index) {
    ComPtr<IRegisteredTask> task;
    ScopedBstr name;
    const ScopedVariant item = ScopedVariant::FromInt32(index);
    hr = tasks->get_Item(item.value(), task.Receive());
    if (SUCCEEDED(hr))
      hr = task->get_Name(name.Receive());
    if (FAILED(hr)) {
      ELOG(ERROR, hr) << "Cannot read scheduled task " << index;
      continue;
    }
    if (base::StartsWith(name.view(), prefix, base::CompareCase::INSENSITIVE_ASCII) &&
        IsStale(task.Get())) {
      stale.emplace_back(name.view());
    }
  }
  // Deleted after the listing, which a deletion would change under it.
  for (const std::wstring& name : stale) {
    LOG(INFO) << "Deleting the stale scheduled task " << name;
    DeleteTaskNamed(name);
  }
}

bool TaskSchedulerV2::DeleteTaskNamed(const std::wstring& name) {
  const ScopedBstr task_name(name);
  const HRESULT hr = root_folder_->DeleteTask(task_name.Get(), 0);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    VLOG(1) << "No scheduled task " << name << " to delete";
    return true;
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot delete the scheduled task " << name;
    return false;
  }
  return true;
}

bool TaskSchedulerV2::DeleteTask(std::wstring_view name_suffix) {
  if (!IsInitialized())
    return false;
  if (name_suffix.empty()) {
    LOG(ERROR) << "No scheduled task name given";
    return false;
  }
  return DeleteTaskNamed(GetTaskName(name_suffix));
}

}  // namespace installer
