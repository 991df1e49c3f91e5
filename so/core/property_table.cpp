// The property table: every index that is only settings, the rules of the
// writable ones, and the capability profile that fills them.
#include "so/core/property_table.h"

#include <utility>

#include "common/opos.h"
#include "common/properties.h"
#include "platform/trace.h"
#include "so/output/code_table.h"
#include "so/output/translate.h"
#include "so/output/units.h"

namespace qz381::so {

using namespace qz381::opos;

PropertyTable::PropertyTable(std::function<void()> page_changed)
    : page_changed_(std::move(page_changed)) {
  out_.trace = [](std::string_view line) {
    platform::Trace("%.*s", static_cast<int>(line.size()), line.data());
  };
  Reset({});
}

void PropertyTable::Reset(const std::string& logical_name) {
  std::lock_guard<std::mutex> guard(mutex_);
  logical_name_ = logical_name;
  output::DeviceSettings fresh;
  fresh.trace = std::move(out_.trace);
  fresh.shared = out_.shared;
  out_ = std::move(fresh);
  caps_ = Capabilities{};
  metrics_ = LineMetrics{};
  page_ = PageModeState{};
  identification_ = Identification{};
  RecBarCodeRotationList_.clear();
  CharacterSetList_.clear();
  FontTypefaceList_.clear();
  RecLineCharsList_.clear();
  RecBitmapRotationList_.clear();
  MapCharacterSet_ = CharacterSet_ = 0;
  binary_conversion_ = 0;
  rec_letter_quality_ = 0;
  rotate_special_ = PTR_RP_NORMAL;  // barcodes print upright until told otherwise
}

void PropertyTable::PageChanged() {
  page_dirty_ = true;
}

void PropertyTable::TellPageChange() {
  bool changed;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    changed = std::exchange(page_dirty_, false);
  }
  if (changed && page_changed_) page_changed_();
}

LineMetrics PropertyTable::metrics() {
  std::lock_guard<std::mutex> guard(mutex_);
  return metrics_;
}

int32_t PropertyTable::BinaryConversion() {
  std::lock_guard<std::mutex> guard(mutex_);
  return binary_conversion_;
}

bool PropertyTable::LetterQuality() {
  std::lock_guard<std::mutex> guard(mutex_);
  return rec_letter_quality_ != 0;
}

int32_t PropertyTable::RotateSpecial() {
  std::lock_guard<std::mutex> guard(mutex_);
  return rotate_special_;
}

std::optional<int32_t> PropertyTable::LoadProfile(const platform::IniFile& ini,
                                                  const std::string& path) {
  std::optional<int32_t> rc = ReadProfile(ini, path);
  TellPageChange();
  return rc;
}

