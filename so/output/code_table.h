#pragma once
// The mapping from the OPOS CharacterSet property to the printer's code table.
#include <cstdint>
#include <string_view>

#include "so/output/device_settings.h"

namespace qz381::output {

// For a supported CharacterSet sets device.code_table, marks the code table
// pending and returns kOposSuccess; the caller then stores the property. Anything
// else returns kOposEIllegal and changes nothing. `device_name` is the DeviceName
// property: one model family numbers the code page 858 table differently.
int32_t SelectCodeTable(DeviceSettings& device, int32_t character_set,
                        std::string_view device_name);

}  // namespace qz381::output
