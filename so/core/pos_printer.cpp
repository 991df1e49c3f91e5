#include "so/core/pos_printer.h"

#include <cstdlib>
#include <cstring>

#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/port_channel.h"
#include "so/core/server.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {
// What the printer is given to settle after it was claimed, enabled or disabled.
constexpr uint32_t kSettleMs = 500;
}  // namespace

CPOSPrinter::CPOSPrinter(platform::Registry& registry, platform::Clock& clock)
    : registry_(registry),
      clock_(clock),
      queue_(
          std::make_unique<output::OutputQueue>(static_cast<output::OutputDevice&>(*this), clock)) {
  ServerLock();
}

CPOSPrinter::~CPOSPrinter() {
  // The control object releases its last reference after Close; a caller that
  // skipped Close still gets its threads stopped and its port given back.
  Close();
  delivery_.DestroyWindow();
  if (co_) co_->Release();
  ServerUnlock();
}

HRESULT CPOSPrinter::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CPOSPrinter::AddRef() {
  return ++refs_;
}

ULONG CPOSPrinter::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

int32_t CPOSPrinter::Fail(int32_t code, int32_t extended) {
  result_code_ = code;
  result_code_extended_ = extended;
  return code;
}

bool CPOSPrinter::CheckState(int32_t bits) {
  result_code_ = OPOS_SUCCESS;
  result_code_extended_ = 0;
  if ((bits & kNeedClaimed) && !claimed_) {
    result_code_ = OPOS_E_NOTCLAIMED;
    return false;
  }
  if ((bits & kNeedEnabled) && !device_enabled_) {
    result_code_ = OPOS_E_DISABLED;
    return false;
  }
  if (bits & kNeedNotBusy) {
    std::lock_guard<std::mutex> guard(state_mutex_);
    if (!async_mode_ && state_ != OPOS_S_IDLE) {
      result_code_ = OPOS_E_BUSY;
      return false;
    }
  }
  return true;
}

int32_t CPOSPrinter::OpenService(const std::string& /*device_class*/,
                                 const std::string& device_name, IDispatch* dispatch) {
  {
    std::lock_guard<std::mutex> guard(state_mutex_);
    if (state_ != OPOS_S_CLOSED) {
      // A second OpenService on a live object would leak its threads and port.
      platform::Trace("OpenService(%s): already open as %s", device_name.c_str(),
                      device_name_.c_str());
      return Fail(OPOS_E_ILLEGAL);
    }
  }
  device_name_ = device_name;
  ResetForOpen();

  if (LoadDeviceEntry(device_name) == OPOS_E_ILLEGAL ||
      LoadProfile(profile_path_) == OPOS_E_ILLEGAL) {
    {
      std::lock_guard<std::mutex> guard(state_mutex_);
      state_ = OPOS_S_CLOSED;
    }
    return Fail(OPOS_E_ILLEGAL);
  }
  const Capabilities& caps = props_.caps();
  status_.Reset({.cover = caps.CapCoverSensor != 0,
                 .paper = caps.CapRecEmptySensor != 0 || caps.CapRecNearEndSensor != 0});

  channel_ = RegisterPort(device_name_, ports::PortNameOf(option_).data(), kOwnerServiceObject,
                          registry_, clock_);
  if (!channel_) {
    ReleaseOpenResources();
    return Fail(OPOS_E_FAILURE);
  }

  // The four callbacks, looked up by name through the control object's dispatch.
  if (!dispatch) {
    ReleaseOpenResources();
    return Fail(OPOS_E_NOSERVICE);
  }
  dispatch->AddRef();
  co_ = dispatch;
  static const char16_t* const kNames[] = {u"SODirectIO", u"SOError", u"SOOutputComplete",
                                           u"SOStatusUpdate"};
  DISPID* targets[] = {&dispid_direct_io_, &dispid_error_, &dispid_output_complete_,
                       &dispid_status_update_};
  for (int i = 0; i < 4; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(reinterpret_cast<const OLECHAR*>(kNames[i]));
    if (FAILED(co_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, targets[i]))) {
      platform::Trace("OpenService(%s): the control object has no callback %d", device_name.c_str(),
                      i);
      ReleaseOpenResources();
      return Fail(OPOS_E_NOSERVICE);
    }
  }

  if (!delivery_.Start()) {
    ReleaseOpenResources();
    return Fail(OPOS_E_FAILURE);
  }
  queue_->Start();
  return result_code_;
}

