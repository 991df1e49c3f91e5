#pragma once
// `qz381 translate`: OPOS-escaped text to the printer bytes the service object
// sends for it, without a device. The bytes are those of the first PrintNormal
// after enabling a freshly opened device: the service's own translation, with
// the settings opening that device derives from its capability profile and its
// printer type, every setting still pending.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "so/output/device_settings.h"

namespace qz381::tool {

// The device settings a fresh device of printer `type` opened with `profile`
// starts with. `model` is the device's model name (the DeviceName property;
// one model family numbers a code table differently). The settings use
// `shared` for the unit tables and character size, which must outlive them.
platform::Status FreshDeviceSettings(const std::string& profile, std::string_view model,
                                     int32_t type, output::SharedOutputState* shared,
                                     output::DeviceSettings* device);

// What PrintNormal sends for `text` on that device: `prologue`, built when the
// job is sent, then `body`, the translated text (which took the pending
// settings). Kept apart so that a large text is not copied once more; `body`
// keeps the capacity it had. Answers the translation's result code.
int32_t TranslateFirstPrint(output::DeviceSettings& device, std::string_view text,
                            std::string* prologue, std::string* body);

class InputFile;

// The same bytes for everything `input` yields, written to `to` as they are
// made: the input is read and translated `piece` bytes at a time into one
// output buffer, so memory does not grow with the input. Stops early when
// writing fails (`to` tells). False with `error` set when reading fails;
// otherwise `result` is the translation's result code.
bool StreamFirstPrint(output::DeviceSettings& device, InputFile& input, size_t piece,
                      std::ostream& to, int32_t* result, std::string* error);

}  // namespace qz381::tool
