#include "base/trace_event/trace_event.h"

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/json_string_escape.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base::trace_event {
namespace {

size_t CopiedLength(const char* text) { return text ? std::strlen(text) + 1 : 0; }

// Copies |*text| to |*cursor| and points |*text| at the copy. A null text
// stays null and takes no room.
void CopyInto(const char** text, char** cursor) {
  if (!*text)
    return;
  const size_t length = std::strlen(*text) + 1;
  std::memcpy(*cursor, *text, length);
  *text = *cursor;
  *cursor += length;
}

void AppendEscaped(const char* text, std::string* out) {
  EscapeJsonString(std::string_view(text ? text : ""), true, out);
}

}  // namespace

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kOverheadConvertableUnknown, 1, sizeof(void*), sizeof(void*));
}

TraceEvent::~TraceEvent() = default;

const char* TraceEvent::category_name() const {
  return category_ && category_->name() ? category_->name() : "";
}

void TraceEvent::Initialize(int thread_id, int64_t timestamp, int64_t thread_timestamp, char phase,
                            const TraceCategory* category, const char* name, const char* scope,
                            uint64_t id, uint64_t bind_id, int num_args,
                            const char* const* arg_names, const uint8_t* arg_types,
                            const uint64_t* arg_values,
                            std::unique_ptr<ConvertableToTraceFormat>* convertables,
                            uint32_t flags) {
  timestamp_ = timestamp;
  thread_timestamp_ = thread_timestamp;
  // A recycled slot must not print the previous event's durations.
  duration_ = -1;
  thread_duration_ = -1;
  scope_ = scope;
  id_ = id;
  category_ = category;
  phase_ = phase;
  bind_id_ = bind_id;
  thread_id_ = thread_id;
  name_ = name;
  flags_ = flags;

  const int count = num_args < 0 ? 0 : (num_args > kTraceMaxNumArgs ? kTraceMaxNumArgs : num_args);
  int i = 0;
  for (; i < count; ++i) {
    arg_names_[i] = arg_names[i];
    arg_types_[i] = arg_types[i];
    if (arg_types[i] == TRACE_VALUE_TYPE_CONVERTABLE) {
      convertables_[i] = std::move(convertables[i]);
      arg_values_[i] = 0;
    } else {
      arg_values_[i] = arg_values[i];
      convertables_[i].reset();
    }
  }
  for (; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = nullptr;
    arg_values_[i] = 0;
    arg_types_[i] = TRACE_VALUE_TYPE_UINT;
    convertables_[i].reset();
  }

  const bool copy = (flags & kTraceEventFlagCopy) != 0;
  size_t total = 0;
  if (copy) {
    total += CopiedLength(name_) + CopiedLength(scope_);
    for (i = 0; i < count; ++i)
      total += CopiedLength(arg_names_[i]);
  }
  for (i = 0; i < count; ++i) {
    if (copy && arg_types_[i] == TRACE_VALUE_TYPE_STRING)
      arg_types_[i] = TRACE_VALUE_TYPE_COPY_STRING;
    if (arg_types_[i] == TRACE_VALUE_TYPE_COPY_STRING)
      total += CopiedLength(reinterpret_cast<const char*>(arg_values_[i]));
  }
  if (total == 0) {
    copied_strings_.reset();
    return;
  }
  copied_strings_ = std::make_unique<std::string>(total, '\0');
  char* cursor = copied_strings_->data();
  if (copy) {
    CopyInto(&name_, &cursor);
    CopyInto(&scope_, &cursor);
    for (i = 0; i < count; ++i)
      CopyInto(&arg_names_[i], &cursor);
  }
  for (i = 0; i < count; ++i) {
    if (arg_types_[i] != TRACE_VALUE_TYPE_COPY_STRING)
      continue;
    const char* text = reinterpret_cast<const char*>(arg_values_[i]);
    CopyInto(&text, &cursor);
    arg_values_[i] = reinterpret_cast<uintptr_t>(text);
  }
}

