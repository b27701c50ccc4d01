// The heap-profiler metadata that memory dumps write into the trace: type
// names and stack frames, each stored once and referred to by number.
#ifndef BASE_TRACE_EVENT_HEAP_PROFILER_DEDUPLICATORS_H_
#define BASE_TRACE_EVENT_HEAP_PROFILER_DEDUPLICATORS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/trace_event/trace_event.h"

namespace base::trace_event {

class TypeNameDeduplicator : public ConvertableToTraceFormat {
 public:
  TypeNameDeduplicator();

  // The id of |type_name| (null: no type, id 0), added when new.
  int Insert(const char* type_name);

  // {"0":"[unknown]","<id>":"<cleaned name>",...}
  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

  // The name as it goes out: a path becomes its folder (without leading
  // parent steps), a category list its first category without the
  // "disabled-by-default-" prefix.
  static std::string CleanTypeName(const std::string& type_name);

 private:
  // "" stands for "no type".
  std::map<std::string, int> type_ids_;
};

class StackFrameDeduplicator : public ConvertableToTraceFormat {
 public:
  struct StackFrame {
    enum class Kind { kTraceEventName = 0, kThreadName = 1, kProgramCounter = 2 };
    Kind kind = Kind::kTraceEventName;
    // Text for names, address for a program counter.
    const void* value = nullptr;
    bool operator<(const StackFrame& other) const {
      return kind != other.kind ? kind < other.kind : value < other.value;
    }
  };

  struct FrameNode {
    StackFrame frame;
    int parent_frame_index = -1;
    std::map<StackFrame, int> children;
  };

  StackFrameDeduplicator();

  // The index of the last frame of the stack [begin, end) (outermost
  // first), adding the frames that are new; -1 for an empty stack.
  int Insert(const StackFrame* begin, const StackFrame* end);
  const std::vector<FrameNode>& frames() const { return frames_; }

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  std::vector<FrameNode> frames_;
  std::map<StackFrame, int> roots_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_HEAP_PROFILER_DEDUPLICATORS_H_
