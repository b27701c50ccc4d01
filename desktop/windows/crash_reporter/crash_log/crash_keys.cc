#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"

namespace crash_reporter {

std::wstring_view CrashKeyText(const wchar_t (&units)[kCustomInfoTextUnits]) {
  size_t length = 0;
  while (length < kCustomInfoTextUnits && units[length] != L'\0')
    ++length;
  return std::wstring_view(units, length);
}

const CustomInfoEntry* FindCrashKeySlot(const CustomInfo& keys, std::wstring_view name) {
  for (size_t i = 0; keys.entries && i < keys.count; ++i) {
    if (CrashKeyText(keys.entries[i].name) == name)
      return &keys.entries[i];
  }
  return nullptr;
}

bool GetCrashKeyValue(const CustomInfo& keys, std::wstring_view name, std::wstring* value) {
  const CustomInfoEntry* entry = FindCrashKeySlot(keys, name);
  if (!entry)
    return false;
  value->assign(CrashKeyText(entry->value));
  return true;
}

bool JoinCrashKeyValues(const CustomInfo& keys, std::wstring_view name, std::wstring* value) {
  value->clear();
  for (size_t i = 0; keys.entries && i < keys.count; ++i) {
    if (CrashKeyText(keys.entries[i].name) == name)
      value->append(CrashKeyText(keys.entries[i].value));
  }
  return !value->empty();
}

std::wstring DetectCrashOrigin(const CustomInfo& keys) {
  std::wstring value;
  if (GetCrashKeyValue(keys, L"vlauto_test", &value) && !value.empty())
    return kAutomationOrigin;
  if (GetCrashKeyValue(keys, L"origin", &value) && value == kStressAutomationOrigin)
    return kStressAutomationOrigin;
  return std::wstring();
}

}  // namespace crash_reporter
