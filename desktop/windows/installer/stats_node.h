// Usage statistics of one installer run, recorded into one JSON report.
//
// StatsReport owns the report (the statistics sender owns the StatsReport and
// reads or serialises the tree under lock()). Everything that records
// statistics writes through StatsNode handles: small copyable values over one
// dictionary of the report, sharing the report's lock and start time. Every
// operation of a node holds the lock for its whole duration, so nodes may be
// used from any thread. A node must not outlive its report, nor be used after
// the dictionary it points into was removed from the tree.
//
// Keys are plain keys of one dictionary: "download.time" is one key, not a
// path into a "download" object.
#ifndef DESKTOP_WINDOWS_INSTALLER_STATS_NODE_H_
#define DESKTOP_WINDOWS_INSTALLER_STATS_NODE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/threading/lock.h"
#include "base/time.h"
#include "base/values.h"

namespace installer {

class StatsNode {
 public:
  // A node over |dictionary|, guarded by |lock|; elapsed times count from
  // |start_time|. Nothing is owned.
  StatsNode(base::DictValue* dictionary, base::Lock* lock, base::MonotonicTime start_time);
  StatsNode(const StatsNode&) = default;
  StatsNode& operator=(const StatsNode&) = default;

  // Appends a new empty dictionary to the list at |key| (created when
  // missing; any other value there is replaced by a new list) and returns a
  // node over it with this node's lock and start time.
  std::unique_ptr<StatsNode> AddListEntry(std::string_view key);

  // The integer at |key| plus one; a missing (or non-integer) value counts
  // as 0.
  void Increment(std::string_view key);

  void SetString(std::string_view key, std::string_view utf8);
  void SetString(std::string_view key, std::wstring_view utf16);
  // Also for 0/1 flags.
  void SetInteger(std::string_view key, int32_t value);
  void Remove(std::string_view key);

  // |key| := the current UTC time, formatted by FormatTimestamp.
  void SetTimestamp(std::string_view key);
  // "<key>.time" := the current UTC time and "<key>.elapsed" := the whole
  // milliseconds since the start time. No key "<key>" is written.
  void SetTimestampAndElapsed(std::string_view key);

  // "YYYY-MM-DD hh:mm:ss.mmm", as in "2017-02-17 17:05:03.042".
  static std::string FormatTimestamp(const base::Time::Exploded& exploded);

  base::MonotonicTime start_time() const { return start_time_; }

 private:
  // The current time formatted; empty (and logged) when it cannot be
  // broken down.
  static std::string CurrentTimestamp();

  base::DictValue* dictionary_;
  base::Lock* lock_;
  base::MonotonicTime start_time_;
};

// The report of one run: the tree, its lock and the time the run started.
class StatsReport {
 public:
  StatsReport();
  StatsReport(const StatsReport&) = delete;
  StatsReport& operator=(const StatsReport&) = delete;

  // A node over the top level of the report.
  StatsNode root_node() { return StatsNode(&root_, &lock_, start_time_); }

  // Hold lock() while reading root().
  base::Lock& lock() { return lock_; }
  const base::DictValue& root() const { return root_; }
  base::MonotonicTime start_time() const { return start_time_; }

 private:
  base::Lock lock_;
  base::DictValue root_;
  const base::MonotonicTime start_time_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATS_NODE_H_
