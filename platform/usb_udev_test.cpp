// One suite for every UsbPrinters: what the naming code and the usb module may
// rely on, run against the in-memory tree and against libudev in umockdev's
// testbed (this program runs itself under umockdev-wrapper).
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/testbed/usb_testbed.h"
#include "platform/usb.h"
#include "platform/usb_fake.h"

namespace qz381::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendor = 0x3A81;
constexpr uint16_t kProduct = 0x0381;

TEST(UsbInterfacePathTest, KeepsTheWindowsFormAndNeverSpellsCom) {
  EXPECT_EQ(UsbInterfacePath(0x3a81, 0x0381, "Ab1", "1-1.4"),
            "\\\\?\\USB#VID_3A81&PID_0381#416231#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}");
  EXPECT_EQ(UsbInterfacePath(0x04b8, 0x0e15, "", "3-1.2"),
            "\\\\?\\USB#VID_04B8&PID_0E15#&3-1.2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}");
  for (const char* serial : {"COM1", "com", "xCOMx", "\x0c\x4f\x4d"}) {
    EXPECT_EQ(UsbInterfacePath(kVendor, kProduct, serial, "1-1").find("COM"), std::string::npos)
        << serial;
  }
  // Vendor and product sit where the naming code reads them.
  const std::string path = UsbInterfacePath(0x1234, 0xABCD, "S", "1-1");
  EXPECT_EQ(path.substr(12, 4), "1234");
  EXPECT_EQ(path.substr(21, 4), "ABCD");
  // A serial number too long for a port name: the socket names the printer.
  const std::string long_path = UsbInterfacePath(kVendor, kProduct, std::string(120, 'x'), "1-9");
  EXPECT_LT(long_path.size(), 260u);
  EXPECT_NE(long_path.find("#&1-9#"), std::string::npos);
}

TEST(UsbNoteQueueTest, AStormKeepsTheLatestNotesAndSaysItDroppedSome) {
  UsbNoteQueue queue(4);
  EXPECT_TRUE(queue.Push({UsbChange::kArrival, "a", "n"}));
  EXPECT_FALSE(queue.Push({UsbChange::kRemoval, "b", "n"}));
  for (int i = 0; i < 10; ++i) queue.Push({UsbChange::kRemoval, std::to_string(i), "n"});
  const auto notes = queue.Take();
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes.back().path, "9");
  EXPECT_TRUE(queue.Overflowed());
  EXPECT_FALSE(queue.Overflowed());
  EXPECT_TRUE(queue.Push({UsbChange::kArrival, "c", "n"}));
}

// The printers' side, played by the test.
class Bench {
 public:
  virtual ~Bench() = default;
  virtual UsbPrinters& printers() = 0;
  // Attaches a printer; answers its path.
  virtual std::string Plug(const std::string& serial, const std::string& chain, int lp) = 0;
  virtual void Unplug(const std::string& path) = 0;
  virtual void AddNonPrinters() {}
  // umockdev's emulated node goes on carrying bytes after its device is
  // removed; the kernel's and the fake's fail.
  virtual bool NodeDiesWithTheDevice() const { return true; }
  virtual void Send(const std::string& path, const Bytes& bytes) = 0;
  // Up to `count` bytes the host wrote, waiting up to 2 s for them.
  virtual Bytes Receive(const std::string& path, size_t count) = 0;
};

class FakeBench final : public Bench {
 public:
  UsbPrinters& printers() override { return printers_; }
  std::string Plug(const std::string& serial, const std::string& chain, int lp) override {
    UsbPrinterInfo info{"", "/dev/usb/lp" + std::to_string(lp), kVendor, kProduct, serial};
    auto line = printers_.Plug(info, chain);
    const std::string path = printers_.LastPlugged().path;
    lines_[path] = line;
    return path;
  }
  void Unplug(const std::string& path) override { printers_.Unplug(path); }
  void Send(const std::string& path, const Bytes& bytes) override { lines_[path]->Send(bytes); }
  Bytes Receive(const std::string& path, size_t count) override {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      lines_[path]->WaitWritten(1, 50);
      Bytes more = lines_[path]->TakeWritten();
      out.insert(out.end(), more.begin(), more.end());
    }
    return out;
  }

 private:
  FakeUsbPrinters printers_;
  std::map<std::string, std::shared_ptr<FakeSerialLine>> lines_;
};

