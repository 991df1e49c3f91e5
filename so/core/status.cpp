// The status sink of the claimed port: what the port's status thread hands over
// goes to the StatusMonitor, and what the monitor decides comes back here.
#include "common/opos.h"
#include "common/printer_commands.h"
#include "platform/trace.h"
#include "so/core/port_channel.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

void CPOSPrinter::OnAsbBlock(const uint8_t* block) {
  status_.OnAsbBlock(block);
}

void CPOSPrinter::OnCartridgeBlock(const uint8_t* block) {
  status_.OnCartridgeBlock(block);
}

void CPOSPrinter::OnPowerState(int32_t code) {
  status_.OnPowerState(code);
}

void CPOSPrinter::PostStatus(int32_t code) {
  delivery_.Post(EventRecord::StatusUpdate(code));
}

void CPOSPrinter::PrinterCameOnline() {
  // Never written without the port lock: a caller that holds it already is a
  // fault (the status thread calls with the lock given back).
  PortChannel* channel = channel_.get();
  if (channel && channel->LockChannel(-1)) {
    channel->WriteCommand(printer_commands::kNul);
    channel->WriteCommand(printer_commands::kAutoStatusAll);
    channel->UnlockChannel();
  } else if (channel) {
    platform::Trace("PrinterCameOnline: port lock refused; status request not sent");
  }
  props_.Lock().out.PendingSettings = output::kPendingAll;
}

}  // namespace qz381::so
