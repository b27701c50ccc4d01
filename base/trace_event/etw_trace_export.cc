#include "base/trace_event/etw_trace_export.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/trace_event/string_tokenizer.h"

namespace base::trace_event {
namespace {

// {6F1C3A52-8E4B-4D27-9B0A-3C5E71D2A946}
constexpr GUID kProviderGuid = {0x6f1c3a52,
                                0x8e4b,
                                0x4d27,
                                {0x9b, 0x0a, 0x3c, 0x5e, 0x71, 0xd2, 0xa9, 0x46}};
constexpr UCHAR kEventLevel = 4;  // informational
constexpr ULONGLONG kEventKeyword = 0x8000000000000000ull;
// id 1, version 0, channel 8, level 4, opcode 0, task 0.
constexpr EVENT_DESCRIPTOR kEventDescriptor = {1, 0, 8, kEventLevel, 0, 0, kEventKeyword};

constexpr const char* kInitialCategories[] = {
    "benchmark",
    "layout",
    "browser",
    "compositor",
    "evdev",
    "gpu",
    "input",
    "netlog",
    "renderer.scheduler",
    "toplevel",
    "script",
    "disabled-by-default-compositor.debug",
    "disabled-by-default-compositor.debug.picture",
    "disabled-by-default-toplevel.flow",
    "startup",
};
// The enable callback's control codes (the toolchain's headers lack names).
constexpr ULONG kControlCodeDisable = 0;
constexpr ULONG kControlCodeEnable = 1;

constexpr char kOtherEvents[] = "__OTHER_EVENTS";
constexpr char kDisabledOtherEvents[] = "__DISABLED_OTHER_EVENTS";

std::atomic<EtwTraceExport::EventRegisterFunction> g_event_register{nullptr};
std::atomic<EtwTraceExport::EventWriteFunction> g_event_write{nullptr};
std::atomic<EtwTraceExport::EventUnregisterFunction> g_event_unregister{nullptr};
std::atomic<int> g_register_calls{0};
std::atomic<int> g_unregister_calls{0};

// The instance word: 0 none, 1 being built, otherwise the instance.
constexpr uintptr_t kBeingBuilt = 1;
std::atomic<uintptr_t> g_instance_word{0};
// Set by the first build: after the exit callback the export stays gone.
std::atomic<bool> g_built_once{false};
alignas(EtwTraceExport) unsigned char g_instance_storage[sizeof(EtwTraceExport)];

const char* PhaseName(char phase, char* single) {
  switch (phase) {
    case 'B': return "Begin";
    case 'E': return "End";
    case 'X': return "Complete";
    case 'I': return "Instant";
    case 'S': return "Async Begin";
    case 'T': return "Async Step Into";
    case 'p': return "Async Step Past";
    case 'F': return "Async End";
    case 'b': return "Nestable Async Begin";
    case 'e': return "Nestable Async End";
    case 'n': return "Nestable Async Instant";
    case 's': return "Phase Flow Begin";
    case 't': return "Phase Flow Step";
    case 'f': return "Phase Flow End";
    case 'N': return "Phase Create Object";
    case 'O': return "Phase Snapshot Object";
    case 'D': return "Phase Delete Object";
    case 'M': return "Phase Metadata";
    case 'C': return "Phase Counter";
    case 'P': return "Phase Sample";
  }
  single[0] = phase;
  single[1] = '\0';
  return single;
}

}  // namespace

void EtwRegistrationTraits::Free(REGHANDLE& handle) {
  EtwTraceExport::EventUnregisterFunction unregister = g_event_unregister.load();
  if (!unregister)
    return;
  g_unregister_calls.fetch_add(1);
  const ULONG result = unregister(handle);
  if (result != ERROR_SUCCESS)
    LOG(ERROR) << "EventUnregister failed with error " << result;
}

EtwTraceExport::EtwTraceExport() {
  if (advapi32_.Load(L"Advapi32.dll")) {
    // A test may have put its recorders in place already.
    EventRegisterFunction expected_register = nullptr;
    g_event_register.compare_exchange_strong(
        expected_register, advapi32_.GetFunction<EventRegisterFunction>("EventRegister"));
    EventWriteFunction expected = nullptr;
    g_event_write.compare_exchange_strong(expected,
                                          advapi32_.GetFunction<EventWriteFunction>("EventWrite"));
    g_event_unregister.store(advapi32_.GetFunction<EventUnregisterFunction>("EventUnregister"));
    RegisterProvider();
  }
  for (const char* category : kInitialCategories)
    categories_.emplace(category, false);
  categories_.emplace(kOtherEvents, false);
  categories_.emplace(kDisabledOtherEvents, false);
}

void EtwTraceExport::RegisterProvider() {
  if (registration_.IsValid())
    return;
  EventRegisterFunction event_register = g_event_register.load();
  if (!event_register)
    return;
  REGHANDLE handle = 0;
  g_register_calls.fetch_add(1);
  const ULONG result = event_register(&kProviderGuid, &EnableCallback, &provider_, &handle);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "EventRegister failed with error " << result;
    return;
  }
  registration_.Reset(handle);
}

// static
EtwTraceExport* EtwTraceExport::GetInstance() {
  const uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  if (word > kBeingBuilt)
    return reinterpret_cast<EtwTraceExport*>(word);
  if (internal::NeedsLazyInstance(&g_instance_word)) {
    if (g_built_once.exchange(true)) {
      g_instance_word.store(0, std::memory_order_release);
      return nullptr;
    }
    EtwTraceExport* instance = new (g_instance_storage) EtwTraceExport();
    internal::CompleteLazyInstance(&g_instance_word, reinterpret_cast<uintptr_t>(instance),
                                   &OnProcessExit);
    return instance;
  }
  return GetInstanceIfExists();
}

