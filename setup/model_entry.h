#pragma once
// A printer model as the installation files describe it, and the values a new
// device key of that model starts with. Shared by qz381-install and the setup
// utility, so both write the same device.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"

namespace qz381::setup {

// install_dir + separator + name; an empty install_dir gives the root, as the
// Windows program's "\\setup.inf" does.
std::string InstallFilePath(const std::string& install_dir, const std::string& name);

struct ModelEntry {
  std::string model;
  std::string device_desc, so_name, description, vid, pid;  // required in posprn.inf
  uint32_t type = 4, port_type = 4, model_code = 4;         // TYPE, PORT, MODELCODE
  std::string version;                                      // setup.inf [Description]
};

// Reads the model's section of posprn.inf and the Version of setup.inf in
// `install_dir`. kMalformed naming the file and key when a required text key
// is missing or empty; nothing is guessed.
platform::Status ReadModelEntry(const std::string& install_dir, const std::string& model,
                                ModelEntry* out);

// The values of a new device key, in the order they are written; "" names the
// key's default value. The device has no LDN and sits on COM1.
std::vector<std::pair<std::string, platform::RegValue>> NewDeviceValues(
    const ModelEntry& entry, const std::string& install_dir);

}  // namespace qz381::setup
