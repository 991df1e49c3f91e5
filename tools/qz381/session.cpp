#include "tools/qz381/session.h"

#include <vector>

#include "common/opos.h"
#include "setup/install.h"

namespace qz381::tool {

using namespace opos;

bool ChooseDevice(platform::Registry& reg, const std::optional<std::string>& named,
                  std::string* device, std::string* error) {
  if (named) {
    *device = *named;
    return true;
  }
  std::vector<std::string> names;
  reg.EnumSubkeys(platform::Hive::kLocalMachine, setup::kClassKey, &names);
  if (names.size() == 1) {
    *device = names.front();
    return true;
  }
  *error = names.empty() ? "no device is registered (qz381 devices; qz381-install adds one)"
                         : "several devices are registered: name one with --device (qz381 devices)";
  return false;
}

bool OpenClaimEnable(co::PosPrinter& printer, const std::string& device, std::string* error,
                     const std::function<void()>& before_enable) {
  int32_t rc = printer.Open(device);
  if (rc != OPOS_SUCCESS) {
    *error = "cannot open " + device + ": " + ResultInWords(rc, printer.ResultCodeExtended());
    return false;
  }
  rc = printer.ClaimDevice(2000);
  if (rc != OPOS_SUCCESS) {
    // Claiming opens the port: a refusal other than another owner or a
    // time-out means the line is not there.
    const bool line = rc != OPOS_E_CLAIMED && rc != OPOS_E_TIMEOUT;
    *error = "cannot claim " + device + ": " +
             (line ? "its port cannot be opened; is the printer connected and switched on? (" +
                         std::to_string(rc) + ")"
                   : ResultInWords(rc, printer.ResultCodeExtended()));
    return false;
  }
  if (before_enable) before_enable();
  if (!printer.SetNumber("DeviceEnabled", 1, &rc) || rc != OPOS_SUCCESS) {
    *error = "cannot enable " + device + ": " + ResultInWords(rc, printer.ResultCodeExtended());
    return false;
  }
  return true;
}

std::string ResultInWords(int32_t rc, int32_t extended) {
  std::string words;
  switch (rc) {
    case OPOS_SUCCESS:
      return "done";
    case OPOS_E_CLOSED:
      words = "the device is not open";
      break;
    case OPOS_E_CLAIMED:
      words = "another program has claimed the printer";
      break;
    case OPOS_E_NOTCLAIMED:
      words = "the printer is not claimed";
      break;
    case OPOS_E_NOSERVICE:
      words = "the service is not installed (qz381-install)";
      break;
    case OPOS_E_DISABLED:
      words = "the printer is not enabled";
      break;
    case OPOS_E_ILLEGAL:
      words = "the printer cannot do that (bad argument or setting)";
      break;
    case OPOS_E_NOHARDWARE:
      words = "the printer is off or not connected";
      break;
    case OPOS_E_OFFLINE:
      words = "the printer is off-line";
      break;
    case OPOS_E_NOEXIST:
      words = "no such device or file";
      break;
    case OPOS_E_FAILURE:
      words = "the printer did not take the data (off, unplugged or not answering)";
      break;
    case OPOS_E_TIMEOUT:
      words = "the printer did not answer in time";
      break;
    case OPOS_E_BUSY:
      words = "the printer is busy";
      break;
    case OPOS_E_EXTENDED:
      switch (extended) {
        case OPOS_EPTR_COVER_OPEN:
          words = "the cover is open";
          break;
        case OPOS_EPTR_REC_EMPTY:
          words = "the paper is out";
          break;
        case OPOS_EPTR_REC_CARTRIDGE_REMOVED:
          words = "the ink cartridge is removed";
          break;
        case OPOS_EPTR_REC_CARTRIDGE_EMPTY:
          words = "the ink cartridge is empty";
          break;
        case OPOS_EPTR_REC_HEAD_CLEANING:
          words = "the head is being cleaned";
          break;
        default:
          words = "printer error " + std::to_string(extended);
          break;
      }
      break;
    default:
      words = "error";
      break;
  }
  return words + " (" + std::to_string(rc) +
         (rc == OPOS_E_EXTENDED || extended != 0 ? "/" + std::to_string(extended) : std::string()) +
         ")";
}

std::string StatusInWords(int32_t status) {
  switch (status) {
    case PTR_SUE_COVER_OPEN:
      return "cover open";
    case PTR_SUE_COVER_OK:
      return "cover closed";
    case PTR_SUE_REC_EMPTY:
      return "paper out";
    case PTR_SUE_REC_NEAREMPTY:
      return "paper near end";
    case PTR_SUE_REC_PAPEROK:
      return "paper ok";
    case PTR_SUE_IDLE:
      return "idle";
    case OPOS_PS_ONLINE:
      return "printer on-line";
    case OPOS_PS_OFF:
      return "printer off";
    case OPOS_PS_OFFLINE:
      return "printer off-line";
    case OPOS_PS_OFF_OFFLINE:
      return "printer off or off-line";
    default:
      return "status " + std::to_string(status);
  }
}

}  // namespace qz381::tool
