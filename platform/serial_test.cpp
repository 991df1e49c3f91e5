// Port-name mapping and the fault-injecting wrapper.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/serial_fake.h"

namespace qz381::platform {
namespace {

TEST(SerialNames, MapThroughSerialCommWithoutCaseThenFallBackToTheOnBoardUarts) {
  auto registry = NewMemoryRegistry();
  ASSERT_TRUE(
      registry
          ->SetValue(Hive::kLocalMachine, kSerialCommKey, "/dev/ttyUSB0", RegValue::Text("COM3"))
          .ok());
  ASSERT_TRUE(
      registry->SetValue(Hive::kLocalMachine, kSerialCommKey, "/dev/pts/9", RegValue::Text("com1"))
          .ok());
  ASSERT_TRUE(
      registry->SetValue(Hive::kLocalMachine, kSerialCommKey, "/dev/ttyX", RegValue::Dword(4))
          .ok());

  const struct {
    const char* name;
    const char* node;  // nullptr: not found
  } cases[] = {
      {"COM3", "/dev/ttyUSB0"}, {"\\\\.\\com3", "/dev/ttyUSB0"},
      {"COM1", "/dev/pts/9"},   {"\\\\.\\COM12", "/dev/ttyS11"},
      {"COM2", "/dev/ttyS1"},   {"com4", "/dev/ttyS3"},
      {"COM0", nullptr},        {"COM", nullptr},
      {"COM1x", nullptr},       {"COM-1", nullptr},
      {"COM+2", nullptr},       {"LPT1", nullptr},
      {"\\\\.\\", nullptr},     {"COM99999999999", nullptr},
  };
  for (const auto& c : cases) {
    std::string node = "unchanged";
    const Status status = ResolveSerialDeviceNode(*registry, c.name, &node);
    if (c.node) {
      EXPECT_TRUE(status.ok()) << c.name << ": " << status.ToString();
      EXPECT_EQ(node, c.node) << c.name;
    } else {
      EXPECT_FALSE(status.ok()) << c.name << " -> " << node;
      EXPECT_EQ(node, "unchanged") << c.name;
    }
  }
}

class FaultInjection : public testing::Test {
 protected:
  FaultInjection() : line_(fake_.AddLine("COM1")), ports_(fake_) {}
  Status WriteOne(SerialDevice& device) {
    const uint8_t byte = 0x55;
    size_t written = 0;
    return device.Write({&byte, 1}, &written);
  }
  FakeSerialPorts fake_;
  std::shared_ptr<FakeSerialLine> line_;
  FaultInjectingSerialPorts ports_;
};

TEST_F(FaultInjection, FailsTheNthCallOnceOrFromThenOn) {
  Status status;
  auto device = ports_.Open("COM1", &status);
  ASSERT_TRUE(device);

  ports_.FailCall(SerialCall::kWrite, 2, FaultMode::kOnce);
  EXPECT_TRUE(WriteOne(*device).ok());
  EXPECT_EQ(WriteOne(*device).outcome(), Outcome::kIoError);
  EXPECT_TRUE(WriteOne(*device).ok());
  EXPECT_EQ(line_->TakeWritten().size(), 2u);  // the failed write sent nothing

  ports_.FailCall(SerialCall::kWrite, 1, FaultMode::kFromThenOn, Outcome::kTimedOut);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WriteOne(*device).outcome(), Outcome::kTimedOut);
  ports_.ClearFaults();
  EXPECT_TRUE(WriteOne(*device).ok());
  EXPECT_EQ(ports_.Calls(SerialCall::kWrite), 7);

  ports_.FailCall(SerialCall::kWaitInput, 1, FaultMode::kOnce);
  line_->Send(std::vector<uint8_t>{1});
  EXPECT_EQ(device->WaitInput(100), SerialWait::kFailed);
  EXPECT_EQ(device->WaitInput(100), SerialWait::kReady);
}

TEST_F(FaultInjection, AFailedOpenHoldsNothing) {
  ports_.FailCall(SerialCall::kOpen, 1, FaultMode::kOnce, Outcome::kBusy);
  Status status;
  EXPECT_EQ(ports_.Open("COM1", &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kBusy);
  EXPECT_FALSE(line_->IsOpen());
  auto device = ports_.Open("COM1", &status);
  EXPECT_TRUE(device) << status.ToString();
  EXPECT_TRUE(line_->IsOpen());
}

}  // namespace
}  // namespace qz381::platform
