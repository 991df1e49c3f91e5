#include "tools/sim/printer_state.h"

#include <gtest/gtest.h>

#include "ports/common/status_recogniser.h"

namespace qz381::sim {
namespace {

// Every combination of the conditions the operator can set.
std::vector<DeviceStatus> AllConditions() {
  std::vector<DeviceStatus> all;
  for (int cover = 0; cover < 2; ++cover)
    for (int offline = 0; offline < 2; ++offline)
      for (Paper paper : {Paper::kOk, Paper::kNearEnd, Paper::kEnd})
        for (Fault fault :
             {Fault::kNone, Fault::kCutter, Fault::kMechanical, Fault::kUnrecoverable})
          for (Cartridge primary :
               {Cartridge::kOk, Cartridge::kNearEnd, Cartridge::kEmpty, Cartridge::kRemoved})
            for (Cartridge second :
                 {Cartridge::kOk, Cartridge::kNearEnd, Cartridge::kEmpty, Cartridge::kRemoved})
              for (int cleaning = 0; cleaning < 2; ++cleaning) {
                DeviceStatus s;
                s.cover_open = cover;
                s.offline_switch = offline;
                s.paper = paper;
                s.fault = fault;
                s.primary = primary;
                s.second = second;
                s.head_cleaning = cleaning;
                all.push_back(s);
              }
  return all;
}

bool Recognised(const StatusBlock& block) {
  for (size_t i = 0; i < 4; ++i) {
    if (!ports::StatusRecogniser::Accepts(i, block[i])) return false;
  }
  return true;
}

TEST(StatusBlockTest, EveryBlockIsOneTheHostRecognises) {
  for (const DeviceStatus& s : AllConditions()) {
    EXPECT_TRUE(Recognised(AsbBlock(s)));
    EXPECT_TRUE(Recognised(CartridgeBlock(s)));
    // An automatic block must never read as a cartridge block, and a reply
    // byte must never start a block (it would wait in the recogniser).
    EXPECT_NE(AsbBlock(s)[0], 0x35);
    for (uint8_t n = 1; n <= 4; ++n) {
      EXPECT_FALSE(ports::StatusRecogniser::Accepts(0, RealtimeReply(s, n)));
    }
  }
}

// The host's reading of an automatic block.
TEST(StatusBlockTest, AutomaticBlockCarriesEachCondition) {
  for (const DeviceStatus& s : AllConditions()) {
    const StatusBlock b = AsbBlock(s);
    EXPECT_EQ((b[0] & 0x20) != 0, s.cover_open);
    EXPECT_EQ((b[0] & 0x08) != 0, IsOffline(s));
    EXPECT_EQ((b[1] & 0x20) != 0, s.fault == Fault::kUnrecoverable);
    EXPECT_EQ((b[1] & 0x08) != 0, s.fault == Fault::kCutter);
    EXPECT_EQ((b[1] & 0x04) != 0, s.fault == Fault::kMechanical);
    EXPECT_EQ((b[2] & 0x0C) != 0, s.paper == Paper::kEnd);
    EXPECT_EQ((b[2] & 0x03) != 0, s.paper == Paper::kNearEnd);
  }
  EXPECT_EQ(AsbBlock(DeviceStatus{}), (StatusBlock{0x10, 0x00, 0x00, 0x0F}));
}

Cartridge ReadPrimary(const StatusBlock& b) {
  if (b[1] & 0x04) return Cartridge::kRemoved;
  if (b[1] & 0x02) return Cartridge::kEmpty;
  if (b[1] & 0x01) return Cartridge::kNearEnd;
  return Cartridge::kOk;
}

TEST(StatusBlockTest, CartridgeBlockKeepsTheGraverCondition) {
  DeviceStatus s;
  s.primary = Cartridge::kEmpty;
  EXPECT_EQ(CartridgeBlock(s), (StatusBlock{0x35, 0x42, 0x40, 0x00}));
  s.second = Cartridge::kNearEnd;
  EXPECT_EQ(CartridgeBlock(s), (StatusBlock{0x35, 0x42, 0x41, 0x00}));
  s.head_cleaning = true;
  EXPECT_EQ(CartridgeBlock(s)[1], 0x60);  // cleaning and empty have no byte together
  for (const DeviceStatus& c : AllConditions()) {
    const StatusBlock b = CartridgeBlock(c);
    // Removed is never lost; otherwise the primary state reads back unless
    // cleaning or a removed second cartridge had to take its place.
    EXPECT_EQ((b[1] & 0x04) != 0, c.primary == Cartridge::kRemoved);
    EXPECT_EQ((b[1] & 0x08) != 0, c.second == Cartridge::kRemoved);
    if (!c.head_cleaning && c.second != Cartridge::kRemoved) {
      EXPECT_EQ(ReadPrimary(b), c.primary);
    }
  }
}

TEST(RealtimeReplyTest, ErrorStatusReflectsEachCondition) {
  DeviceStatus s;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12);
  s.cover_open = true;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x40 | 0x01);
  s = {};
  s.paper = Paper::kEnd;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x80 | 0x01);
  s.paper = Paper::kNearEnd;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12);
  s = {};
  s.fault = Fault::kCutter;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x08 | 0x01);
  s.fault = Fault::kMechanical;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x04 | 0x01);
  s.fault = Fault::kUnrecoverable;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x20 | 0x01);
  s = {};
  s.offline_switch = true;
  EXPECT_EQ(RealtimeReply(s, 3), 0x12 | 0x01);
}

