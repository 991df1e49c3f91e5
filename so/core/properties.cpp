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
    case 1:
      return claimed_;
    case 3:
      return device_enabled_;
    case 4:
      return freeze_events_;
    case 5:
      return queue_->OutputID();
    case 6:
      return result_code_;
    case 7:
      return result_code_extended_;
    case 8:
      return service_object_version_;
    case 9: {
      std::lock_guard<std::mutex> guard(state_mutex_);
      return state_;
    }
    case 11:
      return binary_conversion_;
    case 13:
      return power_notify_;
    case 14:
      return power_state_;
    case 501:
      return cap_power_reporting_;
    case 502:
      return caps_.CapStatisticsReporting;
    case 503:
      return caps_.CapUpdateStatistics;
    case 504:
      return caps_.CapCompareFirmwareVersion;
    case 505:
      return caps_.CapUpdateFirmware;
    case 8001:
      return async_mode_;
    case 8002:
      return CharacterSet_;
    case 8003:
      return cover_open_;
    case 8004:
      return queue_->ErrorStation();
    case 8005:
      return queue_->FlagWhenIdle() ? 1 : 0;
    case 8013:
      return out_.MapMode;
    case 8014:
      return rec_empty_;
    case 8015:
      return rec_letter_quality_;
    case 8016:
      return out_.RecLineChars;
    case 8017:
      return metrics_.RecLineHeight;
    case 8018:
      return metrics_.RecLineSpacing;
    case 8019:
      return out_.RecLinesToPaperCut;
    case 8020:
      return metrics_.RecLineWidth;
    case 8021:
      return rec_near_end_;
    case 8022:
      return metrics_.RecSidewaysMaxChars;
    case 8023:
      return metrics_.RecSidewaysMaxLines;
    case 8035:
      return queue_->ErrorLevel();
    case 8036:
      return rotate_special_;
    case 8037:
      return cartridge_notify_;
    case 8040:
      return rec_cartridge_state_;
    case 8041:
      return rec_current_cartridge_;
    case 8045:
      return MapCharacterSet_;
    case 8046:
      return page_.PageModeDescriptor;
    case 8047:
      return page_.PageModeHorizontalPosition;
    case 8048:
      return page_.PageModePrintDirection;
    case 8049:
      return page_.PageModeStation;
    case 8050:
      return page_.PageModeVerticalPosition;
    case 8501:
    case 8502:
    case 8503:
      return 0;
    case 8504:
      return caps_.CapCoverSensor;
    case 8515:
      return caps_.CapRec2Color;
    case 8516:
      return caps_.CapRecBarCode;
    case 8517:
      return caps_.CapRecBitmap;
    case 8518:
      return caps_.CapRecBold;
    case 8519:
      return caps_.CapRecDhigh;
    case 8520:
      return caps_.CapRecDwide;
    case 8521:
      return caps_.CapRecDwideDhigh;
    case 8522:
      return caps_.CapRecEmptySensor;
    case 8523:
      return caps_.CapRecItalic;
    case 8524:
      return caps_.CapRecLeft90;
    case 8525:
      return caps_.CapRecNearEndSensor;
    case 8526:
      return out_.CapRecPapercut;
    case 8527:
      return 1;
    case 8528:
      return caps_.CapRecRight90;
    case 8529:
      return out_.CapRecRotate180;
    case 8530:
      return caps_.CapRecStamp;
    case 8531:
      return caps_.CapRecUnderline;
    case 8548:
      return PTR_CCS_ASCII;
    case 8549:
      return 1;
    case 8552:
      return caps_.CapRecCartridgeSensor;
    case 8553:
      return out_.CapRecColor;
    case 8554:
      return caps_.CapRecMarkFeed;
    case 8558:
      return caps_.CapMapCharacterSet;
    case 8559:
      return caps_.CapConcurrentPageMode;
    case 8560:
      return caps_.CapRecPageMode;
    default:
      return 0;  // 8561 CapSlpPageMode and every index not listed
  }
}

