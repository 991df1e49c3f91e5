// Vexlink as the service object loads it: com found through "comdir" in a
// registry file, no usb module at all, two pseudo-terminal printers driven from
// two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "ports/common/port_contract.h"
#include "tests/support/pty_peer.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
namespace mf = managing_form;

// The printer's side of one pseudo-terminal: answers every 10 04 03 with its
// own status byte and keeps everything else it receives.
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

 private:
  void Serve() {
    Bytes pending;
    while (!stop_) {
      uint8_t chunk[256];
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
  template <typename Fn>
  Fn Bind(const char* name) {
    void* symbol = library_->Symbol(name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Fn>(symbol);
  }
  int32_t OpenPrinterPort(const char* device, const char* port) {
    const int32_t id = Bind<mf::CreatePortFn>("CreatePort")(device, port, 1);
    DeviceOption option = DefaultDeviceOption();
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

TEST_F(VexlinkModuleTest, LoadsComFromTheRegistryAndServesSerialPortsWithoutUsb) {
  auto create = Bind<mf::CreatePortFn>("CreatePort");
  EXPECT_EQ(create("POS1", "\\\\?\\usb#vid_0dd4", 1), 0);  // no usbdir: refused, nothing else
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

}  // namespace
}  // namespace qz381::ports
