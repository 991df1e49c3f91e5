#pragma once
// End-to-end fixture: the built modules installed into a scratch directory with
// a registry file of its own, a device entry on a COM port name, the virtual
// printer on a pseudo-terminal registered under that name, and the control
// object stand-in with a listener that records every event.
//
// Each test executable is one process: the scratch directory, the registry
// file and the installation are made once per process (a GoogleTest
// environment), before anything reads the registry; every test gets a fresh
// simulator, device entry and control object.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "co/pos_printer.h"
#include "platform/clock_fake.h"
#include "tools/sim/simulator.h"

namespace qz381::e2e {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// One event as the control object received it.
struct RecordedEvent {
  enum Kind { kStatusUpdate, kOutputComplete, kError } kind = kStatusUpdate;
  int32_t value = 0;                              // the status code, the OutputID or the ResultCode
  int32_t extended = 0, locus = 0, response = 0;  // error events only
  Clock::time_point at;                           // when the listener was called

  // "StatusUpdate 11", "OutputComplete 3", "Error 114 201 1 11" (the answer
  // given, not the default offered).
  std::string ToString() const;
};

class RecordingListener : public co::EventListener {
 public:
  // Answers an error event on the control object's thread: it may read
  // properties through the control object (calls from that thread run at once)
  // and change `response`, which holds the service object's default.
  using ErrorHandler = std::function<void(const RecordedEvent& event, int32_t* response)>;
  void SetErrorHandler(ErrorHandler handler);

  void OnStatusUpdate(int32_t data) override;
  void OnOutputComplete(int32_t output_id) override;
  void OnError(int32_t rc, int32_t rce, int32_t locus, int32_t* response) override;

  std::vector<RecordedEvent> Events() const;
  // Events().ToString(), in order of arrival.
  std::vector<std::string> Lines() const;
  void Clear();
  // True once an event whose ToString() is `line` has been recorded.
  bool WaitFor(std::string_view line, milliseconds timeout);
  // True once `done` holds for the events recorded so far.
  bool WaitUntil(const std::function<bool(const std::vector<RecordedEvent>&)>& done,
                 milliseconds timeout);

 private:
  void Record(RecordedEvent event);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RecordedEvent> events_;
  ErrorHandler handler_;
};

// Bytes as "00 1B 3D 01".
std::string Hex(const std::vector<uint8_t>& bytes, size_t from = 0);
// Threads and open file descriptors of this process, for leak checks.
int ThreadCount();
int OpenDescriptorCount();

class E2eTest : public ::testing::Test {
 protected:
  static constexpr char kDevice[] = "QZ381E2E";
  static constexpr char kPort[] = "COM5";

  // A device entry `kDevice` on `kPort`, the simulator on that port and a
  // control object with the recording listener (not yet opened).
  void SetUp() override;
  // Closes the control object and stops the simulator.
  void TearDown() override;

  // Adds (or replaces) a device entry on `port`.
  static void CreateDevice(const std::string& name, const std::string& port);

  // Open, ClaimDevice, DeviceEnabled 1, then waits for the events of the first
  // status block (paper and cover) and forgets them.
  void OpenClaimEnable();

  int32_t Get(std::string_view property);
  // The ResultCode the setter left.
  int32_t Set(std::string_view property, int32_t value);
  int32_t CallLong(std::string_view method, int32_t value);
  // Polls the property until it reads `value`.
  bool WaitForProperty(std::string_view property, int32_t value, milliseconds timeout);
  // The bytes the printer received after the first `mark`, as hex.
  std::string RawSince(size_t mark);
  size_t RawSize() { return sim().RawBytes().size(); }

  sim::Simulator& sim() { return *sim_; }
  co::PosPrinter& printer() { return *printer_; }

  // The process's clock, and so the loaded service object's: real time, which
  // a test may jump past a long limit (a silent printer's five minutes).
  // Declared first: it outlives everything that waits on it.
  platform::FakeClock clock_{platform::FakeClock::Flow::kRealTime};
  platform::ScopedProcessClock use_clock_{clock_};

  RecordingListener events_;
  std::unique_ptr<sim::Simulator> sim_;
  std::unique_ptr<co::PosPrinter> printer_;
};

}  // namespace qz381::e2e
