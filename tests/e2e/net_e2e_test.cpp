// The service object on a network printer: the control object stand-in opens
// an Ethernet device entry, the service object reaches the virtual printer on
// the loopback address through Vexlink and net. Compared with the same session
// on a serial line, and with the connection dropped under a job.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "setup/install.h"
#include "tests/e2e/e2e_fixture.h"

namespace qz381::e2e {
namespace {

constexpr int32_t kReceipt = 2;
constexpr char kNetDevice[] = "QZ381NET";

class NetE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    sim::SimulatorOptions options;
    options.tcp_address = "127.0.0.1:0";
    std::string error;
    net_sim_ = sim::Simulator::Start(options, &error);
    ASSERT_TRUE(net_sim_) << error;
    // The setup utility's Ethernet device: the address and port in TcpIp and
    // TcpPort.
    ASSERT_NO_FATAL_FAILURE(CreateDevice(kNetDevice, "Ethernet"));
    platform::Registry& reg = platform::DefaultRegistry();
    const std::string key = std::string(setup::kClassKey) + "\\" + kNetDevice;
    ASSERT_TRUE(reg.SetValue(platform::Hive::kLocalMachine, key, "TcpIp",
                             platform::RegValue::Text("127.0.0.1"))
                    .ok());
    ASSERT_TRUE(reg.SetValue(platform::Hive::kLocalMachine, key, "TcpPort",
                             platform::RegValue::Dword(net_sim_->NetworkPort()))
                    .ok());
  }
  void TearDown() override {
    E2eTest::TearDown();
    if (net_sim_) net_sim_->Stop();
  }

  // Open, claim and enable `device`; waits for the first status block's events.
  void Start(const char* device, bool power_notify = false) {
    ASSERT_EQ(printer().Open(device), 0);
    ASSERT_EQ(printer().ClaimDevice(3000), 0);
    if (power_notify) {
      ASSERT_EQ(Set("PowerNotify", 1), 0);
    }
    ASSERT_EQ(Set("DeviceEnabled", 1), 0);
    ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(3000)))
        << ::testing::PrintToString(events_.Lines());
    events_.Clear();
  }
  void Stop() {
    ASSERT_EQ(printer().ReleaseDevice(), 0);
    ASSERT_EQ(printer().Close(), 0);
  }
  // What a printer received from `mark` on, as hex.
  static std::string HexSince(sim::Simulator& printer, size_t mark) {
    return Hex(printer.RawBytes(), mark);
  }
  static size_t Count(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
      ++n;
    }
    return n;
  }

  std::unique_ptr<sim::Simulator> net_sim_;
};

// A job and its confirmation: the same bytes on the network as on a serial
// line; the printer's status blocks arrive as status events.
TEST_F(NetE2eTest, PrintsTheSameBytesAsOnSerialAndReportsItsStatus) {
  // An asynchronous job, completed once the printer has answered the status
  // request that follows it; what the printer received from the job on.
  auto print = [&](const char* device, sim::Simulator& printer_side) {
    Start(device);
    EXPECT_EQ(Set("AsyncMode", 1), 0);
    const size_t mark = printer_side.RawBytes().size();
    EXPECT_EQ(printer().PrintNormal(kReceipt, "\x1b|bCNet receipt\n\x1b|fP"), 0);
    EXPECT_TRUE(events_.WaitFor("OutputComplete 1", milliseconds(5000)))
        << ::testing::PrintToString(events_.Lines());
    std::string bytes = HexSince(printer_side, mark);
    Stop();
    events_.Clear();
    return bytes;
  };
  const std::string serial_bytes = print(kDevice, sim());
  const std::string net_bytes = print(kNetDevice, *net_sim_);
  EXPECT_EQ(net_bytes, serial_bytes);
  // Confirmed as on a serial line: the real-time status request ends the job.
  EXPECT_EQ(serial_bytes.substr(serial_bytes.size() - 8), "10 04 03");

  ASSERT_NO_FATAL_FAILURE(Start(kNetDevice));

  net_sim_->SetCoverOpen(true);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 11", milliseconds(3000)));
  EXPECT_EQ(Get("CoverOpen"), 1);
  net_sim_->SetCoverOpen(false);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(3000)));
  ASSERT_NO_FATAL_FAILURE(Stop());
}

