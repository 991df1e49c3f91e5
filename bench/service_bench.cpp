// Latencies through the whole stack on the virtual printer: the control object,
// the service object, Vexlink and com over a pseudo-terminal.
//   BM_PrintToOutputComplete: asynchronous PrintNormal of a 1 KB receipt on a
//     type-2 printer until its OutputComplete event reaches the application.
//   BM_StatusToEvent: a status block leaving the printer (cover opened or
//     closed) until SOStatusUpdate reaches the application.
// Both report the median and the 99th percentile of the iterations as counters;
// the fixed waits of the service (pacing, the 80 ms status poll) bound them
// from below.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "co/pos_printer.h"
#include "platform/registry.h"
#include "setup/install.h"
#include "tools/sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr char kDevice[] = "QZ381Bench";
constexpr char kPort[] = "COM39";

class Waiter : public qz381::co::EventListener {
 public:
  void OnOutputComplete(int32_t id) override { Note(kOutput, id); }
  void OnStatusUpdate(int32_t data) override { Note(kStatus, data); }

  enum Kind { kOutput, kStatus };
  // The time the event arrived, or the deadline when it did not.
  Clock::time_point Wait(Kind kind, int32_t value) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(10), [&] { return kind_ == kind && value_ == value; });
    return at_;
  }

 private:
  void Note(Kind kind, int32_t value) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      kind_ = kind;
      value_ = value;
      at_ = Clock::now();
    }
    cv_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  Kind kind_ = kOutput;
  int32_t value_ = -1;
  Clock::time_point at_;
};

// One installation, one virtual printer and one enabled device for the process.
struct Stack {
  Stack() {
    dir = fs::temp_directory_path() /
          ("qz381-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    setenv("QZ381_REGISTRY", (dir / "registry.reg").c_str(), 1);
    auto& reg = qz381::platform::DefaultRegistry();
    qz381::setup::InstallLayout layout;
    layout.install_dir = QZ381_INSTALL_FILES;
    layout.vexlink = QZ381_VEXLINK_MODULE;
    layout.com = QZ381_COM_MODULE;
    layout.usb = (dir / "no-usb").string();
    for (const auto& st :
         {qz381::setup::WriteProductKey(reg, layout),
          qz381::setup::RegisterServiceObject(QZ381_SO_MODULE),
          qz381::setup::CreateDevice(reg, QZ381_INSTALL_FILES, kDevice, kPort, true)})
      if (!st.ok()) std::fprintf(stderr, "service_bench: %s\n", st.ToString().c_str());
    qz381::sim::SimulatorOptions options;
    options.port_name = kPort;
    options.keep_in_memory = false;
    std::string error;
    printer = qz381::sim::Simulator::Start(options, &error);
    co = std::make_unique<qz381::co::PosPrinter>();  // after the registry is chosen
    co->AddListener(&waiter);
    int32_t rc = 0;
    ok = printer && co->Open(kDevice) == 0 && co->ClaimDevice(1000) == 0 &&
         co->SetNumber("DeviceEnabled", 1, &rc) && rc == 0 && co->SetNumber("AsyncMode", 1, &rc);
  }
  ~Stack() {
    co->ReleaseDevice();
    co->Close();
    co.reset();
    if (printer) printer->Stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  std::unique_ptr<qz381::sim::Simulator> printer;
  Waiter waiter;
  std::unique_ptr<qz381::co::PosPrinter> co;
  bool ok = false;
};

Stack& TheStack() {
  static Stack stack;
  return stack;
}

void ReportPercentiles(benchmark::State& state, std::vector<double>& ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

void BM_PrintToOutputComplete(benchmark::State& state) {
  Stack& s = TheStack();
  if (!s.ok) {
    state.SkipWithError("the stack did not come up");
    return;
  }
  std::string receipt;
  while (receipt.size() < 1024) receipt += "Item                          1.00\n";
  receipt.resize(1024);
  std::vector<double> ms;
  for (auto _ : state) {
    auto start = Clock::now();
    s.co->PrintNormal(2, receipt);
    int32_t id = 0;
    s.co->GetNumber("OutputID", &id);
    auto done = s.waiter.Wait(Waiter::kOutput, id);
    double took = std::chrono::duration<double, std::milli>(done - start).count();
    state.SetIterationTime(took / 1000.0);
    ms.push_back(took);
  }
  ReportPercentiles(state, ms);
}
BENCHMARK(BM_PrintToOutputComplete)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_StatusToEvent(benchmark::State& state) {
  Stack& s = TheStack();
  if (!s.ok) {
    state.SkipWithError("the stack did not come up");
    return;
  }
  std::vector<double> ms;
  bool open = false;
  for (auto _ : state) {
    open = !open;
    auto start = Clock::now();
    s.printer->SetCoverOpen(open);
    auto done = s.waiter.Wait(Waiter::kStatus, open ? 11 : 12);
    double took = std::chrono::duration<double, std::milli>(done - start).count();
    state.SetIterationTime(took / 1000.0);
    ms.push_back(took);
  }
  if (open) s.printer->SetCoverOpen(false);
  ReportPercentiles(state, ms);
}
BENCHMARK(BM_StatusToEvent)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
