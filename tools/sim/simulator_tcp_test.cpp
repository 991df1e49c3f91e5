// The virtual printer on TCP: a host connecting over loopback, and the network
// faults the operator can cause.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/control.h"
#include "tools/sim/simulator.h"

namespace qz381::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// The host's end, with plain sockets; -1 when the connect was refused.
int ConnectTo(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const Bytes& bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

// Up to `count` bytes, waiting up to 2 s; fewer when the connection ends.
Bytes ReceiveUpTo(int fd, size_t count, bool* ended = nullptr) {
  Bytes out;
  if (ended) *ended = false;
  while (out.size() < count) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 2000) != 1) break;
    uint8_t buffer[64];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
    if (n <= 0) {
      if (ended) *ended = true;
      break;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

class SimulatorTcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatorOptions options;
    options.tcp_address = "127.0.0.1:0";
    std::string error;
    sim_ = Simulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    ASSERT_NE(sim_->NetworkPort(), 0);
    EXPECT_EQ(sim_->NetworkAddress(), "127.0.0.1:" + std::to_string(sim_->NetworkPort()));
  }
  void TearDown() override {
    if (host_ >= 0) ::close(host_);
    sim_->Stop();
  }
  void Connect(size_t count) {
    host_ = ConnectTo(sim_->NetworkPort());
    ASSERT_GE(host_, 0);
    ASSERT_TRUE(sim_->WaitForConnection(count, milliseconds(2000)));
  }
  std::unique_ptr<Simulator> sim_;
  int host_ = -1;
};

TEST_F(SimulatorTcpTest, AnswersAHostAndForgetsItsSettingsWhenItGoes) {
  ASSERT_NO_FATAL_FAILURE(Connect(1));
  SendAll(host_, {0x1D, 0x61, 0x0F, 0x10, 0x04, 0x01});
  // The status block at once on enabling, then the real-time reply.
  EXPECT_EQ(ReceiveUpTo(host_, 5), (Bytes{0x10, 0x00, 0x00, 0x0F, 0x12}));
  EXPECT_EQ(sim_->State().automatic_status_mask, 0x0F);

  EXPECT_EQ(sim_->Execute("net drop"), "ok");
  bool ended = false;
  EXPECT_EQ(ReceiveUpTo(host_, 1, &ended), Bytes{});
  EXPECT_TRUE(ended);
  ASSERT_TRUE(
      sim_->WaitForJournalLine("NET connection closed by the operator", milliseconds(2000)));
  EXPECT_EQ(sim_->State().automatic_status_mask, 0);
  ::close(host_);

  ASSERT_NO_FATAL_FAILURE(Connect(2));
  sim_->SetPaper(Paper::kNearEnd);  // not reported: the new host has not asked
  SendAll(host_, {0x10, 0x04, 0x01});
  EXPECT_EQ(ReceiveUpTo(host_, 1), Bytes{0x12});
  pollfd pfd{host_, POLLIN, 0};
  EXPECT_EQ(::poll(&pfd, 1, 200), 0);
  const std::vector<std::string> journal = sim_->JournalLines();
  EXPECT_EQ(journal.back(), "DLE EOT 1 realtime-status");
}

TEST_F(SimulatorTcpTest, RefusesConnectionsWhileToldAndTakesThemAgain) {
  EXPECT_EQ(sim_->Execute("net refuse on"), "ok");
  ASSERT_TRUE(sim_->WaitForJournalLine("NET refusing connections", milliseconds(2000)));
  EXPECT_EQ(ConnectTo(sim_->NetworkPort()), -1);
  EXPECT_EQ(sim_->Execute("net refuse off"), "ok");
  ASSERT_TRUE(sim_->WaitForJournalLine("NET taking connections", milliseconds(2000)));
  ASSERT_NO_FATAL_FAILURE(Connect(1));
}

TEST_F(SimulatorTcpTest, AStalledPrinterReadsNothingUntilItGoesOn) {
  ASSERT_NO_FATAL_FAILURE(Connect(1));
  EXPECT_EQ(sim_->Execute("net stall on"), "ok");
  std::this_thread::sleep_for(milliseconds(50));  // the I/O thread takes it in
  SendAll(host_, {0x1B, 0x40});
  EXPECT_FALSE(sim_->WaitForRawBytes(1, milliseconds(200)));
  EXPECT_EQ(sim_->Execute("net stall off"), "ok");
  EXPECT_TRUE(sim_->WaitForJournalLine("ESC @ initialize", milliseconds(2000)));
}

TEST_F(SimulatorTcpTest, AResetEndsTheHostsConnectionAndAHostThatLeavesIsForgotten) {
  ASSERT_NO_FATAL_FAILURE(Connect(1));
  SendAll(host_, {0x1D, 0x61, 0x0F});
  EXPECT_EQ(ReceiveUpTo(host_, 4).size(), 4u);
  EXPECT_EQ(sim_->Execute("net reset"), "ok");
  ASSERT_TRUE(sim_->WaitForJournalLine("NET connection reset by the operator", milliseconds(2000)));
  ::close(host_);
  ASSERT_NO_FATAL_FAILURE(Connect(2));
  // Half a command, then the host goes: the command is journaled cut short.
  SendAll(host_, {0x1D, 0x76, 0x30, 0x00});
  ASSERT_TRUE(sim_->WaitForRawBytes(4 + 3, milliseconds(2000)));
  ::close(host_);
  host_ = -1;
  ASSERT_TRUE(sim_->WaitForJournalLine("NET connection ended by the host", milliseconds(2000)));
  const std::vector<std::string> journal = sim_->JournalLines();
  ASSERT_GE(journal.size(), 2u);
  EXPECT_EQ(journal[journal.size() - 2], "GS v 0 0 raster-image TRUNCATED");
}

TEST(SimulatorTcpOptionsTest, OnlyLoopbackAddressesAndNoSerialFaultsOnAPty) {
  for (const char* address :
       {"192.168.7.31:9100", "0.0.0.0:9100", "printer:9100", "127.0.0.1", "127.0.0.1:99999"}) {
    SimulatorOptions options;
    options.tcp_address = address;
    std::string error;
    EXPECT_EQ(Simulator::Start(options, &error), nullptr) << address;
    EXPECT_FALSE(error.empty());
  }
  SimulatorOptions pty;
  std::string error;
  auto sim = Simulator::Start(pty, &error);
  ASSERT_NE(sim, nullptr) << error;
  EXPECT_EQ(sim->Execute("net drop"), "error: not listening on TCP (start with --tcp)");
  std::string parse_error;
  EXPECT_FALSE(ParseControlCommand("net refuse", &parse_error));
  EXPECT_FALSE(parse_error.empty());
}

}  // namespace
}  // namespace qz381::sim
