#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/process.h"
#include "base/string_printf.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread_name_registry.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

using test::MessageRecordingDelegate;
using test::ScopedLogCapture;

constexpr char kMailslotSwitch[] = "mailslot";
constexpr int kHugeTextLength = 10000;

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A mailslot name no other test run uses.
std::wstring UniqueMailslotName() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  return base::UTF8ToWide(
      base::FormatString("velmo_ipc_test/%s/%lu", info->name(), GetCurrentProcessId()));
}

// Decodes every received message and hands it to a recording delegate;
// quits |runner| once a final report (success or error) arrived.
class RecordingReceiverDelegate : public IpcReceiver::Delegate {
 public:
  explicit RecordingReceiverDelegate(base::LoopRunner* runner) : runner_(runner) {}

  void OnMessageReceived(const base::BinaryMessage& message) override {
    ++datagrams;
    InstallerMessage decoded;
    if (!ReadInstallerMessage(message, &decoded))
      return;
    decoded.DeliverTo(&installer);
    if (decoded.type == IPC_MESSAGE_SUCCESS)
      runner_->Quit();
  }

  int datagrams = 0;
  MessageRecordingDelegate installer;

 private:
  base::LoopRunner* runner_;
};

// Waits until |receiver| reads its mailslot (created asynchronously, on a
// thread that a loaded machine may start late).
bool WaitUntilReading(const IpcReceiver& receiver) {
  for (int i = 0; i < 6000; ++i) {
    if (receiver.read_mode() != IpcReceiver::ReadMode::kNotReading)
      return true;
    Sleep(10);
  }
  return false;
}

// Runs the loop until |runner| is quit, at most |seconds|.
void RunAtMost(base::LoopRunner* runner, int seconds) {
  base::MessageLoop::Current()->task_runner()->PostDelayedTask(
      FROM_HERE, runner->QuitClosure(), base::TimeSpan::FromSeconds(seconds));
  runner->Run();
}

