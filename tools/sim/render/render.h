#pragma once
// Draws what the virtual QZ381 printed as the paper would show it: 80 mm
// paper at 180 dpi, 512 printable dots a line with a blank margin either side.
//
// Standard mode: text goes into a line buffer (normal font 12 x 24 dots,
// compressed font 9 x 17, in the code table and international set selected,
// with emphasis, underline, reverse, upside-down, double width/height and the
// GS ! factors) that is printed, aligned, on LF, CR, ESC d, ESC J, a full line,
// an image, a barcode or a cut. GS v 0 raster images and GS ( L / GS 8 L
// graphics are drawn dot for dot, ESC * column images as part of the line,
// GS k barcodes with their readable text, GS ( k PDF417 and QR symbols; cuts
// are a dashed line across the paper. Page mode (ESC L ... FF) draws into the
// print area in the direction ESC T selects and prints the area on FF.
// On a two-colour model the second colour (ESC r 1, GS ( N, the second
// graphics plane) is drawn red.
//
// Memory is bounded: the page never grows past `max_height` rows; anything
// below is dropped and counted, and images wider than the paper are clipped.
// What cannot be drawn is reported through `on_error` and counted.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/command_parser.h"
#include "tools/sim/printer_state.h"

namespace qz381::sim::render {

// What a dot of the paper shows.
enum Colour : uint8_t { kPaper = 0, kBlack = 1, kRed = 2 };

// One Colour a dot, row by row.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  Colour At(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height
               ? static_cast<Colour>(pixels[static_cast<size_t>(y) * width + x])
               : kPaper;
  }
  bool Ink(int x, int y) const { return At(x, y) != kPaper; }
  bool operator==(const Image&) const = default;
};

inline constexpr int kPaperMargin = 27;  // dots left and right of the printable area
inline constexpr int kPaperWidth = kPrintableDots + 2 * kPaperMargin;  // 566: 80 mm at 180 dpi
inline constexpr int kDefaultMaxHeight = 20000;

// Character cells, dots.
inline constexpr int kFontAWidth = 12, kFontAHeight = 24;
inline constexpr int kFontBWidth = 9, kFontBHeight = 17;

// The cut mark: dashes of kCutDash ink dots and kCutDash blank dots across the
// whole paper, with kCutGap blank rows above and below it.
inline constexpr int kCutDash = 8;
inline constexpr int kCutGap = 8;

struct RenderOptions {
  int max_height = kDefaultMaxHeight;
  // A two-colour model: the second colour is drawn red. A single-colour model
  // prints everything black.
  bool two_colour = false;
  // When set, every cut ends the page: the page drawn so far (cut mark
  // included) is handed over and a new one begins. Unset: one long strip with
  // the cut marks on it.
  std::function<void(Image)> on_page;
  // Told, in a line, about everything received that could not be drawn as
  // sent (clipped images, refused barcodes, commands not drawn).
  std::function<void(const std::string&)> on_error;
};

struct RenderStats {
  uint64_t commands = 0;
  uint64_t unsupported = 0;      // commands that print something not drawn
  uint64_t placeholders = 0;     // characters without a glyph, drawn as a box
  uint64_t clipped_images = 0;   // images cut at the paper's edge or data short
  uint64_t dropped_rows = 0;     // rows of feed or drawing past max_height
  uint64_t refused_symbols = 0;  // barcodes and 2-D symbols the data did not fit
  uint64_t errors = 0;           // lines reported to on_error
  uint64_t pages = 0;            // pages handed to on_page
};

class Renderer {
 public:
  explicit Renderer(RenderOptions options = {});
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // One command, with the printer's settings as they stand after it (the
  // simulator's on_command hook).
  void OnCommand(const Command& command, const PrinterState& state);

  // Raw bytes as the printer receives them: parsed and applied to a printer
  // state of the renderer's own.
  void Feed(std::span<const uint8_t> bytes);
  void Feed(std::string_view bytes);
  // The end of the raw stream: a command left open is dropped.
  void FinishStream();

  // The current page as printed so far. What waits in the line buffer is not
  // on it, as it is not on the paper until a command prints it.
  Image Snapshot() const;

  const RenderStats& stats() const { return stats_; }
  // Nothing drawn or fed since the last page.
  bool Empty() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  RenderStats stats_;
  std::unique_ptr<CommandParser> parser_;
  std::unique_ptr<PrinterState> own_state_;
};

// PNG files: a three-colour palette (paper white, black, red). ReadPng takes
// any PNG and reads each dot as paper (white), red or black. False with
// `error` set on failure.
bool WritePng(const Image& image, const std::string& path, std::string* error);
bool ReadPng(const std::string& path, Image* image, std::string* error);

}  // namespace qz381::sim::render
