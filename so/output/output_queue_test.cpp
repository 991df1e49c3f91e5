#include "so/output/output_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock_fake.h"
#include "platform/trace.h"
#include "so/output/test_bytes.h"

namespace qz381::output {

bool operator==(ResultPair a, ResultPair b) {
  return a.result == b.result && a.extended == b.extended;
}
void PrintTo(ResultPair p, std::ostream* os) {
  *os << p.result << "/" << p.extended;
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;
using testing::Hex;

const std::string kRequest = Hex("10 04 03");  // the real-time status request
// The queue's fixed times, as the clock sees them.
constexpr uint64_t kConfirmLimitMs = 300000, kRetryDelayMs = 1000;
const std::string kHeader = Hex("1B 4C 1B 54 00");
constexpr ResultPair kOk{0, 0}, kCoverOpen{114, 201}, kPaperEmpty{114, 203};

// How much of each write the printer takes (by the bytes offered and the call's
// number among all writes).
using Accept = std::function<int32_t(std::string_view bytes, int call)>;
int32_t All(std::string_view b, int) {
  return static_cast<int32_t>(b.size());
}
Accept AtMost(int32_t n) {
  return [n](std::string_view b, int) { return std::min(n, All(b, 0)); };
}
Accept NoneOf(std::string bytes) {
  return [bytes](std::string_view b, int) { return b == bytes ? 0 : All(b, 0); };
}

// Everything the queue did to the device, in order.
struct Record {
  Strings writes;                  // each call's bytes as offered
  std::vector<uint64_t> write_at;  // on the test's clock
  std::vector<int32_t> states;     // changes only
  Strings events;                  // "OutputComplete 1", "Error 114 201 1 11", "StatusUpdate 1001"
  uint64_t error_at = 0;
  int reads = 0;          // ReadPortBytes calls
  int status_checks = 0;  // StatusCheck calls
  int rotation_resets = 0, answers = 0, unlocked_writes = 0, prologues_not_sent = 0, discards = 0;
  int write_aborts = 0;  // AbortPortWrites calls
};

// A printer behind a port: answers the status request with one byte unless
// silent, accepts what `accept` allows of each write, and answers error events
// as scripted (or when the test calls Answer).
class FakeDevice final : public OutputDevice {
 public:
  explicit FakeDevice(platform::Clock& clock) : clock_(clock) {}
  ~FakeDevice() override {
    for (std::thread& t : helpers_) t.join();
    EXPECT_EQ(rec_.unlocked_writes, 0) << "a write outside the port lock";
  }
  template <typename F>
  void Set(F change) {
    std::lock_guard lock(mu_);
    change(*this);
  }
  Record Snap() {
    std::lock_guard lock(mu_);
    return rec_;
  }
  bool WaitFor(const std::function<bool(const Record&)>& done, Clock::duration limit = 5s) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, limit, [&] { return done(rec_); });
  }
  // The next error event is answered from another thread after `delay`; `first`
  // runs there before the answer (a cover closing, a printer waking up).
  void ScriptResponse(int32_t response, Clock::duration delay = 0s,
                      std::function<void()> first = {}) {
    std::lock_guard lock(mu_);
    scripted_.push_back({response, delay, std::move(first)});
  }
  // Sets the printer's status; answers how many status checks came before, so
  // that a test can wait for the first check that saw it.
  int SetStatus(ResultPair value) {
    std::lock_guard lock(mu_);
    status = value;
    return rec_.status_checks;
  }
  void Answer(int32_t response) {
    Change([](Record& r) { ++r.answers; });
    Set([&](FakeDevice& d) { d.response_value_ = response; });
    response_.Set();
  }

  bool claimed = true, async = true, answering = true;
  uint32_t losses = 0;  // times the port lost its printer (a network connection)
  std::string port = "COM1", prologue = "P";
  uint32_t chunk = 64;
  ResultPair status;
  Accept accept;  // runs unlocked

