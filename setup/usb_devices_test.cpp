#include "setup/usb_devices.h"

#include <gmock/gmock.h>

#include "common/usb_devices.h"
#include "platform/usb.h"
#include "platform/usb_fake.h"
#include "setup/model_install.h"
#include "setup/setup_test_fixture.h"

namespace qz381::setup {

void PrintTo(const UsbEntry& e, std::ostream* out) {
  *out << "{" << e.ordinal << ", " << e.path << ", " << e.name << ", " << e.pid << ", " << e.vid
       << ", " << e.serial << "}";
}

namespace {

using ::testing::ElementsAre;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Two QZ381 printers with another product between them, as the tree hands
// them out: the dialog's names count every printer, ordinals count a product.
class AttachedUsbPrintersTest : public SetupTest {
 protected:
  AttachedUsbPrintersTest() {
    first_ = Path(0x3A81, 0x0381, "QZ0001", "1-1");
    other_ = Path(0x1111, 0x2222, "", "1-2");
    second_ = Path(0x3A81, 0x0381, "", "1-3.4");
    tree_.Plug({"", "", 0x3A81, 0x0381, "QZ0001"}, "1-1");
    tree_.Plug({"", "", 0x1111, 0x2222, ""}, "1-2");
    tree_.Plug({"", "", 0x3A81, 0x0381, ""}, "1-3.4");
  }
  static std::string Path(uint16_t vid, uint16_t pid, const char* serial, const char* chain) {
    return Upper(platform::UsbInterfacePath(vid, pid, serial, chain));
  }
  std::vector<UsbEntry> Attached(platform::UsbPrinters& printers) {
    return AttachedUsbPrinters(printers, false, *reg_);
  }

  platform::FakeUsbPrinters tree_;
  std::string first_, other_, second_;
};

TEST_F(AttachedUsbPrintersTest, EveryPrinterThatOpensIsNamedAsTheServiceObjectNamesIt) {
  EXPECT_THAT(Attached(tree_), ElementsAre(UsbEntry{1, first_, "USB001:", "0381", "3A81", "QZ0001"},
                                           UsbEntry{1, other_, "USB002:", "2222", "1111", ""},
                                           UsbEntry{2, second_, "USB003:", "0381", "3A81", ""}));
  EXPECT_EQ(DescribeUsbEntry(Attached(tree_)[0]), "VID 3A81  PID 0381  Serial QZ0001");
  EXPECT_EQ(DescribeUsbEntry(Attached(tree_)[2]), "VID 3A81  PID 0381  Serial -");

  // One held by another program cannot be chosen: the names close up.
  platform::FaultInjectingUsbPrinters faulty(tree_);
  faulty.FailCall(platform::UsbCall::kOpen, 1, platform::FaultMode::kOnce);
  EXPECT_THAT(Attached(faulty), ElementsAre(UsbEntry{1, other_, "USB001:", "2222", "1111", ""},
                                            UsbEntry{1, second_, "USB002:", "0381", "3A81", ""}));

  faulty.FailCall(platform::UsbCall::kEnumerate, 1, platform::FaultMode::kOnce);
  EXPECT_THAT(Attached(faulty), ::testing::IsEmpty());
}

TEST_F(AttachedUsbPrintersTest, WhatTheDialogRecordsResolvesToTheChosenPrinter) {
  std::string name;
  ASSERT_TRUE(InstallModel(*reg_, "QZ381", &name).ok());
  CDeviceSettings dialog(*reg_, name, SettingsMode::kModify, ui_,
                         [this] { return Attached(tree_); });
  ASSERT_TRUE(dialog.Open());
  dialog.SelectInterface(Interface::kUsb);
  EXPECT_THAT(dialog.fields().ports, ElementsAre("USB001:", "USB003:"));
  dialog.ChoosePort(1);
  ASSERT_TRUE(dialog.Ok());
  EXPECT_EQ(DeviceText(name, "Port"), "USB003:");
  EXPECT_EQ(DeviceText(name, "UsbDeviceName"), second_);
  EXPECT_EQ(DeviceNumber(name, "UsbCount"), 2u);
  EXPECT_EQ(DeviceText(name, "Pid"), "0381");
  EXPECT_EQ(DeviceText(name, "Vid"), "3A81");

  auto resolve = [&] {
    usb::UsbDeviceList now;
    usb::EnumerateUsbDevices(tree_, now, false, *reg_);
    return usb::ResolveUsbDevice(now, DeviceText(name, "UsbDeviceName"),
                                 static_cast<int32_t>(DeviceNumber(name, "UsbCount")),
                                 DeviceText(name, "Pid"));
  };
  EXPECT_EQ(resolve(), second_);
  // Its path stays while it is attached, whatever happens to the others.
  ASSERT_TRUE(tree_.Unplug(platform::UsbInterfacePath(0x3A81, 0x0381, "QZ0001", "1-1")));
  EXPECT_EQ(resolve(), second_);
  // Moved to another socket (a new path), it is the only one of its product.
  ASSERT_TRUE(tree_.Unplug(platform::UsbInterfacePath(0x3A81, 0x0381, "", "1-3.4")));
  tree_.Plug({"", "", 0x3A81, 0x0381, ""}, "2-1");
  EXPECT_EQ(resolve(), Path(0x3A81, 0x0381, "", "2-1"));
}

}  // namespace
}  // namespace qz381::setup
