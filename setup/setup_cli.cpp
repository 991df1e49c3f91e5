#include "setup/setup_cli.h"

#include <iomanip>
#include <iostream>
#include <map>
#include <optional>

#include "setup/install.h"
#include "setup/model_install.h"
#include "setup/setup_store.h"

namespace qz381::setup {

using platform::Hive;

const char* const kSetupUsage =
    "usage: qz381-setup [--registry FILE] COMMAND\n"
    "\n"
    "  list                          the registered devices\n"
    "  add MODEL [SETTINGS]          install MODEL as a new device\n"
    "  modify NAME [SETTINGS]        change a device's settings\n"
    "  remove NAME                   remove a device and its LDN alias\n"
    "  health NAME [--level 1|2|3]   check a device through the control object\n"
    "  port-range [--com N --lpt N]  show or set the serial and parallel port counts\n"
    "\n"
    "SETTINGS (one interface):\n"
    "  --port COMn|LPTn [--baud N] [--parity NONE|EVEN|ODD]\n"
    "  --usb USBnnn:\n"
    "  --ip A.B.C.D --tcp-port N\n"
    "  and any of --ldn NAME, --output-buf N, --output-interval N, --input-sleep N\n";

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;
constexpr uint32_t kMaxBuffer = 1u << 20;
constexpr uint32_t kMaxMilliseconds = 60000;

// Messages are held until the command's outcome is known: a refusal goes to
// err, a success to out.
class CliUi : public UserInterface {
 public:
  explicit CliUi(CliContext& context) : context_(context) {}
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  bool Confirm(const std::string& text, const std::string& caption) override {
    if (!context_.interactive) return true;
    context_.out << caption << ": " << text << "? [y/N] " << std::flush;
    std::string answer;
    std::getline(context_.in, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  int Finish(int code) {
    std::ostream& to = code == kOk ? context_.out : context_.err;
    for (const std::string& message : messages_) {
      to << (code == kOk ? "" : "qz381-setup: ") << message << "\n";
    }
    messages_.clear();
    return code;
  }

 private:
  CliContext& context_;
  std::vector<std::string> messages_;
};

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> named;
  std::string problem;
  bool has(const std::string& name) const { return named.count(name) != 0; }
};

Options ParseOptions(const std::vector<std::string>& args, size_t from,
                     const std::vector<std::string>& allowed) {
  Options options;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      options.positional.push_back(arg);
      continue;
    }
    bool known = false;
    for (const std::string& name : allowed) known = known || name == arg;
    if (!known) {
      options.problem = "unknown option " + arg;
    } else if (i + 1 >= args.size()) {
      options.problem = arg + " needs a value";
    } else if (options.has(arg)) {
      options.problem = arg + " is given twice";
    } else {
      options.named[arg] = args[++i];
      continue;
    }
    break;
  }
  return options;
}

const std::vector<std::string> kSettingsOptions = {
    "--port", "--baud",       "--parity",          "--usb",        "--ip", "--tcp-port",
    "--ldn",  "--output-buf", "--output-interval", "--input-sleep"};

std::optional<int> IndexOf(const char* const* begin, const char* const* end,
                           const std::string& text) {
  for (const char* const* it = begin; it != end; ++it) {
    if (text == *it) return static_cast<int>(it - begin);
  }
  return std::nullopt;
}

std::string JoinList(const char* const* begin, const char* const* end) {
  std::string text;
  for (const char* const* it = begin; it != end; ++it) {
    if (!text.empty()) text += ", ";
    text += *it;
  }
  return text;
}

bool ParseAddress(const std::string& text, std::array<uint8_t, 4>* ip) {
  size_t start = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = text.find('.', start);
    if ((i < 3) == (dot == std::string::npos)) return false;
    uint32_t part = 0;
    if (!ParseWholeNumber(text.substr(start, dot - start), 255, &part)) return false;
    (*ip)[i] = static_cast<uint8_t>(part);
    start = dot + 1;
  }
  return true;
}

const char* InterfaceName(Interface interface) {
  constexpr const char* kNames[] = {"serial", "parallel", "USB", "Ethernet"};
  return kNames[static_cast<int>(interface)];
}

