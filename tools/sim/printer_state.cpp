#include "tools/sim/printer_state.h"

#include <cstdio>

namespace qz381::sim {
namespace {

// Byte 1 of a cartridge block: what the host's recogniser admits at the second
// position of a status block.
bool AdmittedSecondByte(uint8_t b) {
  switch (b) {
    case 0x00:
    case 0x20:
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x44:
    case 0x48:
    case 0x4C:
    case 0x60:
      return true;
    default:
      return false;
  }
}

// Parameters written either as a number or as its ASCII digit (0 or '0').
int Digit(uint8_t n) {
  return n >= '0' && n <= '9' ? n - '0' : n;
}

uint8_t Param(const Command& c, size_t i) {
  return i < c.params.size() ? c.params[i] : 0;
}
int Le16(const Command& c, size_t i) {
  return Param(c, i) | Param(c, i + 1) << 8;
}

}  // namespace

bool IsOffline(const DeviceStatus& s) {
  return s.offline_switch || s.cover_open || s.paper == Paper::kEnd || s.fault != Fault::kNone;
}

StatusBlock AsbBlock(const DeviceStatus& s) {
  StatusBlock b{0x10, 0x00, 0x00, 0x0F};
  if (IsOffline(s)) b[0] |= 0x08;
  if (s.cover_open) b[0] |= 0x20;
  switch (s.fault) {
    case Fault::kUnrecoverable:
      b[1] = 0x20;
      break;
    case Fault::kCutter:
      b[1] = 0x48;
      break;
    case Fault::kMechanical:
      b[1] = 0x44;
      break;
    case Fault::kNone:
      break;
  }
  if (s.paper == Paper::kEnd) b[2] = 0x0C;
  if (s.paper == Paper::kNearEnd) b[2] = 0x03;
  return b;
}

StatusBlock CartridgeBlock(const DeviceStatus& s) {
  uint8_t b1 = 0x40;
  switch (s.primary) {
    case Cartridge::kRemoved:
      b1 |= 0x04;
      break;
    case Cartridge::kEmpty:
      b1 |= 0x02;
      break;
    case Cartridge::kNearEnd:
      b1 |= 0x01;
      break;
    case Cartridge::kOk:
      break;
  }
  if (s.second == Cartridge::kRemoved) b1 |= 0x08;
  if (s.head_cleaning) b1 |= 0x20;
  // Give up the lesser conditions until the byte is one the host admits; the
  // removed bits alone always are.
  for (uint8_t lesser : {uint8_t{0x01}, uint8_t{0x02}, uint8_t{0x20}}) {
    if (AdmittedSecondByte(b1)) break;
    b1 &= static_cast<uint8_t>(~lesser);
  }
  uint8_t b2 = 0x40;
  if (s.second == Cartridge::kEmpty) b2 |= 0x02;
  if (s.second == Cartridge::kNearEnd) b2 |= 0x01;
  return {0x35, b1, b2, 0x00};
}

uint8_t RealtimeReply(const DeviceStatus& s, uint8_t n) {
  uint8_t r = 0x12;
  switch (n) {
    case 1:
      if (IsOffline(s)) r |= 0x08;
      break;
    case 2:
      if (s.cover_open) r |= 0x04;
      if (s.paper == Paper::kEnd) r |= 0x20;
      if (s.fault != Fault::kNone) r |= 0x40;
      break;
    case 3:
      if (IsOffline(s)) r |= 0x01;
      if (s.fault == Fault::kMechanical) r |= 0x04;
      if (s.fault == Fault::kCutter) r |= 0x08;
      if (s.fault == Fault::kUnrecoverable) r |= 0x20;
      if (s.cover_open) r |= 0x40;
      if (s.paper == Paper::kEnd) r |= 0x80;
      break;
    case 4:
      if (s.paper != Paper::kOk) r |= 0x0C;
      if (s.paper == Paper::kEnd) r |= 0x60;
      break;
    default:
      break;
  }
  return r;
}

void PrinterState::Initialize() {
  selected = true;
  code_table = 0;
  international_set = 0;
  style = TextStyle{};
  alignment = Alignment::kLeft;
  line_spacing = kDefaultLineSpacing;
  left_margin = 0;
  print_width = kPrintableDots;
  right_spacing = 0;
  absolute_position = 0;
  tab_stops.clear();
  barcode = BarcodeSettings{};
  page = PageModeState{};
}

void PrinterState::Apply(const Command& c) {
  const uint8_t n = Param(c, 0);
  const auto& data = c.data;
  switch (c.op) {
    case Op::kInitialize:
      Initialize();
      break;
    case Op::kSelectPeripheral:
      selected = (n & 1) != 0;
      break;
    case Op::kAutomaticStatus:
      automatic_status_mask = n;
      break;
    case Op::kTabPositions:
      // The columns must rise; the list ends at the first that does not.
      tab_stops.clear();
      for (const char byte : data) {
        const int column = static_cast<uint8_t>(byte);
        if (column == 0 || (!tab_stops.empty() && column <= tab_stops.back())) break;
        tab_stops.push_back(column);
      }
      break;
    case Op::kPrintMode:
      style.font = n & 0x01;
      style.emphasis = (n & 0x08) != 0;
      style.double_height = (n & 0x10) != 0;
      style.double_width = (n & 0x20) != 0;
      style.underline = (n & 0x80) ? 1 : 0;
      break;
    case Op::kCharacterSize:
      style.width_factor = ((n >> 4) & 0x07) + 1;
      style.height_factor = (n & 0x07) + 1;
      break;
    case Op::kUnderline:
      style.underline = Digit(n) <= 2 ? Digit(n) : style.underline;
      break;
    case Op::kEmphasis:
      style.emphasis = (n & 1) != 0;
      break;
    case Op::kDoubleStrike:
      style.double_strike = (n & 1) != 0;
      break;
    case Op::kFont:
      style.font = Digit(n);
      break;
    case Op::kReverse:
      style.reverse = (n & 1) != 0;
      break;
    case Op::kUpsideDown:
      style.upside_down = (n & 1) != 0;
      break;
    case Op::kRotate90:
      style.rotate90 = Digit(n) != 0;
      break;
    case Op::kColour:
      style.colour = Digit(n) == 1 ? 1 : 0;
      break;
    case Op::kCharacterColour:
      // fn 48 selects the character colour: 49 first, 50 second.
      if (data.size() >= 2 && static_cast<uint8_t>(data[0]) == 48) {
        style.colour = static_cast<uint8_t>(data[1]) == 50 ? 1 : 0;
      }
      break;
    case Op::kAlign:
      if (Digit(n) <= 2) alignment = static_cast<Alignment>(Digit(n));
      break;
    case Op::kLineSpacing:
      line_spacing = n;
      break;
    case Op::kDefaultLineSpacing:
      line_spacing = kDefaultLineSpacing;
      break;
    case Op::kCodeTable:
      code_table = n;
      break;
    case Op::kInternationalSet:
      international_set = n;
      break;
    case Op::kRightSpacing:
      right_spacing = n;
      break;
    case Op::kLeftMargin:
      left_margin = Le16(c, 0);
      break;
    case Op::kPrintWidth:
      print_width = Le16(c, 0);
      break;
    case Op::kAbsolutePosition:
      absolute_position = Le16(c, 0);
      if (page.active) page.x = absolute_position;
      break;
    case Op::kPageMode:
      page.active = true;
      page.x = page.y = 0;
      break;
    case Op::kStandardMode:
      page.active = false;
      break;
    case Op::kPageDirection:
      page.direction = Digit(n) & 3;
      break;
    case Op::kPageArea:
      page.area_x = Le16(c, 0);
      page.area_y = Le16(c, 2);
      page.area_width = Le16(c, 4);
      page.area_height = Le16(c, 6);
      break;
    case Op::kPageVerticalPosition:
      if (page.active) page.y = Le16(c, 0);
      break;
    case Op::kFormFeed:
      // In page mode FF prints the page and returns to standard mode.
      if (page.active) {
        ++pages_printed;
        page.active = false;
      }
      break;
    case Op::kPrintPage:
      if (page.active) ++pages_printed;
      break;
    case Op::kBarcodeHeight:
      barcode.height = n;
      break;
    case Op::kBarcodeWidth:
      barcode.module_width = n;
      break;
    case Op::kHriPosition:
      barcode.hri_position = Digit(n) & 3;
      break;
    case Op::kHriFont:
      barcode.hri_font = Digit(n);
      break;
    case Op::kCut:
    case Op::kFullCutLegacy:
    case Op::kPartialCutLegacy:
      if (!c.truncated) ++cuts;
      break;
    default:
      break;
  }
}

const char* PaperName(Paper paper) {
  switch (paper) {
    case Paper::kOk:
      return "ok";
    case Paper::kNearEnd:
      return "near";
    case Paper::kEnd:
      return "end";
  }
  return "?";
}

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "none";
    case Fault::kCutter:
      return "cutter";
    case Fault::kMechanical:
      return "mechanical";
    case Fault::kUnrecoverable:
      return "unrecoverable";
  }
  return "?";
}

const char* CartridgeName(Cartridge cartridge) {
  switch (cartridge) {
    case Cartridge::kOk:
      return "ok";
    case Cartridge::kNearEnd:
      return "near";
    case Cartridge::kEmpty:
      return "empty";
    case Cartridge::kRemoved:
      return "removed";
  }
  return "?";
}

std::string DescribeStatus(const PrinterState& state) {
  const DeviceStatus& s = state.status;
  char mask[8];
  std::snprintf(mask, sizeof mask, "%u", state.automatic_status_mask);
  return std::string("cover=") + (s.cover_open ? "open" : "closed") +
         " paper=" + PaperName(s.paper) + " error=" + FaultName(s.fault) +
         " online=" + (IsOffline(s) ? "no" : "yes") + " primary=" + CartridgeName(s.primary) +
         " second=" + CartridgeName(s.second) + " cleaning=" + (s.head_cleaning ? "on" : "off") +
         " asb=" + mask + " page-mode=" + (state.page.active ? "on" : "off");
}

}  // namespace qz381::sim
