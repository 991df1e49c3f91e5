// One suite for every SerialDevice: what the port modules may rely on, run
// against the in-memory line and against a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/serial_fake.h"

namespace qz381::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The far end of the line, played by the test.
class Peer {
 public:
  virtual ~Peer() = default;
  virtual SerialPorts& ports() = 0;
  virtual void Send(const Bytes& bytes) = 0;
  // Up to `count` bytes that the device wrote, waiting up to 2 s for them.
  virtual Bytes Receive(size_t count) = 0;
  virtual void HangUp() = 0;
  virtual bool HasModemLines() const = 0;
};

class FakePeer final : public Peer {
 public:
  FakePeer() : line_(ports_.AddLine("COM7")) { line_->SetWriteCapacity(64 * 1024); }
  SerialPorts& ports() override { return ports_; }
  void Send(const Bytes& bytes) override { line_->Send(bytes); }
  Bytes Receive(size_t count) override {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      line_->WaitWritten(1, 50);
      Bytes more = line_->TakeWritten();
      out.insert(out.end(), more.begin(), more.end());
    }
    return out;
  }
  void HangUp() override { line_->HangUp(); }
  bool HasModemLines() const override { return true; }

 private:
  FakeSerialPorts ports_;
  std::shared_ptr<FakeSerialLine> line_;
};

// A pseudo-terminal whose slave is registered as COM7, as the virtual printer
// registers its own.
class PtyPeer final : public Peer {
 public:
  PtyPeer() : registry_(NewMemoryRegistry()), ports_(NewSystemSerialPorts(*registry_)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    const char* slave = ::ptsname(master_);
    EXPECT_NE(slave, nullptr);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    EXPECT_TRUE(registry_
                    ->SetValue(Hive::kLocalMachine, kSerialCommKey, slave ? slave : "",
                               RegValue::Text("COM7"))
                    .ok());
  }
  ~PtyPeer() override { HangUp(); }
  SerialPorts& ports() override { return *ports_; }
  void Send(const Bytes& bytes) override {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) sent += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) FAIL() << "pty write failed";
      if (n <= 0) std::this_thread::sleep_for(milliseconds(1));
    }
  }
  Bytes Receive(size_t count) override {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      uint8_t chunk[4096];
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - out.size()));
      if (n > 0) out.insert(out.end(), chunk, chunk + n);
    }
    return out;
  }
  void HangUp() override {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  bool HasModemLines() const override { return false; }

 private:
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<SerialPorts> ports_;
  int master_ = -1;
};

struct Backend {
  const char* name;
  std::function<std::unique_ptr<Peer>()> make;
};

class SerialContractTest : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    peer_ = GetParam().make();
    Status status;
    device_ = peer_->ports().Open("\\\\.\\COM7", &status);
    ASSERT_TRUE(device_) << status.ToString();
    ASSERT_TRUE(device_->Configure(SerialLineSettings{}).ok());
  }

  Bytes ReadExactly(size_t count) {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      uint8_t chunk[512];
      size_t got = 0;
      EXPECT_TRUE(
          device_->Read({chunk, std::min(sizeof chunk, count - out.size())}, 100, &got).ok());
      out.insert(out.end(), chunk, chunk + got);
    }
    return out;
  }

  std::unique_ptr<Peer> peer_;
  std::unique_ptr<SerialDevice> device_;
};

TEST_P(SerialContractTest, CarriesEveryByteValueBothWaysUnchanged) {
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);  // includes CR, LF, XON, XOFF, DEL, NUL
  size_t written = 0;
  ASSERT_TRUE(device_->Write(all, &written).ok());
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(peer_->Receive(all.size()), all);

  peer_->Send(all);
  EXPECT_EQ(ReadExactly(all.size()), all);
}

TEST_P(SerialContractTest, WaitsForInputUntilItArrivesOrTheTimeOut) {
  uint8_t byte = 0;
  size_t got = 1;
  const auto start = Clock::now();
  ASSERT_TRUE(device_->Read({&byte, 1}, 150, &got).ok());
  EXPECT_EQ(got, 0u);
  EXPECT_GE(Clock::now() - start, milliseconds(120));
  EXPECT_EQ(device_->WaitInput(0), SerialWait::kTimedOut);

  std::thread sender([&] {
    std::this_thread::sleep_for(milliseconds(50));
    peer_->Send({0x35});
  });
  EXPECT_EQ(device_->WaitInput(5000), SerialWait::kReady);
  sender.join();
  size_t waiting = 0;
  ASSERT_TRUE(device_->InputWaiting(&waiting).ok());
  EXPECT_EQ(waiting, 1u);
  ASSERT_TRUE(device_->Read({&byte, 1}, 0, &got).ok());
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(byte, 0x35);
}