// Puts the command line's settings into the dialog, as a user would click and
// type them, and presses OK. Answers the exit code; messages are in `ui`.
int ApplySettings(const Options& options, CDeviceSettings& dialog, CliUi& ui) {
  DeviceSettingsFields& f = dialog.fields();
  const int given = options.has("--port") + options.has("--usb") + options.has("--ip");
  if (given > 1) {
    ui.ShowMessage("--port, --usb and --ip choose different interfaces; give one");
    return kUsage;
  }
  if (options.has("--tcp-port") != options.has("--ip") && !f.ethernet()) {
    ui.ShowMessage("--ip and --tcp-port go together");
    return kUsage;
  }
  std::optional<Interface> interface;
  std::string port;
  if (options.has("--port")) {
    port = options.named.at("--port");
    if (port.rfind("COM", 0) == 0) {
      interface = Interface::kSerial;
    } else if (port.rfind("LPT", 0) == 0) {
      interface = Interface::kParallel;
    } else {
      ui.ShowMessage("--port takes a serial (COMn) or parallel (LPTn) port, not '" + port + "'");
      return kUsage;
    }
  } else if (options.has("--usb")) {
    interface = Interface::kUsb;
    port = options.named.at("--usb");
  } else if (options.has("--ip")) {
    interface = Interface::kEthernet;
  }
  if (interface) {
    if (!f.interface_enabled[static_cast<size_t>(*interface)]) {
      ui.ShowMessage("device " + f.device_name + " offers no " + InterfaceName(*interface) +
                     " interface (its PortType rules it out)");
      return kFailed;
    }
    if (*interface != f.interface || *interface == Interface::kUsb) {
      dialog.SelectInterface(*interface);
    }
    if (f.interface != *interface) return kFailed;  // no USB device: the message says so
  }
  if (!port.empty()) {
    int index = -1;
    for (size_t i = 0; i < f.ports.size(); ++i) {
      if (f.ports[i] == port) index = static_cast<int>(i);
    }
    if (index < 0) {
      ui.ShowMessage(
          port + " is not offered; the " + InterfaceName(f.interface) + " ports are " +
          (f.ports.empty() ? std::string("none") : f.ports.front() + " to " + f.ports.back()) +
          (f.interface == Interface::kUsb ? "" : " (see port-range)"));
      return kFailed;
    }
    dialog.ChoosePort(index);
    if (f.selected_port() != port) return kFailed;  // in use: the message says by whom
  }
  if (options.has("--baud") || options.has("--parity")) {
    if (!f.serial_lists_enabled()) {
      ui.ShowMessage("--baud and --parity apply to a serial port only");
      return kUsage;
    }
    if (options.has("--baud")) {
      const auto baud = IndexOf(kBaudRates.begin(), kBaudRates.end(), options.named.at("--baud"));
      if (!baud) {
        ui.ShowMessage("--baud must be one of " + JoinList(kBaudRates.begin(), kBaudRates.end()));
        return kFailed;
      }
      f.baud = *baud;
    }
    if (options.has("--parity")) {
      const auto parity = IndexOf(kParities.begin(), kParities.end(), options.named.at("--parity"));
      if (!parity) {
        ui.ShowMessage("--parity must be one of " + JoinList(kParities.begin(), kParities.end()));
        return kFailed;
      }
      f.parity = *parity;
    }
  }
  if (options.has("--ip") && !ParseAddress(options.named.at("--ip"), &f.ip)) {
    ui.ShowMessage("--ip must be an address A.B.C.D with each part from 0 to 255");
    return kFailed;
  }
  if (options.has("--tcp-port")) f.tcp_port = options.named.at("--tcp-port");
  if (options.has("--ldn")) {
    f.ldn = options.named.at("--ldn");
    const std::string problem = f.ldn.empty() ? "" : CheckDeviceName(f.ldn);
    if (!problem.empty()) {
      ui.ShowMessage("--ldn: " + problem);
      return kFailed;
    }
  }
  const std::pair<const char*, std::pair<std::string*, uint32_t>> numbers[] = {
      {"--output-buf", {&f.output_buffer, kMaxBuffer}},
      {"--output-interval", {&f.output_interval, kMaxMilliseconds}},
      {"--input-sleep", {&f.input_sleep, kMaxMilliseconds}},
  };
  for (const auto& [name, target] : numbers) {
    if (!options.has(name)) continue;
    uint32_t value = 0;
    const uint32_t least = std::string(name) == "--output-buf" ? 1 : 0;
    if (!ParseWholeNumber(options.named.at(name), target.second, &value) || value < least) {
      ui.ShowMessage(std::string(name) + " must be a whole number from " + std::to_string(least) +
                     " to " + std::to_string(target.second));
      return kFailed;
    }
    *target.first = std::to_string(value);
  }
  return dialog.Ok() ? kOk : kFailed;
}

