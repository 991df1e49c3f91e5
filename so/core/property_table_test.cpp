// The property table alone, filled from the shipped profile (42 / 56
// characters a line, 180 dpi, 24-dot normal font, 512-dot line): the setters'
// rules, the map-mode conversions, the page mode area and what loading keeps.
#include "so/core/property_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/opos.h"
#include "common/properties.h"
#include "so/core/testdata/test_support.h"

namespace qz381::so {
namespace {

using namespace qz381::opos;

platform::IniFile ShippedProfile() {
  return platform::IniFile::Parse(qz381::testing::ReadWholeFile(QZ381_SHIPPED_PROFILE));
}

class PropertyTableTest : public ::testing::Test {
 protected:
  void Load(const platform::IniFile& ini = ShippedProfile()) {
    table_.Reset("POS1");
    ASSERT_EQ(table_.LoadProfile(ini, "shipped"), std::optional<int32_t>(OPOS_SUCCESS));
  }
  int page_changes_ = 0;
  PropertyTable table_{[this] { ++page_changes_; }};
};

constexpr PropertyTable::Device kEnabled{.claimed = true, .enabled = true};
constexpr PropertyTable::Device kClaimedOnly{.claimed = true, .enabled = false};
constexpr PropertyTable::Device kNotClaimed{};

struct SetCase {
  const char* name;
  PropertyTable::Device device;
  int32_t pidx, value;
  std::optional<int32_t> want_rc;  // null: not the table's
  int32_t read_pidx, want_read;
};

TEST_F(PropertyTableTest, SetNumberRules) {
  const SetCase cases[] = {
      {"RecLineChars 9 snaps to normal", kEnabled, PIDX_RecLineChars, 9, OPOS_SUCCESS,
       PIDX_RecLineChars, 42},
      {"RecLineChars 50 takes compressed", kEnabled, PIDX_RecLineChars, 50, OPOS_SUCCESS,
       PIDX_RecLineChars, 56},
      {"RecLineChars 57 is refused at compressed", kEnabled, PIDX_RecLineChars, 57, OPOS_E_ILLEGAL,
       PIDX_RecLineChars, 56},
      {"RecLineChars needs the claim", kNotClaimed, PIDX_RecLineChars, 56, OPOS_E_NOTCLAIMED,
       PIDX_RecLineChars, 42},
      {"RecLineChars needs the device enabled", kClaimedOnly, PIDX_RecLineChars, 56,
       OPOS_E_DISABLED, PIDX_RecLineChars, 42},
      {"RecLineSpacing clamps to 50 dots", kEnabled, PIDX_RecLineSpacing, 51, OPOS_SUCCESS,
       PIDX_RecLineSpacing, 50},
      {"RecLineSpacing clamps to 12 dots", kEnabled, PIDX_RecLineSpacing, -4, OPOS_SUCCESS,
       PIDX_RecLineSpacing, 12},
      {"RecLineSpacing sets the lines to the cutter", kEnabled, PIDX_RecLineSpacing, 12,
       OPOS_SUCCESS, PIDX_RecLinesToPaperCut, 14},
      {"RecLineSpacing needs the device enabled", kClaimedOnly, PIDX_RecLineSpacing, 40,
       OPOS_E_DISABLED, PIDX_RecLineSpacing, 30},
      {"RecLetterQuality needs the claim", kNotClaimed, PIDX_RecLetterQuality, 1, OPOS_E_NOTCLAIMED,
       PIDX_RecLetterQuality, 0},
      {"RecLetterQuality", kEnabled, PIDX_RecLetterQuality, 1, OPOS_SUCCESS, PIDX_RecLetterQuality,
       1},
      {"CharacterSet needs the device enabled", kClaimedOnly, PIDX_CharacterSet, 850,
       OPOS_E_DISABLED, PIDX_CharacterSet, 437},
      {"CharacterSet unknown", kEnabled, PIDX_CharacterSet, 12345, OPOS_E_ILLEGAL,
       PIDX_CharacterSet, 437},
      {"MapMode 0 refused", kNotClaimed, PIDX_MapMode, 0, OPOS_E_ILLEGAL, PIDX_MapMode, 1},
      {"MapMode 4 while closed", kNotClaimed, PIDX_MapMode, 4, OPOS_SUCCESS, PIDX_MapMode, 4},
      {"BinaryConversion -1 refused", kNotClaimed, PIDX_BinaryConversion, -1, OPOS_E_ILLEGAL,
       PIDX_BinaryConversion, 0},
      {"BinaryConversion 1", kNotClaimed, PIDX_BinaryConversion, 1, OPOS_SUCCESS,
       PIDX_BinaryConversion, 1},
      {"RotateSpecial is taken as given", kNotClaimed, PIDX_RotateSpecial, 7, OPOS_SUCCESS,
       PIDX_RotateSpecial, 7},
      {"PageModePrintDirection 5 refused", kNotClaimed, PIDX_PageModePrintDirection, 5,
       OPOS_E_ILLEGAL, PIDX_PageModePrintDirection, 1},
      {"PageModePrintDirection 3", kNotClaimed, PIDX_PageModePrintDirection, 3, OPOS_SUCCESS,
       PIDX_PageModePrintDirection, 3},
      {"PageModeStation journal refused", kNotClaimed, PIDX_PageModeStation, 1, OPOS_E_ILLEGAL,
       PIDX_PageModeStation, PTR_S_RECEIPT},
      {"PageModeVerticalPosition -1 refused", kNotClaimed, PIDX_PageModeVerticalPosition, -1,
       OPOS_E_ILLEGAL, PIDX_PageModeVerticalPosition, 0},
      {"PageModeVerticalPosition 100", kNotClaimed, PIDX_PageModeVerticalPosition, 100,
       OPOS_SUCCESS, PIDX_PageModeVerticalPosition, 100},
      {"a read-only capability is not the table's to set", kEnabled, PIDX_CapRecBarCode, 0,
       std::nullopt, PIDX_CapRecBarCode, 1},
      {"an unknown index", kEnabled, 99999, 1, std::nullopt, 99999, 0},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load();
    EXPECT_EQ(table_.SetNumber(c.pidx, c.value, c.device), c.want_rc);
    EXPECT_EQ(table_.GetNumber(c.read_pidx), c.want_read);
  }
}

// What the control object reads in each map mode of the same line: dots,
// twips, thousandths of an inch, hundredths of a millimetre.
TEST_F(PropertyTableTest, MapModesConvertTheLineMetrics) {
  struct Case {
    int32_t map_mode, width, height, spacing;
  };
  const Case cases[] = {
      {PTR_MM_DOTS, 512, 24, 30},
      {PTR_MM_TWIPS, 4096, 192, 240},
      {PTR_MM_ENGLISH, 2844, 133, 167},
      {PTR_MM_METRIC, 7225, 339, 423},
  };
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.map_mode);
    ASSERT_EQ(table_.SetNumber(PIDX_MapMode, c.map_mode, kNotClaimed),
              std::optional<int32_t>(OPOS_SUCCESS));
    EXPECT_EQ(table_.GetNumber(PIDX_RecLineWidth), c.width);
    EXPECT_EQ(table_.GetNumber(PIDX_RecLineHeight), c.height);
    EXPECT_EQ(table_.GetNumber(PIDX_RecLineSpacing), c.spacing);
    // The printer's own units stay.
    const LineMetrics dots = table_.metrics();
    EXPECT_EQ(dots.width_dots, 512);
    EXPECT_EQ(dots.height_dots, 24);
    EXPECT_EQ(table_.Lock().out.line_spacing_dots, 30);
  }
}

