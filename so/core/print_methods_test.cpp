// The printing methods' state and argument checks, and what they hand to the port.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

TEST_F(SoTest, PrintingMethodsCheckTheirArguments) {
  struct Case {
    const char* name;
    std::function<int32_t(so::CPOSPrinter*)> call;
    int32_t want;
  };
  const Case cases[] = {
      {"PrintNormal on station 3", [](auto* p) { return p->PrintNormal(3, "x"); }, 106},
      {"PrintImmediate on station 1", [](auto* p) { return p->PrintImmediate(1, "x"); }, 106},
      {"PrintTwoNormal always", [](auto* p) { return p->PrintTwoNormal(PTR_S_RECEIPT, "a", "b"); },
       106},
      {"CutPaper(101)", [](auto* p) { return p->CutPaper(101); }, 106},
      {"CutPaper(-1)", [](auto* p) { return p->CutPaper(-1); }, 106},
      {"RotatePrint(2, 2)", [](auto* p) { return p->RotatePrint(PTR_S_RECEIPT, 2); }, 106},
      {"RotatePrint(2, 258)", [](auto* p) { return p->RotatePrint(PTR_S_RECEIPT, 258); }, 0},
      {"TransactionPrint end outside one",
       [](auto* p) { return p->TransactionPrint(PTR_S_RECEIPT, 12); }, 106},
      {"SetLogo at location 3", [](auto* p) { return p->SetLogo(3, "x"); }, 106},
      {"ValidateData plain text", [](auto* p) { return p->ValidateData(PTR_S_RECEIPT, "abc"); }, 0},
      {"ValidateData unknown command letter",
       [](auto* p) { return p->ValidateData(PTR_S_RECEIPT, "\x1B|9Z"); }, 111},
      {"ValidateData ESC|iC", [](auto* p) { return p->ValidateData(PTR_S_RECEIPT, "\x1B|iC"); },
       106},
      {"pageModePrint(5)", [](auto* p) { return p->pageModePrint(5); }, 106},
  };
  so::CPOSPrinter* p = Opened();
  // Before claiming every one of them but PrintTwoNormal is refused with 103.
  EXPECT_EQ(p->PrintNormal(PTR_S_RECEIPT, "x"), 103);
  EXPECT_EQ(p->CutPaper(50), 103);
  EXPECT_EQ(p->PrintTwoNormal(PTR_S_RECEIPT, "a", "b"), 106);
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  fake_.Take(p->port_handle());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(p), c.want);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), c.want);
  }
  EXPECT_EQ(fake_.Take(p->port_handle()), "");  // none of them printed
}

TEST_F(SoTest, PrintBarCodeSendsTheSymbolAndRefusesWhatDoesNotFit) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  p->SetPropertyNumber(PIDX_MapMode, 1);  // dots
  fake_.Take(port);
  // UPC-A, 100 dots tall, the narrowest module, centred, text below.
  ASSERT_EQ(p->PrintBarCode(PTR_S_RECEIPT, "01234567890", 101, 100, 0, -2, -13), 0);
  const std::string symbol(
      "\0\0\x1B\x61\x01\x1D\x48\x02\x1D\x66\x00\x1D\x68\x64\x1D\x77\x02"
      "\x1D\x6B\x41\x0B"
      "01234567890",
      32);
  EXPECT_NE(fake_.Take(port).find(Hex(symbol)), std::string::npos);

  // Wider than the line: 106 with the extended code; data the symbology
  // refuses: 106; turned barcodes are not printed.
  EXPECT_EQ(p->PrintBarCode(PTR_S_RECEIPT, "01234567890", 101, 100, 513, -2, -13), 106);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCodeExtended), 206);
  EXPECT_EQ(p->PrintBarCode(PTR_S_RECEIPT, "0123456789A", 101, 100, 0, -2, -13), 106);
  EXPECT_EQ(p->PrintBarCode(3, "01234567890", 101, 100, 0, -2, -13), 106);
  p->SetPropertyNumber(PIDX_RotateSpecial, 2);
  EXPECT_EQ(p->PrintBarCode(PTR_S_RECEIPT, "01234567890", 101, 100, 0, -2, -13), 106);
  EXPECT_EQ(fake_.Take(port), "");
}

TEST_F(SoTest, RotationAndLogoReachTheNextOutput) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  ASSERT_EQ(p->PrintImmediate(PTR_S_RECEIPT, ""), 0);
  const std::string framing = fake_.Take(port);  // the prologue alone
  // Every setting is pending at first, the rotation (normal) among them.
  EXPECT_NE(framing.find(Hex(std::string("\x1B\x7B\x00", 3))), std::string::npos);

  ASSERT_EQ(p->RotatePrint(PTR_S_RECEIPT, 259), 0);
  ASSERT_EQ(p->SetLogo(1, "LOGO"), 0);
  ASSERT_EQ(p->PrintImmediate(PTR_S_RECEIPT, "\x1B|tL"), 0);
  const std::string sent = fake_.Take(port);
  EXPECT_NE(sent.find(Hex(std::string("\x1B\x7B\x01", 3))), std::string::npos) << "upside down";
  EXPECT_NE(sent.find(Hex("LOGO")), std::string::npos);
}

TEST_F(SoTest, TransactionCollectsUntilItEndsAndClearOutputDropsIt) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  ASSERT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 11), 0);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "first\n"), 0);
  ASSERT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 11), 0);  // still the same transaction
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "second\n"), 0);
  EXPECT_EQ(fake_.Take(port), "");
  ASSERT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 12), 0);
  const std::string sent = fake_.Take(port);
  EXPECT_NE(sent.find(Hex("first")), std::string::npos);
  EXPECT_LT(sent.find(Hex("first")), sent.find(Hex("second")));

  ASSERT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 11), 0);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "dropped\n"), 0);
  ASSERT_EQ(p->ClearOutput(), 0);
  EXPECT_EQ(p->TransactionPrint(PTR_S_RECEIPT, 12), 106);  // ClearOutput ended it
  EXPECT_EQ(fake_.Take(port).find(Hex("dropped")), std::string::npos);
}

TEST_F(SoTest, PageModeKeepsThePageForAnotherPrint) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  ASSERT_EQ(p->pageModePrint(1), 0);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "page\n"), 0);
  EXPECT_EQ(fake_.Take(port), "");
  ASSERT_EQ(p->pageModePrint(2), 0);  // print and keep
  std::string sent = fake_.Take(port);
  EXPECT_NE(sent.find(Hex("\x1B\x4C")), std::string::npos) << "page-mode header";
  EXPECT_NE(sent.find(Hex(std::string("\x0C\x00\x00", 3))), std::string::npos) << "print the page";
  ASSERT_EQ(p->pageModePrint(3), 0);  // again, then empty
  EXPECT_NE(fake_.Take(port).find(Hex("page")), std::string::npos);
  ASSERT_EQ(p->pageModePrint(1), 0);
  ASSERT_EQ(p->pageModePrint(3), 0);
  EXPECT_EQ(fake_.Take(port).find(Hex("page")), std::string::npos);
}

}  // namespace
}  // namespace qz381::testing