bool DeviceExists(platform::Registry& reg, const std::string& name) {
  return reg.KeyExists(Hive::kLocalMachine, std::string(kClassKey) + "\\" + name).ok();
}

// A device name given on the command line: usable, and registered.
bool CheckExistingDevice(CliContext& context, CliUi& ui, const std::string& name) {
  const std::string problem = CheckDeviceName(name);
  if (!problem.empty()) {
    ui.ShowMessage(problem);
    return false;
  }
  if (!DeviceExists(context.reg, name)) {
    ui.ShowMessage("no device named " + name + " (qz381-setup list shows them)");
    return false;
  }
  return true;
}

int List(CliContext& context) {
  std::ostream& out = context.out;
  out << std::left << std::setw(20) << "DEVICE" << std::setw(8) << "KNOWN" << std::setw(20) << "LDN"
      << "PORT\n";
  for (const std::string& name : ListDevices(context.reg)) {
    const std::string key = std::string(kClassKey) + "\\" + name;
    std::string ldn, port;
    platform::ReadText(context.reg, Hive::kLocalMachine, key, "LDN", &ldn);
    platform::ReadText(context.reg, Hive::kLocalMachine, key, "Port", &port);
    out << std::setw(20) << name << std::setw(8) << (IsKnownModel(context.reg, name) ? "yes" : "no")
        << std::setw(20) << (ldn.empty() ? "[Not Used]" : ldn) << port << "\n";
  }
  return kOk;
}

int Add(CliContext& context, CliUi& ui, const Options& options) {
  if (options.positional.size() != 1) return kUsage;
  std::string name;
  platform::Status status = InstallModel(context.reg, options.positional[0], &name);
  if (!status.ok()) {
    ui.ShowMessage(status.ToString());
    return kFailed;
  }
  CDeviceSettings dialog(context.reg, name, SettingsMode::kAdd, ui, context.usb);
  int code = kFailed;
  if (dialog.Open()) code = ApplySettings(options, dialog, ui);
  if (code != kOk) {
    // As Cancel in add mode: nothing of the new device stays.
    const std::string ldn = dialog.fields().ldn;
    dialog.Cancel();
    std::string alias;
    if (!ldn.empty() &&
        platform::ReadText(context.reg, Hive::kLocalMachine, kClassKey, ldn, &alias).ok() &&
        alias == name) {
      context.reg.DeleteValue(Hive::kLocalMachine, kClassKey, ldn);
    }
    return code;
  }
  ui.ShowMessage("device " + name);
  return kOk;
}

int Modify(CliContext& context, CliUi& ui, const Options& options) {
  if (options.positional.size() != 1) return kUsage;
  const std::string& name = options.positional[0];
  if (!CheckExistingDevice(context, ui, name)) return kFailed;
  CDeviceSettings dialog(context.reg, name, SettingsMode::kModify, ui, context.usb);
  if (!dialog.Open()) return kFailed;
  return ApplySettings(options, dialog, ui);
}

