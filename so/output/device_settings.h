#pragma once
// Everything the translation of print data reads or changes about one device.
// CPOSPrinter owns one DeviceSettings per device and keeps the fields current as
// the registry, the capability profile and the properties change; the names are
// the registry values, profile keys and properties they mirror.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/opos.h"
#include "so/output/units.h"

namespace qz381::output {

// Result codes the translation reports (the OPOS values).
inline constexpr int32_t kOposSuccess = opos::OPOS_SUCCESS;
inline constexpr int32_t kOposEIllegal = opos::OPOS_E_ILLEGAL;
inline constexpr int32_t kOposEFailure = opos::OPOS_E_FAILURE;

// Bits of PendingSettings: printer settings still to be sent by the next prologue.
inline constexpr uint8_t kPendingCodeTable = 0x01;
inline constexpr uint8_t kPendingInternational = 0x02;
inline constexpr uint8_t kPendingRotation = 0x04;
inline constexpr uint8_t kPendingLineSpacing = 0x08;
inline constexpr uint8_t kPendingAll = 0x0F;

// State that is one per process, not per device. The character-size byte (the
// GS ! parameter) deliberately outlives calls and devices: only ESC|N resets it.
// The unit tables are set by whichever profile was loaded last.
class SharedOutputState {
 public:
  uint8_t CharacterSize() const { return character_size_.load(std::memory_order_relaxed); }
  void SetCharacterSize(uint8_t value) { character_size_.store(value, std::memory_order_relaxed); }

  UnitTables Units() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return units_;
  }
  void SetUnits(const UnitTables& units) {
    std::lock_guard<std::mutex> lock(mutex_);
    units_ = units;
  }

 private:
  std::atomic<uint8_t> character_size_{0};
  mutable std::mutex mutex_;
  UnitTables units_ = DefaultUnitTables();
};

// The instance every device uses unless a test hands it its own.
SharedOutputState& ProcessOutputState();

struct DeviceSettings {
  // Registry value Type: 1, 2 or 3; selects command variants.
  int32_t Type = 1;

  int32_t CapRecColor = 0;
  int32_t CapRecRotate180 = 0;
  int32_t CapRecPapercut = 0;
  int32_t DIINTERNATIONAL = 0;

  // ESC t and ESC R parameters; a negative value (128..255) is never sent.
  int8_t code_table = 0;
  int8_t international = 0;

  // Last rotation accepted by RotatePrint (1, 257, 258, 259).
  int32_t rotation = 1;

  // Line spacing in vertical dots, the value RecLineSpacing is kept in.
  int32_t line_spacing_dots = 0;

  int32_t RecLineChars = 0;
  int32_t LinecharsNormal = 0;
  int32_t RecLinesToPaperCut = 0;
  int32_t MapMode = kMapModeDots;

  // Logos stored by SetLogo (top, bottom), sent raw by ESC|tL and ESC|bL.
  std::string top_logo;
  std::string bottom_logo;
  // Command strings stored by SetBitmap for bitmap numbers 1 and 2.
  std::array<std::vector<std::string>, 2> stored_bitmaps;

  uint8_t PendingSettings = kPendingAll;

  // The ESC ! parameter of the prologue, recomputed by SelectBaseFont.
  uint8_t base_print_mode = 0;

  SharedOutputState* shared = &ProcessOutputState();

  // Receives one diagnostic line at a time; empty drops them. The service object
  // forwards it to the platform trace.
  std::function<void(std::string_view line)> trace;
};

}  // namespace qz381::output
