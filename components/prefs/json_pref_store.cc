#include "components/prefs/json_pref_store.h"

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/logging.h"
#include "components/prefs/suffixed_histogram.h"

namespace prefs {

namespace {

constexpr char kReadSizeHistogram[] = "Settings.JsonDataReadSizeKilobytes.";
constexpr char kWriteCountHistogram[] = "Settings.JsonDataWriteCount.";

std::string MakeHistogramSuffix(const base::FilePath& path) {
  std::string name = path.BaseName().RemoveExtension().AsUTF8Unsafe();
  for (char& c : name) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!keep)
      c = '_';
  }
  return name.empty() ? std::string("Unknown") : name;
}

}  // namespace

JsonPrefStore::JsonPrefStore(base::SharedRef<PrefsTaskPoolHolder> pool, const base::FilePath& path,
                             base::TimeSpan commit_interval)
    : path_(path),
      histogram_suffix_(MakeHistogramSuffix(path)),
      pool_(std::move(pool)),
      prefs_(std::make_unique<base::DictValue>()),
      writer_(std::make_unique<ImportantFileWriter>(
          path, pool_ ? pool_->GetSequenceForFile(path) : nullptr, commit_interval)) {
  if (!pool_)
    LOG(ERROR) << "JsonPrefStore over " << path.AsUTF8Unsafe()
               << " has no pool; it writes on its own thread";
  ReadFile();
}

JsonPrefStore::~JsonPrefStore() {
  CommitPendingWrite();
  ReportWriteCount();
}

void JsonPrefStore::ReadFile() {
  if (!base::PathExists(path_)) {
    read_error_ = kReadNoFile;
    return;
  }
  std::string contents;
  if (!base::ReadFileToString(path_, &contents)) {
    read_error_ = kReadAccessDenied;
    read_only_ = true;
    LOG(ERROR) << "Preferences in " << path_.AsUTF8Unsafe()
               << " cannot be read; the store is empty and never writes the file";
    return;
  }
  base::HistogramBase* size_histogram =
      GetSuffixedExponentialHistogram(kReadSizeHistogram + histogram_suffix_, 1, 10000, 50);
  if (size_histogram)
    size_histogram->Add(static_cast<base::HistogramSample>(contents.size() / 1024));

  int error_code = 0;
  std::string error_message;
  std::unique_ptr<base::Value> value =
      base::JsonReader::ReadAndReturnError(contents, &error_code, &error_message);
  base::DictValue* dict = nullptr;
  if (value && value->GetAsDictionary(&dict)) {
    prefs_.reset(static_cast<base::DictValue*>(value.release()));
    return;
  }
  read_error_ = value ? kReadJsonType : kReadJsonParse;
  LOG(ERROR) << "Preferences in " << path_.AsUTF8Unsafe() << " are unusable ("
             << (value ? std::string("not a dictionary") : error_message)
             << "); starting with an empty store";
  // Keep the old content: the next write replaces the file.
  const base::FilePath bad_copy = path_.AddExtension(L"bad");
  if (!base::CopySingleFile(path_, bad_copy)) {
    read_only_ = true;
    LOG(ERROR) << "The unusable " << path_.AsUTF8Unsafe()
               << " could not be copied aside; the store never writes it";
  }
}

bool JsonPrefStore::GetValue(std::string_view key, const base::Value** result) const {
  const base::Value* value = nullptr;
  if (!prefs_->Get(key, &value))
    return false;
  if (result)
    *result = value;
  return true;
}

void JsonPrefStore::AddObserver(Observer* observer) { observers_.AddObserver(observer); }

void JsonPrefStore::RemoveObserver(Observer* observer) { observers_.RemoveObserver(observer); }

bool JsonPrefStore::GetMutableValue(std::string_view key, base::Value** result) {
  base::Value* value = nullptr;
  if (!prefs_->Get(key, &value))
    return false;
  if (result)
    *result = value;
  return true;
}