// The connection is lost while a job waits for its confirmation: the device
// goes off-line and on-line again, the job fails through the error event, and
// the retry prints it once on the new connection, after the printer was told
// again to report its status; the next job restores the printer's settings.
TEST_F(NetE2eTest, AConnectionLostUnderAJobIsReportedAndTheJobPrintedOnceOnRetry) {
  ASSERT_NO_FATAL_FAILURE(Start(kNetDevice, true));
  ASSERT_EQ(Set("AsyncMode", 1), 0);
  int32_t retries = 0;
  events_.SetErrorHandler([&](const RecordedEvent&, int32_t* response) {
    ++retries;
    *response = 11;  // retry
  });
  // A job before the loss sends the printer's settings, so none are pending.
  ASSERT_EQ(printer().PrintNormal(kReceipt, "before the loss\n"), 0);
  ASSERT_TRUE(events_.WaitFor("OutputComplete 1", milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());
  events_.Clear();
  // The printer stops reading: the job stays in the network's buffers, and
  // the reset then throws it away with the connection.
  net_sim_->SetNetStalled(true);
  std::this_thread::sleep_for(milliseconds(50));
  ASSERT_EQ(printer().PrintNormal(kReceipt, "network job\n"), 0);
  std::this_thread::sleep_for(milliseconds(300));
  net_sim_->DropConnection(true);
  net_sim_->SetNetStalled(false);

  ASSERT_TRUE(net_sim_->WaitForConnection(2, milliseconds(10000)));
  // The answer to the status request went with the old connection: the wait
  // for it runs out its five minutes at once.
  clock_.Advance(300000);
  ASSERT_TRUE(events_.WaitUntil(
      [](const std::vector<RecordedEvent>& events) {
        return std::any_of(events.begin(), events.end(), [](const RecordedEvent& e) {
          return e.kind == RecordedEvent::kOutputComplete && e.value == 2;
        });
      },
      milliseconds(15000)))
      << ::testing::PrintToString(events_.Lines());

  const std::vector<std::string> lines = events_.Lines();
  const auto offline = std::find(lines.begin(), lines.end(), "StatusUpdate 2003");
  ASSERT_NE(offline, lines.end()) << ::testing::PrintToString(lines);
  EXPECT_NE(std::find(offline, lines.end(), "StatusUpdate 2001"), lines.end())
      << ::testing::PrintToString(lines);
  EXPECT_GE(retries, 1);
  const std::vector<std::string> journal = net_sim_->JournalLines();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "TEXT \"network job\""), 1)
      << ::testing::PrintToString(journal);
  // Back on-line the printer was told again to report its status.
  const auto reconnected =
      std::find_if(journal.begin(), journal.end(),
                   [](const std::string& line) { return line.rfind("NET connected", 0) == 0; });
  ASSERT_NE(reconnected, journal.end());
  const auto second = std::find_if(reconnected + 1, journal.end(), [](const std::string& line) {
    return line.rfind("NET connected", 0) == 0;
  });
  ASSERT_NE(second, journal.end());
  EXPECT_NE(std::find(second, journal.end(), "GS a 15 automatic-status"), journal.end())
      << ::testing::PrintToString(journal);

  // The printer forgot its settings with the connection: they are sent again
  // (code table, international set, rotation, line spacing) on the new
  // connection, by the next job at the latest.
  ASSERT_EQ(printer().PrintNormal(kReceipt, "after the loss\n"), 0);
  ASSERT_TRUE(events_.WaitFor("OutputComplete 3", milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());
  const std::vector<std::string> after = net_sim_->JournalLines();
  const auto connected_again =
      std::find_if(after.rbegin(), after.rend(), [](const std::string& line) {
        return line.rfind("NET connected", 0) == 0;
      }).base();
  const auto next = std::find(connected_again, after.end(), "TEXT \"after the loss\"");
  ASSERT_NE(next, after.end()) << ::testing::PrintToString(after);
  for (const char* setting : {"ESC t ", "ESC R ", "ESC { ", "ESC 3 "}) {
    EXPECT_TRUE(std::any_of(connected_again, next,
                            [&](const std::string& line) { return line.rfind(setting, 0) == 0; }))
        << setting << "not sent again: " << ::testing::PrintToString(after);
  }
  ASSERT_NO_FATAL_FAILURE(Stop());
}

// Claiming a device whose printer does not take connections fails as a port
// that will not open does, in the connect limit and no longer.
TEST_F(NetE2eTest, APrinterThatRefusesConnectionsCannotBeClaimed) {
  net_sim_->SetNetRefusing(true);
  ASSERT_TRUE(net_sim_->WaitForJournalLine("NET refusing connections", milliseconds(2000)));
  ASSERT_EQ(printer().Open(kNetDevice), 0);
  EXPECT_NE(printer().ClaimDevice(1000), 0);
  EXPECT_EQ(printer().Close(), 0);
}

}  // namespace
}  // namespace qz381::e2e