std::string CPOSPrinter::GetPropertyString(int32_t index) {
  switch (index) {
    case 1000001:
      return check_health_text_;
    case 1000002:
      return device_description_;
    case 1000003:
      return device_name_property_;
    case 1000004:
      return service_object_description_;
    case 1008001:
      return CharacterSetList_;
    case 1008003:
      return RecLineCharsList_;
    case 1008005:
      return queue_->ErrorString();
    case 1008006:
      return FontTypefaceList_;
    case 1008007:
      return RecBarCodeRotationList_;
    case 1008009:
      return RecBitmapRotationList_;
    case 1008011:
      return page_.PageModeArea;
    case 1008012:
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
  if (index == 3) {
    SetDeviceEnabled(number);  // waits for the printer: must not hold the settings
    return;
  }
  std::lock_guard<std::mutex> settings(settings_mutex_);
  const output::UnitTables units = out_.shared->Units();
  switch (index) {
    case 4:
      SetFreezeEvents(number);
      result_code_ = OPOS_SUCCESS;
      return;
    case 11:
      if (number < 0 || number > 2) break;
      binary_conversion_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case 13:
      if (device_enabled_ || (number != 0 && number != 1) || cap_power_reporting_ == 0) break;
      power_notify_ = number;
      if (number == 1) SetFreezeEvents(1);
      result_code_ = OPOS_SUCCESS;
      return;
    case 8001:
      async_mode_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case 8002:
      if (!CheckState(3)) return;
      if (output::SelectCodeTable(out_, number, device_name_) != OPOS_SUCCESS) break;
      CharacterSet_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case 8005:
      queue_->SetFlagWhenIdle(number != 0);
      result_code_ = OPOS_SUCCESS;
      return;
    case 8013:
      if (number < 1 || number > 4) break;
      out_.MapMode = number;
      RecomputeUnitMetrics();
      result_code_ = OPOS_SUCCESS;
      return;
    case 8015:
      if (!CheckState(3)) return;
      rec_letter_quality_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case 8016:
      if (!CheckState(3)) return;
      ApplyRecLineChars(number);
      return;
    case 8017:
      if (!CheckState(3)) return;
      metrics_.height_dots = metrics_.compressed_font ? metrics_.DotsPerCompressedCharHeight
                                                      : metrics_.DotsPerNormalCharHeight;
      out_.line_spacing_dots = metrics_.default_spacing_dots;
      RecomputeUnitMetrics();
      return;
    case 8018: {
      if (!CheckState(3)) return;
      int32_t dots = output::MapUnits(number, units.UnitsToVerticalDots, out_.MapMode);
      out_.line_spacing_dots = dots < 12 ? 12 : dots > 50 ? 50 : dots;
      RecomputeUnitMetrics();
      out_.RecLinesToPaperCut =
          (metrics_.height_dots + out_.line_spacing_dots + 143) / out_.line_spacing_dots;
      return;
    }
    case 8036:
      rotate_special_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case 8037:
      if (device_enabled_) break;
      if (number == 0 || (number == 1 && caps_.CapRecCartridgeSensor != 0)) {
        cartridge_notify_ = number;
        result_code_ = OPOS_SUCCESS;
      }
      return;
    case 8041:
      if (!CheckState(3)) return;
      if ((number & out_.CapRecColor) == 0) break;
      rec_current_cartridge_ = number;
      rec_cartridge_state_ = PTR_CART_UNKNOWN;
      result_code_ = OPOS_SUCCESS;
      return;
    case 8047:
    case 8050: {
      if (number < 0) break;
      int32_t dots = output::MapUnits(number, units.UnitsToHorizontalDots, out_.MapMode);
      if (index == 8047) {
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
    case 8048:
      if (number < 1 || number > 4) break;
      page_.PageModePrintDirection = number;
      queue_->PageHeaderNeeded();
      result_code_ = OPOS_SUCCESS;
      return;
    case 8049:
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
  if (index == 1008012) {
    ApplyPageModePrintArea(text);
    return;
  }
  result_code_ = OPOS_E_ILLEGAL;
}

}  // namespace qz381::so