// The mailslot |name| opened for writing, as any process may open it.
base::win::ScopedHandle OpenMailslotForWriting(const std::wstring& name) {
  return base::win::ScopedHandle(CreateFileW((L"\\\\.\\mailslot\\" + name).c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Starts the child process |child_main| with the mailslot |name| (and
// |switches|) on its command line.
base::Process LaunchMailslotChild(
    const char* child_main, const std::wstring& name,
    const std::vector<std::pair<std::string, std::string>>& switches = {}) {
  base::CommandLine child = testing::GetChildCommandLine(child_main);
  child.AppendSwitchNative(kMailslotSwitch, name);
  for (const auto& [switch_name, value] : switches)
    child.AppendSwitchASCII(switch_name, value);
  return base::LaunchProcess(child, base::LaunchOptions());
}

// Writes |bytes| as one datagram, as any process that can open the mailslot
// may.
void WriteDatagram(const std::wstring& name, const std::string& bytes) {
  base::win::ScopedHandle mailslot = OpenMailslotForWriting(name);
  ASSERT_TRUE(mailslot.IsValid());
  DWORD written = 0;
  WriteFile(mailslot.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Bytes(const base::BinaryMessage& message) {
  return std::string(static_cast<const char*>(message.data()), message.size());
}

// Sends every kind of message, in order, to the mailslot named on the
// command line: the back end's side of an installation.
CHILD_PROCESS_MAIN(IpcSenderChild) {
  std::wstring name = base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(kMailslotSwitch);
  IpcSender sender;
  if (!sender.Connect(name))
    return 1;
  std::unique_ptr<base::BinaryMessage> message =
      CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteBool(true);
  sender.Send(std::move(message));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY));
  message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(3);
  sender.Send(std::move(message));
  for (int i = 0; i < 3; ++i)
    sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  sender.Send(CreateInstallerErrorMessage(37055, std::wstring(kHugeTextLength, L'w'),
                                          std::string(kHugeTextLength, 'd')));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  sender.Close();
  return 0;
}

class IpcTest : public testing::Test {
 protected:
  base::MessageLoop loop_;
};

TEST_F(IpcTest, BackEndProcessReportsEveryKindInOrder) {
  const std::wstring name = UniqueMailslotName();
  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.Connect(name));
  ASSERT_TRUE(WaitUntilReading(receiver));

  base::CommandLine child = testing::GetChildCommandLine("IpcSenderChild");
  child.AppendSwitchNative(kMailslotSwitch, name);
  base::Process process = base::LaunchProcess(child, base::LaunchOptions());
  ASSERT_TRUE(process.IsValid());
  RunAtMost(&runner, 20);
  int exit_code = -1;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);

  EXPECT_EQ((std::vector<std::string>{"starting true", "returned", "folder ready", "total 3",
                                      "step", "step", "step", "error 37055", "success"}),
            delegate.installer.calls);
  EXPECT_EQ(9, delegate.datagrams);
  // The error's texts were cut so that it fitted one datagram, and the
  // success behind it still came.
  ASSERT_GT(delegate.installer.error_text.size(), 400u);
  EXPECT_LT(delegate.installer.error_text.size(), 1000u);
  EXPECT_EQ(std::wstring(delegate.installer.error_text.size() - 3, L'w') + L"...",
            delegate.installer.error_text);
  EXPECT_EQ(std::string(delegate.installer.error_detail.size() - 3, 'd') + "...",
            delegate.installer.error_detail);
}

TEST_F(IpcTest, BadDatagramsAreRejectedAndReadingGoesOn) {
  ScopedLogCapture log;
  const std::wstring name = UniqueMailslotName();
  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.Connect(name));
  ASSERT_TRUE(WaitUntilReading(receiver));

  base::BinaryMessage foreign;
  foreign.WriteString(":Other message:");
  foreign.WriteInt(IPC_MESSAGE_SUCCESS);
  WriteDatagram(name, std::string("\x01\x02\x03", 3));                      // too short
  WriteDatagram(name, std::string("\x00\x00\x00\x00\x00\x00", 6));          // odd header
  WriteDatagram(name, std::string("\x40\x00\x00\x00\x00\x00\x00\x00", 8));  // too long
  WriteDatagram(name, Bytes(foreign));
  WriteDatagram(name, Bytes(*CreateInstallerMessage(9)));
  WriteDatagram(name, std::string());  // empty
  WriteDatagram(name, Bytes(*CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS)));
  // Longer than the reader's buffer: refused by Windows, cut short by Wine.
  WriteDatagram(name, std::string(3 * kMaxInstallerMessageSize, '\x7F'));
  WriteDatagram(name, Bytes(*CreateInstallerMessage(IPC_MESSAGE_STEP)));
  WriteDatagram(name, Bytes(*CreateInstallerMessage(IPC_MESSAGE_SUCCESS)));
  RunAtMost(&runner, 20);

  EXPECT_EQ((std::vector<std::string>{"step", "success"}), delegate.installer.calls);
  EXPECT_GE(log.Count("Received a message without installer signature"), 4);
  EXPECT_EQ(1, log.Count("Received installer message with invalid type"));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_TOTAL_STEPS message"));
  EXPECT_EQ(0, log.Count("Cannot read from mailslot"));
}

TEST_F(IpcTest, MessagesArriveInOrderAndOversizedOnesDoNotBlockThem) {
  ScopedLogCapture log;
  const std::wstring name = UniqueMailslotName();
  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.Connect(name));
  ASSERT_TRUE(WaitUntilReading(receiver));

  IpcSender sender;
  ASSERT_TRUE(sender.Connect(name));
  std::unique_ptr<base::BinaryMessage> total = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  total->WriteInt(50);
  sender.Send(std::move(total));
  // An error whose texts were not cut cannot be sent; what follows still is.
  std::unique_ptr<base::BinaryMessage> uncut = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  uncut->WriteInt(37055);
  uncut->WriteString16(std::wstring(kHugeTextLength, L'w'));
  uncut->WriteString("detail");
  sender.Send(std::move(uncut));
  // Exactly the largest message there may be.
  std::unique_ptr<base::BinaryMessage> largest =
      CreateInstallerErrorMessage(37056, std::wstring(500, L't'), std::string(1004, 'x'));
  ASSERT_EQ(kMaxInstallerMessageSize, largest->size());
  sender.Send(std::move(largest));
  for (int i = 0; i < 50; ++i)
    sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  sender.Close();
  RunAtMost(&runner, 20);

  std::vector<std::string> expected = {"total 50", "error 37056"};
  expected.insert(expected.end(), 50, "step");
  expected.push_back("success");
  EXPECT_EQ(expected, delegate.installer.calls);
  EXPECT_EQ(std::wstring(500, L't'), delegate.installer.error_text);
  EXPECT_EQ(std::string(1004, 'x'), delegate.installer.error_detail);
  EXPECT_EQ(1, log.Count("Dropping a message of "));
  EXPECT_EQ(1, log.Count("Messages unsent: 0"));
}

