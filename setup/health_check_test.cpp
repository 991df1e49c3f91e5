#include "setup/health_check.h"

#include <gmock/gmock.h>

#include "setup/setup_test_fixture.h"

namespace qz381::setup {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// Records every call; answers as configured.
class FakeControlObject : public ControlObject {
 public:
  int32_t Open(const std::string& name) override { return Log("Open " + name, open_rc); }
  int32_t ClaimDevice(int32_t timeout) override {
    return Log("ClaimDevice " + std::to_string(timeout), claim_rc);
  }
  int32_t CheckHealth(int32_t level) override {
    return Log("CheckHealth " + std::to_string(level), 0);
  }
  int32_t ReleaseDevice() override { return Log("ReleaseDevice", 0); }
  int32_t Close() override { return Log("Close", 0); }
  bool DeviceEnabled() override {
    Log("DeviceEnabled?", 0);
    return enables;
  }
  void SetDeviceEnabled(bool enabled) override {
    Log(std::string("DeviceEnabled=") + (enabled ? "1" : "0"), 0);
  }
  std::string ErrorText() override { return "OPOS_E_NOEXIST (109/0)"; }
  std::string CheckHealthText() override { return "CheckHealth: Successful"; }

  int32_t Log(std::string call, int32_t rc) {
    calls.push_back(std::move(call));
    return rc;
  }
  int32_t open_rc = 0, claim_rc = 0;
  bool enables = true;
  std::vector<std::string> calls;
};

TEST(HealthCheckTest, EachFormRunsItsSequenceAndShowsItsMessages) {
  const struct {
    const char* what;
    HealthForm form;
    int32_t open_rc, claim_rc;
    bool enables;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
  } cases[] = {
      {"main window",
       HealthForm::kMainWindow,
       0,
       0,
       true,
       {"Open PRN", "ClaimDevice 1000", "DeviceEnabled=1", "DeviceEnabled?", "CheckHealth 3",
        "DeviceEnabled=0", "ReleaseDevice", "Close"},
       {}},
      {"settings dialog",
       HealthForm::kSettingsDialog,
       0,
       0,
       true,
       {"Open PRN", "ClaimDevice 1000", "DeviceEnabled=1", "CheckHealth 3", "Close"},
       {}},
      {"not registered",
       HealthForm::kMainWindow,
       109,
       0,
       true,
       {"Open PRN", "Close"},
       {"OPOSPrinter Open Error : OPOS_E_NOEXIST (109/0)"}},
      {"claimed elsewhere",
       HealthForm::kSettingsDialog,
       0,
       112,
       true,
       {"Open PRN", "ClaimDevice 1000", "Close"},
       {"OPOSPrinter Claim Error : OPOS_E_NOEXIST (109/0)"}},
      {"does not enable",
       HealthForm::kMainWindow,
       0,
       0,
       false,
       {"Open PRN", "ClaimDevice 1000", "DeviceEnabled=1", "DeviceEnabled?", "Close"},
       {"CashDrawer DeviceEnabled Error !"}},
  };
  for (const auto& c : cases) {
    FakeControlObject co;
    co.open_rc = c.open_rc;
    co.claim_rc = c.claim_rc;
    co.enables = c.enables;
    RecordingUi ui;
    const HealthResult result = RunHealthCheck(co, "PRN", c.form, ui);
    EXPECT_THAT(co.calls, ElementsAreArray(c.calls)) << c.what;
    EXPECT_THAT(ui.messages, ElementsAreArray(c.messages)) << c.what;
    EXPECT_EQ(result.checked, c.messages.empty()) << c.what;
  }
}

}  // namespace
}  // namespace qz381::setup
