#pragma once
// PropertyTable: the device's settings as the control object sees them and as
// the translation uses them. It owns the capabilities, line metrics, page mode
// state, lists, identification strings, character set and the output settings,
// and the one lock that guards them; it answers and changes every property that
// is only settings. What the lifecycle, the status monitor or the output queue
// owns is answered by them (CPOSPrinter asks the table for the rest).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/profile.h"
#include "so/output/device_settings.h"

namespace qz381::so {

// The numeric and string properties the configuration fills, by their OPOS names.
struct Capabilities {
  int32_t CapCompareFirmwareVersion = 0, CapStatisticsReporting = 0, CapUpdateFirmware = 0,
          CapUpdateStatistics = 0;
  int32_t CapCoverSensor = 0, CapRec2Color = 0, CapRecBarCode = 0, CapRecBitmap = 0, CapRecBold = 0,
          CapRecItalic = 0, CapRecUnderline = 0;
  int32_t CapRecCartridgeSensor = 15;
  // CapRecColor, CapRecPapercut and CapRecRotate180 live in the output settings.
  int32_t CapRecDhigh = 0, CapRecDwide = 0, CapRecDwideDhigh = 0, CapRecEmptySensor = 0,
          CapRecNearEndSensor = 0, CapRecMarkFeed = 0, CapRecLeft90 = 0, CapRecRight90 = 0,
          CapRecStamp = 0;
  int32_t CapConcurrentPageMode = 0, CapMapCharacterSet = 0, CapRecPageMode = 0;
};

// RecLineChars, LinecharsNormal, RecLinesToPaperCut, MapMode and the line spacing
// in dots live in the output settings, which the translation reads.
struct LineMetrics {
  // What the control object reads, in the current map mode's units.
  int32_t RecLineHeight = 0, RecLineSpacing = 0, RecLineWidth = 0;
  // What the printer commands use.
  int32_t height_dots = 0, width_dots = 0;
  int32_t default_spacing_dots = 0;  // the profile's RecLineSpacing
  int32_t RecSidewaysMaxLines = 0, RecSidewaysMaxChars = 0;
  int32_t LinecharsCompressed = 0;
  int32_t DotsPerNormalChar = 0, DotsPerCompressedChar = 0;
  int32_t DotsPerNormalCharHeight = 0, DotsPerCompressedCharHeight = 0;
  bool compressed_font = false;  // the base font: compressed when RecLineChars > LinecharsNormal
};

struct PageModeState {
  int32_t PageModeDescriptor = 0, PageModeHorizontalPosition = 0, PageModePrintDirection = 0,
          PageModeStation = 0, PageModeVerticalPosition = 0;
  int32_t horizontal_dots = 0, vertical_dots = 0;
  int32_t area[4] = {0, 0, 0, 0};       // x, y, width, height in map-mode units
  int32_t area_dots[4] = {0, 0, 0, 0};  // the same in dots
  std::string PageModeArea, PageModePrintArea;
};

// What the device entry and the health check tell about the device.
struct Identification {
  std::string ServiceObjectDescription, DeviceName, DeviceDescription;
  int32_t ServiceObjectVersion = 1009003;
  std::string CheckHealthText;
  int32_t CapPowerReporting = 0;
};

class PropertyTable {
 public:
  // The settings under the table's lock, for as long as this lives: the print
  // methods translate with them and the output thread builds prologues.
  class Locked {
   public:
    explicit Locked(PropertyTable& table)
        : guard_(table.mutex_),
          out(table.out_),
          metrics(table.metrics_),
          page(table.page_),
          identification(table.identification_) {}

   private:
    std::lock_guard<std::mutex> guard_;

   public:
    output::DeviceSettings& out;
    const LineMetrics& metrics;
    const PageModeState& page;
    Identification& identification;
  };

  // What a change is checked against that the table does not own.
  struct Device {
    bool claimed = false, enabled = false;
  };

  // `page_changed` is called (with the lock given back) when the page mode header must
  // be sent again: a new print area, position or direction.
  explicit PropertyTable(std::function<void()> page_changed = {});
  PropertyTable(const PropertyTable&) = delete;
  PropertyTable& operator=(const PropertyTable&) = delete;

  Locked Lock() { return Locked(*this); }

  // Back to a new device's settings (the trace and the shared translation
  // state stay); `logical_name` is what the trace lines name.
  void Reset(const std::string& logical_name);

  // The capability profile, after the device entry. Null when it cannot be
  // used at all (a resolution the conversions would divide by); otherwise the
  // result of taking its RecLineChars, or OPOS_E_ILLEGAL when a line has no
  // characters or no width.
  std::optional<int32_t> LoadProfile(const platform::IniFile& ini, const std::string& path);

  // 0 for an index the table does not answer.
  int32_t GetNumber(int32_t index);
  std::string GetString(int32_t index);
  // The new ResultCode, or null when `index` is not the table's (nothing changes).
  std::optional<int32_t> SetNumber(int32_t index, int32_t number, Device device);
  int32_t SetString(int32_t index, const std::string& text);
  // The print area back to the whole page (ClearPrintArea).
  void ResetPrintArea();

  // Filled at open, read-only afterwards.
  const Capabilities& caps() const { return caps_; }
  // For tests.
  LineMetrics metrics();

  // The settings that only the print methods read.
  int32_t BinaryConversion();
  bool LetterQuality();
  int32_t RotateSpecial();

 private:
  int32_t SetNumberLocked(int32_t index, int32_t number, Device device, bool* known);
  void ApplyRecLineChars(int32_t n, int32_t* rc);
  void RecomputeUnitMetrics();
  int32_t ApplyPageModePrintArea(const std::string& text);
  std::optional<int32_t> ReadProfile(const platform::IniFile& ini, const std::string& path);
  // Under the lock: the page header is due. Told once the lock is given back.
  void PageChanged();
  void TellPageChange();

  std::mutex mutex_;  // everything below
  std::function<void()> page_changed_;
  std::string logical_name_;
  output::DeviceSettings out_;
  Capabilities caps_;
  LineMetrics metrics_;
  PageModeState page_;
  Identification identification_;
  std::string RecBarCodeRotationList_, CharacterSetList_, FontTypefaceList_, RecLineCharsList_,
      RecBitmapRotationList_;
  int32_t MapCharacterSet_ = 0;
  int32_t CharacterSet_ = 0;
  int32_t binary_conversion_ = 0;
  int32_t rec_letter_quality_ = 0;
  int32_t rotate_special_ = 0;  // PTR_RP_NORMAL after Reset
  bool page_dirty_ = false;
};

}  // namespace qz381::so
