#include "so/core/event_delivery.h"

#include "common/opos.h"
#include "platform/trace.h"

namespace qz381::so {

namespace {
constexpr uintptr_t kEventCommand = 0xFFFF;
}

EventDelivery::EventDelivery(Target& target) : target_(target) {}

EventDelivery::~EventDelivery() {
  RequestStop();
  Join();
}

bool EventDelivery::Start() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.clear();
    in_delivery_.reset();
    released_ = false;
    stop_ = false;
    error_response_ = 0;
    queue_not_empty_.Reset();
    service_gate_.Set();
    control_gate_.Set();
    stop_event_.Reset();
    delivered_.Reset();
    response_.Reset();
  }
  window_ = platform::MessageWindow::Create(
      "EventInterfaceWindow", [this](const platform::Message& m) { return OnWindowMessage(m); });
  if (!window_) return false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    started_ = true;
  }
  thread_ = std::thread([this] { ThreadMain(); });
  return true;
}

void EventDelivery::RequestStop() {
  {
    // Under the lock the event thread shuts its queue gate with: once it sees
    // the stop, it leaves the gate open.
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  queue_not_empty_.Set();
  service_gate_.Set();
  control_gate_.Set();
  stop_event_.Set();
}

void EventDelivery::Join() {
  // Every wait of the event thread also wakes on the stop, so this cannot hang.
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(mutex_);
  started_ = false;
  events_.clear();
  in_delivery_.reset();
}

void EventDelivery::DestroyWindow() {
  window_.reset();
}

void EventDelivery::Post(std::unique_ptr<EventRecord> record) {
  if (!record) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (!started_ || released_) {
    // Not open (nobody would ever deliver it), or posted by a thread that passed
    // its checks before the release.
    AnswerDroppedLocked(*record);
    return;
  }
  events_.push_back(std::move(record));
  queue_not_empty_.Set();
}

void EventDelivery::ThreadMain() {
  for (;;) {
    platform::WaitAll({&queue_not_empty_, &service_gate_, &control_gate_}, platform::kInfinite);
    uint64_t seq;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (stop_) break;
      if (events_.empty()) {
        // RequestStop sets stop_ under this lock before it opens the gates, so
        // the gate shut here can never shut the stop out.
        queue_not_empty_.Reset();
        continue;
      }
      in_delivery_ = std::move(events_.front());
      events_.pop_front();
      seq = ++delivery_seq_;
      delivered_.Reset();
    }
    if (!window_->Post(platform::kMsgCommand, kEventCommand, static_cast<intptr_t>(seq))) {
      platform::Trace("event thread: the event window is gone; record dropped");
      std::lock_guard<std::mutex> guard(mutex_);
      if (in_delivery_) AnswerDroppedLocked(*in_delivery_);
      in_delivery_.reset();
    } else {
      // Waits for the window procedure, or for the stop while the opening
      // thread is not pumping.
      platform::WaitAny({&delivered_, &stop_event_}, platform::kInfinite);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (stop_) break;
    if (events_.empty()) queue_not_empty_.Reset();
  }
}

bool EventDelivery::OnWindowMessage(const platform::Message& m) {
  if (m.msg != platform::kMsgCommand || m.wparam != kEventCommand) return false;
  std::unique_ptr<EventRecord> record;
  {
    // The record is taken over by this procedure, so a Close called from inside
    // the control object's callback cannot free it under our feet.
    std::lock_guard<std::mutex> guard(mutex_);
    if (in_delivery_ && delivery_seq_ == static_cast<uint64_t>(m.lparam))
      record = std::move(in_delivery_);
  }
  if (!record) return true;  // stale: its record is gone, and another may be waiting
  target_.Deliver(*record);
  delivered_.Set();
  return true;
}

void EventDelivery::Release() {
  std::lock_guard<std::mutex> guard(mutex_);
  released_ = true;
  queue_not_empty_.Reset();
  for (const auto& record : events_) AnswerDroppedLocked(*record);
  events_.clear();
  // A record whose message is already on its way: the window procedure finds
  // nothing to deliver, and the event thread stops waiting for it.
  if (in_delivery_) {
    AnswerDroppedLocked(*in_delivery_);
    in_delivery_.reset();
    delivered_.Set();
  }
}

void EventDelivery::Resume() {
  std::lock_guard<std::mutex> guard(mutex_);
  released_ = false;
}

size_t EventDelivery::Queued() {
  std::lock_guard<std::mutex> guard(mutex_);
  return events_.size();
}

void EventDelivery::SetServiceGate(bool open) {
  if (open)
    service_gate_.Set();
  else
    service_gate_.Reset();
}

void EventDelivery::SetControlGate(bool open) {
  if (open)
    control_gate_.Set();
  else
    control_gate_.Reset();
}

void EventDelivery::ExpectErrorResponse() {
  response_.Reset();
}

void EventDelivery::AnswerError(int32_t response) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    error_response_ = response;
  }
  response_.Set();
}

bool EventDelivery::WaitErrorResponse(platform::Event& stop, int32_t* response) {
  if (platform::WaitAny({&response_, &stop}, platform::kInfinite) != 0) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  *response = error_response_;
  return true;
}

void EventDelivery::AnswerDroppedLocked(const EventRecord& record) {
  if (record.kind != opos::kEventError) return;
  error_response_ = opos::OPOS_ER_CLEAR;
  response_.Set();
}

}  // namespace qz381::so