  bool Claimed() override { return Get(claimed); }
  bool AsyncMode() override { return Get(async); }
  int32_t PrinterType() override { return 0; }  // no pacing
  std::string PortName() override { return Get(port); }
  uint32_t PortLosses() override { return Get(losses); }
  uint32_t ChunkSize() override { return Get(chunk); }
  std::string BuildPrologue() override { return Get(prologue); }
  std::string PageModeHeader() override { return kHeader; }
  ResultPair StatusCheck() override {
    ResultPair now;
    Change([&](Record& r) {
      ++r.status_checks;
      now = status;
    });
    return now;
  }
  void ResetRotation() override {
    Change([](Record& r) { ++r.rotation_resets; });
  }
  void PrologueNotSent() override {
    Change([](Record& r) { ++r.prologues_not_sent; });
  }
  void OutputDiscarded() override {
    Change([](Record& r) { ++r.discards; });
  }
  bool LockPort(int32_t) override {
    port_mu_.lock();
    Set([](FakeDevice& d) { d.port_locked_ = true; });
    return true;
  }
  void UnlockPort() override {
    Set([](FakeDevice& d) { d.port_locked_ = false; });
    port_mu_.unlock();
  }
  int32_t WritePortBytes(const uint8_t* bytes, int32_t count) override {
    if (count == 0) return 0;  // carries nothing; not worth a record
    std::string offered(reinterpret_cast<const char*>(bytes), count);
    Accept filter;
    int call;
    {
      std::lock_guard lock(mu_);
      filter = accept;
      call = static_cast<int>(rec_.writes.size());
      rec_.writes.push_back(offered);
      rec_.write_at.push_back(clock_.NowMs());
      if (!port_locked_) ++rec_.unlocked_writes;
      if (offered == kRequest && answering) reply_ready_ = true;
    }
    cv_.notify_all();
    return filter ? filter(offered, call) : count;
  }
  int32_t ReadPortBytes(uint8_t* buffer, int32_t, uint32_t timeout_ms) override {
    std::unique_lock lock(mu_);
    ++rec_.reads;
    cv_.notify_all();
    // A silent printer costs a short wait rather than the full read period.
    auto limit = std::min<Clock::duration>(std::chrono::milliseconds(timeout_ms), 20ms);
    if (!cv_.wait_for(lock, limit, [&] { return reply_ready_; })) return 0;
    reply_ready_ = false;
    buffer[0] = 0x12;
    return 1;
  }
  void ClearPort() override {
    Set([](FakeDevice& d) { d.reply_ready_ = false; });
  }
  void AbortPortWrites() override {
    Change([](Record& r) { ++r.write_aborts; });
  }
  void SetState(int32_t state) override {
    Change([&](Record& r) {
      if (r.states.empty() || r.states.back() != state) r.states.push_back(state);
    });
  }
  void PostOutputComplete(int32_t id) override {
    Change([&](Record& r) { r.events.push_back("OutputComplete " + std::to_string(id)); });
  }
  void PostIdle() override {
    Change([](Record& r) { r.events.push_back("StatusUpdate 1001"); });
  }
  void PostError(int32_t rc, int32_t rce, int32_t locus, int32_t response) override {
    response_.Reset();
    std::lock_guard lock(mu_);
    rec_.events.push_back("Error " + std::to_string(rc) + " " + std::to_string(rce) + " " +
                          std::to_string(locus) + " " + std::to_string(response));
    rec_.error_at = clock_.NowMs();
    cv_.notify_all();
    if (scripted_.empty()) return;
    helpers_.emplace_back([this, s = std::move(scripted_.front())] {
      std::this_thread::sleep_for(s.delay);
      if (s.first) s.first();
      Answer(s.response);
    });
    scripted_.erase(scripted_.begin());
  }
  bool WaitErrorResponse(platform::Event& stop, int32_t* response) override {
    platform::Event* wake[] = {&response_, &stop};
    if (platform::WaitAny(wake, platform::kInfinite) != 0) return false;
    *response = Get(response_value_);
    return true;
  }

 private:
  struct Scripted {
    int32_t response;
    Clock::duration delay;
    std::function<void()> first;
  };
  template <typename T>
  T Get(const T& field) {
    std::lock_guard lock(mu_);
    return field;
  }
  template <typename F>
  void Change(F change) {
    {
      std::lock_guard lock(mu_);
      change(rec_);
    }
    cv_.notify_all();
  }

  platform::Clock& clock_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::mutex port_mu_;
  bool port_locked_ = false, reply_ready_ = false;
  Record rec_;
  int32_t response_value_ = 0;
  platform::Event response_{true, false};
  std::vector<Scripted> scripted_;
  std::vector<std::thread> helpers_;
};

// Trace lines as written, without the tick count and thread number in front.
class TraceLines {
 public:
  TraceLines() {
    platform::SetTraceCapture([this](std::string_view line) {
      for (int field = 0; field < 2; ++field) line.remove_prefix(line.find(' ') + 1);
      std::lock_guard lock(mu_);
      lines_.emplace_back(line);
    });
  }
  ~TraceLines() { platform::SetTraceCapture(nullptr); }
  Strings Take() {
    std::lock_guard lock(mu_);
    return std::move(lines_);
  }

 private:
  std::mutex mu_;
  Strings lines_;
};

class OutputQueueTest : public ::testing::Test {
 protected:
  // Waits for `done`, then ends the thread so that nothing more can arrive.
  void Settle(const std::function<bool(const Record&)>& done) {
    EXPECT_TRUE(fake.WaitFor(done)) << "timed out";
    queue.Stop();
  }
  static bool Idle(const Record& r) { return !r.states.empty() && r.states.back() == 2; }
  static bool RequestSent(const Record& r) {
    return std::find(r.writes.begin(), r.writes.end(), kRequest) != r.writes.end();
  }
  // Once the status request is out, moves the clock past the confirmation limit.
  void PassTheConfirmationLimit(FakeDevice& device) {
    ASSERT_TRUE(device.WaitFor(RequestSent));
    clock.Advance(kConfirmLimitMs + 1);
  }
  static std::function<bool(const Record&)> Events(size_t n) {
    return [n](const Record& r) { return r.events.size() >= n; };
  }

