// The com module as Vexlink loads it, over a real pseudo-terminal registered as
// COM41 in a registry file: bytes on the wire, the split of what the printer
// sends, time-outs, power state and closing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
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
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
namespace mf = module_form;

struct ComExports {
  mf::CreatePortFn CreatePort;
  mf::SetObjectFn SetObject;
  mf::DeletePortFn DeletePort;
  mf::SetDeviceOptionFn SetDeviceOption;
  mf::OpenPortFn OpenPort;
  mf::ClosePortFn ClosePort;
  mf::WriteFn Write;
  mf::ReadFn Read;
  mf::ClearFn Clear;
  mf::GetInputBufferCountFn GetInputBufferCount;
  mf::IsPowerStateFn IsPowerState;
  mf::GetASBStateFn GetASBState;
  mf::WaitASBStateFn WaitASBState;
};

class ComModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_path_ =
        std::filesystem::temp_directory_path() /
        ("qz381-com-test-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".reg");
    qz381::test_equipment::SetEnvironment("QZ381_REGISTRY", registry_path_.string());
    platform::Status status;
    library_ = platform::DynamicLibrary::Load(QZ381_COM_MODULE, &status).release();
    ASSERT_NE(library_, nullptr) << status.ToString();
    auto bind = [](const char* name) {
      void* symbol = library_->Symbol(name);
      EXPECT_NE(symbol, nullptr) << name;
      return symbol;
    };
#define QZ381_BIND(name) com_.name = reinterpret_cast<decltype(com_.name)>(bind(#name))
    QZ381_BIND(CreatePort);
    QZ381_BIND(SetObject);
    QZ381_BIND(DeletePort);
    QZ381_BIND(SetDeviceOption);
    QZ381_BIND(OpenPort);
    QZ381_BIND(ClosePort);
    QZ381_BIND(Write);
    QZ381_BIND(Read);
    QZ381_BIND(Clear);
    QZ381_BIND(GetInputBufferCount);
    QZ381_BIND(IsPowerState);
    QZ381_BIND(GetASBState);
    QZ381_BIND(WaitASBState);
#undef QZ381_BIND
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
    std::filesystem::remove(registry_path_);
  }

  void SetUp() override {
    master_ = std::make_unique<qz381::test_equipment::PtyPeer>();
    ASSERT_TRUE(master_->ok());
    auto registry = platform::OpenRegistryFile(registry_path_.string());
    registry->DeleteKey(platform::Hive::kLocalMachine, platform::kSerialCommKey);
    ASSERT_TRUE(registry
                    ->SetValue(platform::Hive::kLocalMachine, platform::kSerialCommKey,
                               master_->slave_path(), platform::RegValue::Text("COM41"))
                    .ok());
  }
  void TearDown() override {
    if (port_ > 0) com_.DeletePort(port_);
    master_.reset();
  }

  // A new port on COM41, opened and current.
  void OpenCom41() {
    port_ = com_.CreatePort();
    ASSERT_GE(port_, kComPortIdBase);
    DeviceOption option = DefaultDeviceOption();
    ASSERT_TRUE(SetPortName(option, "COM41"));
    ASSERT_EQ(com_.SetDeviceOption(option), 1);
    ASSERT_NE(com_.OpenPort(), 0);
  }

  void Send(const Bytes& bytes) {
    ASSERT_TRUE(master_->Write(bytes.data(), bytes.size()));
  }
  Bytes Receive(size_t count) {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      uint8_t chunk[256];
      const size_t n = master_->Read(chunk, std::min(sizeof chunk, count - out.size()), 50);
      out.insert(out.end(), chunk, chunk + n);
    }
    return out;
  }

  static inline std::filesystem::path registry_path_;
  static inline platform::DynamicLibrary* library_ = nullptr;
  static inline ComExports com_{};
  std::unique_ptr<qz381::test_equipment::PtyPeer> master_;
  int32_t port_ = 0;
};

TEST_F(ComModuleTest, BytesCrossTheLineExactlyAndTheReplyIsSplitFromStatusBlocks) {
  OpenCom41();
  const Bytes command = {0x00, 0x1B, 0x3D, 0x01, 0x0A, 0x0D, 0x11, 0x13, 0x1D, 0x61, 0x0F};
  EXPECT_EQ(com_.Write(command.data(), static_cast<int32_t>(command.size())),
            static_cast<int32_t>(command.size()));
  EXPECT_EQ(Receive(command.size()), command);

  // An automatic status block, the reply byte, a "5" reply block, more data.
  Send({0x14, 0x20, 0x00, 0x0F, 0x16, 0x35, 0x40, 0x41, 0x00, 0x0A});
  uint8_t data[4] = {};
  EXPECT_EQ(com_.Read(data, 2, 2000), 2);
  EXPECT_EQ(Bytes(data, data + 2), (Bytes{0x16, 0x0A}));
  uint8_t block[4] = {};
  ASSERT_EQ(com_.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x14, 0x20, 0x00, 0x0F}));
  ASSERT_EQ(com_.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x35, 0x40, 0x41, 0x00}));
  EXPECT_EQ(com_.GetASBState(block), 0);
}

