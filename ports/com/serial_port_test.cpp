// The serial port object over an in-memory line: settings as applied, reader
// cycles, the split into data and status, time-outs, and every wait ending on
// close.
#include "ports/com/serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/clock_fake.h"
#include "platform/serial_fake.h"
#include "platform/trace.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

DeviceOption Record(const char* name) {
  DeviceOption option = DefaultDeviceOption();
  EXPECT_TRUE(SetPortName(option, name));
  return option;
}

// Polls `ready` for up to two seconds: for things the reader thread does in
// its own time.
template <typename F>
bool Eventually(F ready) {
  const auto deadline = Clock::now() + milliseconds(2000);
  while (!ready()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override { line_ = fake_.AddLine("COM3"); }

  bool Open(SerialPort& port, const char* name = "COM3") {
    return port.SetDeviceOption(Record(name)) == 1 && port.OpenPort() == 1;
  }

  // Stopped: the pause after opening moves it on and costs no real time.
  platform::FakeClock clock_;
  platform::FakeSerialPorts fake_;
  platform::FaultInjectingSerialPorts faulty_{fake_};
  std::shared_ptr<platform::FakeSerialLine> line_;
};

TEST_F(SerialPortTest, AppliesTheRecordsLineSettingsWithHardwareFlowControl) {
  const struct {
    uint32_t baud, byteSize, stopBits, parity;
    platform::Parity expected;
  } cases[] = {
      {9600, 8, 0, 0, platform::Parity::kNone},
      {19200, 0x107, 2, 2, platform::Parity::kEven},  // only the low bytes count
      {38400, 8, 0x100, 0x201, platform::Parity::kOdd},
  };
  for (const auto& c : cases) {
    SerialPort port(fake_, clock_, 10000);
    DeviceOption option = Record("COM3");
    option.baudRate = c.baud;
    option.byteSize = c.byteSize;
    option.stopBits = c.stopBits;
    option.parity = c.parity;
    option.timeouts = {2, 0, 50, 10, 3000};
    ASSERT_EQ(port.SetDeviceOption(option), 1);
    ASSERT_EQ(port.OpenPort(), 1);
    const platform::SerialLineSettings line = line_->settings();
    EXPECT_EQ(line.baudRate, c.baud);
    EXPECT_EQ(line.byteSize, c.byteSize & 0xFF);
    EXPECT_EQ(static_cast<uint32_t>(line.stopBits), c.stopBits & 0xFF);
    EXPECT_EQ(line.parity, c.expected);
    EXPECT_TRUE(line.ctsFlow);
    EXPECT_TRUE(line.dsrFlow);
    EXPECT_EQ(line_->timeouts().writeTotalMultiplier, 10u);
    EXPECT_EQ(line_->timeouts().writeTotalConstant, 3000u);
  }
}

TEST_F(SerialPortTest, OpenIsIdempotentAndRetriesInFullAfterRefusedSettings) {
  SerialPort port(fake_, clock_, 10000);
  DeviceOption option = Record("COM3");
  option.byteSize = 9;
  ASSERT_EQ(port.SetDeviceOption(option), 1);
  EXPECT_EQ(port.OpenPort(), 0);
  EXPECT_FALSE(line_->IsOpen());  // refused settings close the device again

  option.byteSize = 8;
  ASSERT_EQ(port.SetDeviceOption(option), 1);
  EXPECT_EQ(port.OpenPort(), 1);
  EXPECT_EQ(port.OpenPort(), 1);  // already open: not opened twice (the fake would say busy)
}

TEST_F(SerialPortTest, RefusesWhatCannotBeOpenedAndKeepsTheLastName) {
  SerialPort port(fake_, clock_, 10000);
  EXPECT_EQ(port.OpenPort(), 0);  // no name yet
  EXPECT_EQ(port.SetDeviceOption(Record("COM9")), 1);
  EXPECT_EQ(port.OpenPort(), 0);  // no such line
  EXPECT_EQ(port.SetDeviceOption(Record("COM3")), 1);
  EXPECT_EQ(port.SetDeviceOption(DefaultDeviceOption()), 0);  // empty name keeps COM3
  SerialPort other(fake_, clock_, 10001);
  ASSERT_TRUE(Open(other));
  EXPECT_EQ(port.OpenPort(), 0);  // busy
  other.ClosePort();
  EXPECT_EQ(port.OpenPort(), 1);
}

// The pause after opening is there whatever came of the try; a port that never
// reached the device, or is open already, does not pause.
TEST_F(SerialPortTest, OpenPausesTwoHundredMillisecondsAfterEveryTryOfTheDevice) {
  SerialPort port(fake_, clock_, 10000);
  auto paused = [&](int32_t expected) {
    const uint64_t before = clock_.NowMs();
    EXPECT_EQ(port.OpenPort(), expected);
    return clock_.NowMs() - before;
  };
  EXPECT_EQ(paused(0), 0u);  // no name
  ASSERT_EQ(port.SetDeviceOption(Record("COM9")), 1);
  EXPECT_EQ(paused(0), 200u);  // no such line
  ASSERT_EQ(port.SetDeviceOption(Record("COM3")), 1);
  EXPECT_EQ(paused(1), 200u);
  EXPECT_EQ(paused(1), 0u);  // already open
}

TEST_F(SerialPortTest, SplitsDataFromStatusBlocksAndClearLeavesTheBlocks) {
  SerialPort port(fake_, clock_, 10000);
  ASSERT_TRUE(Open(port));
  line_->Send(Bytes{0x41, 0x10, 0x00, 0x00, 0x0F, 0x42, 0x35, 0x40, 0x40, 0x00, 0x43});
  ASSERT_TRUE(Eventually([&] { return port.GetInputBufferCount() == 3; }));

  uint8_t data[8] = {};
  EXPECT_EQ(port.Read(data, 2, 0), 2);
  EXPECT_EQ(Bytes(data, data + 2), (Bytes{0x41, 0x42}));
  port.Clear();
  EXPECT_EQ(port.GetInputBufferCount(), 0);

  uint8_t block[4] = {};
  ASSERT_EQ(port.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x10, 0x00, 0x00, 0x0F}));
  ASSERT_EQ(port.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x35, 0x40, 0x40, 0x00}));
  EXPECT_EQ(port.GetASBState(block), 0);
  EXPECT_EQ(port.GetASBState(nullptr), 0);
}

