// The attached-printer sources of `qz381 devices`: one entry per port module
// that can find printers without a registry entry. Add yours here.
#include "tools/qz381/devices.h"

namespace qz381::tool {

std::vector<DeviceSource> DeviceSources() {
  return {};
}

}  // namespace qz381::tool
