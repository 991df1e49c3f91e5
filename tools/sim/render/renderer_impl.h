#pragma once
// The renderer's state and the helpers its parts share. Internal to the
// renderer: each command family draws in its own file.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "tools/sim/render/barcode.h"
#include "tools/sim/render/font.h"
#include "tools/sim/render/render.h"
#include "tools/sim/render/typeface.h"

namespace qz381::sim::render {

// The printable area the settings leave, in dots from the left printable dot.
struct Area {
  int left = 0;
  int width = kPrintableDots;
};

inline Area AreaOf(const PrinterState& state) {
  Area area;
  area.left = std::clamp(state.left_margin, 0, kPrintableDots - 1);
  area.width = std::clamp(state.print_width, 1, kPrintableDots - area.left);
  return area;
}

// How far into a space `room` dots wide something `width` dots wide starts.
inline int AlignedOffset(Alignment alignment, int room, int width) {
  const int free = std::max(0, room - width);
  switch (alignment) {
    case Alignment::kCentre:
      return free / 2;
    case Alignment::kRight:
      return free;
    case Alignment::kLeft:
      break;
  }
  return 0;
}

inline int Factor(bool doubled, int factor) {
  return std::clamp(std::max(factor, doubled ? 2 : 1), 1, 8);
}

inline uint16_t Le16(const std::string& data, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1])
                                                                    << 8);
}

// The line buffer holds no more characters and images than this; more can
// only come from moving back along the line (ESC $, ESC \) without printing.
inline constexpr size_t kMaxLineGlyphs = 2048;

// Dots of one colour each, row by row: where drawing lands. The paper grows
// downwards as it is drawn on, never past `limit` rows.
class Canvas {
 public:
  Canvas(int width, int64_t limit) : width_(width), limit_(limit) {}

  // Black wins where both colours are struck on one dot.
  void Set(int x, int64_t y, uint8_t colour) {
    if (x < 0 || x >= width_ || y < 0 || y >= limit_) return;
    const size_t row = static_cast<size_t>(y);
    if ((row + 1) * width_ > dots_.size()) dots_.resize((row + 1) * width_, kPaper);
    uint8_t& dot = dots_[row * width_ + x];
    if (dot != kBlack) dot = colour;
  }
  uint8_t Get(int x, int64_t y) const {
    const size_t index = static_cast<size_t>(y) * width_ + x;
    return index < dots_.size() ? dots_[index] : uint8_t{kPaper};
  }
  int width() const { return width_; }
  int64_t limit() const { return limit_; }
  int64_t rows() const { return static_cast<int64_t>(dots_.size() / width_); }
  bool empty() const { return dots_.empty(); }
  const std::vector<uint8_t>& dots() const { return dots_; }
  void Clear() { dots_.clear(); }

 private:
  int width_;
  int64_t limit_;
  std::vector<uint8_t> dots_;
};

// A picture placed as a whole: raster images, graphics, barcodes, symbols.
struct Block {
  int width = 0, height = 0;
  std::vector<uint8_t> dots;  // a Colour each
  void Resize(int w, int h) {
    width = w, height = h;
    dots.assign(static_cast<size_t>(w) * h, kPaper);
  }
  void Set(int x, int y, uint8_t colour) {
    uint8_t& dot = dots[static_cast<size_t>(y) * width + x];
    if (dot != kBlack) dot = colour;
  }
};

// Column-major image data (GS *, FS q, ESC &): `columns` columns of
// `column_bytes` bytes, top bit first, into a block; what the data lacks stays
// blank.
Block ColumnMajor(std::string_view data, int columns, int column_bytes);

struct Renderer::Impl {
  struct Glyph {
    uint8_t byte = ' ';
    int font = 0;
    int code_table = 0, international = 0;
    int x = 0;  // from the start of the line
    int cell_width = 0, cell_height = 0;
    int width_factor = 1, height_factor = 1;
    bool bold = false;
    bool reverse = false;
    int underline = 0;
    uint8_t colour = kBlack;
    // A user-defined character (ESC &) in place of the font's; shared, so that
    // redefining or cancelling it leaves the line buffer's copy alone.
    std::shared_ptr<const Cell> user;
    // An ESC * column image instead of a character: `column_bytes` bytes a
    // column (top bit first), each bit a dot_width x dot_height block.
    std::vector<uint8_t> columns;
    int column_bytes = 0;
    int dot_width = 1, dot_height = 1;
  };

  // Where the next line goes: the left edge and width of the space it is
  // aligned in, and its top row.
  struct Frame {
    int left = 0, width = 0;
    int64_t top = 0;
  };

  Impl(RenderOptions options, RenderStats& stats)
      : options(std::move(options)),
        stats(stats),
        paper(kPaperWidth, this->options.max_height),
        page(1, 1) {}

