#include "tools/sim/command_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace qz381::sim {
namespace {

constexpr uint8_t kNul = 0x00, kBs = 0x08, kHt = 0x09, kLf = 0x0A, kFf = 0x0C, kCr = 0x0D;
constexpr uint8_t kDle = 0x10, kCan = 0x18, kEsc = 0x1B, kFs = 0x1C, kGs = 0x1D;

// How the bytes after a command's prefix are measured.
enum class Form : uint8_t {
  kFixed,          // `fixed` parameter bytes
  kLength16,       // pL pH, then pL + 256 pH data bytes
  kLength32,       // p1 p2 p3 p4, then that many data bytes
  kBitImage,       // ESC *: m nL nH, then one (8-dot) or three (24-dot) bytes per column
  kRaster,         // GS v 0: m xL xH yL yH, then x * y bytes
  kBarcode,        // GS k: m, then NUL-terminated data (m < 65) or n and n bytes
  kCut,            // GS V: m, and n for the feed-and-cut forms
  kDownloadImage,  // GS *: x y, then x * y * 8 bytes
  kTerminated,     // ESC D: data up to a NUL
  kRealtime,       // DLE DC4: fn and two bytes, or fn 8 and seven bytes
  kUserChars,      // ESC &: y c1 c2, then for each character x and y * x bytes
  kNvImages,       // FS q: n, then n times xL xH yL yH and x * y * 8 bytes
};

struct Entry {
  std::array<uint8_t, 3> prefix;
  uint8_t prefix_length;
  Form form;
  uint8_t fixed;
  Op op;
  const char* what;
};

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

bool IsPrefix(uint8_t b) {
  return b == kEsc || b == kGs || b == kFs || b == kDle || b == kBs;
}

// Text is what the printer prints from its code table: everything from the
// space up, except DEL.
bool IsText(uint8_t b) {
  return b >= 0x20 && b != 0x7F;
}

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

std::string HexBytes(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%s0x%02X", out.empty() ? "" : " ", b);
    out += hex;
  }
  return out;
}

uint32_t Le16(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8);
}

bool CutTakesFeed(uint8_t m) {
  return m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
}

// Parameter bytes the command needs, given those received so far (some forms
// decide their length from their first parameter).
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

// Segmented commands: how many segments the parameters announce, the size of
// each segment's header, and the data a segment header announces.
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

// Data bytes announced by complete parameters; kTerminatedData for data that
// runs to a NUL.
constexpr uint64_t kTerminatedData = ~uint64_t{0};
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

// The longest NUL-terminated data a command may have before the printer gives
// up waiting for the NUL.
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

const char* ParenWhat(Op op) {
  switch (op) {
    case Op::kGraphics:
      return "graphics";
    case Op::kSymbol:
      return "symbol";
    case Op::kCharacterColour:
      return "character-colour";
    default:
      return "extended-function";
  }
}

const char* BarcodeName(uint8_t m) {
  static constexpr const char* kNames[] = {"UPC-A", "UPC-E",   "EAN13",  "EAN8",   "CODE39",
                                           "ITF",   "CODABAR", "CODE93", "CODE128"};
  if (m <= 6) return kNames[m];
  if (m >= 65 && m <= 73) return kNames[m - 65];
  return "unknown-symbology";
}

std::string SymbolWhat(uint8_t cn, uint8_t fn) {
  const char* family = cn == 48 ? "pdf417" : cn == 49 ? "qr" : cn == 50 ? "maxicode" : "symbol";
  const char* function = "function";
  if (cn == 48) {
    switch (fn) {
      case 65:
        function = "columns";
        break;
      case 66:
        function = "rows";
        break;
      case 67:
        function = "module-width";
        break;
      case 68:
        function = "row-height";
        break;
      case 69:
        function = "error-correction";
        break;
      case 70:
        function = "options";
        break;
      default:
        break;
    }
  } else if (cn == 49) {
    switch (fn) {
      case 65:
        function = "model";
        break;
      case 67:
        function = "module-size";
        break;
      case 69:
        function = "error-correction";
        break;
      default:
        break;
    }
  }
  if (fn == 80) function = "store";
  if (fn == 81) function = "print";
  if (fn == 82) function = "size-info";
  return std::string(family) + "-" + function;
}

