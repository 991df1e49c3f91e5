// The property entry points: every index the service object answers, and the
// rules of the writable ones.
#include "common/properties.h"
#include "common/opos.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"
#include "so/output/code_table.h"
#include "so/output/translate.h"
#include "so/output/units.h"

namespace qz381::so {

using namespace qz381::opos;

int32_t CPOSPrinter::GetPropertyNumber(int32_t index) {
  switch (index) {
    case PIDX_Claimed:
      return claimed_;
    case PIDX_DeviceEnabled:
      return device_enabled_;
    case PIDX_FreezeEvents:
      return freeze_events_;
    case PIDX_OutputID:
      return queue_->OutputID();
    case PIDX_ResultCode:
      return result_code_;
    case PIDX_ResultCodeExtended:
      return result_code_extended_;
    case PIDX_ServiceObjectVersion:
      return service_object_version_;
    case PIDX_State: {
      std::lock_guard<std::mutex> guard(state_mutex_);
      return state_;
    }
    case PIDX_BinaryConversion:
      return binary_conversion_;
    case PIDX_PowerNotify:
      return status_.PowerNotify();
    case PIDX_PowerState:
      return status_.PowerState();
    case PIDX_CapPowerReporting:
      return cap_power_reporting_;
    case PIDX_CapStatisticsReporting:
      return caps_.CapStatisticsReporting;
    case PIDX_CapUpdateStatistics:
      return caps_.CapUpdateStatistics;
    case PIDX_CapCompareFirmwareVersion:
      return caps_.CapCompareFirmwareVersion;
    case PIDX_CapUpdateFirmware:
      return caps_.CapUpdateFirmware;
    case PIDX_AsyncMode:
      return async_mode_;
    case PIDX_CharacterSet:
      return CharacterSet_;
    case PIDX_CoverOpen:
      return status_.CoverOpen();
    case PIDX_ErrorStation:
      return queue_->ErrorStation();
    case PIDX_FlagWhenIdle:
      return queue_->FlagWhenIdle() ? 1 : 0;
    case PIDX_MapMode:
      return out_.MapMode;
    case PIDX_RecEmpty:
      return status_.RecEmpty();
    case PIDX_RecLetterQuality:
      return rec_letter_quality_;
    case PIDX_RecLineChars:
      return out_.RecLineChars;
    case PIDX_RecLineHeight:
      return metrics_.RecLineHeight;
    case PIDX_RecLineSpacing:
      return metrics_.RecLineSpacing;
    case PIDX_RecLinesToPaperCut:
      return out_.RecLinesToPaperCut;
    case PIDX_RecLineWidth:
      return metrics_.RecLineWidth;
    case PIDX_RecNearEnd:
      return status_.RecNearEnd();
    case PIDX_RecSidewaysMaxChars:
      return metrics_.RecSidewaysMaxChars;
    case PIDX_RecSidewaysMaxLines:
      return metrics_.RecSidewaysMaxLines;
    case PIDX_ErrorLevel:
      return queue_->ErrorLevel();
    case PIDX_RotateSpecial:
      return rotate_special_;
    case PIDX_CartridgeNotify:
      return status_.CartridgeNotify();
    case PIDX_RecCartridgeState:
      return status_.RecCartridgeState();
    case PIDX_RecCurrentCartridge:
      return status_.RecCurrentCartridge();
    case PIDX_MapCharacterSet:
      return MapCharacterSet_;
    case PIDX_PageModeDescriptor:
      return page_.PageModeDescriptor;
    case PIDX_PageModeHorizontalPosition:
      return page_.PageModeHorizontalPosition;
    case PIDX_PageModePrintDirection:
      return page_.PageModePrintDirection;
    case PIDX_PageModeStation:
      return page_.PageModeStation;
    case PIDX_PageModeVerticalPosition:
      return page_.PageModeVerticalPosition;
    case PIDX_CapConcurrentJrnRec:
    case PIDX_CapConcurrentJrnSlp:
    case PIDX_CapConcurrentRecSlp:
      return 0;
    case PIDX_CapCoverSensor:
      return caps_.CapCoverSensor;
    case PIDX_CapRec2Color:
      return caps_.CapRec2Color;
    case PIDX_CapRecBarCode:
      return caps_.CapRecBarCode;
    case PIDX_CapRecBitmap:
      return caps_.CapRecBitmap;
    case PIDX_CapRecBold:
      return caps_.CapRecBold;
    case PIDX_CapRecDhigh:
      return caps_.CapRecDhigh;
    case PIDX_CapRecDwide:
      return caps_.CapRecDwide;
    case PIDX_CapRecDwideDhigh:
      return caps_.CapRecDwideDhigh;
    case PIDX_CapRecEmptySensor:
      return caps_.CapRecEmptySensor;
    case PIDX_CapRecItalic:
      return caps_.CapRecItalic;
    case PIDX_CapRecLeft90:
      return caps_.CapRecLeft90;
    case PIDX_CapRecNearEndSensor:
      return caps_.CapRecNearEndSensor;
    case PIDX_CapRecPapercut:
      return out_.CapRecPapercut;
    case PIDX_CapRecPresent:
      return 1;
    case PIDX_CapRecRight90:
      return caps_.CapRecRight90;
    case PIDX_CapRecRotate180:
      return out_.CapRecRotate180;
    case PIDX_CapRecStamp:
      return caps_.CapRecStamp;
    case PIDX_CapRecUnderline:
      return caps_.CapRecUnderline;
    case PIDX_CapCharacterSet:
      return PTR_CCS_ASCII;
    case PIDX_CapTransaction:
      return 1;
    case PIDX_CapRecCartridgeSensor:
      return caps_.CapRecCartridgeSensor;
    case PIDX_CapRecColor:
      return out_.CapRecColor;
    case PIDX_CapRecMarkFeed:
      return caps_.CapRecMarkFeed;
    case PIDX_CapMapCharacterSet:
      return caps_.CapMapCharacterSet;
    case PIDX_CapConcurrentPageMode:
      return caps_.CapConcurrentPageMode;
    case PIDX_CapRecPageMode:
      return caps_.CapRecPageMode;
    default:
      return 0;  // CapSlpPageMode and every index not listed
  }
}

std::string CPOSPrinter::GetPropertyString(int32_t index) {
  switch (index) {
    case PIDX_CheckHealthText:
      return check_health_text_;
    case PIDX_DeviceDescription:
      return device_description_;
    case PIDX_DeviceName:
      return device_name_property_;
    case PIDX_ServiceObjectDescription:
      return service_object_description_;
    case PIDX_CharacterSetList:
      return CharacterSetList_;
    case PIDX_RecLineCharsList:
      return RecLineCharsList_;
    case PIDX_ErrorString:
      return queue_->ErrorString();
    case PIDX_FontTypefaceList:
      return FontTypefaceList_;
    case PIDX_RecBarCodeRotationList:
      return RecBarCodeRotationList_;
    case PIDX_RecBitmapRotationList:
      return RecBitmapRotationList_;
    case PIDX_PageModeArea:
      return page_.PageModeArea;
    case PIDX_PageModePrintArea:
      return page_.PageModePrintArea;
    default:
      return {};
  }
}

void CPOSPrinter::RecomputeUnitMetrics() {
  const output::UnitTables units = out_.shared->Units();
  metrics_.RecLineHeight =
      output::MapUnits(metrics_.height_dots, units.VerticalDotsToUnits, out_.MapMode);
  metrics_.RecLineSpacing =
      output::MapUnits(out_.line_spacing_dots, units.VerticalDotsToUnits, out_.MapMode);
  metrics_.RecLineWidth =
      output::MapUnits(metrics_.width_dots, units.HorizontalDotsToUnits, out_.MapMode);
  out_.PendingSettings |= output::kPendingLineSpacing;
}

void CPOSPrinter::ApplyRecLineChars(int32_t n) {
  result_code_ = OPOS_SUCCESS;
  if (n < 10) n = 10;
  if (n <= out_.LinecharsNormal) {
    out_.RecLineChars = out_.LinecharsNormal;
  } else {
    out_.RecLineChars = metrics_.LinecharsCompressed;
    if (n > metrics_.LinecharsCompressed) result_code_ = OPOS_E_ILLEGAL;
  }
  output::SelectBaseFont(out_);
  metrics_.compressed_font = out_.RecLineChars > out_.LinecharsNormal;
  RecomputeUnitMetrics();
}

void CPOSPrinter::ApplyPageModePrintArea(const std::string& text) {
  size_t c1 = text.find(',');
  size_t c2 = c1 == std::string::npos ? c1 : text.find(',', c1 + 1);
  size_t c3 = c2 == std::string::npos ? c2 : text.find(',', c2 + 1);
  const output::UnitTables units = out_.shared->Units();
  auto to_dots = [&](int32_t v) {
    return output::MapUnits(v, units.UnitsToHorizontalDots, out_.MapMode);
  };
  if (c3 == std::string::npos) {
    // The previous area stays (and is converted again under the current units).
    for (int i = 0; i < 4; ++i) page_.area_dots[i] = to_dots(page_.area[i]);
    result_code_ = OPOS_E_ILLEGAL;
    return;
  }
  std::string_view t = text;
  int32_t values[4] = {platform::Atoi(t.substr(0, c1)), platform::Atoi(t.substr(c1 + 1)),
                       platform::Atoi(t.substr(c2 + 1)), platform::Atoi(t.substr(c3 + 1))};
  for (int i = 0; i < 4; ++i) {
    page_.area[i] = values[i];
    page_.area_dots[i] = to_dots(values[i]);
  }
  page_.PageModePrintArea = text;
  queue_->PageHeaderNeeded();
  result_code_ = OPOS_SUCCESS;
}

void CPOSPrinter::SetPropertyNumber(int32_t index, int32_t number) {
  result_code_extended_ = 0;
  if (index == PIDX_DeviceEnabled) {
    SetDeviceEnabled(number);  // waits for the printer: must not hold the settings
    return;
  }
  std::lock_guard<std::mutex> settings(settings_mutex_);
  const output::UnitTables units = out_.shared->Units();
  switch (index) {
    case PIDX_FreezeEvents:
      SetFreezeEvents(number);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_BinaryConversion:
      if (number < 0 || number > 2) break;
      binary_conversion_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_PowerNotify:
      if (device_enabled_ || (number != 0 && number != 1) || cap_power_reporting_ == 0) break;
      status_.SetPowerNotify(number);
      if (number == 1) SetFreezeEvents(1);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_AsyncMode:
      async_mode_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_CharacterSet:
      if (!CheckState(kClaimedEnabled)) return;
      if (output::SelectCodeTable(out_, number, device_name_) != OPOS_SUCCESS) break;
      CharacterSet_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_FlagWhenIdle:
      queue_->SetFlagWhenIdle(number != 0);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_MapMode:
      if (number < 1 || number > 4) break;
      out_.MapMode = number;
      RecomputeUnitMetrics();
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_RecLetterQuality:
      if (!CheckState(kClaimedEnabled)) return;
      rec_letter_quality_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_RecLineChars:
      if (!CheckState(kClaimedEnabled)) return;
      ApplyRecLineChars(number);
      return;
    case PIDX_RecLineHeight:
      if (!CheckState(kClaimedEnabled)) return;
      metrics_.height_dots = metrics_.compressed_font ? metrics_.DotsPerCompressedCharHeight
                                                      : metrics_.DotsPerNormalCharHeight;
      out_.line_spacing_dots = metrics_.default_spacing_dots;
      RecomputeUnitMetrics();
      return;
    case PIDX_RecLineSpacing: {
      if (!CheckState(kClaimedEnabled)) return;
      int32_t dots = output::MapUnits(number, units.UnitsToVerticalDots, out_.MapMode);
      out_.line_spacing_dots = dots < 12 ? 12 : dots > 50 ? 50 : dots;
      RecomputeUnitMetrics();
      out_.RecLinesToPaperCut =
          (metrics_.height_dots + out_.line_spacing_dots + 143) / out_.line_spacing_dots;
      return;
    }
    case PIDX_RotateSpecial:
      rotate_special_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_CartridgeNotify:
      if (device_enabled_) break;
      if (number == 0 || (number == 1 && caps_.CapRecCartridgeSensor != 0)) {
        status_.SetCartridgeNotify(number);
        result_code_ = OPOS_SUCCESS;
      }
      return;
    case PIDX_RecCurrentCartridge:
      if (!CheckState(kClaimedEnabled)) return;
      if ((number & out_.CapRecColor) == 0) break;
      status_.SetRecCurrentCartridge(number);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_PageModeHorizontalPosition:
    case PIDX_PageModeVerticalPosition: {
      if (number < 0) break;
      int32_t dots = output::MapUnits(number, units.UnitsToHorizontalDots, out_.MapMode);
      if (index == PIDX_PageModeHorizontalPosition) {
        page_.PageModeHorizontalPosition = number;
        page_.horizontal_dots = dots;
      } else {
        page_.PageModeVerticalPosition = number;
        page_.vertical_dots = dots;
      }
      queue_->PageHeaderNeeded();
      result_code_ = OPOS_SUCCESS;
      return;
    }
    case PIDX_PageModePrintDirection:
      if (number < 1 || number > 4) break;
      page_.PageModePrintDirection = number;
      queue_->PageHeaderNeeded();
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_PageModeStation:
      if (number != PTR_S_RECEIPT && number != PTR_S_SLIP) break;
      page_.PageModeStation = number;
      result_code_ = OPOS_SUCCESS;
      return;
    default:
      return;  // nothing changes; ResultCode keeps its value
  }
  result_code_ = OPOS_E_ILLEGAL;
}

void CPOSPrinter::SetPropertyString(int32_t index, const std::string& text) {
  std::lock_guard<std::mutex> settings(settings_mutex_);
  result_code_ = OPOS_SUCCESS;
  if (index == PIDX_PageModePrintArea) {
    ApplyPageModePrintArea(text);
    return;
  }
  result_code_ = OPOS_E_ILLEGAL;
}

}  // namespace qz381::so
