#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "tools/sim/render/barcode.h"
#include "tools/sim/render/font.h"
#include "tools/sim/render/render.h"
#include "tools/sim/render/typeface.h"

namespace qz381::sim::render {
namespace {

// The printable area the settings leave, in dots from the left printable dot.
struct Area {
  int left = 0;
  int width = kPrintableDots;
};

Area AreaOf(const PrinterState& state) {
  Area area;
  area.left = std::clamp(state.left_margin, 0, kPrintableDots - 1);
  area.width = std::clamp(state.print_width, 1, kPrintableDots - area.left);
  return area;
}

// How far into a space `room` dots wide something `width` dots wide starts.
int AlignedOffset(Alignment alignment, int room, int width) {
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

int Factor(bool doubled, int factor) {
  return std::clamp(std::max(factor, doubled ? 2 : 1), 1, 8);
}

uint16_t Le16(const std::string& data, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1])
                                                                    << 8);
}

const char* UndrawnWhat(const Command& command) {
  switch (command.op) {
    case Op::kExecuteMacro:
      return "macro (GS ^)";
    case Op::kReverseFeedDots:
      return "reverse feed (ESC K)";
    case Op::kReverseFeedLines:
      return "reverse feed (ESC e)";
    case Op::kMotionUnits:
      return "motion units (GS P); 1/180 inch across and 1/360 inch down are kept";
    case Op::kRotate90:
      return !command.params.empty() && (command.params[0] & 1) != 0 ? "90-degree rotation (ESC V)"
                                                                     : nullptr;
    default:
      return nullptr;
  }
}

// The line buffer holds no more characters and images than this; more can
// only come from moving back along the line (ESC $, ESC \) without printing.
constexpr size_t kMaxLineGlyphs = 2048;

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

}  // namespace

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

void Renderer::Impl::Error(const std::string& what) {
  ++stats.errors;
  if (options.on_error) options.on_error(what);
}

void Renderer::Impl::OnCommand(const Command& command, const PrinterState& state) {
  ++stats.commands;
  if (command.truncated) {
    if (command.op == Op::kRasterImage || command.op == Op::kGraphics ||
        command.op == Op::kBitImage) {
      ++stats.clipped_images;
    }
    Error(command.name + ": the data ended inside the command; not printed");
    return;
  }
  if (const char* what = UndrawnWhat(command)) {
    ++stats.unsupported;
    Error(std::string("not drawn: ") + what);
    return;
  }
  const int n = command.params.empty() ? 0 : command.params[0];
  switch (command.op) {
    case Op::kText:
      if (state.selected) Text(command.data, state);
      break;
    case Op::kHorizontalTab:
      HorizontalTab(state);
      break;
    case Op::kRelativePosition:
      if (command.params.size() >= 2) {
        const auto move = static_cast<int16_t>(n | command.params[1] << 8);
        line_width = std::clamp(line_width + move, 0, FrameOf(state).width);
      }
      break;
    case Op::kPageRelativeVertical:
      if (page_active && command.params.size() >= 2) {
        const auto units = static_cast<int16_t>(n | command.params[1] << 8);
        page_y = std::clamp<int64_t>(page_y + units / kMotionUnitsPerDot, 0, LogicalPageHeight());
      }
      break;
    case Op::kAbsolutePosition: {
      const int position = std::clamp<int>(state.absolute_position, 0,
                                           page_active ? LogicalPageWidth() : kPrintableDots);
      if (page_active && line.empty()) {
        page_x = std::min(position, LogicalPageWidth() - 1);
      } else {
        line_width = std::clamp(position - (page_active ? page_x : 0), 0, FrameOf(state).width);
      }
      break;
    }
    case Op::kLineFeed:
      LineFeed(state, state.line_spacing);
      break;
    case Op::kCarriageReturn:
      // Prints the line without feeding: what follows strikes the same line.
      printed_height = std::max(printed_height, PrintLine(state));
      break;
    case Op::kFeedLines:
      if (n == 0) {
        Advance(std::max(PrintLine(state), printed_height));
        printed_height = 0;
      } else {
        LineFeed(state, state.line_spacing);
        AdvanceUnits(int64_t{n - 1} * state.line_spacing);
      }
      break;
    case Op::kFeedDots:
      LineFeed(state, n);
      break;
    case Op::kInitialize:
      line.clear();
      line_width = 0;
      page_active = false;
      page.Clear();
      graphics = Block{};
      graphics_width = 0;
      symbols.Reset();
      download_image = Block{};
      user_chars[0].clear();
      user_chars[1].clear();
      user_chars_on = false;
      break;
    case Op::kRasterImage:
      Raster(command, state);
      break;
    case Op::kBitImage:
      if (state.selected) ColumnImage(command, state);
      break;
    case Op::kGraphics:
      Graphics(command, state);
      break;
    case Op::kBarcode:
      if (state.selected) Barcode(command, state);
      break;
    case Op::kSymbol:
      Symbol(command, state);
      break;
    case Op::kDefineDownloadImage:
      DefineDownloadImage(command);
      break;
    case Op::kPrintDownloadImage:
      PrintStoredImage(download_image.width > 0 ? &download_image : nullptr, n, state, "GS /",
                       download_image.width);
      break;
    case Op::kDefineNvImages:
      DefineNvImages(command);
      break;
    case Op::kPrintNvImage: {
      const bool stored = n >= 1 && static_cast<size_t>(n) <= nv_images.size();
      PrintStoredImage(stored ? &nv_images[n - 1].kept : nullptr,
                       command.params.size() >= 2 ? command.params[1] : 0, state, "FS p",
                       stored ? nv_images[n - 1].width : 0);
      break;
    }
    case Op::kDefineUserChars:
      DefineUserChars(command, state);
      break;
    case Op::kUserCharSet:
      user_chars_on = (n & 1) != 0;
      break;
    case Op::kCancelUserChar:
      user_chars[0].erase(static_cast<uint8_t>(n));
      user_chars[1].erase(static_cast<uint8_t>(n));
      break;
    case Op::kCut:
    case Op::kFullCutLegacy:
    case Op::kPartialCutLegacy:
      Cut(command, state);
      break;
    case Op::kPageMode:
      if (!page_active) EnterPageMode(state);
      break;
    case Op::kPageArea:
    case Op::kPageDirection:
      if (page_active) SetUpPage(state);
      break;
    case Op::kPageVerticalPosition:
      if (page_active) {
        // Motion units from the top of the area.
        const int units = command.params.size() >= 2 ? n | command.params[1] << 8 : 0;
        page_y = std::min(units / kMotionUnitsPerDot, LogicalPageHeight());
      }
      break;
    case Op::kFormFeed:
      if (page_active) {
        PrintLine(state);
        PrintPage(false);
        page_active = false;
      }
      break;
    case Op::kPrintPage:
      if (page_active) {
        PrintLine(state);
        PrintPage(true);
      }
      break;
    case Op::kCancelPage:
      if (page_active) {
        line.clear();
        line_width = 0;
        page.Clear();
      }
      break;
    case Op::kStandardMode:
      if (page_active) {
        line.clear();
        line_width = 0;
        page.Clear();
        page_active = false;
      }
      break;
    default:
      break;
  }
}

