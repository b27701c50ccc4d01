#include "base/trace_event/heap_profiler_deduplicators.h"

#include "base/json_string_escape.h"
#include "base/string_printf.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/traced_value.h"

namespace base::trace_event {

TypeNameDeduplicator::TypeNameDeduplicator() { type_ids_.emplace(std::string(), 0); }

int TypeNameDeduplicator::Insert(const char* type_name) {
  if (!type_name)
    return 0;
  auto [it, added] = type_ids_.emplace(type_name, static_cast<int>(type_ids_.size()));
  return it->second;
}

// static
std::string TypeNameDeduplicator::CleanTypeName(const std::string& type_name) {
  const size_t separator = type_name.find_last_of("\\/");
  if (separator != std::string::npos) {
    std::string folder = type_name.substr(0, separator);
    // "../../a/b.cc" names the folder "a".
    while (folder.compare(0, 2, "..") == 0)
      folder.erase(0, std::min<size_t>(3, folder.size()));
    return folder;
  }
  std::string name = type_name.substr(0, type_name.find(','));
  constexpr std::string_view kPrefix = "disabled-by-default-";
  if (name.compare(0, kPrefix.size(), kPrefix) == 0)
    name.erase(0, kPrefix.size());
  return name;
}

void TypeNameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  *out += "{\"0\":\"[unknown]\"";
  for (const auto& [name, id] : type_ids_) {
    if (id == 0)
      continue;
    AppendFormat(out, ",\"%d\":", id);
    EscapeJsonString(CleanTypeName(name), true, out);
  }
  *out += "}";
}

void TypeNameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add("TypeNameDeduplicator", type_ids_.size() * 16 + 24);
}

StackFrameDeduplicator::StackFrameDeduplicator() = default;

int StackFrameDeduplicator::Insert(const StackFrame* begin, const StackFrame* end) {
  int index = -1;
  for (const StackFrame* frame = begin; frame != end; ++frame) {
    // Looked up again on every step: adding a node moves the list.
    std::map<StackFrame, int>& level = index < 0 ? roots_ : frames_[index].children;
    auto it = level.find(*frame);
    if (it != level.end()) {
      index = it->second;
      continue;
    }
    const int new_index = static_cast<int>(frames_.size());
    level.emplace(*frame, new_index);
    frames_.push_back(FrameNode{*frame, index, {}});
    index = new_index;
  }
  return index;
}

void StackFrameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  *out += "{";
  for (size_t i = 0; i < frames_.size(); ++i) {
    const FrameNode& node = frames_[i];
    if (i > 0)
      *out += ",";
    AppendFormat(out, "\"%d\":", static_cast<int>(i));
    TracedValue value;
    switch (node.frame.kind) {
      case StackFrame::Kind::kTraceEventName:
        value.SetString("name", static_cast<const char*>(node.frame.value));
        break;
      case StackFrame::Kind::kThreadName:
        value.SetString("name",
                        FormatString("[Thread: %s]", static_cast<const char*>(node.frame.value)));
        break;
      case StackFrame::Kind::kProgramCounter:
        value.SetString(
            "name", FormatString("pc:%llx", static_cast<unsigned long long>(
                                                reinterpret_cast<uintptr_t>(node.frame.value))));
        break;
    }
    if (node.parent_frame_index >= 0)
      value.SetString("parent", FormatString("%d", node.parent_frame_index));
    value.AppendAsTraceFormat(out);
  }
  *out += "}";
}

void StackFrameDeduplicator::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  size_t children = 0;
  for (const FrameNode& node : frames_)
    children += node.children.size();
  const size_t links = (roots_.size() + children) * 24;
  overhead->Add("StackFrameDeduplicator", 1, 48 + frames_.capacity() * 40 + links,
                48 + frames_.size() * 40 + links);
}

}  // namespace base::trace_event
