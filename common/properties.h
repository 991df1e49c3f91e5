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

// Indexes the service object's own code refers to by name.
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
inline constexpr int32_t PIDX_CapPowerReporting = 501;
inline constexpr int32_t PIDX_CapStatisticsReporting = 502;
inline constexpr int32_t PIDX_CapUpdateStatistics = 503;
inline constexpr int32_t PIDX_CapCompareFirmwareVersion = 504;
inline constexpr int32_t PIDX_CapUpdateFirmware = 505;
inline constexpr int32_t PIDX_CheckHealthText = 1000001;
inline constexpr int32_t PIDX_DeviceDescription = 1000002;
inline constexpr int32_t PIDX_DeviceName = 1000003;
inline constexpr int32_t PIDX_ServiceObjectDescription = 1000004;

}  // namespace qz381::opos
