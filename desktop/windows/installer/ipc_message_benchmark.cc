// Measures the installer mailslot between two processes: a back-end side
// that sends many small progress messages and a front-end side that decodes
// each one and makes its InstallerDelegate call, as the runner does.
//
//   ipc_message_benchmark.exe [--messages=10000]
//
// Prints the rate, whether every message arrived once and in order, and how
// long after its send the last message was dispatched (after the sender
// wrote it, and after it was handed to the sender); exits with 0 only when
// at least 5000 messages per second arrived, all in order, and the last one
// within 100 ms of its write. A negative latency means the last dispatch
// came before the sender's thread had finished closing.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"

namespace {

constexpr char kSenderSwitch[] = "sender";
constexpr char kMailslotSwitch[] = "mailslot";
constexpr char kMessagesSwitch[] = "messages";
constexpr char kTimesFileSwitch[] = "times-file";
constexpr int kDefaultMessages = 10000;
constexpr double kRequiredRate = 5000.0;
constexpr double kRequiredLatencyMs = 100.0;

// One clock for both processes: the performance counter is system-wide.
int64_t Ticks() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double TicksToMs(int64_t ticks) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The back end's side: TOTAL_STEPS(i) for i = 0 .. count-1, then the tick
// of the last send and of the first into the times file.
int RunSender(const base::CommandLine& command_line) {
  base::MessageLoop loop;
  const int count = std::stoi(command_line.GetSwitchValueASCII(kMessagesSwitch));
  installer::IpcSender sender;
  if (!sender.Connect(command_line.GetSwitchValueNative(kMailslotSwitch)))
    return 2;
  const int64_t first = Ticks();
  int64_t last = first;
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<base::BinaryMessage> message =
        installer::CreateInstallerMessage(installer::IPC_MESSAGE_TOTAL_STEPS);
    message->WriteInt(i);
    last = Ticks();
    sender.Send(std::move(message));
  }
  sender.Close();
  const int64_t written = Ticks();
  const std::string times =
      base::FormatString("%lld %lld %lld", static_cast<long long>(first),
                         static_cast<long long>(last), static_cast<long long>(written));
  const base::FilePath path = command_line.GetSwitchValuePath(kTimesFileSwitch);
  return base::WriteFileBytes(path, times.data(), static_cast<int>(times.size())) ==
                 static_cast<int>(times.size())
             ? 0
             : 3;
}

// The front end's side: decodes and dispatches like the runner.
class Counter : public installer::IpcReceiver::Delegate, public installer::InstallerDelegate {
 public:
  Counter(int expected, base::LoopRunner* runner) : expected_(expected), runner_(runner) {}

  void OnMessageReceived(const base::BinaryMessage& message) override {
    installer::InstallerMessage decoded;
    if (!installer::ReadInstallerMessage(message, &decoded)) {
      ++bad;
      return;
    }
    decoded.DeliverTo(this);
  }

  void OnTotalSteps(int value) override {
    const int64_t now = Ticks();
    if (dispatched == 0)
      first_tick = now;
    if (value != dispatched)
      ++out_of_order;
    ++dispatched;
    if (dispatched == expected_) {
      last_tick = now;
      runner_->Quit();
    }
  }
  void OnInstallFolderReady() override { ++bad; }
  void OnStartingNewMainProcess(bool) override { ++bad; }
  void OnReturnedToPreviousMainProcess() override { ++bad; }
  void OnStep() override { ++bad; }
  void OnError(int, const std::wstring&, const std::string&) override { ++bad; }
  void OnSuccess() override { ++bad; }
  void OnInstallerTerminated(bool) override { ++bad; }

  int dispatched = 0;
  int out_of_order = 0;
  int bad = 0;
  int64_t first_tick = 0;
  int64_t last_tick = 0;

 private:
  const int expected_;
  base::LoopRunner* runner_;
};

int RunReceiver(const base::CommandLine& command_line) {
  int count = kDefaultMessages;
  if (command_line.HasSwitch(kMessagesSwitch) &&
      !base::StringToInt(command_line.GetSwitchValueASCII(kMessagesSwitch), &count)) {
    fprintf(stderr, "bad --messages\n");
    return 2;
  }
  base::MessageLoop loop;
  base::ScopedTempDir temp;
  if (!temp.CreateUniqueTempDir())
    return 2;
  const std::wstring name =
      base::UTF8ToWide(base::FormatString("velmo_ipc_benchmark/%lu", ::GetCurrentProcessId()));
  base::LoopRunner runner;
  Counter counter(count, &runner);
  installer::IpcReceiver receiver(&counter);
  if (!receiver.Connect(name))
    return 2;
  while (receiver.read_mode() == installer::IpcReceiver::ReadMode::kNotReading)
    Sleep(1);

  base::CommandLine sender(base::CommandLine::ForCurrentProcess()->GetProgram());
  sender.AppendSwitch(kSenderSwitch);
  sender.AppendSwitchNative(kMailslotSwitch, name);
  sender.AppendSwitchASCII(kMessagesSwitch, base::NumberToString(count));
  const base::FilePath times_file = temp.GetPath().Append(L"times.txt");
  sender.AppendSwitchPath(kTimesFileSwitch, times_file);
  base::Process process = base::LaunchProcess(sender, base::LaunchOptions());
  if (!process.IsValid())
    return 2;
  base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(),
                                                  base::TimeSpan::FromSeconds(60));
  runner.Run();
  int exit_code = -1;
  process.WaitForExitWithTimeout(60000, &exit_code);
  receiver.Close();

  std::string times;
  long long first_send = 0;
  long long last_send = 0;
  long long all_written = 0;
  if (exit_code != 0 || !base::ReadFileToString(times_file, &times) ||
      sscanf(times.c_str(), "%lld %lld %lld", &first_send, &last_send, &all_written) != 3) {
    fprintf(stderr, "the sender failed (exit code %d)\n", exit_code);
    return 2;
  }
  const double elapsed_ms = TicksToMs(counter.last_tick - first_send);
  const double rate = elapsed_ms > 0 ? counter.dispatched * 1000.0 / elapsed_ms : 0;
  // Send() only queues: the last message's own send is the write that
  // ended the sender's queue. From the hand-off it also waits for all the
  // writes before it, which the rate already measures.
  const double latency_ms = TicksToMs(counter.last_tick - all_written);
  const double handoff_latency_ms = TicksToMs(counter.last_tick - last_send);
  printf("messages sent:        %d\n", count);
  printf("dispatched:           %d (out of order %d, other %d)\n", counter.dispatched,
         counter.out_of_order, counter.bad);
  printf("first send to last dispatch: %.1f ms\n", elapsed_ms);
  printf("all written by the sender after %.1f ms\n", TicksToMs(all_written - first_send));
  printf("rate:                 %.0f messages/s (required %.0f)\n", rate, kRequiredRate);
  printf(
      "last message latency: %.2f ms after its write (required below %.0f), %.1f ms after "
      "its hand-off to the sender\n",
      latency_ms, kRequiredLatencyMs, handoff_latency_ms);
  const bool ok = counter.dispatched == count && counter.out_of_order == 0 && counter.bad == 0 &&
                  rate >= kRequiredRate && latency_ms <= kRequiredLatencyMs;
  printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_NONE;
  logging::InitLogging(settings);
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kSenderSwitch))
    return RunSender(command_line);
  return RunReceiver(command_line);
}
