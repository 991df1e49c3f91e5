#include "so/core/status_monitor.h"

#include "common/opos.h"

namespace qz381::so {

using namespace qz381::opos;

StatusMonitor::StatusMonitor(Listener& listener) : listener_(listener) {
  Reset(Sensors{});
}

void StatusMonitor::Reset(const Sensors& sensors) {
  std::lock_guard<std::mutex> guard(mutex_);
  sensors_ = sensors;
  enabled_ = false;
  power_notify_ = cartridge_notify_ = 0;
  rec_current_cartridge_ = 1;
  power_state_ = OPOS_PS_UNKNOWN;
  rec_cartridge_state_ = primary_cartridge_ = second_cartridge_ = PTR_CART_UNKNOWN;
  cartridge_extended_ = 0;
  cover_open_ = rec_empty_ = rec_near_end_ = failure_code_ = 0;
  last_cover_ = last_paper_ = last_power_ = -1;
  last_cartridge_ = 0;
}

void StatusMonitor::ForgetReported() {
  std::lock_guard<std::mutex> guard(mutex_);
  last_cover_ = last_paper_ = last_power_ = last_cartridge_ = -1;
}

void StatusMonitor::Enable() {
  std::lock_guard<std::mutex> guard(mutex_);
  enabled_ = true;
}

void StatusMonitor::Disable() {
  std::lock_guard<std::mutex> guard(mutex_);
  enabled_ = false;
  power_state_ = OPOS_PS_UNKNOWN;
  rec_cartridge_state_ = primary_cartridge_ = second_cartridge_ = PTR_CART_UNKNOWN;
  last_cover_ = last_paper_ = last_power_ = -1;
}

void StatusMonitor::OnAsbBlock(const uint8_t* b) {
  int32_t post[2];
  int posts = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!enabled_) return;
    int32_t paper;
    if (b[2] & 0x0C) {
      rec_empty_ = 1;
      rec_near_end_ = 0;
      paper = PTR_SUE_REC_EMPTY;
    } else if (b[2] & 0x03) {
      rec_empty_ = 0;
      rec_near_end_ = 1;
      paper = PTR_SUE_REC_NEAREMPTY;
    } else {
      rec_empty_ = 0;
      rec_near_end_ = 0;
      paper = PTR_SUE_REC_PAPEROK;
    }
    const int32_t cover = (b[0] & 0x20) ? PTR_SUE_COVER_OPEN : PTR_SUE_COVER_OK;
    cover_open_ = cover == PTR_SUE_COVER_OPEN ? 1 : 0;
    failure_code_ = (b[1] & 0x20)   ? kFailureUnrecoverable
                    : (b[1] & 0x08) ? kFailureKnifeCut
                    : (b[1] & 0x04) ? kFailureMechanical
                                    : 0;
    if (paper != last_paper_ && sensors_.paper) post[posts++] = last_paper_ = paper;
    if (cover != last_cover_ && sensors_.cover) post[posts++] = last_cover_ = cover;
  }
  for (int i = 0; i < posts; ++i) listener_.PostStatus(post[i]);
  OnPowerState((b[0] & 0x08) ? OPOS_PS_OFFLINE : OPOS_PS_ONLINE);
}

