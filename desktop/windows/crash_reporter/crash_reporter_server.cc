#include "desktop/windows/crash_reporter/crash_reporter_server.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/client_crash_log.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_log/crash_logger.h"
#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"
#include "desktop/windows/crash_reporter/crash_log_directories.h"
#include "desktop/windows/crash_reporter/crash_pipe_client_record.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/crash_reporter_flags.h"
#include "desktop/windows/crash_reporter/crash_state_counters.h"
#include "desktop/windows/crash_reporter/parent_process_watch.h"
#include "desktop/windows/crash_reporter/pipe_security_attributes.h"
#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"
#include "desktop/windows/crash_reporter/reporter_work_counter.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/crash_reporter/crash_log/report_fields.h"
#include "desktop/windows/crash_reporter/crash_log/scoped_stdio_file.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"
#include "desktop/windows/crash_reporter/upload/crash_upload_launchers.h"
#include "desktop/windows/crash_reporter/upload/query_crash_server.h"

namespace crash_reporter {
namespace {

// How long a crashed installer's report waits for the crash server's answer.
constexpr DWORD kCrashServerQueryTimeoutMs = 3000;

}  // namespace

void HandleClientCrash(void* context, const CrashPipeClientRecord* client, const std::wstring*,
                       const std::wstring*) {
  const auto* crash = static_cast<const ClientCrashContext*>(context);
  ScopedWorkReference work;
  CrashLogger logger;

  const CustomInfo keys = client->GetCustomInfo();
  std::wstring process_type;
  if (GetCrashKeyValue(keys, L"process_type", &process_type))
    crash->counters->Increment(base::WideToUTF8(process_type), 1, true);

  const uint32_t sequence = NextCrashSequenceNumber();
  const DWORD own_pid = ::GetCurrentProcessId();
  const base::FilePath text_log(MakeCrashLogFileName(own_pid, sequence, L".txt"));
  // Its failures are logged where they happen.
  if (!WriteClientCrashLog(*client, text_log))
    return;
  base::FilePath minidump;
  if (GetCrashReporterFlags().IsAlternativeCrashLoggingEnabled()) {
    const base::FilePath path(MakeCrashLogFileName(own_pid, sequence, L".dmp"));
    if (WriteClientMinidump(client->pid(), client->thread_id_address(),
                            client->exception_pointers_address(), client->assertion_info_address(),
                            path, kInstallerMinidumpLimit)) {
      minidump = path;
    }
  }
  logger.AppendToCrashLog(text_log);

  std::wstring report_id;
  std::wstring location;
  const int answer =
      QueryCrashServerForCrash(CrashUrl(), keys, &report_id, &location, kCrashServerQueryTimeoutMs);
  const CrashLogDirectories& directories = GetCrashLogDirectories();
  if (answer == kCrashServerBusy) {
    // The server asked for no more reports now: the log is not sent.
    if (!crash->keep_logs)
      base::DeletePath(text_log, false);
  } else {
    ReportFields fields;
    BuildCrashLogUploadParameters(keys, &fields);
    AddStacktraceIdField(report_id, &fields);
    if (!PostCrashLogUpload(directories.crash_log_folder.Append(text_log), fields,
                            !crash->keep_logs)) {
      location.clear();
    }
  }
  if (!minidump.empty()) {
    ReportFields fields;
    BuildMinidumpUploadParameters(client->process(), keys, &fields);
    PostMinidumpUpload(directories.crash_log_folder.Append(minidump), fields, !crash->keep_logs);
  }

  if (location.empty())
    return;
  std::wstring guid;
  GetCrashKeyValue(keys, L"crash_guid", &guid);
  if (guid.empty() && directories.folder_from_environment)
    guid = L"0";
  if (guid.empty())
    return;
  const base::FilePath report_id_file = GetReportIdFilePath(directories, own_pid, sequence);
  if (report_id_file.empty())
    return;
  ScopedStdioFile file(_wfopen(report_id_file.value().c_str(), L"wt"));
  if (!file.IsValid()) {
    PLOG(ERROR) << "Cannot write the report-id file";
    return;
  }
  if (fprintf(file.Get(), "%s=%s", base::WideToUTF8(guid).c_str(),
              base::WideToUTF8(location).c_str()) < 0) {
    LOG(ERROR) << "Cannot write the report id";
  }
}

int RunCrashReporterServer() {
  PrepareSelfReportCommandLine(false);

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  DWORD parent_pid = 0;
  if (!GetParentProcessIdSwitch(command_line, &parent_pid)) {
    LOG(ERROR) << "The reporter has no parent process";
    return -1;
  }
  InitReporterLogging();
  CrashLogDirectories& directories = GetCrashLogDirectories();
  if (!InitCrashLogDirectories(command_line, &directories))
    return -1;
  CrashReporterFlags& flags = GetCrashReporterFlags();
  flags.Load(command_line, directories.flags_file);
  if (!flags.IsCrashReportingEnabled()) {
    LOG(INFO) << "Crash reporting is switched off";
    return -1;
  }
  InitCrashServerUrls();
  if (!ReporterWorkCounter::Get().CreateEvent())
    return -1;

  auto watch = std::make_unique<ParentProcessWatch>();
  if (!watch->Watch(parent_pid))
    return -1;
  const std::wstring event_name = kCrashReporterInitEventPrefix + std::to_wstring(parent_pid);
  base::win::ScopedHandle init_event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str()));
  if (!init_event.IsValid()) {
    PLOG(ERROR) << "Cannot open the reporter's init event";
    return -1;
  }
  const std::wstring pipe_name = kCrashPipeNamePrefix + std::to_wstring(::GetCurrentProcessId());
  if (!::SetCurrentDirectoryW(directories.crash_log_folder.value().c_str())) {
    PLOG(ERROR) << "Cannot enter the crash-log folder";
    return -1;
  }
  PipeSecurityAttributes security;
  ClientCrashContext context = {nullptr, ShouldKeepCrashLogs()};
  auto counters = std::make_unique<CrashStateCounters>(directories.counters_file);
  context.counters = counters.get();
  auto server = std::make_unique<CrashPipeServer>(
      pipe_name, security.Get(), nullptr, nullptr, &HandleClientCrash, &context, nullptr, nullptr,
      nullptr, nullptr, /*generate_dumps=*/false, nullptr);
  if (!server->Start())
    return -1;
  ::SetEvent(init_event.Get());
  init_event.Reset();
  MaybeTriggerTestCrash("reporter");

  ReporterWorkCounter::Get().Wait();
  server.reset();
  counters.reset();
  watch.reset();
  return 0;
}

}  // namespace crash_reporter
