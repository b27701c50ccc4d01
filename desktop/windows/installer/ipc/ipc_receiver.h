// IpcReceiver: the front end's side of the installer mailslot. It creates
// the mailslot on a thread of its own, the "Installer IPC thread", reads the
// datagrams there and posts them, as BinaryMessages and in order, to the
// thread that constructed the receiver.
//
//   IpcReceiver receiver(delegate);      // on a thread with a MessageLoop
//   receiver.Connect(L"name");           // "\\.\mailslot\name"
//   ... delegate->OnMessageReceived(message) on this thread ...
//   receiver.Close();                    // or the destructor
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/binary_message.h"
#include "base/shared_ref.h"
#include "base/threading/io_handler.h"
#include "base/threading/lock.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread.h"
#include "base/weak_ref.h"
#include "base/win/scoped_handle.h"

namespace base {
class IoMessageLoop;
struct IoCompletionContext;
}  // namespace base

namespace installer {

class IpcReceiver;

// Reads the mailslot on the IPC thread and hands the datagrams to the
// receiver, each once and in order.
//
// Reads are overlapped and complete through the IPC thread's completion
// port. Where a mailslot cannot be associated with a completion port (Wine
// keeps its reading handle synchronous), a read thread of the reader's own
// does timed synchronous reads, one after the other, and keeps the datagrams
// until the I/O loop takes them: the first one completes the loop's pending
// read through the port, and that completion hands over every datagram read
// by then, in order. OnIOCompleted runs either way.
//
// Datagrams read but not yet delivered to the delegate are bounded by
// kMaxUndeliveredDatagrams: past the bound the reader stops reading until
// the owner has taken some, so a stalled loop and a flood of datagrams
// cannot grow the process without limit. What is not read waits in the
// mailslot, whose own queue the system bounds.
class MailslotReader : public base::IoHandler {
 public:
  static constexpr size_t kMaxUndeliveredDatagrams = 1024;

  // Starts reading |mailslot| at once; must run on an I/O loop's thread.
  MailslotReader(base::win::ScopedHandle mailslot, IpcReceiver* receiver);
  MailslotReader(const MailslotReader&) = delete;
  MailslotReader& operator=(const MailslotReader&) = delete;
  // Cancels a pending read and waits for its completion; closes the
  // mailslot.
  ~MailslotReader() override;

  void OnIOCompleted(base::IoCompletionContext* context, DWORD bytes_transferred,
                     DWORD error) override;

 private:
  // Issues the next read while the mailslot is open, or, while too many
  // datagrams wait for delivery, tries again a little later.
  void StartRead();
  // Whether datagrams read so far fill the bound, with |queued| of them
  // still held by the read thread.
  bool IsFull(size_t queued) const;
  // The read thread's side.
  bool StartReadThread();
  void StopReadThread();
  void ReadThreadMain();

  base::win::ScopedHandle mailslot_;
  IpcReceiver* const receiver_;
  std::unique_ptr<char[]> buffer_;
  bool read_pending_ = false;

  // Only when the completion port cannot be used.
  base::IoMessageLoop* io_loop_ = nullptr;
  // Set once the read thread is started, and kept after it is stopped.
  bool uses_read_thread_ = false;
  std::unique_ptr<base::PlainThread> read_thread_;
  std::atomic<bool> stopping_{false};
  base::Lock request_lock_;
  // The pending read the thread completes with its next datagram; owned by
  // the reader until the thread posts it as a completion.
  base::IoCompletionContext* requested_read_ = nullptr;
  // Datagrams the thread has read and the loop has not yet taken, in order.
  std::vector<base::BinaryMessage> read_datagrams_;

  base::WeakRefFactory<MailslotReader> weak_factory_{this};
};

class IpcReceiver {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // On the thread that constructed the receiver, once per datagram, in
    // order. |message| may be anything anyone wrote to the mailslot.
    virtual void OnMessageReceived(const base::BinaryMessage& message) = 0;
  };

  // How the mailslot is being read.
  enum class ReadMode {
    kNotReading,
    // Overlapped reads through the IPC thread's completion port.
    kCompletionPort,
    // Timed synchronous reads on a read thread (the port refused the
    // mailslot).
    kReadThread,
  };

  // Construct on a thread with a MessageLoop: messages are delivered there.
  explicit IpcReceiver(Delegate* delegate);
  IpcReceiver(const IpcReceiver&) = delete;
  IpcReceiver& operator=(const IpcReceiver&) = delete;
  ~IpcReceiver();

  // Starts the IPC thread and has it create the mailslot
  // "\\.\mailslot\" + |name|. False only when the thread cannot start; a
  // mailslot that cannot be created is logged on the IPC thread.
  bool Connect(const std::wstring& name);
  // The same over an already opened handle (overlapped, for reading), so a
  // test can hand in one whose reads can fail.
  bool ConnectToHandleForTesting(base::win::ScopedHandle handle);
  // Deletes the reader on the IPC thread and joins the thread.
  void Close();

  // Set once the first read is issued; readable from any thread.
  ReadMode read_mode() const { return read_mode_.load(std::memory_order_acquire); }

  // Runs |hook| on the IPC thread before datagrams are handed on, so that a
  // test can hold them back; null removes it.
  static void SetHandOverHookForTesting(void (*hook)());
  // Datagrams handed to the owner's thread and not yet delivered; readable
  // from any thread.
  size_t undelivered() const { return undelivered_.load(std::memory_order_acquire); }

 private:
  friend class MailslotReader;

  bool StartThread();

  // On the IPC thread.
  void SetUpMailslot(const std::wstring& name);
  void CreateReader(base::win::ScopedHandle mailslot);
  void DestroyReader();
  void OnMessageReceived(const base::BinaryMessage& message);
  // Several datagrams, in order, in one task.
  void OnMessagesReceived(std::vector<base::BinaryMessage> messages);
  void set_read_mode(ReadMode mode) { read_mode_.store(mode, std::memory_order_release); }

  // On the constructing thread.
  void DeliverMessage(const base::BinaryMessage& message);
  void DeliverMessages(std::vector<base::BinaryMessage> messages);

  base::Thread thread_;
  // The constructing thread's loop, where messages are delivered.
  base::SharedRef<base::OrderedTaskRunner> owner_task_runner_;
  // Created and deleted on the IPC thread.
  std::unique_ptr<MailslotReader> reader_;
  Delegate* const delegate_;
  std::atomic<ReadMode> read_mode_{ReadMode::kNotReading};
  std::atomic<size_t> undelivered_{0};
  base::WeakRefFactory<IpcReceiver> weak_factory_{this};
  // Made at construction, so that the IPC thread only copies it.
  base::WeakRef<IpcReceiver> weak_self_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