class UdevBench final : public Bench {
 public:
  UsbPrinters& printers() override { return DefaultUsbPrinters(); }
  std::string Plug(const std::string& serial, const std::string& chain, int lp) override {
    const auto printer = bed_.AddPrinter(kVendor, kProduct, serial, chain, lp);
    const std::string path = UsbInterfacePath(kVendor, kProduct, serial, chain);
    printers_[path] = printer;
    return path;
  }
  void Unplug(const std::string& path) override {
    bed_.Unplug(printers_[path]);
    printers_.erase(path);
  }
  void AddNonPrinters() override { bed_.AddNonPrinters(); }
  bool NodeDiesWithTheDevice() const override { return false; }
  void Send(const std::string& path, const Bytes& bytes) override {
    ASSERT_EQ(::write(printers_[path].host_fd, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  Bytes Receive(const std::string& path, size_t count) override {
    Bytes out;
    const int fd = printers_[path].host_fd;
    const auto deadline = Clock::now() + milliseconds(2000);
    while (out.size() < count && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  testbed::UsbTestbed bed_;
  std::map<std::string, testbed::TestPrinter> printers_;
};

class UsbContractTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == "udev") {
      if (!testbed::InMock()) GTEST_SKIP() << "not running under umockdev";
      bench_ = std::make_unique<UdevBench>();
    } else {
      bench_ = std::make_unique<FakeBench>();
    }
  }
  UsbPrinters& printers() { return bench_->printers(); }
  std::vector<UsbPrinterInfo> List() {
    std::vector<UsbPrinterInfo> list;
    EXPECT_TRUE(printers().Enumerate(&list).ok());
    return list;
  }
  std::unique_ptr<Bench> bench_;
};

TEST_P(UsbContractTest, ListsEachPrinterOnceWithItsIdentity) {
  EXPECT_TRUE(List().empty());
  bench_->AddNonPrinters();
  const std::string first = bench_->Plug("QZ0001", "1-1", 0);
  const std::string second = bench_->Plug("", "1-2", 1);
  const auto list = List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].path, first);
  EXPECT_EQ(list[0].node, "/dev/usb/lp0");
  EXPECT_EQ(list[0].vendor, kVendor);
  EXPECT_EQ(list[0].product, kProduct);
  EXPECT_EQ(list[0].serial, "QZ0001");
  EXPECT_EQ(list[1].path, second);
  EXPECT_EQ(list[1].serial, "");
  EXPECT_NE(second.find("#&1-2#"), std::string::npos);
}

TEST_P(UsbContractTest, BytesGoBothWaysAndAQuietReadTimesOut) {
  const std::string path = bench_->Plug("QZ0001", "1-1", 0);
  Status status;
  auto device = printers().Open(path, &status);
  ASSERT_TRUE(device) << status.ToString();
  EXPECT_EQ(device->path(), path);

  const Bytes command = {0x1B, 0x40, 0x0A, 0x0D, 0x00, 0xFF};
  size_t written = 0;
  ASSERT_TRUE(device->Write(command, 1000, &written).ok());
  EXPECT_EQ(written, command.size());
  EXPECT_EQ(bench_->Receive(path, command.size()), command);

  bench_->Send(path, {0x14, 0x00, 0x00, 0x0F});
  Bytes got;
  const auto deadline = Clock::now() + milliseconds(2000);
  while (got.size() < 4 && Clock::now() < deadline) {
    uint8_t buffer[64];
    size_t n = 0;
    ASSERT_TRUE(device->Read(buffer, 200, &n).ok());
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, (Bytes{0x14, 0x00, 0x00, 0x0F}));

  uint8_t buffer[8];
  size_t n = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(device->Read(buffer, 50, &n).ok());
  EXPECT_EQ(n, 0u);
  EXPECT_GE(Clock::now() - start, milliseconds(40));
}