void AppendDecimal(std::string& out, std::string_view bytes) {
  for (unsigned char b : bytes) out += ' ' + std::to_string(b);
}

void AppendBlob(std::string& out, uint64_t length) {
  out += " <" + std::to_string(length) + " bytes>";
}

}  // namespace

std::string QuoteBytes(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char b : bytes) {
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out + "\"";
}

std::string FormatJournalLine(const Command& c) {
  if (c.op == Op::kText) return "TEXT " + QuoteBytes(c.data);
  if (c.op == Op::kUnknown) return "UNKNOWN " + HexBytes(c.data);
  if (c.op == Op::kIncomplete) return c.name + " TRUNCATED";

  std::string line = c.name;
  for (uint8_t p : c.params) line += ' ' + std::to_string(p);
  std::string_view data = c.data;
  std::string what;
  // Find the table's wording for the command (GS ( x has its own).
  for (const Entry& s : kTable) {
    if (s.op == c.op) {
      what = s.what;
      break;
    }
  }
  switch (c.op) {
    case Op::kBarcode:
      if (!c.params.empty()) {
        line += ' ' + QuoteBytes(data);
        what = std::string("barcode ") + BarcodeName(c.params[0]);
      }
      break;
    case Op::kSymbol:
      what = ParenWhat(c.op);
      if (data.size() >= 2) {
        const auto cn = static_cast<uint8_t>(data[0]), fn = static_cast<uint8_t>(data[1]);
        what = SymbolWhat(cn, fn);
        if (fn == 80 && data.size() >= 3) {
          AppendDecimal(line, data.substr(0, 3));
          line += ' ' + QuoteBytes(data.substr(3));
          data = {};
        }
      }
      AppendDecimal(line, data);
      break;
    case Op::kGraphics: {
      what = "graphics";
      const auto fn = data.size() >= 2 ? static_cast<uint8_t>(data[1]) : 0;
      if ((fn == 0x70 || fn == 0x71) && data.size() >= 10) {
        const auto* d = reinterpret_cast<const uint8_t*>(data.data());
        AppendDecimal(line, data.substr(0, 10));
        AppendBlob(line, c.data_length - 10);
        what = "graphics-store " + std::to_string(Le16(d + 6)) + "x" + std::to_string(Le16(d + 8)) +
               " plane " + std::to_string(d[5] >= 49 ? d[5] - 48 : d[5]);
      } else if (fn == 0x32 || fn == 2) {
        AppendDecimal(line, data);
        what = "graphics-print";
      } else if (data.size() <= 16) {
        AppendDecimal(line, data);
      } else {
        AppendDecimal(line, data.substr(0, 2));
        AppendBlob(line, c.data_length - 2);
      }
      break;
    }
    case Op::kCharacterColour:
    case Op::kExtended:
      what = ParenWhat(c.op);
      if (data.size() <= 16) {
        AppendDecimal(line, data);
      } else {
        AppendDecimal(line, data.substr(0, 2));
        AppendBlob(line, c.data_length - 2);
      }
      break;
    case Op::kVendorCommand:
    case Op::kTabPositions:
      AppendDecimal(line, data);
      break;
    case Op::kBitImage:
      if (c.params.size() == 3) {
        AppendBlob(line, c.data_length);
        const bool tall = c.params[0] == 32 || c.params[0] == 33;
        what += ' ' + std::to_string(c.params[1] | c.params[2] << 8) + "x" + (tall ? "24" : "8");
      }
      break;
    case Op::kRasterImage:
      if (c.params.size() == 5) {
        AppendBlob(line, c.data_length);
        what += ' ' + std::to_string((c.params[1] | c.params[2] << 8) * 8) + "x" +
                std::to_string(c.params[3] | c.params[4] << 8);
      }
      break;
    case Op::kDefineUserChars:
    case Op::kDefineNvImages:
      AppendBlob(line, c.data_length);
      break;
    case Op::kDefineDownloadImage:
      if (c.params.size() == 2) {
        AppendBlob(line, c.data_length);
        what += ' ' + std::to_string(c.params[0] * 8) + "x" + std::to_string(c.params[1] * 8);
      }
      break;
    default:
      break;
  }
  if (!what.empty()) line += ' ' + what;
  if (c.truncated) line += " TRUNCATED";
  return line;
}

