#include "so/output/output_queue.h"

#include <algorithm>
#include <cstdio>

#include "common/opos.h"
#include "common/printer_commands.h"
#include "platform/trace.h"
#include "ports/common/net_address.h"
#include "ports/common/port_kind.h"

namespace qz381::output {

namespace {

using namespace qz381::opos;

// The OPOS numbers the queue answers with, under the short names it reads well with.
constexpr int32_t kSuccess = OPOS_SUCCESS;
constexpr int32_t kFailure = OPOS_E_FAILURE;
constexpr int32_t kTimeout = OPOS_E_TIMEOUT;
constexpr int32_t kShortWrite = kFailureShortWrite;
constexpr int32_t kCoverOpen = OPOS_EPTR_COVER_OPEN;
constexpr int32_t kPaperEmpty = OPOS_EPTR_REC_EMPTY;
constexpr int32_t kStateIdle = OPOS_S_IDLE, kStateBusy = OPOS_S_BUSY, kStateError = OPOS_S_ERROR;
constexpr int32_t kLocusOutput = OPOS_EL_OUTPUT;
constexpr int32_t kRetry = OPOS_ER_RETRY, kClear = OPOS_ER_CLEAR;
constexpr const auto& kStatusRequest = printer_commands::bytes::kStatusRequest;
// Short writes a chunked job survives before it is failed: a busy line takes
// part of a chunk now and then, a dead one takes nothing again and again.
constexpr int kWriteRetries = 5;
// How long a batch waits for the printer's answer to the status request.
constexpr uint32_t kConfirmLimitMs = 300000;
// The least time between an error event and the retry its answer asks for.
constexpr uint32_t kRetryDelayMs = 1000;

const char* ResultName(int32_t rc, int32_t rce) {
  switch (rc) {
    case OPOS_SUCCESS:
      return "Success";
    case OPOS_E_CLOSED:
      return "Closed";
    case OPOS_E_CLAIMED:
      return "Claimed";
    case OPOS_E_NOTCLAIMED:
      return "Notclaimed";
    case OPOS_E_NOSERVICE:
      return "Noservice";
    case OPOS_E_DISABLED:
      return "Disabled";
    case OPOS_E_ILLEGAL:
      return "Illegal";
    case OPOS_E_NOHARDWARE:
      return "Nohardware";
    case OPOS_E_OFFLINE:
      return "Offline";
    case OPOS_E_NOEXIST:
      return "Noexist";
    case OPOS_E_EXISTS:
      return "Exists";
    case OPOS_E_FAILURE:
      return rce == kFailureUnrecoverable ? "Unrecoverable failure"
             : rce == kFailureKnifeCut    ? "Knife cut failure"
             : rce == kFailureMechanical  ? "Mechanical failure"
                                          : "Failure";
    case OPOS_E_TIMEOUT:
      return "Timeout";
    case OPOS_E_BUSY:
      return "Busy";
    case OPOS_E_EXTENDED:
      switch (rce) {
        case OPOS_EPTR_COVER_OPEN:
          return "Cover Open";
        case OPOS_EPTR_REC_EMPTY:
          return "Paper Empty";
        case OPOS_EPTR_REC_CARTRIDGE_REMOVED:
          return "Cartridge Removed";
        case OPOS_EPTR_REC_CARTRIDGE_EMPTY:
          return "Cartridge Empty";
        case OPOS_EPTR_REC_HEAD_CLEANING:
          return "Head Cleaning";
        default:
          return "Extended Error";
      }
    default:
      return "Unknown error value";
  }
}

}  // namespace

std::string ErrorText(int32_t result, int32_t extended) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s (%d/%d)", ResultName(result, extended), result, extended);
  return buf;
}

OutputQueue::OutputQueue(OutputDevice& device, platform::Clock& clock)
    : device_(device), clock_(clock) {}

OutputQueue::~OutputQueue() {
  // The device may be going too: it is not called from here.
  stop_.Set();
  if (thread_.joinable()) thread_.join();
}

void OutputQueue::Start() {
  if (thread_.joinable()) return;
  stop_.Reset();
  thread_ = std::thread([this] { ThreadMain(); });
}

