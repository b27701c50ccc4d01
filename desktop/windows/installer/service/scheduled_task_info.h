// What a scheduled task runs, when, and for whom.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SCHEDULED_TASK_INFO_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SCHEDULED_TASK_INFO_H_

#include <cstdint>
#include <string>

#include "base/command_line.h"

namespace installer {

struct ScheduledTaskInfo {
  enum TriggerKind : int {
    kTriggerRunOnce = 0,  // One run, starting now.
    kTriggerDaily = 1,    // Every day, starting now.
    kTriggerNone = 2,     // No time trigger.
  };

  // The program and its arguments.
  base::CommandLine command_line;
  // The task is named TaskScheduler::GetTaskName(name_suffix).
  std::wstring name_suffix;
  std::wstring description;
  // Registered for every user (runs as the local system account) rather
  // than for the current user only.
  bool all_users = false;
  // How long one run may take before the scheduler stops it.
  uint32_t execution_time_limit_seconds = 0;
  TriggerKind trigger_kind = kTriggerNone;
  // Also run at start-up (all users) or when the user logs on (current user).
  bool boot_or_logon_trigger = false;
  // Start only while a network connection is available.
  bool run_only_if_network_available = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SCHEDULED_TASK_INFO_H_
