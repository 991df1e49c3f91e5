// Status monitoring: what the printer's status blocks and the port's power state
// mean for the device's properties and events.
#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/port_channel.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;

void CPOSPrinter::OnAsbBlock(const uint8_t* b) {
  if (!device_enabled_) return;
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
  int32_t cover = (b[0] & 0x20) ? PTR_SUE_COVER_OPEN : PTR_SUE_COVER_OK;
  cover_open_ = cover == PTR_SUE_COVER_OPEN ? 1 : 0;
  failure_code_ = (b[1] & 0x20)   ? kFailureUnrecoverable
                  : (b[1] & 0x08) ? kFailureKnifeCut
                  : (b[1] & 0x04) ? kFailureMechanical
                                  : 0;
  if (paper != last_paper_ && (caps_.CapRecEmptySensor || caps_.CapRecNearEndSensor)) {
    last_paper_ = paper;
    PostEvent(EventRecord::StatusUpdate(paper));
  }
  if (cover != last_cover_ && caps_.CapCoverSensor) {
    last_cover_ = cover;
    PostEvent(EventRecord::StatusUpdate(cover));
  }
  OnPowerState((b[0] & 0x08) ? OPOS_PS_OFFLINE : OPOS_PS_ONLINE);
}

void CPOSPrinter::OnCartridgeBlock(const uint8_t* b) {
  if (!device_enabled_) return;
  const bool removed1 = b[1] & 0x04, empty1 = b[1] & 0x02, cleaning = b[1] & 0x20,
             near1 = b[1] & 0x01, removed2 = b[1] & 0x08, empty2 = b[2] & 0x02, near2 = b[2] & 0x01;
  auto state = [&](bool removed, bool empty, bool near_end) {
    return removed    ? PTR_CART_REMOVED
           : empty    ? PTR_CART_EMPTY
           : cleaning ? PTR_CART_CLEANING
           : near_end ? PTR_CART_NEAREND
                      : PTR_CART_OK;
  };
  primary_cartridge_ = state(removed1, empty1, near1);
  second_cartridge_ = state(removed2, empty2, near2);
  int32_t status;
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
  if (status != last_cartridge_) {
    last_cartridge_ = status;
    PostEvent(EventRecord::StatusUpdate(status));
  }
}

void CPOSPrinter::OnPowerState(int32_t code) {
  if (!device_enabled_) return;
  bool changed = code != last_power_;
  if (changed) {
    last_power_ = code;
    if (code == OPOS_PS_ONLINE) {
      if (PortChannel* channel = FindChannel(port_handle_)) {
        channel->LockChannel(-1);
        channel->WriteCommand(printer_commands::kNul);
        channel->WriteCommand(printer_commands::kAutoStatusAll);
        channel->UnlockChannel();
      }
      // A printer that was off has forgotten everything it was told.
      std::lock_guard<std::mutex> settings(settings_mutex_);
      out_.PendingSettings = output::kPendingAll;
    }
  }
  if (cap_power_reporting_ == 0 || power_notify_ == 0) return;
  if (changed) {
    power_state_ = code;
    PostEvent(EventRecord::StatusUpdate(code));
  }
  power_state_ = last_power_.load();
}

void CPOSPrinter::StatusOutputCheck(int32_t* rc, int32_t* rce) {
  *rc = OPOS_SUCCESS;
  *rce = 0;
  if (int32_t failure = failure_code_; failure != 0) {
    *rc = OPOS_E_FAILURE;
    *rce = failure;
  } else if (cover_open_) {
    *rc = OPOS_E_EXTENDED;
    *rce = OPOS_EPTR_COVER_OPEN;
  } else if (rec_empty_) {
    *rc = OPOS_E_EXTENDED;
    *rce = OPOS_EPTR_REC_EMPTY;
  } else if (power_state_ == OPOS_PS_OFF_OFFLINE) {
    *rc = OPOS_E_NOHARDWARE;
  }
}

}  // namespace qz381::so