TEST_P(UsbContractTest, OpenRefusesAnUnknownPathAndASecondHolder) {
  const std::string path = bench_->Plug("QZ0001", "1-1", 0);
  Status status;
  EXPECT_FALSE(printers().Open(path + "X", &status));
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);
  auto held = printers().Open(path, &status);
  ASSERT_TRUE(held) << status.ToString();
  EXPECT_FALSE(printers().Open(path, &status));
  EXPECT_EQ(status.outcome(), Outcome::kBusy) << status.ToString();
  held.reset();
  EXPECT_TRUE(printers().Open(path, &status)) << status.ToString();
}

TEST_P(UsbContractTest, InterruptWakesABlockedRead) {
  const std::string path = bench_->Plug("QZ0001", "1-1", 0);
  Status status;
  auto device = printers().Open(path, &status);
  ASSERT_TRUE(device);
  std::thread reader([&] {
    uint8_t buffer[8];
    size_t n = 0;
    EXPECT_TRUE(device->Read(buffer, 0xFFFFFFFFu, &n).ok());
    EXPECT_EQ(n, 0u);
  });
  std::this_thread::sleep_for(milliseconds(50));
  device->Interrupt();
  reader.join();  // a hang here is the failure
}

TEST_P(UsbContractTest, AWatchReportsRemovalAndArrivalWithThePath) {
  std::atomic<int> told{0};
  Status status;
  auto watch = printers().Watch([&] { ++told; }, &status);
  ASSERT_TRUE(watch) << status.ToString();
  const std::string path = bench_->Plug("QZ0001", "1-1", 0);
  auto device = printers().Open(path, &status);
  ASSERT_TRUE(device);

  std::vector<UsbChangeNote> notes;
  auto gather = [&](size_t count) {
    const auto deadline = Clock::now() + milliseconds(3000);
    while (notes.size() < count && Clock::now() < deadline) {
      for (auto& note : watch->Take()) notes.push_back(note);
      std::this_thread::sleep_for(milliseconds(10));
    }
  };
  gather(1);
  bench_->Unplug(path);
  gather(2);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].change, UsbChange::kArrival);
  EXPECT_EQ(notes[0].path, path);
  EXPECT_EQ(notes[1].change, UsbChange::kRemoval);
  EXPECT_EQ(notes[1].path, path);
  EXPECT_EQ(notes[1].node, "/dev/usb/lp0");
  EXPECT_GE(told.load(), 1);
  if (bench_->NodeDiesWithTheDevice()) {
    size_t written = 0;
    const Bytes one = {0x0A};
    EXPECT_EQ(device->Write(one, 200, &written).outcome(), Outcome::kNotFound);
    uint8_t buffer[4];
    EXPECT_EQ(device->Read(buffer, 200, &written).outcome(), Outcome::kNotFound);
  }
  EXPECT_FALSE(printers().Open(path, &status));
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);

  // Back in the same socket: the same path (umockdev cannot reuse a node name).
  EXPECT_EQ(bench_->Plug("QZ0001", "1-1", 1), path);
  gather(3);
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[2].change, UsbChange::kArrival);
  EXPECT_TRUE(printers().Open(path, &status)) << status.ToString();
}