// static
EtwTraceExport* EtwTraceExport::GetInstanceIfExists() {
  const uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  return word > kBeingBuilt ? reinterpret_cast<EtwTraceExport*>(word) : nullptr;
}

// static
void EtwTraceExport::OnProcessExit(void* /*state*/) {
  // Other threads may still ask about categories while the process ends: the
  // export is switched off and unregistered, but its map stays readable.
  EtwTraceExport* instance = GetInstanceIfExists();
  if (!instance)
    return;
  g_instance_word.store(0, std::memory_order_release);
  instance->export_on_ = false;
  instance->registration_.Reset();
}

// static
EtwTraceExport::CallCounts EtwTraceExport::GetCallCounts() {
  return CallCounts{g_register_calls.load(), g_unregister_calls.load()};
}

bool EtwTraceExport::IsCategoryEnabled(std::string_view category) const {
  auto it = categories_.find(category);
  if (it != categories_.end())
    return it->second;
  constexpr std::string_view kDisabledPrefix = "disabled-by-default";
  const char* other = category.substr(0, kDisabledPrefix.size()) == kDisabledPrefix
                          ? kDisabledOtherEvents
                          : kOtherEvents;
  it = categories_.find(std::string_view(other));
  return it != categories_.end() && it->second;
}

// static
bool EtwTraceExport::IsCategoryGroupEnabled(std::string_view category_group) {
  EtwTraceExport* instance = GetInstance();
  if (!instance || !instance->export_on_)
    return false;
  StringTokenizer tokens(category_group, ",");
  while (tokens.GetNext()) {
    if (instance->IsCategoryEnabled(tokens.token()))
      return true;
  }
  return false;
}

void EtwTraceExport::SetCategoryEnabledForTesting(const std::string& category, bool enabled) {
  categories_[category] = enabled;
}

// static
void NTAPI EtwTraceExport::EnableCallback(LPCGUID /*source_id*/, ULONG control_code, UCHAR level,
                                          ULONGLONG match_any_keyword, ULONGLONG match_all_keyword,
                                          PEVENT_FILTER_DESCRIPTOR /*filter_data*/, PVOID context) {
  auto* state = static_cast<ProviderState*>(context);
  if (!state)
    return;
  if (control_code == kControlCodeDisable) {
    state->enabled = false;
    state->level = 0;
    state->match_any_keyword = 0;
    state->match_all_keyword = 0;
    state->event_enabled = false;
  } else if (control_code == kControlCodeEnable) {
    state->level = level;
    state->match_any_keyword = match_any_keyword;
    state->match_all_keyword = match_all_keyword;
    state->enabled = true;
    bool on = level == 0 || kEventLevel <= level;
    if (on && kEventKeyword != 0) {
      on = (kEventKeyword & match_any_keyword) != 0 &&
           (kEventKeyword & match_all_keyword) == match_all_keyword;
    }
    state->event_enabled = on;
  }
}

// static
void EtwTraceExport::AddEvent(char phase, const char* name, int num_args,
                              const char* const* arg_names, const uint8_t* arg_types,
                              const uint64_t* arg_values) {
  EtwTraceExport* instance = GetInstanceIfExists();
  if (!instance || !instance->export_on_ || !instance->IsEventEnabled())
    return;
  char single[2];
  const char* phase_name = PhaseName(phase, single);
  constexpr int kMaxArgs = 3;
  std::string names[kMaxArgs];
  std::string values[kMaxArgs];
  for (int i = 0; i < num_args && i < kMaxArgs; ++i) {
    if (arg_names[i])
      names[i] = arg_names[i];
    if (arg_types[i] != TRACE_VALUE_TYPE_CONVERTABLE)
      TraceEvent::AppendValueAsJSON(arg_types[i], arg_values[i], &values[i]);
  }
  instance->WriteEvent(name, phase_name, names[0].c_str(), values[0].c_str(), names[1].c_str(),
                       values[1].c_str(), names[2].c_str(), values[2].c_str());
}

// static
void EtwTraceExport::AddCompleteEndEvent(const char* name) {
  EtwTraceExport* instance = GetInstanceIfExists();
  if (!instance || !instance->export_on_ || !instance->IsEventEnabled())
    return;
  instance->WriteEvent(name, "Complete End", "", "", "", "", "", "");
}

void EtwTraceExport::WriteEvent(const char* name, const char* phase_name, const char* arg1_name,
                                const char* arg1_value, const char* arg2_name,
                                const char* arg2_value, const char* arg3_name,
                                const char* arg3_value) {
  EventWriteFunction event_write = g_event_write.load();
  if (!event_write)
    return;
  const char* fields[8] = {name,      phase_name, arg1_name, arg1_value,
                           arg2_name, arg2_value, arg3_name, arg3_value};
  EVENT_DATA_DESCRIPTOR data[8];
  for (int i = 0; i < 8; ++i) {
    const char* text = fields[i] ? fields[i] : "NULL";
    EventDataDescCreate(&data[i], text, static_cast<ULONG>(std::strlen(text) + 1));
  }
  event_write(registration_.Get(), &kEventDescriptor, 8, data);
}

// static
EtwTraceExport::EventRegisterFunction EtwTraceExport::SetEventRegisterForTesting(
    EventRegisterFunction function) {
  return g_event_register.exchange(function);
}

// static
EtwTraceExport::EventWriteFunction EtwTraceExport::SetEventWriteForTesting(
    EventWriteFunction function) {
  return g_event_write.exchange(function);
}

}  // namespace base::trace_event