void CommandParser::Feed(std::span<const uint8_t> bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (phase_ == Phase::kPayload) {
      // Image data comes in bulk; copy it in one go rather than byte by byte.
      const uint64_t take = std::min<uint64_t>(payload_remaining_, bytes.size() - i);
      const size_t room = kMaxStoredPayload - std::min(kMaxStoredPayload, current_.data.size());
      current_.data.append(reinterpret_cast<const char*>(bytes.data() + i),
                           static_cast<size_t>(std::min<uint64_t>(take, room)));
      payload_remaining_ -= take;
      i += static_cast<size_t>(take);
      if (payload_remaining_ == 0) EndPayload();
      continue;
    }
    FeedByte(bytes[i++]);
  }
}

void CommandParser::FeedByte(uint8_t byte) {
  switch (phase_) {
    case Phase::kText:
      if (IsText(byte)) {
        text_ += static_cast<char>(byte);
        if (text_.size() >= kMaxTextRun) EmitText();
        return;
      }
      EmitText();
      StartCommand(byte);
      return;
    case Phase::kIdle:
      StartCommand(byte);
      return;
    case Phase::kHeader:
      HeaderByte(byte);
      return;
    case Phase::kTerminated:
      if (byte == kNul) {
        EmitCurrent();
        return;
      }
      current_.data += static_cast<char>(byte);
      ++current_.data_length;
      if (current_.data.size() >= terminated_limit_) EmitCurrent();
      return;
    case Phase::kSegmentHeader:
      SegmentHeaderByte(byte);
      return;
    case Phase::kPayload:
      return;  // handled in bulk by Feed
  }
}

void CommandParser::EndPayload() {
  if (segments_left_ > 0) {
    phase_ = Phase::kSegmentHeader;
    return;
  }
  EmitCurrent();
}

void CommandParser::SegmentHeaderByte(uint8_t byte) {
  const Entry& entry = *static_cast<const Entry*>(entry_);
  segment_header_.push_back(byte);
  if (current_.data.size() < kMaxStoredPayload) current_.data += static_cast<char>(byte);
  ++current_.data_length;
  if (segment_header_.size() < SegmentHeaderSize(entry)) return;
  const uint64_t length = SegmentLength(entry, current_.params, segment_header_);
  segment_header_.clear();
  --segments_left_;
  current_.data_length += length;
  if (length > 0) {
    payload_remaining_ = length;
    phase_ = Phase::kPayload;
  } else if (segments_left_ == 0) {
    EmitCurrent();
  }
}

void CommandParser::StartCommand(uint8_t byte) {
  if (IsText(byte)) {
    phase_ = Phase::kText;
    text_.assign(1, static_cast<char>(byte));
    return;
  }
  current_ = Command{};
  switch (byte) {
    case kNul:
      current_.op = Op::kNul;
      break;
    case kHt:
      current_.op = Op::kHorizontalTab;
      break;
    case kLf:
      current_.op = Op::kLineFeed;
      break;
    case kCr:
      current_.op = Op::kCarriageReturn;
      break;
    case kFf:
      current_.op = Op::kFormFeed;
      break;
    case kCan:
      current_.op = Op::kCancelPage;
      break;
    default:
      if (IsPrefix(byte)) {
        header_.assign(1, byte);
        entry_ = nullptr;
        phase_ = Phase::kHeader;
        return;
      }
      EmitUnknown(std::string(1, static_cast<char>(byte)));
      return;
  }
  current_.name = ControlName(byte);
  EmitCurrent();
}

