// Latencies through the whole stack on the virtual printer: the control object,
// the service object, Vexlink and com over a pseudo-terminal.
//   BM_PrintToOutputComplete: asynchronous PrintNormal of a 1 KB receipt on a
//     type-2 printer until its OutputComplete event reaches the application.
//   BM_PrintToOutputCompleteAt115200: the same with the virtual printer paced to
//     115 200 baud (10 bits a byte), against the time the bytes the job sent
//     need on such a line (wire_ms; over_wire_ms is the median of the excess).
//   BM_StatusToEvent: a status block leaving the printer (cover opened or
//     closed) until SOStatusUpdate reaches the application.
// Both report the median and the 99th percentile of the iterations as counters;
// the fixed waits of the service (pacing, the 80 ms status poll) bound them
// from below.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_stack.h"

namespace {

using Clock = std::chrono::steady_clock;

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
Waiter& TheWaiter() {
  static Waiter waiter;
  return waiter;
}
struct Stack {
  Stack() : stack({.keep_in_memory = true}, &TheWaiter()) {}
  qz381::bench::Stack stack;
  Waiter& waiter = TheWaiter();
  qz381::sim::Simulator* printer = stack.ok() ? &stack.printer() : nullptr;
  qz381::co::PosPrinter* co = &stack.control();
  bool ok = stack.ok();
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

std::string Receipt1K() {
  std::string receipt;
  while (receipt.size() < 1024) receipt += "Item                          1.00\n";
  receipt.resize(1024);
  return receipt;
}

// One asynchronous 1 KB job to its OutputComplete, in ms; `sent` gets the bytes
// the printer received meanwhile.
double PrintOne(Stack& s, const std::string& receipt, size_t* sent) {
  const size_t before = s.printer->RawBytes().size();
  const auto start = Clock::now();
  s.co->PrintNormal(2, receipt);
  int32_t id = 0;
  s.co->GetNumber("OutputID", &id);
  const auto done = s.waiter.Wait(Waiter::kOutput, id);
  *sent = s.printer->RawBytes().size() - before;
  return std::chrono::duration<double, std::milli>(done - start).count();
}

void BM_PrintToOutputComplete(benchmark::State& state) {
  Stack& s = TheStack();
  if (!s.ok) {
    state.SkipWithError("the stack did not come up");
    return;
  }
  const std::string receipt = Receipt1K();
  std::vector<double> ms;
  for (auto _ : state) {
    size_t sent = 0;
    const double took = PrintOne(s, receipt, &sent);
    state.SetIterationTime(took / 1000.0);
    ms.push_back(took);
  }
  ReportPercentiles(state, ms);
}
BENCHMARK(BM_PrintToOutputComplete)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

void BM_PrintToOutputCompleteAt115200(benchmark::State& state) {
  Stack& s = TheStack();
  if (!s.ok) {
    state.SkipWithError("the stack did not come up");
    return;
  }
  constexpr double kBaud = 115200;
  s.printer->SetBaud(static_cast<uint32_t>(kBaud));
  const std::string receipt = Receipt1K();
  std::vector<double> ms, over;
  double wire_ms = 0;
  for (auto _ : state) {
    size_t sent = 0;
    const double took = PrintOne(s, receipt, &sent);
    wire_ms = static_cast<double>(sent) * 10 * 1000 / kBaud;
    state.SetIterationTime(took / 1000.0);
    ms.push_back(took);
    over.push_back(took - wire_ms);
  }
  s.printer->SetBaud(0);
  ReportPercentiles(state, ms);
  if (!over.empty()) {
    std::sort(over.begin(), over.end());
    state.counters["wire_ms"] = wire_ms;
    state.counters["over_wire_ms"] = over[over.size() / 2];
  }
}
BENCHMARK(BM_PrintToOutputCompleteAt115200)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

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