void TraceEvent::MoveFrom(std::unique_ptr<TraceEvent> other) {
  timestamp_ = other->timestamp_;
  thread_timestamp_ = other->thread_timestamp_;
  duration_ = other->duration_;
  thread_duration_ = other->thread_duration_;
  scope_ = other->scope_;
  id_ = other->id_;
  bind_id_ = other->bind_id_;
  category_ = other->category_;
  name_ = other->name_;
  thread_id_ = other->thread_id_;
  phase_ = other->phase_;
  flags_ = other->flags_;
  copied_strings_ = std::move(other->copied_strings_);
  for (int i = 0; i < kTraceMaxNumArgs; ++i) {
    arg_names_[i] = other->arg_names_[i];
    arg_types_[i] = other->arg_types_[i];
    arg_values_[i] = other->arg_values_[i];
    convertables_[i] = std::move(other->convertables_[i]);
  }
}

void TraceEvent::Reset() {
  duration_ = -1;
  thread_duration_ = -1;
  copied_strings_.reset();
  for (auto& convertable : convertables_)
    convertable.reset();
}

void TraceEvent::UpdateDuration(int64_t now, int64_t thread_now) {
  duration_ = now - timestamp_;
  if (thread_timestamp_ != 0)
    thread_duration_ = thread_now - thread_timestamp_;
}

void TraceEvent::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kOverheadTraceEvent, sizeof(TraceEvent));
  if (copied_strings_)
    overhead->AddString(copied_strings_->capacity());
  for (auto& convertable : convertables_) {
    if (convertable)
      convertable->EstimateTraceMemoryOverhead(overhead);
  }
}

// static
void TraceEvent::AppendValueAsJSON(uint8_t type, uint64_t value, std::string* out) {
  switch (type) {
    case TRACE_VALUE_TYPE_BOOL: *out += (value & 0xff) ? "true" : "false"; break;
    case TRACE_VALUE_TYPE_UINT:
      AppendFormat(out, "%llu", static_cast<unsigned long long>(value));
      break;
    case TRACE_VALUE_TYPE_INT: AppendFormat(out, "%lld", static_cast<long long>(value)); break;
    case TRACE_VALUE_TYPE_DOUBLE: {
      double number;
      std::memcpy(&number, &value, sizeof(number));
      if (std::isnan(number)) {
        *out += "\"NaN\"";
      } else if (std::isinf(number)) {
        *out += number < 0 ? "\"-Infinity\"" : "\"Infinity\"";
      } else {
        std::string text = FormatDoubleShortest(number);
        // Readers tell doubles from integers by the form of the number.
        if (text.find_first_of(".eE") == std::string::npos)
          text += ".0";
        if (text.compare(0, 1, ".") == 0)
          text.insert(0, "0");
        else if (text.compare(0, 2, "-.") == 0)
          text.insert(1, "0");
        *out += text;
      }
      break;
    }
    case TRACE_VALUE_TYPE_POINTER:
      AppendFormat(out, "\"0x%llx\"", static_cast<unsigned long long>(value));
      break;
    case TRACE_VALUE_TYPE_STRING:
    case TRACE_VALUE_TYPE_COPY_STRING: {
      const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
      AppendEscaped(text ? text : "NULL", out);
      break;
    }
    default: break;
  }
}

