// StatusMonitor on its own: status blocks and power states in, properties, the
// output check and status events out, each change reported once.
#include "so/core/status_monitor.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "common/opos.h"

namespace qz381::so {
namespace {

using namespace qz381::opos;
using Block = std::array<uint8_t, 4>;
using Codes = std::vector<int32_t>;

class RecordingListener final : public StatusMonitor::Listener {
 public:
  void PostStatus(int32_t code) override { posted.push_back(code); }
  void PrinterCameOnline() override { ++online; }
  Codes posted;
  int online = 0;
};

class StatusMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_.Reset({.cover = true, .paper = true});
    monitor_.Enable();
  }
  void Feed(const Block& b) { monitor_.OnAsbBlock(b.data()); }
  void FeedCartridge(const Block& b) { monitor_.OnCartridgeBlock(b.data()); }
  Codes Take() { return std::exchange(listener_.posted, {}); }

  RecordingListener listener_;
  StatusMonitor monitor_{listener_};
};

TEST_F(StatusMonitorTest, BlocksOutsideTheEnabledStateAreIgnored) {
  monitor_.Disable();
  Feed({0x20, 0x20, 0x0C, 0});
  monitor_.OnPowerState(OPOS_PS_ONLINE);
  EXPECT_EQ(Take(), Codes{});
  EXPECT_EQ(listener_.online, 0);
  EXPECT_EQ(monitor_.CoverOpen(), 0);
  EXPECT_EQ(monitor_.OutputCheck().result, OPOS_SUCCESS);
}

// The worst condition decides what printing answers.
TEST_F(StatusMonitorTest, OutputCheckTakesTheFirstConditionThatStopsPrinting) {
  const struct {
    const char* name;
    Block block;
    int32_t result, extended;
  } cases[] = {
      {"all well", {0x00, 0x00, 0x00, 0}, OPOS_SUCCESS, 0},
      {"near end prints", {0x00, 0x00, 0x03, 0}, OPOS_SUCCESS, 0},
      {"paper out", {0x00, 0x00, 0x0C, 0}, OPOS_E_EXTENDED, OPOS_EPTR_REC_EMPTY},
      {"cover before paper", {0x20, 0x00, 0x0C, 0}, OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN},
      {"unrecoverable first", {0x20, 0x2C, 0x0C, 0}, OPOS_E_FAILURE, kFailureUnrecoverable},
      {"knife before mechanical", {0x00, 0x0C, 0x00, 0}, OPOS_E_FAILURE, kFailureKnifeCut},
      {"mechanical", {0x00, 0x04, 0x00, 0}, OPOS_E_FAILURE, kFailureMechanical},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Feed(c.block);
    const output::ResultPair r = monitor_.OutputCheck();
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.extended, c.extended);
  }
}

// A queued status event is delivered only while it still describes the last
// condition reported of its kind.
TEST_F(StatusMonitorTest, StillCurrentFollowsTheLastReport) {
  EXPECT_FALSE(monitor_.StillCurrent(PTR_SUE_COVER_OPEN));  // nothing reported yet
  Feed({0x20, 0x00, 0x00, 0});
  EXPECT_EQ(Take(), (Codes{PTR_SUE_REC_PAPEROK, PTR_SUE_COVER_OPEN}));
  EXPECT_TRUE(monitor_.StillCurrent(PTR_SUE_COVER_OPEN));
  Feed({0x00, 0x00, 0x00, 0});
  EXPECT_EQ(Take(), Codes{PTR_SUE_COVER_OK});
  EXPECT_FALSE(monitor_.StillCurrent(PTR_SUE_COVER_OPEN));
  EXPECT_TRUE(monitor_.StillCurrent(PTR_SUE_COVER_OK));
  EXPECT_TRUE(monitor_.StillCurrent(PTR_SUE_REC_PAPEROK));
  EXPECT_FALSE(monitor_.StillCurrent(PTR_SUE_REC_EMPTY));
  EXPECT_TRUE(monitor_.StillCurrent(77));  // not a status this monitor reports
  monitor_.ForgetReported();
  EXPECT_FALSE(monitor_.StillCurrent(PTR_SUE_COVER_OK));
}