  // Moved only by the tests: a limit passes when a test says so, never because
  // a loaded machine was slow.
  platform::FakeClock clock;
  FakeDevice fake{clock};  // outlives the queue, whose destructor stops the thread
  OutputQueue queue{fake, clock};
};

TEST(ErrorText, NamesEveryResult) {
  // clang-format off
  const std::vector<std::pair<ResultPair, std::string>> cases = {
      {{0, 0}, "Success (0/0)"},             {{101, 0}, "Closed (101/0)"},
      {{102, 0}, "Claimed (102/0)"},         {{103, 0}, "Notclaimed (103/0)"},
      {{104, 0}, "Noservice (104/0)"},       {{105, 0}, "Disabled (105/0)"},
      {{106, 0}, "Illegal (106/0)"},         {{107, 0}, "Nohardware (107/0)"},
      {{108, 0}, "Offline (108/0)"},         {{109, 0}, "Noexist (109/0)"},
      {{110, 0}, "Exists (110/0)"},          {{111, 401}, "Unrecoverable failure (111/401)"},
      {{111, 402}, "Knife cut failure (111/402)"}, {{111, 403}, "Mechanical failure (111/403)"},
      {{111, 410}, "Failure (111/410)"},     {{112, 0}, "Timeout (112/0)"},
      {{113, 0}, "Busy (113/0)"},            {{114, 201}, "Cover Open (114/201)"},
      {{114, 203}, "Paper Empty (114/203)"}, {{114, 211}, "Cartridge Removed (114/211)"},
      {{114, 212}, "Cartridge Empty (114/212)"}, {{114, 213}, "Head Cleaning (114/213)"},
      {{114, 0}, "Extended Error (114/0)"},  {{999, 0}, "Unknown error value (999/0)"},
      {{-1, 401}, "Unknown error value (-1/401)"},
  };
  // clang-format on
  for (const auto& [pair, text] : cases) EXPECT_EQ(ErrorText(pair.result, pair.extended), text);
}

// --- routing ----------------------------------------------------------------

TEST_F(OutputQueueTest, SynchronousRequestIsSentAtOnce) {
  struct Case {
    const char* name;
    std::function<void(FakeDevice&)> setup;
    Strings list, writes;
    ResultPair result;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"empty strings skipped", [](FakeDevice&) {}, {"A", "", "B"}, {"P", "A", "B"}, kOk},
      {"cover open: nothing written", [](FakeDevice& d) { d.status = kCoverOpen; },
       {"A"}, {}, kCoverOpen},
      {"not claimed: nothing written, success",
       [](FakeDevice& d) { d.claimed = false, d.status = kCoverOpen; }, {"A"}, {}, kOk},
      {"first failure stops the job (B: length/C + 2 tries)",
       [](FakeDevice& d) { d.accept = NoneOf("B"); },
       {"A", "B", "C"}, {"P", "A", "B", "B"}, {111, 410}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(clock);
    c.setup(device);
    OutputQueue q(device, clock);
    EXPECT_EQ(q.SubmitOutput(false, c.list), c.result);
    EXPECT_EQ(device.Snap().writes, c.writes);
    EXPECT_EQ(q.OutputID(), 0);
    // A refused prologue gives its printer settings back for the next job.
    EXPECT_EQ(device.Snap().prologues_not_sent, c.writes.empty() && c.result != kOk ? 1 : 0);
  }
}

TEST_F(OutputQueueTest, TransactionCollectsWithoutSendingOrNumbering) {
  queue.BeginTransaction();
  EXPECT_EQ(queue.SubmitOutput(true, {"A"}), kOk);
  EXPECT_EQ(queue.SubmitOutput(false, {"B", "C"}), kOk);
  queue.BeginTransaction();  // already in one: the buffer stays
  EXPECT_EQ(queue.OutputID(), 0);
  EXPECT_EQ(fake.Snap().writes, Strings{});
  EXPECT_EQ(queue.EndTransaction(true), kOk);
  EXPECT_FALSE(queue.InTransaction());
  EXPECT_EQ(queue.OutputID(), 1);
  queue.Start();
  Settle(Events(1));
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", "A", "B", "C", kRequest}));
  EXPECT_EQ(fake.Snap().events, Strings{"OutputComplete 1"});
}

TEST_F(OutputQueueTest, PageModeHeaderPrecedesTheFirstAdditionOnly) {
  queue.EnterPageMode();
  queue.SubmitOutput(true, {"A"});
  queue.PageHeaderNeeded();  // the buffer is not empty: no second header
  queue.SubmitOutput(false, {"B"});
  EXPECT_EQ(queue.OutputID(), 0);
  EXPECT_EQ(fake.Snap().writes, Strings{});
  const std::string print = Hex("0C 00 00");
  EXPECT_EQ(queue.PrintPage(true), kOk);  // keeps the page for another print
  EXPECT_TRUE(queue.PageModeActive());
  queue.SubmitOutput(false, {"C"});
  EXPECT_EQ(queue.PrintPage(false), kOk);
  EXPECT_FALSE(queue.PageModeActive());
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", kHeader, "A", "B", "P", print,  //
                                         "P", kHeader, "A", "B", "C", "P", print}));
}

