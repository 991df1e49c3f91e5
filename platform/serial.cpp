#include "platform/serial.h"

#include <charconv>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qz381::platform {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string_view StripDevicePrefix(std::string_view name) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (name.substr(0, kPrefix.size()) == kPrefix) name.remove_prefix(kPrefix.size());
  return name;
}

Status ResolveSerialDeviceNode(Registry& registry, std::string_view name, std::string* node) {
  const std::string_view port = StripDevicePrefix(name);
  if (port.empty()) return Status::Fail(Outcome::kInvalidArgument, "serial port: empty name");

  // A registry that cannot be read is no reason to refuse a port that the
  // fallback can still find; the values are simply not there.
  std::vector<std::string> values;
  if (registry.EnumValues(Hive::kLocalMachine, kSerialCommKey, &values).ok()) {
    for (const std::string& value : values) {
      std::string text;
      if (!ReadText(registry, Hive::kLocalMachine, kSerialCommKey, value, &text).ok()) continue;
      if (EqualNoCase(text, port) && !value.empty()) {
        *node = value;
        return Status::Ok();
      }
    }
  }

  // COM<n>, n a plain decimal number from 1: the n-th on-board UART.
  if (port.size() > 3 && EqualNoCase(port.substr(0, 3), "COM")) {
    const std::string_view digits = port.substr(3);
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size() && number >= 1 &&
        digits.front() != '+') {
      *node = "/dev/ttyS" + std::to_string(number - 1);
      return Status::Ok();
    }
  }
  return Status::Fail(Outcome::kNotFound, "serial port '" + std::string(port) +
                                              "': no device node in " + kSerialCommKey);
}

}  // namespace qz381::platform
