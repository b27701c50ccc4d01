#include "desktop/windows/installer/stats_node.h"

#include <utility>

#include "base/logging.h"
#include "base/string_printf.h"

namespace installer {

StatsNode::StatsNode(base::DictValue* dictionary, base::Lock* lock, base::MonotonicTime start_time)
    : dictionary_(dictionary), lock_(lock), start_time_(start_time) {}

std::unique_ptr<StatsNode> StatsNode::AddListEntry(std::string_view key) {
  base::AutoLock hold(*lock_);
  base::ListValue* list = nullptr;
  if (!dictionary_->GetListWithoutPathExpansion(key, &list)) {
    auto new_list = std::make_unique<base::ListValue>();
    list = new_list.get();
    dictionary_->SetWithoutPathExpansion(key, std::move(new_list));
  }
  auto entry = std::make_unique<base::DictValue>();
  base::DictValue* entry_dictionary = entry.get();
  list->Append(std::move(entry));
  return std::make_unique<StatsNode>(entry_dictionary, lock_, start_time_);
}

void StatsNode::Increment(std::string_view key) {
  base::AutoLock hold(*lock_);
  int value = 0;
  dictionary_->GetIntegerWithoutPathExpansion(key, &value);
  dictionary_->SetIntegerWithoutPathExpansion(key, value + 1);
}

void StatsNode::SetString(std::string_view key, std::string_view utf8) {
  base::AutoLock hold(*lock_);
  dictionary_->SetStringWithoutPathExpansion(key, utf8);
}

void StatsNode::SetString(std::string_view key, std::wstring_view utf16) {
  base::AutoLock hold(*lock_);
  dictionary_->SetStringWithoutPathExpansion(key, utf16);
}

void StatsNode::SetInteger(std::string_view key, int32_t value) {
  base::AutoLock hold(*lock_);
  dictionary_->SetIntegerWithoutPathExpansion(key, value);
}

void StatsNode::Remove(std::string_view key) {
  base::AutoLock hold(*lock_);
  dictionary_->RemoveWithoutPathExpansion(key, nullptr);
}

void StatsNode::SetTimestamp(std::string_view key) {
  base::AutoLock hold(*lock_);
  std::string timestamp = CurrentTimestamp();
  if (!timestamp.empty())
    dictionary_->SetStringWithoutPathExpansion(key, timestamp);
}

void StatsNode::SetTimestampAndElapsed(std::string_view key) {
  base::AutoLock hold(*lock_);
  std::string timestamp = CurrentTimestamp();
  const int64_t elapsed = (base::MonotonicTime::Now() - start_time_).InMilliseconds();
  std::string prefix(key);
  if (!timestamp.empty())
    dictionary_->SetStringWithoutPathExpansion(prefix + ".time", timestamp);
  dictionary_->SetIntegerWithoutPathExpansion(prefix + ".elapsed", static_cast<int>(elapsed));
}

// static
std::string StatsNode::FormatTimestamp(const base::Time::Exploded& exploded) {
  return base::FormatString("%02d-%02d-%02d %02d:%02d:%02d.%03d", exploded.year, exploded.month,
                            exploded.day_of_month, exploded.hour, exploded.minute, exploded.second,
                            exploded.millisecond);
}

// static
std::string StatsNode::CurrentTimestamp() {
  base::Time::Exploded exploded;
  if (!base::Time::Now().Explode(/*is_local=*/false, &exploded)) {
    LOG(ERROR) << "Failed to break down the current time for a statistics time stamp";
    return std::string();
  }
  return FormatTimestamp(exploded);
}

StatsReport::StatsReport() : start_time_(base::MonotonicTime::Now()) {}

}  // namespace installer
