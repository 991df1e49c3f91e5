// Routing, the entry table, forwarding with SetObject first on the calling
// thread, a stalled write that holds up nothing else, and the spooler's
// printers, over stand-in modules and a stand-in spooler.
#include "ports/vexlink/port_router.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qz381::ports {
namespace {

// A module-form port module in plain functions, as a loaded library has them.
// Ports are numbers from its base, current per thread as in com; calls are
// logged as "<call> <current id>". A Write on `stalled_port` is held back, as
// flow control holds a real one, until ClosePort of that port (or, as a safety
// net for a router that never lets the close through, kStallLimit).
template <int kBase>
struct FakeModule {
  static constexpr auto kStallLimit = std::chrono::seconds(3);
  static inline std::mutex mutex;
  static inline std::condition_variable stall_changed;
  static inline std::vector<std::string> log;
  static inline std::set<int32_t> ports;
  static inline thread_local int32_t current = 0;
  static inline int32_t stalled_port = 0;  // guarded by mutex, as are the two below
  static inline bool stalling = false;
  static inline bool closed = false;
  static inline int32_t next = kBase;
  static inline int32_t create_answer = 0;  // nonzero: CreatePort answers this instead
  static inline int32_t open_answer = 1;

  static void Reset() {
    std::lock_guard hold(mutex);
    log.clear();
    ports.clear();
    current = 0;
    stalled_port = 0;
    stalling = false;
    closed = false;
    create_answer = 0;
    open_answer = 1;
  }
  static void Log(const char* call) {
    std::lock_guard hold(mutex);
    log.push_back(std::string(call) + " " + std::to_string(current));
  }
  static std::vector<std::string> TakeLog() {
    std::lock_guard hold(mutex);
    return std::exchange(log, {});
  }

  static int32_t CreatePort() {
    if (create_answer != 0) return create_answer;
    std::lock_guard hold(mutex);
    ports.insert(next);
    current = next;
    return next++;
  }
  static int32_t SetObject(int32_t id) {
    {
      std::lock_guard hold(mutex);
      if (!ports.count(id)) return 0;
    }
    current = id;
    Log("SetObject");
    return 1;
  }
  static int32_t DeletePort(int32_t id) {
    std::lock_guard hold(mutex);
    log.push_back("DeletePort " + std::to_string(id));
    return ports.erase(id) ? 1 : 0;
  }
  static int32_t SetDeviceOption(DeviceOption) { return Logged("SetDeviceOption", 1); }
  static int32_t OpenPort() { return Logged("OpenPort", open_answer); }
  static void ClosePort() {
    Log("ClosePort");
    std::lock_guard hold(mutex);
    if (current == stalled_port) closed = true;
    stall_changed.notify_all();
  }
  static int32_t Write(const uint8_t*, int32_t length) {
    std::unique_lock hold(mutex);
    if (current != stalled_port) return length;
    stalling = true;
    stall_changed.notify_all();
    const bool ended = stall_changed.wait_for(hold, kStallLimit, [] { return closed; });
    stalling = false;
    return ended ? 0 : length;
  }
  static void AwaitStall() {
    std::unique_lock hold(mutex);
    stall_changed.wait(hold, [] { return stalling; });
  }
  static int32_t Read(uint8_t* buffer, int32_t, uint32_t) {
    buffer[0] = static_cast<uint8_t>(current & 0xFF);
    return 1;
  }
  static void Clear() { Log("Clear"); }
  static int32_t GetInputBufferCount() { return Logged("GetInputBufferCount", 7); }
  static int32_t IsPowerState() { return Logged("IsPowerState", kPowerStateOnline); }
  static int32_t GetASBState(uint8_t*) { return Logged("GetASBState", 0); }
  static int32_t Logged(const char* call, int32_t answer) {
    Log(call);
    return answer;
  }

