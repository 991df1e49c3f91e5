#include "ports/common/port_kind.h"

#include <gtest/gtest.h>

#include <string>

namespace qz381::ports {
namespace {

TEST(PortKind, OneRuleForEveryName) {
  const struct {
    std::string name;
    PortKind kind;
  } cases[] = {
      {"COM1", PortKind::kSerial},
      {"COM38", PortKind::kSerial},
      {"\\\\.\\COM12", PortKind::kSerial},    // a device path with COM in it
      {"\\\\?\\usb#COM", PortKind::kSerial},  // "COM" anywhere wins over the path
      {"XCOMY", PortKind::kSerial},
      {"LPT1", PortKind::kParallel},
      {"xLPT1", PortKind::kNone},  // parallel only as a prefix
      {"Eth:10.0.0.9", PortKind::kNetwork},
      {"\\\\?\\usb#vid_0dd4&pid_0195#5&2a&0&2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
       PortKind::kUsb},
      {"\\", PortKind::kUsb},
      {"", PortKind::kNone},
      {"com1", PortKind::kNone},  // case-sensitive
      {"lpt1", PortKind::kNone},
      {"USB001", PortKind::kNone},  // a registry name, not yet a device path
      {"ESDPRT001", PortKind::kNone},
      {std::string("CO\0M1", 5), PortKind::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortKindName(PortKindOf(c.name)), std::string(PortKindName(c.kind))) << c.name;
  }
}

TEST(PortKind, OnlySerialAndParallelAreLinePorts) {
  EXPECT_TRUE(IsLinePort(PortKind::kSerial));
  EXPECT_TRUE(IsLinePort(PortKind::kParallel));
  EXPECT_FALSE(IsLinePort(PortKind::kUsb));
  EXPECT_FALSE(IsLinePort(PortKind::kNetwork));
  EXPECT_FALSE(IsLinePort(PortKind::kNone));
}

}  // namespace
}  // namespace qz381::ports