Renderer::Impl::Frame Renderer::Impl::FrameOf(const PrinterState& state) const {
  Frame frame;
  if (page_active) {
    frame.left = page_x;
    frame.width = std::max(1, LogicalPageWidth() - page_x);
    frame.top = page_y;
  } else {
    const Area area = AreaOf(state);
    frame.left = kPaperMargin + area.left;
    frame.width = area.width;
    frame.top = y;
  }
  return frame;
}

void Renderer::Impl::Text(const std::string& text, const PrinterState& state) {
  const TextStyle& style = state.style;
  for (const char c : text) {
    Glyph glyph;
    glyph.byte = static_cast<uint8_t>(c);
    glyph.font = style.font == 1 ? 1 : 0;
    glyph.code_table = state.code_table;
    glyph.international = state.international_set;
    glyph.width_factor = Factor(style.double_width, style.width_factor);
    glyph.height_factor = Factor(style.double_height, style.height_factor);
    const int base_width = glyph.font == 1 ? kFontBWidth : kFontAWidth;
    const int base_height = glyph.font == 1 ? kFontBHeight : kFontAHeight;
    glyph.cell_width =
        std::min(kPrintableDots,
                 (base_width + std::clamp(state.right_spacing, 0, 255)) * glyph.width_factor);
    glyph.cell_height = base_height * glyph.height_factor;
    glyph.bold = style.emphasis || style.double_strike;
    glyph.reverse = style.reverse;
    glyph.underline = std::clamp(style.underline, 0, 2);
    glyph.colour = ColourOf(style.colour);
    if (user_chars_on) {
      const auto& defined = user_chars[glyph.font];
      if (const auto it = defined.find(glyph.byte); it != defined.end()) glyph.user = it->second;
    }
    // A character that does not fit on the line starts the next one.
    if (!line.empty() && line_width + glyph.cell_width > FrameOf(state).width) {
      LineFeed(state, state.line_spacing);
    }
    if (!LineHasRoom()) return;
    glyph.x = line_width;
    line_width += glyph.cell_width;
    line.push_back(glyph);
  }
}

