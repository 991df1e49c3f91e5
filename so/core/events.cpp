// Event delivery: records queued from any thread reach the control object one at
// a time on its own thread, through the event window.
#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {
constexpr uintptr_t kEventCommand = 0xFFFF;
}

void CPOSPrinter::PostEvent(std::unique_ptr<EventRecord> record) {
  if (!record) return;
  std::lock_guard<std::mutex> guard(state_mutex_);
  if (!queue_not_empty_) return;  // not open: nobody would ever deliver it
  if (events_released_) {
    // Posted by a thread that passed its checks before ReleaseDevice.
    AnswerDroppedLocked(*record);
    return;
  }
  events_.push_back(std::move(record));
  queue_not_empty_->Set();
}

void CPOSPrinter::EventThreadMain() {
  platform::Event* gates[] = {queue_not_empty_.get(), so_gate_.get(), co_gate_.get()};
  for (;;) {
    platform::WaitAll(gates, platform::kInfinite);
    if (stop_) break;
    uint64_t seq;
    {
      std::lock_guard<std::mutex> guard(state_mutex_);
      if (events_.empty()) {
        // Close sets stop_ under this lock before it opens the gates, so the
        // gate shut here can never shut the stop out.
        if (!stop_) queue_not_empty_->Reset();
        continue;
      }
      in_delivery_ = std::move(events_.front());
      events_.pop_front();
      seq = ++delivery_seq_;
      delivered_->Reset();
    }
    if (!window_->Post(platform::kMsgCommand, kEventCommand, static_cast<intptr_t>(seq))) {
      platform::Trace("event thread: the event window is gone; record dropped");
      std::lock_guard<std::mutex> guard(state_mutex_);
      if (in_delivery_) AnswerDroppedLocked(*in_delivery_);
      in_delivery_.reset();
    } else {
      // Waits for the window procedure, or for Close while the control object's
      // thread is not pumping.
      platform::Event* either[] = {delivered_.get(), stop_event_.get()};
      platform::WaitAny(either, platform::kInfinite);
    }
    if (stop_) break;
    std::lock_guard<std::mutex> guard(state_mutex_);
    if (events_.empty() && !stop_) queue_not_empty_->Reset();
  }
  thread_ended_->Set();
}

bool CPOSPrinter::OnEventWindowMessage(const platform::Message& m) {
  if (m.msg != platform::kMsgCommand || m.wparam != kEventCommand) return false;
  std::unique_ptr<EventRecord> record;
  {
    // The record is taken over by this procedure, so a Close called from inside
    // the control object's callback cannot free it under our feet.
    std::lock_guard<std::mutex> guard(state_mutex_);
    if (in_delivery_ && delivery_seq_ == static_cast<uint64_t>(m.lparam))
      record = std::move(in_delivery_);
  }
  if (!record) return true;  // stale: its record is gone, and another may be waiting
  DeliverEvent(*record);
  if (delivered_) delivered_->Set();
  return true;
}

void CPOSPrinter::PurgeEvents() {
  std::lock_guard<std::mutex> guard(state_mutex_);
  events_released_ = true;
  if (queue_not_empty_) queue_not_empty_->Reset();
  for (const auto& record : events_) AnswerDroppedLocked(*record);
  events_.clear();
  // A record whose message is already on its way: the window procedure finds
  // nothing to deliver, and the event thread stops waiting for it.
  if (in_delivery_) {
    AnswerDroppedLocked(*in_delivery_);
    in_delivery_.reset();
    if (delivered_) delivered_->Set();
  }
}

void CPOSPrinter::AnswerDroppedLocked(const EventRecord& record) {
  if (record.kind != kEventError) return;
  error_response_ = OPOS_ER_CLEAR;
  if (response_) response_->Set();
}

bool CPOSPrinter::StatusStillCurrent(int32_t code) {
  switch (code) {
    case PTR_SUE_COVER_OPEN:
    case PTR_SUE_COVER_OK:
      return code == last_cover_;
    case PTR_SUE_REC_EMPTY:
    case PTR_SUE_REC_NEAREMPTY:
    case PTR_SUE_REC_PAPEROK:
      return code == last_paper_;
    case PTR_SUE_REC_CARTRIDGE_EMPTY:
    case PTR_SUE_REC_HEAD_CLEANING:
    case PTR_SUE_REC_CARTRIDGE_NEAREMPTY:
    case PTR_SUE_REC_CARTRIDGE_OK:
      return code == last_cartridge_;
    case PTR_SUE_IDLE:
      return queue_->TakeFlagWhenIdle();
    case OPOS_PS_ONLINE:
    case OPOS_PS_OFF_OFFLINE:
      return code == power_state_;
    default:
      return true;
  }
}

void CPOSPrinter::CallCo(DISPID id, VARIANT* args, UINT count) {
  if (!co_) return;
  DISPPARAMS params{args, nullptr, count, 0};
  HRESULT hr = co_->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr);
  if (FAILED(hr))
    platform::Trace("event: the control object answered 0x%08X", static_cast<unsigned>(hr));
}

void CPOSPrinter::DeliverEvent(EventRecord& r) {
  VARIANT args[4];
  for (auto& v : args) VariantInit(&v);
  // Arguments travel in reverse order.
  switch (r.kind) {
    case kEventDirectIO: {
      LONG data = r.b;
      BSTR text = platform::AllocBstrFromAnsi(r.text);
      args[2].vt = VT_I4;
      args[2].lVal = r.a;
      args[1].vt = VT_I4 | VT_BYREF;
      args[1].plVal = &data;
      args[0].vt = VT_BSTR | VT_BYREF;
      args[0].pbstrVal = &text;
      CallCo(dispid_direct_io_, args, 3);
      r.b = data;
      r.text = platform::AnsiFromBstr(text);
      SysFreeString(text);
      break;
    }
    case kEventError: {
      SetState(OPOS_S_ERROR);
      LONG response = r.d;
      args[3].vt = VT_I4;
      args[3].lVal = r.a;
      args[2].vt = VT_I4;
      args[2].lVal = r.b;
      args[1].vt = VT_I4;
      args[1].lVal = r.c;
      args[0].vt = VT_I4 | VT_BYREF;
      args[0].plVal = &response;
      CallCo(dispid_error_, args, 4);
      bool clear;
      {
        // A Close called from the callback has the last word on the state.
        std::lock_guard<std::mutex> guard(state_mutex_);
        if (state_ != OPOS_S_CLOSED) state_ = OPOS_S_IDLE;
        r.d = response;
        error_response_ = response;
        clear = response == OPOS_ER_CLEAR && state_ != OPOS_S_CLOSED;
      }
      // Cleared before the application can print again: the output thread may
      // hear the answer late, and must not throw away what comes after it.
      if (clear) queue_->ClearOutput();
      if (response_) response_->Set();
      break;
    }
    case kEventOutputComplete:
      args[0].vt = VT_I4;
      args[0].lVal = r.a;
      CallCo(dispid_output_complete_, args, 1);
      break;
    case kEventStatusUpdate:
      if (!StatusStillCurrent(r.a)) break;
      args[0].vt = VT_I4;
      args[0].lVal = r.a;
      CallCo(dispid_status_update_, args, 1);
      break;
    default:
      platform::Trace("event: unknown record kind %d dropped", r.kind);
      break;
  }
}

}  // namespace qz381::so
