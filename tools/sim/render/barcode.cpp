#include "tools/sim/render/barcode.h"

#include <zint.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qz381::sim::render {

namespace {

constexpr size_t kMaxBarcodeData = 255;  // what GS k n can announce
constexpr size_t kMaxSymbolData = 7089;  // the most any QR Code or PDF417 holds

using ZintSymbol = std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)>;

bool Fail(std::string* error, std::string message) {
  *error = std::move(message);
  return false;
}

// Encodes `data` with zint; warnings are fine, errors come back in *error.
ZintSymbol Encode(int symbology, std::string_view data, int option_1, int option_2, int option_3,
                  std::string* error) {
  ZintSymbol symbol(ZBarcode_Create(), &ZBarcode_Delete);
  if (!symbol) {
    *error = "zint: out of memory";
    return symbol;
  }
  symbol->symbology = symbology;
  symbol->input_mode = DATA_MODE;
  symbol->show_hrt = 0;
  symbol->border_width = 0;
  symbol->whitespace_width = 0;
  symbol->whitespace_height = 0;
  symbol->output_options = BARCODE_NO_QUIET_ZONES;
  symbol->option_1 = option_1;
  symbol->option_2 = option_2;
  symbol->option_3 = option_3;
  const int result = ZBarcode_Encode(symbol.get(), reinterpret_cast<const uint8_t*>(data.data()),
                                     static_cast<int>(data.size()));
  // zint keeps at most 200 rows of 1152 modules; anything else is not usable.
  if (result >= ZINT_ERROR || symbol->rows < 1 || symbol->rows > 200 || symbol->width < 1 ||
      symbol->width > 1152) {
    *error = symbol->errtxt[0] != '\0' ? symbol->errtxt : "zint could not encode the data";
    symbol.reset();
  }
  return symbol;
}

// zint keeps each row of modules as bits, the first module in the low bit.
bool Module(const zint_symbol& symbol, int row, int column) {
  return (symbol.encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

// The symbol's module rows drawn `module` dots wide and `row_dots` tall each.
bool Draw(const zint_symbol& symbol, int module, int row_dots, Bitmap* out, std::string* error) {
  const int64_t width = int64_t{symbol.width} * module;
  const int64_t height = int64_t{symbol.rows} * row_dots;
  if (width * height > kMaxSymbolDots) {
    return Fail(error, "symbol of " + std::to_string(width) + " x " + std::to_string(height) +
                           " dots is too large");
  }
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->dots.assign(static_cast<size_t>(width * height), 0);
  for (int row = 0; row < symbol.rows; ++row) {
    uint8_t* line = &out->dots[static_cast<size_t>(row) * row_dots * out->width];
    for (int column = 0; column < symbol.width; ++column) {
      if (Module(symbol, row, column)) std::fill_n(line + column * module, module, 1);
    }
    for (int copy = 1; copy < row_dots; ++copy) {
      std::copy_n(line, out->width, line + static_cast<size_t>(copy) * out->width);
    }
  }
  return true;
}

std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c < 0x20 || c > 0x7E) c = ' ';
  }
  return out;
}

bool AllOf(std::string_view data, std::string_view allowed) {
  return data.find_first_not_of(allowed) == std::string_view::npos;
}

constexpr std::string_view kDigits = "0123456789";

// The 6 digits of the UPC-E symbol for an 11-digit UPC-A number (no check
// digit) whose number system is 0; empty when zeros cannot be suppressed.
std::string SuppressZeros(std::string_view upc_a) {
  const std::string_view maker = upc_a.substr(1, 5), item = upc_a.substr(6, 5);
  if (maker.substr(3) == "00" && maker[2] <= '2' && item.substr(0, 2) == "00") {
    return std::string(maker.substr(0, 2)) + std::string(item.substr(2)) + maker[2];
  }
  if (maker.substr(3) == "00" && item.substr(0, 3) == "000") {
    return std::string(maker.substr(0, 3)) + std::string(item.substr(3)) + '3';
  }
  if (maker[4] == '0' && item.substr(0, 4) == "0000") {
    return std::string(maker.substr(0, 4)) + item[4] + '4';
  }
  if (item.substr(0, 4) == "0000" && item[4] >= '5') {
    return std::string(maker) + item[4];
  }
  return {};
}