void StatusMonitor::OnCartridgeBlock(const uint8_t* b) {
  const bool removed1 = b[1] & 0x04, empty1 = b[1] & 0x02, cleaning = b[1] & 0x20,
             near1 = b[1] & 0x01, removed2 = b[1] & 0x08, empty2 = b[2] & 0x02, near2 = b[2] & 0x01;
  auto state = [&](bool removed, bool empty, bool near_end) {
    return removed    ? PTR_CART_REMOVED
           : empty    ? PTR_CART_EMPTY
           : cleaning ? PTR_CART_CLEANING
           : near_end ? PTR_CART_NEAREND
                      : PTR_CART_OK;
  };
  int32_t status;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!enabled_) return;
    primary_cartridge_ = state(removed1, empty1, near1);
    second_cartridge_ = state(removed2, empty2, near2);
    if (removed1 || removed2 || empty1 || empty2) {
      status = PTR_SUE_REC_CARTRIDGE_EMPTY;
      cartridge_extended_ =
          (removed1 || removed2) ? OPOS_EPTR_REC_CARTRIDGE_REMOVED : OPOS_EPTR_REC_CARTRIDGE_EMPTY;
    } else if (cleaning) {
      status = PTR_SUE_REC_HEAD_CLEANING;
      cartridge_extended_ = OPOS_EPTR_REC_HEAD_CLEANING;
    } else if (near1 || near2) {
      status = PTR_SUE_REC_CARTRIDGE_NEAREMPTY;
      cartridge_extended_ = 0;
    } else {
      status = PTR_SUE_REC_CARTRIDGE_OK;
      cartridge_extended_ = 0;
    }
    if (cartridge_notify_ != 1) return;
    rec_cartridge_state_ = rec_current_cartridge_ == 1 ? primary_cartridge_ : second_cartridge_;
    if (status == last_cartridge_) return;
    last_cartridge_ = status;
  }
  listener_.PostStatus(status);
}

void StatusMonitor::OnPowerState(int32_t code) {
  bool came_online, post = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!enabled_) return;
    const bool changed = code != last_power_;
    if (changed) last_power_ = code;
    came_online = changed && code == OPOS_PS_ONLINE;
    // PowerNotify is accepted only where the device reports power at all.
    if (power_notify_ != 0) {
      power_state_ = last_power_;
      post = changed;
    }
  }
  if (came_online) listener_.PrinterCameOnline();
  if (post) listener_.PostStatus(code);
}

output::ResultPair StatusMonitor::OutputCheck() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (failure_code_ != 0) return {OPOS_E_FAILURE, failure_code_};
  if (cover_open_) return {OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN};
  if (rec_empty_) return {OPOS_E_EXTENDED, OPOS_EPTR_REC_EMPTY};
  if (power_state_ == OPOS_PS_OFF_OFFLINE) return {OPOS_E_NOHARDWARE, 0};
  return {OPOS_SUCCESS, 0};
}

bool StatusMonitor::StillCurrent(int32_t code) {
  std::lock_guard<std::mutex> guard(mutex_);
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
    case OPOS_PS_ONLINE:
    case OPOS_PS_OFF_OFFLINE:
      return code == power_state_;
    default:
      return true;
  }
}

int32_t StatusMonitor::Read(const int32_t& field) {
  std::lock_guard<std::mutex> guard(mutex_);
  return field;
}

int32_t StatusMonitor::PowerState() {
  return Read(power_state_);
}

int32_t StatusMonitor::CoverOpen() {
  return Read(cover_open_);
}

int32_t StatusMonitor::RecEmpty() {
  return Read(rec_empty_);
}

int32_t StatusMonitor::RecNearEnd() {
  return Read(rec_near_end_);
}

int32_t StatusMonitor::RecCartridgeState() {
  return Read(rec_cartridge_state_);
}

int32_t StatusMonitor::PowerNotify() {
  return Read(power_notify_);
}

int32_t StatusMonitor::CartridgeNotify() {
  return Read(cartridge_notify_);
}

int32_t StatusMonitor::RecCurrentCartridge() {
  return Read(rec_current_cartridge_);
}

void StatusMonitor::SetPowerNotify(int32_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  power_notify_ = value;
}

void StatusMonitor::SetCartridgeNotify(int32_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  cartridge_notify_ = value;
}

void StatusMonitor::SetRecCurrentCartridge(int32_t number) {
  std::lock_guard<std::mutex> guard(mutex_);
  rec_current_cartridge_ = number;
  rec_cartridge_state_ = PTR_CART_UNKNOWN;
}

}  // namespace qz381::so
