// qz381-soak: an endurance run through the whole stack. N asynchronous print
// jobs go through the control object to the virtual printer while a fault
// thread opens the cover, ends the paper, silences the printer or pulls the
// line (the printer reads and sends nothing) now and then; every error event
// is answered with retry. At the end it reports what was submitted, completed,
// lost, completed twice and out of order, the longest wait between two
// completions, and the resident memory after job 1000 and at the end.
//
//   qz381-soak [--jobs N] [--window W] [--seed S] [--fault-ms LO:HI]
//
// Not a test: it takes minutes, and its figures go into bench/README.md.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stack.h"
#include "common/opos.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Resident memory of this process (the control object, the service object, the
// port modules and the virtual printer all live in it), in KiB.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

std::string JobText(int id) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "soak job %06d;\n", id);
  return buf;
}

class Listener : public qz381::co::EventListener {
 public:
  void OnOutputComplete(int32_t id) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto now = Clock::now();
      longest_gap_ = std::max(longest_gap_, now - last_);
      last_ = now;
      completions_.push_back(id);
      if (id > 0) ++done_;
    }
    cv_.notify_all();
  }
  void OnError(int32_t rc, int32_t rce, int32_t, int32_t* response) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++errors_[std::to_string(rc) + "/" + std::to_string(rce)];
    *response = qz381::opos::OPOS_ER_RETRY;
  }

  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = Clock::now();
  }
  // Waits until at least `count` jobs completed, or `limit` passed without one.
  bool WaitDone(int count, Clock::duration limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (done_ < count) {
      const int before = done_;
      if (!cv_.wait_for(lock, limit, [&] { return done_ != before; })) return false;
    }
    return true;
  }
  std::vector<int32_t> Completions() {
    std::lock_guard<std::mutex> lock(mutex_);
    return completions_;
  }
  std::map<std::string, int> Errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }
  double LongestGapMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::duration<double, std::milli>(longest_gap_).count();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int32_t> completions_;
  std::map<std::string, int> errors_;
  int done_ = 0;
  Clock::time_point last_;
  Clock::duration longest_gap_{};
};