// The characters Code 128 data stands for, without its `{` pairs: a code set C
// byte (0..99) becomes two digits, FNC4 lifts the next character by 128.
// zint's plain Code 128 has no FNC1..FNC3, so those are left out of the bars.
bool Code128Text(std::string_view data, std::string* text, std::string* error) {
  if (data.size() < 2 || data[0] != '{' || data[1] < 'A' || data[1] > 'C') {
    return Fail(error, "Code 128: data must begin with {A, {B or {C");
  }
  char set = 0;
  bool shift = false, fnc4 = false;
  for (size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<uint8_t>(data[i]);
    if (c == '{') {
      if (++i == data.size()) return Fail(error, "Code 128: data ends after {");
      switch (data[i]) {
        case 'A':
        case 'B':
        case 'C':
          set = data[i];
          continue;
        case 'S':
          if (set == 'C') return Fail(error, "Code 128: {S in code set C");
          shift = true;
          continue;
        case '1':
        case '2':
        case '3':
          continue;
        case '4':
          if (set == 'C') return Fail(error, "Code 128: {4 in code set C");
          fnc4 = true;
          continue;
        case '{':
          break;
        default:
          return Fail(error, "Code 128: unknown function {" + Printable(data.substr(i, 1)));
      }
    }
    const char current = shift ? (set == 'A' ? 'B' : 'A') : set;
    if (current == 'C') {
      if (c > 99) return Fail(error, "Code 128: byte " + std::to_string(c) + " in code set C");
      *text += static_cast<char>('0' + c / 10);
      *text += static_cast<char>('0' + c % 10);
      continue;
    }
    if (current == 'A' ? c >= 0x60 : (c < 0x20 || c >= 0x80)) {
      return Fail(error, "Code 128: byte " + std::to_string(c) + " not in code set " + current);
    }
    *text += static_cast<char>(fnc4 ? c + 128 : c);
    shift = fnc4 = false;
  }
  if (text->empty()) return Fail(error, "Code 128: no data");
  return true;
}

// What zint is asked to draw for barcode `kind` (m 0..8), and the HRI when it
// is not zint's own text.
struct Request {
  const char* name = "";
  int symbology = 0;
  std::string data;
  std::string hri;
  bool zint_hri = false;
};

bool Prepare(int kind, std::string_view data, Request* request, std::string* error) {
  const size_t n = data.size();
  const bool digits = AllOf(data, kDigits);
  request->data = std::string(data);
  static const char* const kNames[] = {"UPC-A", "UPC-E",   "EAN-13",  "EAN-8",   "Code 39",
                                       "ITF",   "Codabar", "Code 93", "Code 128"};
  if (kind >= 0 && kind <= 8) request->name = kNames[kind];
  switch (kind) {
    case 0:
      if (n < 11 || n > 12 || !digits) return Fail(error, "UPC-A: needs 11 or 12 digits");
      request->symbology = BARCODE_UPCA;
      request->zint_hri = true;
      return true;
    case 1: {
      if (n < 11 || n > 12 || !digits || data[0] != '0') {
        return Fail(error, "UPC-E: needs 11 or 12 digits beginning with 0");
      }
      const std::string six = SuppressZeros(data.substr(0, 11));
      if (six.empty()) return Fail(error, "UPC-E: " + request->data + " cannot be zero-suppressed");
      request->data = '0' + six + std::string(data.substr(11));
      request->symbology = n == 12 ? BARCODE_UPCE_CHK : BARCODE_UPCE;
      request->zint_hri = true;
      return true;
    }
    case 2:
      if (n < 12 || n > 13 || !digits) return Fail(error, "EAN-13: needs 12 or 13 digits");
      request->symbology = n == 13 ? BARCODE_EANX_CHK : BARCODE_EANX;
      request->zint_hri = true;
      return true;
    case 3:
      if (n < 7 || n > 8 || !digits) return Fail(error, "EAN-8: needs 7 or 8 digits");
      request->symbology = n == 8 ? BARCODE_EANX_CHK : BARCODE_EANX;
      request->zint_hri = true;
      return true;
    case 4:
      if (n == 0 || !AllOf(data, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ -.$/+%")) {
        return Fail(error, "Code 39: needs digits, capitals, space and -.$/+%");
      }
      request->symbology = BARCODE_CODE39;
      request->hri = '*' + request->data + '*';
      return true;
    case 5:
      if (n == 0 || n % 2 != 0 || !digits)
        return Fail(error, "ITF: needs an even number of digits");
      request->symbology = BARCODE_C25INTER;
      request->hri = request->data;
      return true;
    case 6: {
      const auto start_stop = [](char c) { return c >= 'A' && c <= 'D'; };
      if (n < 2 || !start_stop(data.front()) || !start_stop(data.back()) ||
          !AllOf(data.substr(1, n - 2), "0123456789-$:/.+")) {
        return Fail(error, "Codabar: needs A-D, then digits and -$:/.+, then A-D");
      }
      request->symbology = BARCODE_CODABAR;
      request->hri = request->data;
      return true;
    }
    case 7:
      if (n == 0 || std::any_of(data.begin(), data.end(), [](char c) { return c & 0x80; })) {
        return Fail(error, "Code 93: needs bytes 0..127");
      }
      request->symbology = BARCODE_CODE93;
      request->hri = Printable(data);
      return true;
    case 8:
      request->data.clear();
      if (!Code128Text(data, &request->data, error)) return false;
      request->symbology = BARCODE_CODE128;
      request->hri = Printable(request->data);
      return true;
    default:
      return Fail(error, "unknown barcode system");
  }
}

}  // namespace

