// Reading a device's configuration: its registry entry, then the capability
// profile that the entry names.
#include <optional>
#include <string_view>

#include "common/opos.h"
#include "common/usb_devices.h"
#include "platform/profile.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;
using platform::Hive;

namespace {

constexpr std::string_view kDeviceKeyPrefix = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter\\";

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Reads values of one key; a value that is missing or of another type leaves its
// target as it was. The first unreadable-store failure is traced once.
class EntryReader {
 public:
  EntryReader(platform::Registry& reg, std::string key) : reg_(reg), key_(std::move(key)) {}

  bool Text(std::string_view name, std::string* out) {
    return Note(name, platform::ReadText(reg_, Hive::kLocalMachine, key_, name, out));
  }
  // A number stored as text, by the atoi rule.
  bool TextNumber(std::string_view name, int32_t* out) {
    std::string text;
    if (!Text(name, &text)) return false;
    *out = platform::Atoi(text);
    return true;
  }
  bool TextNumber(std::string_view name, uint32_t* out) {
    int32_t v;
    if (!TextNumber(name, &v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
  }
  bool Number(std::string_view name, int32_t* out) {
    uint32_t v;
    if (!Note(name, platform::ReadNumber(reg_, Hive::kLocalMachine, key_, name, &v))) return false;
    *out = static_cast<int32_t>(v);
    return true;
  }

 private:
  bool Note(std::string_view name, const platform::Status& st) {
    if (st.ok()) return true;
    if (st.outcome() != platform::Outcome::kNotFound &&
        st.outcome() != platform::Outcome::kWrongType && !reported_) {
      reported_ = true;
      platform::Trace("LoadDeviceEntry: %s: %s", std::string(name).c_str(), st.ToString().c_str());
    }
    return false;
  }

  platform::Registry& reg_;
  std::string key_;
  bool reported_ = false;
};

}  // namespace

int32_t CPOSPrinter::LoadDeviceEntry(const std::string& device_name) {
  EntryReader entry(registry_, std::string(kDeviceKeyPrefix) + device_name);
  std::string port;
  PropertyTable::Locked settings = props_.Lock();
  Identification& id = settings.identification;
  id.DeviceName.clear();
  option_ = ports::DefaultDeviceOption();

  entry.Text("Port", &port);
  id.CapPowerReporting = OPOS_PR_STANDARD;

  // Case-sensitive on purpose: the setup utility always writes upper case, and a
  // hand-written "com1" has always meant a network printer.
  if (StartsWith(port, "COM")) {
    entry.TextNumber("BaudRate", &option_.baudRate);
    entry.TextNumber("BitLength", &option_.byteSize);
    entry.TextNumber("Parity", &option_.parity);
    entry.TextNumber("Stop", &option_.stopBits);
    option_.timeouts = {2, 0, 50, 10, 3000};
  } else if (StartsWith(port, "LPT")) {
    option_.timeouts = {1, 0, 0, 0, 3000};
  } else if (StartsWith(port, "USB")) {
    std::string usb_name, pid, vid;
    int32_t usb_count = 0;
    entry.Text("UsbDeviceName", &usb_name);
    entry.Number("UsbCount", &usb_count);
    entry.Text("Pid", &pid);
    entry.Text("Vid", &vid);
    // The recorded path may be stale (another socket, another printer of the
    // same product): the printers attached now decide.
    usb::UsbDeviceList attached;
    usb::EnumerateUsbDevices(attached);
    port = usb::ResolveUsbDevice(attached, usb_name, usb_count, pid);
    if (port.empty()) {
      platform::Trace("LoadDeviceEntry: none of %u attached USB printers fits '%s' (Pid %s, %d)",
                      static_cast<unsigned>(attached.size()), usb_name.c_str(), pid.c_str(),
                      usb_count);
    }
  } else {
    port.clear();
    entry.Text("TcpIp", &port);
    // The TCP port travels in the baud rate; without TcpPort it is 0, which
    // the network module takes as the printers' usual 9100, never the serial
    // default's 9600.
    int32_t tcp_port = 0;
    entry.Number("TcpPort", &tcp_port);
    option_.baudRate = static_cast<uint32_t>(tcp_port);
  }
  if (!ports::SetPortName(option_, port)) {
    platform::Trace("LoadDeviceEntry: port name of %u characters is too long",
                    static_cast<unsigned>(port.size()));
    port.clear();
  }

  entry.TextNumber("OutputBuf", &option_.outputBufferSize);
  entry.TextNumber("InputBuf", &option_.inputBufferSize);
  entry.Number("Type", &settings.out.Type);
  entry.Text("DeviceDesc", &id.DeviceDescription);
  entry.Text("DeviceName", &id.DeviceName);
  entry.Text("Description", &id.ServiceObjectDescription);
  entry.Text("inf", &profile_path_);

  if (port.empty() || id.DeviceName.empty()) {
    platform::Trace("LoadDeviceEntry(%s): %s is empty", device_name.c_str(),
                    port.empty() ? "the port name" : "DeviceName");
    return OPOS_E_ILLEGAL;
  }
  // Port writes are cut into chunks of this size; 0 would never send a byte.
  if (option_.outputBufferSize == 0) {
    platform::Trace("LoadDeviceEntry(%s): OutputBuf is 0", device_name.c_str());
    return OPOS_E_ILLEGAL;
  }

  std::string version;
  if (entry.Text("Version", &version)) {
    size_t dot = version.rfind('.');
    if (dot != std::string::npos)
      id.ServiceObjectVersion = 1009000 + platform::Atoi(std::string_view(version).substr(dot + 1));
  }
  return OPOS_SUCCESS;
}

int32_t CPOSPrinter::LoadProfile(const std::string& path) {
  platform::IniFile ini;
  platform::Status st = platform::IniFile::Load(path, &ini);
  if (!st.ok()) {
    platform::Trace("LoadProfile: %s", st.ToString().c_str());
    return OPOS_E_ILLEGAL;
  }
  const std::optional<int32_t> rc = props_.LoadProfile(ini, path);
  if (!rc) return OPOS_E_ILLEGAL;
  {
    std::lock_guard<std::mutex> guard(state_mutex_);
    state_ = OPOS_S_IDLE;
  }
  result_code_ = *rc;
  return *rc;
}

}  // namespace qz381::so
