#include "desktop/windows/installer/ipc/installer_message.h"

#include "base/logging.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"

namespace installer {

namespace {

constexpr size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

// Header, signature (count and padded bytes), type, string id and the two
// string counts: what an error message takes besides its two texts.
constexpr size_t kErrorMessageFixedSize =
    4 + 4 + RoundUp4(sizeof(kInstallerMessageSignature) - 1) + 4 + 4 + 4 + 4;
// What both texts of an error message may take, padding included.
constexpr size_t kErrorTextsBudget = kMaxInstallerMessageSize - kErrorMessageFixedSize;
// What each text is sure to keep when both are too long.
constexpr size_t kErrorTextShare = (kErrorTextsBudget / 2) & ~size_t{3};

static_assert(kErrorMessageFixedSize == 44);

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// |text| cut to at most |max_bytes| bytes (a multiple of 4) of UTF-16 with
// "..." at the end, never splitting a surrogate pair.
std::wstring CutWide(std::wstring_view text, size_t max_bytes) {
  if (RoundUp4(text.size() * 2) <= max_bytes)
    return std::wstring(text);
  size_t keep = max_bytes / 2 - 3;
  if (keep > 0 && IsHighSurrogate(text[keep - 1]))
    --keep;
  std::wstring cut(text.substr(0, keep));
  cut += L"...";
  return cut;
}

// |text| cut to at most |max_bytes| bytes with "..." at the end, never
// splitting a UTF-8 sequence.
std::string CutNarrow(std::string_view text, size_t max_bytes) {
  if (RoundUp4(text.size()) <= max_bytes)
    return std::string(text);
  size_t keep = max_bytes - 3;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
    --keep;
  std::string cut(text.substr(0, keep));
  cut += "...";
  return cut;
}

}  // namespace

std::unique_ptr<base::BinaryMessage> CreateInstallerMessage(int type) {
  auto message = std::make_unique<base::BinaryMessage>();
  message->WriteString(kInstallerMessageSignature);
  message->WriteInt(type);
  return message;
}

std::unique_ptr<base::BinaryMessage> CreateInstallerErrorMessage(int string_id,
                                                                 std::wstring_view text,
                                                                 std::string_view detail) {
  const size_t text_bytes = RoundUp4(text.size() * 2);
  const size_t detail_bytes = RoundUp4(detail.size());
  // The shown text and the logged detail share the room; a text shorter
  // than its share leaves the rest to the other one.
  size_t text_room = kErrorTextsBudget;
  size_t detail_room = kErrorTextsBudget;
  if (text_bytes + detail_bytes > kErrorTextsBudget) {
    if (text_bytes <= kErrorTextShare) {
      detail_room = kErrorTextsBudget - text_bytes;
    } else if (detail_bytes <= kErrorTextShare) {
      text_room = kErrorTextsBudget - detail_bytes;
    } else {
      text_room = kErrorTextShare;
      detail_room = kErrorTextsBudget - kErrorTextShare;
    }
    LOG(WARNING) << "Error texts of " << text.size() << " and " << detail.size()
                 << " units cut to fit one mailslot message";
  }
  std::unique_ptr<base::BinaryMessage> message = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  message->WriteInt(string_id);
  message->WriteString16(CutWide(text, text_room));
  message->WriteString(CutNarrow(detail, detail_room));
  DCHECK_LE(message->size(), kMaxInstallerMessageSize);
  return message;
}

void InstallerMessage::DeliverTo(InstallerDelegate* delegate) const {
  switch (type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS: delegate->OnStartingNewMainProcess(flag); break;
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      delegate->OnReturnedToPreviousMainProcess();
      break;
    case IPC_MESSAGE_INSTALL_FOLDER_READY: delegate->OnInstallFolderReady(); break;
    case IPC_MESSAGE_TOTAL_STEPS: delegate->OnTotalSteps(number); break;
    case IPC_MESSAGE_STEP: delegate->OnStep(); break;
    case IPC_MESSAGE_ERROR: delegate->OnError(number, text, detail); break;
    case IPC_MESSAGE_SUCCESS: delegate->OnSuccess(); break;
    default: LOG(ERROR) << "No delegate call for installer message type " << type; break;
  }
}

bool ReadInstallerMessage(const base::BinaryMessage& message, InstallerMessage* out) {
  // Only the framing a sender of ours writes: a 4-byte header. Anything
  // else is not an installer message, whatever its payload says.
  if (message.header_size() != 4) {
    LOG(WARNING) << "Received a message without installer signature";
    return false;
  }
  base::BinaryMessageReader reader(message);
  std::string signature;
  if (!reader.ReadString(&signature) || signature != kInstallerMessageSignature) {
    LOG(WARNING) << "Received a message without installer signature";
    return false;
  }
  InstallerMessage result;
  if (!reader.ReadInt(&result.type)) {
    LOG(WARNING) << "Received an installer message without a type";
    return false;
  }
  // The arguments, strictly: a boolean field holds 0 or 1, counts and string
  // ids are not negative, and nothing follows the last argument (padding
  // included: every field fills whole 4-byte units).
  const bool padded = message.payload_size() % 4 == 0;
  bool valid = true;
  const char* name = nullptr;
  switch (result.type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS: {
      uint32_t flag = 0;
      valid = reader.ReadUInt32(&flag) && flag <= 1 && reader.AtEnd() && padded;
      if (!valid) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESSmessage";
        return false;
      }
      result.flag = flag == 1;
      VLOG(1) << "IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << result.flag << ") received";
      break;
    }
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      name = "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
      valid = reader.AtEnd();
      if (valid)
        VLOG(1) << "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS received";
      break;
    case IPC_MESSAGE_INSTALL_FOLDER_READY:
      name = "IPC_MESSAGE_INSTALL_FOLDER_READY";
      valid = reader.AtEnd();
      break;
    case IPC_MESSAGE_TOTAL_STEPS:
      name = "IPC_MESSAGE_TOTAL_STEPS";
      valid = reader.ReadInt(&result.number) && result.number >= 0 && reader.AtEnd();
      if (valid)
        VLOG(1) << "IPC_MESSAGE_TOTAL_STEPS(" << result.number << ") received";
      break;
    case IPC_MESSAGE_STEP:
      name = "IPC_MESSAGE_STEP";
      valid = reader.AtEnd();
      if (valid)
        VLOG(1) << "IPC_MESSAGE_STEP received";
      break;
    case IPC_MESSAGE_ERROR:
      name = "IPC_MESSAGE_ERROR";
      valid = reader.ReadInt(&result.number) && result.number >= 0 &&
              reader.ReadString16(&result.text) && reader.ReadString(&result.detail) &&
              reader.AtEnd();
      if (valid) {
        VLOG(1) << "IPC_MESSAGE_ERROR(" << result.number << "," << result.text << ","
                << result.detail << ") received";
      }
      break;
    case IPC_MESSAGE_SUCCESS:
      name = "IPC_MESSAGE_SUCCESS";
      valid = reader.AtEnd();
      if (valid)
        VLOG(1) << "IPC_MESSAGE_SUCCESS received";
      break;
    default: LOG(WARNING) << "Received installer message with invalid type"; return false;
  }
  if (!valid || !padded) {
    LOG(ERROR) << "Received invalid " << name << " message";
    return false;
  }
  *out = std::move(result);
  return true;
}

}  // namespace installer
