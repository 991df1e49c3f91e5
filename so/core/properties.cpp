// The property entry points: what the lifecycle, the status monitor and the
// output queue own is answered here; every other index is the property table's.
#include "common/properties.h"
#include "common/opos.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;

int32_t CPOSPrinter::GetPropertyNumber(int32_t index) {
  switch (index) {
    case PIDX_Claimed:
      return claimed_;
    case PIDX_DeviceEnabled:
      return device_enabled_;
    case PIDX_FreezeEvents:
      return freeze_events_;
    case PIDX_OutputID:
      return queue_->OutputID();
    case PIDX_ResultCode:
      return result_code_;
    case PIDX_ResultCodeExtended:
      return result_code_extended_;
    case PIDX_State: {
      std::lock_guard<std::mutex> guard(state_mutex_);
      return state_;
    }
    case PIDX_PowerNotify:
      return status_.PowerNotify();
    case PIDX_PowerState:
      return status_.PowerState();
    case PIDX_AsyncMode:
      return async_mode_;
    case PIDX_CoverOpen:
      return status_.CoverOpen();
    case PIDX_ErrorStation:
      return queue_->ErrorStation();
    case PIDX_FlagWhenIdle:
      return queue_->FlagWhenIdle() ? 1 : 0;
    case PIDX_RecEmpty:
      return status_.RecEmpty();
    case PIDX_RecNearEnd:
      return status_.RecNearEnd();
    case PIDX_ErrorLevel:
      return queue_->ErrorLevel();
    case PIDX_CartridgeNotify:
      return status_.CartridgeNotify();
    case PIDX_RecCartridgeState:
      return status_.RecCartridgeState();
    case PIDX_RecCurrentCartridge:
      return status_.RecCurrentCartridge();
    default:
      return props_.GetNumber(index);
  }
}

std::string CPOSPrinter::GetPropertyString(int32_t index) {
  if (index == PIDX_ErrorString) return queue_->ErrorString();
  return props_.GetString(index);
}

void CPOSPrinter::SetPropertyNumber(int32_t index, int32_t number) {
  result_code_extended_ = 0;
  switch (index) {
    case PIDX_DeviceEnabled:
      SetDeviceEnabled(number);  // waits for the printer
      return;
    case PIDX_FreezeEvents:
      SetFreezeEvents(number);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_PowerNotify:
      if (device_enabled_ || (number != 0 && number != 1) ||
          props_.GetNumber(PIDX_CapPowerReporting) == 0)
        break;
      status_.SetPowerNotify(number);
      if (number == 1) SetFreezeEvents(1);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_AsyncMode:
      async_mode_ = number;
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_FlagWhenIdle:
      queue_->SetFlagWhenIdle(number != 0);
      result_code_ = OPOS_SUCCESS;
      return;
    case PIDX_CartridgeNotify:
      if (device_enabled_) break;
      if (number == 0 || (number == 1 && props_.caps().CapRecCartridgeSensor != 0)) {
        status_.SetCartridgeNotify(number);
        result_code_ = OPOS_SUCCESS;
      }
      return;
    case PIDX_RecCurrentCartridge:
      if (!CheckState(kClaimedEnabled)) return;
      if ((number & props_.GetNumber(PIDX_CapRecColor)) == 0) break;
      status_.SetRecCurrentCartridge(number);
      result_code_ = OPOS_SUCCESS;
      return;
    default: {
      const std::optional<int32_t> rc = props_.SetNumber(
          index, number, {.claimed = claimed_ != 0, .enabled = device_enabled_ != 0});
      if (rc) result_code_ = *rc;  // an index nobody answers keeps ResultCode as it was
      return;
    }
  }
  result_code_ = OPOS_E_ILLEGAL;
}

void CPOSPrinter::SetPropertyString(int32_t index, const std::string& text) {
  result_code_ = props_.SetString(index, text);
}

}  // namespace qz381::so
