#include "common/properties.h"

#include <array>

namespace qz381::opos {
namespace {

constexpr PropertyKind N = PropertyKind::kNumber;
constexpr PropertyKind S = PropertyKind::kString;

constexpr PropertyInfo kProperties[] = {
    {"Claimed", PIDX_Claimed, N},
    {"DeviceEnabled", PIDX_DeviceEnabled, N},
    {"FreezeEvents", PIDX_FreezeEvents, N},
    {"OutputID", PIDX_OutputID, N},
    {"ResultCode", PIDX_ResultCode, N},
    {"ResultCodeExtended", PIDX_ResultCodeExtended, N},
    {"ServiceObjectVersion", PIDX_ServiceObjectVersion, N},
    {"State", PIDX_State, N},
    {"BinaryConversion", PIDX_BinaryConversion, N},
    {"PowerNotify", PIDX_PowerNotify, N},
    {"PowerState", PIDX_PowerState, N},
    {"CapPowerReporting", PIDX_CapPowerReporting, N},
    {"CapStatisticsReporting", PIDX_CapStatisticsReporting, N},
    {"CapUpdateStatistics", PIDX_CapUpdateStatistics, N},
    {"CapCompareFirmwareVersion", PIDX_CapCompareFirmwareVersion, N},
    {"CapUpdateFirmware", PIDX_CapUpdateFirmware, N},
    {"AsyncMode", PIDX_AsyncMode, N},
    {"CharacterSet", PIDX_CharacterSet, N},
    {"CoverOpen", PIDX_CoverOpen, N},
    {"ErrorStation", PIDX_ErrorStation, N},
    {"FlagWhenIdle", PIDX_FlagWhenIdle, N},
    {"MapMode", PIDX_MapMode, N},
    {"RecEmpty", PIDX_RecEmpty, N},
    {"RecLetterQuality", PIDX_RecLetterQuality, N},
    {"RecLineChars", PIDX_RecLineChars, N},
    {"RecLineHeight", PIDX_RecLineHeight, N},
    {"RecLineSpacing", PIDX_RecLineSpacing, N},
    {"RecLinesToPaperCut", PIDX_RecLinesToPaperCut, N},
    {"RecLineWidth", PIDX_RecLineWidth, N},
    {"RecNearEnd", PIDX_RecNearEnd, N},
    {"RecSidewaysMaxChars", PIDX_RecSidewaysMaxChars, N},
    {"RecSidewaysMaxLines", PIDX_RecSidewaysMaxLines, N},
    {"ErrorLevel", PIDX_ErrorLevel, N},
    {"RotateSpecial", PIDX_RotateSpecial, N},
    {"CartridgeNotify", PIDX_CartridgeNotify, N},
    {"RecCartridgeState", PIDX_RecCartridgeState, N},
    {"RecCurrentCartridge", PIDX_RecCurrentCartridge, N},
    {"MapCharacterSet", PIDX_MapCharacterSet, N},
    {"PageModeDescriptor", PIDX_PageModeDescriptor, N},
    {"PageModeHorizontalPosition", PIDX_PageModeHorizontalPosition, N},
    {"PageModePrintDirection", PIDX_PageModePrintDirection, N},
    {"PageModeStation", PIDX_PageModeStation, N},
    {"PageModeVerticalPosition", PIDX_PageModeVerticalPosition, N},
    {"CapConcurrentJrnRec", PIDX_CapConcurrentJrnRec, N},
    {"CapConcurrentJrnSlp", PIDX_CapConcurrentJrnSlp, N},
    {"CapConcurrentRecSlp", PIDX_CapConcurrentRecSlp, N},
    {"CapCoverSensor", PIDX_CapCoverSensor, N},
    {"CapRec2Color", PIDX_CapRec2Color, N},
    {"CapRecBarCode", PIDX_CapRecBarCode, N},
    {"CapRecBitmap", PIDX_CapRecBitmap, N},
    {"CapRecBold", PIDX_CapRecBold, N},
    {"CapRecDhigh", PIDX_CapRecDhigh, N},
    {"CapRecDwide", PIDX_CapRecDwide, N},
    {"CapRecDwideDhigh", PIDX_CapRecDwideDhigh, N},
    {"CapRecEmptySensor", PIDX_CapRecEmptySensor, N},
    {"CapRecItalic", PIDX_CapRecItalic, N},
    {"CapRecLeft90", PIDX_CapRecLeft90, N},
    {"CapRecNearEndSensor", PIDX_CapRecNearEndSensor, N},
    {"CapRecPapercut", PIDX_CapRecPapercut, N},
    {"CapRecPresent", PIDX_CapRecPresent, N},
    {"CapRecRight90", PIDX_CapRecRight90, N},
    {"CapRecRotate180", PIDX_CapRecRotate180, N},
    {"CapRecStamp", PIDX_CapRecStamp, N},
    {"CapRecUnderline", PIDX_CapRecUnderline, N},
    {"CapCharacterSet", PIDX_CapCharacterSet, N},
    {"CapTransaction", PIDX_CapTransaction, N},
    {"CapRecCartridgeSensor", PIDX_CapRecCartridgeSensor, N},
    {"CapRecColor", PIDX_CapRecColor, N},
    {"CapRecMarkFeed", PIDX_CapRecMarkFeed, N},
    {"CapMapCharacterSet", PIDX_CapMapCharacterSet, N},
    {"CapConcurrentPageMode", PIDX_CapConcurrentPageMode, N},
    {"CapRecPageMode", PIDX_CapRecPageMode, N},
    {"CapSlpPageMode", PIDX_CapSlpPageMode, N},
    {"CheckHealthText", PIDX_CheckHealthText, S},
    {"DeviceDescription", PIDX_DeviceDescription, S},
    {"DeviceName", PIDX_DeviceName, S},
    {"ServiceObjectDescription", PIDX_ServiceObjectDescription, S},
    {"CharacterSetList", PIDX_CharacterSetList, S},
    {"JrnLineCharsList", PIDX_JrnLineCharsList, S},
    {"RecLineCharsList", PIDX_RecLineCharsList, S},
    {"SlpLineCharsList", PIDX_SlpLineCharsList, S},
    {"ErrorString", PIDX_ErrorString, S},
    {"FontTypefaceList", PIDX_FontTypefaceList, S},
    {"RecBarCodeRotationList", PIDX_RecBarCodeRotationList, S},
    {"SlpBarCodeRotationList", PIDX_SlpBarCodeRotationList, S},
    {"RecBitmapRotationList", PIDX_RecBitmapRotationList, S},
    {"SlpBitmapRotationList", PIDX_SlpBitmapRotationList, S},
    {"PageModeArea", PIDX_PageModeArea, S},
    {"PageModePrintArea", PIDX_PageModePrintArea, S},
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