TEST_F(IpcTest, FailedWritesDropTheirMessage) {
  ScopedLogCapture log;
  // A handle that cannot be written: every write fails at once.
  wchar_t temp_folder[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp_folder));
  const std::wstring path =
      std::wstring(temp_folder) +
      base::UTF8ToWide(base::FormatString("velmo_ipc_test_%lu.tmp", GetCurrentProcessId()));
  base::win::ScopedHandle file(CreateFileW(
      path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.IsValid());
  base::win::ScopedHandle read_only(CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_TRUE(read_only.IsValid());

  IpcSender sender;
  ASSERT_TRUE(sender.ConnectToHandleForTesting(std::move(read_only)));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  sender.Close();

  EXPECT_EQ(3, log.Count("Cannot write to mailslot"));
  EXPECT_EQ(3, log.Count("Dropped the message of 32 bytes that could not be written"));
  EXPECT_EQ(1, log.Count("Messages unsent: 0"));
}

// A named pipe stands in for the mailslot where a write must wait: a pipe
// write does not complete before its reader has taken it, so the writer's
// pending-write, drain and cancel paths run as they would on a busy system.
class PendingWritePipe {
 public:
  bool Open() {
    const std::wstring name = L"\\\\.\\pipe\\" + UniqueMailslotName();
    server_.Reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0,
                                   0, nullptr));
    if (!server_.IsValid())
      return false;
    client_.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
    return client_.IsValid() &&
           (ConnectNamedPipe(server_.Get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  }
  base::win::ScopedHandle TakeClient() { return std::move(client_); }

  // The next datagram, decoded; false when the pipe is closed or the bytes
  // are no installer message.
  bool Read(InstallerMessage* message) {
    std::vector<char> buffer(kMaxInstallerMessageSize);
    DWORD read = 0;
    if (!ReadFile(server_.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return false;
    return ReadInstallerMessage(base::BinaryMessage(buffer.data(), read), message);
  }

 private:
  base::win::ScopedHandle server_;
  base::win::ScopedHandle client_;
};

TEST_F(IpcTest, PendingWritesDrainInOrderOnClose) {
  ScopedLogCapture log;
  PendingWritePipe pipe;
  ASSERT_TRUE(pipe.Open());
  IpcSender sender;
  ASSERT_TRUE(sender.ConnectToHandleForTesting(pipe.TakeClient()));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY));
  sender.Send(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  std::vector<int> types;
  base::PlainThread reader(
      "PipeReader", base::Bind([&] {
        // Reading starts once the writer is closing: its first write is left
        // pending by then, the others wait behind it.
        if (!log.WaitForLine("Closing mailslot.", base::TimeSpan::FromSeconds(30)))
          return;
        InstallerMessage message;
        while (types.size() < 3 && pipe.Read(&message))
          types.push_back(message.type);
      }));
  ASSERT_TRUE(reader.Start());
  sender.Close();
  reader.Join();
  EXPECT_EQ(
      (std::vector<int>{IPC_MESSAGE_STEP, IPC_MESSAGE_INSTALL_FOLDER_READY, IPC_MESSAGE_SUCCESS}),
      types);
  EXPECT_EQ(0, log.Count("I/O still pending on mailslot."));
  EXPECT_EQ(1, log.Count("Messages unsent: 0"));
}

TEST_F(IpcTest, WriteThatNeverCompletesIsCancelledOnClose) {
  ScopedLogCapture log;
  PendingWritePipe pipe;
  ASSERT_TRUE(pipe.Open());
  IpcSender sender;
  ASSERT_TRUE(sender.ConnectToHandleForTesting(pipe.TakeClient()));
  for (int i = 0; i < 3; ++i)
    sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
  // Nobody reads: the first write waits, the others queue behind it.
  sender.Close();
  EXPECT_EQ(1, log.Count("I/O still pending on mailslot."));
  EXPECT_EQ(0, log.Count("Cannot cancel the pending mailslot write"));
  EXPECT_EQ(0, log.Count("The pending mailslot write never completed"));
  EXPECT_EQ(1, log.Count("Messages unsent: 2"));
}

// A read that completes with an error loses its own datagram only: the
// next read is issued and later datagrams arrive. An oversized message on a
// pipe read through the completion port fails its read with ERROR_MORE_DATA,
// at once, and still reports through the port: the read's context must live
// until then (freed at once, it was freed twice, which corrupted the heap).
TEST_F(IpcTest, FailedReadCompletionIsFollowedByTheNextRead) {
  const std::wstring name = L"\\\\.\\pipe\\" + UniqueMailslotName();
  base::win::ScopedHandle server(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 8192, 0, nullptr));
  ASSERT_TRUE(server.IsValid());
  base::win::ScopedHandle client(
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(client.IsValid());
  auto write = [&](const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(client.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
  };
  ASSERT_TRUE(write(std::string(kMaxInstallerMessageSize + 100, 'x')));
  ASSERT_TRUE(write(Bytes(*CreateInstallerMessage(IPC_MESSAGE_STEP))));
  ASSERT_TRUE(write(Bytes(*CreateInstallerMessage(IPC_MESSAGE_SUCCESS))));

  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  ScopedLogCapture log;
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.ConnectToHandleForTesting(std::move(server)));
  RunAtMost(&runner, 30);
  EXPECT_EQ(IpcReceiver::ReadMode::kCompletionPort, receiver.read_mode());
  EXPECT_EQ((std::vector<std::string>{"step", "success"}), delegate.installer.calls);
  receiver.Close();
  EXPECT_EQ(0, log.Count("Cannot read from mailslot"));
  EXPECT_EQ(1, log.Count("Dropped a datagram larger than 2048 bytes"));
}

// The threads of this process whose names are |names| and which did not
// exist in |before|.
std::vector<base::win::ScopedHandle> NewNamedThreads(const std::vector<DWORD>& before,
                                                     const std::vector<std::string>& names) {
  std::vector<base::win::ScopedHandle> threads;
  base::win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {sizeof(entry)};
  for (BOOL ok = Thread32First(snapshot.Get(), &entry); ok;
       ok = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
        std::find(before.begin(), before.end(), entry.th32ThreadID) != before.end())
      continue;
    std::string name = base::ThreadNameRegistry::GetInstance()->GetName(entry.th32ThreadID);
    if (std::find(names.begin(), names.end(), name) != names.end())
      threads.emplace_back(OpenThread(SYNCHRONIZE, FALSE, entry.th32ThreadID));
  }
  return threads;
}

std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  base::win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {sizeof(entry)};
  for (BOOL ok = Thread32First(snapshot.Get(), &entry); ok;
       ok = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId())
      ids.push_back(entry.th32ThreadID);
  }
  return ids;
}

