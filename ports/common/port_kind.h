#pragma once
// What kind of port a port name names: the one rule that Vexlink's routing,
// the service object's status thread and its output queue all follow, so that
// a new kind of port is added here, once, with a row in port_kind_test.cpp.
//
// Names are the system's own, case-sensitive on purpose (the setup utility
// writes upper case, and a hand-written "com1" has never meant a serial port).
// Checked in this order, the first that fits wins:
//   serial    "COM" anywhere: "COM3", and a device path such as "\\.\COM12"
//   parallel  begins with "LPT": "LPT1"
//   network   "Eth" anywhere: "Eth:10.0.0.9"
//   USB       begins with "\": an interface path, "\\?\usb#vid_0dd4&pid_0195#…"
//   none      anything else ("", "USB001", "ESDPRT001", "com1")
// Header only, so the service object needs no library of the port modules.
#include <string_view>

namespace qz381::ports {

enum class PortKind { kNone, kSerial, kParallel, kUsb, kNetwork };

inline PortKind PortKindOf(std::string_view name) {
  if (name.find("COM") != std::string_view::npos) return PortKind::kSerial;
  if (name.starts_with("LPT")) return PortKind::kParallel;
  if (name.find("Eth") != std::string_view::npos) return PortKind::kNetwork;
  if (name.starts_with("\\")) return PortKind::kUsb;
  return PortKind::kNone;
}

// The printer on a serial or parallel line: it tells its on-line state in
// status blocks, and each batch of output is confirmed by a status request.
inline bool IsLinePort(PortKind kind) {
  return kind == PortKind::kSerial || kind == PortKind::kParallel;
}

// "serial", "parallel", "USB", "network" or "none", for trace lines and lists.
inline const char* PortKindName(PortKind kind) {
  switch (kind) {
    case PortKind::kSerial:
      return "serial";
    case PortKind::kParallel:
      return "parallel";
    case PortKind::kUsb:
      return "USB";
    case PortKind::kNetwork:
      return "network";
    case PortKind::kNone:
      break;
  }
  return "none";
}

}  // namespace qz381::ports
