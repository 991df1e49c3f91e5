#pragma once
// The fixed printer commands that the service object and its port side send
// outside print data, by name. Print data is built by the translation; these are
// the few whole commands that claiming, enabling, status monitoring and output
// confirmation send as they are.
#include <cstdint>
#include <span>

namespace qz381::printer_commands {

using Command = std::span<const uint8_t>;

namespace bytes {
inline constexpr uint8_t kNul[] = {0x00};
inline constexpr uint8_t kSelectPrinter[] = {0x1B, 0x3D, 0x01};
inline constexpr uint8_t kInitialize[] = {0x00, 0x00, 0x1B, 0x40};
inline constexpr uint8_t kAutoStatusOn[] = {0x1D, 0x61, 0x0F};
inline constexpr uint8_t kAutoStatusAll[] = {0x1D, 0x61, 0xFF};
inline constexpr uint8_t kAutoStatusOff[] = {0x1D, 0x61, 0x00};
inline constexpr uint8_t kStatusRequest[] = {0x10, 0x04, 0x03};
}  // namespace bytes

// One NUL: completes whatever parameter a command cut short left the printer
// waiting for, so the command after it is read from its first byte.
inline constexpr Command kNul{bytes::kNul};
// ESC = 1: the printer takes the data that follows (a printer deselected by a
// customer display on the same line ignores everything else).
inline constexpr Command kSelectPrinter{bytes::kSelectPrinter};
// NUL NUL ESC @: back to the power-on settings; the NULs end a cut-short command.
inline constexpr Command kInitialize{bytes::kInitialize};
// GS a n: automatic status blocks on the drawer, on-line, error and paper
// conditions (n = 0x0F), on every condition (0xFF), or off (0).
inline constexpr Command kAutoStatusOn{bytes::kAutoStatusOn};
inline constexpr Command kAutoStatusAll{bytes::kAutoStatusAll};
inline constexpr Command kAutoStatusOff{bytes::kAutoStatusOff};
// DLE EOT 3: the real-time error status, answered with one byte.
inline constexpr Command kStatusRequest{bytes::kStatusRequest};

}  // namespace qz381::printer_commands
