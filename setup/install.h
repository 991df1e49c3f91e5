#pragma once
// Installation of the QZ381 service on a machine: what the Windows installer
// does, as a command. It writes the product key (installation directory and the
// paths of the three port modules), copies the installation files into the
// installation directory, registers the service object as regsvr32 would, and
// can add a first device entry the way the setup utility adds one.
#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "platform/status.h"

namespace qz381::setup {

inline constexpr const char* kProductKey = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";
inline constexpr const char* kClassKey = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";

// Where an installation under `prefix` puts things. All paths are absolute and
// use the platform's separator, because they are stored in the registry and
// handed unchanged to the module loader.
struct InstallLayout {
  std::string install_dir;     // prefix/share/qz381: setup.inf, posprn.inf, profiles
  std::string module_dir;      // prefix/lib/qz381
  std::string vexlink;         // mngdir
  std::string com;             // comdir
  std::string usb;             // usbdir
  std::string net;             // netdir: network printers
  std::string service_object;  // QZ381PrinterSO, registered at install time
};
InstallLayout LayoutFor(const std::string& prefix);

struct InstallOptions {
  std::string prefix;
  // Where setup.inf, posprn.inf and the capability profiles come from. Empty:
  // prefix/share/qz381/install, where `cmake --install` puts them.
  std::string files_dir;
  // When not empty, a device entry of this name is created on `port`.
  std::string device_name;
  std::string port;
  uint32_t tcp_port = 0;  // with a network address as the port (0: 9100)
  bool force = false;     // replace an existing device entry of that name
};

// The whole installation, in this order: check that the service object module
// and the installation files exist (nothing is written otherwise), copy the
// files, write the product key, create the device entry when asked, then call
// the service object's DllRegisterServer. That module writes its class entries
// into the process's default registry, so `reg` should be that registry (the
// program points QZ381_REGISTRY at the file it was given).
platform::Status Install(platform::Registry& reg, const InstallOptions& options);

// The product key values Installdir, mngdir, comdir, usbdir and netdir.
platform::Status WriteProductKey(platform::Registry& reg, const InstallLayout& layout);

// Copies setup.inf, posprn.inf and the profile of every model setup.inf lists
// from `from_dir` into `install_dir` (created when missing).
platform::Status CopyInstallFiles(const std::string& from_dir, const std::string& install_dir);

// Loads the module and calls its DllRegisterServer, as regsvr32 does.
platform::Status RegisterServiceObject(const std::string& module_path);

// Creates the device key `name` under the class key for the first model of the
// setup file in `install_dir`, with the values the setup utility writes for a
// new device, in the same order, and the logical-device-name alias of `name`
// in the class key. kBusy when the key (or an alias of that name for another
// device) exists and `force` is false; with `force` the old key is replaced.
// `port` is a port name (COMn, LPTn, USB...), "Ethernet", or a network
// printer's address (IPv4, IPv6 or host name): then the device is an Ethernet
// one with that address and `tcp_port` (0: 9100), as the settings dialog
// writes it. A USB port is the name an attached printer is listed under
// (usb::EnumerateUsbDevices): its path, ordinal and identifiers are recorded
// (UsbDeviceName, UsbCount, Vid, Pid); kNotFound when no printer has that name
// now. kInvalidArgument for anything else, and for a TCP port without an
// address.
platform::Status CreateDevice(platform::Registry& reg, const std::string& install_dir,
                              const std::string& name, const std::string& port, bool force,
                              uint32_t tcp_port = 0);

}  // namespace qz381::setup
