#pragma once
// The printer commands for one barcode: the data checked against the
// symbology's character set and length, the widest module that still fits the
// width asked for, and the GS k or GS ( k string that prints it. The string
// goes to the printer as it is, without escape translation.
#include <cstdint>
#include <string>

namespace qz381::output {

struct BarcodeRequest {
  std::string data;              // after BinaryConversion
  int32_t symbology = 0;         // PTR_BCS_*
  int32_t height = 0;            // dots
  int32_t width = 0;             // dots; 0 or less: the narrowest module
  int32_t alignment = 0;         // PTR_BC_LEFT -1, PTR_BC_CENTER -2, PTR_BC_RIGHT -3, or a position
  int32_t text_position = 0;     // PTR_BC_TEXT_NONE -11, ABOVE -12, BELOW -13
  bool compressed_font = false;  // the readable text in the compressed font
};

// Fills `out` and returns OPOS_SUCCESS, or returns OPOS_E_ILLEGAL (and leaves
// `out` empty) for a symbology the printer does not have or data it does not
// accept.
int32_t EncodeBarcode(const BarcodeRequest& request, std::string* out);

// The module width (2 ... 6 dots; 2 ... 4 for Code 39) a linear symbology is
// printed with: the widest whose symbol is no wider than `width` dots, 2 when
// none is. `length` is the data length, `narrow_count` the Codabar characters
// drawn with two wide elements.
int ModuleWidthFor(int32_t symbology, size_t length, size_t narrow_count, int32_t width);

}  // namespace qz381::output
