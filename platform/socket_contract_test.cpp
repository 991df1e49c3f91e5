// One suite for every Sockets backend: what the net port module may rely on,
// run against the in-memory network and against real TCP on the loopback
// address. Only loopback addresses are used.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/socket_fake.h"
#include "platform/testbed/loopback_peer.h"

namespace qz381::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kConnectMs = 2000;

// The printer's side, played by the test.
class Peer {
 public:
  virtual ~Peer() = default;
  virtual Sockets& sockets() = 0;
  virtual std::string host() const = 0;
  virtual uint16_t port() const = 0;
  // Takes the connection the device just made.
  virtual void Accept() = 0;
  virtual void Send(const Bytes& bytes) = 0;
  // Up to `count` bytes the device wrote, waiting up to 2 s for them.
  virtual Bytes Receive(size_t count) = 0;
  virtual void Close() = 0;  // in order
  virtual void Break() = 0;  // a reset
  // From now on the printer reads nothing: the device's writes back up.
  virtual void StopReading() = 0;
  // A port on the same host where nobody takes connections.
  virtual uint16_t RefusingPort() = 0;
  // A port where connects are never answered.
  virtual uint16_t SilentPort() = 0;

  std::unique_ptr<StreamSocket> Connect() {
    Status status;
    auto socket = sockets().Connect(host(), port(), kConnectMs, nullptr, &status);
    EXPECT_TRUE(status.ok()) << status.ToString();
    if (socket) Accept();
    return socket;
  }
};

class FakePeer final : public Peer {
 public:
  FakePeer() {
    sockets_.SetEndpoint("127.0.0.1", 9100, FakeAnswer::kAccept);
    sockets_.SetEndpoint("127.0.0.1", 9101, FakeAnswer::kRefuse);
    sockets_.SetEndpoint("127.0.0.1", 9102, FakeAnswer::kSilent);
  }
  Sockets& sockets() override { return sockets_; }
  std::string host() const override { return "127.0.0.1"; }
  uint16_t port() const override { return 9100; }
  void Accept() override {
    connection_ = sockets_.WaitConnection("127.0.0.1", 9100, accepted_++, 2000);
    ASSERT_NE(connection_, nullptr);
  }
  void Send(const Bytes& bytes) override { connection_->Send(bytes); }
  Bytes Receive(size_t count) override {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      connection_->WaitWritten(1, 50);
      Bytes more = connection_->TakeWritten();
      out.insert(out.end(), more.begin(), more.end());
    }
    return out;
  }
  void Close() override { connection_->Close(); }
  void Break() override { connection_->Break(); }
  void StopReading() override { connection_->SetWriteCapacity(0); }
  uint16_t RefusingPort() override { return 9101; }
  uint16_t SilentPort() override { return 9102; }

 private:
  FakeSockets sockets_;
  std::shared_ptr<FakeConnection> connection_;
  size_t accepted_ = 0;
};

// Real TCP on 127.0.0.1, the printer played by the test equipment.
class LoopbackPeer final : public Peer {
 public:
  Sockets& sockets() override { return DefaultSockets(); }
  std::string host() const override { return "127.0.0.1"; }
  uint16_t port() const override { return printer_.port(); }
  void Accept() override { ASSERT_TRUE(printer_.Accept()); }
  void Send(const Bytes& bytes) override { ASSERT_EQ(printer_.Send(bytes), bytes.size()); }
  Bytes Receive(size_t count) override { return printer_.Receive(count); }
  void Close() override { printer_.Close(); }
  void Break() override { printer_.Break(); }
  void StopReading() override {}  // it reads only when asked to
  uint16_t RefusingPort() override { return testbed::RefusingLoopbackPort(); }
  uint16_t SilentPort() override {
    silent_ = std::make_unique<testbed::SilentLoopbackPort>();
    return silent_->port();
  }

 private:
  testbed::LoopbackPeer printer_{testbed::Loopback::kIpv4, 4096};
  std::unique_ptr<testbed::SilentLoopbackPort> silent_;
};

enum class Backend { kFake, kLoopback };

class SocketContractTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kFake) {
      peer_ = std::make_unique<FakePeer>();
    } else {
      peer_ = std::make_unique<LoopbackPeer>();
    }
  }
  std::unique_ptr<Peer> peer_;
};

// Reads until `count` bytes came or 2 s passed.
Bytes ReadAll(StreamSocket& socket, size_t count) {
  Bytes out;
  const auto deadline = Clock::now() + milliseconds(2000);
  while (out.size() < count && Clock::now() < deadline) {
    if (socket.WaitInput(50) != SocketWait::kReady) continue;
    uint8_t buffer[256];
    size_t got = 0;
    EXPECT_TRUE(socket.Read(buffer, &got).ok());
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

TEST_P(SocketContractTest, CarriesBytesBothWaysUnchanged) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  const Bytes status = {0x10, 0x00, 0x00, 0x0F, 0x41, 0x00, 0xFF};
  peer_->Send(status);
  EXPECT_EQ(ReadAll(*socket, status.size()), status);
  const Bytes command = {0x1D, 0x61, 0x0F, 0x00, 0x10, 0x04, 0x01};
  size_t written = 0;
  EXPECT_TRUE(socket->Write(command, 1000, &written).ok());
  EXPECT_EQ(written, command.size());
  EXPECT_EQ(peer_->Receive(command.size()), command);
}

TEST_P(SocketContractTest, NothingWaitingTimesOutAndReadsNothing) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(socket->WaitInput(30), SocketWait::kTimedOut);
  uint8_t buffer[8];
  size_t got = 1;
  EXPECT_TRUE(socket->Read(buffer, &got).ok());
  EXPECT_EQ(got, 0u);
}

TEST_P(SocketContractTest, APeerThatClosesIsClosedAfterItsLastBytes) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  peer_->Send({'o', 'k'});
  peer_->Close();
  EXPECT_EQ(ReadAll(*socket, 2), (Bytes{'o', 'k'}));
  EXPECT_EQ(socket->WaitInput(2000), SocketWait::kClosed);
  uint8_t buffer[8];
  size_t got = 0;
  EXPECT_EQ(socket->Read(buffer, &got).outcome(), Outcome::kIoError);
  EXPECT_EQ(got, 0u);
}

TEST_P(SocketContractTest, AResetIsAFailure) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  peer_->Break();
  EXPECT_EQ(socket->WaitInput(2000), SocketWait::kFailed);
  uint8_t buffer[8];
  size_t got = 0;
  EXPECT_EQ(socket->Read(buffer, &got).outcome(), Outcome::kIoError);
  size_t written = 0;
  EXPECT_FALSE(socket->Write(Bytes{0x00}, 1000, &written).ok());
}

TEST_P(SocketContractTest, AWriteToAPrinterThatDoesNotReadEndsAtItsTimeLimit) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  peer_->StopReading();
  // More than any system buffers between the two ends.
  const Bytes data(32u << 20, 0x55);
  size_t written = 0;
  const Status status = socket->Write(data, 200, &written);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut) << status.ToString();
  EXPECT_LT(written, data.size());
}

TEST_P(SocketContractTest, InterruptWakesAWaitAndAWriteThatWouldBlockForEver) {
  auto socket = peer_->Connect();
  ASSERT_NE(socket, nullptr);
  peer_->StopReading();
  Status write_status;
  SocketWait waited = SocketWait::kReady;
  std::thread writer([&] {
    const Bytes data(32u << 20, 0x55);
    size_t written = 0;
    write_status = socket->Write(data, 0, &written);  // no limit
  });
  std::thread reader([&] { waited = socket->WaitInput(0xFFFFFFFFu); });
  std::this_thread::sleep_for(milliseconds(50));
  socket->Interrupt();
  writer.join();
  reader.join();
  EXPECT_EQ(write_status.outcome(), Outcome::kIoError);
  EXPECT_EQ(waited, SocketWait::kInterrupted);
  EXPECT_TRUE(socket->Interrupted());
  EXPECT_EQ(socket->WaitInput(1000), SocketWait::kInterrupted);
}