void TraceEvent::AppendAsJSON(std::string* out, uint32_t process_id,
                              ArgumentFilterPredicate argument_filter) const {
  int pid = static_cast<int>(process_id);
  int tid = thread_id_;
  if (flags_ & kTraceEventFlagHasProcessId) {
    if (thread_id_ != 0) {
      pid = thread_id_;
      tid = -1;
    } else {
      tid = 0;
    }
  }
  AppendFormat(out, "{\"pid\":%i,\"tid\":%i,\"ts\":%lld,\"ph\":\"%c\",\"cat\":", pid, tid,
               static_cast<long long>(timestamp_), phase_);
  // Copied names may hold any text: every string goes out escaped.
  AppendEscaped(category_name(), out);
  *out += ",\"name\":";
  AppendEscaped(name_, out);
  *out += ",\"args\":";

  ArgumentNameFilterPredicate name_filter = nullptr;
  bool strip_all = false;
  if (arg_names_[0] && argument_filter)
    strip_all = !argument_filter(category_name(), name_, &name_filter);
  if (strip_all) {
    *out += "\"__stripped__\"";
  } else {
    *out += "{";
    for (int i = 0; i < kTraceMaxNumArgs && arg_names_[i]; ++i) {
      if (i > 0)
        *out += ",";
      AppendEscaped(arg_names_[i], out);
      *out += ":";
      if (name_filter && !name_filter(arg_names_[i]))
        *out += "\"__stripped__\"";
      else if (convertables_[i])
        convertables_[i]->AppendAsTraceFormat(out);
      else
        AppendValueAsJSON(arg_types_[i], arg_values_[i], out);
    }
    *out += "}";
  }

  if (phase_ == 'X') {
    if (duration_ != -1)
      AppendFormat(out, ",\"dur\":%lld", static_cast<long long>(duration_));
    if (thread_timestamp_ != 0 && thread_duration_ != -1)
      AppendFormat(out, ",\"tdur\":%lld", static_cast<long long>(thread_duration_));
  }
  if (thread_timestamp_ != 0)
    AppendFormat(out, ",\"tts\":%lld", static_cast<long long>(thread_timestamp_));
  if (flags_ & kTraceEventFlagAsyncTts)
    *out += ", \"use_async_tts\":1";

  const uint32_t id_flags =
      flags_ & (kTraceEventFlagHasId | kTraceEventFlagHasLocalId | kTraceEventFlagHasGlobalId);
  if (id_flags) {
    if (scope_) {
      *out += ",\"scope\":";
      AppendEscaped(scope_, out);
    }
    const unsigned long long id = id_;
    if (id_flags == kTraceEventFlagHasId)
      AppendFormat(out, ",\"id\":\"0x%llx\"", id);
    else if (id_flags == kTraceEventFlagHasLocalId)
      AppendFormat(out, ",\"id2\":{\"local\":\"0x%llx\"}", id);
    else if (id_flags == kTraceEventFlagHasGlobalId)
      AppendFormat(out, ",\"id2\":{\"global\":\"0x%llx\"}", id);
  }
  if (flags_ & kTraceEventFlagBindToEnclosing)
    *out += ",\"bp\":\"e\"";
  if (flags_ & (kTraceEventFlagFlowIn | kTraceEventFlagFlowOut))
    AppendFormat(out, ",\"bind_id\":\"0x%llx\"", static_cast<unsigned long long>(bind_id_));
  if (flags_ & kTraceEventFlagFlowIn)
    *out += ",\"flow_in\":true";
  if (flags_ & kTraceEventFlagFlowOut)
    *out += ",\"flow_out\":true";
  if (phase_ == 'I') {
    char scope_char = '?';
    switch (flags_ & kTraceEventFlagScopeMask) {
      case 0: scope_char = 'g'; break;
      case kTraceEventFlagScopeProcess: scope_char = 'p'; break;
      case kTraceEventFlagScopeThread: scope_char = 't'; break;
    }
    AppendFormat(out, ",\"s\":\"%c\"", scope_char);
  }
  *out += "}";
}

void TraceEvent::AppendArgumentsPretty(std::string* out) const {
  if (!arg_names_[0])
    return;
  *out += ", {";
  for (int i = 0; i < kTraceMaxNumArgs && arg_names_[i]; ++i) {
    if (i > 0)
      *out += ", ";
    *out += arg_names_[i];
    *out += ":";
    if (convertables_[i])
      convertables_[i]->AppendAsTraceFormat(out);
    else
      AppendValueAsJSON(arg_types_[i], arg_values_[i], out);
  }
  *out += "}";
}

void TraceEvent::AppendPrettyPrinted(std::string* out) const {
  *out += name_ ? name_ : "";
  *out += "[";
  *out += category_name();
  *out += "]";
  AppendArgumentsPretty(out);
}

}  // namespace base::trace_event