TEST_F(SerialPortTest, TakesAtMostOneHundredBytesPerReaderCycle) {
  SerialPort port(faulty_, clock_, 10000);
  ASSERT_TRUE(Open(port));
  const int reads_before = faulty_.Calls(platform::SerialCall::kRead);
  line_->Send(Bytes(150, 0x41));
  ASSERT_TRUE(Eventually([&] { return port.GetInputBufferCount() == 150; }));
  EXPECT_EQ(faulty_.Calls(platform::SerialCall::kRead) - reads_before, 2);
}

TEST_F(SerialPortTest, ReadAnswersWhatArrivedOrNothingAfterItsTimeOut) {
  SerialPort port(fake_, clock_, 10000);
  ASSERT_TRUE(Open(port));
  uint8_t buffer[4] = {};
  auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, 200), 0);
  EXPECT_GE(Clock::now() - start, milliseconds(200));

  line_->Send(Bytes{0x61, 0x62});
  ASSERT_TRUE(Eventually([&] { return port.GetInputBufferCount() == 2; }));
  EXPECT_EQ(port.Read(buffer, 4, 0), 2);  // takes what is there after the short grace

  std::thread later([&] {
    std::this_thread::sleep_for(milliseconds(50));
    line_->Send(Bytes{0x12});
  });
  start = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, 10000), 1);  // returns on arrival, not at the time-out
  EXPECT_LT(Clock::now() - start, milliseconds(5000));
  EXPECT_EQ(buffer[0], 0x12);
  later.join();

  EXPECT_EQ(port.Read(nullptr, 1, 0), 0);
  EXPECT_EQ(port.Read(buffer, 0, 0), 0);
  EXPECT_EQ(port.Read(buffer, -1, 0), 0);
}