void OutputQueue::Stop() {
  stop_.Set();
  if (!thread_.joinable()) return;
  device_.AbortPortWrites();
  thread_.join();
}

bool OutputQueue::SleepUnlessStopped(uint32_t ms) {
  return !clock_.Wait(stop_, ms);
}

ResultPair OutputQueue::SubmitOutput(bool async, std::vector<std::string> list) {
  {
    // The buffers are also emptied by the output thread (an error answered with
    // clear), so routing happens under the output lock; sending does not.
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (page_mode_active_) {
      if (header_needed_ && page_.empty()) {
        page_.push_back(device_.PageModeHeader());
        header_needed_ = false;
      }
      for (auto& s : list) page_.push_back(std::move(s));
      return {};
    }
    if (in_transaction_) {
      for (auto& s : list) transaction_.push_back(std::move(s));
      return {};
    }
    if (async) {
      auto job = std::make_unique<OutputJob>();
      job->strings = std::move(list);
      job->OutputID = ++output_id_;
      pending_.push_back(std::move(job));
      UpdateOutputState();
      return {};
    }
  }
  OutputJob job;
  job.strings = std::move(list);
  if (!SendJob(false, job)) device_.OutputDiscarded();
  return {job.result, job.extended};
}

bool OutputQueue::SendJob(bool async, OutputJob& job) {
  job.result = kSuccess;
  job.extended = 0;
  if (!device_.Claimed()) return true;
  if (!WriteChecked(device_.BuildPrologue(), job)) {
    if (job.extended != kShortWrite) device_.PrologueNotSent();
    return false;
  }
  const int32_t type = device_.PrinterType();
  for (const std::string& s : job.strings) {
    if (!s.empty() && !WriteChecked(s, job)) return false;
    // The printer's input buffer is small; give it time to take each string.
    if (type == 1 || type == 3)
      clock_.Sleep(100);
    else if (type == 2 && async)
      clock_.Sleep(30);
  }
  return true;
}

