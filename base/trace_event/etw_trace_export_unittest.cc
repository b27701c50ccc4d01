#include "base/trace_event/etw_trace_export.h"

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/exit_callback_manager.h"
#include "base/process.h"
#include "base/trace_event/trace_category_registry.h"
#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base::trace_event {
namespace {

constexpr ULONGLONG kKeyword = 0x8000000000000000ull;

// A fresh process: the export does not exist until the first category is
// added at run time; it registers once and unregisters at exit.
CHILD_PROCESS_MAIN(EtwExportLifetime) {
  {
    ExitCallbackManager exit_manager;
    if (EtwTraceExport::GetInstanceIfExists())
      return 10;
    TraceLog::GetInstance();
    if (TraceLog::GetCategoryEntry("toplevel") && EtwTraceExport::GetInstanceIfExists()) {
      return 11;  // a built-in entry is found, not added: no export yet
    }
    TraceLog::GetCategoryEntry("velmo.etw.first");
    EtwTraceExport* etw_export = EtwTraceExport::GetInstanceIfExists();
    if (!etw_export)
      return 12;
    if (EtwTraceExport::GetCallCounts().event_register != 1)
      return 13;
    etw_export->RegisterProvider();
    TraceLog::GetCategoryEntry("velmo.etw.second");
    if (EtwTraceExport::GetCallCounts().event_register != 1)
      return 14;
    if (EtwTraceExport::GetCallCounts().event_unregister != 0)
      return 15;
  }
  if (EtwTraceExport::GetCallCounts().event_unregister != 1)
    return 16;
  if (EtwTraceExport::GetInstance() != nullptr)
    return 17;
  // Categories added after the exit callbacks still resolve, without export.
  if (TraceLog::GetCategoryEntry("velmo.etw.late")->state() != 0)
    return 18;
  return 0;
}

// The provider's GUID as the export registers it.
GUID g_registered_guid = {};
int g_register_recorded = 0;

ULONG WINAPI RecordEventRegister(LPCGUID guid, PENABLECALLBACK, PVOID, PREGHANDLE handle) {
  g_registered_guid = *guid;
  ++g_register_recorded;
  *handle = 1;
  return ERROR_SUCCESS;
}

// A fresh process: the export registers the provider's own GUID.
CHILD_PROCESS_MAIN(EtwExportProviderGuid) {
  EtwTraceExport::SetEventRegisterForTesting(&RecordEventRegister);
  if (!EtwTraceExport::GetInstance())
    return 10;
  if (g_register_recorded != 1)
    return 11;
  // {6F1C3A52-8E4B-4D27-9B0A-3C5E71D2A946}
  const GUID expected = {
      0x6f1c3a52, 0x8e4b, 0x4d27, {0x9b, 0x0a, 0x3c, 0x5e, 0x71, 0xd2, 0xa9, 0x46}};
  return IsEqualGUID(expected, g_registered_guid) ? 0 : 12;
}

TEST(EtwTraceExportTest, TheProviderIsRegisteredUnderItsGuid) {
  Process child =
      LaunchProcess(testing::GetChildCommandLine("EtwExportProviderGuid"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
}

TEST(EtwTraceExportTest, BuiltByFirstNewCategoryAndUnregisteredAtExit) {
  Process child = LaunchProcess(testing::GetChildCommandLine("EtwExportLifetime"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
}

TEST(EtwTraceExportTest, EnableCallbackFollowsLevelAndKeywords) {
  EtwTraceExport::ProviderState state;
  EtwTraceExport::EnableCallback(nullptr, 1, 3, kKeyword, 0, nullptr, &state);
  EXPECT_TRUE(state.enabled);
  EXPECT_FALSE(state.event_enabled);
  EtwTraceExport::EnableCallback(nullptr, 1, 4, kKeyword, 0, nullptr, &state);
  EXPECT_TRUE(state.event_enabled);
  EtwTraceExport::EnableCallback(nullptr, 1, 0, kKeyword, 0, nullptr, &state);
  EXPECT_TRUE(state.event_enabled);
  EXPECT_EQ(0, state.level);
  // The keyword must meet match-any and hold every bit of match-all.
  EtwTraceExport::EnableCallback(nullptr, 1, 5, 0x1, 0, nullptr, &state);
  EXPECT_FALSE(state.event_enabled);
  EtwTraceExport::EnableCallback(nullptr, 1, 5, kKeyword, kKeyword | 1, nullptr, &state);
  EXPECT_FALSE(state.event_enabled);
  EtwTraceExport::EnableCallback(nullptr, 1, 5, kKeyword | 1, kKeyword, nullptr, &state);
  EXPECT_TRUE(state.event_enabled);
  // Other codes change nothing; 0 clears everything.
  EtwTraceExport::EnableCallback(nullptr, 2, 1, 0, 0, nullptr, &state);
  EXPECT_TRUE(state.event_enabled);
  EtwTraceExport::EnableCallback(nullptr, 0, 1, 1, 1, nullptr, &state);
  EXPECT_FALSE(state.enabled);
  EXPECT_FALSE(state.event_enabled);
  EXPECT_EQ(0, state.level);
  EXPECT_EQ(0u, state.match_any_keyword);
  EXPECT_EQ(0u, state.match_all_keyword);
}

std::vector<std::vector<std::string>>* g_written = nullptr;

ULONG WINAPI RecordEventWrite(REGHANDLE, PCEVENT_DESCRIPTOR descriptor, ULONG count,
                              PEVENT_DATA_DESCRIPTOR data) {
  std::vector<std::string> fields;
  for (ULONG i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(data[i].Ptr));
    // Each field is sent with its terminator.
    if (data[i].Size == 0 || text[data[i].Size - 1] != '\0')
      fields.push_back("<unterminated>");
    else
      fields.emplace_back(text, data[i].Size - 1);
  }
  if (descriptor->Id != 1 || descriptor->Level != 4 || descriptor->Keyword != kKeyword)
    fields.push_back("<wrong descriptor>");
  g_written->push_back(std::move(fields));
  return ERROR_SUCCESS;
}

TEST(EtwTraceExportTest, EventsReachEventWriteAsEightStrings) {
  std::vector<std::vector<std::string>> written;
  g_written = &written;
  EtwTraceExport* etw_export = EtwTraceExport::GetInstance();
  ASSERT_NE(nullptr, etw_export);
  EtwTraceExport::EventWriteFunction previous =
      EtwTraceExport::SetEventWriteForTesting(&RecordEventWrite);
  auto* state = const_cast<EtwTraceExport::ProviderState*>(&etw_export->provider_state());

  // Off: nothing is written, whatever the session does.
  EtwTraceExport::EnableCallback(nullptr, 1, 4, kKeyword, 0, nullptr, state);
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel,gpu"));
  EtwTraceExport::AddEvent('X', "Off", 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(written.empty());

  etw_export->SetExportOnForTesting(true);
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel,gpu"));
  etw_export->SetCategoryEnabledForTesting("__DISABLED_OTHER_EVENTS", true);
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("x,disabled-by-default-velmo"));
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("velmo.unlisted"));
  etw_export->SetCategoryEnabledForTesting("__DISABLED_OTHER_EVENTS", false);
  etw_export->SetCategoryEnabledForTesting("__OTHER_EVENTS", true);
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("velmo.unlisted"));
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("disabled-by-default-velmo"));

  EtwTraceExport::AddEvent('X', "NoArgs", 0, nullptr, nullptr, nullptr);
  ASSERT_EQ(1u, written.size());
  EXPECT_EQ((std::vector<std::string>{"NoArgs", "Complete", "", "", "", "", "", ""}), written[0]);

  // Through the trace log: a category with only the export bit records
  // nothing itself and gives an empty handle; its end is "Complete End".
  written.clear();
  TraceLog* log = TraceLog::GetInstance();
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.etw.unlisted");
  EXPECT_EQ(TraceCategory::kEnabledForEtwExport, category->state());
  const char* names[1] = {"n"};
  const TraceArgValue values[1] = {TraceArgValue(2.5)};
  const TraceEventHandle handle =
      log->AddTraceEvent('X', category, "ViaLog", 0, 0, 0, 1, names, values);
  EXPECT_FALSE(handle.is_valid());
  log->UpdateEventDuration(category, "ViaLog", handle);
  ASSERT_EQ(2u, written.size());
  EXPECT_EQ((std::vector<std::string>{"ViaLog", "Complete", "n", "2.5", "", "", "", ""}),
            written[0]);
  EXPECT_EQ((std::vector<std::string>{"ViaLog", "Complete End", "", "", "", "", "", ""}),
            written[1]);

  // A session that goes away stops the writing.
  written.clear();
  EtwTraceExport::EnableCallback(nullptr, 0, 0, 0, 0, nullptr, state);
  EtwTraceExport::AddEvent('q', "Gone", 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(written.empty());

  etw_export->SetCategoryEnabledForTesting("__OTHER_EVENTS", false);
  etw_export->SetExportOnForTesting(false);
  log->RefreshAllCategoryStates();
  EXPECT_EQ(0, category->state());
  EtwTraceExport::SetEventWriteForTesting(previous);
  g_written = nullptr;
}

TEST(EtwTraceExportTest, EveryPhaseHasItsNameAndMissingTextsGoOutAsNull) {
  std::vector<std::vector<std::string>> written;
  g_written = &written;
  EtwTraceExport* etw_export = EtwTraceExport::GetInstance();
  ASSERT_NE(nullptr, etw_export);
  EtwTraceExport::EventWriteFunction previous =
      EtwTraceExport::SetEventWriteForTesting(&RecordEventWrite);
  auto* state = const_cast<EtwTraceExport::ProviderState*>(&etw_export->provider_state());
  EtwTraceExport::EnableCallback(nullptr, 1, 4, kKeyword, 0, nullptr, state);
  etw_export->SetExportOnForTesting(true);

  const std::pair<char, const char*> phases[] = {
      {'B', "Begin"},
      {'E', "End"},
      {'X', "Complete"},
      {'I', "Instant"},
      {'S', "Async Begin"},
      {'T', "Async Step Into"},
      {'p', "Async Step Past"},
      {'F', "Async End"},
      {'b', "Nestable Async Begin"},
      {'e', "Nestable Async End"},
      {'n', "Nestable Async Instant"},
      {'s', "Phase Flow Begin"},
      {'t', "Phase Flow Step"},
      {'f', "Phase Flow End"},
      {'N', "Phase Create Object"},
      {'O', "Phase Snapshot Object"},
      {'D', "Phase Delete Object"},
      {'M', "Phase Metadata"},
      {'C', "Phase Counter"},
      {'P', "Phase Sample"},
      {'z', "z"},
  };
  for (const auto& [phase, name] : phases)
    EtwTraceExport::AddEvent(phase, "Phased", 0, nullptr, nullptr, nullptr);
  ASSERT_EQ(std::size(phases), written.size());
  for (size_t i = 0; i < std::size(phases); ++i)
    EXPECT_EQ(phases[i].second, written[i][1]) << "phase " << phases[i].first;

  written.clear();
  etw_export->WriteEvent("Named", nullptr, "a", nullptr, nullptr, "v", "", "w");
  ASSERT_EQ(1u, written.size());
  EXPECT_EQ((std::vector<std::string>{"Named", "NULL", "a", "NULL", "NULL", "v", "", "w"}),
            written[0]);

  EtwTraceExport::EnableCallback(nullptr, 0, 0, 0, 0, nullptr, state);
  etw_export->SetExportOnForTesting(false);
  EtwTraceExport::SetEventWriteForTesting(previous);
  g_written = nullptr;
}

}  // namespace
}  // namespace base::trace_event
