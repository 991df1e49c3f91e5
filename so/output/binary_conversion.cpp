#include "so/output/binary_conversion.h"

namespace qz381::output {

void ApplyBinaryConversion(std::string& text, int32_t mode) {
  size_t written = 0;
  if (mode == kBinaryConversionNibble) {
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
      const auto high = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) << 4);
      const auto low = static_cast<uint8_t>(static_cast<uint8_t>(text[i + 1]) & 0x0F);
      text[written++] = static_cast<char>(high | low);
    }
  } else if (mode == kBinaryConversionDecimal) {
    for (size_t i = 0; i + 2 < text.size(); i += 3) {
      const unsigned value = (static_cast<uint8_t>(text[i]) & 0x0Fu) * 100u +
                             (static_cast<uint8_t>(text[i + 1]) & 0x0Fu) * 10u +
                             (static_cast<uint8_t>(text[i + 2]) & 0x0Fu);
      text[written++] = static_cast<char>(static_cast<uint8_t>(value));
    }
  } else {
    return;
  }
  text.resize(written);
}

}  // namespace qz381::output