bool OutputQueue::WriteChecked(std::string_view bytes, OutputJob& job) {
  ResultPair pair;
  bool may = CheckWritable(&pair);
  job.result = pair.result;
  job.extended = pair.extended;
  if (!may) return false;
  int32_t written = WritePort(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (written < static_cast<int32_t>(bytes.size())) {
    job.result = kFailure;
    job.extended = kShortWrite;
    return false;
  }
  return true;
}

int32_t OutputQueue::WritePort(const uint8_t* bytes, size_t length) {
  if (!device_.Claimed()) return 0;
  const uint32_t chunk_size = device_.ChunkSize();
  if (chunk_size == 0) {
    platform::Trace("WritePort: chunk size 0; nothing written");
    return 0;
  }
  const size_t max_writes = length / chunk_size + 2;
  const std::string port = device_.PortName();
  device_.LockPort(-1);
  size_t total = 0;
  if (port.size() <= 2) {
    total = static_cast<size_t>(
        std::max<int32_t>(0, device_.WritePortBytes(bytes, static_cast<int32_t>(length))));
  } else {
    int retries = kWriteRetries;
    size_t writes = 0;
    while (total < length) {
      size_t chunk = std::min<size_t>(chunk_size, length - total);
      int32_t n = device_.WritePortBytes(bytes + total, static_cast<int32_t>(chunk));
      if (n < 0) n = 0;
      total += static_cast<size_t>(n);
      ++writes;
      if (static_cast<size_t>(n) < chunk) {
        --retries;
        platform::Trace("EEEEWrite Error PreSize :%d, ResultSize :%d", static_cast<int>(chunk), n);
      }
      if (retries == 0) {
        platform::Trace(
            "Write ERror *************************************************---->Fail \n");
        break;
      }
      if (writes >= max_writes) break;
    }
  }
  device_.UnlockPort();
  return static_cast<int32_t>(total);
}

bool OutputQueue::CheckWritable(ResultPair* pair) {
  *pair = device_.StatusCheck();
  const ports::PortKind kind = ports::PortKindOf(device_.PortName());
  if (kind == ports::PortKind::kNetwork) return true;
  if (pair->extended == kCoverOpen || pair->extended == kPaperEmpty || device_.AsyncMode())
    return pair->result == kSuccess;
  return kind == ports::PortKind::kUsb || pair->result == kSuccess;
}

bool OutputQueue::WaitPrinterReady(ResultPair* failure, uint32_t limit_ms, bool no_repeat) {
  ResultPair pair;
  bool may = CheckWritable(&pair);
  *failure = pair;
  if (!may) return false;
  const uint32_t repeat_ms = device_.PrinterType() == 1 ? 300000 : 3000;
  device_.ClearPort();
  // The limit counts from the request: read before it goes out, so that it is
  // fixed by the time the printer (or a test) sees it.
  const uint64_t start = clock_.NowMs();
  uint64_t last_request = start;
  if (WritePort(kStatusRequest, sizeof kStatusRequest) < 3) {
    *failure = {kTimeout, 0};
    return false;
  }
  while (device_.Claimed()) {
    // Close ends the wait within one read period.
    if (stop_.IsSet()) return false;
    uint8_t reply = 0;
    if (device_.ReadPortBytes(&reply, 1, 1000) == 1) return true;
    if (!CheckWritable(&pair)) {
      *failure = {kTimeout, pair.extended};
      return false;
    }
    const uint64_t now = clock_.NowMs();
    if (now - start > limit_ms) {
      *failure = {kTimeout, 0};
      return false;
    }
    if (!no_repeat && now - last_request > repeat_ms) {
      device_.ClearPort();
      WritePort(kStatusRequest, sizeof kStatusRequest);
      last_request = now;
    }
  }
  return true;  // released meanwhile
}

void OutputQueue::UpdateOutputState() {
  if (!pending_.empty() || !sent_.empty()) {
    device_.SetState(error_level_ == 1 ? kStateBusy : kStateError);
    work_.Set();
    return;
  }
  device_.SetState(kStateIdle);
  work_.Reset();
  // The flag stays set until the idle event is delivered: delivery drops the
  // event when the application has cleared the flag in the meantime.
  if (flag_when_idle_) device_.PostIdle();
}

bool OutputQueue::ClearQueuesLocked() {
  const bool dropped = !pending_.empty() || !sent_.empty() || holding_;
  cleared_ = true;
  pending_.clear();
  sent_.clear();
  UpdateOutputState();
  return dropped;
}

void OutputQueue::ClearOutput() {
  std::unique_lock<std::recursive_mutex> lock(lock_);
  ClearOutputLocked(lock);
}

void OutputQueue::ClearOutputLocked(std::unique_lock<std::recursive_mutex>& lock) {
  const bool dropped = ClearQueuesLocked() || !transaction_.empty();
  in_transaction_ = false;
  transaction_.clear();
  // Outside the output lock: the device takes its settings lock, which is held
  // around calls into this queue.
  lock.unlock();
  device_.ResetRotation();
  if (dropped) device_.OutputDiscarded();
}

void OutputQueue::BeginTransaction() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (in_transaction_) return;
  in_transaction_ = true;
  transaction_.clear();
}

bool OutputQueue::InTransaction() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return in_transaction_;
}

ResultPair OutputQueue::EndTransaction(bool async) {
  std::vector<std::string> list;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    in_transaction_ = false;
    list = std::move(transaction_);
    transaction_.clear();
  }
  if (list.empty()) return {};
  return SubmitOutput(async, std::move(list));
}

void OutputQueue::EnterPageMode() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  page_mode_active_ = true;
  header_needed_ = true;
}

bool OutputQueue::PageModeActive() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return page_mode_active_;
}

void OutputQueue::PageHeaderNeeded() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  header_needed_ = true;
}

ResultPair OutputQueue::PrintPage(bool keep) {
  std::vector<std::string> page;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!page_mode_active_) return {};
    page_mode_active_ = false;
    page = page_;
    if (!keep) page_.clear();
  }
  ResultPair r = SubmitOutput(false, std::move(page));
  ResultPair print = SubmitOutput(false, {std::string("\x0C\x00\x00", 3)});
  if (r.result == kSuccess) r = print;
  if (keep) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    page_mode_active_ = true;
  }
  return r;
}