TEST_F(IpcTest, ReaderTakesTheReadThreadWhereThePortRefusesAndStopsCleanly) {
  ScopedLogCapture log;
  const std::wstring name = UniqueMailslotName();
  const std::vector<DWORD> before = ThreadIds();
  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  auto receiver = std::make_unique<IpcReceiver>(&delegate);
  ASSERT_TRUE(receiver->Connect(name));
  ASSERT_TRUE(WaitUntilReading(*receiver));

  // Wine's reading handle of a mailslot is synchronous only.
  const size_t expected_threads = RunningUnderWine() ? 2u : 1u;
  EXPECT_EQ(RunningUnderWine() ? IpcReceiver::ReadMode::kReadThread
                               : IpcReceiver::ReadMode::kCompletionPort,
            receiver->read_mode());
  // A thread is named once it runs, which a loaded machine may put off.
  std::vector<base::win::ScopedHandle> threads;
  for (int waited = 0; waited < 60000; waited += 10) {
    threads = NewNamedThreads(before, {"Installer IPC thread", "Installer IPC read thread"});
    if (threads.size() >= expected_threads)
      break;
    Sleep(10);
  }
  EXPECT_EQ(expected_threads, threads.size());

  // Datagrams pass either way.
  WriteDatagram(name, Bytes(*CreateInstallerMessage(IPC_MESSAGE_STEP)));
  WriteDatagram(name, Bytes(*CreateInstallerMessage(IPC_MESSAGE_SUCCESS)));
  RunAtMost(&runner, 20);
  EXPECT_EQ((std::vector<std::string>{"step", "success"}), delegate.installer.calls);

  // Closing with a read pending (blocked, on Wine) ends every thread: the
  // read thread's timed reads let it see the stop (a read that waited for a
  // datagram would hold the close forever).
  receiver->Close();
  EXPECT_EQ(IpcReceiver::ReadMode::kNotReading, receiver->read_mode());
  receiver.reset();
  for (const base::win::ScopedHandle& thread : threads)
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Get(), 0));
  EXPECT_EQ(1, log.Count("I/O still pending on mailslot."));
  EXPECT_EQ(0, log.Count("Cannot read from mailslot"));
}

