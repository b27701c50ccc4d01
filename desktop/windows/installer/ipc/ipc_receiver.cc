#include "desktop/windows/installer/ipc/ipc_receiver.h"

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

// How long one synchronous read of the read thread waits for a datagram:
// the longest the thread takes to notice that it must stop.
constexpr DWORD kReadThreadTimeoutMs = 100;

std::atomic<void (*)()> g_hand_over_hook{nullptr};
// How long reading pauses while the bound of undelivered datagrams is
// reached, before it looks again.
constexpr DWORD kFullPauseMs = 10;

}  // namespace

// MailslotReader -------------------------------------------------------------

MailslotReader::MailslotReader(base::win::ScopedHandle mailslot, IpcReceiver* receiver)
    : mailslot_(std::move(mailslot)),
      receiver_(receiver),
      buffer_(new char[kMaxInstallerMessageSize]),
      io_loop_(base::IoMessageLoop::Current()) {
  if (!io_loop_) {
    LOG(ERROR) << "The mailslot reader needs an I/O loop; not reading";
    return;
  }
  if (io_loop_->RegisterIOHandler(mailslot_.Get(), this)) {
    receiver_->set_read_mode(IpcReceiver::ReadMode::kCompletionPort);
  } else {
    if (!StartReadThread())
      return;
    receiver_->set_read_mode(IpcReceiver::ReadMode::kReadThread);
  }
  StartRead();
}

MailslotReader::~MailslotReader() {
  VLOG(1) << "Closing mailslot";
  if (read_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    if (!read_thread_ && !CancelIo(mailslot_.Get()))
      PLOG(ERROR) << "Cannot cancel the pending mailslot read";
  }
  // The read thread uses the handle: it must be gone before the handle is.
  if (read_thread_)
    StopReadThread();
  mailslot_.Reset();
  while (read_pending_) {
    if (!io_loop_->WaitForIOCompletion(base::TimeSpan::Max(), this)) {
      LOG(ERROR) << "The pending mailslot read never completed";
      break;
    }
  }
}

bool MailslotReader::IsFull(size_t queued) const {
  return queued + receiver_->undelivered() >= kMaxUndeliveredDatagrams;
}

void MailslotReader::StartRead() {
  if (!mailslot_.IsValid())
    return;
  if (!read_thread_ && IsFull(0)) {
    // The owner is behind: read again once it has taken some.
    base::MessageLoop::Current()->task_runner()->PostDelayedTask(
        IPC_LOCATION("StartRead"),
        base::Bind(&MailslotReader::StartRead, weak_factory_.GetWeakRef()),
        base::TimeSpan::FromMilliseconds(kFullPauseMs));
    return;
  }
  auto context = std::make_unique<base::IoCompletionContext>(this);
  if (read_thread_) {
    read_pending_ = true;
    {
      base::AutoLock lock(request_lock_);
      if (read_datagrams_.empty()) {
        // The read thread posts it with the next datagram.
        requested_read_ = context.release();
        return;
      }
    }
    // Datagrams came in meanwhile: complete the read at once.
    if (!io_loop_->PostIOCompletion(this, context.get(), 0)) {
      read_pending_ = false;
      return;
    }
    context.release();
    return;
  }
  DWORD bytes = 0;
  if (!ReadFile(mailslot_.Get(), buffer_.get(), kMaxInstallerMessageSize, &bytes,
                &context->overlapped)) {
    DWORD error = GetLastError();
    // A datagram larger than the buffer is a warning, not a failure: the
    // read has completed with its first part, and its completion comes
    // through the port like any other, with the context, which therefore
    // must live on.
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
      ELOG(ERROR, error) << "Cannot read from mailslot";
      return;
    }
  }
  // Even a read that completed at once reports through the port.
  context.release();
  read_pending_ = true;
}

