// Forwards trace events to Event Tracing for Windows, so that an ETW session
// outside the process can record them without the trace log's own buffers.
// The export registers its provider when it is built (on the first category
// added at run time), follows the provider's enable state as the ETW runtime
// reports it, and writes each event as eight text fields.
#ifndef BASE_TRACE_EVENT_ETW_TRACE_EXPORT_H_
#define BASE_TRACE_EVENT_ETW_TRACE_EXPORT_H_

#include <windows.h>

#include <evntprov.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/scoped_generic.h"
#include "base/win/library_holder.h"
#include "base/trace_event/trace_event.h"

namespace base::trace_event {

// Holds a provider registration; freeing it unregisters the provider.
struct EtwRegistrationTraits {
  // Not 0: Wine hands out 0 as a valid registration.
  static REGHANDLE InvalidValue() { return ~REGHANDLE{0}; }
  static void Free(REGHANDLE& handle);
};

class EtwTraceExport {
 public:
  using EventRegisterFunction = ULONG(WINAPI*)(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE);
  using EventWriteFunction = ULONG(WINAPI*)(REGHANDLE, PCEVENT_DESCRIPTOR, ULONG,
                                            PEVENT_DATA_DESCRIPTOR);
  using EventUnregisterFunction = ULONG(WINAPI*)(REGHANDLE);

  // The provider's state as registration and the enable callback leave it.
  struct ProviderState {
    ULONGLONG match_any_keyword = 0;
    ULONGLONG match_all_keyword = 0;
    bool enabled = false;
    UCHAR level = 0;
    // One event, so one enable bit.
    bool event_enabled = false;
  };

  // How often the platform's registration calls ran (Wine hands out the same
  // handle every time, so only a count tells them apart).
  struct CallCounts {
    int event_register = 0;
    int event_unregister = 0;
  };

  EtwTraceExport(const EtwTraceExport&) = delete;
  EtwTraceExport& operator=(const EtwTraceExport&) = delete;

  // The export, built on the first call; null once its exit callback ran.
  static EtwTraceExport* GetInstance();
  // The export when it exists, without building it.
  static EtwTraceExport* GetInstanceIfExists();

  // True when the export exists, is switched on and any category of the
  // comma-separated |category_group| is on. Builds the export.
  static bool IsCategoryGroupEnabled(std::string_view category_group);

  // Writes one event (only with the export on and event 1 enabled by a
  // session). Arguments of type TRACE_VALUE_TYPE_CONVERTABLE give empty text.
  static void AddEvent(char phase, const char* name, int num_args, const char* const* arg_names,
                       const uint8_t* arg_types, const uint64_t* arg_values);
  // The end of a complete event, sent as "Complete End" without arguments.
  static void AddCompleteEndEvent(const char* name);

  // The provider's ETW enable callback; |context| is the ProviderState.
  static void NTAPI EnableCallback(LPCGUID source_id, ULONG control_code, UCHAR level,
                                   ULONGLONG match_any_keyword, ULONGLONG match_all_keyword,
                                   PEVENT_FILTER_DESCRIPTOR filter_data, PVOID context);

  // Registers the provider unless it is registered already.
  void RegisterProvider();
  // True when a session enabled event 1.
  bool IsEventEnabled() const { return provider_.event_enabled; }
  bool export_on() const { return export_on_; }
  const ProviderState& provider_state() const { return provider_; }
  static CallCounts GetCallCounts();

  // The EventWrite call with eight strings; null strings go out as "NULL".
  void WriteEvent(const char* name, const char* phase_name, const char* arg1_name,
                  const char* arg1_value, const char* arg2_name, const char* arg2_value,
                  const char* arg3_name, const char* arg3_value);

  // Test seams: swap the resolved EventRegister (before the export is built)
  // or EventWrite (each returns the previous one), switch the export and
  // single categories on or off.
  static EventRegisterFunction SetEventRegisterForTesting(EventRegisterFunction function);
  static EventWriteFunction SetEventWriteForTesting(EventWriteFunction function);
  void SetExportOnForTesting(bool on) { export_on_ = on; }
  void SetCategoryEnabledForTesting(const std::string& category, bool enabled);

 private:
  EtwTraceExport();
  ~EtwTraceExport() = delete;

  static void OnProcessExit(void* argument);
  bool IsCategoryEnabled(std::string_view category) const;

  win::LibraryHolder advapi32_;
  ScopedGeneric<REGHANDLE, EtwRegistrationTraits> registration_;
  bool export_on_ = false;
  std::map<std::string, bool, std::less<>> categories_;
  ProviderState provider_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_ETW_TRACE_EXPORT_H_