bool Renderer::Impl::LineHasRoom() {
  if (line.size() < kMaxLineGlyphs) return true;
  if (!line_full_reported) {
    line_full_reported = true;
    Error("line buffer full (" + std::to_string(kMaxLineGlyphs) +
          " characters and images); the rest of the line is dropped");
  }
  return false;
}

void Renderer::Impl::HorizontalTab(const PrinterState& state) {
  // Stops are counted in cells of the font in use with its right spacing;
  // without ESC D, every eight cells. Past the last stop, HT does nothing.
  const int cell = ((state.style.font == 1 ? kFontBWidth : kFontAWidth) +
                    std::clamp(state.right_spacing, 0, 255)) *
                   Factor(state.style.double_width, state.style.width_factor);
  int stop = -1;
  if (state.tab_stops.empty()) {
    stop = (line_width / (8 * cell) + 1) * 8 * cell;
  } else {
    for (const int column : state.tab_stops) {
      if (column * cell > line_width) {
        stop = column * cell;
        break;
      }
    }
  }
  if (stop > line_width) line_width = std::min(FrameOf(state).width, stop);
}

void Renderer::Impl::ColumnImage(const Command& command, const PrinterState& state) {
  if (command.params.size() < 3) return;
  const int mode = command.params[0];
  Glyph image;
  image.colour = ColourOf(state.style.colour);
  // The head prints 8-dot images at its full vertical density, so strips sent
  // with an 8-dot line spacing meet without a gap; single density doubles
  // each column.
  switch (mode) {
    case 0:
      image.dot_width = 2, image.column_bytes = 1;
      break;
    case 1:
      image.dot_width = 1, image.column_bytes = 1;
      break;
    case 32:
      image.dot_width = 2, image.column_bytes = 3;
      break;
    case 33:
      image.dot_width = 1, image.column_bytes = 3;
      break;
    default:
      ++stats.unsupported;
      Error("ESC *: image mode " + std::to_string(mode) + " is not one the printer has");
      return;
  }
  const int announced = command.params[1] | command.params[2] << 8;
  // Columns past the end of the line are dropped, as the printer does.
  const int room = (FrameOf(state).width - line_width) / image.dot_width;
  const int columns = std::min(announced, std::max(0, room));
  if (columns < announced) {
    ++stats.clipped_images;
    Error("ESC *: " + std::to_string(announced - columns) +
          " columns past the end of the line dropped");
  }
  if (columns == 0 || !LineHasRoom()) return;
  const size_t size = static_cast<size_t>(columns) * image.column_bytes;
  image.columns.assign(size, 0);
  std::copy_n(command.data.begin(), std::min(size, command.data.size()), image.columns.begin());
  image.x = line_width;
  image.cell_width = columns * image.dot_width;
  image.cell_height = image.column_bytes * 8 * image.dot_height;
  line_width += image.cell_width;
  line.push_back(std::move(image));
}

void Renderer::Impl::LineFeed(const PrinterState& state, int64_t units) {
  const int height = std::max(PrintLine(state), printed_height);
  printed_height = 0;
  const int64_t total = units + feed_carry;
  const int64_t dots = total / kMotionUnitsPerDot;
  feed_carry = static_cast<int>(total % kMotionUnitsPerDot);
  Advance(std::max<int64_t>(dots, height));
}

int Renderer::Impl::PrintLine(const PrinterState& state) {
  int height = 0;
  for (const Glyph& glyph : line) height = std::max(height, glyph.cell_height);
  if (!line.empty()) {
    const Frame frame = FrameOf(state);
    const int start = frame.left + AlignedOffset(state.alignment, frame.width, line_width);
    // Upside down, the whole line turns about the centre of its box: the
    // frame's width by the line's height.
    flip = state.style.upside_down;
    flip_x = 2 * frame.left + frame.width - 1;
    flip_y = 2 * frame.top + height - 1;
    if (!page_active) {
      clip_left = frame.left;
      clip_right = frame.left + frame.width;
    }
    // Characters of different heights share the line's bottom.
    for (const Glyph& glyph : line) {
      if (glyph.column_bytes > 0) {
        DrawColumns(glyph, start + glyph.x, frame.top + height);
      } else {
        DrawGlyph(glyph, start + glyph.x, frame.top + height);
      }
    }
    if (page_active) page_x = 0;
  }
  flip = false;
  clip_left = 0;
  clip_right = kPaperWidth;
  line.clear();
  line_width = 0;
  line_full_reported = false;
  return height;
}

