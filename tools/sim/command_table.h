#pragma once
// The command table the parser measures the stream by: for each command its
// prefix bytes, how its parameters and data are measured and its journal
// wording. Internal to the virtual printer's parser and journal.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/command_parser.h"

namespace qz381::sim::commands {

inline constexpr uint8_t kNul = 0x00, kBs = 0x08, kHt = 0x09, kLf = 0x0A, kFf = 0x0C, kCr = 0x0D;
inline constexpr uint8_t kDle = 0x10, kCan = 0x18, kEsc = 0x1B, kFs = 0x1C, kGs = 0x1D;

// How the bytes after a command's prefix are measured.
enum class Form : uint8_t {
  kFixed,          // `fixed` parameter bytes
  kLength16,       // pL pH, then pL + 256 pH data bytes
  kLength32,       // p1 p2 p3 p4, then that many data bytes
  kBitImage,       // ESC *: m nL nH, then one (8-dot) or three (24-dot) bytes per column
  kRaster,         // GS v 0: m xL xH yL yH, then x * y bytes
  kBarcode,        // GS k: m, then NUL-terminated data (m < 65) or n and n bytes
  kCut,            // GS V: m, and n for the feed-and-cut forms
  kDownloadImage,  // GS *: x y, then x * y * 8 bytes
  kTerminated,     // ESC D: data up to a NUL
  kRealtime,       // DLE DC4: fn and two bytes, or fn 8 and seven bytes
  kUserChars,      // ESC &: y c1 c2, then for each character x and y * x bytes
  kNvImages,       // FS q: n, then n times xL xH yL yH and x * y * 8 bytes
};

struct Entry {
  std::array<uint8_t, 3> prefix;
  uint8_t prefix_length;
  Form form;
  uint8_t fixed;
  Op op;
  const char* what;
};

inline bool IsPrefix(uint8_t b) {
  return b == kEsc || b == kGs || b == kFs || b == kDle || b == kBs;
}

// Text is what the printer prints from its code table: everything from the
// space up, except DEL.
inline bool IsText(uint8_t b) {
  return b >= 0x20 && b != 0x7F;
}

inline uint32_t Le16(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8);
}

// "LF", "ESC", "SP"...; nullptr for a byte without a control name.
const char* ControlName(uint8_t b);
// A prefix as the journal names it: "GS ( k", "ESC 0xF3".
std::string Mnemonic(std::span<const uint8_t> prefix);

// The entry a prefix selects; nullptr with `need_more` set while a longer
// prefix could still match.
const Entry* MatchEntry(std::span<const uint8_t> prefix, bool* need_more);
// What the command of a matched entry does (GS ( x: decided by its letter).
Op OpOf(const Entry& entry, std::span<const uint8_t> prefix);
// The table's wording for what a command does; nullptr for none.
const char* TableWhat(Op op);

// Parameter bytes the command needs, given those received so far (some forms
// decide their length from their first parameter).
size_t ParamsNeeded(const Entry& entry, const std::vector<uint8_t>& params);

// Segmented commands: how many segments the parameters announce, the size of
// each segment's header, and the data a segment header announces.
uint64_t SegmentCount(const Entry& entry, const std::vector<uint8_t>& p);
size_t SegmentHeaderSize(const Entry& entry);
uint64_t SegmentLength(const Entry& entry, const std::vector<uint8_t>& params,
                       const std::vector<uint8_t>& header);

// Data bytes announced by complete parameters; kTerminatedData for data that
// runs to a NUL.
inline constexpr uint64_t kTerminatedData = ~uint64_t{0};
uint64_t PayloadLength(const Entry& entry, const std::vector<uint8_t>& p);

// The longest NUL-terminated data a command may have before the printer gives
// up waiting for the NUL.
size_t TerminatedLimit(const Entry& entry);

}  // namespace qz381::sim::commands