void OutputQueue::CancelPageMode() {
  bool dropped;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    page_mode_active_ = false;
    dropped = !page_.empty();
    page_.clear();
  }
  if (dropped) device_.OutputDiscarded();
}

std::string OutputQueue::ErrorString() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return error_string_;
}

void OutputQueue::SetFlagWhenIdle(bool flag) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  flag_when_idle_ = flag;
  UpdateOutputState();
}

bool OutputQueue::FlagWhenIdle() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return flag_when_idle_;
}

bool OutputQueue::TakeFlagWhenIdle() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  bool flag = flag_when_idle_;
  flag_when_idle_ = false;
  return flag;
}

void OutputQueue::ThreadMain() {
  platform::Event* wake[] = {&stop_, &work_};
  for (;;) {
    if (clock_.WaitAny(wake, platform::kInfinite) == 0) return;
    std::unique_lock<std::recursive_mutex> lock(lock_);
    UpdateOutputState();
    if (pending_.empty()) continue;
    std::unique_ptr<OutputJob> job = std::move(pending_.front());
    pending_.pop_front();
    cleared_ = false;
    holding_ = true;
    if (sent_.empty()) losses_at_send_ = device_.PortLosses();
    lock.unlock();
    bool ok = SendJob(true, *job);
    lock.lock();
    holding_ = false;
    if (cleared_) continue;
    // The job belongs to sent_ from here on, and ClearOutput may free it the
    // moment the lock is let go: only copies of its results are kept.
    ResultPair failed{job->result, job->extended};
    sent_.push_back(std::move(job));
    if (pending_.empty() || sent_.size() >= 10) {
      lock.unlock();
      const std::string port = device_.PortName();
      // A network printer is confirmed like a serial one: a send there only
      // means the bytes reached the connection. An answer that comes over a
      // connection made after the jobs went out confirms nothing: they may
      // have been lost with the old one.
      const bool network = ports::IsNetworkAddress(port);
      if (ok && (ports::IsLinePort(ports::PortKindOf(port)) || network))
        ok = WaitPrinterReady(&failed, kConfirmLimitMs, false);
      if (ok && network && device_.PortLosses() != losses_at_send_) {
        platform::Trace("output: the connection to %s was lost before the jobs were confirmed",
                        port.c_str());
        failed = {kTimeout, 0};
        ok = false;
      }
      if (stop_.IsSet()) return;
      lock.lock();
      if (cleared_) continue;
      if (ok) {
        for (auto& done : sent_) device_.PostOutputComplete(done->OutputID);
        sent_.clear();
      }
    }
    if (ok) continue;

    // The error path: the application decides between retry and clear.
    lock.unlock();
    error_level_ = 2;
    error_station_ = 2;
    {
      std::lock_guard<std::recursive_mutex> guard(lock_);
      error_string_ = ErrorText(failed.result, failed.extended);
      UpdateOutputState();
    }
    const uint64_t raised = clock_.NowMs();
    device_.PostError(failed.result, failed.extended, kLocusOutput, kRetry);
    int32_t response = kRetry;
    const bool answered = device_.WaitErrorResponse(stop_, &response);
    // Answered or not, the error is no longer outstanding once this returns.
    error_level_ = 1;
    error_station_ = 0;
    lock.lock();
    error_string_.clear();
    if (!answered) return;
    if (response == kClear) {
      // Whoever answered may have cleared already (releasing the device does),
      // and a job queued since then is not part of what the answer cleared.
      if (cleared_)
        lock.unlock();
      else
        ClearOutputLocked(lock);
      continue;
    }
    lock.unlock();
    const uint64_t waited = clock_.NowMs() - raised;
    if (waited < kRetryDelayMs &&
        !SleepUnlessStopped(kRetryDelayMs - static_cast<uint32_t>(waited)))
      return;
    lock.lock();
    // Everything unconfirmed goes again from its first byte, after one line feed
    // that is confirmed (and completed with OutputID 0) like any other job.
    auto lf = std::make_unique<OutputJob>();
    lf->strings.push_back("\n");
    while (!sent_.empty()) {
      pending_.push_front(std::move(sent_.back()));
      sent_.pop_back();
    }
    pending_.push_front(std::move(lf));
    UpdateOutputState();
  }
}

}  // namespace qz381::output
