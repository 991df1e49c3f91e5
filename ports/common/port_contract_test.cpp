#include "ports/common/port_contract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qz381::ports {
namespace {

TEST(DeviceOption, PortNameRoundTripsAndRefusesWhatDoesNotFit) {
  DeviceOption option = DefaultDeviceOption();
  EXPECT_EQ(PortNameOf(option), "");
  ASSERT_TRUE(SetPortName(option, "COM12"));
  EXPECT_EQ(PortNameOf(option), "COM12");

  const std::string longest(kPortNameCapacity - 1, '\\');
  ASSERT_TRUE(SetPortName(option, longest));
  EXPECT_EQ(PortNameOf(option), longest);
  EXPECT_FALSE(SetPortName(option, longest + "x"));
  EXPECT_EQ(PortNameOf(option), longest);  // unchanged, not cut
  EXPECT_FALSE(SetPortName(option, std::string("COM1\0x", 6)));

  ASSERT_TRUE(SetPortName(option, "COM3"));  // shorter name leaves no tail behind
  EXPECT_EQ(PortNameOf(option), "COM3");
}

TEST(DeviceOption, UnterminatedNameReadsAsEmpty) {
  DeviceOption option = DefaultDeviceOption();
  std::memset(option.portName, 'C', sizeof option.portName);
  EXPECT_EQ(PortNameOf(option), "");
}

TEST(DeviceOption, DefaultsAreTheSerialDefaults) {
  const DeviceOption option = DefaultDeviceOption();
  EXPECT_EQ(option.baudRate, 9600u);
  EXPECT_EQ(option.byteSize, 8u);
  EXPECT_EQ(option.timeouts.readIntervalTimeout, 2u);
  EXPECT_EQ(option.timeouts.readTotalTimeoutConstant, 50u);
  EXPECT_EQ(option.timeouts.writeTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(option.timeouts.writeTotalTimeoutConstant, 3000u);
  EXPECT_EQ(option.inputBufferSize, 8192u);
}

TEST(PortIdAllocator, RangesNeverMeet) {
  PortIdAllocator com(kComPortIdBase, kComPortIdLimit);
  EXPECT_EQ(com.Next(), 10000);
  EXPECT_EQ(com.Next(), 10001);
  PortIdAllocator nearly_used(kComPortIdLimit - 1, kComPortIdLimit);
  EXPECT_EQ(nearly_used.Next(), 29999);
  EXPECT_EQ(nearly_used.Next(), std::nullopt);
  EXPECT_EQ(nearly_used.Next(), std::nullopt);
  PortIdAllocator usb(kUsbPortIdBase, kUsbPortIdLimit);
  EXPECT_EQ(usb.Next(), 30000);
}

}  // namespace
}  // namespace qz381::ports