std::optional<int32_t> PropertyTable::ReadProfile(const platform::IniFile& ini,
                                                  const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto text = [&](const char* section, const char* key) { return ini.GetString(section, key, ""); };
  auto number = [&](const char* section, const char* key) { return ini.GetInt(section, key, 0); };
  const char* P = "POSPRINTER";

  RecBarCodeRotationList_ = text(P, "RecBarCodeRotationList");
  CharacterSetList_ = text(P, "CharacterSetList");
  FontTypefaceList_ = text(P, "FontTypefaceList");
  RecLineCharsList_ = text(P, "RecLineCharsList");
  caps_.CapCompareFirmwareVersion = number("COMMON", "CapCompareFirmwareVersion");
  caps_.CapStatisticsReporting = number("COMMON", "CapStatisticsRporting");
  caps_.CapUpdateFirmware = number("COMMON", "CapUpdateFirmware");
  caps_.CapUpdateStatistics = number("COMMON", "CapUpdateStatistics");
  caps_.CapCoverSensor = number(P, "CapCoverSensor");
  caps_.CapRec2Color = number(P, "CapRec2Color");
  caps_.CapRecBarCode = number(P, "CapRecBarCode");
  caps_.CapRecBitmap = number(P, "CapRecBitmap");
  caps_.CapRecBold = number(P, "CapRecBold");
  caps_.CapRecItalic = number(P, "CapRecItalic");
  caps_.CapRecUnderline = number(P, "CapRecUnderline");
  caps_.CapRecCartridgeSensor = number(P, "CapRecCartridgeSensor");
  if (caps_.CapRecCartridgeSensor == -1) caps_.CapRecCartridgeSensor = 0;
  out_.CapRecColor = number(P, "CapRecColor");
  caps_.CapRecDhigh = number(P, "CapRecDhigh");
  caps_.CapRecDwide = number(P, "CapRecDwide");
  caps_.CapRecDwideDhigh = number(P, "CapRecDwideDhigh");
  caps_.CapRecEmptySensor = number(P, "CapRecEmptySensor");
  caps_.CapRecNearEndSensor = number(P, "CapRecNearEndSensor");
  caps_.CapRecMarkFeed = number(P, "CapRecMarkFeed");
  out_.CapRecPapercut = number(P, "CapRecPapercut");
  caps_.CapRecLeft90 = number(P, "CapRecLeft90");
  caps_.CapRecRight90 = number(P, "CapRecRight90");
  out_.CapRecRotate180 = number(P, "CapRecRotate180");
  caps_.CapRecStamp = number(P, "CapRecStamp");
  CharacterSet_ = number(P, "CharacterSet");
  // An unsupported character set keeps the code table as it was; opening goes on.
  output::SelectCodeTable(out_, CharacterSet_, logical_name_);
  int32_t profile_line_chars = number(P, "RecLineChars");
  metrics_.RecLineHeight = number(P, "RecLineHeight");
  metrics_.RecLineSpacing = number(P, "RecLineSpacing");
  metrics_.default_spacing_dots = metrics_.RecLineSpacing;
  metrics_.RecLineWidth = number(P, "RecLineWidth");
  metrics_.width_dots = metrics_.RecLineWidth;
  metrics_.RecSidewaysMaxLines = number(P, "RecSidewaysMaxLines");
  metrics_.RecSidewaysMaxChars = number(P, "RecSidewaysMaxChars");
  out_.RecLinesToPaperCut = number(P, "RecLinesToPaperCut");
  caps_.CapConcurrentPageMode = number(P, "CapConcurrentPageMode");
  caps_.CapMapCharacterSet = number(P, "CapMapCharacterSet");
  caps_.CapRecPageMode = number(P, "CapRecPageMode");
  MapCharacterSet_ = number(P, "MapCharacterSet");
  page_.PageModeArea = text(P, "PageModeArea");
  page_.PageModeDescriptor = number(P, "PageModeDescriptor");
  page_.PageModeHorizontalPosition = number(P, "PageModeHorizontalPosition");
  std::string print_area = text(P, "PageModePrintArea");
  page_.PageModePrintDirection = number(P, "PageModePrintDirection");
  page_.PageModeStation = number(P, "PageModeStation");
  page_.PageModeVerticalPosition = number(P, "PageModeVerticalPosition");
  RecBitmapRotationList_ = text(P, "RecBitmapRotationList");
  metrics_.LinecharsCompressed = number("DETAIL", "LinecharsCompressed");
  out_.LinecharsNormal = number("DETAIL", "LinecharsNormal");
  metrics_.DotsPerNormalChar = number("DETAIL", "DotsPerNormalChar");
  metrics_.DotsPerCompressedChar = number("DETAIL", "DotsPerCompressedChar");
  metrics_.DotsPerNormalCharHeight = number("DETAIL", "DotsPerNormalCharHeight");
  metrics_.DotsPerCompressedCharHeight = number("DETAIL", "DotsPerCompressedCharHeight");

  // The unit tables come first here (the page-mode positions are converted with
  // them); a resolution the conversions would divide by is refused outright.
  std::string why;
  std::optional<output::UnitTables> tables =
      output::DeriveUnitTables(number("DETAIL", "DPIHIGH"), number("DETAIL", "DPIWIDTH"), &why);
  if (!tables) {
    platform::Trace("LoadProfile(%s): %s", path.c_str(), why.c_str());
    return std::nullopt;
  }
  out_.shared->SetUnits(*tables);

  ApplyPageModePrintArea(print_area);
  const Device any{.claimed = true, .enabled = true};
  bool known = false;
  SetNumberLocked(PIDX_PageModeVerticalPosition, page_.PageModeVerticalPosition, any, &known);
  SetNumberLocked(PIDX_PageModeHorizontalPosition, page_.PageModeHorizontalPosition, any, &known);

  out_.DIINTERNATIONAL = number("DIRECTIO", "DIINTERNATIONAL");

  const output::UnitTables units = out_.shared->Units();
  metrics_.height_dots =
      output::MapUnits(metrics_.RecLineHeight, units.UnitsToVerticalDots, out_.MapMode);
  out_.line_spacing_dots =
      output::MapUnits(metrics_.RecLineSpacing, units.UnitsToVerticalDots, out_.MapMode);

  int32_t rc = OPOS_SUCCESS;
  ApplyRecLineChars(profile_line_chars, &rc);
  if (out_.RecLineChars == 0 || metrics_.RecLineWidth == 0) {
    platform::Trace("LoadProfile(%s): RecLineChars %d, RecLineWidth %d", path.c_str(),
                    out_.RecLineChars, metrics_.RecLineWidth);
    rc = OPOS_E_ILLEGAL;
  }
  identification_.CheckHealthText = "Not Executed";
  return rc;
}