void MailslotReader::OnIOCompleted(base::IoCompletionContext* context, DWORD bytes_transferred,
                                   DWORD error) {
  delete context;
  read_pending_ = false;
  if (uses_read_thread_) {
    // Every datagram the read thread has read so far, in order.
    std::vector<base::BinaryMessage> datagrams;
    {
      base::AutoLock lock(request_lock_);
      datagrams.swap(read_datagrams_);
    }
    if (!datagrams.empty())
      receiver_->OnMessagesReceived(std::move(datagrams));
    StartRead();
    return;
  }
  // A failed or cancelled read transfers nothing and delivers nothing; the
  // first part of a datagram too large for any message is dropped.
  if (error == ERROR_MORE_DATA) {
    LOG(WARNING) << "Dropped a datagram larger than " << kMaxInstallerMessageSize << " bytes";
  } else if (bytes_transferred != 0) {
    base::BinaryMessage message(buffer_.get(), bytes_transferred);
    receiver_->OnMessageReceived(message);
  }
  // A failed read loses at most its own datagram: the next one is read all
  // the same. A mailslot that can no longer be read fails that read at once,
  // which ends the reading there.
  if (error != 0)
    VLOG(1) << "A mailslot read completed with error " << error;
  StartRead();
}

bool MailslotReader::StartReadThread() {
  VLOG(1) << "The mailslot cannot use the completion port; reading it on a thread of its own";
  // Timed reads let the thread see that it must stop.
  if (!SetMailslotInfo(mailslot_.Get(), kReadThreadTimeoutMs)) {
    PLOG(ERROR) << "Cannot set the mailslot's read time-out; not reading";
    return false;
  }
  uses_read_thread_ = true;
  read_thread_ = std::make_unique<base::PlainThread>(
      "Installer IPC read thread",
      base::Bind(&MailslotReader::ReadThreadMain, base::Unretained(this)));
  if (!read_thread_->Start()) {
    LOG(ERROR) << "Could not start the mailslot read thread; not reading";
    read_thread_.reset();
    return false;
  }
  return true;
}

void MailslotReader::StopReadThread() {
  stopping_.store(true);
  read_thread_->Join();
  read_thread_.reset();
  // A read the thread never completed.
  base::AutoLock lock(request_lock_);
  if (requested_read_) {
    delete requested_read_;
    requested_read_ = nullptr;
    read_pending_ = false;
  }
}

void MailslotReader::ReadThreadMain() {
  // Reads on without waiting for the I/O loop: each datagram joins the
  // ones not yet taken, and the loop's pending read completes with the
  // first of them.
  bool paused = false;
  for (;;) {
    if (stopping_.load())
      return;
    size_t queued = 0;
    {
      base::AutoLock lock(request_lock_);
      queued = read_datagrams_.size();
    }
    if (IsFull(queued)) {
      if (!paused) {
        LOG(WARNING) << "Installer IPC messages are not being taken; pausing reads of the "
                        "mailslot at "
                     << kMaxUndeliveredDatagrams << " undelivered messages";
      }
      paused = true;
      ::Sleep(kFullPauseMs);
      continue;
    }
    paused = false;
    DWORD bytes = 0;
    if (!ReadFile(mailslot_.Get(), buffer_.get(), kMaxInstallerMessageSize, &bytes, nullptr)) {
      DWORD error = GetLastError();
      // No datagram within the time-out, or an empty datagram (which Wine
      // reports as a broken pipe): read again.
      if (error == ERROR_SEM_TIMEOUT || error == ERROR_BROKEN_PIPE)
        continue;
      ELOG(ERROR, error) << "Cannot read from mailslot";
      return;
    }
    if (bytes == 0)
      continue;
    const base::BinaryMessage view(buffer_.get(), bytes);
    base::IoCompletionContext* context;
    {
      base::AutoLock lock(request_lock_);
      // The copy owns its bytes: the buffer is reused for the next datagram.
      read_datagrams_.push_back(view);
      context = requested_read_;
      requested_read_ = nullptr;
    }
    if (context && !io_loop_->PostIOCompletion(this, context, bytes)) {
      // Logged by the loop; reading stops and the reader frees the context.
      base::AutoLock lock(request_lock_);
      requested_read_ = context;
      return;
    }
  }
}

// IpcReceiver ----------------------------------------------------------------

IpcReceiver::IpcReceiver(Delegate* delegate)
    : thread_("Installer IPC thread"), delegate_(delegate) {
  if (base::MessageLoop* loop = base::MessageLoop::Current())
    owner_task_runner_ = loop->task_runner();
  weak_self_ = weak_factory_.GetWeakRef();
}

