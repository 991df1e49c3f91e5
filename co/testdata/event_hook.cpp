// Test equipment: the service object module with one more export, through which
// a test raises a status event the way the port status thread will, from a
// thread of its own. The device must be claimed (the claim makes the service
// object its port's status sink).
#include "platform/com.h"
#include "so/core/event_record.h"
#include "so/core/port_channel.h"
#include "so/core/pos_printer.h"

QZ381_EXPORT int32_t TestPostStatusUpdate(int32_t port_handle, int32_t code) {
  const auto channel = qz381::so::FindChannel(port_handle);
  auto* printer = channel ? dynamic_cast<qz381::so::CPOSPrinter*>(channel->status_sink()) : nullptr;
  if (!printer) return 0;
  printer->PostEvent(qz381::so::EventRecord::StatusUpdate(code));
  return 1;
}