void Renderer::Impl::DrawColumns(const Glyph& image, int x, int64_t bottom) {
  const int64_t top = bottom - image.cell_height;
  if (!Lands(x, top, image.cell_width, image.cell_height)) return;
  const int columns = image.cell_width / image.dot_width;
  for (int c = 0; c < columns; ++c) {
    for (int b = 0; b < image.column_bytes; ++b) {
      const uint8_t bits = image.columns[static_cast<size_t>(c) * image.column_bytes + b];
      for (int k = 0; k < 8; ++k) {
        if (!((bits >> (7 - k)) & 1)) continue;
        for (int i = 0; i < image.dot_width; ++i) {
          for (int j = 0; j < image.dot_height; ++j) {
            Dot(x + c * image.dot_width + i, top + (b * 8 + k) * image.dot_height + j,
                image.colour);
          }
        }
      }
    }
  }
}

void Renderer::Impl::DrawGlyph(const Glyph& glyph, int x, int64_t bottom) {
  if (!Lands(x, bottom - glyph.cell_height, glyph.cell_width, glyph.cell_height)) return;
  const int base_width = glyph.font == 1 ? kFontBWidth : kFontAWidth;
  const int base_height = glyph.font == 1 ? kFontBHeight : kFontAHeight;
  const int wf = glyph.width_factor, hf = glyph.height_factor;
  const int cw = glyph.cell_width, ch = glyph.cell_height;
  std::vector<uint8_t> cell(static_cast<size_t>(cw) * ch, 0);
  auto set = [&](int cx, int cy) {
    if (cx >= 0 && cy >= 0 && cx < cw && cy < ch) cell[static_cast<size_t>(cy) * cw + cx] = 1;
  };
  const Cell* face = glyph.user != nullptr ? glyph.user.get()
                     : typeface != nullptr ? typeface->Glyph(glyph.font, glyph.code_table,
                                                             glyph.international, glyph.byte)
                                           : nullptr;
  const uint8_t* rows = face == nullptr && typeface == nullptr ? GlyphRows(glyph.byte) : nullptr;
  if (face == nullptr && rows == nullptr) ++stats.placeholders;
  // A placeholder, and the built-in 5 x 7 pattern, fill the cell less a
  // one-dot border left and top and a two-dot strip below.
  const int box_width = base_width - 2, box_height = base_height - 3;
  for (int dy = 0; dy < base_height * hf; ++dy) {
    for (int dx = 0; dx < base_width * wf; ++dx) {
      const int gx = dx / wf, gy = dy / hf;
      bool on;
      if (face != nullptr) {
        on = face->At(gx, gy);
      } else if (gx < 1 || gy < 1 || gx > box_width || gy > box_height) {
        on = false;
      } else if (rows != nullptr) {
        on = (rows[(gy - 1) * kGlyphHeight / box_height] >>
              (kGlyphWidth - 1 - (gx - 1) * kGlyphWidth / box_width)) &
             1;
      } else {
        on = gx == 1 || gy == 1 || gx == box_width || gy == box_height;  // outlined box
      }
      if (!on) continue;
      set(dx, dy);
      if (glyph.bold) set(dx + 1, dy);
    }
  }
  for (int u = 0; u < glyph.underline; ++u) {
    for (int cx = 0; cx < cw; ++cx) set(cx, ch - 1 - u);
  }
  const int64_t top = bottom - ch;
  for (int cy = 0; cy < ch; ++cy) {
    for (int cx = 0; cx < cw; ++cx) {
      if ((cell[static_cast<size_t>(cy) * cw + cx] != 0) != glyph.reverse) {
        Dot(x + cx, top + cy, glyph.colour);
      }
    }
  }
}

int64_t Renderer::Impl::RoomBelow(const PrinterState& state) const {
  return std::max<int64_t>(
      0, (page_active ? LogicalPageHeight() : options.max_height) - FrameOf(state).top);
}

void Renderer::Impl::PlaceBlock(const Block& block, const PrinterState& state, const char* what,
                                int announced_width) {
  Advance(std::max(PrintLine(state), printed_height));
  printed_height = 0;
  const Frame frame = FrameOf(state);
  announced_width = std::max(announced_width, block.width);
  if (announced_width > frame.width) {
    ++stats.clipped_images;
    Error(std::string(what) + ": " + std::to_string(announced_width) +
          " dots wide, clipped to the " + std::to_string(frame.width) + " dots of the line");
  }
  const int x0 =
      frame.left + AlignedOffset(state.alignment, frame.width, std::min(block.width, frame.width));
  const int right = frame.left + frame.width;
  const int64_t rows = std::min<int64_t>(block.height, RoomBelow(state));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < block.width && x0 + c < right; ++c) {
      const uint8_t colour = block.dots[static_cast<size_t>(r) * block.width + c];
      if (colour != kPaper) Mark(x0 + c, frame.top + r, colour);
    }
  }
  Advance(block.height);
}