IpcReceiver::~IpcReceiver() { Close(); }

bool IpcReceiver::Connect(const std::wstring& name) {
  VLOG(1) << "Preparing to receive IPC on " << name;
  if (!StartThread())
    return false;
  thread_.task_runner()->PostTask(
      IPC_LOCATION("Connect"),
      base::Bind(&IpcReceiver::SetUpMailslot, base::Unretained(this), name));
  return true;
}

bool IpcReceiver::ConnectToHandleForTesting(base::win::ScopedHandle handle) {
  if (!StartThread())
    return false;
  thread_.task_runner()->PostTask(IPC_LOCATION("Connect"),
                                  base::Bind(&IpcReceiver::CreateReader, base::Unretained(this),
                                             base::Passed(std::move(handle))));
  return true;
}

bool IpcReceiver::StartThread() {
  if (!owner_task_runner_) {
    LOG(ERROR) << "The IPC receiver was made on a thread without a message loop";
    return false;
  }
  base::Thread::Options options;
  options.type = base::MessageLoop::TYPE_IO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  return true;
}

void IpcReceiver::Close() {
  VLOG(1) << "Stopping RPC receiver";
  if (thread_.task_runner()) {
    thread_.task_runner()->PostTask(
        IPC_LOCATION("Close"), base::Bind(&IpcReceiver::DestroyReader, base::Unretained(this)));
  }
  thread_.Stop();
}

void IpcReceiver::SetUpMailslot(const std::wstring& name) {
  const std::wstring full_name = kMailslotPrefix + name;
  VLOG(1) << "Creating mailslot " << full_name;
  HANDLE handle =
      CreateMailslotW(full_name.c_str(), kMaxInstallerMessageSize, MAILSLOT_WAIT_FOREVER, nullptr);
  const DWORD error = GetLastError();
  base::win::ScopedHandle mailslot(handle);
  if (!mailslot.IsValid()) {
    ELOG(ERROR, error) << "Failed creating " << full_name;
    return;
  }
  CreateReader(std::move(mailslot));
}

void IpcReceiver::CreateReader(base::win::ScopedHandle mailslot) {
  reader_ = std::make_unique<MailslotReader>(std::move(mailslot), this);
}

void IpcReceiver::DestroyReader() {
  reader_.reset();
  set_read_mode(ReadMode::kNotReading);
}

// static
void IpcReceiver::SetHandOverHookForTesting(void (*hook)()) {
  g_hand_over_hook.store(hook, std::memory_order_release);
}

void IpcReceiver::OnMessageReceived(const base::BinaryMessage& message) {
  if (void (*hook)() = g_hand_over_hook.load(std::memory_order_acquire))
    hook();
  undelivered_.fetch_add(1, std::memory_order_acq_rel);
  // The copy owns its bytes: the read buffer is reused for the next datagram.
  owner_task_runner_->PostTask(
      IPC_LOCATION("OnMessageReceived"),
      base::Bind(&IpcReceiver::DeliverMessage, weak_self_, base::BinaryMessage(message)));
}

void IpcReceiver::OnMessagesReceived(std::vector<base::BinaryMessage> messages) {
  if (void (*hook)() = g_hand_over_hook.load(std::memory_order_acquire))
    hook();
  undelivered_.fetch_add(messages.size(), std::memory_order_acq_rel);
  owner_task_runner_->PostTask(
      IPC_LOCATION("OnMessageReceived"),
      base::Bind(&IpcReceiver::DeliverMessages, weak_self_, base::Passed(std::move(messages))));
}

void IpcReceiver::DeliverMessage(const base::BinaryMessage& message) {
  undelivered_.fetch_sub(1, std::memory_order_acq_rel);
  delegate_->OnMessageReceived(message);
}

void IpcReceiver::DeliverMessages(std::vector<base::BinaryMessage> messages) {
  // The delegate may delete the receiver on any of them; the rest are then
  // dropped, as their tasks would be.
  base::WeakRef<IpcReceiver> self = weak_self_;
  undelivered_.fetch_sub(messages.size(), std::memory_order_acq_rel);
  for (const base::BinaryMessage& message : messages) {
    if (!self)
      return;
    delegate_->OnMessageReceived(message);
  }
}

}  // namespace installer
