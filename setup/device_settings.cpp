#include "setup/device_settings.h"

#include <cstdio>
#include <utility>

#include "platform/profile.h"
#include "setup/install.h"

namespace qz381::setup {

using platform::Hive;
using platform::RegValue;

namespace {

constexpr const char* kPortInUse = "Failed : Other device used port : ";
constexpr const char* kNoUsbDevice = "Not Connect USB Device and Power off!";
constexpr uint32_t kMaxTcpPort = 65535;

// The platform's parity codes of the entries NONE, EVEN, ODD.
constexpr int kParityCodes[] = {0, 2, 1};
constexpr int kOneStopBit = 0;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string DeviceSettingsFields::selected_port() const {
  return port >= 0 && port < static_cast<int>(ports.size()) ? ports[static_cast<size_t>(port)]
                                                            : std::string();
}

CDeviceSettings::CDeviceSettings(platform::Registry& reg, std::string device_name,
                                 SettingsMode mode, UserInterface& ui, UsbEnumerator usb)
    : reg_(reg), mode_(mode), ui_(ui), usb_(std::move(usb)) {
  fields_.device_name = std::move(device_name);
}

std::string CDeviceSettings::DeviceKey() const {
  return std::string(kClassKey) + "\\" + fields_.device_name;
}

bool CDeviceSettings::Open() {
  std::string install_dir;
  if (!ReadInstallDir(reg_, &install_dir)) {
    ui_.ShowMessage("Failed to road registry!");
    ui_.ShowMessage("Error : Inf file information!");
    return false;
  }
  platform::IniFile setup_file;
  platform::IniFile::Load(InstallFilePath(install_dir, "setup.inf"), &setup_file);
  com_count_ = setup_file.GetInt("Description", "COMRange", 4);
  lpt_count_ = setup_file.GetInt("Description", "LPTMRange", 4);
  Load();
  accepted_port_ = fields_.selected_port();
  return true;
}

void CDeviceSettings::Load() {
  const std::string key = DeviceKey();
  DeviceSettingsFields& f = fields_;

  // A missing PortType leaves every interface offered.
  f.interface_enabled = {true, true, true, true};
  uint32_t port_type = 0;
  platform::ReadNumber(reg_, Hive::kLocalMachine, key, "PortType", &port_type);
  constexpr int kParallel = 1, kUsb = 2, kEthernet = 3;
  switch (port_type) {
    case 1:
      f.interface_enabled[kParallel] = f.interface_enabled[kUsb] = false;
      f.interface_enabled[kEthernet] = false;
      break;
    case 2:
      f.interface_enabled[kUsb] = f.interface_enabled[kEthernet] = false;
      break;
    case 4:
      f.interface_enabled[kParallel] = f.interface_enabled[kEthernet] = false;
      break;
    case 5:
      f.interface_enabled[kUsb] = false;
      break;
    default:
      break;
  }
  platform::ReadText(reg_, Hive::kLocalMachine, key, "Pid", &pid_);
  platform::ReadText(reg_, Hive::kLocalMachine, key, "Vid", &vid_);

  std::string tcp_ip;
  platform::ReadText(reg_, Hive::kLocalMachine, key, "TcpIp", &tcp_ip);
  size_t start = 0;
  for (uint8_t& field : f.ip) {
    const size_t dot = tcp_ip.find('.', start);
    const std::string part = start <= tcp_ip.size() ? tcp_ip.substr(start, dot - start) : "";
    field = static_cast<uint8_t>(platform::Atoi(part) & 0xFF);
    start = dot == std::string::npos ? tcp_ip.size() + 1 : dot + 1;
  }
  uint32_t tcp_port = 0;
  if (platform::ReadNumber(reg_, Hive::kLocalMachine, key, "TcpPort", &tcp_port).ok()) {
    f.tcp_port = std::to_string(tcp_port);
  }

  std::string port;
  platform::ReadText(reg_, Hive::kLocalMachine, key, "Port", &port);
  f.interface = StartsWith(port, "COM")   ? Interface::kSerial
                : StartsWith(port, "LPT") ? Interface::kParallel
                : StartsWith(port, "USB") ? Interface::kUsb
                                          : Interface::kEthernet;
  SwitchInterface();
  const int stored = FindPort(port);
  if (stored >= 0) f.port = stored;

  std::string baud;
  if (platform::ReadText(reg_, Hive::kLocalMachine, key, "BaudRate", &baud).ok()) {
    const int32_t rate = platform::Atoi(baud);
    for (size_t i = 0; i < kBaudRates.size(); ++i) {
      if (platform::Atoi(kBaudRates[i]) == rate) f.baud = static_cast<int>(i);
    }
  }
  // The stored line settings are not shown back: each list has one right entry
  // for this printer, and parity starts at NONE whatever is stored.
  f.bit_length = f.flow_control = f.parity = f.stop_bits = 0;

  const std::pair<const char*, std::string*> texts[] = {{"InputBuf", &f.input_buffer},
                                                        {"OutputBuf", &f.output_buffer},
                                                        {"Out_Interval", &f.output_interval},
                                                        {"InputSleep", &f.input_sleep},
                                                        {"LDN", &f.ldn}};
  for (const auto& [name, target] : texts) {
    platform::ReadText(reg_, Hive::kLocalMachine, key, name, target);
  }
}

void CDeviceSettings::SwitchInterface() {
  DeviceSettingsFields& f = fields_;
  f.ports.clear();
  f.port = -1;
  f.input_buffer = f.output_buffer = "8192";
  auto numbered = [&f](const char* prefix, int32_t count) {
    for (int32_t n = 1; n <= count; ++n) f.ports.push_back(prefix + std::to_string(n));
  };
  switch (f.interface) {
    case Interface::kSerial:
      numbered("COM", com_count_);
      break;
    case Interface::kParallel:
      numbered("LPT", lpt_count_);
      break;
    case Interface::kUsb:
      usb_list_ = usb_ ? usb_() : std::vector<UsbEntry>();
      for (const UsbEntry& entry : usb_list_) {
        if (entry.pid == pid_) f.ports.push_back(entry.name);
      }
      if (f.ports.empty()) {
        ui_.ShowMessage(kNoUsbDevice);
        f.interface = Interface::kSerial;
        numbered("COM", com_count_);
      }
      f.input_buffer = f.output_buffer = "4096";
      break;
    case Interface::kEthernet:
      f.input_buffer = "1024";
      f.output_buffer = "10240";
      return;
  }
  if (!f.ports.empty()) f.port = 0;
}

void CDeviceSettings::SelectInterface(Interface interface) {
  fields_.interface = interface;
  SwitchInterface();
  // The old interface's port is in no list now; a refused choice must fall
  // back to a port of this list.
  accepted_port_ = fields_.selected_port();
}

int CDeviceSettings::FindPort(const std::string& name) const {
  for (size_t i = 0; i < fields_.ports.size(); ++i) {
    if (fields_.ports[i] == name) return static_cast<int>(i);
  }
  return -1;
}

const UsbEntry* CDeviceSettings::FindUsb(const std::string& name) const {
  for (const UsbEntry& entry : usb_list_) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

bool CDeviceSettings::PortInUse(const std::string& port) const {
  if (port.empty()) return false;
  const bool usb = StartsWith(port, "USB");
  std::string wanted = port;
  if (usb) {
    const UsbEntry* entry = FindUsb(port);
    if (entry == nullptr) return false;  // no device of that name: nobody can hold it
    wanted = entry->path;
  }
  for (const std::string& device : ListDevices(reg_)) {
    if (device == fields_.device_name) continue;
    std::string used;
    if (platform::ReadText(reg_, Hive::kLocalMachine, std::string(kClassKey) + "\\" + device,
                           usb ? "UsbDeviceName" : "Port", &used)
            .ok() &&
        used == wanted) {
      return true;
    }
  }
  return false;
}

bool CDeviceSettings::RefusePortInUse() {
  const std::string refused = fields_.selected_port();
  if (!PortInUse(refused)) return false;
  fields_.port = FindPort(accepted_port_);
  ui_.ShowMessage(kPortInUse + refused);
  return true;
}

void CDeviceSettings::ChoosePort(int index) {
  fields_.port = index;
  if (fields_.ethernet()) return;
  if (!RefusePortInUse()) accepted_port_ = fields_.selected_port();
}

bool CDeviceSettings::LdnFree() {
  const std::string& ldn = fields_.ldn;
  if (ldn.empty()) return true;
  for (const std::string& device : ListDevices(reg_)) {
    if (device != ldn) continue;
    std::string alias;
    if (!platform::ReadText(reg_, Hive::kLocalMachine, kClassKey, ldn, &alias).ok() ||
        alias != fields_.device_name) {
      ui_.ShowMessage("Device will not be set to" + ldn);
      return false;
    }
    return true;
  }
  return true;
}

bool CDeviceSettings::Save() {
  const DeviceSettingsFields& f = fields_;
  if (f.output_buffer == "0") {
    ui_.ShowMessage("Output Buffer Value Error!");
    return false;
  }
  // Saving no port at all would be reported as installed, yet the device
  // could never open.
  uint32_t tcp_port = 0;
  if (f.ethernet()) {
    if (!ParseWholeNumber(f.tcp_port, kMaxTcpPort, &tcp_port) || tcp_port == 0) {
      ui_.ShowMessage("TCP Port must be a whole number from 1 to 65535.");
      return false;
    }
  } else if (f.selected_port().empty()) {
    ui_.ShowMessage("No port is selected; the device needs one.");
    return false;
  }
  const UsbEntry* usb = nullptr;
  if (f.interface == Interface::kUsb) {
    usb = FindUsb(f.selected_port());
    if (usb == nullptr) {
      ui_.ShowMessage(kNoUsbDevice);
      return false;
    }
  }

  std::vector<std::pair<std::string, RegValue>> values = {
      {"LDN", RegValue::Text(f.ldn)},
      {"BaudRate", RegValue::Text(kBaudRates.at(static_cast<size_t>(f.baud)))},
      {"BitLength", RegValue::Text(kBitLengths.at(static_cast<size_t>(f.bit_length)))},
      {"HandShake", RegValue::Text(kFlowControls.at(static_cast<size_t>(f.flow_control)))},
      {"InputBuf", RegValue::Text(f.input_buffer)},
      {"OutputBuf", RegValue::Text(f.output_buffer)},
      {"InputSleep", RegValue::Text(f.input_sleep)},
      {"Out_Interval", RegValue::Text(f.output_interval)},
      {"Parity", RegValue::Text(std::to_string(kParityCodes[f.parity]))},
      {"Stop", RegValue::Text(std::to_string(kOneStopBit))},
  };
  if (usb != nullptr) {
    values.push_back({"Port", RegValue::Text(usb->name)});
    values.push_back({"Vid", RegValue::Text(vid_)});
    values.push_back({"Pid", RegValue::Text(pid_)});
    values.push_back({"UsbDeviceName", RegValue::Text(usb->path)});
    values.push_back({"UsbCount", RegValue::Dword(static_cast<uint32_t>(usb->ordinal))});
  } else if (f.ethernet()) {
    char address[16];
    std::snprintf(address, sizeof address, "%d.%d.%d.%d", f.ip[0], f.ip[1], f.ip[2], f.ip[3]);
    values.push_back({"Port", RegValue::Text("Ethernet")});
    values.push_back({"TcpIp", RegValue::Text(address)});
    values.push_back({"TcpPort", RegValue::Dword(tcp_port)});
  } else {
    values.push_back({"Port", RegValue::Text(f.selected_port())});
  }

  // An old alias is dropped only while it still leads here: another device
  // may have taken that name over since.
  std::string old_ldn, old_target;
  if (mode_ == SettingsMode::kModify &&
      platform::ReadText(reg_, Hive::kLocalMachine, DeviceKey(), "LDN", &old_ldn).ok() &&
      !old_ldn.empty() && old_ldn != f.ldn &&
      platform::ReadText(reg_, Hive::kLocalMachine, kClassKey, old_ldn, &old_target).ok() &&
      old_target == f.device_name) {
    reg_.DeleteValue(Hive::kLocalMachine, kClassKey, old_ldn);
  }
  platform::Status status;
  if (!f.ldn.empty()) {
    status = reg_.SetValue(Hive::kLocalMachine, kClassKey, f.ldn, RegValue::Text(f.device_name));
  }
  for (size_t i = 0; status.ok() && i < values.size(); ++i) {
    status = reg_.SetValue(Hive::kLocalMachine, DeviceKey(), values[i].first, values[i].second);
  }
  if (!status.ok()) {
    ui_.ShowMessage("The settings could not be written: " + status.ToString());
    return false;
  }
  return true;
}

bool CDeviceSettings::Ok() {
  // Every port kind is checked, not only serial ones: two devices on one
  // parallel port or USB printer would take each other's output.
  if (!fields_.ethernet() && RefusePortInUse()) return false;
  if (!LdnFree() || !Save()) return false;
  ui_.ShowMessage("Installed Success!");
  return true;
}

bool CDeviceSettings::SaveForHealthCheck() {
  return LdnFree() && Save();
}

void CDeviceSettings::Cancel() {
  if (mode_ != SettingsMode::kAdd) return;
  RemoveDevice(reg_, fields_.device_name);
}

}  // namespace qz381::setup
