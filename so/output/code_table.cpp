#include "so/output/code_table.h"

#include <optional>

namespace qz381::output {

namespace {

std::optional<uint8_t> CodeTableFor(int32_t character_set, std::string_view device_name) {
  switch (character_set) {
    case 1:
    case 23:
    case 27:
    case 31:
    case 32:
    case 34:
    case 35:
    case 255:
      return static_cast<uint8_t>(character_set);
    case 437:
    case 998:
      return 0;
    case 737:
      return 29;
    case 775:
      return 30;
    case 850:
      return 2;
    case 852:
      return 18;
    case 855:
      return 7;
    case 857:
      return 8;
    case 858:
      return device_name.substr(0, 7) == "LPX-907" ? 11 : 19;
    case 860:
      return 3;
    case 862:
      return 21;
    case 863:
      return 4;
    case 864:
      return 22;
    case 865:
      return 5;
    case 866:
      return 17;
    case 874:
      return 36;
    case 999:
    case 1252:
      return 16;
    case 1251:
      return 28;
    case 1253:
      return 24;
    case 1254:
      return 25;
    case 1255:
      return 33;
    case 1257:
      return 26;
    default:
      return std::nullopt;
  }
}

}  // namespace

int32_t SelectCodeTable(DeviceSettings& device, int32_t character_set,
                        std::string_view device_name) {
  const std::optional<uint8_t> table = CodeTableFor(character_set, device_name);
  if (!table) return kOposEIllegal;
  device.code_table = static_cast<int8_t>(*table);
  device.PendingSettings |= kPendingCodeTable;
  return kOposSuccess;
}

}  // namespace qz381::output
