#include "ports/usb/usb_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/msgwindow.h"
#include "platform/usb_fake.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::FakeSerialLine;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int32_t kOnline = kPowerStateOnline;
constexpr int32_t kOffline = kPowerStateOffline;

class UsbPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = printers_.Plug({"", "", 0x3A81, 0x0381, "QZ1"});
    path_ = printers_.LastPlugged().path;
  }
  void Configure(UsbPort& port, const std::string& path) {
    DeviceOption option = DefaultDeviceOption();
    ASSERT_TRUE(SetPortName(option, path));
    option.inputBufferSize = 256;
    EXPECT_EQ(port.SetDeviceOption(option), 1);
  }
  // Opens `port_` on the test's thread, which then owns its window.
  void Open() {
    Configure(port_, path_);
    ASSERT_EQ(port_.OpenPort(), 1);
  }
  // Runs the window's messages until the power state is `want`.
  bool PumpUntilPower(int32_t want) {
    const auto deadline = Clock::now() + milliseconds(3000);
    while (Clock::now() < deadline) {
      platform::WaitAndPumpMessages(20);
      if (port_.IsPowerState() == want) return true;
    }
    return false;
  }
  std::shared_ptr<FakeSerialLine> Replug() {
    line_ = printers_.Plug({"", "", 0x3A81, 0x0381, "QZ1"});
    return line_;
  }
  int32_t WriteText(UsbPort& port, const std::string& text) {
    return port.Write(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<int32_t>(text.size()));
  }

  platform::FakeUsbPrinters printers_;
  std::shared_ptr<FakeSerialLine> line_;
  std::string path_;
  UsbPort port_{printers_, 30000};
};

TEST_F(UsbPortTest, BeforeOpenTheBadCallsAnswerZeroAndTheStateIsOffline) {
  EXPECT_EQ(port_.IsPowerState(), kOffline);
  EXPECT_EQ(port_.presence(), kUsbNotPresent);
  EXPECT_EQ(port_.OpenPort(), 0);  // no path yet
  DeviceOption nameless = DefaultDeviceOption();
  EXPECT_EQ(port_.SetDeviceOption(nameless), 0);
  uint8_t byte = 0;
  EXPECT_EQ(port_.Write(&byte, 1), 0);
  EXPECT_EQ(port_.Read(&byte, 1, 0), 0);
  EXPECT_EQ(port_.GetASBState(&byte), 0);

  UsbPort absent(printers_, 30001);
  Configure(absent, path_ + "0");
  EXPECT_EQ(absent.OpenPort(), 0);
  EXPECT_EQ(absent.IsPowerState(), kOffline);
}

TEST_F(UsbPortTest, OpenCarriesBytesAndSplitsStatusBlocksFromData) {
  Open();
  EXPECT_EQ(port_.IsPowerState(), kOnline);
  EXPECT_EQ(port_.OpenPort(), 1);  // a second open changes nothing
  EXPECT_EQ(WriteText(port_, "\x1B@AB"), 4);
  EXPECT_EQ(line_->TakeWritten(), (Bytes{0x1B, 0x40, 0x41, 0x42}));

  line_->Send(Bytes{0x14, 0x00, 0x00, 0x0F, 0x37});
  uint8_t got[4] = {};
  EXPECT_EQ(port_.Read(got, 1, 3000), 1);  // at once once the byte is in
  EXPECT_EQ(got[0], 0x37);
  // The limit is far longer than the test: only the block's arrival ends it.
  ASSERT_EQ(port_.WaitASBState(600000), 1);
  ASSERT_EQ(port_.GetASBState(got), 1);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{0x14, 0x00, 0x00, 0x0F}));
  EXPECT_EQ(port_.WaitASBState(0), 0);
  const auto asked = Clock::now();
  EXPECT_EQ(port_.Read(got, 1, 50), 0);  // nothing buffered: the time-out, then 0
  EXPECT_GE(Clock::now() - asked, milliseconds(45));
  EXPECT_EQ(port_.GetInputBufferCount(), 0);

  port_.ClosePort();
  EXPECT_EQ(WriteText(port_, "A"), 0);
  EXPECT_EQ(port_.WaitASBState(600000), kWaitUnavailable);  // at once: nothing can come
  EXPECT_EQ(port_.Read(got, 1, 10), 0);
  EXPECT_EQ(port_.GetInputBufferCount(), 0);
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_EQ(port_.IsPowerState(), kOnline);  // presence keeps its value
}

TEST_F(UsbPortTest, APrinterHeldElsewhereDoesNotOpenUntilItIsLetGo) {
  Open();
  UsbPort second(printers_, 30004);
  Configure(second, path_);
  EXPECT_EQ(second.OpenPort(), 0);
  EXPECT_EQ(second.IsPowerState(), kOffline);
  EXPECT_EQ(WriteText(second, "x"), 0);
  port_.ClosePort();
  EXPECT_EQ(second.OpenPort(), 1);
  EXPECT_EQ(WriteText(second, "x"), 1);
  EXPECT_EQ(line_->TakeWritten(), Bytes{'x'});
}

TEST_F(UsbPortTest, UnplugAndReplugTurnThePowerStateByThemselves) {
  Open();
  printers_.Unplug(path_);
  ASSERT_TRUE(PumpUntilPower(kOffline));
  EXPECT_EQ(port_.presence(), kUsbRemoved);
  EXPECT_EQ(WriteText(port_, "lost"), 0);

  Replug();
  ASSERT_TRUE(PumpUntilPower(kOnline));
  EXPECT_EQ(WriteText(port_, "back"), 4);
  EXPECT_EQ(line_->TakeWritten(), (Bytes{'b', 'a', 'c', 'k'}));
}

