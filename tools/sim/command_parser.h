#pragma once
// Splits the byte stream the service sends into printer commands, the way the
// QZ381 reads it: runs of printable text, single control bytes, and commands
// introduced by ESC, GS, FS, DLE (and the vendor prefix BS ^ L). Every command
// is measured from a table — fixed parameter count or a length field — so the
// stream stays in step after image data, barcode data and unknown bytes.
//
// The parser is incremental: bytes arrive in whatever chunks the line delivers
// and a command may straddle any number of them. It never buffers more than
// kMaxStoredPayload bytes of one command's data: the rest of an oversized
// payload is counted and skipped, as a printer with a small buffer would.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qz381::sim {

// What a command does to the printer; PrinterState::Apply and a renderer
// dispatch on this rather than on the bytes.
enum class Op : uint8_t {
  kText,
  kUnknown,
  kIncomplete,  // the stream ended after a prefix byte, before the function byte
  kNul,
  kHorizontalTab,
  kLineFeed,
  kCarriageReturn,
  kFormFeed,    // page mode: print the page and leave page mode
  kCancelPage,  // CAN: drop page-mode data
  kPrintPage,   // ESC FF: print the page, stay in page mode
  kRightSpacing,
  kPrintMode,  // ESC !
  kAbsolutePosition,
  kUserCharSet,
  kDefineUserChars,  // ESC &
  kBitImage,         // ESC *
  kUnderline,
  kDefaultLineSpacing,
  kLineSpacing,
  kSelectPeripheral,  // ESC =
  kCancelUserChar,
  kInitialize,
  kTabPositions,
  kEmphasis,
  kDoubleStrike,
  kFeedDots,
  kReverseFeedDots,
  kPageMode,
  kFont,
  kInternationalSet,
  kStandardMode,
  kPageDirection,
  kUnidirectional,
  kRotate90,
  kPageArea,
  kRelativePosition,
  kAlign,
  kPaperSensorOutput,
  kPaperSensorStop,
  kPanelButtons,
  kFeedLines,
  kReverseFeedLines,
  kVendorFunction,    // ESC g
  kFullCutLegacy,     // ESC i
  kPartialCutLegacy,  // ESC m
  kDrawerPulse,
  kColour,  // ESC r
  kCodeTable,
  kPeripheralStatus,
  kUpsideDown,
  kCharacterSize,  // GS !
  kPageVerticalPosition,
  kGraphics,         // GS ( L, GS 8 L
  kSymbol,           // GS ( k
  kCharacterColour,  // GS ( N
  kExtended,         // any other GS ( x
  kDefineDownloadImage,
  kPrintDownloadImage,
  kMacro,
  kReverse,  // GS B
  kHriPosition,
  kPrinterId,
  kLeftMargin,
  kMotionUnits,
  kCut,  // GS V
  kPrintWidth,
  kPageRelativeVertical,
  kExecuteMacro,
  kAutomaticStatus,  // GS a
  kSmoothing,
  kHriFont,
  kBarcodeHeight,
  kBarcode,  // GS k
  kTransmitStatus,
  kRasterImage,  // GS v 0
  kBarcodeWidth,
  kPrintNvImage,    // FS p
  kDefineNvImages,  // FS q
  kKanjiMode,
  kKanjiOn,
  kKanjiOff,
  kKanjiUnderline,
  kKanjiSpacing,
  kKanjiQuadruple,
  kRealtimeStatus,   // DLE EOT
  kRealtimeRequest,  // DLE ENQ
  kRealtimeCommand,  // DLE DC4
  kVendorCommand,    // BS ^ L
};

struct Command {
  Op op = Op::kUnknown;
  // "ESC !", "GS ( k", "LF", "TEXT", "UNKNOWN".
  std::string name;
  // The bytes between the command's prefix and its data (counts and length
  // fields included), as received.
  std::vector<uint8_t> params;
  // The data the parameters announce (image bits, barcode text, the body of a
  // length-prefixed function), or the text of a TEXT run, or the bytes of an
  // UNKNOWN. At most kMaxStoredPayload bytes are kept.
  std::string data;
  // The data length the parameters announced (for a TEXT run: its length).
  uint64_t data_length = 0;
  // The stream ended inside the command.
  bool truncated = false;
};

inline constexpr size_t kMaxStoredPayload = 4u << 20;
// A text run is cut here so that a stream without line breaks still journals.
inline constexpr size_t kMaxTextRun = 1024;

// The journal line of a command: the name, the parameters in decimal, the data
// (quoted for text-like data, "<N bytes>" for image bits), then what it does.
// Examples: `ESC @ initialize`, `GS a 15 automatic-status`, `TEXT "Hello"`,
// `GS V 66 0 cut`, `GS k 73 5 "{AABC" barcode CODE128`, `UNKNOWN 0xF3`.
std::string FormatJournalLine(const Command& command);

// Quotes bytes the way the journal shows text: printable ASCII as is, `"` and
// `\` escaped, everything else as \xHH.
std::string QuoteBytes(std::string_view bytes);

class CommandParser {
 public:
  using Sink = std::function<void(const Command&)>;
  explicit CommandParser(Sink sink) : sink_(std::move(sink)) {}

  // Parses what it can; a command or text run that is still open waits for the
  // next chunk. The sink runs on the calling thread for each complete command.
  void Feed(std::span<const uint8_t> bytes);
  // The line went quiet: a pending text run is complete (a command waits on).
  void FlushText();
  // The stream ended: a pending text run is emitted and an unfinished command
  // is emitted marked truncated.
  void Finish();

 private:
  enum class Phase { kIdle, kText, kHeader, kPayload, kTerminated, kSegmentHeader };
  void FeedByte(uint8_t byte);
  void StartCommand(uint8_t byte);
  void HeaderByte(uint8_t byte);
  void EmitCurrent();
  void EmitText();
  void EmitUnknown(std::string bytes);
  void EndPayload();
  void SegmentHeaderByte(uint8_t byte);

  Sink sink_;
  Phase phase_ = Phase::kIdle;
  std::string text_;
  std::vector<uint8_t> header_;  // prefix and parameters of the current command
  const void* entry_ = nullptr;  // the matched table entry
  size_t prefix_length_ = 0;
  Command current_;
  uint64_t payload_remaining_ = 0;
  size_t terminated_limit_ = 0;  // for NUL-terminated data
  // Commands made of several segments (ESC &, FS q): how many are still to
  // come, and the header of the one being read.
  uint64_t segments_left_ = 0;
  std::vector<uint8_t> segment_header_;
};

}  // namespace qz381::sim
