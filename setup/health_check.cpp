#include "setup/health_check.h"

#include "co/pos_printer.h"
#include "common/opos.h"
#include "so/output/output_queue.h"

namespace qz381::setup {

namespace {

constexpr int32_t kClaimTimeoutMs = 1000;

class CoControlObject : public ControlObject {
 public:
  CoControlObject(platform::Registry& reg, co::HealthDialogProvider* dialogs) : co_(reg) {
    co_.SetHealthDialogProvider(dialogs);
  }

  int32_t Open(const std::string& device_name) override { return co_.Open(device_name); }
  int32_t ClaimDevice(int32_t timeout_ms) override { return co_.ClaimDevice(timeout_ms); }
  int32_t CheckHealth(int32_t level) override {
    std::vector<co::Arg> args = {co::Arg::Long(level)};
    return co_.Call("CheckHealth", args);
  }
  int32_t ReleaseDevice() override { return co_.ReleaseDevice(); }
  int32_t Close() override { return co_.Close(); }
  bool DeviceEnabled() override {
    int32_t enabled = 0;
    return co_.GetNumber("DeviceEnabled", &enabled) && enabled != 0;
  }
  void SetDeviceEnabled(bool enabled) override {
    int32_t rc = 0;
    co_.SetNumber("DeviceEnabled", enabled ? 1 : 0, &rc);
  }
  // The service object's own words when it has any; before it is open there
  // is only the result code the control object answered.
  std::string ErrorText() override {
    std::string text;
    if (co_.IsOpen() && co_.GetString("ErrorString", &text) && !text.empty()) return text;
    return output::ErrorText(co_.ResultCode(), co_.ResultCodeExtended());
  }
  std::string CheckHealthText() override {
    std::string text;
    co_.GetString("CheckHealthText", &text);
    return text;
  }

 private:
  co::PosPrinter co_;
};

}  // namespace

std::unique_ptr<ControlObject> NewControlObject(platform::Registry& reg,
                                                co::HealthDialogProvider* dialogs) {
  return std::make_unique<CoControlObject>(reg, dialogs);
}

HealthResult RunHealthCheck(ControlObject& co, const std::string& device_name, HealthForm form,
                            UserInterface& ui, int32_t level) {
  HealthResult result;
  auto check = [&] {
    result.checked = true;
    result.result = co.CheckHealth(level);
    result.check_health_text = co.CheckHealthText();
  };
  // After a failed Open or claim the settings dialog's form also asks the
  // unclaimed device for a check; that can only answer "not claimed", so it
  // is left out.
  if (co.Open(device_name) != opos::OPOS_SUCCESS) {
    ui.ShowMessage("OPOSPrinter Open Error : " + co.ErrorText());
  } else if (co.ClaimDevice(kClaimTimeoutMs) != opos::OPOS_SUCCESS) {
    ui.ShowMessage("OPOSPrinter Claim Error : " + co.ErrorText());
  } else if (form == HealthForm::kSettingsDialog) {
    co.SetDeviceEnabled(true);
    check();
  } else {
    co.SetDeviceEnabled(true);
    if (co.DeviceEnabled()) {
      check();
      co.SetDeviceEnabled(false);
      co.ReleaseDevice();
    } else {
      ui.ShowMessage("CashDrawer DeviceEnabled Error !");
    }
  }
  co.Close();
  return result;
}

}  // namespace qz381::setup
