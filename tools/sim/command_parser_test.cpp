#include "tools/sim/command_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz381::sim {
namespace {

std::vector<std::string> Journal(std::string_view bytes, size_t chunk = 0) {
  std::vector<std::string> lines;
  CommandParser parser([&](const Command& c) { lines.push_back(FormatJournalLine(c)); });
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (chunk == 0) chunk = bytes.size() == 0 ? 1 : bytes.size();
  for (size_t i = 0; i < bytes.size(); i += chunk) {
    parser.Feed({p + i, std::min(chunk, bytes.size() - i)});
  }
  parser.Finish();
  return lines;
}

using Lines = std::vector<std::string>;
std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

struct Case {
  const char* family;
  std::string bytes;
  Lines journal;
};

std::string Repeat(char c, size_t n) {
  return std::string(n, c);
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // Claiming, enabling and releasing.
      {"claim",
       B({0x00, 0x1B, 0x3D, 0x01, 0x00, 0x00, 0x00, 0x1B, 0x40}),
       {"NUL", "ESC = 1 select-peripheral", "NUL", "NUL", "NUL", "ESC @ initialize"}},
      {"automatic status",
       B({0x00, 0x1D, 0x61, 0x0F, 0x1D, 0x61, 0xFF, 0x1D, 0x61, 0x00}),
       {"NUL", "GS a 15 automatic-status", "GS a 255 automatic-status", "GS a 0 automatic-status"}},
      // Text and its framing.
      {"text", "Hello\r\nWorld\n", {"TEXT \"Hello\"", "CR", "LF", "TEXT \"World\"", "LF"}},
      {"text quoting",
       B({'a', '"', '\\', 0xE9, 0x09, 'b'}),
       {"TEXT \"a\\\"\\\\\\xE9\"", "HT", "TEXT \"b\""}},
      {"prologue",
       B({0x1B, 0x3D, 0x01, 0x1B, 0x61, 0x00, 0x1B, 0x72, 0x00, 0x1D, 0x28,
          0x4E, 0x02, 0x00, 0x30, 0x31, 0x1B, 0x74, 0x10, 0x1B, 0x52, 0x03,
          0x1B, 0x7B, 0x01, 0x1B, 0x21, 0x01, 0x1B, 0x33, 0x3C}),
       {"ESC = 1 select-peripheral", "ESC a 0 align", "ESC r 0 colour",
        "GS ( N 2 0 48 49 character-colour", "ESC t 16 code-table", "ESC R 3 international-set",
        "ESC { 1 upside-down", "ESC ! 1 print-mode", "ESC 3 60 line-spacing"}},
      {"styles",
       B({0x1B, 0x21, 0xB8, 0x1D, 0x21, 0x12, 0x1B, 0x2D, 0x02, 0x1B, 0x45, 0x01, 0x1D, 0x42,
          0x01, 0x1B, 0x4D, 0x01, 0x1B, 0x47, 0x01, 0x1B, 0x56, 0x01, 0x1B, 0x20, 0x04}),
       {"ESC ! 184 print-mode", "GS ! 18 character-size", "ESC - 2 underline", "ESC E 1 emphasis",
        "GS B 1 reverse", "ESC M 1 font", "ESC G 1 double-strike", "ESC V 1 rotate-90",
        "ESC SP 4 right-spacing"}},
      {"feeds and spacing",
       B({0x1B, 0x64, 0x03, 0x1B, 0x4A, 0x14, 0x1B, 0x32, 0x1B, 0x65, 0x01, 0x1B, 0x4B, 0x05}),
       {"ESC d 3 feed-lines", "ESC J 20 feed-dots", "ESC 2 default-line-spacing",
        "ESC e 1 reverse-feed-lines", "ESC K 5 reverse-feed-dots"}},
      {"cuts",
       B({0x1D, 0x56, 0x01, 0x1D, 0x56, 0x42, 0x00, 0x1D, 0x56, 0x41, 0x05, 0x1B, 0x69, 0x1B,
          0x6D}),
       {"GS V 1 cut", "GS V 66 0 cut", "GS V 65 5 cut", "ESC i full-cut", "ESC m partial-cut"}},
      {"layout",
       B({0x1D, 0x4C, 0x10, 0x00, 0x1D, 0x57, 0x00, 0x02, 0x1B, 0x24, 0x40, 0x00, 0x1B,
          0x5C, 0x10, 0x00, 0x1B, 0x44, 0x08, 0x10, 0x00, 0x1D, 0x50, 0xB4, 0xB4}),
       {"GS L 16 0 left-margin", "GS W 0 2 print-width", "ESC $ 64 0 absolute-position",
        "ESC \\ 16 0 relative-position", "ESC D 8 16 tab-positions", "GS P 180 180 motion-units"}},
      // Page mode.
      {"page mode",
       B({0x1B, 0x4C, 0x1B, 0x54, 0x01, 0x1B, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x40,
          0x06, 0x1D, 0x24, 0x20, 0x00, 0x1B, 0x0C, 0x18, 0x0C, 0x00, 0x00, 0x1B, 0x53}),
       {"ESC L page-mode", "ESC T 1 page-direction", "ESC W 0 0 0 0 0 2 64 6 page-area",
        "GS $ 32 0 page-vertical-position", "ESC FF print-page", "CAN", "FF", "NUL", "NUL",
        "ESC S standard-mode"}},
      // Health check and DirectIO.
      {"direct io",
       B({0x1C, 0x70, 0x01, 0x00, 0x08, 0x5E, 0x4C, 0x04, 0x00, 0x45, 0x0C,
          0x01, 0x01, 0x1B, 0x67, 0x41, 0x1B, 0x70, 0x00, 0x19, 0xFA}),
       {"FS p 1 0 print-nv-image", "BS ^ L 4 0 69 12 1 1 vendor-command",
        "ESC g 65 vendor-function", "ESC p 0 25 250 drawer-pulse"}},
      {"real-time",
       B({0x10, 0x04, 0x03, 0x10, 0x05, 0x02, 0x10, 0x14, 0x01, 0x00, 0x03, 0x1D, 0x72, 0x01}),
       {"DLE EOT 3 realtime-status", "DLE ENQ 2 realtime-request", "DLE DC4 1 0 3 realtime-command",
        "GS r 1 transmit-status"}},
      // Barcodes.
      {"barcode settings",
       B({0x1B, 0x61, 0x01, 0x1D, 0x48, 0x02, 0x1D, 0x66, 0x00, 0x1D, 0x68, 0x2C, 0x1D, 0x77,
          0x02}),
       {"ESC a 1 align", "GS H 2 hri-position", "GS f 0 hri-font", "GS h 44 barcode-height",
        "GS w 2 barcode-width"}},
      {"linear barcodes",
       B({0x1D, 0x6B, 0x49, 0x05, 0x7B, 0x41, 0x41, 0x42, 0x43, 0x1D, 0x6B, 0x41, 0x0B, '0', '1',
          '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',  0x1D, 0x6B, 0x04, 'A',  '1', 0x00}),
       {"GS k 73 5 \"{AABC\" barcode CODE128", "GS k 65 11 \"01234567890\" barcode UPC-A",
        "GS k 4 \"A1\" barcode CODE39"}},
      {"pdf417",
       B({0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x41, 0x00, 0x1D, 0x28, 0x6B, 0x03,
          0x00, 0x30, 0x44, 0x03, 0x1D, 0x28, 0x6B, 0x06, 0x00, 0x30, 0x50, 0x30,
          'a',  'b',  'c',  0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x51, 0x30}),
       {"GS ( k 3 0 48 65 0 pdf417-columns", "GS ( k 3 0 48 68 3 pdf417-row-height",
        "GS ( k 6 0 48 80 48 \"abc\" pdf417-store", "GS ( k 3 0 48 81 48 pdf417-print"}},
      {"qr",
       B({0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00, 0x1D, 0x28, 0x6B,
          0x03, 0x00, 0x31, 0x43, 0x03, 0x1D, 0x28, 0x6B, 0x05, 0x00, 0x31, 0x50,
          0x30, 'h',  'i',  0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30}),
       {"GS ( k 4 0 49 65 50 0 qr-model", "GS ( k 3 0 49 67 3 qr-module-size",
        "GS ( k 5 0 49 80 48 \"hi\" qr-store", "GS ( k 3 0 49 81 48 qr-print"}},
      // Images.
      {"raster image",
       B({0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x09, 0x00}) + Repeat('\xFF', 18),
       {"GS v 0 0 2 0 9 0 <18 bytes> raster-image 16x9"}},
      {"column strips",
       B({0x1B, 0x72, 0x00, 0x1B, 0x2A, 0x00, 0x03, 0x00, 0x81, 0x0A, 0x1B, 0x0D,
          0x1B, 0x2A, 0x21, 0x02, 0x00, 1,    2,    3,    4,    5,    6,    0x0A}),
       {"ESC r 0 colour", "ESC * 0 3 0 <3 bytes> bit-image 3x8", "CR",
        "ESC * 33 2 0 <6 bytes> bit-image 2x24", "LF"}},
      {"two-colour graphics",
       B({0x1D, 0x28, 0x4C, 0x0C, 0x00, 0x30, 0x70, 0x30, 0x01, 0x01, 0x32, 0x08, 0x00, 0x02, 0x00,
          0xAA, 0x55, 0x1D, 0x38, 0x4C, 0x0C, 0x00, 0x00, 0x00, 0x30, 0x70, 0x30, 0x01, 0x01, 0x31,
          0x08, 0x00, 0x02, 0x00, 0xFF, 0x00, 0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x32}),
       {"GS ( L 12 0 48 112 48 1 1 50 8 0 2 0 <2 bytes> graphics-store 8x2 plane 2",
        "GS 8 L 12 0 0 0 48 112 48 1 1 49 8 0 2 0 <2 bytes> graphics-store 8x2 plane 1",
        "GS ( L 2 0 48 50 graphics-print"}},
      {"download image",
       B({0x1D, 0x2A, 0x01, 0x01}) + Repeat('\x0F', 8) + B({0x1D, 0x2F, 0x00}),
       {"GS * 1 1 <8 bytes> define-download-image 8x8", "GS / 0 print-download-image"}},
      {"user-defined characters and stored images: every segment skipped",
       B({0x1B, '&', 3, 'A', 'B', 2}) + Repeat('\x1B', 6) + B({1, 0x1D, 0x56, 0x00}) +
           B({0x1C, 'q', 2, 1, 0, 1, 0}) + Repeat('\x0A', 8) + B({0, 0, 5, 0}) + "Z",
       {"ESC & 3 65 66 <11 bytes> define-user-characters", "FS q 2 <16 bytes> define-nv-images",
        "TEXT \"Z\""}},
      {"user-defined characters with no codes in range",
       B({0x1B, '&', 3, 'B', 'A', 'x'}),
       {"ESC & 3 66 65 <0 bytes> define-user-characters", "TEXT \"x\""}},
      // Unknown bytes and recovery.
      {"unknown control byte", B({0x01, 0x1B, 0x40}), {"UNKNOWN 0x01", "ESC @ initialize"}},
      {"unknown function", B({0x1B, 0xF3, 'A'}), {"UNKNOWN 0x1B 0xF3", "TEXT \"A\""}},
      {"unknown function before a command",
       B({0x1D, 0x1B, 0x40}),
       {"UNKNOWN 0x1D", "ESC @ initialize"}},
      {"unknown three-byte function",
       B({0x1D, 0x76, 0x31, 'x'}),
       {"UNKNOWN 0x1D 0x76 0x31", "TEXT \"x\""}},
      {"other GS ( functions",
       B({0x1D, 0x28, 0x41, 0x02, 0x00, 0x00, 0x02, 'z'}),
       {"GS ( A 2 0 0 2 extended-function", "TEXT \"z\""}},
      // Cut short by the end of the stream.
      {"truncated data",
       B({0x1D, 0x6B, 0x49, 0x0C, 0x41, 0x42}),
       {"GS k 73 12 \"AB\" barcode CODE128 TRUNCATED"}},
      {"truncated parameters",
       B({'x', 0x1B, 0x57, 0x01}),
       {"TEXT \"x\"", "ESC W 1 page-area TRUNCATED"}},
      {"truncated prefix", B({0x1D, 0x28}), {"GS ( TRUNCATED"}},
      {"truncated terminated data",
       B({0x1D, 0x6B, 0x02, '1', '2'}),
       {"GS k 2 \"12\" barcode EAN13 TRUNCATED"}},
  };
  return cases;
}

