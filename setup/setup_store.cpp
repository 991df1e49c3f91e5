#include "setup/setup_store.h"

#include "platform/profile.h"
#include "setup/install.h"

namespace qz381::setup {

using platform::Hive;
using platform::Outcome;
using platform::Status;

namespace {

constexpr int kModelKeys = 255;  // READPrinter1 .. READPrinter255
constexpr const char* kDescription = "Description";
constexpr const char* kModelSection = "READPOSPRINTER";

std::string ModelKey(int n) {
  return "READPrinter" + std::to_string(n);
}

std::string DeviceKeyOf(const std::string& name) {
  return name.empty() ? std::string(kClassKey) : std::string(kClassKey) + "\\" + name;
}

std::string TextOrEmpty(platform::Registry& reg, const std::string& key, const char* name) {
  std::string text;
  platform::ReadText(reg, Hive::kLocalMachine, key, name, &text);
  return text;
}

}  // namespace

bool ReadInstallDir(platform::Registry& reg, std::string* dir) {
  return platform::ReadText(reg, Hive::kLocalMachine, kProductKey, "Installdir", dir).ok();
}

std::string SetupFilePath(platform::Registry& reg) {
  std::string dir;
  ReadInstallDir(reg, &dir);
  return InstallFilePath(dir, "setup.inf");
}

std::string ModelFilePath(platform::Registry& reg) {
  std::string dir;
  ReadInstallDir(reg, &dir);
  return InstallFilePath(dir, "posprn.inf");
}

std::vector<std::string> ListModels(platform::Registry& reg) {
  platform::IniFile setup_file;
  platform::IniFile::Load(SetupFilePath(reg), &setup_file);  // a missing file lists nothing
  std::vector<std::string> models;
  for (int n = 1; n <= kModelKeys; ++n) {
    std::string model = setup_file.GetString(kModelSection, ModelKey(n), "");
    if (model.empty()) break;
    models.push_back(std::move(model));
  }
  return models;
}

bool IsKnownModel(platform::Registry& reg, const std::string& name) {
  platform::IniFile setup_file;
  if (!platform::IniFile::Load(SetupFilePath(reg), &setup_file).ok()) return false;
  for (int n = 1; n <= kModelKeys; ++n) {
    const std::string model = setup_file.GetString(kModelSection, ModelKey(n), "");
    if (!model.empty() && name.compare(0, model.size(), model) == 0) return true;
  }
  return false;
}

std::string VersionDescription(platform::Registry& reg) {
  return platform::GetPrivateProfileText(SetupFilePath(reg), kDescription, "VersionDescription",
                                         "");
}

std::vector<std::string> ListDevices(platform::Registry& reg) {
  std::vector<std::string> names, devices;
  if (!reg.EnumSubkeys(Hive::kLocalMachine, kClassKey, &names).ok()) return devices;
  for (std::string& name : names) {
    // A name the enumeration buffer cannot hold fails enumeration there.
    if (name.size() >= kDeviceNameBuffer || (!name.empty() && name[0] == '[')) break;
    if (!name.empty()) devices.push_back(std::move(name));
  }
  return devices;
}

std::string DescribeDevice(platform::Registry& reg, const std::string& name) {
  const std::string key = DeviceKeyOf(name);
  std::string ldn = TextOrEmpty(reg, key, "LDN");
  if (ldn.empty()) ldn = "[Not Used]";
  return "- Printer Description - \r\n\r\n Printer Name : " + TextOrEmpty(reg, key, "DeviceName") +
         "\r\n LDN : " + ldn + "\r\n Using Port : " + TextOrEmpty(reg, key, "Port") + "\r\n";
}

std::string CheckDeviceName(const std::string& name) {
  if (name.empty()) return "The device name is empty.";
  if (name.find('\\') != std::string::npos) {
    return "The device name " + name + " contains a backslash, which the registry cannot hold.";
  }
  if (name.size() >= kDeviceNameBuffer) {
    return "The device name is " + std::to_string(name.size()) + " characters long; at most " +
           std::to_string(kDeviceNameBuffer - 1) + " fit.";
  }
  return "";
}

Status RemoveDevice(platform::Registry& reg, const std::string& name) {
  const std::string problem = CheckDeviceName(name);
  if (!problem.empty()) return Status::Fail(Outcome::kInvalidArgument, problem);
  const std::string key = DeviceKeyOf(name);
  // The alias goes with the device unless another device has taken it over.
  const std::string ldn = TextOrEmpty(reg, key, "LDN");
  Status alias = Status::Ok();
  if (!ldn.empty() && TextOrEmpty(reg, kClassKey, ldn.c_str()) == name) {
    alias = reg.DeleteValue(Hive::kLocalMachine, kClassKey, ldn);
  }
  Status status = reg.DeleteKey(Hive::kLocalMachine, key);
  if (status.ok() && !alias.ok() && alias.outcome() != Outcome::kNotFound) return alias;
  return status;
}

PortRanges ReadPortRanges(platform::Registry& reg) {
  platform::IniFile setup_file;
  platform::IniFile::Load(SetupFilePath(reg), &setup_file);
  PortRanges ranges;
  ranges.com = setup_file.GetInt(kDescription, "COMRange", 4);
  ranges.lpt = setup_file.GetInt(kDescription, "LPTRange", 2);
  return ranges;
}

bool ParseWholeNumber(const std::string& text, uint32_t max, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

std::string ParsePortRanges(const std::string& com, const std::string& lpt, PortRanges* out,
                            int* bad_field) {
  uint32_t com_value = 0, lpt_value = 0;
  if (!ParseWholeNumber(com, kMaxComRange, &com_value) || com_value < 1) {
    *bad_field = 0;
    return "Serial ports Range must be a whole number from 1 to " + std::to_string(kMaxComRange) +
           ".";
  }
  if (!ParseWholeNumber(lpt, kMaxLptRange, &lpt_value) || lpt_value < 1) {
    *bad_field = 1;
    return "Parallel ports Range must be a whole number from 1 to " + std::to_string(kMaxLptRange) +
           ".";
  }
  out->com = static_cast<int32_t>(com_value);
  out->lpt = static_cast<int32_t>(lpt_value);
  return "";
}

Status WritePortRanges(platform::Registry& reg, const PortRanges& ranges) {
  const std::string path = SetupFilePath(reg);
  platform::IniFile setup_file;
  Status status = platform::IniFile::Load(path, &setup_file);
  if (!status.ok() && status.outcome() != Outcome::kNotFound) return status;
  setup_file.Set(kDescription, "COMRange", std::to_string(ranges.com));
  setup_file.Set(kDescription, "LPTRange", std::to_string(ranges.lpt));
  return setup_file.Save(path);
}

}  // namespace qz381::setup
