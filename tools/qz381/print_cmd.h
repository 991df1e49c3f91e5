#pragma once
// `qz381 print`: text, a picture, barcodes and a cut through the whole stack
// (control object, service object, port modules), in that order on the paper.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace qz381::tool {

struct PrintJob {
  std::optional<std::string> device;  // the logical device name; else the only one
  std::optional<int32_t> character_set;
  std::optional<std::string> text;  // UTF-8, OPOS sequences as ESC| or \e|
  std::string image;                // a picture file for PrintBitmap
  int32_t image_width = -11;        // dots; PTR_BM_ASIS
  int32_t alignment = -2;           // PTR_BM_LEFT -1, CENTER -2, RIGHT -3
  bool dither = false;
  struct Barcode {
    int32_t symbology = 0;
    std::string data;
  };
  std::vector<Barcode> barcodes;
  int32_t barcode_height = 60;  // dots
  bool cut = false;
  bool async = false;
  // How long a printer error (cover open, paper out) may wait to be fixed.
  int timeout_seconds = 120;
};

// "ean13", "code128", "qr", ... or a PTR_BCS_* number; nullopt for anything else.
std::optional<int32_t> ParseSymbology(const std::string& name);

// Replaces each "\e" that begins an OPOS sequence ("\e|") with the ESC byte.
std::string ExpandEscapes(const std::string& text);

// Prints the job. Answers 0 when everything printed, 1 otherwise; progress and
// problems (in words) go to `err`.
int RunPrint(const PrintJob& job, std::ostream& out, std::ostream& err);

}  // namespace qz381::tool
