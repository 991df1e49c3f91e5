#include "tools/sim/command_table.h"

#include <array>
#include <cstdio>

namespace qz381::sim::commands {
namespace {

// GS ( x: every function of that family carries a 16-bit length, so unknown
// letters still keep the stream in step.
constexpr Entry kGsParenEntry{{kGs, '(', 0},      3, Form::kLength16, 0, Op::kExtended,
                              "extended-function"};

constexpr Entry kTable[] = {
    {{kEsc, kFf, 0}, 2, Form::kFixed, 0, Op::kPrintPage, "print-page"},
    {{kEsc, ' ', 0}, 2, Form::kFixed, 1, Op::kRightSpacing, "right-spacing"},
    {{kEsc, '!', 0}, 2, Form::kFixed, 1, Op::kPrintMode, "print-mode"},
    {{kEsc, '$', 0}, 2, Form::kFixed, 2, Op::kAbsolutePosition, "absolute-position"},
    {{kEsc, '%', 0}, 2, Form::kFixed, 1, Op::kUserCharSet, "user-characters"},
    {{kEsc, '&', 0}, 2, Form::kUserChars, 0, Op::kDefineUserChars, "define-user-characters"},
    {{kEsc, '*', 0}, 2, Form::kBitImage, 0, Op::kBitImage, "bit-image"},
    {{kEsc, '-', 0}, 2, Form::kFixed, 1, Op::kUnderline, "underline"},
    {{kEsc, '2', 0}, 2, Form::kFixed, 0, Op::kDefaultLineSpacing, "default-line-spacing"},
    {{kEsc, '3', 0}, 2, Form::kFixed, 1, Op::kLineSpacing, "line-spacing"},
    {{kEsc, '=', 0}, 2, Form::kFixed, 1, Op::kSelectPeripheral, "select-peripheral"},
    {{kEsc, '?', 0}, 2, Form::kFixed, 1, Op::kCancelUserChar, "cancel-user-character"},
    {{kEsc, '@', 0}, 2, Form::kFixed, 0, Op::kInitialize, "initialize"},
    {{kEsc, 'D', 0}, 2, Form::kTerminated, 0, Op::kTabPositions, "tab-positions"},
    {{kEsc, 'E', 0}, 2, Form::kFixed, 1, Op::kEmphasis, "emphasis"},
    {{kEsc, 'G', 0}, 2, Form::kFixed, 1, Op::kDoubleStrike, "double-strike"},
    {{kEsc, 'J', 0}, 2, Form::kFixed, 1, Op::kFeedDots, "feed-dots"},
    {{kEsc, 'K', 0}, 2, Form::kFixed, 1, Op::kReverseFeedDots, "reverse-feed-dots"},
    {{kEsc, 'L', 0}, 2, Form::kFixed, 0, Op::kPageMode, "page-mode"},
    {{kEsc, 'M', 0}, 2, Form::kFixed, 1, Op::kFont, "font"},
    {{kEsc, 'R', 0}, 2, Form::kFixed, 1, Op::kInternationalSet, "international-set"},
    {{kEsc, 'S', 0}, 2, Form::kFixed, 0, Op::kStandardMode, "standard-mode"},
    {{kEsc, 'T', 0}, 2, Form::kFixed, 1, Op::kPageDirection, "page-direction"},
    {{kEsc, 'U', 0}, 2, Form::kFixed, 1, Op::kUnidirectional, "unidirectional"},
    {{kEsc, 'V', 0}, 2, Form::kFixed, 1, Op::kRotate90, "rotate-90"},
    {{kEsc, 'W', 0}, 2, Form::kFixed, 8, Op::kPageArea, "page-area"},
    {{kEsc, '\\', 0}, 2, Form::kFixed, 2, Op::kRelativePosition, "relative-position"},
    {{kEsc, 'a', 0}, 2, Form::kFixed, 1, Op::kAlign, "align"},
    {{kEsc, 'c', '3'}, 3, Form::kFixed, 1, Op::kPaperSensorOutput, "paper-sensor-output"},
    {{kEsc, 'c', '4'}, 3, Form::kFixed, 1, Op::kPaperSensorStop, "paper-sensor-stop"},
    {{kEsc, 'c', '5'}, 3, Form::kFixed, 1, Op::kPanelButtons, "panel-buttons"},
    {{kEsc, 'd', 0}, 2, Form::kFixed, 1, Op::kFeedLines, "feed-lines"},
    {{kEsc, 'e', 0}, 2, Form::kFixed, 1, Op::kReverseFeedLines, "reverse-feed-lines"},
    {{kEsc, 'g', 0}, 2, Form::kFixed, 1, Op::kVendorFunction, "vendor-function"},
    {{kEsc, 'i', 0}, 2, Form::kFixed, 0, Op::kFullCutLegacy, "full-cut"},
    {{kEsc, 'm', 0}, 2, Form::kFixed, 0, Op::kPartialCutLegacy, "partial-cut"},
    {{kEsc, 'p', 0}, 2, Form::kFixed, 3, Op::kDrawerPulse, "drawer-pulse"},
    {{kEsc, 'r', 0}, 2, Form::kFixed, 1, Op::kColour, "colour"},
    {{kEsc, 't', 0}, 2, Form::kFixed, 1, Op::kCodeTable, "code-table"},
    {{kEsc, 'u', 0}, 2, Form::kFixed, 1, Op::kPeripheralStatus, "peripheral-status"},
    {{kEsc, '{', 0}, 2, Form::kFixed, 1, Op::kUpsideDown, "upside-down"},
    {{kGs, '!', 0}, 2, Form::kFixed, 1, Op::kCharacterSize, "character-size"},
    {{kGs, '$', 0}, 2, Form::kFixed, 2, Op::kPageVerticalPosition, "page-vertical-position"},
    {{kGs, '*', 0}, 2, Form::kDownloadImage, 0, Op::kDefineDownloadImage, "define-download-image"},
    {{kGs, '/', 0}, 2, Form::kFixed, 1, Op::kPrintDownloadImage, "print-download-image"},
    {{kGs, '8', 'L'}, 3, Form::kLength32, 0, Op::kGraphics, "graphics"},
    {{kGs, ':', 0}, 2, Form::kFixed, 0, Op::kMacro, "macro"},
    {{kGs, 'B', 0}, 2, Form::kFixed, 1, Op::kReverse, "reverse"},
    {{kGs, 'H', 0}, 2, Form::kFixed, 1, Op::kHriPosition, "hri-position"},
    {{kGs, 'I', 0}, 2, Form::kFixed, 1, Op::kPrinterId, "printer-id"},
    {{kGs, 'L', 0}, 2, Form::kFixed, 2, Op::kLeftMargin, "left-margin"},
    {{kGs, 'P', 0}, 2, Form::kFixed, 2, Op::kMotionUnits, "motion-units"},
    {{kGs, 'V', 0}, 2, Form::kCut, 0, Op::kCut, "cut"},
    {{kGs, 'W', 0}, 2, Form::kFixed, 2, Op::kPrintWidth, "print-width"},
    {{kGs, '\\', 0}, 2, Form::kFixed, 2, Op::kPageRelativeVertical, "page-relative-vertical"},
    {{kGs, '^', 0}, 2, Form::kFixed, 3, Op::kExecuteMacro, "execute-macro"},
    {{kGs, 'a', 0}, 2, Form::kFixed, 1, Op::kAutomaticStatus, "automatic-status"},
    {{kGs, 'b', 0}, 2, Form::kFixed, 1, Op::kSmoothing, "smoothing"},
    {{kGs, 'f', 0}, 2, Form::kFixed, 1, Op::kHriFont, "hri-font"},
    {{kGs, 'h', 0}, 2, Form::kFixed, 1, Op::kBarcodeHeight, "barcode-height"},
    {{kGs, 'k', 0}, 2, Form::kBarcode, 0, Op::kBarcode, "barcode"},
    {{kGs, 'r', 0}, 2, Form::kFixed, 1, Op::kTransmitStatus, "transmit-status"},
    {{kGs, 'v', '0'}, 3, Form::kRaster, 0, Op::kRasterImage, "raster-image"},
    {{kGs, 'w', 0}, 2, Form::kFixed, 1, Op::kBarcodeWidth, "barcode-width"},
    {{kFs, 'p', 0}, 2, Form::kFixed, 2, Op::kPrintNvImage, "print-nv-image"},
    {{kFs, 'q', 0}, 2, Form::kNvImages, 0, Op::kDefineNvImages, "define-nv-images"},
    {{kFs, '!', 0}, 2, Form::kFixed, 1, Op::kKanjiMode, "kanji-mode"},
    {{kFs, '&', 0}, 2, Form::kFixed, 0, Op::kKanjiOn, "kanji-on"},
    {{kFs, '.', 0}, 2, Form::kFixed, 0, Op::kKanjiOff, "kanji-off"},
    {{kFs, '-', 0}, 2, Form::kFixed, 1, Op::kKanjiUnderline, "kanji-underline"},
    {{kFs, 'S', 0}, 2, Form::kFixed, 2, Op::kKanjiSpacing, "kanji-spacing"},
    {{kFs, 'W', 0}, 2, Form::kFixed, 1, Op::kKanjiQuadruple, "kanji-quadruple"},
    {{kDle, 0x04, 0}, 2, Form::kFixed, 1, Op::kRealtimeStatus, "realtime-status"},
    {{kDle, 0x05, 0}, 2, Form::kFixed, 1, Op::kRealtimeRequest, "realtime-request"},
    {{kDle, 0x14, 0}, 2, Form::kRealtime, 0, Op::kRealtimeCommand, "realtime-command"},
    {{kBs, '^', 'L'}, 3, Form::kLength16, 0, Op::kVendorCommand, "vendor-command"},
};

bool CutTakesFeed(uint8_t m) {
  return m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
}

Op ParenOp(uint8_t letter) {
  switch (letter) {
    case 'L':
      return Op::kGraphics;
    case 'k':
      return Op::kSymbol;
    case 'N':
      return Op::kCharacterColour;
    default:
      return Op::kExtended;
  }
}

}  // namespace

const char* ControlName(uint8_t b) {
  switch (b) {
    case kNul:
      return "NUL";
    case 0x04:
      return "EOT";
    case 0x05:
      return "ENQ";
    case kBs:
      return "BS";
    case kHt:
      return "HT";
    case kLf:
      return "LF";
    case kFf:
      return "FF";
    case kCr:
      return "CR";
    case kDle:
      return "DLE";
    case 0x14:
      return "DC4";
    case kCan:
      return "CAN";
    case kEsc:
      return "ESC";
    case kFs:
      return "FS";
    case kGs:
      return "GS";
    case 0x20:
      return "SP";
    default:
      return nullptr;
  }
}

std::string Mnemonic(std::span<const uint8_t> prefix) {
  std::string out;
  for (uint8_t b : prefix) {
    if (!out.empty()) out += ' ';
    if (const char* name = ControlName(b)) {
      out += name;
    } else if (b > 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", b);
      out += hex;
    }
  }
  return out;
}

const char* TableWhat(Op op) {
  for (const Entry& s : kTable) {
    if (s.op == op) return s.what;
  }
  return nullptr;
}

Op OpOf(const Entry& entry, std::span<const uint8_t> prefix) {
  return &entry == &kGsParenEntry ? ParenOp(prefix[2]) : entry.op;
}

size_t ParamsNeeded(const Entry& entry, const std::vector<uint8_t>& params) {
  switch (entry.form) {
    case Form::kFixed:
      return entry.fixed;
    case Form::kLength16:
      return 2;
    case Form::kLength32:
      return 4;
    case Form::kBitImage:
      return 3;
    case Form::kRaster:
      return 5;
    case Form::kBarcode:
      return params.empty() || params[0] < 65 ? 1 : 2;
    case Form::kCut:
      return params.empty() || !CutTakesFeed(params[0]) ? 1 : 2;
    case Form::kDownloadImage:
      return 2;
    case Form::kTerminated:
      return 0;
    case Form::kRealtime:
      return params.empty() || params[0] != 8 ? 3 : 8;
    case Form::kUserChars:
      return 3;
    case Form::kNvImages:
      return 1;
  }
  return 0;
}

uint64_t SegmentCount(const Entry& entry, const std::vector<uint8_t>& p) {
  switch (entry.form) {
    case Form::kUserChars:
      // Character codes 32 ... 126, first to last; anything else defines none.
      return p[1] >= 32 && p[1] <= p[2] && p[2] <= 126 ? p[2] - p[1] + 1 : 0;
    case Form::kNvImages:
      return p[0];
    default:
      return 0;
  }
}

size_t SegmentHeaderSize(const Entry& entry) {
  return entry.form == Form::kNvImages ? 4 : 1;
}

uint64_t SegmentLength(const Entry& entry, const std::vector<uint8_t>& params,
                       const std::vector<uint8_t>& header) {
  if (entry.form == Form::kNvImages) return uint64_t{Le16(&header[0])} * Le16(&header[2]) * 8;
  return uint64_t{params[0]} * header[0];
}

uint64_t PayloadLength(const Entry& entry, const std::vector<uint8_t>& p) {
  switch (entry.form) {
    case Form::kLength16:
      return Le16(&p[0]);
    case Form::kLength32:
      return p[0] | (uint64_t{p[1]} << 8) | (uint64_t{p[2]} << 16) | (uint64_t{p[3]} << 24);
    case Form::kBitImage:
      return uint64_t{Le16(&p[1])} * (p[0] == 32 || p[0] == 33 ? 3 : 1);
    case Form::kRaster:
      return uint64_t{Le16(&p[1])} * Le16(&p[3]);
    case Form::kBarcode:
      return p[0] < 65 ? kTerminatedData : p[1];
    case Form::kDownloadImage:
      return uint64_t{p[0]} * p[1] * 8;
    case Form::kTerminated:
      return kTerminatedData;
    default:
      return 0;
  }
}

size_t TerminatedLimit(const Entry& entry) {
  return entry.form == Form::kTerminated ? 32 : 255;
}

const Entry* MatchEntry(std::span<const uint8_t> prefix, bool* need_more) {
  *need_more = false;
  if (prefix.size() >= 2 && prefix[0] == kGs && prefix[1] == '(') {
    if (prefix.size() < 3) *need_more = true;
    return prefix.size() < 3 ? nullptr : &kGsParenEntry;
  }
  for (const Entry& s : kTable) {
    bool match = true;
    for (size_t i = 0; i < prefix.size() && i < s.prefix_length; ++i) {
      if (s.prefix[i] != prefix[i]) match = false;
    }
    if (!match) continue;
    if (s.prefix_length == prefix.size()) return &s;
    if (s.prefix_length > prefix.size()) *need_more = true;
  }
  return nullptr;
}

}  // namespace qz381::sim::commands