int32_t PropertyTable::GetNumber(int32_t index) {
  std::lock_guard<std::mutex> guard(mutex_);
  switch (index) {
    case PIDX_ServiceObjectVersion:
      return identification_.ServiceObjectVersion;
    case PIDX_BinaryConversion:
      return binary_conversion_;
    case PIDX_CapPowerReporting:
      return identification_.CapPowerReporting;
    case PIDX_CapStatisticsReporting:
      return caps_.CapStatisticsReporting;
    case PIDX_CapUpdateStatistics:
      return caps_.CapUpdateStatistics;
    case PIDX_CapCompareFirmwareVersion:
      return caps_.CapCompareFirmwareVersion;
    case PIDX_CapUpdateFirmware:
      return caps_.CapUpdateFirmware;
    case PIDX_CharacterSet:
      return CharacterSet_;
    case PIDX_MapMode:
      return out_.MapMode;
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
    case PIDX_RecSidewaysMaxChars:
      return metrics_.RecSidewaysMaxChars;
    case PIDX_RecSidewaysMaxLines:
      return metrics_.RecSidewaysMaxLines;
    case PIDX_RotateSpecial:
      return rotate_special_;
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

std::string PropertyTable::GetString(int32_t index) {
  std::lock_guard<std::mutex> guard(mutex_);
  switch (index) {
    case PIDX_CheckHealthText:
      return identification_.CheckHealthText;
    case PIDX_DeviceDescription:
      return identification_.DeviceDescription;
    case PIDX_DeviceName:
      return identification_.DeviceName;
    case PIDX_ServiceObjectDescription:
      return identification_.ServiceObjectDescription;
    case PIDX_CharacterSetList:
      return CharacterSetList_;
    case PIDX_RecLineCharsList:
      return RecLineCharsList_;
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

void PropertyTable::RecomputeUnitMetrics() {
  const output::UnitTables units = out_.shared->Units();
  metrics_.RecLineHeight =
      output::MapUnits(metrics_.height_dots, units.VerticalDotsToUnits, out_.MapMode);
  metrics_.RecLineSpacing =
      output::MapUnits(out_.line_spacing_dots, units.VerticalDotsToUnits, out_.MapMode);
  metrics_.RecLineWidth =
      output::MapUnits(metrics_.width_dots, units.HorizontalDotsToUnits, out_.MapMode);
  out_.PendingSettings |= output::kPendingLineSpacing;
}

void PropertyTable::ApplyRecLineChars(int32_t n, int32_t* rc) {
  *rc = OPOS_SUCCESS;
  if (n < 10) n = 10;
  if (n <= out_.LinecharsNormal) {
    out_.RecLineChars = out_.LinecharsNormal;
  } else {
    out_.RecLineChars = metrics_.LinecharsCompressed;
    if (n > metrics_.LinecharsCompressed) *rc = OPOS_E_ILLEGAL;
  }
  output::SelectBaseFont(out_);
  metrics_.compressed_font = out_.RecLineChars > out_.LinecharsNormal;
  RecomputeUnitMetrics();
}

int32_t PropertyTable::ApplyPageModePrintArea(const std::string& text) {
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
    return OPOS_E_ILLEGAL;
  }
  std::string_view t = text;
  int32_t values[4] = {platform::Atoi(t.substr(0, c1)), platform::Atoi(t.substr(c1 + 1)),
                       platform::Atoi(t.substr(c2 + 1)), platform::Atoi(t.substr(c3 + 1))};
  for (int i = 0; i < 4; ++i) {
    page_.area[i] = values[i];
    page_.area_dots[i] = to_dots(values[i]);
  }
  page_.PageModePrintArea = text;
  PageChanged();
  return OPOS_SUCCESS;
}

void PropertyTable::ResetPrintArea() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ApplyPageModePrintArea("0,0" + page_.PageModeArea);
  }
  TellPageChange();
}

std::optional<int32_t> PropertyTable::SetNumber(int32_t index, int32_t number, Device device) {
  bool known = true;
  int32_t rc;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    rc = SetNumberLocked(index, number, device, &known);
  }
  TellPageChange();
  if (!known) return std::nullopt;
  return rc;
}