// A line spacing given in the current map mode becomes dots for the printer,
// and the next prologue is told to send it.
TEST_F(PropertyTableTest, LineSpacingIsTakenInTheMapModesUnits) {
  Load();
  table_.Lock().out.PendingSettings = 0;
  ASSERT_EQ(table_.SetNumber(PIDX_MapMode, PTR_MM_TWIPS, kEnabled),
            std::optional<int32_t>(OPOS_SUCCESS));
  ASSERT_EQ(table_.SetNumber(PIDX_RecLineSpacing, 320, kEnabled),
            std::optional<int32_t>(OPOS_SUCCESS));
  PropertyTable::Locked settings = table_.Lock();
  EXPECT_EQ(settings.out.line_spacing_dots, 40);
  EXPECT_EQ(settings.metrics.RecLineSpacing, 320);
  EXPECT_NE(settings.out.PendingSettings & output::kPendingLineSpacing, 0);
}

TEST_F(PropertyTableTest, PrintAreaAndPositionsAskForANewPageHeader) {
  Load();
  page_changes_ = 0;
  EXPECT_EQ(table_.GetString(PIDX_PageModePrintArea), "0,0,512,1662");
  EXPECT_EQ(table_.SetString(PIDX_PageModePrintArea, "1,2,3"), OPOS_E_ILLEGAL);
  EXPECT_EQ(page_changes_, 0);
  EXPECT_EQ(table_.SetString(PIDX_PageModePrintArea, "8,16,256,400"), OPOS_SUCCESS);
  EXPECT_EQ(table_.GetString(PIDX_PageModePrintArea), "8,16,256,400");
  EXPECT_EQ(table_.SetString(PIDX_PageModeArea, "0,0,1,1"), OPOS_E_ILLEGAL);  // read-only
  table_.SetNumber(PIDX_PageModeHorizontalPosition, 10, kNotClaimed);
  table_.SetNumber(PIDX_PageModePrintDirection, 2, kNotClaimed);
  table_.SetNumber(PIDX_PageModeStation, PTR_S_SLIP, kNotClaimed);  // no header of its own
  EXPECT_EQ(page_changes_, 3);
  table_.ResetPrintArea();
  EXPECT_EQ(table_.GetString(PIDX_PageModePrintArea), "0,0,512,1662");
  EXPECT_EQ(page_changes_, 4);
}