// A reopened object starts as a new one: nothing the last session changed
// (map mode, character set, notifications, counters) carries over.
void CPOSPrinter::ResetForOpen() {
  result_code_ = OPOS_SUCCESS;
  result_code_extended_ = 0;
  props_.Reset(device_name_);
  {
    PropertyTable::Locked settings = props_.Lock();
    last_prologue_settings_ = 0;
  }
  option_ = ports::DeviceOption{};
  profile_path_.clear();
  freeze_events_ = co_freeze_ = 0;
  async_mode_ = 0;
  status_.Reset(StatusMonitor::Sensors{});
  // Its thread ended with Close; the output ID and FlagWhenIdle start afresh.
  queue_ = std::make_unique<output::OutputQueue>(static_cast<output::OutputDevice&>(*this), clock_);
}

void CPOSPrinter::ReleaseOpenResources() {
  if (channel_) {
    UnregisterPort(kOwnerServiceObject, channel_->handle());
    channel_.reset();
  }
  if (co_) {
    co_->Release();
    co_ = nullptr;
  }
  delivery_.DestroyWindow();
  std::lock_guard<std::mutex> guard(state_mutex_);
  state_ = OPOS_S_CLOSED;
}

int32_t CPOSPrinter::Close() {
  if (claimed_) ReleaseDevice();
  bool open;
  {
    std::lock_guard<std::mutex> guard(state_mutex_);
    open = state_ != OPOS_S_CLOSED;
  }
  if (open) {
    delivery_.RequestStop();
    {
      std::lock_guard<std::mutex> guard(state_mutex_);
      state_ = OPOS_S_CLOSED;
    }
    claimed_ = 0;
    // Every wait of both threads also wakes on the stop event, so joining cannot
    // hang; a thread is never killed.
    uint32_t start = platform::TickCount();
    delivery_.Join();
    queue_->Stop();
    uint32_t took = platform::TickCount() - start;
    if (took > 2000) platform::Trace("Close: threads took %u ms to end", took);
    if (channel_) UnregisterPort(kOwnerServiceObject, channel_->handle());
    channel_.reset();
    // The next OpenService takes a reference of its own.
    if (co_) {
      co_->Release();
      co_ = nullptr;
    }
  }
  result_code_ = OPOS_SUCCESS;
  return OPOS_SUCCESS;
}

bool CPOSPrinter::PreparePrinter(int32_t lock_timeout) {
  PortChannel* channel = channel_.get();
  if (!channel) return false;
  int32_t wait = lock_timeout == 0 ? 99999 : lock_timeout;
  if (!channel->LockChannel(wait < 0 ? -1 : wait)) {
    platform::Trace("PreparePrinter: port lock not taken within %d ms", wait);
    return false;
  }
  channel->WriteCommand(printer_commands::kNul);
  bool ok = channel->WriteCommand(printer_commands::kSelectPrinter);
  if (ok) {
    channel->WriteCommand(printer_commands::kNul);
    ok = channel->WriteCommand(printer_commands::kInitialize);
  }
  channel->UnlockChannel();
  {
    // ESC @ (or part of it) may have reached the printer: it has forgotten
    // every setting it was sent.
    props_.Lock().out.PendingSettings = output::kPendingAll;
  }
  if (!ok) platform::Trace("PreparePrinter: short write on port %d", channel->handle());
  return ok;
}

