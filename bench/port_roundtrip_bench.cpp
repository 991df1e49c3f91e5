// Round trip of one real-time status request (10 04 03 -> one reply byte)
// through the com port object over a pseudo-terminal, with a thread on the
// master side answering as the printer does. Reports the median and the 99th
// percentile of the round trips as counters (microseconds).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/serial.h"
#include "ports/com/serial_port.h"

namespace {

using namespace qz381;

class AnsweringPrinter {
 public:
  AnsweringPrinter() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    slave_ = ::ptsname(master_);
    thread_ = std::thread([this] {
      int seen = 0;
      while (!stop_) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN)) continue;
        uint8_t chunk[64];
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        for (ssize_t i = 0; i < n; ++i) {
          const uint8_t expect[] = {0x10, 0x04, 0x03};
          seen = chunk[i] == expect[seen] ? seen + 1 : (chunk[i] == 0x10 ? 1 : 0);
          if (seen == 3) {
            seen = 0;
            const uint8_t reply = 0x12;
            [[maybe_unused]] ssize_t w = ::write(master_, &reply, 1);
          }
        }
      }
    });
  }
  ~AnsweringPrinter() {
    stop_ = true;
    thread_.join();
    ::close(master_);
  }
  const std::string& slave() const { return slave_; }

 private:
  int master_;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

void BM_RealTimeStatusRoundTrip(benchmark::State& state) {
  AnsweringPrinter printer;
  auto registry = platform::NewMemoryRegistry();
  registry->SetValue(platform::Hive::kLocalMachine, platform::kSerialCommKey, printer.slave(),
                     platform::RegValue::Text("COM61"));
  auto serial = platform::NewSystemSerialPorts(*registry);
  ports::SerialPort port(*serial, platform::SystemClock(), 10000);
  ports::DeviceOption option = ports::DefaultDeviceOption();
  ports::SetPortName(option, "COM61");
  option.baudRate = static_cast<uint32_t>(state.range(0));
  port.SetDeviceOption(option);
  if (port.OpenPort() != 1) {
    state.SkipWithError("cannot open the pseudo-terminal");
    return;
  }
  const uint8_t request[] = {0x10, 0x04, 0x03};
  std::vector<double> micros;
  int64_t failures = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    port.Clear();
    uint8_t reply = 0;
    const bool ok = port.Write(request, 3) == 3 && port.Read(&reply, 1, 1000) == 1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    if (!ok) ++failures;
    micros.push_back(took.count() * 1e6);
  }
  port.ClosePort();
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
  state.counters["failures"] = static_cast<double>(failures);
}
// The baud rate only sets how long the reader lets a chunk gather.
BENCHMARK(BM_RealTimeStatusRoundTrip)
    ->Arg(9600)
    ->Arg(115200)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
