#include "so/output/device_settings.h"

namespace qz381::output {

SharedOutputState& ProcessOutputState() {
  static SharedOutputState state;
  return state;
}

}  // namespace qz381::output