TEST_F(SerialPortTest, PowerStateFollowsCtsAndALineThatCannotTellIsOffline) {
  SerialPort port(fake_, clock_, 10000);
  EXPECT_EQ(port.IsPowerState(), kPowerStateUnknown);
  line_->SetModemLines(platform::ModemLines{true, true, false, false});
  ASSERT_TRUE(Open(port));
  EXPECT_TRUE(Eventually([&] { return port.IsPowerState() == kPowerStateOnline; }));
  line_->SetModemLines(platform::ModemLines{false, true, false, false});
  EXPECT_TRUE(Eventually([&] { return port.IsPowerState() == kPowerStateOffline; }));
  line_->SetModemLines(platform::ModemLines{true, true, false, false});
  EXPECT_TRUE(Eventually([&] { return port.IsPowerState() == kPowerStateOnline; }));
  line_->SetModemLines(std::nullopt);
  EXPECT_TRUE(Eventually([&] { return port.IsPowerState() == kPowerStateOffline; }));
  port.ClosePort();
  EXPECT_EQ(port.IsPowerState(), kPowerStateOffline);  // keeps its last value
}

TEST_F(SerialPortTest, CloseWakesABlockedReadAndABlockedWrite) {
  SerialPort port(fake_, clock_, 10000);
  DeviceOption option = Record("COM3");
  option.timeouts = {0, 0, 0, 0, 0};  // writes without a limit
  ASSERT_EQ(port.SetDeviceOption(option), 1);
  ASSERT_EQ(port.OpenPort(), 1);
  line_->SetWriteCapacity(0);  // the other side takes nothing (CTS held low)

  auto read = std::async(std::launch::async, [&] {
    uint8_t byte;
    return port.Read(&byte, 1, 600000);
  });
  auto write = std::async(std::launch::async, [&] {
    const Bytes data(10, 0x20);
    return port.Write(data.data(), 10);
  });
  std::this_thread::sleep_for(milliseconds(100));
  port.ClosePort();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  ASSERT_EQ(write.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), 0);
  EXPECT_EQ(write.get(), 0);
  EXPECT_FALSE(line_->IsOpen());

  const uint8_t byte = 0;
  uint8_t out = 0;
  EXPECT_EQ(port.Write(&byte, 1), 0);
  EXPECT_EQ(port.Read(&out, 1, 0), 0);
  EXPECT_EQ(port.GetInputBufferCount(), 0);
}

TEST_F(SerialPortTest, ALineLostMidUseAnswersZeroWithATraceAndNoHang) {
  std::vector<std::string> traces;
  std::mutex traces_mutex;
  platform::SetTraceCapture([&](std::string_view line) {
    std::lock_guard hold(traces_mutex);
    traces.emplace_back(line);
  });
  SerialPort port(faulty_, clock_, 10000);
  ASSERT_TRUE(Open(port));
  const Bytes data{0x1B, 0x40};
  EXPECT_EQ(port.Write(data.data(), 2), 2);
  EXPECT_EQ(line_->TakeWritten(), data);
  EXPECT_EQ(port.Write(nullptr, 2), 0);
  EXPECT_EQ(port.Write(data.data(), 0), 0);

  faulty_.FailCall(platform::SerialCall::kWrite, 1, platform::FaultMode::kOnce);
  EXPECT_EQ(port.Write(data.data(), 2), 0);

  line_->HangUp();
  EXPECT_EQ(port.Write(data.data(), 2), 0);
  uint8_t byte;
  EXPECT_EQ(port.Read(&byte, 1, 150), 0);
  port.ClosePort();
  platform::SetTraceCapture(nullptr);
  std::lock_guard hold(traces_mutex);
  int write_traces = 0, line_traces = 0;
  for (const auto& t : traces) {
    write_traces += t.find("write of 2 bytes") != std::string::npos;
    line_traces += t.find("line failed") != std::string::npos;
  }
  EXPECT_EQ(write_traces, 2);
  EXPECT_EQ(line_traces, 1);  // said once, not every cycle
}

}  // namespace
}  // namespace qz381::ports
