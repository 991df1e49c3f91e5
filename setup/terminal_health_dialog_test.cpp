#include "setup/terminal_health_dialog.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qz381::setup {
namespace {

// The service object's side: the printer goes off line after the first page.
class Device : public co::HealthDialog {
 public:
  const std::string& title() const override { return title_; }
  const std::string& info() const override { return info_; }
  int32_t Print(std::string* text) override {
    ++prints;
    *text = prints == 1 ? "Success (0/0)" : "Offline (114/0)";
    return prints == 1 ? 0 : 114;
  }
  opos::HealthStatus Status() override {
    return prints == 0 ? opos::HealthStatus{2001, 0, 0, 1} : opos::HealthStatus{2003, 1, 0, 0};
  }
  int prints = 0;

 private:
  std::string title_ = "Printer Check Health : - Interactive -QZ381 Receipt";
  std::string info_ = "QZ381 Service Object\n1.9.12\nQZ381 Thermal Receipt Printer\nQZ381 Receipt";
};

const char kHead[] =
    "Printer Check Health : - Interactive -QZ381 Receipt\n"
    "ServiceObjectDescription: QZ381 Service Object\n"
    "ServiceObjectVersion:     1.9.12\n"
    "DeviceDescription:        QZ381 Thermal Receipt Printer\n"
    "DeviceName:               QZ381 Receipt\n";
const char kOnlinePrompt[] =
    "Power State: Online  Cover Open: no  Paper Empty: no  Paper Near End: yes\n"
    "[P]rint the test page or [E]xit: ";
const char kOfflinePrompt[] =
    "Power State: Offline  Cover Open: yes  Paper Empty: no  Paper Near End: no\n"
    "[P]rint the test page or [E]xit: ";

TEST(TerminalHealthDialog, PrintsOnPAndEndsOnEOrTheEndOfInput) {
  const struct {
    const char* name;
    const char* input;
    int prints;
    std::string output;
  } cases[] = {
      {"exit at once", "e\n", 0, std::string(kHead) + kOnlinePrompt},
      {"end of input", "", 0, std::string(kHead) + kOnlinePrompt + "\n"},
      {"unknown answers ask again", "x\n\nE\n", 0,
       std::string(kHead) + kOnlinePrompt + kOnlinePrompt + kOnlinePrompt},
      {"two pages, the status shown again", "p\nP\ne\n", 2,
       std::string(kHead) + kOnlinePrompt + "Test in progress...\nSuccess (0/0)\n" +
           kOfflinePrompt + "Test in progress...\nOffline (114/0)\n" + kOfflinePrompt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Device device;
    std::istringstream in(c.input);
    std::ostringstream out;
    TerminalHealthDialog(in, out).ShowHealthDialog(device);
    EXPECT_EQ(device.prints, c.prints);
    EXPECT_EQ(out.str(), c.output);
  }
}

}  // namespace
}  // namespace qz381::setup
