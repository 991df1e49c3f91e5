// CheckHealth and DirectIO: the printer tested at three levels, and the vendor
// commands that go to the port without translation.
#include <cstdio>
#include <cstdlib>

#include "common/health_dialog.h"
#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"
#include "so/output/translate.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {
constexpr int32_t kInternalLockLimitMs = 3000;

std::string VersionText(int32_t version) {
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(version / 1000000),
                static_cast<unsigned>(version / 1000 % 1000),
                static_cast<unsigned>(version % 1000));
  return text;
}
}  // namespace

std::string CPOSPrinter::TestPageText(const PropertyTable::Locked& settings) {
  const Identification& id = settings.identification;
  const std::string rule(static_cast<size_t>(std::max<int32_t>(settings.out.RecLineChars, 0)), '-');
  std::string page = "\n" + rule + "\n";
  page += "\x1B|rC\x1B|cA" + id.ServiceObjectDescription + "\n";
  page += "\x1B|N\x1B|cA" + id.DeviceDescription + "\n" + id.DeviceName + "\n";
  page += "\x1B|rC\x1B|cAVersion " + VersionText(id.ServiceObjectVersion) + "\n";
  page += "\x1B|N" + rule + "\n\x1B|fP";
  return page;
}

bool CPOSPrinter::InternalCheck() {
  const bool ok = PreparePrinter(kInternalLockLimitMs);
  props_.Lock().identification.CheckHealthText =
      ok ? "CheckHealth: Successful" : "CheckHealth: Failed";
  return ok;
}

int32_t CPOSPrinter::ExternalCheck() {
  std::string bytes;
  {
    PropertyTable::Locked settings = props_.Lock();
    output::TranslatePrintData(settings.out, TestPageText(settings), bytes);
  }
  // Printed synchronously whatever AsyncMode says: the answer is the print's.
  const int32_t rc = Submit(false, {std::move(bytes)});
  props_.Lock().identification.CheckHealthText =
      rc == OPOS_SUCCESS ? std::string("CheckHealth: Successful")
                         : "CheckHealth: " + output::ErrorText(rc, result_code_extended_);
  return rc;
}

// The interactive level: the operator's dialog belongs to the program hosting
// the control object (common/health_dialog.h) and prints the test page through
// the device object lent to it. Closed without printing, or with no dialog to
// show, the internal check decides. (A local class sees what its member
// function sees, so the class needs no new member for it.)
int32_t CPOSPrinter::CheckHealth(int32_t level) {
  struct Interactive {
    static int32_t Run(CPOSPrinter* p) {
      int32_t printed = -1;  // stays negative until a test page is printed
      auto* device = new opos::HealthDialogDevice(
          [p, &printed](std::string* text) {
            printed = p->ExternalCheck();
            *text = output::ErrorText(printed, p->result_code_extended_);
            return printed;
          },
          [p] {
            StatusMonitor& s = p->status_;
            return opos::HealthStatus{s.PowerState(), s.CoverOpen(), s.RecEmpty(), s.RecNearEnd()};
          });
      const Identification id = p->props_.Lock().identification;
      const std::string title = "Printer Check Health : - Interactive -" + id.DeviceName;
      const std::string info = id.ServiceObjectDescription + "\n" +
                               VersionText(id.ServiceObjectVersion) + "\n" + id.DeviceDescription +
                               "\n" + id.DeviceName;
      opos::ShowHealthDialog(p->co_, title, info, device);
      device->Close();  // the host may keep it; from now on it reaches nothing
      device->Release();
      if (printed >= 0) return printed;
      p->InternalCheck();
      return p->Fail(OPOS_SUCCESS);
    }
  };
  if (!CheckState(kClaimedEnabled)) return result_code_;
  switch (level) {
    case OPOS_CH_INTERNAL:
      InternalCheck();
      return Fail(OPOS_SUCCESS);
    case OPOS_CH_EXTERNAL:
      return ExternalCheck();
    case OPOS_CH_INTERACTIVE:
      return Interactive::Run(this);
    default:
      return Fail(OPOS_E_ILLEGAL);
  }
}

int32_t CPOSPrinter::DirectIO(int32_t command, int32_t* data, std::string* text) {
  if (!CheckState(kNeedNotBusy)) return result_code_;
  const int32_t value = data != nullptr ? *data : 0;
  const std::string bytes = text != nullptr ? *text : std::string();
  std::string out;
  switch (command) {
    case 0:
      out = bytes;
      break;
    case 1: {
      PropertyTable::Locked settings = props_.Lock();
      settings.out.international = static_cast<int8_t>(value & 0xFF);
      settings.out.PendingSettings |= output::kPendingInternational;
      return Fail(OPOS_SUCCESS);
    }
    case 2:  // print stored image n
      if (bytes.empty()) return Fail(OPOS_E_ILLEGAL);
      out = std::string("\x1C\x70", 2) + bytes[0] + '\0';
      break;
    case 3:
      if (bytes.size() < 2) return Fail(OPOS_E_ILLEGAL);
      out = std::string("\x08\x5E\x4C\x04\x00\x45", 6) +
            static_cast<char>(std::atoi(bytes.c_str()) & 0xFF) + "\x01\x01";
      break;
    case 4:
      if (bytes.empty()) return Fail(OPOS_E_ILLEGAL);
      out = std::string("\x1B\x67", 2) + bytes[0];
      break;
    default:
      return Fail(OPOS_E_ILLEGAL);
  }
  // Accepted whatever the port did: the count written is not examined.
  queue_->WritePort(reinterpret_cast<const uint8_t*>(out.data()), out.size());
  return Fail(OPOS_SUCCESS);
}

}  // namespace qz381::so
