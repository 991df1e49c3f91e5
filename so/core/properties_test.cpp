// The property setters' rules on a device opened with the shipped profile
// (42 / 56 characters a line, 180 dpi, 24-dot normal font, 512-dot line).
#include <gtest/gtest.h>

#include <string>

#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

struct NumberCase {
  const char* name;
  int32_t pidx;
  int32_t value;
  int32_t want_rc;
  int32_t read_pidx;  // the property read back afterwards
  int32_t want_read;
};

TEST_F(SoTest, SetPropertyNumberRulesWhileEnabled) {
  const NumberCase cases[] = {
      {"RecLineChars 0 snaps to normal", PIDX_RecLineChars, 0, OPOS_SUCCESS, PIDX_RecLineChars, 42},
      {"RecLineChars 42 stays normal", PIDX_RecLineChars, 42, OPOS_SUCCESS, PIDX_RecLineChars, 42},
      {"RecLineChars 43 takes compressed", PIDX_RecLineChars, 43, OPOS_SUCCESS, PIDX_RecLineChars,
       56},
      {"RecLineChars 56 is compressed", PIDX_RecLineChars, 56, OPOS_SUCCESS, PIDX_RecLineChars, 56},
      {"RecLineChars 57 is refused at compressed", PIDX_RecLineChars, 57, OPOS_E_ILLEGAL,
       PIDX_RecLineChars, 56},
      {"RecLineChars keeps the line height in dots", PIDX_RecLineChars, 56, OPOS_SUCCESS,
       PIDX_RecLineHeight, 24},
      {"RecLineSpacing 200 clamps to 50", PIDX_RecLineSpacing, 200, OPOS_SUCCESS,
       PIDX_RecLineSpacing, 50},
      {"RecLineSpacing 3 clamps to 12", PIDX_RecLineSpacing, 3, OPOS_SUCCESS, PIDX_RecLineSpacing,
       12},
      {"RecLineSpacing recomputes lines to cut", PIDX_RecLineSpacing, 50, OPOS_SUCCESS,
       PIDX_RecLinesToPaperCut, 4},
      {"MapMode 5 refused", PIDX_MapMode, 5, OPOS_E_ILLEGAL, PIDX_MapMode, 1},
      {"MapMode 0 refused", PIDX_MapMode, 0, OPOS_E_ILLEGAL, PIDX_MapMode, 1},
      {"MapMode twips scales the width", PIDX_MapMode, 2, OPOS_SUCCESS, PIDX_RecLineWidth, 512 * 8},
      {"PowerNotify while enabled", PIDX_PowerNotify, 1, OPOS_E_ILLEGAL, PIDX_PowerNotify, 0},
      {"BinaryConversion 2", PIDX_BinaryConversion, 2, OPOS_SUCCESS, PIDX_BinaryConversion, 2},
      {"BinaryConversion 3 refused", PIDX_BinaryConversion, 3, OPOS_E_ILLEGAL,
       PIDX_BinaryConversion, 0},
      {"FreezeEvents 1", PIDX_FreezeEvents, 1, OPOS_SUCCESS, PIDX_FreezeEvents, 1},
      {"PageModeStation slip", PIDX_PageModeStation, 4, OPOS_SUCCESS, PIDX_PageModeStation, 4},
      {"PageModeStation 3 refused", PIDX_PageModeStation, 3, OPOS_E_ILLEGAL, PIDX_PageModeStation,
       2},
      {"PageModeHorizontalPosition negative", PIDX_PageModeHorizontalPosition, -1, OPOS_E_ILLEGAL,
       PIDX_PageModeHorizontalPosition, 0},
      {"CartridgeNotify while enabled", PIDX_CartridgeNotify, 0, OPOS_E_ILLEGAL,
       PIDX_CartridgeNotify, 0},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    so::CPOSPrinter* p = Enabled();
    p->SetPropertyNumber(c.pidx, c.value);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), c.want_rc);
    EXPECT_EQ(p->GetPropertyNumber(c.read_pidx), c.want_read);
    p->Close();
  }
}

// The height of the compressed font shows once RecLineHeight is recomputed.
TEST_F(SoTest, RecLineHeightFollowsTheFontInUse) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_RecLineChars, 56);
  p->SetPropertyNumber(PIDX_RecLineHeight, 999);  // the value itself is not used
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineHeight), 17);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineSpacing), 30);
}

TEST_F(SoTest, RefusedMapModeLeavesTheMetricsAlone) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_MapMode, 3);  // English: thousandths of an inch
  int32_t height = p->GetPropertyNumber(PIDX_RecLineHeight);
  int32_t spacing = p->GetPropertyNumber(PIDX_RecLineSpacing);
  int32_t width = p->GetPropertyNumber(PIDX_RecLineWidth);
  EXPECT_NE(width, 512);
  p->SetPropertyNumber(PIDX_MapMode, 5);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_MapMode), 3);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineHeight), height);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineSpacing), spacing);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineWidth), width);
  p->SetPropertyNumber(PIDX_MapMode, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineWidth), 512);
}

TEST_F(SoTest, LineSettersNeedTheDeviceEnabled) {
  so::CPOSPrinter* p = Opened();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  for (int32_t pidx : {PIDX_RecLineChars, PIDX_RecLineHeight, PIDX_RecLineSpacing}) {
    SCOPED_TRACE(pidx);
    p->SetPropertyNumber(pidx, 56);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_DISABLED);
  }
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineChars), 42);
}

TEST_F(SoTest, PowerNotifyWhileDisabledHoldsEvents) {
  so::CPOSPrinter* p = Opened();
  p->SetPropertyNumber(PIDX_PowerNotify, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerNotify), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_FreezeEvents), 1);
  p->SetPropertyNumber(PIDX_PowerNotify, 2);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerNotify), 1);
}

TEST_F(SoTest, PageModePrintAreaNeedsFourParts) {
  so::CPOSPrinter* p = Enabled();
  EXPECT_EQ(p->GetPropertyString(PIDX_PageModePrintArea), "0,0,512,1662");
  p->SetPropertyString(PIDX_PageModePrintArea, "0,0,512");
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyString(PIDX_PageModePrintArea), "0,0,512,1662");
  p->SetPropertyString(PIDX_PageModePrintArea, "8,16,256,400");
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyString(PIDX_PageModePrintArea), "8,16,256,400");
  p->SetPropertyString(PIDX_PageModeArea, "0,0,1,1");  // PageModeArea is read-only
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyString(PIDX_PageModeArea), ",512,1662");
}

TEST_F(SoTest, StringPropertiesOfOtherStationsAreEmpty) {
  so::CPOSPrinter* p = Opened();
  for (int32_t pidx : {1008002, 1008004, 1008008, 1008010, 1234567}) {
    SCOPED_TRACE(pidx);
    EXPECT_EQ(p->GetPropertyString(pidx), "");
  }
  EXPECT_EQ(p->GetPropertyString(PIDX_RecLineCharsList), "42,56");
  EXPECT_EQ(p->GetPropertyString(PIDX_RecBarCodeRotationList), "0,180");
}

TEST_F(SoTest, UnknownNumberIndexChangesNothing) {
  so::CPOSPrinter* p = Opened();
  p->SetPropertyNumber(PIDX_BinaryConversion, 9);  // leaves ResultCode at 106
  p->SetPropertyNumber(99999, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(99999), 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CapRecPresent), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CapCharacterSet), 998);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CapTransaction), 1);
}

}  // namespace
}  // namespace qz381::testing
