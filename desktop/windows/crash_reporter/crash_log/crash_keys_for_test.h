// Crash keys as a crashed process hands them over, built from name/value
// pairs; a text of 64 units or more fills its field without a terminator.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_FOR_TEST_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_FOR_TEST_H_

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

class TestCrashKeys {
 public:
  TestCrashKeys(std::initializer_list<std::pair<std::wstring, std::wstring>> pairs) {
    for (const auto& [name, value] : pairs)
      Add(name, value);
  }
  void Add(const std::wstring& name, const std::wstring& value) {
    CustomInfoEntry entry;
    // Stale units after the terminator must never be read.
    wmemset(entry.name, L'#', kCustomInfoTextUnits);
    wmemset(entry.value, L'#', kCustomInfoTextUnits);
    Copy(name, entry.name);
    Copy(value, entry.value);
    entries_.push_back(entry);
  }
  CustomInfo info() const { return CustomInfo{entries_.data(), entries_.size()}; }

 private:
  static void Copy(const std::wstring& text, wchar_t (&units)[kCustomInfoTextUnits]) {
    size_t length = text.size() < kCustomInfoTextUnits ? text.size() : kCustomInfoTextUnits;
    wmemcpy(units, text.data(), length);
    if (length < kCustomInfoTextUnits)
      units[length] = L'\0';
  }
  std::vector<CustomInfoEntry> entries_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_KEYS_FOR_TEST_H_
