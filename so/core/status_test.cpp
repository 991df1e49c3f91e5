// Status monitoring: status blocks and power states from the port module, as the
// application sees them (properties, status events, the result of printing).
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "so/core/port_channel.h"
#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

using Log = std::vector<std::string>;
using Block = std::array<uint8_t, 4>;

class StatusTest : public SoTest {
 protected:
  // Claimed and enabled; `before_enable` runs while the device is claimed but
  // still disabled.
  so::CPOSPrinter* Monitored(const std::function<void(so::CPOSPrinter*)>& before_enable = {}) {
    so::CPOSPrinter* p = Opened();
    EXPECT_EQ(p->ClaimDevice(1000), 0);
    // The first poll comes before enabling, so its power state is never news.
    const int32_t polls = fake_.Count("IsPowerState");
    EXPECT_TRUE(PumpUntil([&] { return fake_.Count("IsPowerState") > polls + 1; }));
    if (before_enable) before_enable(p);
    p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
    fake_.Take(p->port_handle());
    return p;
  }
  void Push(const Block& b) { fake_.PushStatusBlock(b[0], b[1], b[2], b[3]); }
  // Pumps until the control object has heard `n` events in all.
  void ExpectLog(const Log& want) {
    EXPECT_TRUE(PumpUntil([&] { return co_.Count() >= want.size(); }));
    PumpFor(20);  // nothing more may follow
    EXPECT_EQ(co_.Log(), want);
  }
};

// Each step is one status block; paper is reported before the cover.
TEST_F(StatusTest, StatusBlocksSetPaperAndCoverAndReportEachChangeOnce) {
  struct Step {
    const char* name;
    Block block;
    Log events;  // new events
    int32_t cover_open, rec_empty, rec_near_end;
  } steps[] = {
      {"all well", {0x00, 0, 0, 0}, {"StatusUpdate 26", "StatusUpdate 12"}, 0, 0, 0},
      {"cover opened", {0x20, 0, 0, 0}, {"StatusUpdate 11"}, 1, 0, 0},
      {"paper near its end", {0x20, 0, 0x01, 0}, {"StatusUpdate 25"}, 1, 0, 1},
      {"paper out, cover closed",
       {0x00, 0, 0x08, 0},
       {"StatusUpdate 24", "StatusUpdate 12"},
       0,
       1,
       0},
      {"paper loaded", {0x00, 0, 0x00, 0}, {"StatusUpdate 26"}, 0, 0, 0},
  };
  so::CPOSPrinter* p = Monitored();
  Log log;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    Push(s.block);
    log.insert(log.end(), s.events.begin(), s.events.end());
    ExpectLog(log);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_CoverOpen), s.cover_open);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_RecEmpty), s.rec_empty);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_RecNearEnd), s.rec_near_end);
  }
}

// The failure bits stop printing with their own extended code, the worst first;
// a block without them lets printing go on.
TEST_F(StatusTest, FailureBitsRefuseOutputWithTheirCode) {
  const struct {
    uint8_t bits;
    int32_t extended;
  } cases[] = {{0x20, 401}, {0x08, 402}, {0x04, 403}, {0x2C, 401}, {0x0C, 402}};
  so::CPOSPrinter* p = Monitored();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extended);
    Push({0x00, c.bits, 0, 0});
    EXPECT_TRUE(PumpUntil([&] { return p->PrintNormal(PTR_S_RECEIPT, "x") == 111; }));
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCodeExtended), c.extended);
    Push({0x00, 0, 0, 0});
    EXPECT_TRUE(PumpUntil([&] { return p->PrintNormal(PTR_S_RECEIPT, "x") == 0; }));
  }
}

class CartridgeTest : public StatusTest {
 protected:
  void SetUp() override {
    StatusTest::SetUp();
    WriteProfile(profile_, [](platform::IniFile& ini) {
      ini.Set("POSPRINTER", "CapRecCartridgeSensor", "15");
      ini.Set("POSPRINTER", "CapRecColor", "3");  // primary and custom colour 1
    });
  }
};

TEST_F(CartridgeTest, CartridgeBlocksSetTheCurrentCartridgeStateAndReportChanges) {
  struct Step {
    const char* name;
    Block block;
    Log events;
    int32_t state;  // RecCartridgeState
  } steps[] = {
      {"both well", {0x35, 0x00, 0x00, 0}, {"StatusUpdate 48"}, 0},
      {"first near its end", {0x35, 0x01, 0x00, 0}, {"StatusUpdate 47"}, 4},
      {"head cleaning", {0x35, 0x20, 0x00, 0}, {"StatusUpdate 46"}, 8},
      {"first empty", {0x35, 0x02, 0x00, 0}, {"StatusUpdate 45"}, 2},
      {"first removed: still 45, not reported again", {0x35, 0x04, 0x00, 0}, {}, 1},
      {"second removed only", {0x35, 0x08, 0x00, 0}, {}, 0},
      {"second near its end", {0x35, 0x00, 0x01, 0}, {"StatusUpdate 47"}, 0},
  };
  so::CPOSPrinter* p = Monitored([](so::CPOSPrinter* p) {
    p->SetPropertyNumber(PIDX_CartridgeNotify, 1);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  });
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCartridgeState), PTR_CART_UNKNOWN);
  Log log;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    Push(s.block);
    EXPECT_TRUE(PumpUntil([&] {
      return fake_.StatusBlocksLeft() == 0 &&
             p->GetPropertyNumber(PIDX_RecCartridgeState) == s.state;
    }));
    log.insert(log.end(), s.events.begin(), s.events.end());
    ExpectLog(log);
  }

  // The second cartridge becomes the current one: its state is unknown until
  // the next block, which then tells the second cartridge's state.
  p->SetPropertyNumber(PIDX_RecCurrentCartridge, 2);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCurrentCartridge), 2);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCartridgeState), PTR_CART_UNKNOWN);
  Push({0x35, 0x00, 0x02, 0});
  log.push_back("StatusUpdate 45");
  ExpectLog(log);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCartridgeState), 2);
}