struct Options {
  int jobs = 10000;
  int window = 64;  // jobs submitted and not yet completed, at most
  unsigned seed = 381;
  int fault_min_ms = 100, fault_max_ms = 600;
};

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help") return false;
    if (!value) return false;
    ++i;
    if (arg == "--jobs") {
      o->jobs = std::atoi(value);
    } else if (arg == "--window") {
      o->window = std::atoi(value);
    } else if (arg == "--seed") {
      o->seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else if (arg == "--fault-ms") {
      if (std::sscanf(value, "%d:%d", &o->fault_min_ms, &o->fault_max_ms) != 2) return false;
    } else {
      return false;
    }
  }
  return o->jobs > 0 && o->window > 0 && o->fault_min_ms > 0 && o->fault_max_ms >= o->fault_min_ms;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: qz381-soak [--jobs N] [--window W] [--seed S] [--fault-ms LO:HI]\n");
    return 2;
  }
  Listener listener;
  qz381::bench::Stack stack({.raw_file = true}, &listener);
  if (!stack.ok()) {
    std::fprintf(stderr, "qz381-soak: the stack did not come up\n");
    return 1;
  }
  qz381::sim::Simulator& printer = stack.printer();
  qz381::co::PosPrinter& control = stack.control();

  // Faults: after a quiet spell of a few times the longest fault, one of four
  // conditions for a while, then everything back to normal.
  std::atomic<bool> stop{false};
  std::map<std::string, int> faults;
  std::thread injector([&] {
    std::mt19937 rng(o.seed);
    std::uniform_int_distribution<int> kind(0, 3), hold(o.fault_min_ms, o.fault_max_ms),
        quiet(o.fault_max_ms, 6 * o.fault_max_ms);
    static const char* const kNames[] = {"cover", "paper", "silence", "disconnect"};
    auto sleep = [&](int ms) {
      for (const auto until = Clock::now() + milliseconds(ms); !stop && Clock::now() < until;)
        std::this_thread::sleep_for(milliseconds(10));
    };
    while (!stop) {
      sleep(quiet(rng));
      if (stop) break;
      const int k = kind(rng);
      ++faults[kNames[k]];
      if (k == 0) printer.SetCoverOpen(true);
      if (k == 1) printer.SetPaper(qz381::sim::Paper::kEnd);
      if (k == 2) printer.SetSilent(true);
      if (k == 3) printer.SetPaused(true);
      sleep(hold(rng));
      printer.SetCoverOpen(false);
      printer.SetPaper(qz381::sim::Paper::kOk);
      printer.SetSilent(false);
      printer.SetPaused(false);
    }
  });

  const auto started = Clock::now();
  listener.Start();
  int submitted = 0, refused = 0;
  long rss_at_1000 = -1;
  bool stalled = false;
  for (int id = 1; id <= o.jobs && !stalled; ++id) {
    // Keep at most `window` jobs outstanding, as an application printing
    // receipts one after another would.
    if (id > o.window) stalled = !listener.WaitDone(id - o.window, std::chrono::minutes(2));
    if (id == 1001) rss_at_1000 = ResidentKiB();
    if (control.PrintNormal(2, JobText(id)) == 0) {
      ++submitted;
    } else {
      ++refused;
    }
    if (id % 1000 == 0) {
      std::fprintf(stderr, "qz381-soak: %d submitted, %.0f s\n", id,
                   std::chrono::duration<double>(Clock::now() - started).count());
    }
  }
  if (!stalled) stalled = !listener.WaitDone(submitted, std::chrono::minutes(2));
  stop = true;
  injector.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const long rss_end = ResidentKiB();

  // What the application saw: each job's OutputComplete once, in OutputID order.
  const std::vector<int32_t> completions = listener.Completions();
  std::vector<int> seen(static_cast<size_t>(o.jobs) + 1, 0);
  int out_of_order = 0, duplicated = 0, last = 0;
  for (const int32_t id : completions) {
    if (id <= 0 || id > o.jobs) continue;  // 0: a retried remainder
    if (seen[static_cast<size_t>(id)]++ > 0) ++duplicated;
    if (id < last) ++out_of_order;
    last = std::max(last, static_cast<int>(id));
  }
  int completed = 0;
  for (int id = 1; id <= o.jobs; ++id) completed += seen[static_cast<size_t>(id)] > 0;

  // What the printer received: each job's text, the first time in order; more
  // than once only where an error was answered with retry.
  stack.printer().Stop();
  std::ifstream raw(stack.RawPath(), std::ios::binary);
  std::stringstream buffer;
  buffer << raw.rdbuf();
  const std::string text = buffer.str();
  int missing_at_printer = 0, printer_out_of_order = 0, repeated_at_printer = 0;
  size_t previous = 0;
  for (int id = 1; id <= submitted; ++id) {
    const std::string job = JobText(id);
    const size_t at = text.find(job);
    if (at == std::string::npos) {
      ++missing_at_printer;
      continue;
    }
    if (at < previous) ++printer_out_of_order;
    previous = at;
    if (text.find(job, at + job.size()) != std::string::npos) ++repeated_at_printer;
  }

  int error_events = 0;
  std::string error_kinds;
  for (const auto& [kind, n] : listener.Errors()) {
    error_events += n;
    error_kinds += " " + kind + " x" + std::to_string(n);
  }
  std::string fault_kinds;
  for (const auto& [kind, n] : faults) fault_kinds += " " + kind + " x" + std::to_string(n);

  std::printf("qz381-soak: %d jobs, window %d, seed %u, faults held %d-%d ms\n", o.jobs, o.window,
              o.seed, o.fault_min_ms, o.fault_max_ms);
  std::printf("  run time             %.0f s%s\n", seconds, stalled ? " (stalled: gave up)" : "");
  std::printf("  submitted            %d (refused %d)\n", submitted, refused);
  std::printf("  completed            %d\n", completed);
  std::printf("  lost                 %d (no OutputComplete)\n", submitted - completed);
  std::printf("  duplicated           %d (OutputComplete twice)\n", duplicated);
  std::printf("  out of order         %d (OutputComplete)\n", out_of_order);
  std::printf("  at the printer       %d missing, %d out of order, %d sent again by a retry\n",
              missing_at_printer, printer_out_of_order, repeated_at_printer);
  std::printf("  faults               %s\n", fault_kinds.empty() ? " none" : fault_kinds.c_str());
  std::printf("  error events (retry) %d:%s\n", error_events, error_kinds.c_str());
  std::printf("  longest stall        %.0f ms between two OutputComplete events\n",
              listener.LongestGapMs());
  std::printf("  resident memory      %ld KiB after job 1000, %ld KiB at the end\n", rss_at_1000,
              rss_end);
  const bool clean = !stalled && submitted == o.jobs && completed == submitted && duplicated == 0 &&
                     out_of_order == 0 && missing_at_printer == 0 && printer_out_of_order == 0;
  return clean ? 0 : 1;
}
