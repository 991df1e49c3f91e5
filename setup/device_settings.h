#pragma once
// The device settings dialog without its windows: what it shows for a device
// key, how the interface buttons and the port list react, and what OK, Cancel
// and Check Health write. A front end copies its controls into `fields()`
// before an action and shows `fields()` again after it (the dialog's
// take-values / put-back), and shows the messages through UserInterface.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "setup/setup_store.h"

namespace qz381::setup {

enum class Interface { kSerial = 0, kParallel = 1, kUsb = 2, kEthernet = 3 };
enum class SettingsMode { kAdd, kModify };

// One attached USB printer as the device naming lists it.
struct UsbEntry {
  int32_t ordinal = 0;  // among attached devices of the same product id, from 1
  std::string path;     // interface path, upper case
  std::string name;     // "USB%03d:"
  std::string pid;      // 4 upper-case hex digits
  std::string vid;
  std::string serial;  // as the printer reports it; shown only

  bool operator==(const UsbEntry&) const = default;
};
// Refilled each time USB mode is entered; may block briefly while it looks.
using UsbEnumerator = std::function<std::vector<UsbEntry>()>;

// The fixed entries of the drop-down lists.
inline constexpr std::array<const char*, 5> kBaudRates = {"9600", "19200", "38400", "57600",
                                                          "115200"};
inline constexpr std::array<const char*, 1> kBitLengths = {"8"};
inline constexpr std::array<const char*, 3> kParities = {"NONE", "EVEN", "ODD"};
inline constexpr std::array<const char*, 1> kStopBits = {"1"};
inline constexpr std::array<const char*, 1> kFlowControls = {"DTR/DSR"};

// The dialog's controls. Indexes select entries of the lists above; -1 is no
// selection (an empty port list).
struct DeviceSettingsFields {
  std::string device_name;
  std::string ldn;
  Interface interface = Interface::kSerial;
  std::vector<std::string> ports;
  int port = -1;
  int baud = 1;  // "19200"
  int bit_length = 0;
  int parity = 0;
  int stop_bits = 0;
  int flow_control = 0;
  std::string input_buffer = "8192";
  std::string output_buffer = "8192";
  std::string output_interval = "0";
  std::string input_sleep = "0";
  std::array<uint8_t, 4> ip = {0, 0, 0, 0};
  std::string tcp_port = "0";
  // Which interface buttons are enabled, by PortType.
  std::array<bool, 4> interface_enabled = {true, true, true, true};

  bool serial_lists_enabled() const { return interface == Interface::kSerial; }
  bool ethernet() const { return interface == Interface::kEthernet; }
  const char* port_label() const { return ethernet() ? "IP :" : "Port :"; }
  const char* baud_label() const { return ethernet() ? "Port :" : "Baud Rate :"; }
  std::string selected_port() const;
};

class CDeviceSettings {
 public:
  CDeviceSettings(platform::Registry& reg, std::string device_name, SettingsMode mode,
                  UserInterface& ui, UsbEnumerator usb);

  // Reads the port counts and loads the device. False when the installation
  // directory is unknown: the messages were shown and the dialog ends with
  // Cancel at once (without the add-mode clean-up).
  bool Open();

  DeviceSettingsFields& fields() { return fields_; }
  const DeviceSettingsFields& fields() const { return fields_; }
  SettingsMode mode() const { return mode_; }
  const std::string& accepted_port() const { return accepted_port_; }

  // An interface button was clicked.
  void SelectInterface(Interface interface);
  // The user picked entry `index` of the port list; a port another device
  // uses is refused and the accepted one selected again.
  void ChoosePort(int index);
  // True when the dialog ends with OK ("Installed Success!" shown).
  bool Ok();
  // Cancel or Escape; in add mode the new device key goes again.
  void Cancel();
  // Check Health's saving half; true when the health check may run.
  bool SaveForHealthCheck();

  bool PortInUse(const std::string& port) const;
  bool LdnFree();
  bool Save();
  // The USB list's entry of that name, from the last time USB mode was
  // entered; null when there is none.
  const UsbEntry* FindUsb(const std::string& name) const;

 private:
  void Load();
  void SwitchInterface();
  int FindPort(const std::string& name) const;
  std::string DeviceKey() const;
  bool RefusePortInUse();

  platform::Registry& reg_;
  SettingsMode mode_;
  UserInterface& ui_;
  UsbEnumerator usb_;
  DeviceSettingsFields fields_;
  int32_t com_count_ = 4;
  int32_t lpt_count_ = 4;
  std::string accepted_port_;
  std::string pid_, vid_;
  std::vector<UsbEntry> usb_list_;
};

}  // namespace qz381::setup
