#include "setup/install.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "common/usb_devices.h"
#include "platform/com.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "ports/common/net_address.h"
#include "setup/model_entry.h"

namespace qz381::setup {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::IniFile;
using platform::Outcome;
using platform::RegValue;
using platform::Status;

constexpr const char* kSetupFile = "setup.inf";
constexpr const char* kModelFile = "posprn.inf";
constexpr const char* kUsbRuleFile = "70-qz381-usb.rules";
constexpr int kMaxModels = 255;  // the setup utility reads no further

std::string Join(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/' && path.back() != fs::path::preferred_separator) {
    path += static_cast<char>(fs::path::preferred_separator);
  }
  path += name;
  return path;
}

Status LoadIni(const std::string& path, IniFile* ini) {
  Status status = IniFile::Load(path, ini);
  if (!status.ok()) return Status::Fail(status.outcome(), "cannot read " + path, status.native());
  return status;
}

// The port values of a new device. A serial, parallel or USB port name is
// written as it is, as is "Ethernet" (the address to be set later); a network
// printer's address (IPv4, IPv6 or host name) makes an Ethernet device the way
// the settings dialog writes one: "Port" "Ethernet", the address in "TcpIp",
// the TCP port in "TcpPort" (0 given: the printers' usual 9100).
struct DevicePort {
  std::string port;
  std::string tcp_ip;  // empty: the model's default stays
  uint32_t tcp_port = 0;
};

using DeviceValues = std::vector<std::pair<std::string, RegValue>>;

// A USB port is the name an attached printer is listed under ("USB001:", as
// `qz381 devices` shows it): the device records that printer's path, ordinal
// and identifiers, which the service object resolves at each open. Nothing is
// recorded for a name no printer has now: such a device could never open.
Status RecordUsbPrinter(const std::string& port, DeviceValues* values) {
  usb::UsbDeviceList attached;
  usb::EnumerateUsbDevices(attached);
  const auto found = std::find_if(attached.begin(), attached.end(),
                                  [&](const usb::UsbDeviceEntry& e) { return e.name == port; });
  if (found == attached.end()) {
    return Status::Fail(Outcome::kNotFound, "no USB printer is attached as '" + port +
                                                "' (qz381 devices lists the attached ones)");
  }
  for (auto& [name, value] : *values) {
    if (name == "UsbDeviceName") value = RegValue::Text(found->devicePath);
    if (name == "UsbCount") value = RegValue::Dword(static_cast<uint32_t>(found->ordinal));
    if (name == "Vid") value = RegValue::Text(found->vendorId);
    if (name == "Pid") value = RegValue::Text(found->productId);
  }
  return Status::Ok();
}

bool IsUsbPort(const std::string& port) {
  return port.rfind("USB", 0) == 0;
}

Status DevicePortOf(const std::string& port, uint32_t tcp_port, DevicePort* out) {
  const auto starts = [&](std::string_view prefix) { return port.rfind(prefix, 0) == 0; };
  const bool address = !starts("COM") && !starts("LPT") && !starts("USB") && port != "Ethernet";
  if (!address) {
    if (tcp_port != 0) {
      return Status::Fail(Outcome::kInvalidArgument,
                          "a TCP port goes with a network address, not with '" + port + "'");
    }
    *out = {port, "", 0};
    return Status::Ok();
  }
  if (!ports::IsNetworkAddress(port) || port == "0.0.0.0" || port == "::" || port == "[::]") {
    return Status::Fail(Outcome::kInvalidArgument,
                        "'" + port +
                            "' is neither a port (COMn, LPTn, USB...) nor a printer's network "
                            "address or host name");
  }
  if (tcp_port > 65535) {
    return Status::Fail(Outcome::kInvalidArgument,
                        "TCP port " + std::to_string(tcp_port) + " is out of range");
  }
  *out = {"Ethernet", port, tcp_port == 0 ? 9100u : tcp_port};
  return Status::Ok();
}

std::vector<std::string> ModelNames(const IniFile& setup_file) {
  std::vector<std::string> models;
  for (int n = 1; n <= kMaxModels; ++n) {
    std::string model =
        setup_file.GetString("READPOSPRINTER", "READPrinter" + std::to_string(n), "");
    if (model.empty()) break;
    models.push_back(std::move(model));
  }
  return models;
}