void Renderer::Impl::Raster(const Command& command, const PrinterState& state) {
  if (command.params.size() < 5) return;
  const uint8_t mode = command.params[0] & 3;  // 0/48 normal, 1/49 double width, 2/50 double height
  const int sx = (mode & 1) ? 2 : 1, sy = (mode & 2) ? 2 : 1;
  const int row_bytes = command.params[1] | command.params[2] << 8;
  const int rows = command.params[3] | command.params[4] << 8;
  const std::string& data = command.data;
  if (data.size() < uint64_t{static_cast<uint64_t>(row_bytes)} * rows) {
    ++stats.clipped_images;
    Error("GS v 0: image data short of its size; the rest left blank");
  }
  Advance(std::max(PrintLine(state), printed_height));
  printed_height = 0;
  // Only the dots that can land on the paper are kept.
  const int announced = row_bytes * 8 * sx;
  const int width = std::min(announced, FrameOf(state).width);
  const int visible_rows = static_cast<int>(std::min<int64_t>(rows, RoomBelow(state) / sy));
  Block block;
  block.Resize(width, visible_rows * sy);
  const uint8_t colour = ColourOf(state.style.colour);
  for (int r = 0; r < visible_rows; ++r) {
    for (int x = 0; x < width; ++x) {
      const size_t index = static_cast<size_t>(r) * row_bytes + x / (8 * sx);
      if (index >= data.size()) break;
      if (!((static_cast<uint8_t>(data[index]) >> (7 - (x / sx) % 8)) & 1)) continue;
      for (int j = 0; j < sy; ++j) block.Set(x, r * sy + j, colour);
    }
  }
  PlaceBlock(block, state, "GS v 0", announced);
  Advance(int64_t{rows - visible_rows} * sy);
}

void Renderer::Impl::Graphics(const Command& command, const PrinterState& state) {
  const std::string& data = command.data;
  if (data.size() < 2) return;
  const uint8_t fn = static_cast<uint8_t>(data[1]);
  if (fn == 0x32 || fn == 2) {  // print the graphics stored
    if (graphics.width == 0) {
      Error("graphics: print asked for with nothing stored");
      return;
    }
    PlaceBlock(graphics, state, "graphics", graphics_width);
    graphics = Block{};
    graphics_width = 0;
    return;
  }
  if (fn != 0x70) {
    ++stats.unsupported;
    Error("graphics: function " + std::to_string(fn) + " not drawn");
    return;
  }
  // m fn a bx by c xL xH yL yH, then the plane's rows.
  if (data.size() < 10) {
    Error("graphics: store function too short");
    return;
  }
  const int bx = static_cast<uint8_t>(data[3]) == 2 ? 2 : 1;
  const int by = static_cast<uint8_t>(data[4]) == 2 ? 2 : 1;
  const int plane = static_cast<uint8_t>(data[5]);
  const int width = Le16(data, 6), height = Le16(data, 8);
  const int row_bytes = (width + 7) / 8;
  if (data.size() - 10 < static_cast<size_t>(row_bytes) * height) {
    ++stats.clipped_images;
    Error("graphics: plane data short of its size; the rest left blank");
  }
  graphics_width = std::max(graphics_width, width * bx);
  // The buffer keeps what can land on the paper.
  const int keep_width =
      std::min(width * bx, page_active ? LogicalPageWidth() : int{kPrintableDots});
  const int keep_height =
      static_cast<int>(std::min<int64_t>(int64_t{height} * by, RoomBelow(state)));
  if (keep_width == 0 || keep_height == 0) return;  // nothing of it can land on the paper
  if (keep_width > graphics.width || keep_height > graphics.height) {
    Block grown;
    grown.Resize(std::max(keep_width, graphics.width), std::max(keep_height, graphics.height));
    for (int r = 0; r < graphics.height; ++r) {
      std::copy_n(&graphics.dots[static_cast<size_t>(r) * graphics.width], graphics.width,
                  &grown.dots[static_cast<size_t>(r) * grown.width]);
    }
    graphics = std::move(grown);
  }
  const uint8_t colour = plane == 50 ? ColourOf(1) : uint8_t{kBlack};
  for (int r = 0; r * by < keep_height; ++r) {
    for (int x = 0; x * bx < keep_width; ++x) {
      const size_t index = 10 + static_cast<size_t>(r) * row_bytes + x / 8;
      if (index >= data.size()) break;
      if (!((static_cast<uint8_t>(data[index]) >> (7 - x % 8)) & 1)) continue;
      for (int i = 0; i < bx; ++i) {
        for (int j = 0; j < by; ++j) {
          if (x * bx + i < keep_width && r * by + j < keep_height) {
            graphics.Set(x * bx + i, r * by + j, colour);
          }
        }
      }
    }
  }
}

