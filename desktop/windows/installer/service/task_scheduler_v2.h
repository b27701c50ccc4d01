// The product's scheduled tasks through the Task Scheduler 2.0 interfaces
// (ITaskService), in the scheduler's root folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_

#include <windows.h>

#include <taskschd.h>

#include <string_view>

#include "base/win/scoped_com.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

class TaskSchedulerV2 : public TaskScheduler {
 public:
  TaskSchedulerV2();
  TaskSchedulerV2(const TaskSchedulerV2&) = delete;
  TaskSchedulerV2& operator=(const TaskSchedulerV2&) = delete;
  ~TaskSchedulerV2() override;

  bool Init() override;
  bool CreateTask(const ScheduledTaskInfo& info) override;
  void DeleteStaleTasks() override;
  bool DeleteTask(std::wstring_view name_suffix) override;

 private:
  bool IsInitialized() const;
  // Fills the parts of a new task definition.
  bool SetRegistrationInfo(ITaskDefinition* definition, const ScheduledTaskInfo& info);
  bool SetSettings(ITaskDefinition* definition, const ScheduledTaskInfo& info);
  bool SetTriggers(ITaskDefinition* definition, const ScheduledTaskInfo& info);
  bool SetAction(ITaskDefinition* definition, const ScheduledTaskInfo& info);
  // True when the task's program no longer exists.
  bool IsStale(IRegisteredTask* task);
  bool DeleteTaskNamed(const std::wstring& name);

  base::win::ComPtr<ITaskService> service_;
  base::win::ComPtr<ITaskFolder> root_folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
