#include "common/properties.h"

#include <array>

namespace qz381::opos {
namespace {

constexpr PropertyKind N = PropertyKind::kNumber;
constexpr PropertyKind S = PropertyKind::kString;

constexpr PropertyInfo kProperties[] = {
    {"Claimed", 1, N},
    {"DeviceEnabled", 3, N},
    {"FreezeEvents", 4, N},
    {"OutputID", 5, N},
    {"ResultCode", 6, N},
    {"ResultCodeExtended", 7, N},
    {"ServiceObjectVersion", 8, N},
    {"State", 9, N},
    {"BinaryConversion", 11, N},
    {"PowerNotify", 13, N},
    {"PowerState", 14, N},
    {"CapPowerReporting", 501, N},
    {"CapStatisticsReporting", 502, N},
    {"CapUpdateStatistics", 503, N},
    {"CapCompareFirmwareVersion", 504, N},
    {"CapUpdateFirmware", 505, N},
    {"AsyncMode", 8001, N},
    {"CharacterSet", 8002, N},
    {"CoverOpen", 8003, N},
    {"ErrorStation", 8004, N},
    {"FlagWhenIdle", 8005, N},
    {"MapMode", 8013, N},
    {"RecEmpty", 8014, N},
    {"RecLetterQuality", 8015, N},
    {"RecLineChars", 8016, N},
    {"RecLineHeight", 8017, N},
    {"RecLineSpacing", 8018, N},
    {"RecLinesToPaperCut", 8019, N},
    {"RecLineWidth", 8020, N},
    {"RecNearEnd", 8021, N},
    {"RecSidewaysMaxChars", 8022, N},
    {"RecSidewaysMaxLines", 8023, N},
    {"ErrorLevel", 8035, N},
    {"RotateSpecial", 8036, N},
    {"CartridgeNotify", 8037, N},
    {"RecCartridgeState", 8040, N},
    {"RecCurrentCartridge", 8041, N},
    {"MapCharacterSet", 8045, N},
    {"PageModeDescriptor", 8046, N},
    {"PageModeHorizontalPosition", 8047, N},
    {"PageModePrintDirection", 8048, N},
    {"PageModeStation", 8049, N},
    {"PageModeVerticalPosition", 8050, N},
    {"CapConcurrentJrnRec", 8501, N},
    {"CapConcurrentJrnSlp", 8502, N},
    {"CapConcurrentRecSlp", 8503, N},
    {"CapCoverSensor", 8504, N},
    {"CapRec2Color", 8515, N},
    {"CapRecBarCode", 8516, N},
    {"CapRecBitmap", 8517, N},
    {"CapRecBold", 8518, N},
    {"CapRecDhigh", 8519, N},
    {"CapRecDwide", 8520, N},
    {"CapRecDwideDhigh", 8521, N},
    {"CapRecEmptySensor", 8522, N},
    {"CapRecItalic", 8523, N},
    {"CapRecLeft90", 8524, N},
    {"CapRecNearEndSensor", 8525, N},
    {"CapRecPapercut", 8526, N},
    {"CapRecPresent", 8527, N},
    {"CapRecRight90", 8528, N},
    {"CapRecRotate180", 8529, N},
    {"CapRecStamp", 8530, N},
    {"CapRecUnderline", 8531, N},
    {"CapCharacterSet", 8548, N},
    {"CapTransaction", 8549, N},
    {"CapRecCartridgeSensor", 8552, N},
    {"CapRecColor", 8553, N},
    {"CapRecMarkFeed", 8554, N},
    {"CapMapCharacterSet", 8558, N},
    {"CapConcurrentPageMode", 8559, N},
    {"CapRecPageMode", 8560, N},
    {"CapSlpPageMode", 8561, N},
    {"CheckHealthText", 1000001, S},
    {"DeviceDescription", 1000002, S},
    {"DeviceName", 1000003, S},
    {"ServiceObjectDescription", 1000004, S},
    {"CharacterSetList", 1008001, S},
    {"JrnLineCharsList", 1008002, S},
    {"RecLineCharsList", 1008003, S},
    {"SlpLineCharsList", 1008004, S},
    {"ErrorString", 1008005, S},
    {"FontTypefaceList", 1008006, S},
    {"RecBarCodeRotationList", 1008007, S},
    {"SlpBarCodeRotationList", 1008008, S},
    {"RecBitmapRotationList", 1008009, S},
    {"SlpBitmapRotationList", 1008010, S},
    {"PageModeArea", 1008011, S},
    {"PageModePrintArea", 1008012, S},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::span<const PropertyInfo> AllProperties() {
  return kProperties;
}

const PropertyInfo* FindProperty(std::string_view name) {
  for (const auto& p : kProperties)
    if (EqualNoCase(p.name, name)) return &p;
  return nullptr;
}

}  // namespace qz381::opos