void Renderer::Impl::Barcode(const Command& command, const PrinterState& state) {
  if (command.params.empty()) return;
  if (RoomBelow(state) == 0) return;  // the page is full; its end is reported
  LinearSymbol symbol;
  std::string error;
  if (!DrawLinearBarcode(command.params[0], command.data, state.barcode, &symbol, &error)) {
    ++stats.refused_symbols;
    Error("GS k: " + error + "; nothing printed");
    return;
  }
  Advance(std::max(PrintLine(state), printed_height));
  printed_height = 0;
  const Frame frame = FrameOf(state);
  const int span = std::min(symbol.bars.width, frame.width);
  const int left = frame.left + AlignedOffset(state.alignment, frame.width, span);
  const int font = state.barcode.hri_font == 1 ? 1 : 0;
  if (state.barcode.hri_position & 1) Advance(Hri(symbol.hri, font, left, span, state));
  Block bars;
  bars.Resize(symbol.bars.width, symbol.bars.height);
  const uint8_t colour = ColourOf(state.style.colour);
  for (size_t i = 0; i < bars.dots.size(); ++i) {
    if (symbol.bars.dots[i] != 0) bars.dots[i] = colour;
  }
  PlaceBlock(bars, state, "GS k");
  if (state.barcode.hri_position & 2) Advance(Hri(symbol.hri, font, left, span, state));
}

int Renderer::Impl::Hri(const std::string& text, int font, int left, int span,
                        const PrinterState& state) {
  const int width = font == 1 ? kFontBWidth : kFontAWidth;
  const int height = font == 1 ? kFontBHeight : kFontAHeight;
  const Frame frame = FrameOf(state);
  const int total = static_cast<int>(text.size()) * width;
  int x = std::max(frame.left, left + (span - total) / 2);
  for (const char c : text) {
    if (x + width > frame.left + frame.width) break;  // the text ends at the line's end
    Glyph glyph;
    glyph.byte = static_cast<uint8_t>(c);
    glyph.font = font;
    glyph.cell_width = width;
    glyph.cell_height = height;
    glyph.colour = ColourOf(state.style.colour);
    DrawGlyph(glyph, x, frame.top + height);
    x += width;
  }
  return height;
}

void Renderer::Impl::Symbol(const Command& command, const PrinterState& state) {
  // A print (fn 81) on a full page would draw a symbol nothing of which lands.
  constexpr uint8_t kPrintFunction = 81;
  if (command.data.size() >= 2 && static_cast<uint8_t>(command.data[1]) == kPrintFunction &&
      RoomBelow(state) == 0) {
    return;
  }
  Bitmap bitmap;
  std::string error;
  if (!symbols.Apply(command, &bitmap, &error)) {
    if (!error.empty()) {
      ++stats.refused_symbols;
      Error("GS ( k: " + error);
    }
    return;
  }
  Block block;
  block.Resize(bitmap.width, bitmap.height);
  const uint8_t colour = ColourOf(state.style.colour);
  for (size_t i = 0; i < block.dots.size(); ++i) {
    if (bitmap.dots[i] != 0) block.dots[i] = colour;
  }
  PlaceBlock(block, state, "GS ( k");
}

namespace {

// Column-major image data (GS *, FS q, ESC &): `columns` columns of
// `column_bytes` bytes, top bit first, into a block; what the data lacks stays
// blank.
Block ColumnMajor(std::string_view data, int columns, int column_bytes) {
  Block block;
  block.Resize(columns, column_bytes * 8);
  for (int c = 0; c < columns; ++c) {
    for (int b = 0; b < column_bytes; ++b) {
      const size_t at = static_cast<size_t>(c) * column_bytes + b;
      if (at >= data.size()) return block;
      const auto bits = static_cast<uint8_t>(data[at]);
      for (int k = 0; k < 8; ++k) {
        if ((bits >> (7 - k)) & 1) block.Set(c, b * 8 + k, kBlack);
      }
    }
  }
  return block;
}

}  // namespace

void Renderer::Impl::DefineDownloadImage(const Command& command) {
  if (command.params.size() < 2) return;
  // x * 8 dots across, y * 8 dots down.
  const int x = command.params[0], y = command.params[1];
  download_image = x == 0 || y == 0 ? Block{} : ColumnMajor(command.data, x * 8, y);
}

