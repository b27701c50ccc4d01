// The header strings and metadata of one crash log.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_INFO_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_INFO_H_

#include <string>
#include <utility>
#include <vector>

namespace crash_reporter {

struct CrashInfo {
  std::string product_suffix;
  std::string version;
  std::string build;
  // UTF-8 name/value pairs in the order they are written.
  std::vector<std::pair<std::string, std::string>> metadata;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_INFO_H_
