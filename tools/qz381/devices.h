#pragma once
// `qz381 devices`: what this machine offers to print on. The registered devices
// (name, port, model, logical device name) and the serial ports the registry
// maps, then one section per kind of attached printer that a port module can
// reach without a registry entry (USB, network), from DeviceSources().
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qz381::tool {

// One kind of attached printer. `lines` answers one line per printer, or false
// with `error` set when the kind cannot be looked at on this machine; it may
// read `reg` but never writes it.
struct DeviceSource {
  std::string heading;  // "USB printers"
  std::function<bool(platform::Registry& reg, std::vector<std::string>* lines, std::string* error)>
      lines;
};

// The kinds of attached printer this build knows how to list, in the order
// they are shown. Each port module that finds printers by itself adds its own
// source here (device_sources.cpp).
std::vector<DeviceSource> DeviceSources();

// Answers 0, or 1 when the registry cannot be read (`err` says why).
int ListDevices(platform::Registry& reg, const std::vector<DeviceSource>& sources,
                std::ostream& out, std::ostream& err);

}  // namespace qz381::tool