// The bytes of a message of |type| with a header of |header_size| bytes
// (the payload size first, the rest zero) followed by the payload of
// |payload|'s message.
std::string WithHeader(const base::BinaryMessage& payload, size_t header_size) {
  std::string bytes(header_size, '\0');
  const uint32_t size = static_cast<uint32_t>(payload.payload_size());
  memcpy(bytes.data(), &size, sizeof(size));
  bytes.append(payload.payload(), payload.payload_size());
  return bytes;
}

// Writes datagrams that bend the message layout, each between sound ones,
// to the mailslot named on the command line: a hostile process beside the
// back end.
CHILD_PROCESS_MAIN(IpcMalformedSenderChild) {
  const std::wstring name =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(kMailslotSwitch);
  base::win::ScopedHandle mailslot = OpenMailslotForWriting(name);
  if (!mailslot.IsValid())
    return 1;
  std::vector<std::string> datagrams;
  auto add = [&datagrams](const base::BinaryMessage& message) {
    datagrams.push_back(Bytes(message));
  };

  std::unique_ptr<base::BinaryMessage> message = CreateInstallerMessage(IPC_MESSAGE_STEP);
  message->WriteInt(0);  // trailing bytes
  add(*message);
  // A header of 8 bytes in front of a sound payload.
  datagrams.push_back(WithHeader(*CreateInstallerMessage(IPC_MESSAGE_STEP), 8));
  message = CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteInt(2);  // a boolean that is neither 0 nor 1
  add(*message);
  message = CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteInt(0x100);  // first byte 0, the padding not
  add(*message);
  message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(-5);
  add(*message);
  message = CreateInstallerErrorMessage(-1, L"text", "detail");
  add(*message);
  message = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  message->WriteInt(37055);
  message->WriteInt(-2);  // a negative UTF-16 count
  add(*message);
  message = CreateInstallerErrorMessage(37055, L"text", "abc");
  std::string unpadded = Bytes(*message);
  unpadded.pop_back();  // the detail's padding cut off
  const uint32_t payload = static_cast<uint32_t>(unpadded.size() - 4);
  memcpy(unpadded.data(), &payload, sizeof(payload));
  datagrams.push_back(unpadded);
  message = CreateInstallerMessage(IPC_MESSAGE_SUCCESS);
  message->WriteString("tail");
  add(*message);
  // The sound ones.
  message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(2);
  add(*message);
  message = CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteBool(true);
  add(*message);
  add(*CreateInstallerErrorMessage(37056, L"shown", "logged"));
  add(*CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  for (const std::string& bytes : datagrams) {
    DWORD written = 0;
    if (!WriteFile(mailslot.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
      return 2;
    }
  }
  return 0;
}

// Datagrams from another process that bend the layout are refused, each
// with its warning, and the sound ones behind them still arrive.
TEST_F(IpcTest, MalformedDatagramsFromAnotherProcessAreRefused) {
  ScopedLogCapture log;
  const std::wstring name = UniqueMailslotName();
  base::LoopRunner runner;
  RecordingReceiverDelegate delegate(&runner);
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.Connect(name));
  ASSERT_TRUE(WaitUntilReading(receiver));

  base::Process process = LaunchMailslotChild("IpcMalformedSenderChild", name);
  ASSERT_TRUE(process.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(process.WaitForExit(&exit_code));
  ASSERT_EQ(0, exit_code);
  RunAtMost(&runner, 20);

  EXPECT_EQ(13, delegate.datagrams);
  EXPECT_EQ((std::vector<std::string>{"total 2", "starting true", "error 37056", "success"}),
            delegate.installer.calls);
  EXPECT_EQ(L"shown", delegate.installer.error_text);
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_STEP message"));
  EXPECT_EQ(1, log.Count("Received a message without installer signature"));
  EXPECT_EQ(2, log.Count("Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESSmessage"));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_TOTAL_STEPS message"));
  EXPECT_EQ(3, log.Count("Received invalid IPC_MESSAGE_ERROR message"));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_SUCCESS message"));
}

constexpr char kCountSwitch[] = "count";

// Floods the mailslot named on the command line with numbered messages.
CHILD_PROCESS_MAIN(IpcFloodSenderChild) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  const std::wstring name = command_line->GetSwitchValueNative(kMailslotSwitch);
  const int count = std::stoi(command_line->GetSwitchValueASCII(kCountSwitch));
  base::win::ScopedHandle mailslot = OpenMailslotForWriting(name);
  if (!mailslot.IsValid())
    return 1;
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<base::BinaryMessage> message = CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
    message->WriteInt(i);
    DWORD written = 0;
    if (!WriteFile(mailslot.Get(), message->data(), static_cast<DWORD>(message->size()), &written,
                   nullptr)) {
      return 2;
    }
  }
  return 0;
}