// --- writing ----------------------------------------------------------------

TEST_F(OutputQueueTest, WritesInChunksWithBoundedRetries) {
  const std::string fail =
      "Write ERror *************************************************---->Fail ";
  auto shortBy = [](std::string chunk, int n) {
    return "EEEEWrite Error PreSize :" + chunk + ", ResultSize :" + std::to_string(n);
  };
  struct Case {
    const char* name;
    std::string port, data;
    Accept accept;
    Strings writes, traces;
    ResultPair result;
  };
  const Accept recovers = [](std::string_view b, int call) { return call == 0 ? 1 : All(b, 0); };
  const ResultPair failed{111, 410};
  // clang-format off
  const std::vector<Case> cases = {
      {"chunks of C", "COM1", "abcde", All, {"ab", "cd", "e"}, {}, kOk},
      {"short write goes on where it stopped", "COM1", "abcde", recovers,
       {"ab", "bc", "de"}, {shortBy("2", 1)}, kOk},
      {"at most length/C + 2 writes", "COM1", "abcde", AtMost(1),
       {"ab", "bc", "cd", "de"}, Strings(4, shortBy("2", 1)), failed},
      {"five short writes end it", "COM1", std::string(20, 'x'), AtMost(0), Strings(5, "xx"),
       {shortBy("2", 0), shortBy("2", 0), shortBy("2", 0), shortBy("2", 0), shortBy("2", 0), fail},
       failed},
      {"two-character port name: one call", "L1", "abcde", All, {"abcde"}, {}, kOk},
      {"two-character port name: no retry", "L1", "abcde", AtMost(3), {"abcde"}, {}, failed},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(clock);
    device.port = c.port;
    device.chunk = 2;
    device.prologue = "";
    device.accept = c.accept;
    OutputQueue q(device, clock);
    TraceLines trace;
    EXPECT_EQ(q.SubmitOutput(false, {c.data}), c.result);
    EXPECT_EQ(device.Snap().writes, c.writes);
    EXPECT_EQ(trace.Take(), c.traces);
  }
}

TEST_F(OutputQueueTest, WritabilityDependsOnStatusPortAndMode) {
  const std::string usb = "\\\\?\\usb#vid_0dd4&pid_0195";
  struct Case {
    std::string port;
    bool async;
    ResultPair status;
    bool proceeds;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"COM1", false, kOk, true},                {"COM1", false, {111, 403}, false},
      {"COM1", false, kCoverOpen, false},        {"COM1", false, kPaperEmpty, false},
      {"COM1", false, {107, 0}, false},          {"ESDPRT001", false, {111, 401}, false},
      {usb, false, {111, 403}, true},            {usb, false, {107, 0}, true},
      {usb, false, kCoverOpen, false},           {usb, false, kPaperEmpty, false},
      {usb, true, {111, 402}, false},            {usb, true, kOk, true},
      {"Eth:10.0.0.9", false, kCoverOpen, true}, {"Eth:10.0.0.9", true, {111, 401}, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port + (c.async ? " async " : " sync ") + std::to_string(c.status.extended));
    FakeDevice device(clock);
    device.port = c.port;
    device.async = c.async;
    device.status = c.status;
    device.prologue = "";
    OutputQueue q(device, clock);
    const ResultPair r = q.SubmitOutput(false, {"X"});
    EXPECT_EQ(device.Snap().writes, c.proceeds ? Strings{"X"} : Strings{});
    if (!c.proceeds) {
      EXPECT_EQ(r, c.status);
    }
  }
}

// --- the output thread --------------------------------------------------------

TEST_F(OutputQueueTest, JobsQueuedTogetherAreConfirmedOnce) {
  for (const char* s : {"A", "B", "C"}) {
    EXPECT_EQ(queue.SubmitOutput(true, {s}), kOk);
    EXPECT_EQ(queue.OutputID(), s[0] - 'A' + 1);
  }
  EXPECT_EQ(fake.Snap().writes, Strings{});  // queued until the thread runs
  queue.Start();
  Settle([](const Record& r) { return r.events.size() == 3 && Idle(r); });
  const Record r = fake.Snap();
  EXPECT_EQ(r.writes, (Strings{"P", "A", "P", "B", "P", "C", kRequest}));
  EXPECT_EQ(r.events, (Strings{"OutputComplete 1", "OutputComplete 2", "OutputComplete 3"}));
  EXPECT_EQ(r.states, (std::vector<int32_t>{3, 2}));
}

