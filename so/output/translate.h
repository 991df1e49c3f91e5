#pragma once
// Turns application print data with OPOS escape sequences (ESC | ...) into the
// printer's command bytes, framed by the mode prologue that puts the printer into
// the device's base state. Nothing here writes to a port.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "so/output/device_settings.h"

namespace qz381::output {

// Translates `data` up to its first zero byte (the application's string is
// zero-terminated) into `out`, which is replaced. Returns kOposSuccess, or the
// last of kOposEIllegal / kOposEFailure met; a bad sequence never stops the
// translation. The caller stores the result as ResultCode.
int32_t TranslatePrintData(DeviceSettings& device, std::string_view data, std::string& out);

// The same translation for data that comes in pieces: Begin, Feed for each piece
// in order, End. The bytes appended to `out` over the calls are exactly those
// TranslatePrintData produces for the pieces joined, wherever a piece ends (inside
// a sequence or its number, or inside the bytes ESC|#E passes through); the first
// zero byte ends the data and what follows it is ignored. Only the start of an
// unfinished sequence is kept between pieces (a number's digits in full, however
// many), so memory does not grow with the data.
class PrintDataTranslator {
 public:
  explicit PrintDataTranslator(DeviceSettings& device);
  ~PrintDataTranslator();
  PrintDataTranslator(const PrintDataTranslator&) = delete;
  PrintDataTranslator& operator=(const PrintDataTranslator&) = delete;

  // The prologue; consumes the pending settings it emits.
  void Begin(std::string& out);
  void Feed(std::string_view data, std::string& out);
  // The rest of a sequence the data ended in and the closing bytes; answers the
  // result code as TranslatePrintData does.
  int32_t End(std::string& out);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The prologue sent before every block and at the head of every output job;
// consumes the pending settings it emits.
std::string BuildModePrologue(DeviceSettings& device);

// ESC ! with the base print-mode byte (compressed font when RecLineChars exceeds
// LinecharsNormal); stores that byte as device.base_print_mode.
std::string SelectBaseFont(DeviceSettings& device);

// ESC 3 with the device's line spacing, in the printer's 1/360-inch units.
std::string LineSpacingCommand(const DeviceSettings& device);

}  // namespace qz381::output