// While the owner's loop does not run, a flood of datagrams from another
// process fills the receiver only up to its bound; once the loop runs again
// every datagram arrives, once and in order.
TEST_F(IpcTest, FloodWhileTheOwnerIsStalledStaysBoundedAndLosesNothing) {
  constexpr int kCount = 5000;
  const std::wstring name = UniqueMailslotName();
  base::LoopRunner runner;
  std::vector<int> received;
  class CountingDelegate : public IpcReceiver::Delegate {
   public:
    CountingDelegate(std::vector<int>* received, base::LoopRunner* runner)
        : received_(received), runner_(runner) {}
    void OnMessageReceived(const base::BinaryMessage& message) override {
      InstallerMessage decoded;
      if (ReadInstallerMessage(message, &decoded))
        received_->push_back(decoded.number);
      if (received_->size() == static_cast<size_t>(kCount))
        runner_->Quit();
    }

   private:
    std::vector<int>* received_;
    base::LoopRunner* runner_;
  } delegate(&received, &runner);
  IpcReceiver receiver(&delegate);
  ASSERT_TRUE(receiver.Connect(name));
  ASSERT_TRUE(WaitUntilReading(receiver));

  base::Process process =
      LaunchMailslotChild("IpcFloodSenderChild", name, {{kCountSwitch, std::to_string(kCount)}});
  ASSERT_TRUE(process.IsValid());
  // The owner stalls while the sender writes (a writer may have to wait for
  // room in the mailslot, so it is not waited for here). The sender may be
  // slow to start on a loaded machine: the stall lasts until datagrams
  // wait for the owner, never a fixed time, and then a while longer, in
  // which the reader takes in everything it would.
  const ULONGLONG deadline = GetTickCount64() + 120 * 1000;
  while (receiver.undelivered() == 0 && GetTickCount64() < deadline)
    Sleep(10);
  EXPECT_GT(receiver.undelivered(), 0u);
  for (int look = 0; look < 100; ++look) {
    ASSERT_LE(receiver.undelivered(), MailslotReader::kMaxUndeliveredDatagrams);
    Sleep(20);
  }

  RunAtMost(&runner, 60);
  int exit_code = -1;
  ASSERT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
  EXPECT_EQ(0, exit_code);
  ASSERT_EQ(static_cast<size_t>(kCount), received.size());
  for (int i = 0; i < kCount; ++i)
    ASSERT_EQ(i, received[static_cast<size_t>(i)]);
  EXPECT_EQ(0u, receiver.undelivered());
}

}  // namespace
}  // namespace installer
