#pragma once
// Barcodes (GS k) and two-dimensional symbols (GS ( k: PDF417 and QR Code)
// drawn as the QZ381 prints them. The bars and modules come from libzint; this
// module checks the data the way the printer does, turns it into what zint
// takes, and scales zint's modules to dots. No quiet zone is added: the
// printer prints none beyond the paper margin.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/command_parser.h"
#include "tools/sim/printer_state.h"
#include "tools/sim/render/bitmap.h"

namespace qz381::sim::render {

// Nothing larger is drawn: a symbol over this many dots is refused.
inline constexpr int64_t kMaxSymbolDots = int64_t{16} << 20;

struct LinearSymbol {
  Bitmap bars;  // module_width dots a module, `height` rows
  // What the printer prints as HRI: UPC/EAN digits with the check digit
  // (UPC-E in its 8-digit form), Code 39 between `*`s, Code 128 without the
  // `{` pairs; characters outside printable ASCII show as spaces.
  std::string hri;
};

// Draws GS k barcode `m` (0..6 or 65..73) with the settings in force. False
// with *error set when the printer would refuse the data. A module width
// outside 2..6 or a height outside 1..255 is drawn with the default (3, 162).
// `out` and `error` must not be null (nor below).
bool DrawLinearBarcode(uint8_t m, std::string_view data, const BarcodeSettings& settings,
                       LinearSymbol* out, std::string* error);

// The GS ( k functions of one printer: the PDF417 and QR Code settings and
// their stored data, which stays after printing.
class SymbolStore {
 public:
  // Applies one GS ( k command. True when it was a print function that drew a
  // symbol into *out. False otherwise, with *error set when it was a print
  // that could not be drawn (nothing stored, data too long for the symbol) or
  // a function that is malformed or out of range (the setting is kept).
  bool Apply(const Command& command, Bitmap* out, std::string* error);
  // ESC @: settings back to their power-on values, stored data dropped.
  void Reset() { *this = SymbolStore(); }

 private:
  struct Pdf417 {
    int columns = 0;  // 0: automatic
    int rows = 0;     // 0: automatic
    int module_width = 3;
    int row_height = 3;         // times the module width
    bool ecc_by_level = false;  // level 0..8, or a ratio in tens of percent
    int ecc = 1;
    bool truncated = false;
    std::string data;
  };
  struct Qr {
    bool micro = false;
    int module_size = 3;
    int ecc = 1;  // 1..4: L, M, Q, H
    std::string data;
  };
  bool ApplyPdf417(uint8_t fn, std::string_view args, Bitmap* out, std::string* error);
  bool ApplyQr(uint8_t fn, std::string_view args, Bitmap* out, std::string* error);

  Pdf417 pdf417_;
  Qr qr_;
};

}  // namespace qz381::sim::render
