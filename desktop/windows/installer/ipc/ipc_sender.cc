#include "desktop/windows/installer/ipc/ipc_sender.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/io_completion_context.h"
#include "base/threading/io_message_loop.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_location.h"

namespace installer {

namespace {

constexpr wchar_t kMailslotPrefix[] = L"\\\\.\\mailslot\\";

// How long closing waits for one write to complete. Writes to a local
// mailslot complete at once; this only bounds a write that hangs.
constexpr int64_t kFlushTimeoutMs = 5000;

}  // namespace

// MailslotWriter -------------------------------------------------------------

MailslotWriter::MailslotWriter(base::win::ScopedHandle mailslot)
    : mailslot_(std::move(mailslot)), io_loop_(base::IoMessageLoop::Current()) {}

bool MailslotWriter::Init() {
  if (!io_loop_) {
    LOG(ERROR) << "The mailslot writer needs an I/O loop";
    return false;
  }
  return io_loop_->RegisterIOHandler(mailslot_.Get(), this);
}

MailslotWriter::~MailslotWriter() {
  VLOG(1) << "Closing mailslot.";
  // Everything sent before the close was handed to this writer, the run's
  // final report last: write it out rather than drop it. Each completion
  // starts the next write; a write that does not complete in time is
  // cancelled below.
  while (write_pending_) {
    if (!io_loop_->WaitForIOCompletion(base::TimeSpan::FromMilliseconds(kFlushTimeoutMs), this))
      break;
  }
  if (write_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    if (!CancelIo(mailslot_.Get()))
      PLOG(ERROR) << "Cannot cancel the pending mailslot write";
  }
  mailslot_.Reset();
  // The completion still removes the head message; no new write starts
  // with the mailslot closed.
  while (write_pending_) {
    if (!io_loop_->WaitForIOCompletion(base::TimeSpan::Max(), this)) {
      LOG(ERROR) << "The pending mailslot write never completed";
      break;
    }
  }
  VLOG(1) << "Messages unsent: " << queue_.size();
}

void MailslotWriter::Send(std::unique_ptr<base::BinaryMessage> message) {
  queue_.push_back(std::move(message));
  if (!write_pending_)
    WriteNext();
}

void MailslotWriter::WriteNext() {
  while (mailslot_.IsValid() && !write_pending_ && !queue_.empty()) {
    const base::BinaryMessage& message = *queue_.front();
    // The receiver reads at most this much; Windows refuses a longer write
    // and Wine would hand the reader a truncated datagram.
    if (message.size() > kMaxInstallerMessageSize) {
      LOG(ERROR) << "Dropping a message of " << message.size()
                 << " bytes, larger than a mailslot message may be";
      queue_.pop_front();
      continue;
    }
    auto context = std::make_unique<base::IoCompletionContext>(this);
    if (!WriteFile(mailslot_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr,
                   &context->overlapped)) {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        // Retrying later would fail the same way and hold back every
        // message behind this one, the final report included.
        ELOG(ERROR, error) << "Cannot write to mailslot";
        LOG(WARNING) << "Dropped the message of " << message.size()
                     << " bytes that could not be written";
        queue_.pop_front();
        continue;
      }
    }
    // Even a write that completed at once reports through the port.
    context.release();
    write_pending_ = true;
  }
}

void MailslotWriter::OnIOCompleted(base::IoCompletionContext* context, DWORD bytes_transferred,
                                   DWORD error) {
  delete context;
  write_pending_ = false;
  if (error != 0 && error != ERROR_OPERATION_ABORTED)
    ELOG(ERROR, error) << "Writing to mailslot failed";
  else if (error == 0 && !queue_.empty() && bytes_transferred != queue_.front()->size())
    LOG(ERROR) << "Mailslot write of " << queue_.front()->size() << " bytes wrote "
               << bytes_transferred;
  // Whatever the outcome, the message has had its write.
  if (!queue_.empty())
    queue_.pop_front();
  WriteNext();
}

// IpcSender ------------------------------------------------------------------

IpcSender::IpcSender() : thread_("Installer IPC thread") {}

IpcSender::~IpcSender() {
  Close();
}

bool IpcSender::StartThread() {
  base::Thread::Options options;
  options.type = base::MessageLoop::TYPE_IO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  return true;
}

bool IpcSender::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to send IPC on " << name;
  if (!StartThread())
    return false;
  thread_.task_runner()->PostTask(
      IPC_LOCATION("Connect"), base::Bind(&IpcSender::OpenMailslot, base::Unretained(this), name));
  return true;
}

bool IpcSender::ConnectToHandleForTesting(base::win::ScopedHandle handle) {
  if (!StartThread())
    return false;
  thread_.task_runner()->PostTask(IPC_LOCATION("Connect"),
                                  base::Bind(&IpcSender::CreateWriter, base::Unretained(this),
                                             base::Passed(std::move(handle))));
  return true;
}

void IpcSender::Send(std::unique_ptr<base::BinaryMessage> message) {
  if (!thread_.task_runner()) {
    VLOG(1) << "IPC thread not running; message dropped";
    return;
  }
  thread_.task_runner()->PostTask(IPC_LOCATION("Send"),
                                  base::Bind(&IpcSender::SendOnIpcThread, base::Unretained(this),
                                             base::Passed(std::move(message))));
}

void IpcSender::Close() {
  VLOG(1) << "Stopping RPC sender";
  if (thread_.task_runner()) {
    thread_.task_runner()->PostTask(
        IPC_LOCATION("Close"), base::Bind(&IpcSender::DestroyWriter, base::Unretained(this)));
  }
  thread_.Stop();
}

void IpcSender::OpenMailslot(const std::wstring& name) {
  const std::wstring full_name = kMailslotPrefix + name;
  VLOG(1) << "Opening mailslot " << full_name;
  HANDLE handle = CreateFileW(full_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  const DWORD error = GetLastError();
  base::win::ScopedHandle mailslot(handle);
  if (!mailslot.IsValid()) {
    ELOG(ERROR, error) << "Failed opening " << full_name;
    return;
  }
  CreateWriter(std::move(mailslot));
}

void IpcSender::CreateWriter(base::win::ScopedHandle mailslot) {
  auto writer = std::make_unique<MailslotWriter>(std::move(mailslot));
  if (!writer->Init()) {
    LOG(ERROR) << "Cannot write to the mailslot; messages will be dropped";
    return;
  }
  writer_ = std::move(writer);
}

void IpcSender::SendOnIpcThread(std::unique_ptr<base::BinaryMessage> message) {
  if (!writer_) {
    VLOG(1) << "No mailslot open; message dropped";
    return;
  }
  writer_->Send(std::move(message));
}

void IpcSender::DestroyWriter() {
  writer_.reset();
}

}  // namespace installer
