#pragma once
// What `qz381 print` and `qz381 status` share: choosing the device, opening it
// through the control object, and saying results and status in words.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "co/pos_printer.h"
#include "platform/registry.h"

namespace qz381::tool {

// The device `named`, or without a name the only registered one. False with
// `error` set when there is none, several, or no such device.
bool ChooseDevice(platform::Registry& reg, const std::optional<std::string>& named,
                  std::string* device, std::string* error);

// Open, ClaimDevice and DeviceEnabled, each failure said in words in `error`.
// `before_enable` sets what must be set while the device is disabled.
bool OpenClaimEnable(co::PosPrinter& printer, const std::string& device, std::string* error,
                     const std::function<void()>& before_enable = {});

// "the cover is open", "no such device", ... for a ResultCode and its
// ResultCodeExtended.
std::string ResultInWords(int32_t rc, int32_t extended);
// "cover open", "paper out", "printer off", ... for a StatusUpdate code.
std::string StatusInWords(int32_t status);

}  // namespace qz381::tool
