// The property setters' rules on a device opened with the shipped profile
// (42 / 56 characters a line, 180 dpi, 24-dot normal font, 512-dot line).
#include <gtest/gtest.h>

#include <string>

#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

constexpr int32_t kRecLineChars = 8016, kRecLineHeight = 8017, kRecLineSpacing = 8018,
                  kRecLinesToPaperCut = 8019, kRecLineWidth = 8020, kMapMode = 8013;

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
      {"RecLineChars 0 snaps to normal", kRecLineChars, 0, 0, kRecLineChars, 42},
      {"RecLineChars 42 stays normal", kRecLineChars, 42, 0, kRecLineChars, 42},
      {"RecLineChars 43 takes compressed", kRecLineChars, 43, 0, kRecLineChars, 56},
      {"RecLineChars 56 is compressed", kRecLineChars, 56, 0, kRecLineChars, 56},
      {"RecLineChars 57 is refused at compressed", kRecLineChars, 57, 106, kRecLineChars, 56},
      {"RecLineChars keeps the line height in dots", kRecLineChars, 56, 0, kRecLineHeight, 24},
      {"RecLineSpacing 200 clamps to 50", kRecLineSpacing, 200, 0, kRecLineSpacing, 50},
      {"RecLineSpacing 3 clamps to 12", kRecLineSpacing, 3, 0, kRecLineSpacing, 12},
      {"RecLineSpacing recomputes lines to cut", kRecLineSpacing, 50, 0, kRecLinesToPaperCut,
       (24 + 50 + 143) / 50},
      {"MapMode 5 refused", kMapMode, 5, 106, kMapMode, 1},
      {"MapMode 0 refused", kMapMode, 0, 106, kMapMode, 1},
      {"MapMode twips scales the width", kMapMode, 2, 0, kRecLineWidth, 512 * 8},
      {"PowerNotify while enabled", 13, 1, 106, 13, 0},
      {"BinaryConversion 2", 11, 2, 0, 11, 2},
      {"BinaryConversion 3 refused", 11, 3, 106, 11, 0},
      {"FreezeEvents 1", 4, 1, 0, 4, 1},
      {"PageModeStation slip", 8049, 4, 0, 8049, 4},
      {"PageModeStation 3 refused", 8049, 3, 106, 8049, 2},
      {"PageModeHorizontalPosition negative", 8047, -1, 106, 8047, 0},
      {"CartridgeNotify while enabled", 8037, 0, 106, 8037, 0},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    so::CPOSPrinter* p = Enabled();
    p->SetPropertyNumber(c.pidx, c.value);
    EXPECT_EQ(p->GetPropertyNumber(6), c.want_rc);
    EXPECT_EQ(p->GetPropertyNumber(c.read_pidx), c.want_read);
    p->Close();
  }
}

// The height of the compressed font shows once RecLineHeight is recomputed.
TEST_F(SoTest, RecLineHeightFollowsTheFontInUse) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(kRecLineChars, 56);
  p->SetPropertyNumber(kRecLineHeight, 999);  // the value itself is not used
  EXPECT_EQ(p->GetPropertyNumber(6), 0);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineHeight), 17);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineSpacing), 30);
}

TEST_F(SoTest, RefusedMapModeLeavesTheMetricsAlone) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(kMapMode, 3);  // English: thousandths of an inch
  int32_t height = p->GetPropertyNumber(kRecLineHeight);
  int32_t spacing = p->GetPropertyNumber(kRecLineSpacing);
  int32_t width = p->GetPropertyNumber(kRecLineWidth);
  EXPECT_NE(width, 512);
  p->SetPropertyNumber(kMapMode, 5);
  EXPECT_EQ(p->GetPropertyNumber(6), 106);
  EXPECT_EQ(p->GetPropertyNumber(kMapMode), 3);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineHeight), height);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineSpacing), spacing);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineWidth), width);
  p->SetPropertyNumber(kMapMode, 1);
  EXPECT_EQ(p->GetPropertyNumber(kRecLineWidth), 512);
}

TEST_F(SoTest, LineSettersNeedTheDeviceEnabled) {
  so::CPOSPrinter* p = Opened();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  for (int32_t pidx : {kRecLineChars, kRecLineHeight, kRecLineSpacing}) {
    SCOPED_TRACE(pidx);
    p->SetPropertyNumber(pidx, 56);
    EXPECT_EQ(p->GetPropertyNumber(6), 105);
  }
  EXPECT_EQ(p->GetPropertyNumber(kRecLineChars), 42);
}

TEST_F(SoTest, PowerNotifyWhileDisabledHoldsEvents) {
  so::CPOSPrinter* p = Opened();
  p->SetPropertyNumber(13, 1);
  EXPECT_EQ(p->GetPropertyNumber(6), 0);
  EXPECT_EQ(p->GetPropertyNumber(13), 1);
  EXPECT_EQ(p->GetPropertyNumber(4), 1);
  p->SetPropertyNumber(13, 2);
  EXPECT_EQ(p->GetPropertyNumber(6), 106);
  EXPECT_EQ(p->GetPropertyNumber(13), 1);
}

TEST_F(SoTest, PageModePrintAreaNeedsFourParts) {
  so::CPOSPrinter* p = Enabled();
  EXPECT_EQ(p->GetPropertyString(1008012), "0,0,512,1662");
  p->SetPropertyString(1008012, "0,0,512");
  EXPECT_EQ(p->GetPropertyNumber(6), 106);
  EXPECT_EQ(p->GetPropertyString(1008012), "0,0,512,1662");
  p->SetPropertyString(1008012, "8,16,256,400");
  EXPECT_EQ(p->GetPropertyNumber(6), 0);
  EXPECT_EQ(p->GetPropertyString(1008012), "8,16,256,400");
  p->SetPropertyString(1008011, "0,0,1,1");  // PageModeArea is read-only
  EXPECT_EQ(p->GetPropertyNumber(6), 106);
  EXPECT_EQ(p->GetPropertyString(1008011), ",512,1662");
}

TEST_F(SoTest, StringPropertiesOfOtherStationsAreEmpty) {
  so::CPOSPrinter* p = Opened();
  for (int32_t pidx : {1008002, 1008004, 1008008, 1008010, 1234567}) {
    SCOPED_TRACE(pidx);
    EXPECT_EQ(p->GetPropertyString(pidx), "");
  }
  EXPECT_EQ(p->GetPropertyString(1008003), "42,56");
  EXPECT_EQ(p->GetPropertyString(1008007), "0,180");
}

TEST_F(SoTest, UnknownNumberIndexChangesNothing) {
  so::CPOSPrinter* p = Opened();
  p->SetPropertyNumber(11, 9);  // leaves ResultCode at 106
  p->SetPropertyNumber(99999, 1);
  EXPECT_EQ(p->GetPropertyNumber(6), 106);
  EXPECT_EQ(p->GetPropertyNumber(99999), 0);
  EXPECT_EQ(p->GetPropertyNumber(8527), 1);  // CapRecPresent
  EXPECT_EQ(p->GetPropertyNumber(8548), 998);
  EXPECT_EQ(p->GetPropertyNumber(8549), 1);
}

}  // namespace
}  // namespace qz381::testing
