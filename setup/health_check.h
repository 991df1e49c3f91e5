#pragma once
// Testing a registered device the way an application would: through the
// control object, which loads the service object for the device. The main
// window and the device settings dialog run slightly different sequences.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "setup/setup_store.h"

namespace qz381::co {
class HealthDialogProvider;
}  // namespace qz381::co

namespace qz381::setup {

// The operations of the control object the health check uses. Calls block
// until the control object returns; all run on the caller's thread.
class ControlObject {
 public:
  virtual ~ControlObject() = default;
  virtual int32_t Open(const std::string& device_name) = 0;
  virtual int32_t ClaimDevice(int32_t timeout_ms) = 0;
  virtual int32_t CheckHealth(int32_t level) = 0;
  virtual int32_t ReleaseDevice() = 0;
  virtual int32_t Close() = 0;
  virtual bool DeviceEnabled() = 0;
  virtual void SetDeviceEnabled(bool enabled) = 0;
  // The text shown after a failed Open or ClaimDevice.
  virtual std::string ErrorText() = 0;
  // The result text of the last health check.
  virtual std::string CheckHealthText() = 0;
};

// The control-object stand-in on `reg`. The service object it loads reads the
// process's default registry, so `reg` must be that registry for a real check.
// `dialogs` shows the interactive check's dialog (on the thread that calls
// CheckHealth); without one the check runs as if it was closed unprinted.
std::unique_ptr<ControlObject> NewControlObject(platform::Registry& reg,
                                                co::HealthDialogProvider* dialogs = nullptr);

enum class HealthForm { kMainWindow, kSettingsDialog };
inline constexpr int32_t kInteractiveCheck = 3;

struct HealthResult {
  bool checked = false;  // CheckHealth ran on an enabled device
  int32_t result = 0;    // its result code
  std::string check_health_text;
};

// The whole sequence, leaving the control object closed. `level` is the
// interactive check for both windows; the command line may ask for another.
HealthResult RunHealthCheck(ControlObject& co, const std::string& device_name, HealthForm form,
                            UserInterface& ui, int32_t level = kInteractiveCheck);

}  // namespace qz381::setup