void JsonPrefStore::ReportValueChanged(std::string_view key, uint32_t flags) {
  ScheduleWrite(flags);
  observers_.Notify(&Observer::OnPrefValueChanged, std::string(key));
}

void JsonPrefStore::SetValue(std::string_view key, std::unique_ptr<base::Value> value,
                             uint32_t flags) {
  if (!SetValueInternal(key, std::move(value)))
    return;
  ScheduleWrite(flags);
  observers_.Notify(&Observer::OnPrefValueChanged, std::string(key));
}

void JsonPrefStore::SetValueWithoutNotify(std::string_view key, std::unique_ptr<base::Value> value,
                                          uint32_t flags) {
  if (SetValueInternal(key, std::move(value)))
    ScheduleWrite(flags);
}

void JsonPrefStore::RemoveValue(std::string_view key, uint32_t flags) {
  if (!prefs_->Remove(key, nullptr))
    return;
  ScheduleWrite(flags);
  observers_.Notify(&Observer::OnPrefValueChanged, std::string(key));
}

bool JsonPrefStore::SetValueInternal(std::string_view key, std::unique_ptr<base::Value> value) {
  if (!value) {
    LOG(ERROR) << "JsonPrefStore: null value for \"" << key << "\" refused";
    return false;
  }
  const base::Value* old_value = nullptr;
  if (prefs_->Get(key, &old_value) && old_value->Equals(value.get()))
    return false;
  return prefs_->Set(key, std::move(value)) != nullptr;
}

void JsonPrefStore::ScheduleWrite(uint32_t flags) {
  if (read_only_)
    return;
  if (flags & kLossyWriteFlag) {
    pending_lossy_write_ = true;
    return;
  }
  writer_->ScheduleWrite(this);
}

void JsonPrefStore::CommitPendingWrite() {
  if (read_only_ || !HasPendingWrite())
    return;
  if (!writer_->HasPendingWrite())
    writer_->ScheduleWrite(this);
  writer_->DoScheduledWrite();
}

bool JsonPrefStore::HasPendingWrite() const {
  return writer_->HasPendingWrite() || pending_lossy_write_;
}

bool JsonPrefStore::SerializeData(std::string* data) {
  pending_lossy_write_ = false;
  if (!base::JsonWriter::WriteWithOptions(*prefs_, base::JsonWriter::kOptionsPrettyPrint, data))
    return false;  // Logged by the writer.
  CountWrite();
  return true;
}

void JsonPrefStore::CountWrite() {
  const base::MonotonicTime now = base::MonotonicTime::Now();
  if (last_report_time_.is_null())
    last_report_time_ = now;
  if (now - last_report_time_ >= kWriteCountReportInterval) {
    ReportWriteCount();
    last_report_time_ = now;
  }
  ++writes_since_report_;
}

void JsonPrefStore::ReportWriteCount() {
  if (writes_since_report_ == 0)
    return;
  // One bucket per possible count: at most one write per commit interval.
  const int64_t maximum = kWriteCountReportInterval.InMicroseconds() /
                          std::max<int64_t>(writer_->commit_interval().InMicroseconds(), 1);
  const base::HistogramSample max_writes =
      static_cast<base::HistogramSample>(std::clamp<int64_t>(maximum, 2, 10000));
  base::HistogramBase* histogram = GetSuffixedExponentialHistogram(
      kWriteCountHistogram + histogram_suffix_, 1, max_writes, max_writes + 1);
  if (histogram)
    histogram->Add(writes_since_report_);
  writes_since_report_ = 0;
}

base::SharedRef<JsonPrefStore> OpenJsonPrefStore(base::SharedRef<PrefsTaskPoolHolder> pool,
                                                 const base::FilePath& path) {
  return base::MakeShared<JsonPrefStore>(std::move(pool), path);
}

}  // namespace prefs