TEST(CommandParserTest, JournalsEveryCommandFamily) {
  for (const Case& c : Cases()) {
    EXPECT_EQ(Journal(c.bytes), c.journal) << c.family;
  }
}

TEST(CommandParserTest, ChunkBoundariesDoNotChangeTheJournal) {
  for (const Case& c : Cases()) {
    for (size_t chunk : {1, 2, 3, 7}) {
      EXPECT_EQ(Journal(c.bytes, chunk), c.journal) << c.family << " in chunks of " << chunk;
    }
  }
}

TEST(CommandParserTest, TextRunWaitsForItsEndUntilFlushed) {
  std::vector<std::string> lines;
  CommandParser parser([&](const Command& c) { lines.push_back(FormatJournalLine(c)); });
  const std::string text = "Hel";
  parser.Feed({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  EXPECT_TRUE(lines.empty());
  parser.FlushText();
  EXPECT_EQ(lines, Lines{"TEXT \"Hel\""});
}

TEST(CommandParserTest, LongTextIsCutIntoRuns) {
  const auto lines = Journal(std::string(kMaxTextRun + 5, 'a'));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "TEXT \"aaaaa\"");
}

TEST(CommandParserTest, OversizedImageIsSkippedWithoutStoringIt) {
  // 0xFFFF bytes a row for 0x0100 rows: 16 MB announced, more than is kept.
  std::string bytes = B({0x1D, 0x76, 0x30, 0x00, 0xFF, 0xFF, 0x00, 0x01});
  const uint64_t announced = 0xFFFFull * 0x100;
  bytes += std::string(announced, '\x00');
  bytes += B({0x1B, 0x40});
  std::vector<Command> commands;
  CommandParser parser([&](const Command& c) { commands.push_back(c); });
  parser.Feed({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].data_length, announced);
  EXPECT_EQ(commands[0].data.size(), kMaxStoredPayload);
  EXPECT_EQ(FormatJournalLine(commands[1]), "ESC @ initialize");
}

TEST(CommandParserTest, NulTerminatedBarcodeEndsAtItsLimit) {
  // Without a NUL the printer stops collecting after 255 characters.
  const auto lines = Journal(B({0x1D, 0x6B, 0x04}) + std::string(255, '1') + "\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "LF");
}

}  // namespace
}  // namespace qz381::sim