TEST_F(OutputQueueTest, BatchIsCutAtTenJobs) {
  Strings writes, events;
  for (int i = 1; i <= 12; ++i) {
    queue.SubmitOutput(true, {std::string(1, char('a' + i))});
    writes.insert(writes.end(), {"P", std::string(1, char('a' + i))});
    if (i == 10 || i == 12) writes.push_back(kRequest);
    events.push_back("OutputComplete " + std::to_string(i));
  }
  queue.Start();
  Settle(Events(12));
  EXPECT_EQ(fake.Snap().writes, writes);
  EXPECT_EQ(fake.Snap().events, events);
}

TEST_F(OutputQueueTest, SerialParallelAndNetworkPortsAreConfirmed) {
  for (const std::string port :
       {"COM3", "LPT1", "192.168.7.31", "USB001", "Eth:10.0.0.9", "\\\\?\\usb#vid"}) {
    SCOPED_TRACE(port);
    FakeDevice device(clock);
    device.port = port;
    OutputQueue q(device, clock);
    q.SubmitOutput(true, {"A"});
    q.Start();
    EXPECT_TRUE(device.WaitFor(Events(1)));
    q.Stop();
    const bool confirmed =
        port.starts_with("COM") || port.starts_with("LPT") || port == "192.168.7.31";
    EXPECT_EQ(device.Snap().writes, (confirmed ? Strings{"P", "A", kRequest} : Strings{"P", "A"}));
    EXPECT_EQ(device.Snap().events, Strings{"OutputComplete 1"});
  }
}

