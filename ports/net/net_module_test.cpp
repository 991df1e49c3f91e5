// The net module as Vexlink loads it: its ids, the port-less calls on the
// current port, and a port opened to a printer on the loopback address.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/dynlib.h"
#include "platform/testbed/loopback_peer.h"
#include "ports/common/port_contract.h"

namespace qz381::ports {
namespace {

namespace mf = module_form;

template <typename Fn>
Fn Bind(platform::DynamicLibrary& library, const char* name) {
  void* symbol = library.Symbol(name);
  EXPECT_NE(symbol, nullptr) << name;
  return reinterpret_cast<Fn>(symbol);
}

TEST(NetModuleTest, NumbersItsPortsFrom40000AndDrivesTheCurrentOne) {
  platform::Status status;
  std::unique_ptr<platform::DynamicLibrary> library =
      platform::DynamicLibrary::Load(QZ381_NET_MODULE, &status);
  ASSERT_NE(library, nullptr) << status.ToString();
  auto CreatePort = Bind<mf::CreatePortFn>(*library, "CreatePort");
  auto SetObject = Bind<mf::SetObjectFn>(*library, "SetObject");
  auto DeletePort = Bind<mf::DeletePortFn>(*library, "DeletePort");
  auto SetDeviceOption = Bind<mf::SetDeviceOptionFn>(*library, "SetDeviceOption");
  auto OpenPort = Bind<mf::OpenPortFn>(*library, "OpenPort");
  auto ClosePort = Bind<mf::ClosePortFn>(*library, "ClosePort");
  auto Write = Bind<mf::WriteFn>(*library, "Write");
  auto IsPowerState = Bind<mf::IsPowerStateFn>(*library, "IsPowerState");
  ASSERT_TRUE(CreatePort && SetObject && DeletePort && SetDeviceOption && OpenPort && ClosePort &&
              Write && IsPowerState);
  for (const char* name : {"Read", "Clear", "GetInputBufferCount", "GetASBState"}) {
    EXPECT_NE(library->Symbol(name), nullptr) << name;
  }

  platform::testbed::LoopbackPeer printer;
  ASSERT_TRUE(printer.listening());

  const int32_t first = CreatePort();
  const int32_t second = CreatePort();
  EXPECT_GE(first, kNetPortIdBase);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(IsPowerState(), kPowerStateUnknown);
  EXPECT_EQ(SetObject(12345), 0);

  DeviceOption option = DefaultDeviceOption();
  EXPECT_EQ(SetDeviceOption(option), 0);  // no address
  SetPortName(option, "127.0.0.1");
  option.baudRate = printer.port();
  ASSERT_EQ(SetObject(first), 1);
  EXPECT_EQ(SetDeviceOption(option), 1);
  ASSERT_NE(OpenPort(), 0);
  ASSERT_TRUE(printer.Accept());
  const uint8_t command[] = {0x1B, 0x40, 0x41, 0x0A};
  EXPECT_EQ(Write(command, 4), 4);
  EXPECT_EQ(printer.Receive(4), std::vector<uint8_t>(command, command + 4));
  EXPECT_EQ(IsPowerState(), kPowerStateOnline);

  // The second port has no address and stays closed; the first stays open.
  ASSERT_EQ(SetObject(second), 1);
  EXPECT_EQ(OpenPort(), 0);
  EXPECT_EQ(Write(command, 4), 0);
  EXPECT_EQ(DeletePort(first), 1);
  EXPECT_EQ(DeletePort(first), 0);
  EXPECT_EQ(DeletePort(second), 1);
  ClosePort();                            // no current port: nothing happens
  EXPECT_TRUE(printer.WaitPeerClosed());  // deleting the open port closed it
}

}  // namespace
}  // namespace qz381::ports