int32_t CPOSPrinter::ClaimDevice(int32_t timeout) {
  result_code_extended_ = 0;
  if (claimed_) return Fail(OPOS_SUCCESS);
  PortChannel* channel = channel_.get();
  if (!channel) {
    platform::Trace("ClaimDevice: no port registered");
    return Fail(OPOS_E_CLOSED);
  }
  channel->SetStatusSink(this);
  if (!channel->OpenChannel(option_, kOwnerServiceObject)) {
    channel->SetStatusSink(nullptr);
    return Fail(OPOS_E_ILLEGAL);
  }
  claimed_ = 1;
  port_writes_aborted_ = false;
  delivery_.Resume();
  result_code_ = OPOS_SUCCESS;
  if (!PreparePrinter(timeout)) {
    channel->CloseChannel(kOwnerServiceObject);
    channel->SetStatusSink(nullptr);
    claimed_ = 0;
    return Fail(OPOS_E_FAILURE);
  }
  status_.ForgetReported();
  clock_.Sleep(kSettleMs);
  return result_code_;
}

int32_t CPOSPrinter::ReleaseDevice() {
  result_code_extended_ = 0;
  if (!claimed_) return Fail(OPOS_E_ILLEGAL);
  if (device_enabled_) SetDeviceEnabled(0);
  claimed_ = 0;
  // From here on, whatever the status and output threads still post is dropped;
  // an error the output thread waits on is answered "clear".
  delivery_.Release();
  // The output thread ends what it was doing before the queue is emptied, so
  // nothing it does can reach into the next claim (a late "clear" would drop
  // the next session's jobs).
  queue_->Stop();
  queue_->ClearOutput();
  queue_->Start();
  if (PortChannel* channel = channel_.get()) {
    channel->SetStatusSink(nullptr);
    channel->CloseChannel(kOwnerServiceObject);
  }
  delivery_.Release();
  return Fail(OPOS_SUCCESS);
}

void CPOSPrinter::SetDeviceEnabled(int32_t value) {
  result_code_ = OPOS_SUCCESS;
  if (!CheckState(kNeedClaimed)) return;
  int32_t wanted = value != 0 ? 1 : 0;
  if (wanted == device_enabled_) return;
  PortChannel* channel = channel_.get();
  if (wanted) {
    if (channel) channel->ClearChannel();
    device_enabled_ = 1;
    status_.Enable();
    int32_t written = 0;
    const printer_commands::Command asb_on = printer_commands::kAutoStatusOn;
    if (channel) {
      channel->LockChannel(-1);
      channel->WriteCommand(printer_commands::kNul);
      written = channel->WriteChannel(asb_on.data(), static_cast<int32_t>(asb_on.size()));
      channel->UnlockChannel();
    }
    SetFreezeEvents(0);
    clock_.Sleep(kSettleMs);
    if (written < static_cast<int32_t>(asb_on.size())) {
      platform::Trace("DeviceEnabled: automatic status request not written (%d of %d)", written,
                      static_cast<int>(asb_on.size()));
      device_enabled_ = 0;
      status_.Disable();
      SetFreezeEvents(1);
      result_code_ = OPOS_E_FAILURE;
    }
  } else {
    SetFreezeEvents(1);
    device_enabled_ = 0;
    status_.Disable();
  }
}

void CPOSPrinter::SetFreezeEvents(int32_t value) {
  freeze_events_ = value;
  delivery_.SetServiceGate(value == 0);
}

int32_t CPOSPrinter::COFreezeEvents(int32_t freeze) {
  co_freeze_ = freeze;
  delivery_.SetControlGate(freeze == 0);
  return OPOS_SUCCESS;
}

// Leaves ResultCodeExtended as it was, whatever the state.
int32_t CPOSPrinter::Unsupported() {
  result_code_ = OPOS_E_ILLEGAL;
  return OPOS_E_ILLEGAL;
}

}  // namespace qz381::so