void Renderer::Impl::DefineNvImages(const Command& command) {
  // Every definition replaces all the images stored before.
  nv_images.clear();
  const std::string& data = command.data;
  size_t at = 0;
  while (at + 4 <= data.size()) {
    const int x = Le16(data, at), y = Le16(data, at + 2);
    const uint64_t size = uint64_t{static_cast<uint32_t>(x)} * y * 8;
    at += 4;
    // Only what can land on the paper is kept of each image.
    const int columns = std::min(x * 8, kPrintableDots);
    const int column_bytes = std::min(y, options.max_height / 8 + 1);
    Block image;
    image.Resize(columns, column_bytes * 8);
    for (int c = 0; c < columns; ++c) {
      for (int b = 0; b < column_bytes; ++b) {
        const uint64_t offset = at + uint64_t{static_cast<uint32_t>(c)} * y + b;
        if (offset >= data.size()) break;
        const auto bits = static_cast<uint8_t>(data[offset]);
        for (int k = 0; k < 8; ++k) {
          if ((bits >> (7 - k)) & 1) image.Set(c, b * 8 + k, kBlack);
        }
      }
    }
    nv_images.push_back({std::move(image), x * 8});
    if (size > data.size() - at) break;
    at += size;
  }
}

void Renderer::Impl::PrintStoredImage(const Block* image, int mode, const PrinterState& state,
                                      const char* what, int defined_width) {
  if (image == nullptr) {
    Error(std::string(what) + ": no such image stored; nothing printed");
    return;
  }
  // Modes 0-3 (or 48-51): normal, double width, double height, both.
  const int m = mode >= 48 ? mode - 48 : mode;
  const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
  const int width = std::min(image->width * sx, FrameOf(state).width + 1);
  const int height = static_cast<int>(
      std::min<int64_t>(int64_t{image->height} * sy, std::max<int64_t>(RoomBelow(state), 0)));
  Block scaled;
  scaled.Resize(width, height);
  const uint8_t colour = ColourOf(state.style.colour);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (image->dots[static_cast<size_t>(y / sy) * image->width + x / sx] != kPaper) {
        scaled.Set(x, y, colour);
      }
    }
  }
  PlaceBlock(scaled, state, what, defined_width * sx);
}

void Renderer::Impl::DefineUserChars(const Command& command, const PrinterState& state) {
  if (command.params.size() < 3) return;
  const int font = state.style.font == 1 ? 1 : 0;
  const int cell_width = font == 1 ? kFontBWidth : kFontAWidth;
  const int cell_height = font == 1 ? kFontBHeight : kFontAHeight;
  const int y = command.params[0];
  const std::string& data = command.data;
  size_t at = 0;
  for (int code = command.params[1]; code <= command.params[2] && at < data.size(); ++code) {
    const int x = static_cast<uint8_t>(data[at++]);
    const Block columns =
        ColumnMajor(std::string_view(data).substr(std::min(at, data.size())), x, y);
    at += static_cast<size_t>(x) * y;
    // The pattern from the cell's top left; what lies outside the cell is lost.
    Cell cell;
    cell.width = cell_width;
    cell.height = cell_height;
    cell.dots.assign(static_cast<size_t>(cell_width) * cell_height, 0);
    for (int r = 0; r < std::min(columns.height, cell_height); ++r) {
      for (int c = 0; c < std::min(columns.width, cell_width); ++c) {
        cell.dots[static_cast<size_t>(r) * cell_width + c] =
            columns.dots[static_cast<size_t>(r) * columns.width + c] != kPaper;
      }
    }
    user_chars[font][static_cast<uint8_t>(code)] = std::make_shared<const Cell>(std::move(cell));
  }
}

void Renderer::Impl::Cut(const Command& command, const PrinterState& state) {
  if (page_active) {
    Error("cut ignored in page mode");
    return;
  }
  Advance(std::max(PrintLine(state), printed_height));
  printed_height = 0;
  // The feed-and-cut forms feed n motion units first.
  if (command.op == Op::kCut && command.params.size() >= 2) {
    AdvanceUnits(command.params[1]);
  }
  Advance(kCutGap);
  for (int x = 0; x < kPaperWidth; ++x) {
    if (x % (2 * kCutDash) < kCutDash) Mark(x, y, kBlack);
  }
  Advance(1 + kCutGap);
  if (options.on_page) {
    ++stats.pages;
    options.on_page(Snapshot());
    paper.Clear();
    y = 0;
    dropped_reported = false;
  }
}

void Renderer::Impl::EnterPageMode(const PrinterState& state) {
  Advance(std::max(PrintLine(state), printed_height));
  printed_height = 0;
  page_active = true;
  page.Clear();
  SetUpPage(state);
}

void Renderer::Impl::SetUpPage(const PrinterState& state) {
  const PageModeState& p = state.page;
  page_left = std::clamp(p.area_x, 0, kPrintableDots - 1);
  page_top = std::clamp(p.area_y, 0, options.max_height);
  const int width = std::clamp(p.area_width, 1, kPrintableDots - page_left);
  const int height = std::clamp(p.area_height, 1, options.max_height);
  if (width != page.width() || height != page_height) {
    if (!page.empty()) Error("page mode: print area changed with data in it; the data is dropped");
    page = Canvas(width, height);
    page_height = height;
  }
  page_direction = p.direction & 3;
  page_x = 0;
  page_y = 0;
}

