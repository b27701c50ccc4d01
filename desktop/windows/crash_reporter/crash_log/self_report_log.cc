#include "desktop/windows/crash_reporter/crash_log/self_report_log.h"

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/crash_info.h"
#include "desktop/windows/crash_reporter/crash_log/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"

namespace crash_reporter {

bool WriteSelfReportLog(FILE* stream, const std::wstring& image_name, uint32_t exception_code,
                        uint64_t exception_address, const uint8_t* minidump, size_t size) {
  CrashInfo info;
  MarkCrashInfoAsReporter(&info);
  bool ok = CrashFilePrintf(stream,
                            "VELMO-CRASHLOG V1 desktop%s %s %s windows x64 release\r\n%ls caused "
                            "exception %X at address %012llX (BASE: 00000000)\r\n",
                            info.product_suffix.c_str(), info.version.c_str(), info.build.c_str(),
                            image_name.c_str(), exception_code,
                            static_cast<unsigned long long>(exception_address)) >= 0;
  if (ok && !info.metadata.empty()) {
    ok = CrashFilePrintf(stream, "\r\nmetadata:\r\n") >= 0;
    for (const auto& [key, value] : info.metadata) {
      if (ok)
        ok = CrashFilePrintf(stream, "%s=\"%s\"\r\n", key.c_str(), value.c_str()) >= 0;
    }
  }
  ok = ok && CrashFilePrintf(stream, "\r\nminidump:\r\n") >= 0 &&
       (size == 0 || fwrite(minidump, 1, size, stream) == size) && fflush(stream) == 0;
  if (!ok)
    LOG(ERROR) << "Writing the self-report log failed";
  return ok;
}

}  // namespace crash_reporter
