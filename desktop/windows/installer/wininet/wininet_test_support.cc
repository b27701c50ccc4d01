#include "desktop/windows/installer/wininet/wininet_test_support.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/loop_runner.h"
#include "gtest/gtest.h"

namespace installer {

void RecordingFetcherDelegate::SetCurrentProgress(uint32_t value) {
  if (value < current && value != 0)
    progress_went_backwards = true;
  current = value;
  if (++current_calls == 1 && !on_first_progress.is_null())
    on_first_progress.Run();
}

void RecordingFetcherDelegate::RunUICallbackAndPostReply(
    UITask ui_task, base::SharedRef<base::TaskRunner> reply_runner, base::Closure reply) {
  ++ui_requests;
  if (run_ui_tasks)
    ui_task.Run(nullptr);
  reply_runner->PostTask(FROM_HERE, std::move(reply));
}

bool RunUntilDone(WinInetDownloader* downloader, const std::wstring& url, const std::string& body,
                  std::unique_ptr<ResponseWriter> writer, std::unique_ptr<DownloadReport> report,
                  base::TimeSpan timeout) {
  base::LoopRunner runner;
  auto ended = std::make_shared<bool>(false);
  base::Closure quit = runner.QuitClosure();
  bool started = downloader->Start(url, body,
                                   base::Bind(
                                       [](std::shared_ptr<bool> ended, base::Closure quit) {
                                         *ended = true;
                                         quit.Run();
                                       },
                                       ended, quit),
                                   std::move(writer), std::move(report));
  if (!started)
    return false;
  base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, quit, timeout);
  runner.Run();
  return *ended;
}

namespace {

base::Lock& CaptureLock() {
  static base::Lock* lock = new base::Lock();
  return *lock;
}

std::string& CapturedText() {
  static std::string* text = new std::string();
  return *text;
}

logging::LogMessageHandlerFunction g_previous_handler = nullptr;

bool CaptureHandler(int severity, const char* file, int line, size_t start,
                    const std::string& text) {
  {
    base::AutoLock lock(CaptureLock());
    CapturedText() += text;
  }
  return g_previous_handler ? g_previous_handler(severity, file, line, start, text) : false;
}

}  // namespace

ThreadSafeLogCapture::ThreadSafeLogCapture() : previous_(logging::GetLogMessageHandler()) {
  {
    base::AutoLock lock(CaptureLock());
    CapturedText().clear();
  }
  g_previous_handler = previous_;
  logging::SetLogMessageHandler(&CaptureHandler);
}

ThreadSafeLogCapture::~ThreadSafeLogCapture() { logging::SetLogMessageHandler(previous_); }

bool ThreadSafeLogCapture::Contains(std::string_view text) const {
  base::AutoLock lock(CaptureLock());
  return CapturedText().find(text) != std::string::npos;
}

std::string ThreadSafeLogCapture::Text() const {
  base::AutoLock lock(CaptureLock());
  return CapturedText();
}

std::string ReadWholeFile(const base::FilePath& path) {
  std::string content;
  base::ReadFileToString(path, &content);
  return content;
}

}  // namespace installer
