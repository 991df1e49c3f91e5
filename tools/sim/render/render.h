#pragma once
// Draws what the virtual QZ381 printed as the paper would show it: 80 mm
// paper at 180 dpi, 512 printable dots a line with a blank margin either side.
//
// The renderer follows the command stream in standard mode: text goes into a
// line buffer (normal font 12 x 24 dots, compressed font 9 x 17, with
// emphasis, underline, reverse, upside-down, double width/height and the GS !
// factors) that
// is printed, aligned, on LF, ESC d, ESC J, a full line, an image or a cut.
// GS v 0 raster images are drawn dot for dot, ESC * column images as part of
// the line; cuts are a dashed line across the paper. Commands it does not draw
// yet (barcodes, symbols, two-colour graphics, stored images, page mode) are
// counted, not drawn.
//
// Memory is bounded: the page never grows past `max_height` rows; anything
// below is dropped and counted, and images wider than the paper are clipped.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/command_parser.h"
#include "tools/sim/printer_state.h"

namespace qz381::sim::render {

// 8-bit grey, row by row: 0 is ink, 255 is paper.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  bool Ink(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           pixels[static_cast<size_t>(y) * width + x] < 128;
  }
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
  // When set, every cut ends the page: the page drawn so far (cut mark
  // included) is handed over and a new one begins. Unset: one long strip with
  // the cut marks on it.
  std::function<void(Image)> on_page;
};

struct RenderStats {
  uint64_t commands = 0;
  uint64_t unsupported = 0;     // commands that print something not drawn yet
  uint64_t placeholders = 0;    // characters without a glyph, drawn as a box
  uint64_t clipped_images = 0;  // images cut at the paper's edge or data short
  uint64_t dropped_rows = 0;    // rows of feed or drawing past max_height
  uint64_t pages = 0;           // pages handed to on_page
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

  // The current page with whatever the line buffer holds printed; the page
  // itself is not changed.
  Image Snapshot() const;

  const RenderStats& stats() const { return stats_; }
  // Nothing drawn, fed or waiting in the line buffer since the last page.
  bool Empty() const;

 private:
  struct Glyph;
  // Prints the line buffer at the current position; its height (0 when empty).
  int PrintLine(const PrinterState& state);
  void Text(const std::string& text, const PrinterState& state);
  void Raster(const Command& command, const PrinterState& state);
  void ColumnImage(const Command& command, const PrinterState& state);
  void DrawColumns(const Glyph& image, int x, int64_t bottom);
  void Cut(const PrinterState& state);
  void Advance(int64_t dots);
  void SetInk(int x, int64_t y);
  void Plot(int x, int64_t y);  // SetInk through the line's upside-down turn
  void DrawGlyph(const Glyph& glyph, int x, int64_t bottom);

  RenderOptions options_;
  RenderStats stats_;
  std::vector<uint8_t> ink_;  // kPaperWidth per row, 1 = ink
  int64_t y_ = 0;             // the top of the next line, dots from the top of the page
  std::vector<Glyph> line_;   // the line buffer
  int line_width_ = 0;        // dots taken by line_
  bool flip_ = false;         // drawing an upside-down line
  int flip_x_ = 0;
  int64_t flip_y_ = 0;
  std::unique_ptr<CommandParser> parser_;
  std::unique_ptr<PrinterState> own_state_;
};

// PNG files (8-bit greyscale). False with `error` set on failure.
bool WritePng(const Image& image, const std::string& path, std::string* error);
bool ReadPng(const std::string& path, Image* image, std::string* error);

}  // namespace qz381::sim::render
