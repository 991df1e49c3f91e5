#include "setup/model_install.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "setup/install.h"
#include "setup/setup_store.h"

namespace qz381::setup {

using platform::Hive;
using platform::Outcome;
using platform::RegValue;
using platform::Status;

namespace {

// Devices of this model so far: every subkey of the class key, without the
// device list's "[" stop, whose Model number is the model code.
uint32_t CountDevicesOfModel(platform::Registry& reg, uint32_t model_code) {
  std::vector<std::string> names;
  if (!reg.EnumSubkeys(Hive::kLocalMachine, kClassKey, &names).ok()) return 0;
  uint32_t count = 0;
  for (const std::string& name : names) {
    if (name.size() >= kDeviceNameBuffer) break;  // enumeration fails there
    uint32_t code = 0;
    platform::ReadNumber(reg, Hive::kLocalMachine, std::string(kClassKey) + "\\" + name, "Model",
                         &code);
    if (code == model_code) ++count;
  }
  return count;
}

// The counted name can already be taken (model removed while model_1 stays);
// an existing device is never overwritten, so the count goes on to a free one.
std::string FreeDeviceName(platform::Registry& reg, const std::string& model, uint32_t count) {
  for (;; ++count) {
    std::string name = count == 0 ? model : model + "_" + std::to_string(count);
    if (!reg.KeyExists(Hive::kLocalMachine, std::string(kClassKey) + "\\" + name).ok()) {
      return name;
    }
  }
}

}  // namespace

Status InstallModel(platform::Registry& reg, const std::string& model, std::string* device_name) {
  std::string install_dir;
  if (!ReadInstallDir(reg, &install_dir)) {
    return Status::Fail(Outcome::kNotFound, "no Installdir under HKEY_LOCAL_MACHINE\\" +
                                                std::string(kProductKey) +
                                                "; run qz381-install first");
  }
  const std::vector<std::string> models = ListModels(reg);
  if (model.empty() || std::find(models.begin(), models.end(), model) == models.end()) {
    std::string known;
    for (const std::string& m : models) known += (known.empty() ? "" : ", ") + m;
    return Status::Fail(Outcome::kNotFound,
                        "unknown model '" + model + "'; " + SetupFilePath(reg) +
                            (known.empty() ? " lists none" : " lists " + known));
  }
  ModelEntry entry;
  Status status = ReadModelEntry(install_dir, model, &entry);
  if (!status.ok()) return status;

  const std::string name = FreeDeviceName(reg, model, CountDevicesOfModel(reg, entry.model_code));
  const std::string problem = CheckDeviceName(name);
  if (!problem.empty()) return Status::Fail(Outcome::kInvalidArgument, problem);

  const std::string key = std::string(kClassKey) + "\\" + name;
  for (const auto& [value_name, value] : NewDeviceValues(entry, install_dir)) {
    status = reg.SetValue(Hive::kLocalMachine, key, value_name, value);
    if (!status.ok()) {
      reg.DeleteKey(Hive::kLocalMachine, key);
      return status;
    }
  }
  *device_name = name;
  return Status::Ok();
}

}  // namespace qz381::setup
