#include <algorithm>

#include "tools/sim/render/font.h"
#include "tools/sim/render/render.h"

namespace qz381::sim::render {

struct Renderer::Glyph {
  uint8_t byte = ' ';
  int font = 0;
  int x = 0;  // from the start of the line
  int cell_width = 0, cell_height = 0;
  int width_factor = 1, height_factor = 1;
  bool bold = false;
  bool reverse = false;
  int underline = 0;
  // An ESC * column image instead of a character: `column_bytes` bytes a
  // column (top bit first), each bit a dot_width x dot_height block.
  std::vector<uint8_t> columns;
  int column_bytes = 0;
  int dot_width = 1, dot_height = 1;
};

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

// Where something `width` dots wide starts under the alignment in force.
int AlignedStart(const PrinterState& state, const Area& area, int width) {
  const int free = std::max(0, area.width - width);
  switch (state.alignment) {
    case Alignment::kCentre:
      return area.left + free / 2;
    case Alignment::kRight:
      return area.left + free;
    case Alignment::kLeft:
      break;
  }
  return area.left;
}

int Factor(bool doubled, int factor) {
  return std::clamp(std::max(factor, doubled ? 2 : 1), 1, 8);
}

bool PrintsUndrawn(Op op) {
  switch (op) {
    case Op::kGraphics:
    case Op::kSymbol:
    case Op::kBarcode:
    case Op::kPrintDownloadImage:
    case Op::kPrintNvImage:
    case Op::kPageMode:
    case Op::kUserCharSet:
    case Op::kExecuteMacro:
      return true;
    default:
      return false;
  }
}

}  // namespace

Renderer::Renderer(RenderOptions options) : options_(std::move(options)) {
  options_.max_height = std::clamp(options_.max_height, 1, 1 << 20);
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
  ++stats_.commands;
  if (command.truncated) {
    if (command.op == Op::kRasterImage) ++stats_.clipped_images;
    return;
  }
  if (PrintsUndrawn(command.op)) {
    ++stats_.unsupported;
    return;
  }
  const int n = command.params.empty() ? 0 : command.params[0];
  switch (command.op) {
    case Op::kText:
      if (state.selected) Text(command.data, state);
      break;
    case Op::kHorizontalTab: {
      // Tab stops every eight normal-font cells.
      constexpr int kTab = 8 * kFontAWidth;
      line_width_ = std::min(AreaOf(state).width, (line_width_ / kTab + 1) * kTab);
      break;
    }
    case Op::kLineFeed: {
      const int height = PrintLine(state);
      Advance(std::max(state.line_spacing, height));
      break;
    }
    case Op::kFeedLines: {
      const int height = PrintLine(state);
      Advance(n == 0 ? height
                     : std::max(state.line_spacing, height) + int64_t{n - 1} * state.line_spacing);
      break;
    }
    case Op::kFeedDots: {
      const int height = PrintLine(state);
      Advance(height > 0 ? std::max(n, height) : n);
      break;
    }
    case Op::kInitialize:
      line_.clear();
      line_width_ = 0;
      break;
    case Op::kRasterImage:
      Raster(command, state);
      break;
    case Op::kBitImage:
      if (state.selected) ColumnImage(command, state);
      break;
    case Op::kCut:
      // The feed-and-cut forms feed n dots first.
      if (command.params.size() >= 2) {
        Advance(PrintLine(state));
        Advance(command.params[1]);
      }
      Cut(state);
      break;
    case Op::kFullCutLegacy:
    case Op::kPartialCutLegacy:
      Cut(state);
      break;
    default:
      break;
  }
}

void Renderer::Text(const std::string& text, const PrinterState& state) {
  const TextStyle& style = state.style;
  const Area area = AreaOf(state);
  for (const char c : text) {
    Glyph glyph;
    glyph.byte = static_cast<uint8_t>(c);
    glyph.font = style.font == 1 ? 1 : 0;
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
    // A character that does not fit on the line starts the next one.
    if (!line_.empty() && line_width_ + glyph.cell_width > area.width) {
      Advance(std::max(state.line_spacing, PrintLine(state)));
    }
    glyph.x = line_width_;
    line_width_ += glyph.cell_width;
    line_.push_back(glyph);
  }
}