Command Make(Op op, std::vector<uint8_t> params, std::string data = {}) {
  Command c;
  c.op = op;
  c.params = std::move(params);
  c.data = std::move(data);
  return c;
}

TEST(PrinterStateTest, StylesFollowTheCommands) {
  PrinterState state;
  state.Apply(Make(Op::kPrintMode, {0xB9}));
  EXPECT_EQ(state.style.font, 1);
  EXPECT_TRUE(state.style.emphasis);
  EXPECT_TRUE(state.style.double_height);
  EXPECT_TRUE(state.style.double_width);
  EXPECT_EQ(state.style.underline, 1);
  state.Apply(Make(Op::kCharacterSize, {0x12}));
  EXPECT_EQ(state.style.width_factor, 2);
  EXPECT_EQ(state.style.height_factor, 3);
  state.Apply(Make(Op::kUnderline, {'2'}));
  EXPECT_EQ(state.style.underline, 2);
  state.Apply(Make(Op::kCharacterColour, {2, 0}, "\x30\x32"));
  EXPECT_EQ(state.style.colour, 1);
  state.Apply(Make(Op::kColour, {0}));
  EXPECT_EQ(state.style.colour, 0);
  state.Apply(Make(Op::kAlign, {1}));
  EXPECT_EQ(state.alignment, Alignment::kCentre);
  state.Apply(Make(Op::kUpsideDown, {1}));
  state.Apply(Make(Op::kReverse, {1}));
  state.Apply(Make(Op::kCodeTable, {16}));
  state.Apply(Make(Op::kAutomaticStatus, {15}));
  state.status.cover_open = true;

  state.Apply(Make(Op::kInitialize, {}));
  EXPECT_EQ(state.style, TextStyle{});
  EXPECT_EQ(state.alignment, Alignment::kLeft);
  EXPECT_EQ(state.code_table, 0);
  // Initialising the printer does not change what it reports or to whom.
  EXPECT_EQ(state.automatic_status_mask, 15);
  EXPECT_TRUE(state.status.cover_open);
}

TEST(PrinterStateTest, PageModeLivesFromEscLToFormFeed) {
  PrinterState state;
  state.Apply(Make(Op::kFormFeed, {}));
  EXPECT_EQ(state.pages_printed, 0u);  // FF in standard mode prints no page
  state.Apply(Make(Op::kPageMode, {}));
  state.Apply(Make(Op::kPageDirection, {3}));
  state.Apply(Make(Op::kPageArea, {0, 0, 0, 0, 0, 2, 0x40, 6}));
  EXPECT_TRUE(state.page.active);
  EXPECT_EQ(state.page.direction, 3);
  EXPECT_EQ(state.page.area_width, 512);
  EXPECT_EQ(state.page.area_height, 1600);
  state.Apply(Make(Op::kPrintPage, {}));
  EXPECT_TRUE(state.page.active);
  state.Apply(Make(Op::kFormFeed, {}));
  EXPECT_FALSE(state.page.active);
  EXPECT_EQ(state.pages_printed, 2u);
}

}  // namespace
}  // namespace qz381::sim
