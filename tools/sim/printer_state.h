#pragma once
// What the virtual QZ381 knows about itself: the conditions it reports (cover,
// paper, errors, cartridges, on-line) and the settings the host has made with
// its commands (automatic status mask, code table, character styles, page mode,
// barcode settings). A renderer reads the settings as they stand when each
// command arrives; the status side decides the bytes the printer sends back.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/command_parser.h"

namespace qz381::sim {

enum class Paper : uint8_t { kOk, kNearEnd, kEnd };
enum class Fault : uint8_t { kNone, kCutter, kMechanical, kUnrecoverable };
enum class Cartridge : uint8_t { kOk, kNearEnd, kEmpty, kRemoved };
enum class Alignment : uint8_t { kLeft, kCentre, kRight };

// Conditions set by the operator (or a fault injected by a test).
struct DeviceStatus {
  bool cover_open = false;
  bool offline_switch = false;  // taken off-line on purpose, independent of the other conditions
  Paper paper = Paper::kOk;
  Fault fault = Fault::kNone;
  Cartridge primary = Cartridge::kOk;
  Cartridge second = Cartridge::kOk;
  bool head_cleaning = false;
  bool operator==(const DeviceStatus&) const = default;
};

// The printer stops printing (and says it is off-line) while the cover is open,
// the paper has run out, an error is pending, or it was switched off-line.
bool IsOffline(const DeviceStatus& status);

// Automatic status mask bits (GS a n). Cartridge blocks follow their own bit,
// which GS a 255 includes and GS a 15 does not.
inline constexpr uint8_t kAsbDrawer = 0x01;
inline constexpr uint8_t kAsbOnline = 0x02;  // on-line / off-line, cover
inline constexpr uint8_t kAsbError = 0x04;
inline constexpr uint8_t kAsbPaper = 0x08;
inline constexpr uint8_t kAsbCartridge = 0x10;

using StatusBlock = std::array<uint8_t, 4>;

// The automatic status block. Every byte is one the host's status recogniser
// admits at its position:
//   byte 0: 0x10, | 0x08 off-line, | 0x20 cover open (0x38: open implies off-line)
//   byte 1: 0x20 unrecoverable, 0x48 auto-cutter, 0x44 mechanical (0x40 marks an
//           error that clears itself once the cause is removed), else 0x00
//   byte 2: 0x0C paper end, 0x03 near end, else 0x00
//   byte 3: 0x0F
StatusBlock AsbBlock(const DeviceStatus& status);

// The cartridge block: 0x35, then 0x40 with the primary cartridge's bits (0x04
// removed, 0x02 empty, 0x01 near end), 0x08 second removed and 0x20 head
// cleaning; then 0x40 with the second cartridge's bits (0x02 empty, 0x01 near
// end); then 0x00. Where two conditions have no admitted byte together, the
// graver one is kept (removed over empty over near end).
StatusBlock CartridgeBlock(const DeviceStatus& status);

// The one-byte answer to DLE EOT n. Bits 0x02 and 0x10 are always set, so the
// answer can never be taken for the first byte of a status block. For n = 3
// (the request the service confirms its output with):
//   0x01 off-line, 0x04 mechanical error, 0x08 auto-cutter error,
//   0x20 unrecoverable error, 0x40 cover open, 0x80 paper end.
// n = 1: 0x08 off-line. n = 2: 0x04 cover open, 0x20 paper end, 0x40 error.
// n = 4: 0x0C near end, 0x60 paper end.
uint8_t RealtimeReply(const DeviceStatus& status, uint8_t n);

struct TextStyle {
  int font = 0;  // 0 normal (42 columns), 1 compressed (56 columns)
  bool emphasis = false;
  bool double_strike = false;
  int underline = 0;           // dots: 0, 1 or 2
  bool double_width = false;   // ESC ! 0x20
  bool double_height = false;  // ESC ! 0x10
  int width_factor = 1;        // GS !, 1 ... 8
  int height_factor = 1;
  bool reverse = false;      // GS B
  bool upside_down = false;  // ESC {
  bool rotate90 = false;     // ESC V
  int colour = 0;            // 0 first colour (black), 1 second colour (red)
  bool operator==(const TextStyle&) const = default;
};

struct PageModeState {
  bool active = false;
  int direction = 0;  // ESC T: 0 left to right, 1 bottom to top, 2 right to left, 3 top to bottom
  int area_x = 0, area_y = 0, area_width = 512, area_height = 1662;
  int x = 0, y = 0;  // current position within the area, dots
  bool operator==(const PageModeState&) const = default;
};

struct BarcodeSettings {
  int height = 162;      // GS h, dots
  int module_width = 3;  // GS w
  int hri_position = 0;  // GS H: 0 none, 1 above, 2 below, 3 both
  int hri_font = 0;      // GS f
  bool operator==(const BarcodeSettings&) const = default;
};

// Vertical motion (ESC 3, ESC J, the feed of GS V) is counted in 1/360 inch,
// half a dot of the 180 dpi head.
inline constexpr int kMotionUnitsPerDot = 2;
inline constexpr int kDefaultLineSpacing = 60;  // 1/6 inch, in motion units
inline constexpr int kDefaultLineDots = kDefaultLineSpacing / kMotionUnitsPerDot;
inline constexpr int kPrintableDots = 512;

struct PrinterState {
  DeviceStatus status;

  uint8_t automatic_status_mask = 0;
  bool selected = true;  // ESC = 1 selects the printer; deselected it ignores print data
  int code_table = 0;
  int international_set = 0;
  TextStyle style;
  Alignment alignment = Alignment::kLeft;
  int line_spacing = kDefaultLineSpacing;  // motion units
  int left_margin = 0;
  int print_width = kPrintableDots;
  int right_spacing = 0;
  int absolute_position = 0;
  std::vector<int> tab_stops;  // ESC D: columns, rising; none set: every eight
  BarcodeSettings barcode;
  PageModeState page;

  // Counts a test or a renderer can check without reading the journal.
  uint64_t cuts = 0;
  uint64_t pages_printed = 0;

  // Applies a command from the host to the settings (status is not touched).
  void Apply(const Command& command);
  // ESC @: settings back to their power-on values; the status mask and the
  // conditions stay.
  void Initialize();
};

// "cover=closed paper=ok fault=none online=yes ..." for the control interface.
std::string DescribeStatus(const PrinterState& state);

const char* PaperName(Paper paper);
const char* FaultName(Fault fault);
const char* CartridgeName(Cartridge cartridge);

}  // namespace qz381::sim