  static std::unique_ptr<ModuleBinding> Binding(const char* label) {
    ModuleEntryPoints e;
    e.Write = &Write;
    e.Read = &Read;
    e.ClosePort = &ClosePort;
    e.OpenPort = &OpenPort;
    e.Clear = &Clear;
    e.SetDeviceOption = &SetDeviceOption;
    e.GetInputBufferCount = &GetInputBufferCount;
    e.IsPowerState = &IsPowerState;
    e.GetASBState = &GetASBState;
    e.CreatePort = &CreatePort;
    e.SetObject = &SetObject;
    e.DeletePort = &DeletePort;
    return std::make_unique<ModuleBinding>(label, e);
  }
};
using FakeCom = FakeModule<10000>;
using FakeUsb = FakeModule<30000>;
using FakeNet = FakeModule<40000>;

class FakeSpooler final : public platform::Spooler {
 public:
  std::vector<platform::PrinterPort> printers;
  int sets_before_failure = -1;  // -1: never fail
  std::vector<std::string> sets;

  platform::Status EnumLocalPrinters(std::vector<platform::PrinterPort>* out) override {
    *out = printers;
    return platform::Status::Ok();
  }
  platform::Status GetPrinterPort(std::string_view name, std::string* port) override {
    for (auto& p : printers) {
      if (p.printer == name) {
        *port = p.port;
        return platform::Status::Ok();
      }
    }
    return platform::Status::Fail(platform::Outcome::kNotFound, std::string(name));
  }
  platform::Status SetPrinterPort(std::string_view name, std::string_view port) override {
    if (sets_before_failure == 0) return platform::Status::Fail(platform::Outcome::kIoError, "no");
    if (sets_before_failure > 0) --sets_before_failure;
    for (auto& p : printers) {
      if (p.printer == name) {
        p.port = port;
        sets.push_back(std::string(name) + "=" + std::string(port));
        return platform::Status::Ok();
      }
    }
    return platform::Status::Fail(platform::Outcome::kNotFound, std::string(name));
  }
  std::string PortOf(const std::string& name) {
    std::string port;
    GetPrinterPort(name, &port);
    return port;
  }
};

class PortRouterTest : public testing::Test {
 protected:
  void SetUp() override {
    FakeCom::Reset();
    FakeUsb::Reset();
    FakeNet::Reset();
    spooler_.printers = {{"A", "COM1:"}, {"B", "COM10:"}, {"C", "LPT1:"}, {"D", "COM2:,COM1:"}};
    router_ = std::make_unique<PortRouter>(FakeCom::Binding("serial"), FakeUsb::Binding("USB"),
                                           spooler_, FakeNet::Binding("network"));
  }
  FakeSpooler spooler_;
  std::unique_ptr<PortRouter> router_;
};

TEST_F(PortRouterTest, RoutesByNameAndRefusesWhatNoModuleTakes) {
  const struct {
    const char* port;
    uint8_t owner;
    int32_t low, high;  // expected id range; 0, 0 for refused
  } cases[] = {
      {"COM3", 1, 10000, 30000},
      {"\\\\?\\usb#vid_0dd4&pid_0195#5&2a&0&2#{28d78fad}", 1, 30000, INT32_MAX},
      {"\\\\.\\COM12", 1, 10000, 30000},  // a device path with COM in it is serial
      {"XCOMY", 1, 10000, 30000},         // "COM" anywhere
      {"192.168.7.31", 1, 40000, INT32_MAX},
      {"fe80::2", 1, 40000, INT32_MAX},
      {"printer-3.shop.example", 1, 40000, INT32_MAX},
      {"COMPANY-PRINTER", 1, 10000, 30000},  // the serial rule comes first
      {"LPT1", 1, 0, 0},
      {"com1", 1, 0, 0},
      {"300.1.1.1", 1, 0, 0},
      {"two words", 1, 0, 0},
      {"", 1, 0, 0},
      {"COM3", 2, 0, 0},
  };
  for (const auto& c : cases) {
    const int32_t id = router_->CreatePort("POS1", c.port, c.owner);
    if (c.high == 0) {
      EXPECT_EQ(id, 0) << c.port;
    } else {
      EXPECT_GE(id, c.low) << c.port;
      EXPECT_LT(id, c.high) << c.port;
      EXPECT_EQ(router_->GetInputBufferCount(id), 7) << c.port;
    }
  }
  EXPECT_EQ(router_->CreatePort(nullptr, "COM1", 1), 0);
  EXPECT_EQ(router_->CreatePort("POS1", nullptr, 1), 0);
}

TEST_F(PortRouterTest, ForwardsWithSetObjectFirstAndAnswersZeroForUnknownIds) {
  const int32_t first = router_->CreatePort("POS1", "COM3", 1);
  const int32_t second = router_->CreatePort("POS2", "COM4", 1);
  FakeCom::TakeLog();
  router_->Clear(first);
  EXPECT_EQ(router_->IsPowerState(second), kPowerStateOnline);
  EXPECT_EQ(FakeCom::TakeLog(),
            (std::vector<std::string>{
                "SetObject " + std::to_string(first), "Clear " + std::to_string(first),
                "SetObject " + std::to_string(second), "IsPowerState " + std::to_string(second)}));
  const uint8_t data[5] = {};
  uint8_t buffer[4];
  EXPECT_EQ(router_->Write(data, 5, 999), 0);
  EXPECT_EQ(router_->Read(buffer, 1, 0, 999), 0);
  EXPECT_EQ(router_->OpenPort(999), 0);
  EXPECT_EQ(router_->GetASBState(buffer, 999), 0);
  router_->ClosePort(999);
  router_->Clear(999);
  EXPECT_EQ(router_->WaitASBState(600000, 999), kWaitUnavailable);
  EXPECT_TRUE(FakeCom::TakeLog().empty());
  // This module cannot wait for a status block: said at once, not waited out.
  EXPECT_EQ(router_->WaitASBState(600000, second), kWaitUnavailable);
  FakeCom::TakeLog();

  EXPECT_EQ(router_->RemovePort(2, first), 0);
  EXPECT_EQ(router_->Write(data, 5, first), 5);  // still there
  EXPECT_EQ(router_->RemovePort(1, first), 1);
  EXPECT_EQ(router_->RemovePort(1, first), 0);
  EXPECT_EQ(router_->Write(data, 5, first), 0);
}

TEST_F(PortRouterTest, AModuleThatCannotCreateOrLostThePortGivesZero) {
  FakeCom::create_answer = -1;
  EXPECT_EQ(router_->CreatePort("POS1", "COM3", 1), 0);
  FakeCom::create_answer = 0;
  const int32_t id = router_->CreatePort("POS1", "COM3", 1);
  ASSERT_NE(id, 0);
  FakeCom::ports.erase(id);  // the module no longer knows it: SetObject answers 0
  EXPECT_EQ(router_->GetInputBufferCount(id), 0);

  PortRouter without_usb(FakeCom::Binding("serial"), nullptr, spooler_);
  EXPECT_EQ(without_usb.CreatePort("POS1", "\\\\?\\usb#x", 1), 0);
  EXPECT_GE(without_usb.CreatePort("POS1", "COM5", 1), 10000);
}

TEST_F(PortRouterTest, TakesPrintersOffASerialPortWhileOpenAndPutsThemBack) {
  const int32_t id = router_->CreatePort("POS1", "COM1", 1);
  ASSERT_EQ(router_->OpenPort(id), 1);
  EXPECT_EQ(spooler_.PortOf("A"), "FILE:");
  EXPECT_EQ(spooler_.PortOf("B"), "FILE:");  // COM10: contains COM1
  EXPECT_EQ(spooler_.PortOf("C"), "LPT1:");
  EXPECT_EQ(spooler_.PortOf("D"), "FILE:");
  router_->ClosePort(id);
  EXPECT_EQ(spooler_.PortOf("A"), "COM1:");
  EXPECT_EQ(spooler_.PortOf("B"), "COM10:");
  EXPECT_EQ(spooler_.PortOf("D"), "COM2:,COM1:");

  // A failed open and a removal without ClosePort put them back as well.
  FakeCom::open_answer = 0;
  EXPECT_EQ(router_->OpenPort(id), 0);
  EXPECT_EQ(spooler_.PortOf("A"), "COM1:");
  FakeCom::open_answer = 1;
  ASSERT_EQ(router_->OpenPort(id), 1);
  EXPECT_EQ(spooler_.PortOf("A"), "FILE:");
  EXPECT_EQ(router_->RemovePort(1, id), 1);
  EXPECT_EQ(spooler_.PortOf("A"), "COM1:");
  EXPECT_EQ(spooler_.PortOf("B"), "COM10:");

  const int32_t serial = router_->CreatePort("POS1", "\\\\?\\usb#COM", 1);  // serial by its name
  const int32_t path = router_->CreatePort("POS1", "\\\\?\\usb#vid", 1);
  spooler_.sets.clear();
  ASSERT_EQ(router_->OpenPort(path), 1);
  router_->ClosePort(path);
  EXPECT_TRUE(spooler_.sets.empty());  // a USB device path touches no printer
  EXPECT_GE(serial, 10000);
  EXPECT_LT(serial, 30000);
}

TEST_F(PortRouterTest, AfterTheFirstSpoolerFailureNoFurtherPrinterChanges) {
  spooler_.sets_before_failure = 1;  // A moves, B fails, D is left alone
  const int32_t id = router_->CreatePort("POS1", "COM1", 1);
  ASSERT_EQ(router_->OpenPort(id), 1);  // spooler trouble never fails the open
  EXPECT_EQ(spooler_.PortOf("A"), "FILE:");
  EXPECT_EQ(spooler_.PortOf("B"), "COM10:");
  EXPECT_EQ(spooler_.PortOf("D"), "COM2:,COM1:");
  spooler_.sets_before_failure = -1;
  router_->ClosePort(id);
  EXPECT_EQ(spooler_.PortOf("A"), "COM1:");
  EXPECT_EQ(spooler_.PortOf("D"), "COM2:,COM1:");
}

TEST_F(PortRouterTest, EachCallActsOnItsOwnPortFromAnyThread) {
  const int32_t a = router_->CreatePort("POS1", "COM1", 1);
  const int32_t b = router_->CreatePort("POS2", "COM2", 1);
  auto drive = [&](int32_t id) {
    const uint8_t data[3] = {1, 2, 3};
    uint8_t reply = 0;
    for (int i = 0; i < 2000; ++i) {
      ASSERT_EQ(router_->Write(data, 3, id), 3);
      ASSERT_EQ(router_->Read(&reply, 1, 0, id), 1);
      ASSERT_EQ(reply, id & 0xFF);  // answered by its own port
    }
  };
  std::thread one(drive, a);
  std::thread two(drive, b);
  one.join();
  two.join();
}

// While a write on one port is held back, calls on another port of the same
// module and status polls of the same port go through, and ClosePort ends the
// write. Asserted by order (each call returns while the write is still held),
// not by time.
TEST_F(PortRouterTest, AStalledWriteHoldsUpNoOtherCallAndClosePortEndsIt) {
  const int32_t a = router_->CreatePort("POS1", "COM1", 1);
  const int32_t b = router_->CreatePort("POS2", "COM2", 1);
  ASSERT_EQ(router_->OpenPort(a), 1);
  {
    std::lock_guard hold(FakeCom::mutex);
    FakeCom::stalled_port = a;
  }
  const uint8_t data[3] = {1, 2, 3};
  auto write = std::async(std::launch::async, [&] { return router_->Write(data, 3, a); });
  FakeCom::AwaitStall();

  uint8_t block[4];
  EXPECT_EQ(router_->GetInputBufferCount(b), 7);
  EXPECT_EQ(router_->Write(data, 3, b), 3);
  EXPECT_EQ(router_->IsPowerState(a), kPowerStateOnline);
  EXPECT_EQ(router_->GetASBState(block, a), 0);
  EXPECT_EQ(write.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the calls above waited for the write";

  router_->ClosePort(a);
  ASSERT_EQ(write.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(write.get(), 0) << "the write ran into its safety limit instead of being closed";
}

}  // namespace
}  // namespace qz381::ports
