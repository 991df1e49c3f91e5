// The net port over in-memory connections (the logic: reconnection, limits,
// bounds) and over real TCP to a printer played on the loopback address.
#include "ports/net/net_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/socket_fake.h"
#include "platform/testbed/loopback_peer.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using platform::FakeAnswer;
using std::chrono::milliseconds;

constexpr const char* kHost = "127.0.0.1";
constexpr uint16_t kPort = 9100;

bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
  const auto deadline = Clock::now() + milliseconds(ms);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

DeviceOption Option(const char* host, uint32_t tcp_port = 0) {
  DeviceOption option = DefaultDeviceOption();
  SetPortName(option, host);
  option.baudRate = tcp_port;
  return option;
}

TEST(NetPortTest, TheAddressComesFromThePortNameAndThePortFromTheBaudRate) {
  struct Case {
    const char* name;
    uint32_t baud;
    const char* host;  // nullptr: refused
    uint16_t port;
  };
  const Case cases[] = {
      {"192.168.7.31", 0, "192.168.7.31", 9100},
      {"192.168.7.31", 9101, "192.168.7.31", 9101},
      {"::1", 65535, "::1", 65535},
      {"[fe80::2]", 1, "[fe80::2]", 1},
      {"printer-3.shop.example", 0, "printer-3.shop.example", 9100},
      {"192.168.7.31", 65536, nullptr, 0},
      {"", 0, nullptr, 0},
      {"0.0.0.0", 0, nullptr, 0},
      {"300.1.1.1", 0, nullptr, 0},
      {"two words", 0, nullptr, 0},
      {"COM3", 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    std::string host, why;
    uint16_t port = 0;
    const bool ok = NetPort::EndpointOf(Option(c.name, c.baud), &host, &port, &why);
    EXPECT_EQ(ok, c.host != nullptr) << c.name << ":" << c.baud << " " << why;
    if (ok && c.host) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(NetPortTest, ReconnectionPausesDoubleUpToFiveSeconds) {
  ReconnectBackoff backoff;
  std::vector<uint32_t> pauses;
  for (int i = 0; i < 8; ++i) pauses.push_back(backoff.Next());
  EXPECT_EQ(pauses, (std::vector<uint32_t>{100, 200, 400, 800, 1600, 3200, 5000, 5000}));
  backoff.Reset();
  EXPECT_EQ(backoff.Next(), 100u);
}

class NetPortFakeTest : public ::testing::Test {
 protected:
  NetPortFakeTest() : faulty_(network_), port_(faulty_, 40000) {
    network_.SetEndpoint(kHost, kPort, FakeAnswer::kAccept);
  }

  std::shared_ptr<platform::FakeConnection> Open(DeviceOption option = Option(kHost)) {
    EXPECT_EQ(port_.SetDeviceOption(option), 1);
    EXPECT_EQ(port_.OpenPort(), 1);
    return Connection(0);
  }
  std::shared_ptr<platform::FakeConnection> Connection(size_t index) {
    return network_.WaitConnection(kHost, kPort, index, 5000);
  }

  platform::FakeSockets network_;
  platform::FaultInjectingSockets faulty_;
  NetPort port_;
};

TEST_F(NetPortFakeTest, CarriesExactBytesAndSeparatesStatusBlocks) {
  EXPECT_EQ(port_.IsPowerState(), kPowerStateUnknown);
  auto printer = Open();
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(port_.IsPowerState(), kPowerStateOnline);

  const Bytes command = {0x00, 0x1D, 0x61, 0x0F};
  EXPECT_EQ(port_.Write(command.data(), 4), 4);
  ASSERT_TRUE(printer->WaitWritten(4, 2000));
  EXPECT_EQ(printer->TakeWritten(), command);

  // A status block, a reply byte, and a block cut in two by the network.
  printer->Send(Bytes{0x10, 0x00, 0x00, 0x0F, 0x41, 0x14, 0x20});
  ASSERT_TRUE(WaitFor([&] { return port_.GetInputBufferCount() == 1; }));
  printer->Send(Bytes{0x00, 0x0F});
  uint8_t block[4];
  // The limit is far longer than the test: only the block's arrival ends it.
  ASSERT_EQ(port_.WaitASBState(600000), 1);
  ASSERT_EQ(port_.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x10, 0x00, 0x00, 0x0F}));
  ASSERT_TRUE(WaitFor([&] { return port_.GetASBState(block) == 1; }));
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x14, 0x20, 0x00, 0x0F}));
  uint8_t reply = 0;
  EXPECT_EQ(port_.Read(&reply, 1, 1000), 1);
  EXPECT_EQ(reply, 0x41);
}

