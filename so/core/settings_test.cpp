// Printer settings (code table, line spacing, page-mode direction): the setters'
// rules, and the settings sent again whenever what carried them never reached
// the printer or the printer was reset.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

const std::string kCodeTable1252 = Hex("\x1B\x74\x10");
const std::string kLineSpacing = Hex("\x1B\x33");

bool Has(const std::string& hex, const std::string& part) {
  return hex.find(part) != std::string::npos;
}

TEST_F(SoTest, CharacterSetSelectsTheCodeTableOfTheNextPrint) {
  so::CPOSPrinter* p = Opened();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_CharacterSet, 1252);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_DISABLED);  // not enabled
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  const int32_t port = p->port_handle();
  fake_.Take(port);
  p->SetPropertyNumber(PIDX_CharacterSet, 1250);  // not in the list
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CharacterSet), 437);
  p->SetPropertyNumber(PIDX_CharacterSet, 1252);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CharacterSet), 1252);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
  const std::string sent = fake_.Take(port);
  EXPECT_TRUE(Has(sent, kCodeTable1252)) << sent;
  EXPECT_TRUE(Has(sent, Hex("caf\xE9\n"))) << sent;  // the printer does the mapping
  // Sent once: the printer keeps it.
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "x\n"), 0);
  EXPECT_FALSE(Has(fake_.Take(port), Hex("\x1B\x74")));
}

TEST_F(SoTest, PageModePrintDirectionTurnsThePage) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  for (int32_t bad : {0, 5}) {
    p->SetPropertyNumber(PIDX_PageModePrintDirection, bad);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_PageModePrintDirection), 1);
  }
  for (int32_t direction : {1, 2, 3, 4}) {
    SCOPED_TRACE(direction);
    ASSERT_EQ(p->pageModePrint(1), 0);
    p->SetPropertyNumber(PIDX_PageModePrintDirection, direction);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_PageModePrintDirection), direction);
    ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "x"), 0);
    ASSERT_EQ(p->pageModePrint(3), 0);
    const std::string header =
        "\x1B\x4C\x1B\x54" + std::string(1, static_cast<char>(direction - 1));
    EXPECT_TRUE(Has(fake_.Take(port), Hex(header)));
  }
}

// Whatever consumed the pending settings and then never reached the printer, or
// reset it, the next print sends them again.
TEST_F(SoTest, SettingsSurviveDiscardedOutputAndPrinterResets) {
  struct Case {
    const char* name;
    std::function<void(so::CPOSPrinter*)> lose;  // runs with CharacterSet 1252 chosen
  };
  const Case cases[] = {
      {"a transaction cleared",
       [](so::CPOSPrinter* p) {
         ASSERT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 11), 0);
         ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
         ASSERT_EQ(p->ClearOutput(), 0);
       }},
      {"a page cancelled",
       [](so::CPOSPrinter* p) {
         ASSERT_EQ(p->pageModePrint(1), 0);
         ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
         ASSERT_EQ(p->pageModePrint(4), 0);
       }},
      {"CheckHealth(1) after a print",
       [](so::CPOSPrinter* p) {
         ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
         ASSERT_EQ(p->CheckHealth(1), 0);
       }},
      {"CheckHealth(3) after a print",
       [](so::CPOSPrinter* p) {
         ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
         ASSERT_EQ(p->CheckHealth(3), 0);
       }},
      {"claimed again after a print",
       [](so::CPOSPrinter* p) {
         ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
         ASSERT_EQ(p->ReleaseDevice(), 0);
         ASSERT_EQ(p->ClaimDevice(1000), 0);
         p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
         ASSERT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.Reset();
    so::CPOSPrinter* p = Enabled();
    const int32_t port = p->port_handle();
    p->SetPropertyNumber(PIDX_CharacterSet, 1252);
    ASSERT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
    c.lose(p);
    fake_.Take(port);
    ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "caf\xE9\n"), 0);
    const std::string sent = fake_.Take(port);
    EXPECT_TRUE(Has(sent, kCodeTable1252)) << sent;
    EXPECT_TRUE(Has(sent, kLineSpacing)) << sent;
    Discard(p);
  }
}

}  // namespace
}  // namespace qz381::testing
