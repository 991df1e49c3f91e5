#pragma once
// Turns application print data with OPOS escape sequences (ESC | ...) into the
// printer's command bytes, framed by the mode prologue that puts the printer into
// the device's base state. Nothing here writes to a port.
#include <cstdint>
#include <string>
#include <string_view>

#include "so/output/device_settings.h"

namespace qz381::output {

// Translates `data` up to its first zero byte (the application's string is
// zero-terminated) into `out`, which is replaced. Returns kOposSuccess, or the
// last of kOposEIllegal / kOposEFailure met; a bad sequence never stops the
// translation. The caller stores the result as ResultCode.
int32_t TranslatePrintData(DeviceSettings& device, std::string_view data, std::string& out);

// The prologue sent before every block and at the head of every output job;
// consumes the pending settings it emits.
std::string BuildModePrologue(DeviceSettings& device);

// ESC ! with the base print-mode byte (compressed font when RecLineChars exceeds
// LinecharsNormal); stores that byte as device.base_print_mode.
std::string SelectBaseFont(DeviceSettings& device);

// ESC 3 with the device's line spacing, in the printer's 1/360-inch units.
std::string LineSpacingCommand(const DeviceSettings& device);

}  // namespace qz381::output