void Renderer::Impl::PrintPage(bool keep) {
  // The area as it lies on the paper, below the standard-mode print so far.
  const int64_t rows = page_top + page_height;
  for (int64_t r = 0; r < page.rows(); ++r) {
    for (int c = 0; c < page.width(); ++c) {
      const uint8_t colour = page.Get(c, r);
      if (colour != kPaper) paper.Set(kPaperMargin + page_left + c, y + page_top + r, colour);
    }
  }
  FeedPaper(rows);
  if (!keep) page.Clear();
  page_x = 0;
  page_y = 0;
}

void Renderer::Impl::Advance(int64_t dots) {
  if (dots <= 0) return;
  if (page_active) {
    page_y = std::min<int64_t>(page_y + dots, LogicalPageHeight());
    return;
  }
  FeedPaper(dots);
}

void Renderer::Impl::FeedPaper(int64_t dots) {
  const int64_t limit = options.max_height;
  const int64_t before = y;
  y = std::min(limit, y + dots);
  const int64_t dropped = dots - (y - before);
  if (dropped > 0) {
    stats.dropped_rows += static_cast<uint64_t>(dropped);
    if (!dropped_reported) {
      dropped_reported = true;
      Error("page longer than " + std::to_string(limit) + " rows; the rest is not drawn");
    }
  }
}

void Renderer::Impl::AdvanceUnits(int64_t units) {
  const int64_t total = units + feed_carry;
  feed_carry = static_cast<int>(total % kMotionUnitsPerDot);
  Advance(total / kMotionUnitsPerDot);
}

void Renderer::Impl::Dot(int x, int64_t y0, uint8_t colour) {
  if (flip) {
    x = flip_x - x;
    y0 = flip_y - y0;
  }
  if (page_active || (x >= clip_left && x < clip_right)) Mark(x, y0, colour);
}

bool Renderer::Impl::Lands(int x, int64_t top, int w, int64_t h) const {
  if (flip) {
    x = flip_x - x - w + 1;
    top = flip_y - top - h + 1;
  }
  const int64_t width = page_active ? LogicalPageWidth() : std::min(clip_right, kPaperWidth);
  const int64_t left = page_active ? 0 : clip_left;
  const int64_t height = page_active ? LogicalPageHeight() : options.max_height;
  return x < width && int64_t{x} + w > left && top < height && top + h > 0;
}

void Renderer::Impl::Mark(int x, int64_t y0, uint8_t colour) {
  if (!page_active) {
    paper.Set(x, y0, colour);
    return;
  }
  // Page mode: (x, y0) in the direction of print, turned onto the area.
  const int w = page.width();
  const int64_t h = page_height;
  if (x < 0 || y0 < 0 || x >= LogicalPageWidth() || y0 >= LogicalPageHeight()) return;
  switch (page_direction) {
    case 0:
      page.Set(x, y0, colour);
      break;
    case 1:  // bottom to top, starting lower left
      page.Set(static_cast<int>(y0), h - 1 - x, colour);
      break;
    case 2:  // right to left, upside down
      page.Set(w - 1 - x, h - 1 - y0, colour);
      break;
    default:  // top to bottom, starting upper right
      page.Set(w - 1 - static_cast<int>(y0), x, colour);
      break;
  }
}

Image Renderer::Impl::Snapshot() const {
  Image image;
  image.width = kPaperWidth;
  image.height = static_cast<int>(std::max<int64_t>(1, std::max(paper.rows(), y)));
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, kPaper);
  std::copy(paper.dots().begin(), paper.dots().end(), image.pixels.begin());
  return image;
}

Renderer::Renderer(RenderOptions options) {
  options.max_height = std::clamp(options.max_height, 1, 1 << 20);
  impl_ = std::make_unique<Impl>(std::move(options), stats_);
}

Renderer::~Renderer() = default;

void Renderer::Feed(std::span<const uint8_t> bytes) {
  if (!parser_) {
    own_state_ = std::make_unique<PrinterState>();
    parser_ = std::make_unique<CommandParser>([this](const Command& command) {
      own_state_->Apply(command);
      OnCommand(command, *own_state_);
    });
  }
  parser_->Feed(bytes);
}

void Renderer::Feed(std::string_view bytes) {
  Feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

void Renderer::FinishStream() {
  if (parser_) parser_->Finish();
}

void Renderer::OnCommand(const Command& command, const PrinterState& state) {
  impl_->OnCommand(command, state);
}

bool Renderer::Empty() const {
  return impl_->Empty();
}

Image Renderer::Snapshot() const {
  return impl_->Snapshot();
}

}  // namespace qz381::sim::render
