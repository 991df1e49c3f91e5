#pragma once
// A registry file of the test's own (QZ381_REGISTRY) holding a device entry on
// the fake port module and the registration of a service object module, which
// registers itself by its DllRegisterServer as an installation does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/com.h"
#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "so/core/testdata/test_support.h"

namespace qz381::testing {

class RegisteredDevice {
 public:
  static constexpr char kDevice[] = "QZ381Receipt";

  explicit RegisteredDevice(const std::string& module_path) {
    platform::SetEnvironmentValue("QZ381_REGISTRY", dir_.File("registry.reg"));
    std::string profile = dir_.File("QZ381.inf");
    WriteProfile(profile);
    WriteDeviceEntry(platform::DefaultRegistry(), kDevice, "COM1", profile);
    platform::Status st;
    module_ = platform::DynamicLibrary::Load(module_path, &st);
    if (!module_) {
      ADD_FAILURE() << st.ToString();
      return;
    }
    auto register_server = reinterpret_cast<HRESULT (*)()>(module_->Symbol("DllRegisterServer"));
    if (!register_server || register_server() != S_OK) ADD_FAILURE() << "registration failed";
  }
  ~RegisteredDevice() { platform::ClearEnvironmentValue("QZ381_REGISTRY"); }

  platform::DynamicLibrary& module() { return *module_; }
  const ScratchDir& dir() const { return dir_; }

 private:
  ScratchDir dir_;
  std::unique_ptr<platform::DynamicLibrary> module_;
};

}  // namespace qz381::testing