bool DrawLinearBarcode(uint8_t m, std::string_view data, const BarcodeSettings& settings,
                       LinearSymbol* out, std::string* error) {
  // Form A is m 0..6; form B is m 65..73, two systems more.
  const int kind = m <= 6 ? m : (m >= 65 && m <= 73 ? m - 65 : -1);
  if (kind < 0) return Fail(error, "unknown barcode system m=" + std::to_string(m));
  if (data.size() > kMaxBarcodeData) {
    return Fail(error, "barcode data of " + std::to_string(data.size()) + " bytes is too long");
  }
  Request request;
  if (!Prepare(kind, data, &request, error)) return false;
  const ZintSymbol symbol = Encode(request.symbology, request.data, -1, 0, 0, error);
  if (!symbol) return Fail(error, std::string(request.name) + ": " + *error);
  if (symbol->rows != 1) return Fail(error, "zint drew more than one row of bars");
  const int module = settings.module_width >= 2 && settings.module_width <= 6
                         ? settings.module_width
                         : BarcodeSettings{}.module_width;
  const int height =
      settings.height >= 1 && settings.height <= 255 ? settings.height : BarcodeSettings{}.height;
  if (!Draw(*symbol, module, height, &out->bars, error)) return false;
  out->hri =
      request.zint_hri
          ? std::string(reinterpret_cast<const char*>(symbol->text),
                        strnlen(reinterpret_cast<const char*>(symbol->text), sizeof symbol->text))
          : request.hri;
  return true;
}

bool SymbolStore::Apply(const Command& command, Bitmap* out, std::string* error) {
  error->clear();
  if (command.op != Op::kSymbol) return Fail(error, "not a GS ( k command");
  if (command.truncated || command.data.size() < command.data_length) {
    return Fail(error, "GS ( k: data cut short");
  }
  const std::string_view data = command.data;
  if (data.size() < 2) return Fail(error, "GS ( k: no cn and fn");
  const auto cn = static_cast<uint8_t>(data[0]), fn = static_cast<uint8_t>(data[1]);
  if (cn == 48) return ApplyPdf417(fn, data.substr(2), out, error);
  if (cn == 49) return ApplyQr(fn, data.substr(2), out, error);
  return Fail(error, "GS ( k: symbol cn=" + std::to_string(cn) + " not supported");
}