TEST_P(SocketContractTest, ConnectAnswersWhyItFailed) {
  Sockets& sockets = peer_->sockets();
  Status status;
  EXPECT_EQ(sockets.Connect("", 9100, 500, nullptr, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kInvalidArgument);
  EXPECT_EQ(sockets.Connect("127.0.0.1", 0, 500, nullptr, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kInvalidArgument);
  EXPECT_EQ(sockets.Connect("127.0.0.1", peer_->RefusingPort(), 2000, nullptr, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kIoError) << status.ToString();
  EXPECT_EQ(sockets.Connect("127.0.0.1", peer_->SilentPort(), 200, nullptr, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut) << status.ToString();
}

TEST_P(SocketContractTest, ACancelEndsAConnectNobodyAnswers) {
  const uint16_t silent = peer_->SilentPort();
  std::atomic<bool> cancel{false};
  Status status;
  std::unique_ptr<StreamSocket> socket;
  // The limit is far longer than the test: only the cancel can end it.
  std::thread connecting(
      [&] { socket = peer_->sockets().Connect("127.0.0.1", silent, 600000, &cancel, &status); });
  std::this_thread::sleep_for(milliseconds(50));
  cancel = true;
  connecting.join();
  EXPECT_EQ(socket, nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut);
}

INSTANTIATE_TEST_SUITE_P(Backends, SocketContractTest,
                         ::testing::Values(Backend::kFake, Backend::kLoopback),
                         [](const auto& info) {
                           return info.param == Backend::kFake ? "Fake" : "Loopback";
                         });

// Names the loopback backend alone can show.
TEST(LoopbackSocketTest, ConnectsByHostNameAndByIpv6Literal) {
  Status status;
  {
    testbed::LoopbackPeer printer;
    ASSERT_TRUE(printer.listening());
    // "localhost" may list ::1 first, where nobody listens: the next address is tried.
    auto by_name =
        DefaultSockets().Connect("localhost", printer.port(), kConnectMs, nullptr, &status);
    EXPECT_NE(by_name, nullptr) << status.ToString();
  }
  testbed::LoopbackPeer printer(testbed::Loopback::kIpv6);
  if (!printer.listening()) GTEST_SKIP() << "no IPv6 loopback here";
  for (const char* host : {"::1", "[::1]"}) {
    auto socket = DefaultSockets().Connect(host, printer.port(), kConnectMs, nullptr, &status);
    EXPECT_NE(socket, nullptr) << host << ": " << status.ToString();
    if (socket) {
      EXPECT_EQ(socket->name(), "[::1]:" + std::to_string(printer.port()));
    }
  }
}

TEST(FaultInjectingSocketsTest, FailsTheChosenCallOnceOrFromThenOn) {
  FakeSockets fake;
  fake.SetEndpoint("127.0.0.1", 9100, FakeAnswer::kAccept);
  FaultInjectingSockets faulty(fake);
  Status status;
  faulty.FailCall(SocketCall::kConnect, 1, FaultMode::kOnce);
  EXPECT_EQ(faulty.Connect("127.0.0.1", 9100, 100, nullptr, &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  auto socket = faulty.Connect("127.0.0.1", 9100, 100, nullptr, &status);
  ASSERT_NE(socket, nullptr);

  faulty.FailCall(SocketCall::kWrite, 2, FaultMode::kFromThenOn);
  size_t written = 0;
  EXPECT_TRUE(socket->Write(Bytes{1}, 100, &written).ok());
  EXPECT_FALSE(socket->Write(Bytes{2}, 100, &written).ok());
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(socket->Write(Bytes{3}, 100, &written).ok());
  faulty.FailCall(SocketCall::kWaitInput, 1, FaultMode::kOnce);
  EXPECT_EQ(socket->WaitInput(10), SocketWait::kFailed);
  EXPECT_EQ(socket->WaitInput(10), SocketWait::kTimedOut);
  EXPECT_EQ(faulty.Calls(SocketCall::kWrite), 3);
  EXPECT_EQ(fake.WaitConnection("127.0.0.1", 9100, 0, 0)->TakeWritten(), Bytes{1});
}

}  // namespace
}  // namespace qz381::platform
