// The product's scheduled tasks (the autoupdate task): creating, deleting,
// and clearing away tasks left behind by removed installations.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_

#include <memory>
#include <string>
#include <string_view>

#include "desktop/windows/installer/service/scheduled_task_info.h"

namespace installer {

class TaskScheduler {
 public:
  // The scheduler of this Windows. Task Scheduler 2.0 exists on Vista and
  // later; the installer refuses to start before Windows 7, so the 1.0
  // interface of older systems is never needed and has no implementation.
  static std::unique_ptr<TaskScheduler> Create();

  // The product name + " scheduled " + |suffix|.
  static std::wstring GetTaskName(std::wstring_view suffix);

  virtual ~TaskScheduler() = default;

  // Connects to the scheduler service; the other calls need it. COM must be
  // initialised on the calling thread.
  virtual bool Init() = 0;
  // Registers (or replaces) the task described by |info|.
  virtual bool CreateTask(const ScheduledTaskInfo& info) = 0;
  // Deletes the product's tasks whose program no longer exists: they belong
  // to installations that were removed without removing their task.
  virtual void DeleteStaleTasks() = 0;
  // Deletes the task GetTaskName(|name_suffix|). True when it is gone,
  // including when it did not exist.
  virtual bool DeleteTask(std::wstring_view name_suffix) = 0;

 protected:
  TaskScheduler() = default;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_