TEST_F(NetPortFakeTest, AnAddressThatDoesNotAnswerFailsTheOpen) {
  struct Case {
    DeviceOption option;
    FakeAnswer answer;
  };
  // Refused, never answered (the open waits its connect limit, no longer),
  // not an address at all.
  for (const auto& [option, answer] :
       {Case{Option(kHost), FakeAnswer::kRefuse}, Case{Option(kHost), FakeAnswer::kSilent},
        Case{Option("no such host!"), FakeAnswer::kAccept}}) {
    network_.SetEndpoint(kHost, kPort, answer);
    EXPECT_EQ(port_.SetDeviceOption(option), 1);
    EXPECT_EQ(port_.OpenPort(), 0);
    uint8_t byte = 0x55;
    EXPECT_EQ(port_.Write(&byte, 1), 0);
    port_.ClosePort();
  }
  EXPECT_EQ(network_.ConnectionCount(kHost, kPort), 0u);
}

TEST_F(NetPortFakeTest, ALostConnectionGoesOffLineAndIsMadeAgain) {
  auto first = Open();
  ASSERT_NE(first, nullptr);
  first->Send(Bytes{0x14, 0x20});  // half a block, lost with its connection
  first->Break();
  ASSERT_TRUE(WaitFor([&] { return port_.IsPowerState() == kPowerStateOffline; }));

  auto second = Connection(1);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(WaitFor([&] { return port_.IsPowerState() == kPowerStateOnline; }));
  second->Send(Bytes{0x00, 0x0F, 0x10, 0x00, 0x00, 0x0F});
  uint8_t block[4];
  ASSERT_TRUE(WaitFor([&] { return port_.GetASBState(block) == 1; }));
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x10, 0x00, 0x00, 0x0F}));
  EXPECT_EQ(port_.GetASBState(block), 0);
  const uint8_t cut[] = {0x1D, 0x56, 0x00};
  EXPECT_EQ(port_.Write(cut, 3), 3);
  ASSERT_TRUE(second->WaitWritten(3, 2000));
  EXPECT_EQ(second->TakeWritten(), Bytes(cut, cut + 3));
}

TEST_F(NetPortFakeTest, AWriteWhileDisconnectedAnswersZero) {
  auto printer = Open();
  ASSERT_NE(printer, nullptr);
  network_.SetEndpoint(kHost, kPort, FakeAnswer::kRefuse);
  printer->Close();
  ASSERT_TRUE(WaitFor([&] { return port_.IsPowerState() == kPowerStateOffline; }));
  const uint8_t data[] = {0x41, 0x42};
  EXPECT_EQ(port_.Write(data, 2), 0);
  EXPECT_EQ(port_.Write(data, 2), 0);
}

TEST_F(NetPortFakeTest, AWriteThatFindsTheConnectionBrokenStartsTheReconnection) {
  auto first = Open();
  ASSERT_NE(first, nullptr);
  faulty_.FailCall(platform::SocketCall::kWrite, 1, platform::FaultMode::kOnce);
  const uint8_t data[] = {0x41};
  EXPECT_EQ(port_.Write(data, 1), 0);
  EXPECT_NE(Connection(1), nullptr);
  ASSERT_TRUE(WaitFor([&] { return port_.IsPowerState() == kPowerStateOnline; }));
  EXPECT_FALSE(first->IsHeld());
}

TEST_F(NetPortFakeTest, APrinterThatStopsReadingHoldsAWriteOnlyForItsLimit) {
  DeviceOption option = Option(kHost);
  option.timeouts.writeTotalTimeoutMultiplier = 0;
  option.timeouts.writeTotalTimeoutConstant = 100;
  auto printer = Open(option);
  ASSERT_NE(printer, nullptr);
  printer->SetWriteCapacity(4);
  const Bytes data(10, 0x41);
  EXPECT_EQ(port_.Write(data.data(), 10), 4);
  // Only busy, not gone: the connection stays.
  EXPECT_EQ(port_.IsPowerState(), kPowerStateOnline);
  EXPECT_EQ(network_.ConnectionCount(kHost, kPort), 1u);
}

