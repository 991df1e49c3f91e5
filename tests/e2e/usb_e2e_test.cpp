// A USB printer end to end: the virtual printer serves a USB printer node in
// umockdev's testbed (this program runs itself under umockdev-wrapper), the
// device entry records it as the setup utility does, and the service object
// reaches it through Vexlink and usb. The printer is pulled out between jobs
// and put back while the application keeps running.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/usb_devices.h"
#include "platform/registry.h"
#include "platform/testbed/usb_testbed.h"
#include "platform/usb.h"
#include "tests/e2e/e2e_fixture.h"

namespace qz381::e2e {
namespace {

constexpr uint16_t kVendor = 0x3A81;
constexpr uint16_t kProduct = 0x0381;
constexpr char kUsbDevice[] = "QZ381USB";
constexpr int32_t kReceipt = 2;

// The threads this process runs now.
size_t ThreadCount() {
  namespace fs = std::filesystem;
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/task"), {}));
}

class UsbE2eTest : public E2eTest {
 protected:
  void SetUp() override {
    if (!platform::testbed::InMock()) GTEST_SKIP() << "not running under umockdev";
    ASSERT_NO_FATAL_FAILURE(E2eTest::SetUp());
    sim_->Stop();  // the serial printer of the fixture is not used here
    printer_node_ = bed_.AddPrinter(kVendor, kProduct, "QZ0001", "1-4", 0);
    ASSERT_GE(printer_node_.host_fd, 0);
    sim::SimulatorOptions options;
    options.usb_host_fd = printer_node_.host_fd;
    std::string error;
    sim_ = sim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim_) << error;

    // Registered as a user registers it: by the name `qz381 devices` shows.
    usb::UsbDeviceList attached;
    ASSERT_EQ(usb::EnumerateUsbDevices(attached), 1);
    ASSERT_NO_FATAL_FAILURE(CreateDevice(kUsbDevice, "USB001:"));
    const std::string key =
        std::string("Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\") + kUsbDevice;
    platform::Registry& reg = platform::DefaultRegistry();
    std::string text;
    for (const auto& [name, want] :
         std::vector<std::pair<const char*, std::string>>{{"Port", "USB001:"},
                                                          {"UsbDeviceName", attached[0].devicePath},
                                                          {"Pid", "0381"},
                                                          {"Vid", "3A81"}}) {
      ASSERT_TRUE(platform::ReadText(reg, platform::Hive::kLocalMachine, key, name, &text).ok());
      EXPECT_EQ(text, want) << name;
    }
    uint32_t ordinal = 0;
    ASSERT_TRUE(
        platform::ReadNumber(reg, platform::Hive::kLocalMachine, key, "UsbCount", &ordinal).ok());
    EXPECT_EQ(ordinal, 1u);
    path_ = attached[0].devicePath;
  }

  platform::testbed::UsbTestbed bed_;
  platform::testbed::TestPrinter printer_node_;
  std::string path_;
};

TEST_F(UsbE2eTest, PrintsSurvivesUnplugAndReplugAndLosesNoJob) {
  EXPECT_EQ(path_.find("COM"), std::string::npos);
  const size_t threads_before = ThreadCount();
  ASSERT_EQ(printer().Open(kUsbDevice), 0);
  ASSERT_EQ(printer().ClaimDevice(1000), 0);
  ASSERT_EQ(Set("PowerNotify", 1), 0);
  ASSERT_EQ(Set("DeviceEnabled", 1), 0);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());
  ASSERT_EQ(Set("AsyncMode", 1), 0);
  events_.Clear();

  ASSERT_EQ(printer().PrintNormal(kReceipt, "before the unplug\n"), 0);
  ASSERT_TRUE(
      events_.WaitFor("OutputComplete " + std::to_string(Get("OutputID")), milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());

  bed_.Unplug(printer_node_);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 2003", milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());

  // The job finds the printer away; the answer to the error puts it back and
  // asks for the job again.
  int errors = 0;
  events_.SetErrorHandler([&](const RecordedEvent&, int32_t* response) {
    if (errors++ == 0) {
      printer_node_ = bed_.AddPrinter(kVendor, kProduct, "QZ0001", "1-4", 1);
      sim().Replug(printer_node_.host_fd);
    }
    *response = 11;  // retry
  });
  ASSERT_EQ(printer().PrintNormal(kReceipt, "after the replug\n"), 0);
  ASSERT_TRUE(
      events_.WaitFor("OutputComplete " + std::to_string(Get("OutputID")), milliseconds(15000)))
      << ::testing::PrintToString(events_.Lines());
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 2001", milliseconds(5000)))
      << ::testing::PrintToString(events_.Lines());
  EXPECT_GE(errors, 1);

  // From the unplug on (the on-line report of enabling may come late).
  std::vector<std::string> power;
  for (const std::string& line : events_.Lines()) {
    if (line != "StatusUpdate 2003" && line != "StatusUpdate 2001") continue;
    if (!power.empty() || line == "StatusUpdate 2003") power.push_back(line);
  }
  EXPECT_EQ(power, (std::vector<std::string>{"StatusUpdate 2003", "StatusUpdate 2001"}));
  const std::vector<std::string> journal = sim().JournalLines();
  const auto first = std::find(journal.begin(), journal.end(), "TEXT \"before the unplug\"");
  const auto second = std::find(journal.begin(), journal.end(), "TEXT \"after the replug\"");
  ASSERT_NE(first, journal.end()) << ::testing::PrintToString(journal);
  ASSERT_NE(second, journal.end()) << ::testing::PrintToString(journal);
  EXPECT_LT(first, second);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "TEXT \"after the replug\""), 1);
  EXPECT_EQ(printer().Close(), 0);
  // The port's reader and its watch of device changes ended with the port,
  // as did the service object's threads.
  EXPECT_EQ(ThreadCount(), threads_before);
}

TEST_F(UsbE2eTest, ARecordedPrinterThatIsNotAttachedCannotBeOpened) {
  bed_.Unplug(printer_node_);
  EXPECT_EQ(printer().Open(kUsbDevice), 106);
}

}  // namespace
}  // namespace qz381::e2e
