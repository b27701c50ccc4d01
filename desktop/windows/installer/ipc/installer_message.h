// The installer message: what the back end sends over the mailslot for each
// InstallerDelegate call. One BinaryMessage per datagram:
//
//   payload size (uint32), ":Installer message:" (string), type (int32),
//   then the arguments of the type, in order.
//
// A datagram may come from anyone who can open the mailslot, so reading one
// checks everything and rejects (with a log line) whatever does not fit.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/binary_message.h"

namespace installer {

class InstallerDelegate;

enum InstallerMessageType {
  IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS = 0,  // bool
  IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS = 1,
  IPC_MESSAGE_INSTALL_FOLDER_READY = 2,
  IPC_MESSAGE_TOTAL_STEPS = 3,  // int32
  IPC_MESSAGE_STEP = 4,
  IPC_MESSAGE_ERROR = 5,  // int32, UTF-16 text, 8-bit text
  IPC_MESSAGE_SUCCESS = 6,
};

// The first field of every installer message.
inline constexpr char kInstallerMessageSignature[] = ":Installer message:";

// The largest datagram, header included: the mailslot is created with this
// maximum and the receiver reads into a buffer of this size.
inline constexpr size_t kMaxInstallerMessageSize = 2048;

// A new message holding the signature and |type|; the caller appends the
// arguments.
std::unique_ptr<base::BinaryMessage> CreateInstallerMessage(int type);

// An IPC_MESSAGE_ERROR message. Texts too long for one datagram are cut
// (each marked with a trailing "...") so that the message never exceeds
// kMaxInstallerMessageSize: a message that cannot be written would otherwise
// be lost, and with it the news of the failure.
std::unique_ptr<base::BinaryMessage> CreateInstallerErrorMessage(int string_id,
                                                                 std::wstring_view text,
                                                                 std::string_view detail);

// One received installer message, decoded.
struct InstallerMessage {
  int type = -1;
  bool flag = false;   // IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS
  int number = 0;      // IPC_MESSAGE_TOTAL_STEPS; the string id of IPC_MESSAGE_ERROR
  std::wstring text;   // IPC_MESSAGE_ERROR
  std::string detail;  // IPC_MESSAGE_ERROR

  // Makes the InstallerDelegate call the message stands for.
  void DeliverTo(InstallerDelegate* delegate) const;
};

// Decodes |message|. False, with a log line naming the cause, for a message
// whose header is not 4 bytes, without the signature, without a type, of an
// unknown type, with a missing argument, a boolean other than 0 or 1, a
// negative step count or string id, or bytes after its last argument.
bool ReadInstallerMessage(const base::BinaryMessage& message, InstallerMessage* out);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_