TEST_F(StatusMonitorTest, ConditionsWithoutASensorAreNotReported) {
  monitor_.Reset({.cover = false, .paper = true});
  monitor_.Enable();
  Feed({0x20, 0x00, 0x0C, 0});
  EXPECT_EQ(Take(), Codes{PTR_SUE_REC_EMPTY});
  EXPECT_EQ(monitor_.CoverOpen(), 1);  // the property still follows the block
}

// Power changes reach the application only with PowerNotify on; a printer back
// on line is told again what it forgot either way.
TEST_F(StatusMonitorTest, PowerChangesAreReportedOnceWithPowerNotify) {
  monitor_.OnPowerState(OPOS_PS_ONLINE);
  EXPECT_EQ(listener_.online, 1);
  EXPECT_EQ(Take(), Codes{});
  EXPECT_EQ(monitor_.PowerState(), OPOS_PS_UNKNOWN);

  monitor_.Disable();
  monitor_.SetPowerNotify(1);
  monitor_.Enable();
  monitor_.OnPowerState(OPOS_PS_ONLINE);
  monitor_.OnPowerState(OPOS_PS_ONLINE);
  monitor_.OnPowerState(OPOS_PS_OFF_OFFLINE);
  EXPECT_EQ(Take(), (Codes{OPOS_PS_ONLINE, OPOS_PS_OFF_OFFLINE}));
  EXPECT_EQ(listener_.online, 2);
  EXPECT_EQ(monitor_.PowerState(), OPOS_PS_OFF_OFFLINE);
  EXPECT_EQ(monitor_.OutputCheck().result, OPOS_E_NOHARDWARE);
  EXPECT_TRUE(monitor_.StillCurrent(OPOS_PS_OFF_OFFLINE));
  EXPECT_FALSE(monitor_.StillCurrent(OPOS_PS_ONLINE));
  monitor_.Disable();
  EXPECT_EQ(monitor_.PowerState(), OPOS_PS_UNKNOWN);
}

TEST_F(StatusMonitorTest, CartridgeStateFollowsTheCurrentCartridgeWithNotifyOn) {
  FeedCartridge({0x35, 0x02, 0x00, 0});
  EXPECT_EQ(Take(), Codes{});  // CartridgeNotify off
  EXPECT_EQ(monitor_.RecCartridgeState(), PTR_CART_UNKNOWN);

  monitor_.SetCartridgeNotify(1);
  const struct {
    const char* name;
    Block block;
    int32_t current;  // RecCurrentCartridge
    Codes posted;
    int32_t state;
  } steps[] = {
      {"first empty", {0x35, 0x02, 0x00, 0}, 1, {PTR_SUE_REC_CARTRIDGE_EMPTY}, PTR_CART_EMPTY},
      {"second chosen", {0x35, 0x02, 0x01, 0}, 2, {}, PTR_CART_NEAREND},
      {"head cleaning", {0x35, 0x20, 0x00, 0}, 2, {PTR_SUE_REC_HEAD_CLEANING}, PTR_CART_CLEANING},
      {"second removed", {0x35, 0x08, 0x00, 0}, 2, {PTR_SUE_REC_CARTRIDGE_EMPTY}, PTR_CART_REMOVED},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.current != monitor_.RecCurrentCartridge()) {
      monitor_.SetRecCurrentCartridge(s.current);
      EXPECT_EQ(monitor_.RecCartridgeState(), PTR_CART_UNKNOWN);
    }
    FeedCartridge(s.block);
    EXPECT_EQ(Take(), s.posted);
    EXPECT_EQ(monitor_.RecCartridgeState(), s.state);
  }
}

}  // namespace
}  // namespace qz381::so