TEST_F(NetPortFakeTest, AFloodIsBoundedByTheReceiveBuffers) {
  DeviceOption option = Option(kHost);
  option.inputBufferSize = 64;
  auto printer = Open(option);
  ASSERT_NE(printer, nullptr);
  Bytes flood(100000, 0x41);
  const Bytes block = {0x10, 0x00, 0x00, 0x0F};
  flood.insert(flood.end(), block.begin(), block.end());
  printer->Send(flood);
  uint8_t taken[4];
  ASSERT_TRUE(WaitFor([&] { return port_.GetASBState(taken) == 1; }));
  EXPECT_EQ(Bytes(taken, taken + 4), block);
  EXPECT_EQ(port_.GetInputBufferCount(), 64);
}

TEST_F(NetPortFakeTest, ClosePortEndsAReconnectionThatNobodyAnswers) {
  auto printer = Open();
  ASSERT_NE(printer, nullptr);
  network_.SetEndpoint(kHost, kPort, FakeAnswer::kSilent);
  printer->Break();
  ASSERT_TRUE(WaitFor([&] { return port_.IsPowerState() == kPowerStateOffline; }));
  // Long enough for the first reconnection to be waiting on its connect.
  std::this_thread::sleep_for(milliseconds(200));
  const auto asked = Clock::now();
  port_.ClosePort();
  // The connect limit is 3 s; closing takes under 100 ms (the margin is for a
  // loaded machine).
  EXPECT_LT(Clock::now() - asked, milliseconds(250));
  uint8_t data[] = {0x41};
  EXPECT_EQ(port_.Write(data, 1), 0);
  EXPECT_EQ(port_.Read(data, 1, 0), 0);
}

using platform::testbed::Loopback;
using platform::testbed::LoopbackPeer;

TEST(NetPortLoopbackTest, ConnectsCarriesStatusAndReconnectsOverRealTcp) {
  LoopbackPeer printer;
  ASSERT_TRUE(printer.listening());
  NetPort port(platform::DefaultSockets(), 40001);
  ASSERT_EQ(port.SetDeviceOption(Option(kHost, printer.port())), 1);
  ASSERT_EQ(port.OpenPort(), 1);
  ASSERT_TRUE(printer.Accept());
  EXPECT_EQ(port.IsPowerState(), kPowerStateOnline);

  const Bytes asb_on = {0x00, 0x1D, 0x61, 0x0F};
  EXPECT_EQ(port.Write(asb_on.data(), 4), 4);
  EXPECT_EQ(printer.Receive(4), asb_on);
  printer.Send(Bytes{0x10, 0x00, 0x00, 0x0F, 0x35, 0x40, 0x40, 0x00});
  uint8_t block[4];
  ASSERT_TRUE(WaitFor([&] { return port.GetASBState(block) == 1; }));
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x10, 0x00, 0x00, 0x0F}));
  ASSERT_TRUE(WaitFor([&] { return port.GetASBState(block) == 1; }));
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x35, 0x40, 0x40, 0x00}));

  printer.Close();
  ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == kPowerStateOffline; }));
  ASSERT_TRUE(printer.Accept());
  ASSERT_TRUE(WaitFor([&] { return port.IsPowerState() == kPowerStateOnline; }));
  const uint8_t request[] = {0x10, 0x04, 0x01};
  EXPECT_EQ(port.Write(request, 3), 3);
  EXPECT_EQ(printer.Receive(3), Bytes(request, request + 3));
  printer.Send(Bytes{0x16});
  uint8_t reply = 0;
  EXPECT_EQ(port.Read(&reply, 1, 2000), 1);
  EXPECT_EQ(reply, 0x16);
  port.ClosePort();
  EXPECT_TRUE(printer.WaitPeerClosed());  // the module closed its end
}

