#include "desktop/common/autoupdate/updatechecker/fallback_storage.h"

#include <utility>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "base/threading/waitable_event.h"
#include "components/prefs/important_file_writer.h"

namespace autoupdate {

FallbackStorage::FallbackStorage(const base::FilePath& path)
    : path_(path), prefs_(std::make_unique<base::DictValue>()) {
  if (!thread_.Start())
    LOG(ERROR) << "[AU] GS: No " << kThreadName << "; the fallback file is read here";
  RunOnFileThread(base::Bind([this] { ReadFile(); }));
}

FallbackStorage::~FallbackStorage() { thread_.Stop(); }

void FallbackStorage::RunOnFileThread(base::Closure task) {
  if (thread_.IsRunning() && thread_.task_runner()) {
    base::WaitableEvent done(base::WaitableEvent::ResetPolicy::kManual,
                             base::WaitableEvent::InitialState::kNotSignaled);
    // |task| and |done| outlive the run: this thread waits for it.
    base::Closure* task_pointer = &task;
    if (thread_.task_runner()->PostTask(FROM_HERE, base::Bind([task_pointer, &done] {
                                          task_pointer->Run();
                                          done.Signal();
                                        }))) {
      done.Wait();
      return;
    }
    LOG(ERROR) << "[AU] GS: " << kThreadName << " refused a task; running it here";
  }
  task.Run();
}

void FallbackStorage::ReadFile() {
  if (!base::PathExists(path_))
    return;  // No values yet.
  std::string contents;
  if (!base::ReadFileToString(path_, &contents)) {
    LOG(ERROR) << "[AU] GS: The fallback file " << path_.AsUTF8Unsafe()
               << " cannot be read; it is left untouched";
    read_state_ = ReadState::kUnreadable;
    return;
  }
  std::unique_ptr<base::Value> value = base::JsonReader::Read(contents);
  base::DictValue* dict = nullptr;
  if (value && value->GetAsDictionary(&dict)) {
    prefs_.reset(static_cast<base::DictValue*>(value.release()));
    return;
  }
  // Keep the unusable content: the next write replaces the file.
  const base::FilePath bad_copy = path_.AddExtension(L"bad");
  if (!base::CopySingleFile(path_, bad_copy)) {
    LOG(ERROR) << "[AU] GS: The fallback file " << path_.AsUTF8Unsafe()
               << " is no JSON object and could not be copied aside; it is left untouched";
    read_state_ = ReadState::kUnreadable;
    return;
  }
  LOG(ERROR) << "[AU] GS: The fallback file " << path_.AsUTF8Unsafe()
             << " is no JSON object; its content was copied to " << bad_copy.AsUTF8Unsafe();
  read_state_ = ReadState::kCorrupt;
}

bool FallbackStorage::GetValues(const base::DictValue** values) const {
  *values = nullptr;
  if (read_state_ != ReadState::kOk) {
    LOG(ERROR) << "[AU] GS: The fallback file " << path_.AsUTF8Unsafe() << " is "
               << (read_state_ == ReadState::kCorrupt ? "corrupt" : "unreadable");
    return false;
  }
  const base::Value* stored = nullptr;
  if (!prefs_->GetWithoutPathExpansion(kValuesKey, &stored))
    return true;
  if (!stored->GetAsDictionary(values)) {
    LOG(ERROR) << "[AU] GS: \"" << kValuesKey << "\" of " << path_.AsUTF8Unsafe()
               << " is no object";
    return false;
  }
  return true;
}

bool FallbackStorage::ReadFallbackValue(std::string_view name, std::string* value) const {
  value->clear();
  const base::DictValue* values = nullptr;
  if (!GetValues(&values))
    return false;
  const base::Value* stored = nullptr;
  if (!values || !values->GetWithoutPathExpansion(name, &stored))
    return true;
  std::string text;
  if (!stored->GetAsString(&text) || !base::IsStringASCII(text)) {
    LOG(ERROR) << "[AU] GS: The fallback value \"" << name << "\" is no ASCII string";
    return false;
  }
  *value = std::move(text);
  return true;
}

bool FallbackStorage::ReadFallbackDictionary(std::unique_ptr<base::DictValue>* values) const {
  values->reset();
  const base::DictValue* stored = nullptr;
  if (!GetValues(&stored))
    return false;
  *values = stored ? stored->CreateDeepCopyDict() : std::make_unique<base::DictValue>();
  return true;
}

bool FallbackStorage::WriteFallbackValue(std::string_view name, std::string_view value) {
  if (read_only()) {
    LOG(ERROR) << "[AU] GS: The fallback file " << path_.AsUTF8Unsafe()
               << " could not be read; it is not overwritten";
    return false;
  }
  std::unique_ptr<base::DictValue> values;
  const base::Value* stored = nullptr;
  const base::DictValue* stored_dict = nullptr;
  if (prefs_->GetWithoutPathExpansion(kValuesKey, &stored)) {
    if (stored->GetAsDictionary(&stored_dict)) {
      values = stored_dict->CreateDeepCopyDict();
    } else {
      // It holds no name/value pairs: nothing of ours is lost by replacing it.
      LOG(WARNING) << "[AU] GS: \"" << kValuesKey << "\" of " << path_.AsUTF8Unsafe()
                   << " is no object; it is replaced";
    }
  }
  if (!values)
    values = std::make_unique<base::DictValue>();

  if (value.empty()) {
    if (!values->RemoveWithoutPathExpansion(name, nullptr))
      return true;  // Nothing to remove.
  } else {
    std::string current;
    if (stored_dict && stored_dict->GetStringWithoutPathExpansion(name, &current) &&
        current == value) {
      return true;  // Already stored.
    }
    values->SetStringWithoutPathExpansion(name, value);
  }

  // Built on a copy, so that the store stays as the file is should the
  // write fail.
  std::unique_ptr<base::DictValue> updated = prefs_->CreateDeepCopyDict();
  updated->SetWithoutPathExpansion(kValuesKey, std::move(values));
  std::string data;
  if (!base::JsonWriter::WriteWithOptions(*updated, base::JsonWriter::kOptionsPrettyPrint, &data)) {
    LOG(ERROR) << "[AU] GS: The fallback values could not be serialised";
    return false;
  }
  bool written = false;
  RunOnFileThread(base::Bind([this, &data, &written] {
    written = prefs::ImportantFileWriter::WriteFileAtomically(path_, data);
  }));
  if (!written)
    return false;  // Logged by the writer.
  prefs_ = std::move(updated);
  read_state_ = ReadState::kOk;
  return true;
}

}  // namespace autoupdate
