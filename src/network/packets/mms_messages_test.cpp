#include "network/packets/mms_messages.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace Orvan::Network {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename TMessage, typename TWrite>
Bytes Written(const TMessage& message, TWrite write) {
  std::uint8_t buffer[512];
  TFixedBufferWriter writer(buffer, sizeof(buffer));
  EXPECT_EQ(write(writer, message), kBufferOk);
  return Bytes(buffer, buffer + writer.GetPosition());
}

TMmsDedicatedInitMessage SampleInitMessage() {
  TMmsDedicatedInitMessage message;
  message.port = htons(10000);
  message.gameId = 24;
  message.address = inet_addr("1.2.3.4");
  message.slave = false;
  message.login = "ab";
  message.dedicatedKey = "c";
  return message;
}

TEST(MmsMessages, InitMessageLaysOutPortGameIdAddressFlagAndTwoStrings) {
  const Bytes expected = {0x10, 0x27, 0, 0, 0, 0x18, 0x04, 0x03, 0x02, 0x01, 0x00,
                          0,    0,    0, 2, 'a',  'b',  0,    0,    0,    1,    'c'};
  EXPECT_EQ(Written(SampleInitMessage(), WriteMmsDedicatedInitMessage), expected);

  TMmsDedicatedInitMessage read;
  TFixedBufferReader reader(expected.data(), static_cast<std::uint32_t>(expected.size()));
  ASSERT_TRUE(ReadMmsDedicatedInitMessage(reader, read));
  EXPECT_EQ(read.port, htons(10000));
  EXPECT_EQ(read.gameId, 24u);
  EXPECT_EQ(read.address, inet_addr("1.2.3.4"));
  EXPECT_FALSE(read.slave);
  EXPECT_EQ(read.login, "ab");
  EXPECT_EQ(read.dedicatedKey, "c");
}

TEST(MmsMessages, EveryLayoutByteForByteAndBack) {
  TMmsValidatePlayerMessage validate;
  validate.id = 0x0102030405060708ull;
  for (std::uint32_t i = 0; i < kMmsLoginDataSize; ++i) validate.loginData[i] = static_cast<std::uint8_t>(i);
  Bytes validateBytes = {1, 2, 3, 4, 5, 6, 7, 8};
  for (std::uint32_t i = 0; i < kMmsLoginDataSize; ++i) validateBytes.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(Written(validate, WriteMmsValidatePlayerMessage), validateBytes);
  TMmsValidatePlayerMessage validateRead;
  TFixedBufferReader validateReader(validateBytes.data(), static_cast<std::uint32_t>(validateBytes.size()));
  ASSERT_TRUE(ReadMmsValidatePlayerMessage(validateReader, validateRead));
  EXPECT_EQ(validateRead.id, validate.id);
  EXPECT_EQ(std::memcmp(validateRead.loginData, validate.loginData, kMmsLoginDataSize), 0);

  const TMmsValidatePlayerAnswer answer{9, 3};
  const Bytes answerBytes = {0, 0, 0, 0, 0, 0, 0, 9, 3};
  EXPECT_EQ(Written(answer, WriteMmsValidatePlayerAnswer), answerBytes);
  TMmsValidatePlayerAnswer answerRead;
  TFixedBufferReader answerReader(answerBytes.data(), static_cast<std::uint32_t>(answerBytes.size()));
  ASSERT_TRUE(ReadMmsValidatePlayerAnswer(answerReader, answerRead));
  EXPECT_EQ(answerRead.id, 9u);
  EXPECT_EQ(answerRead.verdict, 3);

  TMmsGameInfoMessage info;
  info.gameInfo = "{}";
  const Bytes infoBytes = {0, 0, 0, 2, '{', '}'};
  EXPECT_EQ(Written(info, WriteMmsGameInfoMessage), infoBytes);
  TMmsGameInfoMessage infoRead;
  TFixedBufferReader infoReader(infoBytes.data(), static_cast<std::uint32_t>(infoBytes.size()));
  ASSERT_TRUE(ReadMmsGameInfoMessage(infoReader, infoRead));
  EXPECT_EQ(infoRead.gameInfo, "{}");

  const Bytes statusBytes = {1};
  EXPECT_EQ(Written(TMmsSlaveStatusMessage{true}, WriteMmsSlaveStatusMessage), statusBytes);
  TMmsSlaveStatusMessage statusRead;
  const Bytes anyNonZero = {0x40};
  TFixedBufferReader statusReader(anyNonZero.data(), 1);
  ASSERT_TRUE(ReadMmsSlaveStatusMessage(statusReader, statusRead));
  EXPECT_TRUE(statusRead.available);

  const TMmsSlaveUpdateMessage update{0xFF00000000000001ull, 64};
  const Bytes updateBytes = {0xFF, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 64};
  EXPECT_EQ(Written(update, WriteMmsSlaveUpdateMessage), updateBytes);
  TMmsSlaveUpdateMessage updateRead;
  TFixedBufferReader updateReader(updateBytes.data(), static_cast<std::uint32_t>(updateBytes.size()));
  ASSERT_TRUE(ReadMmsSlaveUpdateMessage(updateReader, updateRead));
  EXPECT_EQ(updateRead.id, update.id);
  EXPECT_EQ(updateRead.value, 64u);

  TMmsDedicatedInitAnswer initAnswer;
  initAnswer.result = 4;
  initAnswer.gameInfo = "x";
  initAnswer.addressId = 0x0400000001020304ull;
  const Bytes initAnswerBytes = {4, 0, 0, 0, 1, 'x', 0x04, 0, 0, 0, 1, 2, 3, 4};
  EXPECT_EQ(Written(initAnswer, WriteMmsDedicatedInitAnswer), initAnswerBytes);
  TMmsDedicatedInitAnswer initAnswerRead;
  TFixedBufferReader initAnswerReader(initAnswerBytes.data(), static_cast<std::uint32_t>(initAnswerBytes.size()));
  ASSERT_TRUE(ReadMmsDedicatedInitAnswer(initAnswerReader, initAnswerRead));
  EXPECT_EQ(initAnswerRead.result, 4);
  EXPECT_EQ(initAnswerRead.gameInfo, "x");
  EXPECT_EQ(initAnswerRead.addressId, initAnswer.addressId);
}

TEST(MmsMessages, ReadersFailOnEveryCutOfTheirLayout) {
  TMmsDedicatedInitAnswer initAnswer;
  initAnswer.result = 0;
  initAnswer.gameInfo = "{\"StatsURL\":\"u\"}";
  initAnswer.addressId = 1;
  const Bytes whole = Written(initAnswer, WriteMmsDedicatedInitAnswer);
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    TFixedBufferReader reader(whole.data(), static_cast<std::uint32_t>(cut));
    TMmsDedicatedInitAnswer read;
    EXPECT_FALSE(ReadMmsDedicatedInitAnswer(reader, read)) << cut;
  }
  const Bytes init = Written(SampleInitMessage(), WriteMmsDedicatedInitMessage);
  for (std::size_t cut = 0; cut < init.size(); ++cut) {
    TFixedBufferReader reader(init.data(), static_cast<std::uint32_t>(cut));
    TMmsDedicatedInitMessage read;
    EXPECT_FALSE(ReadMmsDedicatedInitMessage(reader, read)) << cut;
  }
}

}  // namespace
}  // namespace Orvan::Network
