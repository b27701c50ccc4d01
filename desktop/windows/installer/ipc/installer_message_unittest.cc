#include "desktop/windows/installer/ipc/installer_message.h"

#include <cstring>
#include <string>
#include <vector>

#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::MessageRecordingDelegate;
using test::ScopedLogCapture;

// Reads |message| as a receiver would: the bytes of one datagram.
bool ReadDatagram(const base::BinaryMessage& message, InstallerMessage* out) {
  std::vector<char> datagram(static_cast<const char*>(message.data()),
                             static_cast<const char*>(message.data()) + message.size());
  return ReadInstallerMessage(base::BinaryMessage(datagram.data(), datagram.size()), out);
}

TEST(InstallerMessageTest, EveryKindHasItsLayoutAndReachesTheDelegate) {
  // The install-folder-ready message in full.
  const unsigned char kFolderReady[32] = {0x1C, 0,   0,   0,   0x13, 0,   0,   0,   ':', 'I', 'n',
                                          's',  't', 'a', 'l', 'l',  'e', 'r', ' ', 'm', 'e', 's',
                                          's',  'a', 'g', 'e', ':',  0,   2,   0,   0,   0};
  std::unique_ptr<base::BinaryMessage> folder_ready =
      CreateInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY);
  ASSERT_EQ(sizeof(kFolderReady), folder_ready->size());
  EXPECT_EQ(0, memcmp(kFolderReady, folder_ready->data(), sizeof(kFolderReady)));

  std::vector<std::unique_ptr<base::BinaryMessage>> messages;
  messages.push_back(CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS));
  messages.back()->WriteBool(true);
  messages.push_back(CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
  messages.push_back(std::move(folder_ready));
  messages.push_back(CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS));
  messages.back()->WriteInt(17);
  messages.push_back(CreateInstallerMessage(IPC_MESSAGE_STEP));
  messages.push_back(CreateInstallerErrorMessage(37057, L"C:\\Velmo", "mutex held"));
  messages.push_back(CreateInstallerMessage(IPC_MESSAGE_SUCCESS));
  const size_t kSizes[] = {36, 32, 32, 36, 32, 44 + 16 + 12, 32};

  MessageRecordingDelegate delegate;
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(kSizes[i], messages[i]->size()) << "type " << i;
    InstallerMessage decoded;
    ASSERT_TRUE(ReadDatagram(*messages[i], &decoded)) << "type " << i;
    EXPECT_EQ(static_cast<int>(i), decoded.type);
    decoded.DeliverTo(&delegate);
  }
  EXPECT_EQ((std::vector<std::string>{"starting true", "returned", "folder ready", "total 17",
                                      "step", "error 37057", "success"}),
            delegate.calls);
  EXPECT_EQ(L"C:\\Velmo", delegate.error_text);
  EXPECT_EQ("mutex held", delegate.error_detail);
}

// A field more than the kind carries, even one that keeps the 4-byte
// alignment, makes the message invalid: each kind checks its own end.
TEST(InstallerMessageTest, EveryKindRefusesBytesAfterItsLastArgument) {
  struct Kind {
    std::unique_ptr<base::BinaryMessage> message;
    const char* log_line;
  };
  std::vector<Kind> kinds;
  kinds.push_back({CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS),
                   "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESSmessage"});
  kinds.back().message->WriteBool(false);
  kinds.push_back({CreateInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS),
                   "Received invalid IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS message"});
  kinds.push_back({CreateInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_READY),
                   "Received invalid IPC_MESSAGE_INSTALL_FOLDER_READY message"});
  kinds.push_back({CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS),
                   "Received invalid IPC_MESSAGE_TOTAL_STEPS message"});
  kinds.back().message->WriteInt(3);
  kinds.push_back(
      {CreateInstallerMessage(IPC_MESSAGE_STEP), "Received invalid IPC_MESSAGE_STEP message"});
  kinds.push_back({CreateInstallerErrorMessage(37057, L"C:\\Velmo", "mutex held"),
                   "Received invalid IPC_MESSAGE_ERROR message"});
  kinds.push_back({CreateInstallerMessage(IPC_MESSAGE_SUCCESS),
                   "Received invalid IPC_MESSAGE_SUCCESS message"});

  for (Kind& kind : kinds) {
    InstallerMessage decoded;
    // Well formed, the message is read.
    ASSERT_TRUE(ReadDatagram(*kind.message, &decoded)) << kind.log_line;
    ScopedLogCapture log;
    kind.message->WriteInt(0);
    InstallerMessage refused;
    EXPECT_FALSE(ReadDatagram(*kind.message, &refused)) << kind.log_line;
    EXPECT_EQ(1, log.Count(kind.log_line)) << kind.log_line;
    EXPECT_EQ(-1, refused.type) << kind.log_line;
  }
}

