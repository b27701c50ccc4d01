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

// One write: its OVERLAPPED and the message it writes, which must stay in
// place until the write completes.
struct MailslotWriter::WriteContext : base::IoCompletionContext {
  WriteContext(MailslotWriter* writer, std::unique_ptr<base::BinaryMessage> message)
      : base::IoCompletionContext(writer), message(std::move(message)) {}

  std::unique_ptr<base::BinaryMessage> message;
  // The write did not complete at once: later writes wait for it.
  bool pending = false;
};

MailslotWriter::MailslotWriter(base::win::ScopedHandle mailslot)
    : mailslot_(std::move(mailslot)), io_loop_(base::IoMessageLoop::Current()) {}

bool MailslotWriter::Init() {
  if (!io_loop_) {
    LOG(ERROR) << "The mailslot writer needs an I/O loop";
    return false;
  }
  if (!io_loop_->RegisterIOHandler(mailslot_.Get(), this)) {
    LOG(ERROR) << "The mailslot writer cannot use the I/O loop's completion port";
    return false;
  }
  // A write that completes at once is finished there; its completion
  // packet would only cost a wait on the port. Without this mode every
  // write still reports through the port, and is counted until it does.
  skip_port_on_success_ =
      SetFileCompletionNotificationModes(mailslot_.Get(), FILE_SKIP_COMPLETION_PORT_ON_SUCCESS);
  if (!skip_port_on_success_)
    VLOG(1) << "Mailslot writes that complete at once still report through the port";
  return true;
}

MailslotWriter::~MailslotWriter() {
  VLOG(1) << "Closing mailslot.";
  // Everything sent before the close was handed to this writer, the run's
  // final report last: write it out rather than drop it. Each completion
  // lets the next write start; a write that does not complete in time is
  // cancelled below.
  while (writes_in_flight_ > 0) {
    if (!io_loop_->WaitForIOCompletion(base::TimeSpan::FromMilliseconds(kFlushTimeoutMs), this))
      break;
  }
  if (write_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    if (!CancelIo(mailslot_.Get()))
      PLOG(ERROR) << "Cannot cancel the pending mailslot write";
  }
  mailslot_.Reset();
  // Each completion still frees its write; no new write starts with the
  // mailslot closed.
  while (writes_in_flight_ > 0) {
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
  // Writes that complete at once have put their datagram in the mailslot,
  // so the next one may follow straight away, each with its own record;
  // only a write left pending holds back the ones behind it.
  while (mailslot_.IsValid() && !write_pending_ && !queue_.empty()) {
    std::unique_ptr<base::BinaryMessage> message = std::move(queue_.front());
    queue_.pop_front();
    // The receiver reads at most this much; Windows refuses a longer write
    // and Wine would hand the reader a truncated datagram.
    if (message->size() > kMaxInstallerMessageSize) {
      LOG(ERROR) << "Dropping a message of " << message->size()
                 << " bytes, larger than a mailslot message may be";
      continue;
    }
    const DWORD size = static_cast<DWORD>(message->size());
    auto context = std::make_unique<WriteContext>(this, std::move(message));
    DWORD written = 0;
    if (WriteFile(mailslot_.Get(), context->message->data(), size, &written,
                  &context->overlapped)) {
      if (skip_port_on_success_) {
        // Finished: no completion will follow.
        if (written != size)
          LOG(ERROR) << "Mailslot write of " << size << " bytes wrote " << written;
        continue;
      }
      // Done, but its completion still arrives through the port.
      context.release();
      ++writes_in_flight_;
      continue;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      // Retrying later would fail the same way and hold back every message
      // behind this one, the final report included.
      ELOG(ERROR, error) << "Cannot write to mailslot";
      LOG(WARNING) << "Dropped the message of " << size << " bytes that could not be written";
      continue;
    }
    context->pending = true;
    context.release();
    ++writes_in_flight_;
    write_pending_ = true;
  }
}

void MailslotWriter::OnIOCompleted(base::IoCompletionContext* io_context, DWORD bytes_transferred,
                                   DWORD error) {
  std::unique_ptr<WriteContext> context(static_cast<WriteContext*>(io_context));
  --writes_in_flight_;
  if (context->pending)
    write_pending_ = false;
  if (error != 0 && error != ERROR_OPERATION_ABORTED)
    ELOG(ERROR, error) << "Writing to mailslot failed";
  else if (error == 0 && bytes_transferred != context->message->size())
    LOG(ERROR) << "Mailslot write of " << context->message->size() << " bytes wrote "
               << bytes_transferred;
  // Whatever the outcome, the message has had its write.
  context.reset();
  WriteNext();
}

// IpcSender ------------------------------------------------------------------

IpcSender::IpcSender() : thread_("Installer IPC thread") {}

IpcSender::~IpcSender() { Close(); }

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
    thread_.task_runner()->PostTask(IPC_LOCATION("Close"),
                                    base::Bind(&IpcSender::DestroyWriter, base::Unretained(this)));
  }
  thread_.Stop();
}

void IpcSender::OpenMailslot(const std::wstring& name) {
  const std::wstring full_name = kMailslotPrefix + name;
  VLOG(1) << "Opening mailslot " << full_name;
  HANDLE handle =
      CreateFileW(full_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
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

void IpcSender::DestroyWriter() { writer_.reset(); }

}  // namespace installer
