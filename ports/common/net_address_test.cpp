#include "ports/common/net_address.h"

#include <gtest/gtest.h>

#include <string>

namespace qz381::ports {
namespace {

TEST(NetAddressTest, AddressesAndHostNamesAreTakenAndNothingElse) {
  struct Case {
    std::string name;
    bool address;
  };
  const Case cases[] = {
      {"192.168.7.31", true},
      {"127.0.0.1", true},
      {"::1", true},
      {"[::1]", true},
      {"fe80::2a:1", true},
      {"2001:db8:0:0:0:0:0:1", true},
      {"::ffff:192.168.7.31", true},
      {"printer", true},
      {"printer-3.shop.example", true},
      {"printer.shop.example.", true},
      {"localhost", true},
      {"", false},
      {"300.1.1.1", false},
      {"192.168.7", false},
      {"192.168.07.31", false},
      {"1.2.3.4.5", false},
      {"two words", false},
      {"tab\there", false},
      {"-printer", false},
      {"printer-.shop", false},
      {"a..b", false},
      {".", false},
      {std::string(64, 'a'), false},
      {std::string(63, 'a'), true},
      {std::string(250, 'a') + ".com", false},
      {"1:2:3:4:5:6:7:8:9", false},
      {"1::2::3", false},
      {"12345::1", false},
      {"::1:", false},
      {"[::1", false},
      {"COM1", false},
      {"com12", false},
      {"LPT1", false},
      {"USB001", false},
      {"\\\\?\\USB#VID_1234&PID_0001#1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
      {"COM-printer", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsNetworkAddress(c.name), c.address) << c.name;
}

}  // namespace
}  // namespace qz381::ports