void Renderer::ColumnImage(const Command& command, const PrinterState& state) {
  if (command.params.size() < 3) return;
  const int mode = command.params[0];
  Glyph image;
  switch (mode) {
    case 0:  // 8 dots tall, single density: 60 x 90 dpi
      image.dot_width = 2, image.dot_height = 3, image.column_bytes = 1;
      break;
    case 1:  // 8 dots, double density: 60 x 180 dpi
      image.dot_width = 1, image.dot_height = 3, image.column_bytes = 1;
      break;
    case 32:  // 24 dots, single density: 180 x 90 dpi
      image.dot_width = 2, image.dot_height = 1, image.column_bytes = 3;
      break;
    case 33:  // 24 dots, double density: 180 x 180 dpi
      image.dot_width = 1, image.dot_height = 1, image.column_bytes = 3;
      break;
    default:
      ++stats_.unsupported;
      return;
  }
  const int announced = command.params[1] | command.params[2] << 8;
  // Columns past the end of the line are dropped, as the printer does.
  const int room = (AreaOf(state).width - line_width_) / image.dot_width;
  const int columns = std::min(announced, std::max(0, room));
  if (columns < announced) ++stats_.clipped_images;
  if (columns == 0) return;
  const size_t size = static_cast<size_t>(columns) * image.column_bytes;
  image.columns.assign(size, 0);
  std::copy_n(command.data.begin(), std::min(size, command.data.size()), image.columns.begin());
  image.x = line_width_;
  image.cell_width = columns * image.dot_width;
  image.cell_height = image.column_bytes * 8 * image.dot_height;
  line_width_ += image.cell_width;
  line_.push_back(std::move(image));
}

void Renderer::DrawColumns(const Glyph& image, int x, int64_t bottom) {
  const int64_t top = bottom - image.cell_height;
  if (top >= options_.max_height) return;
  const int columns = image.cell_width / image.dot_width;
  for (int c = 0; c < columns; ++c) {
    for (int b = 0; b < image.column_bytes; ++b) {
      const uint8_t bits = image.columns[static_cast<size_t>(c) * image.column_bytes + b];
      for (int k = 0; k < 8; ++k) {
        if (!((bits >> (7 - k)) & 1)) continue;
        for (int i = 0; i < image.dot_width; ++i) {
          for (int j = 0; j < image.dot_height; ++j) {
            Plot(x + c * image.dot_width + i, top + (b * 8 + k) * image.dot_height + j);
          }
        }
      }
    }
  }
}

int Renderer::PrintLine(const PrinterState& state) {
  int height = 0;
  for (const Glyph& glyph : line_) height = std::max(height, glyph.cell_height);
  if (!line_.empty()) {
    const Area area = AreaOf(state);
    const int start = AlignedStart(state, area, line_width_);
    // Upside down, the whole line turns about the centre of its box: the
    // printable area's width by the line's height.
    flip_ = state.style.upside_down;
    flip_x_ = 2 * (kPaperMargin + area.left) + area.width - 1;
    flip_y_ = 2 * y_ + height - 1;
    // Characters of different heights share the line's bottom.
    for (const Glyph& glyph : line_) {
      if (glyph.column_bytes > 0) {
        DrawColumns(glyph, kPaperMargin + start + glyph.x, y_ + height);
      } else {
        DrawGlyph(glyph, kPaperMargin + start + glyph.x, y_ + height);
      }
    }
  }
  flip_ = false;
  line_.clear();
  line_width_ = 0;
  return height;
}

void Renderer::DrawGlyph(const Glyph& glyph, int x, int64_t bottom) {
  if (bottom - glyph.cell_height >= options_.max_height) return;  // below the page's end
  const int base_width = glyph.font == 1 ? kFontBWidth : kFontAWidth;
  const int base_height = glyph.font == 1 ? kFontBHeight : kFontAHeight;
  // The pattern fills the cell less a one-dot border left and top and a
  // two-dot strip below, scaled by the character size.
  const int box_width = base_width - 2, box_height = base_height - 3;
  const int wf = glyph.width_factor, hf = glyph.height_factor;
  const int cw = glyph.cell_width, ch = glyph.cell_height;
  std::vector<uint8_t> cell(static_cast<size_t>(cw) * ch, 0);
  auto set = [&](int cx, int cy) {
    if (cx >= 0 && cy >= 0 && cx < cw && cy < ch) cell[static_cast<size_t>(cy) * cw + cx] = 1;
  };
  const uint8_t* rows = GlyphRows(glyph.byte);
  if (rows == nullptr) ++stats_.placeholders;
  for (int dy = 0; dy < box_height * hf; ++dy) {
    for (int dx = 0; dx < box_width * wf; ++dx) {
      bool on;
      if (rows == nullptr) {
        // No glyph: an outlined box.
        on = dx < wf || dy < hf || dx >= (box_width - 1) * wf || dy >= (box_height - 1) * hf;
      } else {
        const int gx = (dx / wf) * kGlyphWidth / box_width;
        const int gy = (dy / hf) * kGlyphHeight / box_height;
        on = (rows[gy] >> (kGlyphWidth - 1 - gx)) & 1;
      }
      if (!on) continue;
      set(wf + dx, hf + dy);
      if (glyph.bold) set(wf + dx + 1, hf + dy);
    }
  }
  for (int u = 0; u < glyph.underline; ++u) {
    for (int cx = 0; cx < cw; ++cx) set(cx, ch - 1 - u);
  }
  const int right = kPaperMargin + kPrintableDots;
  const int64_t top = bottom - ch;
  for (int cy = 0; cy < ch; ++cy) {
    for (int cx = 0; cx < cw && x + cx < right; ++cx) {
      if ((cell[static_cast<size_t>(cy) * cw + cx] != 0) != glyph.reverse) Plot(x + cx, top + cy);
    }
  }
}

