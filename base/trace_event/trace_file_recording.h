// Records a trace of the whole run into a file when the environment asks for
// it: with VELMO_TRACE_FILE set, recording starts when this object is built
// (categories from VELMO_TRACE_CATEGORIES, else the empty configuration) and
// the trace is written to "<VELMO_TRACE_FILE>.<pid>.json" when it goes away.
// Child processes inherit the environment and record their own files.
// Without the variable nothing changes.
#ifndef BASE_TRACE_EVENT_TRACE_FILE_RECORDING_H_
#define BASE_TRACE_EVENT_TRACE_FILE_RECORDING_H_

#include <string>

namespace base::trace_event {

class ScopedTraceFileRecording {
 public:
  ScopedTraceFileRecording();
  ScopedTraceFileRecording(const ScopedTraceFileRecording&) = delete;
  ScopedTraceFileRecording& operator=(const ScopedTraceFileRecording&) = delete;
  ~ScopedTraceFileRecording();

  bool recording() const { return !path_.empty(); }
  const std::wstring& path() const { return path_; }

 private:
  // The file to write, empty when not recording.
  std::wstring path_;
};

// Writes |contents| to a new file at |path|; an existing file is never
// overwritten. False (and logged) on failure.
bool WriteNewTraceFile(const std::wstring& path, const std::string& contents);

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_FILE_RECORDING_H_