TEST_F(UsbPortTest, ARemovalOfAnotherPrinterLeavesThePortOnline) {
  Open();
  auto other = printers_.Plug({"", "", 0x3A81, 0x0381, "QZ2"}, "1-2");
  const std::string other_path = printers_.LastPlugged().path;
  // A second printer that once carried the same path (one serial number for
  // two printers) leaves under another node.
  printers_.Plug({path_, "/dev/usb/lp9", 0x3A81, 0x0381, "QZ1"});
  printers_.Unplug(other_path);
  printers_.Unplug(path_);
  for (int i = 0; i < 10; ++i) platform::WaitAndPumpMessages(10);
  EXPECT_EQ(port_.IsPowerState(), kOnline);
  EXPECT_EQ(WriteText(port_, "still"), 5);
  EXPECT_EQ(line_->TakeWritten(), (Bytes{'s', 't', 'i', 'l', 'l'}));
}

TEST_F(UsbPortTest, AWriteThatFindsThePrinterGoneReattachesWhenItIsBack) {
  Open();
  // No message is pumped: the write is the first to notice.
  printers_.Unplug(path_);
  EXPECT_EQ(WriteText(port_, "lost"), 0);
  // Not back: the port waits as after a removal, so an arrival can revive it.
  EXPECT_EQ(port_.presence(), kUsbRemoved);
  EXPECT_EQ(port_.IsPowerState(), kOffline);

  Replug();
  EXPECT_EQ(WriteText(port_, "again"), 0);  // reattaches, still answers 0
  EXPECT_EQ(port_.IsPowerState(), kOnline);
  EXPECT_EQ(WriteText(port_, "ok"), 2);
  EXPECT_EQ(line_->TakeWritten(), (Bytes{'o', 'k'}));
}

// Printers whose driver never finishes a write: each write waits for nothing,
// notes the time limit it was given and answers that the time ran out.
class StalledPrinters final : public platform::UsbPrinters {
 public:
  explicit StalledPrinters(platform::UsbPrinters& inner) : inner_(inner) {}
  platform::Status Enumerate(std::vector<platform::UsbPrinterInfo>* out) override {
    return inner_.Enumerate(out);
  }
  std::unique_ptr<platform::UsbDevice> Open(std::string_view path,
                                            platform::Status* status) override {
    auto device = inner_.Open(path, status);
    if (!device) return nullptr;
    ++opens_;
    return std::make_unique<Device>(std::move(device), limits_);
  }
  std::unique_ptr<platform::UsbWatch> Watch(std::function<void()> changed,
                                            platform::Status* status) override {
    return inner_.Watch(std::move(changed), status);
  }
  std::vector<uint32_t> limits() const { return *limits_; }
  int opens() const { return opens_; }

 private:
  class Device final : public platform::UsbDevice {
   public:
    Device(std::unique_ptr<platform::UsbDevice> inner,
           std::shared_ptr<std::vector<uint32_t>> limits)
        : inner_(std::move(inner)), limits_(std::move(limits)) {}
    platform::Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
      return inner_->Read(buffer, timeout_ms, got);
    }
    platform::Status Write(std::span<const uint8_t>, uint32_t timeout_ms,
                           size_t* written) override {
      limits_->push_back(timeout_ms);
      *written = 0;
      return platform::Status::Fail(platform::Outcome::kTimedOut, "stalled");
    }
    void Interrupt() override { inner_->Interrupt(); }
    const std::string& path() const override { return inner_->path(); }
    const std::string& node() const override { return inner_->node(); }

   private:
    std::unique_ptr<platform::UsbDevice> inner_;
    std::shared_ptr<std::vector<uint32_t>> limits_;
  };

  platform::UsbPrinters& inner_;
  std::shared_ptr<std::vector<uint32_t>> limits_ = std::make_shared<std::vector<uint32_t>>();
  int opens_ = 0;
};

TEST_F(UsbPortTest, AWriteTheDriverDoesNotFinishIsAbandonedAtItsLimit) {
  StalledPrinters stalled(printers_);
  UsbPort port(stalled, 30002);
  Configure(port, path_);
  ASSERT_EQ(port.OpenPort(), 1);
  EXPECT_EQ(WriteText(port, "0123456789"), 0);
  EXPECT_EQ(WriteText(port, std::string(100, 'x')), 0);
  // 50 ms a byte and 5000 ms more.
  EXPECT_EQ(stalled.limits(), (std::vector<uint32_t>{5500, 10000}));
  // The port stays as it was: on-line, and the printer is not opened again.
  EXPECT_EQ(port.IsPowerState(), kOnline);
  EXPECT_EQ(stalled.opens(), 1);
}

TEST_F(UsbPortTest, AStormOfChangesEndsOnlineWithTheLastPrinter) {
  Open();
  for (int i = 0; i < 300; ++i) {
    printers_.Unplug(path_);
    Replug();
  }
  ASSERT_TRUE(PumpUntilPower(kOnline));
  for (int i = 0; i < 10; ++i) platform::PumpMessages();
  EXPECT_EQ(WriteText(port_, "x"), 1);
  EXPECT_EQ(line_->TakeWritten(), Bytes{'x'});
  port_.ClosePort();  // a hang here is the failure
}

TEST_F(UsbPortTest, AWatchThatCannotStartFailsTheOpenAndReleasesTheDevice) {
  platform::FaultInjectingUsbPrinters faulty(printers_);
  UsbPort port(faulty, 30003);
  Configure(port, path_);
  faulty.FailCall(platform::UsbCall::kWatch, 1, platform::FaultMode::kOnce);
  EXPECT_EQ(port.OpenPort(), 0);
  EXPECT_FALSE(line_->IsOpen());
  EXPECT_EQ(port.OpenPort(), 1);
}

}  // namespace
}  // namespace qz381::ports
