// CheckHealth's levels and the DirectIO commands, as bytes at the port.
#include <gtest/gtest.h>

#include <string>

#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

std::string Text(so::CPOSPrinter* p) {
  return p->GetPropertyString(PIDX_CheckHealthText);
}

TEST_F(SoTest, CheckHealthProbesPrintsATestPageAndRefusesOtherLevels) {
  so::CPOSPrinter* p = Opened();
  EXPECT_EQ(Text(p), "Not Executed");
  EXPECT_EQ(p->CheckHealth(1), 103);  // not claimed
  Discard(p);

  p = Enabled();
  const int32_t port = p->port_handle();
  EXPECT_EQ(p->CheckHealth(4), 106);
  EXPECT_EQ(p->CheckHealth(0), 106);

  // Level 1: select and initialise the printer.
  ASSERT_EQ(p->CheckHealth(1), 0);
  EXPECT_EQ(fake_.Take(port), Hex(std::string("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9)));
  EXPECT_EQ(Text(p), "CheckHealth: Successful");

  // Level 2: the test page, printed before the call returns even when
  // asynchronous output is asked for.
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  ASSERT_EQ(p->CheckHealth(2), 0);
  const std::string sent = fake_.Take(port);
  const std::string rule(42, '-');
  const size_t first = sent.find(Hex("\n" + rule + "\n"));
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(sent.find(Hex(rule + "\n"), first + 1), std::string::npos) << "two rules";
  EXPECT_NE(sent.find(Hex("Version 1.9.3\n")), std::string::npos);
  EXPECT_NE(sent.find(Hex(std::string(6, '\n') + "\x1D\x56\x01")), std::string::npos) << "cut";
  EXPECT_EQ(Text(p), "CheckHealth: Successful");

  // Level 3 has no display here: the internal check decides.
  ASSERT_EQ(p->CheckHealth(3), 0);
  EXPECT_EQ(fake_.Take(port), Hex(std::string("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9)));
}

TEST_F(SoTest, CheckHealthReportsAShortWriteAsFailedText) {
  so::CPOSPrinter* p = Enabled();
  fake_.ShortWrites(0, 10);  // every write comes back short
  EXPECT_EQ(p->CheckHealth(1), 0);
  EXPECT_EQ(Text(p), "CheckHealth: Failed");
  fake_.ShortWrites(0, 0);
}

TEST_F(SoTest, DirectIOCommands) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  struct Case {
    int32_t command, data;
    std::string text;
    int32_t want;
    std::string sent;
  };
  const Case cases[] = {
      {0, 0, "raw\x1B@", 0, "raw\x1B@"},
      {2, 0, "", 106, ""},
      {2, 0, "\x05", 0, std::string("\x1C\x70\x05\x00", 4)},
      {3, 0, "1", 106, ""},
      {3, 0, "12", 0, std::string("\x08\x5E\x4C\x04\x00\x45\x0C\x01\x01", 9)},
      {3, 0, "300x", 0, std::string("\x08\x5E\x4C\x04\x00\x45\x2C\x01\x01", 9)},
      {4, 0, "A", 0, "\x1B\x67\x41"},
      {4, 0, "", 106, ""},
      {9, 0, "x", 106, ""},
      {1, 3, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    int32_t data = c.data;
    std::string text = c.text;
    EXPECT_EQ(p->DirectIO(c.command, &data, &text), c.want);
    EXPECT_EQ(fake_.Take(port), Hex(c.sent));
    EXPECT_EQ(data, c.data);  // read, never written back
    EXPECT_EQ(text, c.text);
  }
  // Command 1 chose the international set: the next prologue selects it.
  ASSERT_EQ(p->PrintImmediate(2, "x"), 0);
  EXPECT_NE(fake_.Take(port).find(Hex("\x1B\x52\x03")), std::string::npos);
}

}  // namespace
}  // namespace qz381::testing