TEST_P(SerialContractTest, PurgeDiscardsWhatWaits) {
  peer_->Send({1, 2, 3, 4, 5});
  ASSERT_EQ(device_->WaitInput(2000), SerialWait::kReady);
  size_t waiting = 0;
  for (int i = 0; i < 100 && waiting < 5; ++i) {
    ASSERT_TRUE(device_->InputWaiting(&waiting).ok());
    if (waiting < 5) std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(waiting, 5u);
  ASSERT_TRUE(device_->Purge(kPurgeInput | kPurgeOutput).ok());
  ASSERT_TRUE(device_->InputWaiting(&waiting).ok());
  EXPECT_EQ(waiting, 0u);
}

TEST_P(SerialContractTest, InterruptWakesABlockedReadAndEveryLaterWait) {
  Status status;
  size_t got = 1;
  std::thread reader([&] {
    uint8_t byte;
    status = device_->Read({&byte, 1}, 0xFFFFFFFFu, &got);
  });
  std::this_thread::sleep_for(milliseconds(50));
  device_->Interrupt();
  reader.join();
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(device_->Interrupted());
  EXPECT_EQ(device_->WaitInput(5000), SerialWait::kInterrupted);
  size_t written = 1;
  const uint8_t byte = 0;
  EXPECT_FALSE(device_->Write({&byte, 1}, &written).ok());
  EXPECT_EQ(written, 0u);
}

TEST_P(SerialContractTest, WriteEndsAtItsTimeOutWhenTheOtherSideTakesNothing) {
  ASSERT_TRUE(device_->SetTimeouts({0, 0, 0, 0, 200}).ok());
  const Bytes lots(1 << 20, 0x41);
  size_t written = 0;
  const auto start = Clock::now();
  const Status status = device_->Write(lots, &written);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut) << status.ToString();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, lots.size());
  EXPECT_GE(Clock::now() - start, milliseconds(150));
  EXPECT_LT(Clock::now() - start, milliseconds(5000));
}

TEST_P(SerialContractTest, HangUpFailsWaitsAndWritesInsteadOfBlocking) {
  ASSERT_TRUE(device_->SetTimeouts({0, 0, 0, 0, 0}).ok());  // no write limit at all
  peer_->HangUp();
  EXPECT_EQ(device_->WaitInput(0xFFFFFFFFu), SerialWait::kFailed);
  uint8_t byte = 0x1B;
  size_t got = 0;
  EXPECT_FALSE(device_->Read({&byte, 1}, 0xFFFFFFFFu, &got).ok());
  size_t written = 0;
  EXPECT_FALSE(device_->Write({&byte, 1}, &written).ok());
}

TEST_P(SerialContractTest, RefusesUnusableSettingsAndKeepsWorking) {
  SerialLineSettings settings;
  settings.byteSize = 9;
  EXPECT_EQ(device_->Configure(settings).outcome(), Outcome::kInvalidArgument);
  settings = {};
  settings.baudRate = 0;
  EXPECT_EQ(device_->Configure(settings).outcome(), Outcome::kInvalidArgument);
  settings = {};
  settings.parity = static_cast<Parity>(7);
  EXPECT_EQ(device_->Configure(settings).outcome(), Outcome::kInvalidArgument);

  settings = {19200, 7, StopBits::kTwo, Parity::kEven, true, true};
  ASSERT_TRUE(device_->Configure(settings).ok());
  ASSERT_TRUE(device_->Configure({9600, 8, StopBits::kOne, Parity::kNone, true, true}).ok());
  const Bytes command = {0x10, 0x04, 0x03};
  size_t written = 0;
  ASSERT_TRUE(device_->Write(command, &written).ok());
  EXPECT_EQ(peer_->Receive(3), command);
}

TEST_P(SerialContractTest, ModemLinesAreReportedOrPlainlyUnavailable) {
  ModemLines lines;
  const Status status = device_->GetModemLines(&lines);
  if (peer_->HasModemLines()) {
    EXPECT_TRUE(status.ok()) << status.ToString();
  } else {
    EXPECT_EQ(status.outcome(), Outcome::kUnsupported) << status.ToString();
  }
}

TEST_P(SerialContractTest, OneHolderAtATimeAndUnknownNamesAreNotFound) {
  Status status;
  EXPECT_EQ(peer_->ports().Open("com7", &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kBusy) << status.ToString();
  device_.reset();
  auto again = peer_->ports().Open("COM7", &status);
  EXPECT_NE(again, nullptr) << status.ToString();

  EXPECT_EQ(peer_->ports().Open("COM250", &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kNotFound) << status.ToString();
  EXPECT_EQ(peer_->ports().Open("", &status), nullptr);
  EXPECT_FALSE(status.ok());
}

INSTANTIATE_TEST_SUITE_P(
    Backends, SerialContractTest,
    testing::Values(Backend{"Fake", [] { return std::unique_ptr<Peer>(new FakePeer); }},
                    Backend{"Pty", [] { return std::unique_ptr<Peer>(new PtyPeer); }}),
    [](const testing::TestParamInfo<Backend>& info) { return info.param.name; });

}  // namespace
}  // namespace qz381::platform