// Every form of address a device entry may hold reaches a printer listening
// there; one that is not there fails the open in its own way and in time.
TEST(NetPortLoopbackTest, OpensByAddressOrHostNameAndFailsInTimeWhereNothingAnswers) {
  LoopbackPeer v4;
  LoopbackPeer v6(Loopback::kIpv6);
  ASSERT_TRUE(v4.listening());
  platform::testbed::SilentLoopbackPort silent;
  struct Case {
    const char* host;
    LoopbackPeer* printer;  // null: the open fails
    uint16_t port;
    int64_t most_ms;  // the open answers within this
  };
  const Case cases[] = {
      {"127.0.0.1", &v4, v4.port(), 2000},
      {"localhost", &v4, v4.port(), 2000},
      {"::1", &v6, v6.port(), 2000},
      {"[::1]", &v6, v6.port(), 2000},
      {"127.0.0.1", nullptr, platform::testbed::RefusingLoopbackPort(), 2000},
      // Nothing answers: the connect limit, and not much more.
      {"127.0.0.1", nullptr, silent.port(), NetPort::kConnectMs + 1500},
      {"printer..shop", nullptr, v4.port(), 100},
      {"127.0.0.1:9100", nullptr, v4.port(), 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " port " + std::to_string(c.port));
    if (c.printer == &v6 && !v6.listening()) continue;  // no IPv6 loopback here
    NetPort port(platform::DefaultSockets(), 40002);
    ASSERT_EQ(port.SetDeviceOption(Option(c.host, c.port)), 1);
    const auto asked = Clock::now();
    const int32_t opened = port.OpenPort();
    EXPECT_LT(Clock::now() - asked, milliseconds(c.most_ms));
    EXPECT_EQ(opened, c.printer ? 1 : 0);
    if (!c.printer) {
      EXPECT_NE(port.IsPowerState(), kPowerStateOnline);
      continue;
    }
    ASSERT_TRUE(c.printer->Accept());
    const uint8_t init[] = {0x1B, 0x40};
    EXPECT_EQ(port.Write(init, 2), 2);
    EXPECT_EQ(c.printer->Receive(2), Bytes(init, init + 2));
    port.ClosePort();
    EXPECT_TRUE(c.printer->WaitPeerClosed());
  }
}

// A printer that answers with garbage and floods the port, then with a status
// block; then one that takes nothing at all. The port stays bounded and
// usable and ends promptly.
TEST(NetPortLoopbackTest, AGarbageFloodAndAPrinterThatNeverReadsStayBounded) {
  LoopbackPeer printer(Loopback::kIpv4, 4096);
  ASSERT_TRUE(printer.listening());
  NetPort port(platform::DefaultSockets(), 40003);
  DeviceOption option = Option(kHost, printer.port());
  option.inputBufferSize = 256;
  option.timeouts.writeTotalTimeoutMultiplier = 0;
  option.timeouts.writeTotalTimeoutConstant = 200;
  ASSERT_EQ(port.SetDeviceOption(option), 1);
  ASSERT_EQ(port.OpenPort(), 1);
  ASSERT_TRUE(printer.Accept());

  // Block openings that never finish, and bytes no block has.
  const Bytes pattern = {0x10, 0x00, 0x00, 0x41, 0xC3, 0x07, 0x35, 0x40, 0xFF};
  Bytes garbage;
  while (garbage.size() < 1000000) garbage.insert(garbage.end(), pattern.begin(), pattern.end());
  ASSERT_EQ(printer.Send(garbage, 10000), garbage.size());
  const Bytes block = {0x14, 0x00, 0x00, 0x0F};
  ASSERT_EQ(printer.Send(block), block.size());
  uint8_t taken[4];
  ASSERT_TRUE(WaitFor([&] { return port.GetASBState(taken) == 1; }, 10000));
  EXPECT_EQ(Bytes(taken, taken + 4), block);
  EXPECT_EQ(port.GetASBState(taken), 0);
  EXPECT_EQ(port.GetInputBufferCount(), 256);
  EXPECT_EQ(port.IsPowerState(), kPowerStateOnline);

  // The printer reads nothing from now on: each write ends at its limit with
  // what the connection took, and the connection stays.
  const Bytes job(1 << 20, 0x41);
  bool cut_short = false;
  for (int i = 0; i < 8 && !cut_short; ++i) {
    const auto asked = Clock::now();
    const int32_t n = port.Write(job.data(), static_cast<int32_t>(job.size()));
    EXPECT_LT(Clock::now() - asked, milliseconds(1500));
    cut_short = n < static_cast<int32_t>(job.size());
  }
  EXPECT_TRUE(cut_short) << "8 MiB went into a connection nobody reads";
  EXPECT_EQ(port.IsPowerState(), kPowerStateOnline);
  const auto asked = Clock::now();
  port.ClosePort();
  EXPECT_LT(Clock::now() - asked, milliseconds(250));  // 100 ms, and a margin for load
}

}  // namespace
}  // namespace qz381::ports