// The same file reached by two names must not be copied onto itself.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

std::string DeviceKey(std::string_view name) {
  return std::string(kClassKey) + "\\" + std::string(name);
}

// A device name is taken by a device key of that name, or by an alias of that
// name that leads to another device.
Status CheckNameFree(platform::Registry& reg, const std::string& name) {
  if (reg.KeyExists(Hive::kLocalMachine, DeviceKey(name)).ok()) {
    return Status::Fail(Outcome::kBusy, "device '" + name + "' exists (--force replaces it)");
  }
  std::string alias;
  if (platform::ReadText(reg, Hive::kLocalMachine, kClassKey, name, &alias).ok() && alias != name) {
    return Status::Fail(Outcome::kBusy, "logical device name '" + name +
                                            "' already leads to device '" + alias +
                                            "' (--force replaces it)");
  }
  return Status::Ok();
}

}  // namespace

InstallLayout LayoutFor(const std::string& prefix) {
  std::error_code ec;
  fs::path root = fs::absolute(fs::path(prefix), ec);
  if (ec) root = fs::path(prefix);
  root = root.lexically_normal();
  if (!root.has_filename() && root.has_relative_path()) root = root.parent_path();

  auto text = [](fs::path p) { return p.make_preferred().string(); };
  const fs::path modules = root / "lib" / "qz381";
  InstallLayout layout;
  layout.install_dir = text(root / "share" / "qz381");
  layout.module_dir = text(modules);
  layout.vexlink = text(modules / ("Vexlink" QZ381_MODULE_SUFFIX));
  layout.com = text(modules / ("com" QZ381_MODULE_SUFFIX));
  layout.usb = text(modules / ("usb" QZ381_MODULE_SUFFIX));
  layout.net = text(modules / ("net" QZ381_MODULE_SUFFIX));
  layout.service_object = text(modules / ("QZ381PrinterSO" QZ381_MODULE_SUFFIX));
  return layout;
}

