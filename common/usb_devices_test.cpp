#include "common/usb_devices.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/registry.h"
#include "platform/system_version.h"
#include "platform/usb_fake.h"

namespace qz381::usb {
namespace {

using platform::FakeUsbPrinters;
using platform::UsbPrinterInfo;

class UsbNamingTest : public ::testing::Test {
 protected:
  // Attaches a printer; answers its path as listed (upper case).
  std::string Plug(uint16_t vendor, uint16_t product, const std::string& serial) {
    printers_.Plug({"", "", vendor, product, serial}, "1-" + std::to_string(++sockets_));
    return printers_.LastPlugged().path;
  }
  int32_t Enumerate(platform::UsbPrinters& printers) {
    return EnumerateUsbDevices(printers, list_, false, *registry_);
  }
  int32_t Enumerate() { return Enumerate(printers_); }

  FakeUsbPrinters printers_;
  std::unique_ptr<platform::Registry> registry_ = platform::NewMemoryRegistry();
  UsbDeviceList list_;
  int sockets_ = 0;
};

TEST_F(UsbNamingTest, TwoPrintersOfOneProductGetOrdinalsAndNames) {
  const std::string a = Plug(0x3A81, 0x0381, "A1");
  const std::string other = Plug(0x04B8, 0x0E15, "");
  const std::string b = Plug(0x3A81, 0x0381, "B2");
  ASSERT_EQ(Enumerate(), 3);
  const struct {
    std::string path, name, vid, pid, serial;
    int32_t ordinal;
  } want[] = {{a, "USB001:", "3A81", "0381", "A1", 1},
              {other, "USB002:", "04B8", "0E15", "", 1},
              {b, "USB003:", "3A81", "0381", "B2", 2}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list_[i].devicePath, want[i].path);
    EXPECT_EQ(list_[i].name, want[i].name);
    EXPECT_EQ(list_[i].vendorId, want[i].vid);
    EXPECT_EQ(list_[i].productId, want[i].pid);
    EXPECT_EQ(list_[i].serial, want[i].serial);
    EXPECT_EQ(list_[i].ordinal, want[i].ordinal);
    EXPECT_EQ(list_[i].node, "/dev/usb/lp" + std::to_string(i));
  }
  EXPECT_EQ(DescribeUsbDevice(list_[1]), "USB002: VID 04B8 PID 0E15 serial - /dev/usb/lp1");
  EXPECT_EQ(DescribeUsbDevice(list_[2]), "USB003: VID 3A81 PID 0381 serial B2 /dev/usb/lp2");
  // Listing again starts from an empty list.
  EXPECT_EQ(Enumerate(), 3);
  EXPECT_EQ(list_.size(), 3u);
}

TEST_F(UsbNamingTest, ResolutionPrefersTheRecordedPathThenTheOrdinal) {
  const std::string first = Plug(0x3A81, 0x0381, "A1");
  const std::string second = Plug(0x3A81, 0x0381, "B2");
  Enumerate();
  const std::string gone = "\\\\?\\USB#VID_3A81&PID_0381#FF#{X}";
  const struct {
    const char* name;
    std::string recorded;
    int32_t ordinal;
    std::string pid;
    std::string want;
  } cases[] = {
      {"recorded path present, any ordinal", first, 2, "0381", first},
      {"recorded path of another product still wins", second, 1, "FFFF", second},
      {"path changed, ordinal 2", gone, 2, "0381", second},
      {"ordinal beyond the count takes the last", gone, 7, "0381", second},
      {"ordinal 0 of a new entry takes the first", gone, 0, "0381", first},
      {"negative ordinal takes the first", gone, -3, "0381", first},
      {"lower-case product never matches", gone, 1, "03a1", ""},
      {"no printer of the product", gone, 1, "1234", ""},
      {"empty product", gone, 1, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveUsbDevice(list_, c.recorded, c.ordinal, c.pid), c.want) << c.name;
  }
  // With one left, ordinal 2 resolves to the only one.
  printers_.Unplug(first);
  Enumerate();
  EXPECT_EQ(ResolveUsbDevice(list_, gone, 2, "0381"), second);
  EXPECT_EQ(ResolveUsbDevice(UsbDeviceList{}, first, 1, "0381"), "");
}

TEST_F(UsbNamingTest, APrinterHeldElsewhereIsNotListed) {
  const std::string held = Plug(0x3A81, 0x0381, "A1");
  const std::string free = Plug(0x3A81, 0x0381, "B2");
  platform::Status status;
  auto holder = printers_.Open(held, &status);
  ASSERT_TRUE(holder);
  ASSERT_EQ(Enumerate(), 1);
  EXPECT_EQ(list_[0].devicePath, free);
  EXPECT_EQ(list_[0].name, "USB001:");
  EXPECT_EQ(list_[0].ordinal, 1);
}

TEST_F(UsbNamingTest, TheBatchWalkStopsAfterTheFirstBatchThatListedOne) {
  for (int i = 0; i < 9; ++i) Plug(0x3A81, 0x0381, "S" + std::to_string(i));
  EXPECT_EQ(Enumerate(), 8);  // index 8 is never looked at

  // Nothing in 0-7 opens: the walk goes on to 8-15 and lists index 8.
  platform::FaultInjectingUsbPrinters faulty(printers_);
  faulty.FailCall(platform::UsbCall::kOpen, 1, platform::FaultMode::kFromThenOn);
  EXPECT_EQ(Enumerate(faulty), 0);
  EXPECT_EQ(faulty.Calls(platform::UsbCall::kOpen), 9);  // 0-7, then 8-15 ends at 8
  faulty.ClearFaults();

  faulty.FailCall(platform::UsbCall::kEnumerate, 1, platform::FaultMode::kOnce);
  EXPECT_EQ(Enumerate(faulty), 0);
  EXPECT_TRUE(list_.empty());
}

TEST_F(UsbNamingTest, OnWindows9xTheIdentifiersComeFromTheDeviceInstance) {
  const std::string path = "\\\\?\\USB#0001#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
  registry_->SetValue(platform::Hive::kLocalMachine,
                      std::string(kUsbDeviceClassesKey) + "\\##.#" + path.substr(4),
                      "DeviceInstance", platform::RegValue::Text("usb\\vid_3a81&pid_0381\\5&1"));
  UsbDeviceList list;
  ASSERT_TRUE(AddUsbEntry(list, path, true, *registry_));
  EXPECT_EQ(list[0].vendorId, "3A81");
  EXPECT_EQ(list[0].productId, "0381");
  EXPECT_FALSE(AddUsbEntry(list, path + "X", true, *registry_));         // no key: not listed
  EXPECT_FALSE(AddUsbEntry(list, "\\\\?\\USB#VID", false, *registry_));  // too short to read
  EXPECT_EQ(list.size(), 1u);
}

TEST(IsWin9xTest, FollowsTheVersionWordRule) {
  EXPECT_TRUE(platform::IsWin9xVersion(0xC0000A04));   // 98: high bit, major 4
  EXPECT_TRUE(platform::IsWin9xVersion(0x80000003));   // Win32s-style: high bit, high word 0
  EXPECT_FALSE(platform::IsWin9xVersion(0x0A280105));  // XP: high bit clear, build number
  EXPECT_FALSE(platform::IsWin9xVersion(0x80010003));  // high bit, major 3, high word 1
  EXPECT_FALSE(platform::IsWin9x());
}

}  // namespace
}  // namespace qz381::usb
