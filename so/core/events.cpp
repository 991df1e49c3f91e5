// The control object's callbacks: each record EventDelivery hands over, turned
// into the call the control object looked up by name at open time.
#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;

void CPOSPrinter::PostEvent(std::unique_ptr<EventRecord> record) {
  delivery_.Post(std::move(record));
}

bool CPOSPrinter::StatusStillCurrent(int32_t code) {
  switch (code) {
    case PTR_SUE_IDLE:
      return queue_->TakeFlagWhenIdle();
    default:
      return status_.StillCurrent(code);
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

void CPOSPrinter::Deliver(EventRecord& r) {
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
        clear = response == OPOS_ER_CLEAR && state_ != OPOS_S_CLOSED;
      }
      // Cleared before the application can print again: the output thread may
      // hear the answer late, and must not throw away what comes after it.
      if (clear) queue_->ClearOutput();
      delivery_.AnswerError(response);
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
