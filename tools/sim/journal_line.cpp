#include <cstdio>

#include "tools/sim/command_parser.h"
#include "tools/sim/command_table.h"

namespace qz381::sim {
namespace {

using commands::Le16;

std::string HexBytes(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%s0x%02X", out.empty() ? "" : " ", b);
    out += hex;
  }
  return out;
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
  if (const char* wording = commands::TableWhat(c.op)) what = wording;
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

}  // namespace qz381::sim
