// Vexlink as the service object loads it: com found through "comdir" in a
// registry file, no usb module at all, two pseudo-terminal printers driven from
// two threads at once, and one of them not taking what it is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/trace.h"
#include "ports/common/port_contract.h"
#include "tests/support/pty_peer.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
namespace mf = managing_form;

// The printer's side of one pseudo-terminal: answers every 10 04 03 with its
// own status byte and keeps everything else it receives. Stopped, it reads
// nothing, so a write to it stalls once the line's queue is full.
class PtyPrinter {
 public:
  PtyPrinter(uint8_t answer) : answer_(answer) {
    EXPECT_TRUE(peer_.ok());
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyPrinter() {
    stop_ = true;
    thread_.join();
  }
  const std::string& slave() const { return peer_.slave_path(); }
  size_t requests() const { return requests_; }
  size_t stray_bytes() const { return stray_; }
  void Stop() { reading_ = false; }

 private:
  void Serve() {
    Bytes pending;
    while (!stop_) {
      uint8_t chunk[256];
      if (!reading_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      const size_t n = peer_.Read(chunk, sizeof chunk, 20);
      if (n == 0) continue;
      pending.insert(pending.end(), chunk, chunk + n);
      while (pending.size() >= 3) {
        if (pending[0] == 0x10 && pending[1] == 0x04 && pending[2] == 0x03) {
          ++requests_;
          pending.erase(pending.begin(), pending.begin() + 3);
          EXPECT_TRUE(peer_.Write(&answer_, 1));
        } else {
          ++stray_;
          pending.erase(pending.begin());
        }
      }
    }
  }

  const uint8_t answer_;
  qz381::test_equipment::PtyPeer peer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> reading_{true};
  std::atomic<size_t> requests_{0};
  std::atomic<size_t> stray_{0};
};

class VexlinkModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("qz381-vexlink-test-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".reg");
    auto registry = platform::OpenRegistryFile(path_.string());
    const char* key = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";
    ASSERT_TRUE(registry
                    ->SetValue(platform::Hive::kLocalMachine, key, "comdir",
                               platform::RegValue::Text(QZ381_COM_MODULE))
                    .ok());
    ASSERT_TRUE(registry
                    ->SetValue(platform::Hive::kLocalMachine, platform::kSerialCommKey, a_.slave(),
                               platform::RegValue::Text("COM51"))
                    .ok());
    ASSERT_TRUE(registry
                    ->SetValue(platform::Hive::kLocalMachine, platform::kSerialCommKey, b_.slave(),
                               platform::RegValue::Text("COM52"))
                    .ok());
    qz381::test_equipment::SetEnvironment("QZ381_REGISTRY", path_.string());
    platform::Status status;
    library_ = platform::DynamicLibrary::Load(QZ381_VEXLINK_MODULE, &status);
    ASSERT_NE(library_, nullptr) << status.ToString();
  }
  void TearDown() override {
    library_.reset();  // frees com with it
    std::filesystem::remove(path_);
  }
  // Loads Vexlink afresh with `module` as the serial module.
  void ReloadWithSerialModule(const char* module) {
    library_.reset();
    auto registry = platform::OpenRegistryFile(path_.string());
    ASSERT_TRUE(registry
                    ->SetValue(platform::Hive::kLocalMachine,
                               "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS", "comdir",
                               platform::RegValue::Text(module))
                    .ok());
    platform::Status status;
    library_ = platform::DynamicLibrary::Load(QZ381_VEXLINK_MODULE, &status);
    ASSERT_NE(library_, nullptr) << status.ToString();
  }
  template <typename Fn>
  Fn Bind(const char* name) {
    void* symbol = library_->Symbol(name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Fn>(symbol);
  }
  int32_t OpenPrinterPort(const char* device, const char* port,
                          DeviceOption option = DefaultDeviceOption()) {
    const int32_t id = Bind<mf::CreatePortFn>("CreatePort")(device, port, 1);
    EXPECT_TRUE(SetPortName(option, port));
    EXPECT_EQ(Bind<mf::SetDeviceOptionFn>("SetDeviceOption")(option, id), 1);
    EXPECT_NE(Bind<mf::OpenPortFn>("OpenPort")(id), 0);
    return id;
  }

  PtyPrinter a_{0x12};
  PtyPrinter b_{0x16};
  std::filesystem::path path_;
  std::unique_ptr<platform::DynamicLibrary> library_;
};

TEST_F(VexlinkModuleTest, LoadsComFromTheRegistryAndServesSerialPortsWithoutUsbOrNet) {
  auto create = Bind<mf::CreatePortFn>("CreatePort");
  EXPECT_EQ(create("POS1", "\\\\?\\usb#vid_0dd4", 1), 0);  // no usbdir: refused, nothing else
  EXPECT_EQ(create("POS1", "127.0.0.1", 1), 0);            // no netdir: refused, as without usbdir
  EXPECT_EQ(create("POS1", "LPT1", 1), 0);
  const int32_t id = OpenPrinterPort("POS1", "COM51");
  ASSERT_GE(id, kComPortIdBase);
  ASSERT_LT(id, kComPortIdLimit);
  const Bytes request = {0x10, 0x04, 0x03};
  auto write = Bind<mf::WriteFn>("Write");
  auto read = Bind<mf::ReadFn>("Read");
  EXPECT_EQ(write(request.data(), 3, id), 3);
  uint8_t reply = 0;
  EXPECT_EQ(read(&reply, 1, 2000, id), 1);
  EXPECT_EQ(reply, 0x12);
  EXPECT_EQ(Bind<mf::IsPowerStateFn>("IsPowerState")(id), kPowerStateOffline);
  Bind<mf::ClosePortFn>("ClosePort")(id);
  EXPECT_EQ(write(request.data(), 3, id), 0);
  auto remove = Bind<mf::RemovePortFn>("RemovePort");
  EXPECT_EQ(remove(1, id), 1);
  EXPECT_EQ(remove(1, id), 0);
}

TEST_F(VexlinkModuleTest, TwoPortsDrivenFromTwoThreadsEachGetTheirOwnAnswers) {
  const int32_t first = OpenPrinterPort("POS1", "COM51");
  const int32_t second = OpenPrinterPort("POS2", "COM52");
  auto clear = Bind<mf::ClearFn>("Clear");
  auto write = Bind<mf::WriteFn>("Write");
  auto read = Bind<mf::ReadFn>("Read");
  auto status = Bind<mf::GetASBStateFn>("GetASBState");
  constexpr int kRounds = 40;
  auto drive = [&](int32_t id, uint8_t expected, int* right) {
    const Bytes request = {0x10, 0x04, 0x03};
    for (int i = 0; i < kRounds; ++i) {
      clear(id);
      if (write(request.data(), 3, id) != 3) continue;
      uint8_t reply = 0;
      if (read(&reply, 1, 2000, id) == 1 && reply == expected) ++*right;
      uint8_t block[4];
      status(block, id);  // as the status thread polls in between
    }
  };
  int right_a = 0, right_b = 0;
  std::thread one(drive, first, 0x12, &right_a);
  std::thread two(drive, second, 0x16, &right_b);
  one.join();
  two.join();
  EXPECT_EQ(right_a, kRounds);
  EXPECT_EQ(right_b, kRounds);
  EXPECT_EQ(a_.requests(), size_t{kRounds});
  EXPECT_EQ(b_.requests(), size_t{kRounds});
  EXPECT_EQ(a_.stray_bytes() + b_.stray_bytes(), 0u);
  auto remove = Bind<mf::RemovePortFn>("RemovePort");
  EXPECT_EQ(remove(1, first), 1);
  EXPECT_EQ(remove(1, second), 1);
}

// A printer that takes nothing holds a write back; meanwhile the other port
// does a whole exchange, this port answers its status polls, and ClosePort
// ends the write. Checked by order: every call returns while the write is
// still held, and the write ends long before its own time-out. The times are
// printed, not asserted.
TEST_F(VexlinkModuleTest, AStalledWriteHoldsUpNeitherTheOtherPortNorStatusAndCloseEndsIt) {
  using std::chrono::milliseconds;
  using Clock = std::chrono::steady_clock;
  constexpr uint32_t kWriteLimitMs = 20000;
  DeviceOption option = DefaultDeviceOption();
  option.timeouts.writeTotalTimeoutMultiplier = 0;
  option.timeouts.writeTotalTimeoutConstant = kWriteLimitMs;
  const int32_t stalled = OpenPrinterPort("POS1", "COM51", option);
  const int32_t other = OpenPrinterPort("POS2", "COM52");
  auto write = Bind<mf::WriteFn>("Write");
  auto read = Bind<mf::ReadFn>("Read");
  a_.Stop();
  const Bytes flood(1 << 20, 0x41);
  const auto write_start = Clock::now();
  auto held = std::async(std::launch::async, [&] {
    return write(flood.data(), static_cast<int32_t>(flood.size()), stalled);
  });
  ASSERT_EQ(held.wait_for(milliseconds(300)), std::future_status::timeout);

  std::vector<std::pair<const char*, double>> took;
  auto timed = [&](const char* what, auto call) {
    const auto start = Clock::now();
    call();
    took.emplace_back(what,
                      std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  };
  timed("GetInputBufferCount(other)",
        [&] { EXPECT_EQ(Bind<mf::GetInputBufferCountFn>("GetInputBufferCount")(other), 0); });
  timed("GetASBState(stalled)", [&] {
    uint8_t block[4];
    Bind<mf::GetASBStateFn>("GetASBState")(block, stalled);
  });
  timed("IsPowerState(stalled)",
        [&] { EXPECT_EQ(Bind<mf::IsPowerStateFn>("IsPowerState")(stalled), kPowerStateOffline); });
  timed("Write+Read(other)", [&] {
    const Bytes request = {0x10, 0x04, 0x03};
    EXPECT_EQ(write(request.data(), 3, other), 3);
    uint8_t reply = 0;
    EXPECT_EQ(read(&reply, 1, 2000, other), 1);
    EXPECT_EQ(reply, 0x16);
  });
  EXPECT_EQ(held.wait_for(milliseconds(0)), std::future_status::timeout)
      << "the calls above waited for the stalled write";

  timed("ClosePort(stalled), until the write returned", [&] {
    Bind<mf::ClosePortFn>("ClosePort")(stalled);
    ASSERT_EQ(held.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  });
  EXPECT_LT(held.get(), static_cast<int32_t>(flood.size()));
  EXPECT_LT(Clock::now() - write_start, milliseconds(kWriteLimitMs))
      << "the write ran into its own time-out: ClosePort did not end it";
  for (const auto& [what, ms] : took) std::cout << "  " << what << ": " << ms << " ms\n";

  auto remove = Bind<mf::RemovePortFn>("RemovePort");
  EXPECT_EQ(remove(1, stalled), 1);
  EXPECT_EQ(remove(1, other), 1);
}

// Whatever a module below throws ends at Vexlink's boundary: each call answers
// the contract's failure value and says what happened in the trace.
TEST_F(VexlinkModuleTest, WhatAModuleThrowsNeverLeavesVexlink) {
  ReloadWithSerialModule(QZ381_THROWING_MODULE);
  std::vector<std::string> lines;
  platform::SetTraceCapture([&](std::string_view line) { lines.emplace_back(line); });
  auto create = Bind<mf::CreatePortFn>("CreatePort");
  EXPECT_EQ(create("POS1", "COM53", 1), 0);  // the module's first CreatePort throws
  const int32_t id = create("POS1", "COM53", 1);
  EXPECT_GT(id, 0);
  uint8_t bytes[4] = {};
  EXPECT_EQ(Bind<mf::SetDeviceOptionFn>("SetDeviceOption")(DefaultDeviceOption(), id), 0);
  EXPECT_EQ(Bind<mf::OpenPortFn>("OpenPort")(id), 0);
  EXPECT_EQ(Bind<mf::WriteFn>("Write")(bytes, 4, id), 0);
  EXPECT_EQ(Bind<mf::ReadFn>("Read")(bytes, 4, 10, id), 0);
  Bind<mf::ClearFn>("Clear")(id);
  EXPECT_EQ(Bind<mf::GetInputBufferCountFn>("GetInputBufferCount")(id), 0);
  EXPECT_EQ(Bind<mf::IsPowerStateFn>("IsPowerState")(id), 0);
  EXPECT_EQ(Bind<mf::GetASBStateFn>("GetASBState")(bytes, id), 0);
  Bind<mf::ClosePortFn>("ClosePort")(id);
  EXPECT_EQ(Bind<mf::RemovePortFn>("RemovePort")(1, id), 0);
  platform::SetTraceCapture(nullptr);
  const char* calls[] = {
      "CreatePort",          "SetDeviceOption", "OpenPort",    "Write",     "Read",      "Clear",
      "GetInputBufferCount", "IsPowerState",    "GetASBState", "ClosePort", "RemovePort"};
  for (const char* call : calls) {
    const std::string expected = std::string("Vexlink: ") + call + ": stopped by ";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(expected) != std::string::npos;
    })) << call;
  }
}

}  // namespace
}  // namespace qz381::ports
