// The exports of the net module: the module form of the port contract, acting
// on the calling thread's current network port (module_export_bodies.h).
#include "platform/socket.h"
#include "ports/common/module_export_bodies.h"
#include "ports/common/module_exports.h"
#include "ports/net/net_port.h"

namespace qz381::ports {
namespace {

struct NetModule {
  using Port = NetPort;
  static constexpr const char* kName = "net";
  static constexpr int32_t kIdBase = kNetPortIdBase;
  static constexpr int32_t kIdLimit = kNetPortIdLimit;
  static int32_t Create(PortTable<Port>& table) { return table.Create(platform::DefaultSockets()); }
};

}  // namespace
}  // namespace qz381::ports

QZ381_DEFINE_MODULE_EXPORTS(qz381::ports::NetModule)