Status WriteProductKey(platform::Registry& reg, const InstallLayout& layout) {
  const std::pair<const char*, const std::string*> values[] = {
      {"Installdir", &layout.install_dir},
      {"mngdir", &layout.vexlink},
      {"comdir", &layout.com},
      {"usbdir", &layout.usb},
      {"netdir", &layout.net},
  };
  for (const auto& [name, text] : values) {
    Status status = reg.SetValue(Hive::kLocalMachine, kProductKey, name, RegValue::Text(*text));
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

Status CopyInstallFiles(const std::string& from_dir, const std::string& install_dir) {
  std::vector<std::string> names = {kSetupFile, kModelFile};
  IniFile setup_file;
  Status status = LoadIni(Join(from_dir, kSetupFile), &setup_file);
  if (!status.ok()) return status;
  for (const std::string& model : ModelNames(setup_file)) names.push_back(model + ".inf");

  for (const std::string& name : names) {
    if (!platform::FileExists(Join(from_dir, name))) {
      return Status::Fail(Outcome::kNotFound, "installation file " + Join(from_dir, name));
    }
  }
  // The udev rule for USB printers goes along when it is there; putting it
  // into /etc/udev/rules.d takes root (README).
  if (platform::FileExists(Join(from_dir, kUsbRuleFile))) names.push_back(kUsbRuleFile);
  status = platform::MakeDirectories(install_dir);
  if (!status.ok()) return status;
  for (const std::string& name : names) {
    const std::string from = Join(from_dir, name);
    const std::string to = Join(install_dir, name);
    if (SameFile(from, to)) continue;
    status = platform::CopyFileTo(from, to);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

Status RegisterServiceObject(const std::string& module_path) {
  Status status;
  std::unique_ptr<platform::DynamicLibrary> module =
      platform::DynamicLibrary::Load(module_path, &status);
  if (!module) {
    return Status::Fail(status.outcome(),
                        "cannot load the service object " + module_path + ": " + status.context(),
                        status.native());
  }
  using RegisterServer = HRESULT(STDAPICALLTYPE*)();
  auto register_server = reinterpret_cast<RegisterServer>(module->Symbol("DllRegisterServer"));
  if (register_server == nullptr) {
    return Status::Fail(Outcome::kNotFound, module_path + " exports no DllRegisterServer");
  }
  const HRESULT result = register_server();
  if (FAILED(result)) {
    return Status::Fail(Outcome::kIoError, "DllRegisterServer of " + module_path + " failed",
                        static_cast<int>(result));
  }
  return Status::Ok();
}

Status CreateDevice(platform::Registry& reg, const std::string& install_dir,
                    const std::string& name, const std::string& port, bool force,
                    uint32_t tcp_port) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    return Status::Fail(Outcome::kInvalidArgument, "bad device name '" + name + "'");
  }
  if (port.empty()) return Status::Fail(Outcome::kInvalidArgument, "the device needs a port");
  DevicePort device_port;
  Status status = DevicePortOf(port, tcp_port, &device_port);
  if (!status.ok()) return status;

  IniFile setup_file;
  status = LoadIni(Join(install_dir, kSetupFile), &setup_file);
  if (!status.ok()) return status;

  const std::vector<std::string> models = ModelNames(setup_file);
  if (models.empty()) {
    return Status::Fail(Outcome::kMalformed, Join(install_dir, kSetupFile) + " lists no model");
  }
  setup::ModelEntry entry;
  status = ReadModelEntry(install_dir, models.front(), &entry);
  if (!status.ok()) return status;

  if (force) {
    reg.DeleteKey(Hive::kLocalMachine, DeviceKey(name));  // kNotFound is fine
  } else {
    status = CheckNameFree(reg, name);
    if (!status.ok()) return status;
  }

  auto values = NewDeviceValues(entry, install_dir);
  for (auto& [value_name, value] : values) {
    // The device is reachable by its own name as logical device name, so the
    // alias below is recorded here too; removing the device then removes it.
    if (value_name == "LDN") value = RegValue::Text(name);
    if (value_name == "Port") value = RegValue::Text(device_port.port);
    if (value_name == "TcpIp" && !device_port.tcp_ip.empty()) {
      value = RegValue::Text(device_port.tcp_ip);
    }
    if (value_name == "TcpPort" && !device_port.tcp_ip.empty()) {
      value = RegValue::Dword(device_port.tcp_port);
    }
  }
  if (IsUsbPort(device_port.port)) {
    status = RecordUsbPrinter(device_port.port, &values);
    if (!status.ok()) return status;
  }
  const std::string key = DeviceKey(name);
  for (const auto& [value_name, value] : values) {
    status = reg.SetValue(Hive::kLocalMachine, key, value_name, value);
    if (!status.ok()) return status;
  }
  return reg.SetValue(Hive::kLocalMachine, kClassKey, name, RegValue::Text(name));
}

Status Install(platform::Registry& reg, const InstallOptions& options) {
  if (options.prefix.empty()) {
    return Status::Fail(Outcome::kInvalidArgument, "no installation prefix");
  }
  if (options.device_name.empty() != options.port.empty()) {
    return Status::Fail(Outcome::kInvalidArgument, "a device needs both a name and a port");
  }
  if (!options.device_name.empty()) {
    DevicePort device_port;
    Status status = DevicePortOf(options.port, options.tcp_port, &device_port);
    if (status.ok() && IsUsbPort(device_port.port)) {
      DeviceValues none;
      status = RecordUsbPrinter(device_port.port, &none);
    }
    if (!status.ok()) return status;
  } else if (options.tcp_port != 0) {
    return Status::Fail(Outcome::kInvalidArgument, "a TCP port needs a device");
  }
  const InstallLayout layout = LayoutFor(options.prefix);
  const std::string files_dir =
      options.files_dir.empty() ? Join(layout.install_dir, "install") : options.files_dir;

  if (!platform::FileExists(layout.service_object)) {
    return Status::Fail(Outcome::kNotFound,
                        "service object module " + layout.service_object +
                            " is not there; build and install it first (cmake --install)");
  }
  if (!options.device_name.empty() && !options.force) {
    Status status = CheckNameFree(reg, options.device_name);
    if (!status.ok()) return status;
  }

  Status status = CopyInstallFiles(files_dir, layout.install_dir);
  if (status.ok()) status = WriteProductKey(reg, layout);
  if (status.ok() && !options.device_name.empty()) {
    status = CreateDevice(reg, layout.install_dir, options.device_name, options.port, options.force,
                          options.tcp_port);
  }
  if (status.ok()) status = RegisterServiceObject(layout.service_object);
  return status;
}

}  // namespace qz381::setup
