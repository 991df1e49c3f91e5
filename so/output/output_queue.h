#pragma once
// The output queue of one device: routes every printing request (page-mode
// buffer, transaction buffer, the asynchronous queue or straight to the port),
// runs the output thread that sends queued jobs in batches and confirms them with
// the real-time status request, writes in chunks with bounded retries, and turns
// failures into result codes or error events with retry or clear.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/sync.h"

namespace qz381::output {

struct OutputJob {
  std::vector<std::string> strings;
  int32_t OutputID = 0;  // 0 for internal jobs
  int32_t result = 0;
  int32_t extended = 0;
};

struct ResultPair {
  int32_t result = 0;
  int32_t extended = 0;
};

// What the queue needs from the device it serves. Every method may be called
// from the application's thread and from the output thread.
class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  virtual bool Claimed() = 0;
  virtual bool AsyncMode() = 0;
  virtual int32_t PrinterType() = 0;
  virtual std::string PortName() = 0;
  virtual uint32_t ChunkSize() = 0;  // OutputBuf; never 0 (refused at open)
  // The mode prologue; consumes the pending printer settings it sends.
  virtual std::string BuildPrologue() = 0;
  // The last prologue was refused before a byte went out: its settings are
  // pending again, so the next job sends them.
  virtual void PrologueNotSent() {}
  // Output was dropped before it surely reached the printer (ClearOutput, a
  // cancelled page, a refused synchronous job): the printer settings its bytes
  // may have carried are to be sent again.
  virtual void OutputDiscarded() {}
  // The page-mode header (select page mode, print direction).
  virtual std::string PageModeHeader() = 0;
  // The status flags that stop output, as a result pair.
  virtual ResultPair StatusCheck() = 0;
  // Rotation back to normal, to be sent again (what ClearOutput leaves behind).
  virtual void ResetRotation() = 0;

  // The bound port (the channel operations).
  virtual bool LockPort(int32_t timeout_ms) = 0;  // -1 waits without limit
  virtual void UnlockPort() = 0;
  virtual int32_t WritePortBytes(const uint8_t* bytes, int32_t count) = 0;
  virtual int32_t ReadPortBytes(uint8_t* buffer, int32_t count, uint32_t timeout_ms) = 0;
  virtual void ClearPort() = 0;
  // Stop calls this once the output thread is asked to end: a port write the
  // printer holds back (flow control) is to end now instead of at its own
  // time-out, and no further write is to wait for the printer.
  virtual void AbortPortWrites() {}
  // How many times the port has lost its printer since it opened (a network
  // printer's connection dropping); 0 for ports that cannot tell.
  virtual uint32_t PortLosses() { return 0; }

  // State and events.
  virtual void SetState(int32_t state) = 0;
  virtual void PostOutputComplete(int32_t output_id) = 0;
  virtual void PostError(int32_t rc, int32_t rce, int32_t locus, int32_t response) = 0;
  virtual void PostIdle() = 0;
  // Waits for the application's answer to the error event; false when `stop` is
  // signalled first.
  virtual bool WaitErrorResponse(platform::Event& stop, int32_t* response) = 0;
};

// "%s (%d/%d)" with the name of the result.
std::string ErrorText(int32_t result, int32_t extended);

class OutputQueue {
 public:
  // The output thread's pauses and limits (pacing, the confirmation limit, the
  // pause before a retry) run on `clock`, which must outlive the queue.
  explicit OutputQueue(OutputDevice& device, platform::Clock& clock = platform::DefaultClock());
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  void Start();
  // Ends the output thread, whatever it waits for (confirmation, an error
  // response, the next job, a write the printer holds back: the device is told
  // to abort its port writes); jobs still queued are kept until ClearOutput.
  void Stop();

  // Routes one request; the answer becomes ResultCode / ResultCodeExtended.
  ResultPair SubmitOutput(bool async, std::vector<std::string> list);
  // Discards every queued and unconfirmed job without events, ends a
  // transaction, and sets the rotation back to normal.
  void ClearOutput();

  // Transactions.
  void BeginTransaction();
  bool InTransaction() const;
  // Leaves the transaction and submits what it collected (one request).
  ResultPair EndTransaction(bool async);

  // Page mode.
  void EnterPageMode();
  bool PageModeActive() const;
  // Prints the page (control 2 keeps it for another print, 3 empties it).
  ResultPair PrintPage(bool keep);
  void CancelPageMode();
  void PageHeaderNeeded();

  int32_t OutputID() const { return output_id_; }  // the last number given
  int32_t ErrorLevel() const { return error_level_; }
  int32_t ErrorStation() const { return error_station_; }
  std::string ErrorString() const;
  void SetFlagWhenIdle(bool flag);
  bool FlagWhenIdle() const;
  // Reads and clears the flag (the idle event is delivered only while it is set).
  bool TakeFlagWhenIdle();

  // Writes bytes to the port as they are, outside the queue (DirectIO): the
  // whole buffer under the channel lock, in chunks of the device's size.
  // Nothing is written while the device is not claimed. The count written.
  int32_t WritePort(const uint8_t* bytes, size_t length);

 private:
  bool SendJob(bool async, OutputJob& job);
  bool WriteChecked(std::string_view bytes, OutputJob& job);
  bool CheckWritable(ResultPair* pair);
  bool WaitPrinterReady(ResultPair* failure, uint32_t limit_ms, bool no_repeat);
  void UpdateOutputState();  // output lock held
  // True when a job was dropped (queued, unconfirmed or being sent).
  bool ClearQueuesLocked();
  // ClearOutput with the output lock held; lets it go before calling the device.
  void ClearOutputLocked(std::unique_lock<std::recursive_mutex>& lock);
  void ThreadMain();
  bool SleepUnlessStopped(uint32_t ms);

  OutputDevice& device_;
  platform::Clock& clock_;
  mutable std::recursive_mutex lock_;  // the output lock
  std::deque<std::unique_ptr<OutputJob>> pending_;
  std::deque<std::unique_ptr<OutputJob>> sent_;
  bool cleared_ = false;
  bool holding_ = false;         // the output thread has a job outside both queues
  uint32_t losses_at_send_ = 0;  // PortLosses() when the first unconfirmed job went out
  bool flag_when_idle_ = false;
  std::atomic<int32_t> error_level_{1};
  std::atomic<int32_t> error_station_{0};
  std::string error_string_;  // output lock

  int32_t output_id_ = 0;
  bool in_transaction_ = false;
  std::vector<std::string> transaction_;
  bool page_mode_active_ = false;
  bool header_needed_ = false;
  std::vector<std::string> page_;

  platform::Event work_{true, false};
  platform::Event stop_{true, false};
  std::thread thread_;
};

}  // namespace qz381::output
