// The control-object stand-in on the built service object module: opening by
// device name, the answers of a device that cannot be opened, the one thread
// every call and event runs on.
#include "co/pos_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "co/testdata/co_fixture.h"
#include "platform/thread_id.h"

namespace qz381::testing {
namespace {

using platform::Hive;
using platform::RegValue;

// The system's thread number: std::thread ids are numbered by each module's
// own copy of the threads library on Windows, so they mean nothing across
// modules.
uint64_t ThisThread() {
  return platform::CurrentThreadNumber();
}

class CoTest : public ::testing::Test {
 protected:
  RegisteredDevice device_{QZ381_SO_MODULE};
  FakeVexlink fake_;
};

TEST_F(CoTest, OpensARegisteredDeviceByName) {
  co::PosPrinter printer;
  EXPECT_EQ(printer.Open(RegisteredDevice::kDevice), 0);
  EXPECT_TRUE(printer.IsOpen());
  int32_t state = 0;
  ASSERT_TRUE(printer.GetNumber("State", &state));
  EXPECT_EQ(state, 2);
  std::string name;
  ASSERT_TRUE(printer.GetString("DeviceName", &name));
  EXPECT_EQ(name, "QZ381 Receipt");
  EXPECT_EQ(printer.Open(RegisteredDevice::kDevice), 106);  // already open
  EXPECT_EQ(printer.Close(), 0);
  EXPECT_FALSE(printer.IsOpen());
  EXPECT_EQ(fake_.Count("RemovePort"), 1);
}

TEST_F(CoTest, DevicesThatCannotBeOpened) {
  platform::Registry& reg = platform::DefaultRegistry();
  auto entry = [&](const std::string& name, const std::string& progid) {
    WriteDeviceEntry(reg, name, "COM2", device_.dir().File("QZ381.inf"));
    reg.SetValue(Hive::kLocalMachine, std::string(kDeviceKeyPrefix) + name, "",
                 RegValue::Text(progid));
  };
  entry("NoClass", "VORNAQZ381.Missing.1");
  entry("NoServer", "Broken.ProgID");
  reg.SetValue(Hive::kClassesRoot, "Broken.ProgID\\CLSID", "",
               RegValue::Text("{00000000-1111-2222-3333-444444444444}"));
  reg.SetValue(Hive::kClassesRoot, "CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32",
               "", RegValue::Text("/nonexistent/QZ381PrinterSO.so"));

  const struct {
    const char* name;
    int32_t want;
  } cases[] = {{"NoSuchDevice", 109}, {"NoClass", 104}, {"NoServer", 104}};
  co::PosPrinter printer;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(printer.Open(c.name), c.want);
    EXPECT_FALSE(printer.IsOpen());
    EXPECT_EQ(printer.ResultCode(), c.want);
  }
  EXPECT_EQ(fake_.Count("CreatePort"), 0);
  // A failed open does not spoil the next one.
  EXPECT_EQ(printer.Open(RegisteredDevice::kDevice), 0);
}

TEST_F(CoTest, EverythingBeforeOpenIsClosed) {
  co::PosPrinter printer;
  EXPECT_EQ(printer.ClaimDevice(1000), 101);
  EXPECT_EQ(printer.ReleaseDevice(), 101);
  EXPECT_EQ(printer.PrintNormal(2, "text\n"), 101);
  std::vector<co::Arg> args = {co::Arg::Long(1)};
  EXPECT_EQ(printer.Call("checkhealth", args), 101);  // names match without case
  int32_t rc = 0;
  ASSERT_TRUE(printer.SetNumber("DeviceEnabled", 1, &rc));
  EXPECT_EQ(rc, 101);
  int32_t state = 0;
  ASSERT_TRUE(printer.GetNumber("State", &state));
  EXPECT_EQ(state, 1);
  EXPECT_EQ(printer.Close(), 101);
  EXPECT_FALSE(printer.SetNumber("NoSuchProperty", 1, &rc));
  EXPECT_EQ(printer.Call("NoSuchMethod", args), -1);
}

// Calls from several application threads all reach the service object, and
// through it the port module, on the control object's one thread.
TEST_F(CoTest, CallsFromApplicationThreadsRunOnTheControlObjectThread) {
  co::PosPrinter printer;
  std::vector<uint64_t> callers;
  std::thread([&] {
    callers.push_back(ThisThread());
    EXPECT_EQ(printer.Open(RegisteredDevice::kDevice), 0);
  }).join();
  std::thread([&] {
    callers.push_back(ThisThread());
    EXPECT_EQ(printer.ClaimDevice(1000), 0);
  }).join();
  callers.push_back(ThisThread());
  EXPECT_EQ(printer.Close(), 0);

  EXPECT_EQ(fake_.Count("OpenPort"), 1);
  EXPECT_EQ(fake_.Count("ClosePort"), 1);
  EXPECT_EQ(fake_.ThreadCount(), 1);
  for (uint64_t caller : callers) EXPECT_NE(fake_.LastThread(), caller);
}

// The operator in front of the interactive health check's dialog.
class Operator : public co::HealthDialogProvider {
 public:
  void ShowHealthDialog(co::HealthDialog& dialog) override {
    thread = ThisThread();
    title = dialog.title();
    info = dialog.info();
    status = dialog.Status();
    if (print) result = dialog.Print(&result_text);
  }
  bool print = true;
  uint64_t thread = 0;
  std::string title, info, result_text;
  opos::HealthStatus status;
  int32_t result = -2;
};

TEST_F(CoTest, TheInteractiveCheckShowsTheProgramsDialogOnTheCallingThread) {
  co::PosPrinter printer;
  Operator op;
  printer.SetHealthDialogProvider(&op);
  ASSERT_EQ(printer.Open(RegisteredDevice::kDevice), 0);
  ASSERT_EQ(printer.ClaimDevice(1000), 0);
  int32_t rc = -1;
  ASSERT_TRUE(printer.SetNumber("DeviceEnabled", 1, &rc));
  ASSERT_EQ(rc, 0);
  const int32_t port = fake_.LastCreated();
  fake_.Take(port);

  uint64_t caller = 0;
  std::thread([&] {
    caller = ThisThread();
    std::vector<co::Arg> level = {co::Arg::Long(3)};
    EXPECT_EQ(printer.Call("CheckHealth", level), 0);
  }).join();
  EXPECT_EQ(op.thread, caller);
  EXPECT_EQ(op.title, "Printer Check Health : - Interactive -QZ381 Receipt");
  std::vector<std::string> lines;
  for (size_t from = 0; from <= op.info.size();) {
    const size_t end = std::min(op.info.find('\n', from), op.info.size());
    lines.push_back(op.info.substr(from, end - from));
    from = end + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << op.info;
  EXPECT_EQ(lines[1], "1.9.3");
  EXPECT_EQ(lines[3], "QZ381 Receipt");
  int32_t power = 0;
  ASSERT_TRUE(printer.GetNumber("PowerState", &power));
  EXPECT_EQ(op.status.power_state, power);
  EXPECT_EQ(op.result, 0);
  EXPECT_EQ(op.result_text, "Success (0/0)");
  EXPECT_NE(fake_.Take(port).find(Hex("Version 1.9.3\n")), std::string::npos);
  std::string text;
  ASSERT_TRUE(printer.GetString("CheckHealthText", &text));
  EXPECT_EQ(text, "CheckHealth: Successful");

  // Without a provider there is no display: the internal check decides.
  printer.SetHealthDialogProvider(nullptr);
  op.thread = 0;
  std::vector<co::Arg> level = {co::Arg::Long(3)};
  EXPECT_EQ(printer.Call("CheckHealth", level), 0);
  EXPECT_EQ(op.thread, 0u);
  EXPECT_EQ(fake_.Take(port), Hex(std::string("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9)));
}

class Recorder : public co::EventListener {
 public:
  void OnStatusUpdate(int32_t data) override {
    std::lock_guard<std::mutex> guard(mutex);
    seen.push_back(data);
    threads.push_back(ThisThread());
    cv.notify_all();
  }
  bool WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen.size() >= n; });
  }
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int32_t> seen;
  std::vector<uint64_t> threads;
};

TEST(CoEventTest, EventsReachListenersOnTheControlObjectThreadWhileTheAppIsIdle) {
  RegisteredDevice device(QZ381_EVENT_HOOK_MODULE);
  FakeVexlink fake;
  auto post = reinterpret_cast<int32_t (*)(int32_t, int32_t)>(
      device.module().Symbol("TestPostStatusUpdate"));
  ASSERT_NE(post, nullptr);
  Recorder recorder;
  co::PosPrinter printer;
  printer.AddListener(&recorder);
  ASSERT_EQ(printer.Open(RegisteredDevice::kDevice), 0);
  const uint64_t co_thread = fake.LastThread();  // CreatePort ran there
  ASSERT_EQ(printer.ClaimDevice(1000), 0);

  int32_t port = fake.LastCreated();
  EXPECT_EQ(post(port, 2003), 1);
  EXPECT_EQ(post(port, 2002), 1);
  // This thread only waits; the control object's thread pumps and delivers.
  ASSERT_TRUE(recorder.WaitFor(2));
  EXPECT_EQ(recorder.seen, (std::vector<int32_t>{2003, 2002}));
  for (uint64_t t : recorder.threads) {
    EXPECT_EQ(t, co_thread);
    EXPECT_NE(t, ThisThread());
  }
  printer.RemoveListener(&recorder);
  EXPECT_EQ(printer.Close(), 0);
}

}  // namespace
}  // namespace qz381::testing
