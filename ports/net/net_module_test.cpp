// The net module as Vexlink loads it: its ids, the port-less calls on the
// current port, and a port opened to a printer on the loopback address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/dynlib.h"
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

  // A printer on the loopback address.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  const int32_t first = CreatePort();
  const int32_t second = CreatePort();
  EXPECT_GE(first, kNetPortIdBase);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(IsPowerState(), kPowerStateUnknown);
  EXPECT_EQ(SetObject(12345), 0);

  DeviceOption option = DefaultDeviceOption();
  EXPECT_EQ(SetDeviceOption(option), 0);  // no address
  SetPortName(option, "127.0.0.1");
  option.baudRate = ntohs(address.sin_port);
  ASSERT_EQ(SetObject(first), 1);
  EXPECT_EQ(SetDeviceOption(option), 1);
  ASSERT_NE(OpenPort(), 0);
  pollfd pfd{listener, POLLIN, 0};
  ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
  const int printer = ::accept(listener, nullptr, nullptr);
  const uint8_t command[] = {0x1B, 0x40, 0x41, 0x0A};
  EXPECT_EQ(Write(command, 4), 4);
  uint8_t received[4] = {};
  size_t got = 0;
  while (got < 4) {
    pollfd wait{printer, POLLIN, 0};
    if (::poll(&wait, 1, 2000) != 1) break;
    const ssize_t n = ::recv(printer, received + got, 4 - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::vector<uint8_t>(received, received + got),
            std::vector<uint8_t>(command, command + 4));
  EXPECT_EQ(IsPowerState(), kPowerStateOnline);

  // The second port has no address and stays closed; the first stays open.
  ASSERT_EQ(SetObject(second), 1);
  EXPECT_EQ(OpenPort(), 0);
  EXPECT_EQ(Write(command, 4), 0);
  EXPECT_EQ(DeletePort(first), 1);
  EXPECT_EQ(DeletePort(first), 0);
  EXPECT_EQ(DeletePort(second), 1);
  ClosePort();  // no current port: nothing happens
  ::close(printer);
  ::close(listener);
}

}  // namespace
}  // namespace qz381::ports