void Renderer::Raster(const Command& command, const PrinterState& state) {
  if (command.params.size() < 5) return;
  Advance(PrintLine(state));
  const uint8_t mode = command.params[0] & 3;  // 0/48 normal, 1/49 double width, 2/50 double height
  const int sx = (mode & 1) ? 2 : 1, sy = (mode & 2) ? 2 : 1;
  const int row_bytes = command.params[1] | command.params[2] << 8;
  const int rows = command.params[3] | command.params[4] << 8;
  const Area area = AreaOf(state);
  const int64_t width = int64_t{row_bytes} * 8 * sx;
  const std::string& data = command.data;
  if (width > area.width || data.size() < uint64_t{static_cast<uint64_t>(row_bytes)} * rows) {
    ++stats_.clipped_images;
  }
  const int start =
      kPaperMargin +
      AlignedStart(state, area, static_cast<int>(std::min<int64_t>(width, area.width)));
  const int right = kPaperMargin + area.left + area.width;
  // Only the bytes that land on the paper are visited.
  const int visible_bytes = std::min<int64_t>(row_bytes, (area.width + 8 * sx - 1) / (8 * sx));
  for (int r = 0; r < rows; ++r) {
    const int64_t y = y_ + int64_t{r} * sy;
    if (y >= options_.max_height) break;
    for (int b = 0; b < visible_bytes; ++b) {
      const size_t index = static_cast<size_t>(r) * row_bytes + b;
      if (index >= data.size()) break;
      const uint8_t bits = static_cast<uint8_t>(data[index]);
      for (int bit = 0; bit < 8; ++bit) {
        if (!((bits >> (7 - bit)) & 1)) continue;
        for (int i = 0; i < sx; ++i) {
          const int x = start + (b * 8 + bit) * sx + i;
          if (x >= right) continue;
          for (int j = 0; j < sy; ++j) SetInk(x, y + j);
        }
      }
    }
  }
  Advance(int64_t{rows} * sy);
}

void Renderer::Cut(const PrinterState& state) {
  Advance(PrintLine(state));
  Advance(kCutGap);
  for (int x = 0; x < kPaperWidth; ++x) {
    if (x % (2 * kCutDash) < kCutDash) SetInk(x, y_);
  }
  Advance(1 + kCutGap);
  if (options_.on_page) {
    ++stats_.pages;
    options_.on_page(Snapshot());
    ink_.clear();
    y_ = 0;
  }
}

void Renderer::Advance(int64_t dots) {
  if (dots <= 0) return;
  const int64_t limit = options_.max_height;
  const int64_t before = y_;
  y_ = std::min(limit, y_ + dots);
  const int64_t dropped = dots - (y_ - before);
  if (dropped > 0) stats_.dropped_rows += static_cast<uint64_t>(dropped);
}

void Renderer::Plot(int x, int64_t y) {
  if (flip_) {
    SetInk(flip_x_ - x, flip_y_ - y);
  } else {
    SetInk(x, y);
  }
}

void Renderer::SetInk(int x, int64_t y) {
  if (x < 0 || x >= kPaperWidth || y < 0 || y >= options_.max_height) return;
  const size_t row = static_cast<size_t>(y);
  if ((row + 1) * kPaperWidth > ink_.size()) ink_.resize((row + 1) * kPaperWidth, 0);
  ink_[row * kPaperWidth + x] = 1;
}

bool Renderer::Empty() const {
  return ink_.empty() && y_ == 0 && line_.empty();
}

Image Renderer::Snapshot() const {
  Image image;
  image.width = kPaperWidth;
  const int64_t drawn = static_cast<int64_t>(ink_.size() / kPaperWidth);
  image.height = static_cast<int>(std::max<int64_t>(1, std::max(drawn, y_)));
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
  for (size_t i = 0; i < ink_.size(); ++i) {
    if (ink_[i]) image.pixels[i] = 0;
  }
  return image;
}

}  // namespace qz381::sim::render