  void OnCommand(const Command& command, const PrinterState& state);
  void Error(const std::string& what);

  // Text and the line buffer.
  uint8_t ColourOf(int colour) const {
    return colour == 1 && options.two_colour ? uint8_t{kRed} : uint8_t{kBlack};
  }
  void Text(const std::string& text, const PrinterState& state);
  void HorizontalTab(const PrinterState& state);
  // Whether the line buffer takes one more character or image; reported once
  // a line when it does not.
  bool LineHasRoom();
  void ColumnImage(const Command& command, const PrinterState& state);
  int PrintLine(const PrinterState& state);
  void LineFeed(const PrinterState& state, int64_t units);
  void DrawGlyph(const Glyph& glyph, int x, int64_t bottom);
  void DrawColumns(const Glyph& image, int x, int64_t bottom);
  Frame FrameOf(const PrinterState& state) const;

  // Pictures.
  void Raster(const Command& command, const PrinterState& state);
  void Graphics(const Command& command, const PrinterState& state);
  // Prints the line buffer, then the block aligned below it. An image wider
  // than the line (`announced_width`, when the block holds only its visible
  // part) is clipped at the line's end and reported.
  void PlaceBlock(const Block& block, const PrinterState& state, const char* what,
                  int announced_width = 0);
  int64_t RoomBelow(const PrinterState& state) const;

  void Cut(const Command& command, const PrinterState& state);
  void DefineDownloadImage(const Command& command);
  void DefineNvImages(const Command& command);
  void PrintStoredImage(const Block* image, int mode, const PrinterState& state, const char* what,
                        int defined_width);
  void DefineUserChars(const Command& command, const PrinterState& state);
  void Barcode(const Command& command, const PrinterState& state);
  void Symbol(const Command& command, const PrinterState& state);
  // Draws the readable text of a barcode in `font`, centred over `span` dots
  // from `left`, at the top of the current line; returns the text's height.
  int Hri(const std::string& text, int font, int left, int span, const PrinterState& state);

  // Page mode.
  void EnterPageMode(const PrinterState& state);
  void SetUpPage(const PrinterState& state);
  void PrintPage(bool keep);
  int LogicalPageWidth() const { return page_direction % 2 == 0 ? page.width() : page_height; }
  int LogicalPageHeight() const { return page_direction % 2 == 0 ? page_height : page.width(); }

  // Moving and marking.
  void Advance(int64_t dots);  // on the paper, or the cursor in page mode
  void FeedPaper(int64_t dots);
  void AdvanceUnits(int64_t units);
  void Dot(int x, int64_t y, uint8_t colour);  // through the upside-down turn
  // Whether any of the w x h dots from (x, top), turned as Dot turns them,
  // can land on the paper or the page.
  bool Lands(int x, int64_t top, int w, int64_t h) const;
  void Mark(int x, int64_t y, uint8_t colour);  // on the paper or the page
  bool Empty() const { return paper.empty() && y == 0 && !page_active; }
  Image Snapshot() const;

  RenderOptions options;
  RenderStats& stats;
  Canvas paper;
  int64_t y = 0;       // the top of the next line, dots from the top of the page
  int feed_carry = 0;  // a motion unit left over from odd feeds
  bool dropped_reported = false;
  std::vector<Glyph> line;  // the line buffer
  int line_width = 0;       // dots taken by line
  int printed_height = 0;   // a line printed by CR and not fed yet
  bool line_full_reported = false;
  bool flip = false;  // drawing an upside-down line
  int flip_x = 0;
  int64_t flip_y = 0;
  // A standard-mode line prints between its frame's edges, never into the
  // margins.
  int clip_left = 0, clip_right = kPaperWidth;

  // Page mode: the print area, `page.width()` x page_height dots as it lies on
  // the paper, and a cursor in the direction of print.
  bool page_active = false;
  Canvas page;
  int page_height = 1;
  int page_left = 0, page_top = 0;  // the area's place on the paper
  int page_direction = 0;
  int page_x = 0;
  int64_t page_y = 0;

  // GS ( L / GS 8 L: the graphics stored for the next print function.
  Block graphics;
  int graphics_width = 0;  // as announced, which may be wider than the paper

  // Stored images: GS * (one, downloaded) and FS q (numbered from 1); and
  // the user-defined characters of ESC & for each font, ESC % switching them on.
  struct NvImage {
    Block kept;     // what can land on the paper
    int width = 0;  // as defined
  };
  Block download_image;
  std::vector<NvImage> nv_images;
  std::map<uint8_t, std::shared_ptr<const Cell>> user_chars[2];
  bool user_chars_on = false;

  SymbolStore symbols;                             // GS ( k settings and data
  const Typeface* typeface = Typeface::Default();  // nullptr: the built-in glyphs
};

}  // namespace qz381::sim::render
