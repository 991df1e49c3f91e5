#include "ports/common/port_contract.h"

#include <algorithm>
#include <cstring>

namespace qz381::ports {

bool SetPortName(DeviceOption& option, std::string_view name) {
  if (name.size() >= kPortNameCapacity || name.find('\0') != std::string_view::npos) return false;
  std::memset(option.portName, 0, sizeof option.portName);
  std::memcpy(option.portName, name.data(), name.size());
  return true;
}

std::string_view PortNameOf(const DeviceOption& option) {
  const char* end = std::find(option.portName, option.portName + kPortNameCapacity, '\0');
  if (end == option.portName + kPortNameCapacity) return {};
  return {option.portName, static_cast<size_t>(end - option.portName)};
}

DeviceOption DefaultDeviceOption() {
  DeviceOption option{};
  option.baudRate = 9600;
  option.byteSize = 8;
  option.stopBits = 0;
  option.parity = 0;
  option.timeouts = {2, 0, 50, 10, 3000};
  option.inputBufferSize = 8192;
  option.outputBufferSize = 8192;
  return option;
}

uint32_t ReceiveCapacity(uint32_t input_buffer_size) {
  if (input_buffer_size == 0) return kDefaultReceiveCapacity;
  return std::min(input_buffer_size, kMaxReceiveCapacity);
}

}  // namespace qz381::ports