TEST(InstallerMessageTest, ErrorTextsAreCutToFitOneDatagram) {
  const std::wstring huge_text(5000, L'w');
  const std::string huge_detail(7000, 'd');
  InstallerMessage decoded;

  // Both too long: each keeps its share, marked as cut.
  std::unique_ptr<base::BinaryMessage> both =
      CreateInstallerErrorMessage(37055, huge_text, huge_detail);
  EXPECT_LE(both->size(), kMaxInstallerMessageSize);
  EXPECT_GE(both->size(), kMaxInstallerMessageSize - 8);
  ASSERT_TRUE(ReadDatagram(*both, &decoded));
  EXPECT_EQ(37055, decoded.number);
  ASSERT_GT(decoded.text.size(), 400u);
  EXPECT_EQ(huge_text.substr(0, decoded.text.size() - 3) + L"...", decoded.text);
  ASSERT_GT(decoded.detail.size(), 800u);
  EXPECT_EQ(huge_detail.substr(0, decoded.detail.size() - 3) + "...", decoded.detail);

  // A short text stays whole and leaves the rest of the room to the detail.
  std::unique_ptr<base::BinaryMessage> short_text =
      CreateInstallerErrorMessage(37058, L"C:\\Program Files\\Velmo", huge_detail);
  EXPECT_LE(short_text->size(), kMaxInstallerMessageSize);
  ASSERT_TRUE(ReadDatagram(*short_text, &decoded));
  EXPECT_EQ(L"C:\\Program Files\\Velmo", decoded.text);
  EXPECT_GT(decoded.detail.size(), 1900u);

  // Cuts never split a surrogate pair or a UTF-8 sequence.
  std::wstring pairs;
  for (int i = 0; i < 2000; ++i)
    pairs += L"\xD83D\xDE00";
  std::string accents;
  for (int i = 0; i < 2000; ++i)
    accents += "\xC3\xA9";
  std::unique_ptr<base::BinaryMessage> wide = CreateInstallerErrorMessage(1, pairs, accents);
  EXPECT_LE(wide->size(), kMaxInstallerMessageSize);
  ASSERT_TRUE(ReadDatagram(*wide, &decoded));
  ASSERT_GE(decoded.text.size(), 5u);
  const wchar_t last = decoded.text[decoded.text.size() - 4];
  EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF);
  EXPECT_EQ(0u, (decoded.text.size() - 3) % 2);
  EXPECT_EQ(0u, (decoded.detail.size() - 3) % 2);

  // A message that fits exactly is left alone: 44 + 1000 + 1004 bytes.
  const std::wstring fitting_text(500, L't');
  const std::string fitting_detail(1004, 'x');
  std::unique_ptr<base::BinaryMessage> exact =
      CreateInstallerErrorMessage(2, fitting_text, fitting_detail);
  EXPECT_EQ(kMaxInstallerMessageSize, exact->size());
  ASSERT_TRUE(ReadDatagram(*exact, &decoded));
  EXPECT_EQ(fitting_text, decoded.text);
  EXPECT_EQ(fitting_detail, decoded.detail);
}

TEST(InstallerMessageTest, ForeignAndMalformedMessagesAreRejectedWithALogLine) {
  ScopedLogCapture log;
  InstallerMessage decoded;

  // Not a message at all: fewer than 4 bytes, a header size that is not a
  // multiple of 4, a payload size larger than the datagram.
  const char kShort[3] = {1, 2, 3};
  EXPECT_FALSE(ReadInstallerMessage(base::BinaryMessage(kShort, sizeof(kShort)), &decoded));
  const char kOddHeader[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ReadInstallerMessage(base::BinaryMessage(kOddHeader, sizeof(kOddHeader)), &decoded));
  const char kTooLong[8] = {0x40, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(ReadInstallerMessage(base::BinaryMessage(kTooLong, sizeof(kTooLong)), &decoded));
  // Another signature.
  base::BinaryMessage foreign;
  foreign.WriteString(":Other message:");
  foreign.WriteInt(IPC_MESSAGE_SUCCESS);
  EXPECT_FALSE(ReadDatagram(foreign, &decoded));
  EXPECT_EQ(4, log.Count("Received a message without installer signature"));

  // The signature alone.
  base::BinaryMessage untyped;
  untyped.WriteString(kInstallerMessageSignature);
  EXPECT_FALSE(ReadDatagram(untyped, &decoded));
  EXPECT_EQ(1, log.Count("Received an installer message without a type"));

  // Unknown kinds.
  EXPECT_FALSE(ReadDatagram(*CreateInstallerMessage(7), &decoded));
  EXPECT_FALSE(ReadDatagram(*CreateInstallerMessage(-1), &decoded));
  EXPECT_EQ(2, log.Count("Received installer message with invalid type"));

  // Missing arguments.
  EXPECT_FALSE(
      ReadDatagram(*CreateInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS), &decoded));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESSmessage"));
  EXPECT_FALSE(ReadDatagram(*CreateInstallerMessage(IPC_MESSAGE_TOTAL_STEPS), &decoded));
  EXPECT_EQ(1, log.Count("Received invalid IPC_MESSAGE_TOTAL_STEPS message"));
  std::unique_ptr<base::BinaryMessage> error = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  error->WriteInt(37055);
  error->WriteString16(L"text");
  EXPECT_FALSE(ReadDatagram(*error, &decoded));
  // A UTF-16 count larger than what remains.
  std::unique_ptr<base::BinaryMessage> overlong = CreateInstallerMessage(IPC_MESSAGE_ERROR);
  overlong->WriteInt(37055);
  overlong->WriteInt(0x7FFFFFFF);
  EXPECT_FALSE(ReadDatagram(*overlong, &decoded));
  EXPECT_EQ(2, log.Count("Received invalid IPC_MESSAGE_ERROR message"));

  // None of them touched the result.
  EXPECT_EQ(-1, decoded.type);
}

}  // namespace
}  // namespace installer