TEST_F(ComModuleTest, ReadTimesOutOnSilenceAndAPseudoTerminalIsOffline) {
  OpenCom41();
  uint8_t byte = 0;
  const auto start = Clock::now();
  EXPECT_EQ(com_.Read(&byte, 1, 300), 0);
  EXPECT_GE(Clock::now() - start, milliseconds(300));

  // No modem lines on a pseudo-terminal: offline once the reader has looked.
  const auto deadline = Clock::now() + milliseconds(2000);
  while (com_.IsPowerState() == kPowerStateUnknown && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(com_.IsPowerState(), kPowerStateOffline);
}

TEST_F(ComModuleTest, ClosePortWakesABlockedReadAndClosedPortsAnswerZero) {
  OpenCom41();
  auto read = std::async(std::launch::async, [this] {
    uint8_t byte;
    EXPECT_EQ(com_.SetObject(port_), 1);  // the current port is per thread
    return com_.Read(&byte, 1, 600000);
  });
  std::this_thread::sleep_for(milliseconds(100));
  com_.ClosePort();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), 0);
  const uint8_t byte = 0x10;
  EXPECT_EQ(com_.Write(&byte, 1), 0);
  EXPECT_EQ(com_.GetInputBufferCount(), 0);
  // Opens again on the same port object.
  EXPECT_NE(com_.OpenPort(), 0);
}

// The wait's limit is far beyond the test's, so only the block arriving or the
// port closing can end it in time.
TEST_F(ComModuleTest, WaitASBStateEndsWhenABlockArrivesOrThePortCloses) {
  OpenCom41();
  auto wait = [this] {
    return std::async(std::launch::async, [this] {
      EXPECT_EQ(com_.SetObject(port_), 1);
      return com_.WaitASBState(600000);
    });
  };
  auto arrived = wait();
  std::this_thread::sleep_for(milliseconds(50));
  Send({0x14, 0x20, 0x00, 0x0F});
  ASSERT_EQ(arrived.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(arrived.get(), 1);
  EXPECT_EQ(com_.WaitASBState(600000), 1);  // still buffered: nothing was taken
  uint8_t block[4] = {};
  ASSERT_EQ(com_.GetASBState(block), 1);
  EXPECT_EQ(Bytes(block, block + 4), (Bytes{0x14, 0x20, 0x00, 0x0F}));

  auto closed = wait();
  std::this_thread::sleep_for(milliseconds(50));
  com_.ClosePort();
  ASSERT_EQ(closed.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(closed.get(), qz381::ports::kWaitUnavailable);
}

TEST_F(ComModuleTest, TheOtherSideVanishingMidWriteEndsTheWrite) {
  OpenCom41();
  master_->Close();
  const Bytes data(4096, 0x41);
  const auto start = Clock::now();
  EXPECT_EQ(com_.Write(data.data(), static_cast<int32_t>(data.size())), 0);
  EXPECT_LT(Clock::now() - start, milliseconds(3000));
  uint8_t byte;
  EXPECT_EQ(com_.Read(&byte, 1, 100), 0);
}

TEST_F(ComModuleTest, UnknownIdsAndNoCurrentPortChangeNothing) {
  const int32_t first = com_.CreatePort();
  const int32_t second = com_.CreatePort();
  ASSERT_GE(first, kComPortIdBase);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(com_.SetObject(999), 0);
  EXPECT_EQ(com_.DeletePort(999), 0);
  EXPECT_EQ(com_.DeletePort(second), 1);  // the current one: none is current now
  EXPECT_EQ(com_.DeletePort(second), 0);

  DeviceOption option = DefaultDeviceOption();
  ASSERT_TRUE(SetPortName(option, "COM41"));
  EXPECT_EQ(com_.SetDeviceOption(option), 0);
  EXPECT_EQ(com_.OpenPort(), 0);
  EXPECT_EQ(com_.IsPowerState(), 0);
  uint8_t block[4];
  EXPECT_EQ(com_.GetASBState(block), 0);

  EXPECT_EQ(com_.SetObject(first), 1);
  EXPECT_EQ(com_.IsPowerState(), kPowerStateUnknown);
  EXPECT_EQ(com_.SetDeviceOption(DefaultDeviceOption()), 0);  // empty name
  EXPECT_EQ(com_.DeletePort(first), 1);
  EXPECT_GT(com_.CreatePort(), second);  // ids are never reused
}

TEST_F(ComModuleTest, ABusyOrMissingDeviceIsRefused) {
  OpenCom41();
  const int32_t other = com_.CreatePort();
  DeviceOption option = DefaultDeviceOption();
  ASSERT_TRUE(SetPortName(option, "COM41"));
  ASSERT_EQ(com_.SetDeviceOption(option), 1);
  EXPECT_EQ(com_.OpenPort(), 0);               // held by the first port
  ASSERT_TRUE(SetPortName(option, "COM240"));  // falls back to a node that is not there
  ASSERT_EQ(com_.SetDeviceOption(option), 1);
  EXPECT_EQ(com_.OpenPort(), 0);
  EXPECT_EQ(com_.DeletePort(other), 1);
}

}  // namespace
}  // namespace qz381::ports