void CommandParser::HeaderByte(uint8_t byte) {
  if (entry_ == nullptr) {
    header_.push_back(byte);
    bool need_more = false;
    const Entry* entry = MatchEntry(header_, &need_more);
    if (entry == nullptr && need_more) return;
    if (entry == nullptr) {
      // An unknown function. When the byte that made it unknown is itself a
      // control byte, it is more likely the start of the next command than a
      // parameter: leave it to be parsed again.
      header_.pop_back();
      if (byte >= 0x20) {
        header_.push_back(byte);
        EmitUnknown(std::string(header_.begin(), header_.end()));
        return;
      }
      EmitUnknown(std::string(header_.begin(), header_.end()));
      FeedByte(byte);
      return;
    }
    entry_ = entry;
    prefix_length_ = header_.size();
    current_ = Command{};
    current_.op = entry == &kGsParenEntry ? ParenOp(header_[2]) : entry->op;
    current_.name = Mnemonic(header_);
  } else {
    current_.params.push_back(byte);
  }
  const Entry& entry = *static_cast<const Entry*>(entry_);
  if (current_.params.size() < ParamsNeeded(entry, current_.params)) return;

  if (entry.form == Form::kUserChars || entry.form == Form::kNvImages) {
    segments_left_ = SegmentCount(entry, current_.params);
    segment_header_.clear();
    if (segments_left_ == 0) {
      EmitCurrent();
    } else {
      phase_ = Phase::kSegmentHeader;
    }
    return;
  }
  const uint64_t length = PayloadLength(entry, current_.params);
  if (length == kTerminatedData) {
    phase_ = Phase::kTerminated;
    terminated_limit_ = TerminatedLimit(entry);
    return;
  }
  current_.data_length = length;
  if (length == 0) {
    EmitCurrent();
    return;
  }
  payload_remaining_ = length;
  phase_ = Phase::kPayload;
}

void CommandParser::EmitCurrent() {
  phase_ = Phase::kIdle;
  header_.clear();
  entry_ = nullptr;
  payload_remaining_ = 0;
  segments_left_ = 0;
  sink_(current_);
}

void CommandParser::EmitText() {
  phase_ = Phase::kIdle;
  Command text;
  text.op = Op::kText;
  text.name = "TEXT";
  text.data = std::move(text_);
  text.data_length = text.data.size();
  text_.clear();
  sink_(text);
}

void CommandParser::EmitUnknown(std::string bytes) {
  phase_ = Phase::kIdle;
  header_.clear();
  entry_ = nullptr;
  Command unknown;
  unknown.op = Op::kUnknown;
  unknown.name = "UNKNOWN";
  unknown.data_length = bytes.size();
  unknown.data = std::move(bytes);
  sink_(unknown);
}

void CommandParser::FlushText() {
  if (phase_ == Phase::kText) EmitText();
}

void CommandParser::Finish() {
  switch (phase_) {
    case Phase::kIdle:
      return;
    case Phase::kText:
      EmitText();
      return;
    case Phase::kHeader:
      if (entry_ == nullptr) {
        // Not even the function byte arrived: the prefix is all there is.
        current_ = Command{};
        current_.op = Op::kIncomplete;
        current_.name = Mnemonic(header_);
        current_.truncated = true;
        EmitCurrent();
        return;
      }
      break;
    case Phase::kTerminated:
    case Phase::kPayload:
    case Phase::kSegmentHeader:
      break;
  }
  current_.truncated = true;
  EmitCurrent();
}

}  // namespace qz381::sim