// Each failure raises one error event; answering clear discards the job.
TEST_F(OutputQueueTest, FailureRaisesAnErrorEventAndClearDiscards) {
  struct Case {
    const char* name;
    std::function<void(FakeDevice&)> setup;
    std::string event;
    bool times_out = false;
  };
  auto status = [](ResultPair p) { return [p](FakeDevice& d) { d.status = p; }; };
  const std::vector<Case> cases = {
      {"cover open", status(kCoverOpen), "Error 114 201 1 11"},
      {"paper empty", status(kPaperEmpty), "Error 114 203 1 11"},
      {"mechanical failure", status({111, 403}), "Error 111 403 1 11"},
      {"no power", status({107, 0}), "Error 107 0 1 11"},
      {"short write", [](FakeDevice& d) { d.accept = NoneOf("A"); }, "Error 111 410 1 11"},
      {"silent printer", [](FakeDevice& d) { d.answering = false; }, "Error 112 0 1 11", true},
      {"cover opened while confirming",
       [](FakeDevice& d) {
         d.answering = false;
         d.accept = [&d](std::string_view b, int) {
           if (b == kRequest) d.Set([](FakeDevice& f) { f.status = kCoverOpen; });
           return All(b, 0);
         };
       },
       "Error 112 201 1 11"},
      // The answer came over a connection made after the job went out: the job
      // may have been lost with the old one.
      {"network connection lost under the job",
       [](FakeDevice& d) {
         d.port = "192.168.7.31";
         d.accept = [&d](std::string_view b, int) {
           if (b == "A") d.Set([](FakeDevice& f) { ++f.losses; });
           return All(b, 0);
         };
       },
       "Error 112 0 1 11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(clock);
    c.setup(device);
    OutputQueue q(device, clock);
    q.SubmitOutput(true, {"A"});
    q.Start();
    if (c.times_out) {
      ASSERT_NO_FATAL_FAILURE(PassTheConfirmationLimit(device));
    }
    ASSERT_TRUE(device.WaitFor(Events(1)));
    EXPECT_EQ(device.Snap().events, Strings{c.event});
    EXPECT_EQ(device.Snap().states, (std::vector<int32_t>{3, 4}));
    EXPECT_EQ(q.ErrorLevel(), 2);
    EXPECT_EQ(q.ErrorStation(), 2);
    int32_t rc = 0, rce = 0;
    std::sscanf(c.event.c_str(), "Error %d %d", &rc, &rce);
    EXPECT_EQ(q.ErrorString(), ErrorText(rc, rce));
    device.Answer(12);
    EXPECT_TRUE(device.WaitFor(Idle));
    q.Stop();
    const Record r = device.Snap();
    EXPECT_EQ(r.events, Strings{c.event});  // no OutputComplete
    EXPECT_EQ(r.states, (std::vector<int32_t>{3, 4, 2}));
    EXPECT_EQ(r.rotation_resets, 1);
    EXPECT_EQ(q.ErrorLevel(), 1);
    EXPECT_EQ(q.ErrorStation(), 0);
    EXPECT_EQ(q.ErrorString(), "");
  }
}

TEST_F(OutputQueueTest, RetryResendsAfterALineFeedNoSoonerThanTheDelay) {
  fake.status = kCoverOpen;
  int32_t level = 0, station = 0;
  std::string text;
  fake.ScriptResponse(11, 20ms, [&] {  // the cover closes, then the answer
    level = queue.ErrorLevel();
    station = queue.ErrorStation();
    text = queue.ErrorString();
    fake.Set([](FakeDevice& d) { d.status = kOk; });
  });
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  ASSERT_TRUE(clock.WaitForWaiters(1));  // the pause before the retry
  clock.Advance(kRetryDelayMs - 1);
  EXPECT_EQ(fake.Snap().writes, Strings{});
  clock.Advance(1);
  Settle([](const Record& r) { return r.events.size() == 3 && Idle(r); });
  const Record r = fake.Snap();
  EXPECT_EQ(r.events, (Strings{"Error 114 201 1 11", "OutputComplete 0", "OutputComplete 1"}));
  EXPECT_EQ(r.writes, (Strings{"P", "\n", "P", "A", kRequest}));
  EXPECT_EQ(r.states, (std::vector<int32_t>{3, 4, 3, 2}));
  EXPECT_EQ(level, 2);
  EXPECT_EQ(station, 2);
  EXPECT_EQ(text, "Cover Open (114/201)");
  EXPECT_EQ(queue.ErrorLevel(), 1);
  EXPECT_EQ(queue.ErrorString(), "");
  EXPECT_EQ(r.write_at[0] - r.error_at, kRetryDelayMs);
}

// The printer has five minutes to answer the status request, which goes again
// every three seconds meanwhile.
TEST_F(OutputQueueTest, ASilentPrinterFailsTheBatchOncePastTheConfirmationLimit) {
  fake.answering = false;
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  ASSERT_TRUE(fake.WaitFor(RequestSent));
  clock.Advance(kConfirmLimitMs);
  // Two more reads: the wait has looked at the time after the move.
  const int reads = fake.Snap().reads;
  ASSERT_TRUE(fake.WaitFor([reads](const Record& r) { return r.reads >= reads + 2; }));
  EXPECT_EQ(fake.Snap().events, Strings{});  // at the limit, not past it
  clock.Advance(1);
  Settle(Events(1));
  EXPECT_EQ(fake.Snap().events, Strings{"Error 112 0 1 11"});
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", "A", kRequest, kRequest}));
}

TEST_F(OutputQueueTest, RetryAfterATimeOutResendsEveryUnconfirmedJob) {
  fake.answering = false;
  fake.ScriptResponse(11, 0s, [&] { fake.Set([](FakeDevice& d) { d.answering = true; }); });
  for (const char* s : {"A", "B", "C"}) queue.SubmitOutput(true, {s});
  queue.Start();
  ASSERT_NO_FATAL_FAILURE(PassTheConfirmationLimit(fake));
  ASSERT_TRUE(clock.WaitForWaiters(1));  // the pause before the retry
  clock.Advance(kRetryDelayMs);
  Settle(Events(5));
  const Strings batch = {"P", "A", "P", "B", "P", "C", kRequest};
  Strings writes = batch;
  writes.insert(writes.end(), {"P", "\n"});
  writes.insert(writes.end(), batch.begin(), batch.end());
  EXPECT_EQ(fake.Snap().writes, writes);
  EXPECT_EQ(fake.Snap().events, (Strings{"Error 112 0 1 11", "OutputComplete 0", "OutputComplete 1",
                                         "OutputComplete 2", "OutputComplete 3"}));
}

TEST_F(OutputQueueTest, ClearOutputWhileSendingDropsTheJobWithoutEvents) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  fake.accept = [&, released](std::string_view b, int) {
    if (b == "A") {
      entered.set_value();
      released.wait();
    }
    return All(b, 0);
  };
  queue.SubmitOutput(true, {"A", "B"});
  queue.Start();
  ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
  queue.ClearOutput();
  queue.SubmitOutput(true, {"C"});
  release.set_value();
  Settle(Events(1));
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", "A", "B", "P", "C", kRequest}));
  EXPECT_EQ(fake.Snap().events, Strings{"OutputComplete 2"});
}

// The job being confirmed belongs to the queue: ClearOutput frees it while the
// output thread waits for the printer, and the failure that ends the wait must
// not be written into it (the address sanitizer sees such a write).
TEST_F(OutputQueueTest, ClearOutputDuringTheConfirmationWaitLeavesTheFreedJobAlone) {
  std::promise<void> requested;
  bool once = false;
  fake.answering = false;
  fake.accept = [&](std::string_view b, int) {
    if (b == kRequest && !once) {
      once = true;
      requested.set_value();
    }
    return All(b, 0);
  };
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  ASSERT_EQ(requested.get_future().wait_for(5s), std::future_status::ready);
  queue.ClearOutput();
  EXPECT_EQ(fake.Snap().discards, 1);
  // The next status check sees the cover open and ends the wait with a failure,
  // the one the freed job must not be given. Nothing else checks the status
  // meanwhile, and a wait that never saw it would hold up job B below.
  const int checks = fake.SetStatus(kCoverOpen);
  ASSERT_TRUE(fake.WaitFor([checks](const Record& r) { return r.status_checks > checks; }));
  fake.Set([](FakeDevice& d) { d.status = kOk, d.answering = true; });
  queue.SubmitOutput(true, {"B"});
  Settle(Events(1));
  EXPECT_EQ(fake.Snap().events, Strings{"OutputComplete 2"});
}