TEST_F(CartridgeTest, WithoutCartridgeNotifyCartridgeBlocksStaySilent) {
  so::CPOSPrinter* p = Monitored();
  Push({0x35, 0x02, 0x00, 0});
  Push({0x00, 0x00, 0x00, 0});  // a paper block behind it shows it was taken
  ExpectLog({"StatusUpdate 26", "StatusUpdate 12"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCartridgeState), PTR_CART_UNKNOWN);
}

TEST_F(CartridgeTest, CartridgeSettersFollowTheirRules) {
  so::CPOSPrinter* p = Opened();
  // RecCurrentCartridge needs the device claimed and enabled.
  p->SetPropertyNumber(PIDX_RecCurrentCartridge, 2);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  // CartridgeNotify is set while disabled only.
  p->SetPropertyNumber(PIDX_CartridgeNotify, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CartridgeNotify), 1);
  p->SetPropertyNumber(PIDX_CartridgeNotify, 2);  // neither 0 nor 1: nothing changes
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CartridgeNotify), 1);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  p->SetPropertyNumber(PIDX_CartridgeNotify, 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CartridgeNotify), 1);
  // A cartridge that shares no bit with CapRecColor (3) is refused.
  p->SetPropertyNumber(PIDX_RecCurrentCartridge, 4);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecCurrentCartridge), 1);
}

TEST_F(StatusTest, CartridgeNotifyNeedsACartridgeSensor) {
  so::CPOSPrinter* p = Opened();  // the shipped profile has none
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_CartridgeNotify, 0);
  ASSERT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  p->SetPropertyNumber(PIDX_CartridgeNotify, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);  // unchanged, as the value is
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CartridgeNotify), 0);
}

// The on-line bit of a status block is the power state of a serial printer.
TEST_F(StatusTest, PowerNotifyReportsTheStatusBlocksOnLineBit) {
  so::CPOSPrinter* p = Monitored([](so::CPOSPrinter* p) {
    p->SetPropertyNumber(PIDX_PowerNotify, 1);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  });
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2000);
  Push({0x00, 0, 0, 0});
  ExpectLog({"StatusUpdate 26", "StatusUpdate 12", "StatusUpdate 2001"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2001);
  // Back on line, the printer is asked for every status again.
  EXPECT_EQ(fake_.Take(p->port_handle()), "00 1D 61 FF");

  Push({0x08, 0, 0, 0});
  ExpectLog({"StatusUpdate 26", "StatusUpdate 12", "StatusUpdate 2001", "StatusUpdate 2003"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2003);
  // PowerNotify is set while disabled only.
  p->SetPropertyNumber(PIDX_PowerNotify, 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
}

TEST_F(StatusTest, WithoutPowerNotifyThePowerStateIsNotReported) {
  so::CPOSPrinter* p = Monitored();
  Push({0x08, 0, 0, 0});
  ExpectLog({"StatusUpdate 26", "StatusUpdate 12"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2000);
}

// A printer on a port that is neither serial nor parallel sends no on-line bit:
// the port module's power state is the report.
TEST_F(StatusTest, NetworkPrinterReportsThePortModulesPowerState) {
  SetDeviceValue("Port", platform::RegValue::Text("com1"));
  SetDeviceValue("TcpIp", platform::RegValue::Text("192.168.7.31"));
  so::CPOSPrinter* p =
      Monitored([](so::CPOSPrinter* p) { p->SetPropertyNumber(PIDX_PowerNotify, 1); });
  const int32_t port = p->port_handle();
  fake_.SetPowerState(2001);
  ExpectLog({"StatusUpdate 2001"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2001);
  // The channel asks for automatic status, the device for every status.
  EXPECT_EQ(fake_.Take(port), "00 1D 61 0F 00 1D 61 FF");
  fake_.SetPowerState(2004);
  ExpectLog({"StatusUpdate 2001", "StatusUpdate 2003"});
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2003);
}

// A serial printer coming on line is answered with the automatic status
// request; its on-line report waits for the status block.
TEST_F(StatusTest, SerialPrinterComingOnLineIsAskedForStatusOnly) {
  so::CPOSPrinter* p =
      Monitored([](so::CPOSPrinter* p) { p->SetPropertyNumber(PIDX_PowerNotify, 1); });
  fake_.SetPowerState(2001);
  EXPECT_TRUE(PumpUntil([&] { return fake_.Take(p->port_handle()) == "00 1D 61 0F"; }));
  PumpFor(30);
  EXPECT_EQ(co_.Count(), 0u);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), 2000);
}

}  // namespace
}  // namespace qz381::testing
