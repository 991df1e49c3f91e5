#pragma once
// Adding a printer starts here: a model named in setup.inf becomes a new
// device key, filled with the model's identity from posprn.inf and default
// port settings, under the next free name (model, model_1, model_2, ...).
#include <string>

#include "platform/registry.h"
#include "platform/status.h"

namespace qz381::setup {

// The message the model selection shows for every failure.
inline constexpr const char* kInfErrorMessage = "Error : Inf file information!";

// Installs `model`, which must be listed in the setup file. On success
// `device_name` is the new key's name. Everything is read and checked before
// the first write; a write that fails removes what was written, so a failed
// install leaves no device behind. The status says what was missing or bad.
platform::Status InstallModel(platform::Registry& reg, const std::string& model,
                              std::string* device_name);

}  // namespace qz381::setup
