#pragma once
// The POSPrinter property indexes (PIDX) by name: the control-object stand-in and
// the command-line tools address properties by name, the service object by index.
#include <cstdint>
#include <span>
#include <string_view>

namespace qz381::opos {

enum class PropertyKind { kNumber, kString };

struct PropertyInfo {
  std::string_view name;
  int32_t index;
  PropertyKind kind;
};

// Every property the service object answers, in index order.
std::span<const PropertyInfo> AllProperties();
// Case-insensitive lookup; null when unknown.
const PropertyInfo* FindProperty(std::string_view name);

// Every index by its OPOS name; the service object, the name table and the
// tests use these, never the numbers.

// Common
inline constexpr int32_t PIDX_Claimed = 1;
inline constexpr int32_t PIDX_DeviceEnabled = 3;
inline constexpr int32_t PIDX_FreezeEvents = 4;
inline constexpr int32_t PIDX_OutputID = 5;
inline constexpr int32_t PIDX_ResultCode = 6;
inline constexpr int32_t PIDX_ResultCodeExtended = 7;
inline constexpr int32_t PIDX_ServiceObjectVersion = 8;
inline constexpr int32_t PIDX_State = 9;
inline constexpr int32_t PIDX_BinaryConversion = 11;
inline constexpr int32_t PIDX_PowerNotify = 13;
inline constexpr int32_t PIDX_PowerState = 14;

// Common capabilities
inline constexpr int32_t PIDX_CapPowerReporting = 501;
inline constexpr int32_t PIDX_CapStatisticsReporting = 502;
inline constexpr int32_t PIDX_CapUpdateStatistics = 503;
inline constexpr int32_t PIDX_CapCompareFirmwareVersion = 504;
inline constexpr int32_t PIDX_CapUpdateFirmware = 505;

// POSPrinter
inline constexpr int32_t PIDX_AsyncMode = 8001;
inline constexpr int32_t PIDX_CharacterSet = 8002;
inline constexpr int32_t PIDX_CoverOpen = 8003;
inline constexpr int32_t PIDX_ErrorStation = 8004;
inline constexpr int32_t PIDX_FlagWhenIdle = 8005;
inline constexpr int32_t PIDX_MapMode = 8013;
inline constexpr int32_t PIDX_RecEmpty = 8014;
inline constexpr int32_t PIDX_RecLetterQuality = 8015;
inline constexpr int32_t PIDX_RecLineChars = 8016;
inline constexpr int32_t PIDX_RecLineHeight = 8017;
inline constexpr int32_t PIDX_RecLineSpacing = 8018;
inline constexpr int32_t PIDX_RecLinesToPaperCut = 8019;
inline constexpr int32_t PIDX_RecLineWidth = 8020;
inline constexpr int32_t PIDX_RecNearEnd = 8021;
inline constexpr int32_t PIDX_RecSidewaysMaxChars = 8022;
inline constexpr int32_t PIDX_RecSidewaysMaxLines = 8023;
inline constexpr int32_t PIDX_ErrorLevel = 8035;
inline constexpr int32_t PIDX_RotateSpecial = 8036;
inline constexpr int32_t PIDX_CartridgeNotify = 8037;
inline constexpr int32_t PIDX_RecCartridgeState = 8040;
inline constexpr int32_t PIDX_RecCurrentCartridge = 8041;
inline constexpr int32_t PIDX_MapCharacterSet = 8045;
inline constexpr int32_t PIDX_PageModeDescriptor = 8046;
inline constexpr int32_t PIDX_PageModeHorizontalPosition = 8047;
inline constexpr int32_t PIDX_PageModePrintDirection = 8048;
inline constexpr int32_t PIDX_PageModeStation = 8049;
inline constexpr int32_t PIDX_PageModeVerticalPosition = 8050;

// POSPrinter capabilities
inline constexpr int32_t PIDX_CapConcurrentJrnRec = 8501;
inline constexpr int32_t PIDX_CapConcurrentJrnSlp = 8502;
inline constexpr int32_t PIDX_CapConcurrentRecSlp = 8503;
inline constexpr int32_t PIDX_CapCoverSensor = 8504;
inline constexpr int32_t PIDX_CapRec2Color = 8515;
inline constexpr int32_t PIDX_CapRecBarCode = 8516;
inline constexpr int32_t PIDX_CapRecBitmap = 8517;
inline constexpr int32_t PIDX_CapRecBold = 8518;
inline constexpr int32_t PIDX_CapRecDhigh = 8519;
inline constexpr int32_t PIDX_CapRecDwide = 8520;
inline constexpr int32_t PIDX_CapRecDwideDhigh = 8521;
inline constexpr int32_t PIDX_CapRecEmptySensor = 8522;
inline constexpr int32_t PIDX_CapRecItalic = 8523;
inline constexpr int32_t PIDX_CapRecLeft90 = 8524;
inline constexpr int32_t PIDX_CapRecNearEndSensor = 8525;
inline constexpr int32_t PIDX_CapRecPapercut = 8526;
inline constexpr int32_t PIDX_CapRecPresent = 8527;
inline constexpr int32_t PIDX_CapRecRight90 = 8528;
inline constexpr int32_t PIDX_CapRecRotate180 = 8529;
inline constexpr int32_t PIDX_CapRecStamp = 8530;
inline constexpr int32_t PIDX_CapRecUnderline = 8531;
inline constexpr int32_t PIDX_CapCharacterSet = 8548;
inline constexpr int32_t PIDX_CapTransaction = 8549;
inline constexpr int32_t PIDX_CapRecCartridgeSensor = 8552;
inline constexpr int32_t PIDX_CapRecColor = 8553;
inline constexpr int32_t PIDX_CapRecMarkFeed = 8554;
inline constexpr int32_t PIDX_CapMapCharacterSet = 8558;
inline constexpr int32_t PIDX_CapConcurrentPageMode = 8559;
inline constexpr int32_t PIDX_CapRecPageMode = 8560;
inline constexpr int32_t PIDX_CapSlpPageMode = 8561;

// Strings
inline constexpr int32_t PIDX_CheckHealthText = 1000001;
inline constexpr int32_t PIDX_DeviceDescription = 1000002;
inline constexpr int32_t PIDX_DeviceName = 1000003;
inline constexpr int32_t PIDX_ServiceObjectDescription = 1000004;
inline constexpr int32_t PIDX_CharacterSetList = 1008001;
inline constexpr int32_t PIDX_JrnLineCharsList = 1008002;
inline constexpr int32_t PIDX_RecLineCharsList = 1008003;
inline constexpr int32_t PIDX_SlpLineCharsList = 1008004;
inline constexpr int32_t PIDX_ErrorString = 1008005;
inline constexpr int32_t PIDX_FontTypefaceList = 1008006;
inline constexpr int32_t PIDX_RecBarCodeRotationList = 1008007;
inline constexpr int32_t PIDX_SlpBarCodeRotationList = 1008008;
inline constexpr int32_t PIDX_RecBitmapRotationList = 1008009;
inline constexpr int32_t PIDX_SlpBitmapRotationList = 1008010;
inline constexpr int32_t PIDX_PageModeArea = 1008011;
inline constexpr int32_t PIDX_PageModePrintArea = 1008012;

}  // namespace qz381::opos