TEST_F(PropertyTableTest, LoadingRefusesWhatCannotPrintAndResetForgets) {
  platform::IniFile no_resolution = ShippedProfile();
  no_resolution.Set("DETAIL", "DPIHIGH", "0");
  EXPECT_EQ(table_.LoadProfile(no_resolution, "no dpi"), std::nullopt);

  platform::IniFile no_width = ShippedProfile();
  no_width.Set("POSPRINTER", "RecLineWidth", "0");
  table_.Reset("POS1");
  EXPECT_EQ(table_.LoadProfile(no_width, "no width"), std::optional<int32_t>(OPOS_E_ILLEGAL));

  Load();
  EXPECT_EQ(table_.GetString(PIDX_CheckHealthText), "Not Executed");
  EXPECT_EQ(table_.GetString(PIDX_RecLineCharsList), "42,56");
  table_.SetNumber(PIDX_MapMode, PTR_MM_METRIC, kEnabled);
  table_.SetNumber(PIDX_RotateSpecial, PTR_RP_LEFT90, kEnabled);
  table_.Reset("POS2");
  EXPECT_EQ(table_.GetNumber(PIDX_MapMode), PTR_MM_DOTS);
  EXPECT_EQ(table_.GetNumber(PIDX_RotateSpecial), PTR_RP_NORMAL);
  EXPECT_EQ(table_.GetNumber(PIDX_RecLineWidth), 0);
  EXPECT_EQ(table_.GetString(PIDX_RecLineCharsList), "");
  EXPECT_EQ(table_.GetNumber(PIDX_CapRecPresent), 1);
}

}  // namespace
}  // namespace qz381::so
