#include "network/sockets/native_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "network/sockets/socket_utilities.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCapturedNetworkLog;

// A native socket over one side of a socket pair; the test writes and closes the other side.
class NativeSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    ASSERT_NE(pair_.first, -1);
    ASSERT_TRUE(SetSocketNonBlocking(pair_.first));
    socket_ = std::make_unique<TNativeSocket>(pair_.TakeFirst(), &manager_);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(pair_.second, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }

  OrvTest::TSocketPair pair_;
  OrvTest::TCountingSocketManager manager_;
  std::unique_ptr<TNativeSocket> socket_;
};

TEST_F(NativeSocketTest, CheckWaitsForEveryByteAskedFor) {
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveNotYet);
  Send("a");
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveNotYet);
  EXPECT_EQ(socket_->GetBufferedSize(), 1u);
  Send("b");
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveReady);
  char bytes[2];
  EXPECT_EQ(socket_->Read(bytes, 2), 2u);
  EXPECT_EQ(std::string(bytes, 2), "ab");
  EXPECT_EQ(socket_->GetBufferedSize(), 0u);
}

TEST_F(NativeSocketTest, CheckTakesOnlyWhatItAsksForAndReadKeepsTheRestAtTheFront) {
  Send("12345");
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(5), kReceiveReady);
  char bytes[5];
  EXPECT_EQ(socket_->Read(bytes, 3), 3u);
  EXPECT_EQ(std::string(bytes, 3), "123");
  EXPECT_EQ(socket_->GetBufferedSize(), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(socket_->GetBuffer()), 2), "45");
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(0), kReceiveReady);
}

TEST_F(NativeSocketTest, ReadReceivesOnceMoreAndHandsOverWhatIsThere) {
  Send("xy");
  char bytes[8] = {};
  EXPECT_EQ(socket_->Read(bytes, 8), 2u);
  EXPECT_EQ(std::string(bytes, 2), "xy");
  EXPECT_EQ(socket_->Read(bytes, 8), 0u);  // nothing there yet: no failure, nothing delivered
  Send("z");
  EXPECT_EQ(socket_->Read(bytes, 1), 1u);
  EXPECT_EQ(bytes[0], 'z');
}

TEST_F(NativeSocketTest, PeerCloseWithNothingBufferedFailsWithALogLine) {
  TCapturedNetworkLog log;
  pair_.CloseSecond();
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveFailure);
  ASSERT_EQ(TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].text,
            "TPacketHelperBase::CheckIfProblemDuringReceiving() -> connection closed");
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].level, kNetworkLogInformation);
  char byte;
  EXPECT_EQ(socket_->Read(&byte, 1), 0u);
  EXPECT_EQ(TCapturedNetworkLog::Lines().size(), 2u);
}

TEST_F(NativeSocketTest, BytesLeftByAClosedPeerServeWhatTheyCanThenFail) {
  TCapturedNetworkLog log;
  Send("abc");
  pair_.CloseSecond();
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveReady);
  char bytes[2];
  EXPECT_EQ(socket_->Read(bytes, 2), 2u);
  // One byte is left and the peer is gone: it can never become two.
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(2), kReceiveFailure);
  EXPECT_EQ(socket_->GetBufferedSize(), 0u);
  EXPECT_EQ(TCapturedNetworkLog::Texts(),
            std::vector<std::string>{"TPacketHelperBase::CheckIfProblemDuringReceiving() -> connection closed"});
}

TEST(NativeSocket, AReceiveErrorFailsWithItsText) {
  TCapturedNetworkLog log;
  // A pipe is no socket: the receive itself fails.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[1]);
  TNativeSocket notASocket(ends[0], nullptr);
  EXPECT_EQ(notASocket.CheckIfProblemDuringReceiving(1), kReceiveFailure);
  char byte;
  EXPECT_EQ(notASocket.Read(&byte, 1), 0u);
  EXPECT_EQ(TCapturedNetworkLog::Texts(),
            std::vector<std::string>(2, "TPacketHelperBase::CheckIfProblemDuringReceiving() -> error while recv data "
                                        "(Socket operation on non-socket)"));
}

TEST_F(NativeSocketTest, RequestsAboveTheBufferAreRefused) {
  TCapturedNetworkLog log;
  Send("abc");
  std::vector<char> bytes(5000);
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(4097), kReceiveFailure);
  EXPECT_EQ(socket_->Read(bytes.data(), 4097), 0u);
  EXPECT_EQ(TCapturedNetworkLog::Lines().size(), 2u);
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(4096), kReceiveNotYet);
  EXPECT_EQ(socket_->GetBufferedSize(), 3u);
}

TEST_F(NativeSocketTest, AFullBufferOfFourKilobytesIsServed) {
  const std::string block(4096, 'k');
  Send(block);
  ASSERT_TRUE(OrvTest::WaitReadable(socket_->GetDescriptor()));
  EXPECT_EQ(socket_->CheckIfProblemDuringReceiving(4096), kReceiveReady);
  std::vector<char> bytes(4096);
  EXPECT_EQ(socket_->Read(bytes.data(), 4096), 4096u);
  EXPECT_EQ(std::string(bytes.data(), 4096), block);
}

TEST_F(NativeSocketTest, WriteSendsEveryByteOrAnswersFalse) {
  EXPECT_TRUE(socket_->Write("hello", 5));
  char bytes[5];
  ASSERT_EQ(::recv(pair_.second, bytes, 5, 0), 5);
  EXPECT_EQ(std::string(bytes, 5), "hello");

  TCapturedNetworkLog log;
  int small = 4096;
  ASSERT_EQ(setsockopt(socket_->GetDescriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
  // More than the socket can take at once: a part goes out, and the call says the stream is broken.
  const std::vector<char> big(1 << 20, 'b');
  EXPECT_FALSE(socket_->Write(big.data(), static_cast<std::uint32_t>(big.size())));
  ASSERT_EQ(TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].text.rfind("TPacketHelperBase::SendPacket() -> send took ", 0), 0u);
  // Now full: nothing is taken at all.
  EXPECT_FALSE(socket_->Write(big.data(), static_cast<std::uint32_t>(big.size())));
  EXPECT_EQ(TCapturedNetworkLog::Lines().back().text,
            "TPacketHelperBase::SendPacket() -> Erreur lors d'un send (Resource temporarily unavailable)");

  pair_.CloseSecond();
  EXPECT_FALSE(socket_->Write("x", 1));
  EXPECT_EQ(TCapturedNetworkLog::Lines().back().text,
            "TPacketHelperBase::SendPacket() -> Erreur lors d'un send (Broken pipe)");
}

TEST_F(NativeSocketTest, RegistersOnceAndUnregistersOnceWhateverTheCloses) {
  EXPECT_EQ(manager_.added, 1);
  EXPECT_FALSE(socket_->IsClosed());
  socket_->Close();
  EXPECT_TRUE(socket_->IsClosed());
  EXPECT_EQ(socket_->GetDescriptor(), -1);
  socket_->Close();
  socket_.reset();
  EXPECT_EQ(manager_.removed, 1);

  OrvTest::TSocketPair other;
  { TNativeSocket destroyedOpen(other.TakeFirst(), &manager_); }
  EXPECT_EQ(manager_.added, 2);
  EXPECT_EQ(manager_.removed, 2);
}

}  // namespace
}  // namespace Orvan::Network