// Bytes that never reached the printer may have carried its settings (code
// table, rotation, line spacing): the device hears of every such loss.
TEST_F(OutputQueueTest, DroppedOutputIsReportedToTheDevice) {
  struct Case {
    const char* name;
    std::function<void(FakeDevice&, OutputQueue&)> run;
    int discards;
  };
  const std::vector<Case> cases = {
      {"ClearOutput of a queued job",
       [](FakeDevice&, OutputQueue& q) {
         q.SubmitOutput(true, {"A"});
         q.ClearOutput();
       },
       1},
      {"ClearOutput of a transaction",
       [](FakeDevice&, OutputQueue& q) {
         q.BeginTransaction();
         q.SubmitOutput(false, {"A"});
         q.ClearOutput();
       },
       1},
      {"ClearOutput with nothing to drop", [](FakeDevice&, OutputQueue& q) { q.ClearOutput(); }, 0},
      {"a page cancelled",
       [](FakeDevice&, OutputQueue& q) {
         q.EnterPageMode();
         q.SubmitOutput(false, {"A"});
         q.CancelPageMode();
       },
       1},
      {"an empty page cancelled",
       [](FakeDevice&, OutputQueue& q) {
         q.EnterPageMode();
         q.CancelPageMode();
       },
       0},
      {"a synchronous job refused",
       [](FakeDevice& d, OutputQueue& q) {
         d.Set([](FakeDevice& f) { f.status = kCoverOpen; });
         q.SubmitOutput(false, {"A"});
       },
       1},
      {"a synchronous job cut short",
       [](FakeDevice& d, OutputQueue& q) {
         d.Set([](FakeDevice& f) { f.accept = NoneOf("A"); });
         q.SubmitOutput(false, {"A"});
       },
       1},
      {"a synchronous job printed",
       [](FakeDevice&, OutputQueue& q) { q.SubmitOutput(false, {"A"}); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(clock);
    OutputQueue q(device, clock);
    c.run(device, q);
    EXPECT_EQ(device.Snap().discards, c.discards);
  }
}

// An error answered "clear" drops the job: its settings go again with the next.
TEST_F(OutputQueueTest, ErrorAnsweredClearReportsTheDroppedJob) {
  fake.status = kCoverOpen;
  fake.ScriptResponse(12);
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  Settle([](const Record& r) { return r.discards == 1 && Idle(r); });
  EXPECT_EQ(fake.Snap().discards, 1);
}

// --- idle, ClearOutput ------------------------------------------------------

TEST_F(OutputQueueTest, FlagWhenIdleOnAnIdleDeviceAnswersAtOnce) {
  queue.SetFlagWhenIdle(true);
  EXPECT_EQ(fake.Snap().events, Strings{"StatusUpdate 1001"});
  queue.TakeFlagWhenIdle();  // what delivering the event does
  EXPECT_FALSE(queue.FlagWhenIdle());
}

TEST_F(OutputQueueTest, FlagWhenIdleIsDeliveredWhenTheQueueEmpties) {
  for (bool take : {false, true}) {
    SCOPED_TRACE(take ? "taken" : "kept");
    FakeDevice device(clock);
    OutputQueue q(device, clock);
    q.SubmitOutput(true, {"A"});
    q.SetFlagWhenIdle(true);
    EXPECT_TRUE(q.FlagWhenIdle());
    if (take) {
      EXPECT_TRUE(q.TakeFlagWhenIdle());
      EXPECT_FALSE(q.TakeFlagWhenIdle());
    }
    q.Start();
    EXPECT_TRUE(device.WaitFor(
        [take](const Record& r) { return Idle(r) && r.events.size() == (take ? 1u : 2u); }));
    q.Stop();
    const Strings expected =
        take ? Strings{"OutputComplete 1"} : Strings{"OutputComplete 1", "StatusUpdate 1001"};
    EXPECT_EQ(device.Snap().events, expected);
  }
}

TEST_F(OutputQueueTest, ClearOutputEndsTheTransactionAndResetsRotation) {
  queue.SubmitOutput(true, {"A"});
  queue.BeginTransaction();
  queue.SubmitOutput(true, {"B"});
  queue.ClearOutput();
  EXPECT_FALSE(queue.InTransaction());
  EXPECT_EQ(fake.Snap().rotation_resets, 1);
  EXPECT_EQ(fake.Snap().states, (std::vector<int32_t>{3, 2}));
  EXPECT_EQ(queue.SubmitOutput(true, {"C"}), kOk);
  EXPECT_EQ(queue.OutputID(), 2);  // the counter is never reset
  queue.Start();
  Settle(Events(1));
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", "C", kRequest}));
  EXPECT_EQ(fake.Snap().events, Strings{"OutputComplete 2"});
}

TEST_F(OutputQueueTest, ClearOutputLeavesThePageModeBuffer) {
  queue.EnterPageMode();
  queue.SubmitOutput(false, {"A"});
  queue.ClearOutput();
  EXPECT_TRUE(queue.PageModeActive());
  EXPECT_EQ(queue.PrintPage(false), kOk);
  EXPECT_EQ(fake.Snap().writes, (Strings{"P", kHeader, "A", "P", Hex("0C 00 00")}));
}

// --- Stop ---------------------------------------------------------------------

// Stop must end the thread whatever it waits for. A Stop that does not return
// is reported, and the wait it hangs in is then ended some other way.
TEST_F(OutputQueueTest, StopEndsTheThreadWhateverItWaitsFor) {
  struct Case {
    const char* name;
    std::function<void(FakeDevice&, OutputQueue&)> setup;
    std::function<bool(const Record&)> waiting;
    std::function<void(FakeDevice&)> unblock;
    size_t events;  // recorded by then
  };
  const std::vector<Case> cases = {
      {"work", [](FakeDevice&, OutputQueue&) {}, [](const Record&) { return true; },
       [](FakeDevice&) {}, 0},
      {"confirmation",
       [](FakeDevice& d, OutputQueue& q) {
         d.answering = false;
         q.SubmitOutput(true, {"A"});
       },
       [](const Record& r) { return !r.writes.empty() && r.writes.back() == kRequest; },
       [](FakeDevice& d) { d.Set([](FakeDevice& f) { f.answering = true; }); }, 0},
      {"error response",
       [](FakeDevice& d, OutputQueue& q) {
         d.status = kCoverOpen;
         q.SubmitOutput(true, {"A"});
       },
       Events(1), [](FakeDevice& d) { d.Answer(12); }, 1},
      {"the pause before a retry",
       [](FakeDevice& d, OutputQueue& q) {
         d.status = kCoverOpen;
         d.ScriptResponse(11);
         q.SubmitOutput(true, {"A"});  // the clock never reaches the retry
       },
       [](const Record& r) { return r.answers == 1; }, [](FakeDevice&) {}, 1},
      {"a write the printer holds back",
       [](FakeDevice& d, OutputQueue& q) {
         // Held until the device is told to abort its writes (as its port
         // closing ends a real one), which only Stop does.
         d.accept = [&d](std::string_view b, int) {
           if (b != "A") return All(b, 0);
           d.WaitFor([](const Record& r) { return r.write_aborts > 0; }, 60s);
           return int32_t{0};
         };
         q.SubmitOutput(true, {"A"});
       },
       [](const Record& r) { return !r.writes.empty() && r.writes.back() == "A"; },
       [](FakeDevice& d) { d.AbortPortWrites(); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(clock);
    OutputQueue q(device, clock);
    c.setup(device, q);
    q.Start();
    ASSERT_TRUE(device.WaitFor(c.waiting));
    auto stopped = std::async(std::launch::async, [&q] { q.Stop(); });
    if (stopped.wait_for(3s) != std::future_status::ready) {
      ADD_FAILURE() << "Stop did not return";
      c.unblock(device);
    }
    stopped.wait();
    EXPECT_EQ(device.Snap().events.size(), c.events);
  }
}

// Once the thread has ended no error is outstanding: a device opened again must
// not report the old error or go to the error state when it gets busy.
TEST_F(OutputQueueTest, StopDuringAnErrorLeavesNoErrorBehind) {
  fake.status = kCoverOpen;
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  ASSERT_TRUE(fake.WaitFor(Events(1)));
  queue.Stop();
  EXPECT_EQ(queue.ErrorLevel(), 1);
  EXPECT_EQ(queue.ErrorStation(), 0);
  EXPECT_EQ(queue.ErrorString(), "");
  queue.ClearOutput();  // as releasing the device does
  fake.Set([](FakeDevice& d) { d.status = kOk; });
  queue.Start();
  queue.SubmitOutput(true, {"B"});
  Settle([](const Record& r) { return r.events.size() == 2 && Idle(r); });
  EXPECT_EQ(fake.Snap().events, (Strings{"Error 114 201 1 11", "OutputComplete 2"}));
  EXPECT_EQ(fake.Snap().states, (std::vector<int32_t>{3, 4, 2, 3, 2}));
}

// Releasing the device clears the queue before the output thread hears the
// error answered clear; a job queued in between is not part of what was cleared.
TEST_F(OutputQueueTest, ClearAnsweredAfterTheQueueWasClearedKeepsALaterJob) {
  fake.status = kCoverOpen;
  queue.SubmitOutput(true, {"A"});
  queue.Start();
  ASSERT_TRUE(fake.WaitFor(Events(1)));
  queue.ClearOutput();
  fake.Set([](FakeDevice& d) { d.status = kOk; });
  queue.SubmitOutput(true, {"B"});
  fake.Answer(12);
  Settle([](const Record& r) { return r.events.size() == 2 && Idle(r); });
  EXPECT_EQ(fake.Snap().events, (Strings{"Error 114 201 1 11", "OutputComplete 2"}));
}

}  // namespace
}  // namespace qz381::output