int Remove(CliContext& context, CliUi& ui, const Options& options) {
  if (options.positional.size() != 1) return kUsage;
  const std::string& name = options.positional[0];
  if (!CheckExistingDevice(context, ui, name)) return kFailed;
  if (!ui.Confirm("Are you sure you want to delete all setting information about " + name,
                  "Remove Device")) {
    ui.ShowMessage("nothing removed");
    return kFailed;
  }
  const platform::Status status = RemoveDevice(context.reg, name);
  if (!status.ok()) {
    ui.ShowMessage(status.ToString());
    return kFailed;
  }
  ui.ShowMessage("removed " + name);
  return kOk;
}

int Health(CliContext& context, CliUi& ui, const Options& options) {
  if (options.positional.size() != 1) return kUsage;
  const std::string& name = options.positional[0];
  const std::string problem = CheckDeviceName(name);
  if (!problem.empty()) {
    ui.ShowMessage(problem);
    return kFailed;
  }
  uint32_t level = kInteractiveCheck;
  if (options.has("--level") &&
      (!ParseWholeNumber(options.named.at("--level"), 3, &level) || level < 1)) {
    ui.ShowMessage("--level must be 1, 2 or 3");
    return kUsage;
  }
  std::unique_ptr<ControlObject> co = context.control_object();
  const HealthResult result =
      RunHealthCheck(*co, name, HealthForm::kMainWindow, ui, static_cast<int32_t>(level));
  if (!result.checked) return kFailed;
  ui.ShowMessage(result.check_health_text);
  return result.result == 0 ? kOk : kFailed;
}

int PortRange(CliContext& context, CliUi& ui, const Options& options) {
  if (!options.positional.empty()) return kUsage;
  if (!options.has("--com") && !options.has("--lpt")) {
    const PortRanges ranges = ReadPortRanges(context.reg);
    ui.ShowMessage("COMRange " + std::to_string(ranges.com));
    ui.ShowMessage("LPTRange " + std::to_string(ranges.lpt));
    return kOk;
  }
  if (!options.has("--com") || !options.has("--lpt")) {
    ui.ShowMessage("port-range takes both --com and --lpt");
    return kUsage;
  }
  PortRanges ranges;
  int bad_field = 0;
  const std::string refusal =
      ParsePortRanges(options.named.at("--com"), options.named.at("--lpt"), &ranges, &bad_field);
  if (!refusal.empty()) {
    ui.ShowMessage(refusal);
    return kFailed;
  }
  std::string install_dir;
  if (!ReadInstallDir(context.reg, &install_dir)) {
    ui.ShowMessage("no Installdir under HKEY_LOCAL_MACHINE\\" + std::string(kProductKey) +
                   "; run qz381-install first");
    return kFailed;
  }
  const platform::Status status = WritePortRanges(context.reg, ranges);
  if (!status.ok()) {
    ui.ShowMessage(status.ToString());
    return kFailed;
  }
  return kOk;
}

}  // namespace

int RunSetupCommand(const std::vector<std::string>& args, CliContext& context) {
  if (args.empty()) {
    context.err << kSetupUsage;
    return kUsage;
  }
  const std::string& command = args[0];
  std::vector<std::string> allowed;
  if (command == "add" || command == "modify") {
    allowed = kSettingsOptions;
  } else if (command == "health") {
    allowed = {"--level"};
  } else if (command == "port-range") {
    allowed = {"--com", "--lpt"};
  } else if (command != "list" && command != "remove") {
    context.err << "qz381-setup: unknown command '" << command << "'\n" << kSetupUsage;
    return kUsage;
  }
  const Options options = ParseOptions(args, 1, allowed);
  if (!options.problem.empty()) {
    context.err << "qz381-setup: " << command << ": " << options.problem << "\n" << kSetupUsage;
    return kUsage;
  }
  CliUi ui(context);
  int code = kUsage;
  if (command == "list") {
    code = options.positional.empty() ? List(context) : kUsage;
  } else if (command == "add") {
    code = Add(context, ui, options);
  } else if (command == "modify") {
    code = Modify(context, ui, options);
  } else if (command == "remove") {
    code = Remove(context, ui, options);
  } else if (command == "health") {
    code = Health(context, ui, options);
  } else {
    code = PortRange(context, ui, options);
  }
  ui.Finish(code);
  if (code == kUsage) context.err << kSetupUsage;
  return code;
}

}  // namespace qz381::setup