TEST_P(UsbContractTest, AStormOfChangesEndsInTheTreeAsItIs) {
  Status status;
  auto watch = printers().Watch([] {}, &status);
  ASSERT_TRUE(watch) << status.ToString();
  std::string path;
  // 200 uevents: about a second in umockdev's testbed, where each change is
  // file work too.
  const int cycles = 100;
  for (int i = 0; i < cycles; ++i) {
    path = bench_->Plug("QZ0001", "1-1", i);
    bench_->Unplug(path);
  }
  path = bench_->Plug("QZ0001", "1-1", cycles);
  UsbChangeNote last;
  const auto deadline = Clock::now() + milliseconds(5000);
  while (Clock::now() < deadline) {
    auto notes = watch->Take();
    if (!notes.empty()) last = notes.back();
    if (last.change == UsbChange::kArrival && last.path == path) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(last.change, UsbChange::kArrival);
  EXPECT_EQ(last.path, path);
  EXPECT_EQ(List().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, UsbContractTest, ::testing::Values("fake", "udev"),
                         [](const auto& info) { return std::string(info.param); });

// Cheap printers often carry one serial number for a whole batch: two of them
// must still get two paths, each opening its own printer.
TEST(UdevUsbTest, PrintersSharingASerialNumberAreNamedByTheirSockets) {
  if (!testbed::InMock()) GTEST_SKIP() << "not running under umockdev";
  testbed::UsbTestbed bed;
  const testbed::TestPrinter first = bed.AddPrinter(kVendor, kProduct, "QZ0001", "1-1", 0);
  const testbed::TestPrinter second = bed.AddPrinter(kVendor, kProduct, "QZ0001", "1-2", 1);
  bed.AddPrinter(kVendor, kProduct, "QZ0002", "1-3", 2);
  std::vector<UsbPrinterInfo> list;
  ASSERT_TRUE(DefaultUsbPrinters().Enumerate(&list).ok());
  std::vector<std::string> paths;
  for (const UsbPrinterInfo& info : list) paths.push_back(info.path);
  ASSERT_EQ(paths,
            (std::vector<std::string>{UsbInterfacePath(kVendor, kProduct, "", "1-1"),
                                      UsbInterfacePath(kVendor, kProduct, "", "1-2"),
                                      UsbInterfacePath(kVendor, kProduct, "QZ0002", "1-3")}));
  EXPECT_EQ(list[1].serial, "QZ0001");

  const std::pair<std::string, testbed::TestPrinter> twins[] = {{paths[0], first},
                                                                {paths[1], second}};
  for (const auto& [path, printer] : twins) {
    Status status;
    auto device = DefaultUsbPrinters().Open(path, &status);
    ASSERT_TRUE(device) << status.ToString();
    EXPECT_EQ(device->node(), printer.node);
    const Bytes mark = {static_cast<uint8_t>(printer.node.back())};
    size_t written = 0;
    ASSERT_TRUE(device->Write(mark, 1000, &written).ok());
    pollfd ready{printer.host_fd, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 2000), 1) << path;
    uint8_t got = 0;
    EXPECT_EQ(::read(printer.host_fd, &got, 1), 1);
    EXPECT_EQ(got, mark[0]) << path;
  }
}

TEST(FaultInjectingUsbTest, FailsTheChosenCallOnceOrFromThenOn) {
  FakeUsbPrinters fake;
  auto line = fake.Plug({"", "", kVendor, kProduct, "S1"});
  const std::string path = fake.LastPlugged().path;
  FaultInjectingUsbPrinters faulty(fake);
  faulty.FailCall(UsbCall::kOpen, 1, FaultMode::kOnce, Outcome::kBusy);
  Status status;
  EXPECT_FALSE(faulty.Open(path, &status));
  EXPECT_EQ(status.outcome(), Outcome::kBusy);
  auto device = faulty.Open(path, &status);
  ASSERT_TRUE(device);
  faulty.FailCall(UsbCall::kWrite, 2, FaultMode::kFromThenOn);
  size_t written = 0;
  const Bytes one = {1};
  EXPECT_TRUE(device->Write(one, 100, &written).ok());
  EXPECT_FALSE(device->Write(one, 100, &written).ok());
  EXPECT_FALSE(device->Write(one, 100, &written).ok());
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(line->TakeWritten(), Bytes{1});
  EXPECT_EQ(faulty.Calls(UsbCall::kWrite), 3);
}

}  // namespace
}  // namespace qz381::platform