int32_t PropertyTable::SetNumberLocked(int32_t index, int32_t number, Device device, bool* known) {
  // The setters that change what is printed need a claimed, enabled device.
  auto usable = [&](int32_t* rc) {
    *rc = !device.claimed ? OPOS_E_NOTCLAIMED : !device.enabled ? OPOS_E_DISABLED : OPOS_SUCCESS;
    return *rc == OPOS_SUCCESS;
  };
  const output::UnitTables units = out_.shared->Units();
  int32_t rc = OPOS_SUCCESS;
  switch (index) {
    case PIDX_BinaryConversion:
      if (number < 0 || number > 2) break;
      binary_conversion_ = number;
      return OPOS_SUCCESS;
    case PIDX_CharacterSet:
      if (!usable(&rc)) return rc;
      if (output::SelectCodeTable(out_, number, logical_name_) != OPOS_SUCCESS) break;
      CharacterSet_ = number;
      return OPOS_SUCCESS;
    case PIDX_MapMode:
      if (number < 1 || number > 4) break;
      out_.MapMode = number;
      RecomputeUnitMetrics();
      return OPOS_SUCCESS;
    case PIDX_RecLetterQuality:
      if (!usable(&rc)) return rc;
      rec_letter_quality_ = number;
      return OPOS_SUCCESS;
    case PIDX_RecLineChars:
      if (usable(&rc)) ApplyRecLineChars(number, &rc);
      return rc;
    case PIDX_RecLineHeight:
      if (!usable(&rc)) return rc;
      metrics_.height_dots = metrics_.compressed_font ? metrics_.DotsPerCompressedCharHeight
                                                      : metrics_.DotsPerNormalCharHeight;
      out_.line_spacing_dots = metrics_.default_spacing_dots;
      RecomputeUnitMetrics();
      return OPOS_SUCCESS;
    case PIDX_RecLineSpacing: {
      if (!usable(&rc)) return rc;
      int32_t dots = output::MapUnits(number, units.UnitsToVerticalDots, out_.MapMode);
      out_.line_spacing_dots = dots < 12 ? 12 : dots > 50 ? 50 : dots;
      RecomputeUnitMetrics();
      out_.RecLinesToPaperCut =
          (metrics_.height_dots + out_.line_spacing_dots + 143) / out_.line_spacing_dots;
      return OPOS_SUCCESS;
    }
    case PIDX_RotateSpecial:
      rotate_special_ = number;
      return OPOS_SUCCESS;
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
      PageChanged();
      return OPOS_SUCCESS;
    }
    case PIDX_PageModePrintDirection:
      if (number < 1 || number > 4) break;
      page_.PageModePrintDirection = number;
      PageChanged();
      return OPOS_SUCCESS;
    case PIDX_PageModeStation:
      if (number != PTR_S_RECEIPT && number != PTR_S_SLIP) break;
      page_.PageModeStation = number;
      return OPOS_SUCCESS;
    default:
      *known = false;
      return OPOS_SUCCESS;
  }
  return OPOS_E_ILLEGAL;
}

int32_t PropertyTable::SetString(int32_t index, const std::string& text) {
  if (index != PIDX_PageModePrintArea) return OPOS_E_ILLEGAL;
  int32_t rc;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    rc = ApplyPageModePrintArea(text);
  }
  TellPageChange();
  return rc;
}

}  // namespace qz381::so
