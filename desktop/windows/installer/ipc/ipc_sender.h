// IpcSender: the back end's side of the installer mailslot. It opens the
// mailslot on a thread of its own, the "Installer IPC thread", and writes
// the messages handed to Send there, one at a time, in order.
//
//   IpcSender sender;
//   sender.Connect(L"name");                         // "\\.\mailslot\name"
//   sender.Send(CreateInstallerMessage(IPC_MESSAGE_STEP));
//   sender.Close();                                  // or the destructor
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "base/binary_message.h"
#include "base/threading/io_handler.h"
#include "base/threading/thread.h"
#include "base/win/scoped_handle.h"

namespace base {
class IoMessageLoop;
struct IoCompletionContext;
}  // namespace base

namespace installer {

// Writes queued messages to the mailslot on the IPC thread, in order, each
// with an overlapped write of its own. Writes that complete at once follow
// each other without waiting for the port; a write left pending holds back
// the next until it completes.
class MailslotWriter : public base::IoHandler {
 public:
  // Lives on the thread of an I/O loop.
  explicit MailslotWriter(base::win::ScopedHandle mailslot);
  MailslotWriter(const MailslotWriter&) = delete;
  MailslotWriter& operator=(const MailslotWriter&) = delete;
  // Writes what is still queued, closes the mailslot and drops what could
  // not be written.
  ~MailslotWriter() override;

  // Registers the mailslot with the thread's I/O loop. False (logged) when
  // it cannot be: the writes' completions would never arrive.
  bool Init();

  // Queues |message| and writes it unless a pending write holds it back.
  void Send(std::unique_ptr<base::BinaryMessage> message);

  void OnIOCompleted(base::IoCompletionContext* context, DWORD bytes_transferred,
                     DWORD error) override;

 private:
  struct WriteContext;

  // Writes the queue's messages, head first, while the mailslot is open and
  // no write is left pending.
  void WriteNext();

  base::win::ScopedHandle mailslot_;
  base::IoMessageLoop* const io_loop_;
  std::deque<std::unique_ptr<base::BinaryMessage>> queue_;
  // A write did not complete at once; the next waits for its completion.
  bool write_pending_ = false;
  // Writes whose completion is still to come through the port.
  int writes_in_flight_ = 0;
  // Writes that complete at once send no completion to the port.
  bool skip_port_on_success_ = false;
};

class IpcSender {
 public:
  IpcSender();
  IpcSender(const IpcSender&) = delete;
  IpcSender& operator=(const IpcSender&) = delete;
  ~IpcSender();

  // Starts the IPC thread and has it open "\\.\mailslot\" + |name|. False
  // only when the thread cannot start; a mailslot that cannot be opened is
  // logged on the IPC thread, and every message is then dropped.
  bool Connect(const std::wstring& name);
  // The same over an already opened handle (overlapped, for writing), so a
  // test can hand in one whose writes fail.
  bool ConnectToHandleForTesting(base::win::ScopedHandle handle);

  // Hands |message| to the IPC thread, which writes it after every message
  // sent before. Dropped when no mailslot is open.
  void Send(std::unique_ptr<base::BinaryMessage> message);

  // Writes (or drops) everything sent so far, deletes the writer on the IPC
  // thread and joins the thread.
  void Close();

 private:
  bool StartThread();

  // On the IPC thread.
  void OpenMailslot(const std::wstring& name);
  void CreateWriter(base::win::ScopedHandle mailslot);
  void SendOnIpcThread(std::unique_ptr<base::BinaryMessage> message);
  void DestroyWriter();

  base::Thread thread_;
  // Created and deleted on the IPC thread.
  std::unique_ptr<MailslotWriter> writer_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
