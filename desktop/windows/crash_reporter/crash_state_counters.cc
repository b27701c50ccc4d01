#include "desktop/windows/crash_reporter/crash_state_counters.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/json_file_deserializer.h"
#include "base/json_writer.h"
#include "base/logging.h"
#include "base/values.h"

namespace crash_reporter {

CrashStateCounters::CrashStateCounters(base::FilePath path, DWORD retry_delay_ms)
    : path_(std::move(path)),
      retry_delay_ms_(retry_delay_ms),
      wake_event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      thread_("CrashStateCounters",
              base::Bind(&CrashStateCounters::ThreadMain, base::Unretained(this))) {
  if (!wake_event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the crash counters' event";
    return;
  }
  thread_.Start();
}

CrashStateCounters::~CrashStateCounters() {
  {
    base::AutoLock lock(lock_);
    stop_ = true;
  }
  if (wake_event_.IsValid())
    ::SetEvent(wake_event_.Get());
  thread_.Join();
}

void CrashStateCounters::Increment(const std::string& key, uint32_t n, bool wake) {
  {
    base::AutoLock lock(lock_);
    pending_[key] += n;
  }
  if (wake && wake_event_.IsValid())
    ::SetEvent(wake_event_.Get());
}

void CrashStateCounters::ThreadMain() {
  int failures = 0;
  for (;;) {
    ::WaitForSingleObject(wake_event_.Get(), INFINITE);
    {
      base::AutoLock lock(lock_);
      if (stop_)
        break;
    }
    if (Flush()) {
      failures = 0;
      continue;
    }
    // A file held open by someone else is usually free again a moment
    // later; after a few tries the counts wait for the next crash.
    if (++failures <= kMaxFlushRetries) {
      ::SetEvent(wake_event_.Get());
      ::Sleep(retry_delay_ms_);
    } else {
      failures = 0;
    }
  }
  for (int attempt = 0; attempt < kFinalFlushAttempts; ++attempt) {
    {
      base::AutoLock lock(lock_);
      if (pending_.empty())
        return;
    }
    if (attempt > 0)
      ::Sleep(kFinalFlushDelayMs);
    if (Flush())
      return;
  }
}

bool CrashStateCounters::Flush() {
  Counts counts;
  {
    base::AutoLock lock(lock_);
    counts.swap(pending_);
  }
  if (counts.empty())
    return true;
  if (WriteCounts(path_, counts))
    return true;
  base::AutoLock lock(lock_);
  for (const auto& [key, n] : counts)
    pending_[key] += n;
  return false;
}

bool CrashStateCounters::WriteCounts(const base::FilePath& path, const Counts& counts) {
  if (path.empty())
    return false;
  base::File file(path, base::File::FLAG_OPEN_ALWAYS | base::File::FLAG_READ |
                            base::File::FLAG_WRITE | base::File::FLAG_EXCLUSIVE_READ |
                            base::File::FLAG_EXCLUSIVE_WRITE);
  if (!file.IsValid())
    return false;

  Counts stored;
  if (!file.created()) {
    std::string text;
    char buffer[4096];
    int64_t offset = 0;
    for (;;) {
      const int read = file.Read(offset, buffer, sizeof(buffer));
      if (read < 0)
        return false;
      if (read == 0)
        break;
      text.append(buffer, static_cast<size_t>(read));
      offset += read;
    }
    // An empty file is what an interrupted write leaves behind: reading it
    // as no counts lets the next write repair it instead of failing forever.
    if (!text.empty()) {
      std::unique_ptr<base::Value> value =
          base::JsonStringDeserializer(std::move(text)).Deserialize(nullptr, nullptr);
      const base::DictValue* dict = nullptr;
      if (!value || !value->GetAsDictionary(&dict))
        return false;
      for (base::DictValue::Iterator it(*dict); !it.IsAtEnd(); it.Advance()) {
        int count = 0;
        if (it.value().GetAsInteger(&count))
          stored[it.key()] = static_cast<uint32_t>(count);
      }
    }
  }
  for (const auto& [key, n] : counts)
    stored[key] += n;

  base::DictValue result;
  for (const auto& [key, n] : stored)
    result.SetIntegerWithoutPathExpansion(key, static_cast<int>(n));
  std::string json;
  if (!base::JsonWriter::Write(result, &json))
    return false;
  // Written over the old text first and cut afterwards, so that a failed
  // write never leaves an empty file in place of the counts.
  const int written = file.Write(0, json.data(), static_cast<int>(json.size()));
  if (written != static_cast<int>(json.size()))
    return false;
  return file.SetLength(written);
}

}  // namespace crash_reporter
