#include "setup/terminal_health_dialog.h"

#include <istream>
#include <ostream>
#include <sstream>
#include <string>

namespace qz381::setup {

namespace {

const char* YesNo(int32_t flag) {
  return flag != 0 ? "yes" : "no";
}

}  // namespace

void TerminalHealthDialog::ShowHealthDialog(co::HealthDialog& dialog) {
  out_ << dialog.title() << "\n";
  static const char* const kLabels[] = {"ServiceObjectDescription: ", "ServiceObjectVersion:     ",
                                        "DeviceDescription:        ", "DeviceName:               "};
  std::istringstream info(dialog.info());
  std::string line;
  for (const char* label : kLabels) {
    if (!std::getline(info, line)) line.clear();
    out_ << label << line << "\n";
  }
  for (;;) {
    const opos::HealthStatus status = dialog.Status();
    out_ << "Power State: " << opos::PowerStateWord(status.power_state)
         << "  Cover Open: " << YesNo(status.cover_open)
         << "  Paper Empty: " << YesNo(status.receipt_empty)
         << "  Paper Near End: " << YesNo(status.receipt_near_end) << "\n"
         << "[P]rint the test page or [E]xit: " << std::flush;
    if (!std::getline(in_, line)) {
      out_ << "\n";
      return;
    }
    const char answer = line.empty() ? '\0' : static_cast<char>(line[0] | 0x20);
    if (answer == 'e') return;
    if (answer != 'p') continue;
    out_ << "Test in progress..." << std::endl;
    std::string result;
    dialog.Print(&result);
    out_ << result << "\n";
  }
}

}  // namespace qz381::setup
