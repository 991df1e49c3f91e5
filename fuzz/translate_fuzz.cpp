// Arbitrary bytes as print data: the first bytes choose the device settings and
// the BinaryConversion mode, the rest is the application's string. The same
// string translated in pieces (cut where its own bytes say) must give the same
// bytes and result as one call.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "so/output/binary_conversion.h"
#include "so/output/translate.h"

using namespace qz381::output;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t a = data[0];
  const uint8_t b = data[1];
  const int8_t spacing = static_cast<int8_t>(data[2]);
  const uint8_t c = data[3];

  SharedOutputState shared;
  DeviceSettings device;
  device.shared = &shared;
  device.Type = a & 0x03;
  device.CapRecColor = (a >> 2) & 1;
  device.CapRecRotate180 = (a >> 3) & 1;
  device.CapRecPapercut = (a >> 4) & 1;
  device.DIINTERNATIONAL = (a >> 5) & 1;
  device.MapMode = b & 0x07;
  device.RecLinesToPaperCut = (b & 0x08) != 0 ? 0x7FFFFFFF : (b >> 4) - 8;
  device.line_spacing_dots = spacing;
  device.code_table = static_cast<int8_t>(c);
  device.international = static_cast<int8_t>(c ^ 0x80);
  device.RecLineChars = c & 0x40 ? 56 : 42;
  device.LinecharsNormal = 42;
  device.rotation = c & 0x20 ? 259 : 1;
  device.top_logo = "T";
  device.stored_bitmaps[0] = {"B1"};
  device.stored_bitmaps[1] = {"", "B2"};
  if ((c & 0x10) != 0) {
    if (auto units = DeriveUnitTables(spacing * 16, spacing * 8)) shared.SetUnits(*units);
  }

  std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
  ApplyBinaryConversion(text, (a >> 6) & 0x03);

  // The second translation starts from the same settings and shared state.
  SharedOutputState shared_again;
  DeviceSettings again = device;
  again.shared = &shared_again;
  shared_again.SetUnits(shared.Units());

  std::string out;
  const int32_t result = TranslatePrintData(device, text, out);
  if (result != kOposSuccess && result != kOposEIllegal && result != kOposEFailure) std::abort();
  // Every input byte yields a bounded amount of output; the worst case is a cut
  // preceded by its line feeds (255 + 3 bytes for the 4 bytes of ESC|fP).
  if (out.size() > 128 + 65 * text.size()) std::abort();

  std::string pieces;
  PrintDataTranslator translator(again);
  translator.Begin(pieces);
  for (size_t from = 0; from < text.size();) {
    const size_t length =
        std::min<size_t>(text.size() - from, 1 + (text[from] & 0x07) * (1 + (c & 0x03)));
    translator.Feed(std::string_view(text).substr(from, length), pieces);
    from += length;
  }
  if (translator.End(pieces) != result || pieces != out) std::abort();
  return 0;
}