namespace {

// One parameter byte of a setting function, within [low, high].
bool Argument(std::string_view args, size_t index, int low, int high, const char* what, int* value,
              std::string* error) {
  if (args.size() <= index) return Fail(error, std::string(what) + ": parameter missing");
  const int n = static_cast<uint8_t>(args[index]);
  if (n < low || n > high) {
    return Fail(error, std::string(what) + ": " + std::to_string(n) + " out of range");
  }
  *value = n;
  return true;
}

// Store (fn 80): m = 48, then the data.
bool Store(std::string_view args, const char* what, std::string* stored, std::string* error) {
  int m = 0;
  if (!Argument(args, 0, 48, 48, what, &m, error)) return false;
  if (args.size() - 1 > kMaxSymbolData) return Fail(error, std::string(what) + ": data too long");
  *stored = std::string(args.substr(1));
  return true;
}

// The PDF417 error correction level for a ratio of `tenths` x 10% of the data,
// taking a data codeword for about every two bytes.
int LevelForRatio(int tenths, size_t data_bytes) {
  const int64_t wanted = (int64_t{tenths} * std::max<int64_t>(1, (data_bytes + 1) / 2) + 9) / 10;
  int level = 0;
  while (level < 8 && (int64_t{2} << level) < wanted) ++level;
  return level;
}

}  // namespace

bool SymbolStore::ApplyPdf417(uint8_t fn, std::string_view args, Bitmap* out, std::string* error) {
  Pdf417& p = pdf417_;
  int value = 0;
  switch (fn) {
    case 65:
      if (Argument(args, 0, 0, 30, "PDF417 columns", &value, error)) p.columns = value;
      return false;
    case 66:
      if (Argument(args, 0, 0, 90, "PDF417 rows", &value, error)) {
        if (value == 1 || value == 2) return Fail(error, "PDF417 rows: " + std::to_string(value));
        p.rows = value;
      }
      return false;
    case 67:
      if (Argument(args, 0, 2, 8, "PDF417 module width", &value, error)) p.module_width = value;
      return false;
    case 68:
      if (Argument(args, 0, 2, 8, "PDF417 row height", &value, error)) p.row_height = value;
      return false;
    case 69: {
      int m = 0;
      if (!Argument(args, 0, 48, 49, "PDF417 error correction", &m, error)) return false;
      const bool by_level = m == 48;
      if (Argument(args, 1, by_level ? 48 : 1, by_level ? 56 : 40, "PDF417 error correction",
                   &value, error)) {
        p.ecc_by_level = by_level;
        p.ecc = by_level ? value - 48 : value;
      }
      return false;
    }
    case 70:
      if (Argument(args, 0, 0, 1, "PDF417 options", &value, error)) p.truncated = value == 1;
      return false;
    case 80:
      Store(args, "PDF417 store", &p.data, error);
      return false;
    case 81: {
      if (p.data.empty()) return Fail(error, "PDF417 print: no data stored");
      const int level = p.ecc_by_level ? p.ecc : LevelForRatio(p.ecc, p.data.size());
      const ZintSymbol symbol = Encode(p.truncated ? BARCODE_PDF417COMP : BARCODE_PDF417, p.data,
                                       level, p.columns, p.rows, error);
      if (!symbol) return Fail(error, "PDF417 print: " + *error);
      if (!Draw(*symbol, p.module_width, p.module_width * p.row_height, out, error)) return false;
      return true;
    }
    case 82:
      return false;
    default:
      return Fail(error, "PDF417: unknown function " + std::to_string(fn));
  }
}

bool SymbolStore::ApplyQr(uint8_t fn, std::string_view args, Bitmap* out, std::string* error) {
  Qr& q = qr_;
  int value = 0;
  switch (fn) {
    case 65:
      // Model 1 is drawn as model 2: zint has no model 1.
      if (Argument(args, 0, 49, 51, "QR model", &value, error)) q.micro = value == 51;
      return false;
    case 67:
      if (Argument(args, 0, 1, 16, "QR module size", &value, error)) q.module_size = value;
      return false;
    case 69:
      if (Argument(args, 0, 48, 51, "QR error correction", &value, error)) q.ecc = value - 47;
      return false;
    case 80:
      Store(args, "QR store", &q.data, error);
      return false;
    case 81: {
      if (q.data.empty()) return Fail(error, "QR print: no data stored");
      // Micro QR goes no higher than level Q.
      const ZintSymbol symbol = Encode(q.micro ? BARCODE_MICROQR : BARCODE_QRCODE, q.data,
                                       q.micro ? std::min(q.ecc, 3) : q.ecc, 0, 0, error);
      if (!symbol) return Fail(error, "QR print: " + *error);
      return Draw(*symbol, q.module_size, q.module_size, out, error);
    }
    case 82:
      return false;
    default:
      return Fail(error, "QR: unknown function " + std::to_string(fn));
  }
}

}  // namespace qz381::sim::render
