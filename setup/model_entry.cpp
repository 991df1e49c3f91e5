#include "setup/model_entry.h"

#include <filesystem>

#include "platform/profile.h"

namespace qz381::setup {

using platform::Outcome;
using platform::RegValue;
using platform::Status;

std::string InstallFilePath(const std::string& dir, const std::string& name) {
  std::string path = dir;
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  if (path.empty() || (path.back() != '/' && path.back() != separator)) path += separator;
  return path + name;
}

Status ReadModelEntry(const std::string& install_dir, const std::string& model, ModelEntry* out) {
  const std::string model_path = InstallFilePath(install_dir, "posprn.inf");
  platform::IniFile model_file;
  Status status = platform::IniFile::Load(model_path, &model_file);
  if (!status.ok()) return Status::Fail(status.outcome(), "cannot read " + model_path);

  ModelEntry entry;
  entry.model = model;
  const std::pair<const char*, std::string*> required[] = {{"DeviceDesc", &entry.device_desc},
                                                           {"SOName", &entry.so_name},
                                                           {"Description", &entry.description},
                                                           {"Vid", &entry.vid},
                                                           {"Pid", &entry.pid}};
  for (const auto& [key, target] : required) {
    *target = model_file.GetString(model, key, "");
    if (target->empty()) {
      return Status::Fail(Outcome::kMalformed, model_path + ": [" + model + "] has no " + key);
    }
  }
  entry.type = static_cast<uint32_t>(model_file.GetInt(model, "TYPE", 4));
  entry.port_type = static_cast<uint32_t>(model_file.GetInt(model, "PORT", 4));
  entry.model_code = static_cast<uint32_t>(model_file.GetInt(model, "MODELCODE", 4));
  const std::string setup_path = InstallFilePath(install_dir, "setup.inf");
  entry.version = platform::GetPrivateProfileText(setup_path, "Description", "Version", "");
  if (entry.version.empty()) {
    return Status::Fail(Outcome::kMalformed, setup_path + ": [Description] has no Version");
  }
  *out = std::move(entry);
  return Status::Ok();
}

std::vector<std::pair<std::string, RegValue>> NewDeviceValues(const ModelEntry& entry,
                                                              const std::string& install_dir) {
  return {
      {"", RegValue::Text(entry.so_name)},
      {"Description", RegValue::Text(entry.description)},
      {"DeviceName", RegValue::Text(entry.model)},
      {"DeviceDesc", RegValue::Text(entry.device_desc)},
      {"Version", RegValue::Text(entry.version)},
      {"DeviceClass", RegValue::Text("POSPrinter")},
      {"LDN", RegValue::Text("")},
      {"Port", RegValue::Text("COM1")},
      {"BaudRate", RegValue::Text("9600")},
      {"BitLength", RegValue::Text("8")},
      {"HandShake", RegValue::Text("CTS/RTS")},
      {"InputBuf", RegValue::Text("8192")},
      {"OutputBuf", RegValue::Text("8192")},
      {"InputSleep", RegValue::Text("0")},
      {"Out_Interval", RegValue::Text("0")},
      {"Parity", RegValue::Text("0")},
      {"Stop", RegValue::Text("0")},
      {"Timeout", RegValue::Text("1000")},
      {"Model", RegValue::Dword(entry.model_code)},
      {"comp", RegValue::Text("Vorna Technologies")},
      {"Vid", RegValue::Text(entry.vid)},
      {"Pid", RegValue::Text(entry.pid)},
      {"UsbDeviceName", RegValue::Text("")},
      {"UsbCount", RegValue::Dword(0)},
      {"TcpIp", RegValue::Text("0.0.0.0")},
      {"TcpPort", RegValue::Dword(0)},
      {"inf", RegValue::Text(InstallFilePath(install_dir, entry.model + ".inf"))},
      {"type", RegValue::Dword(entry.type)},
      {"Porttype", RegValue::Dword(entry.port_type)},
  };
}

}  // namespace qz381::setup
