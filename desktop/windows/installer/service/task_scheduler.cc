#include "desktop/windows/installer/service/task_scheduler.h"

#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/task_scheduler_v2.h"

namespace installer {

std::unique_ptr<TaskScheduler> TaskScheduler::Create() {
  return std::make_unique<TaskSchedulerV2>();
}

std::wstring TaskScheduler::GetTaskName(std::wstring_view suffix) {
  std::wstring name = base::UTF8ToWide(GetProductName());
  name += L" scheduled ";
  name += suffix;
  return name;
}

}  // namespace installer
