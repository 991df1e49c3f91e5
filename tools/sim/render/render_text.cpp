// Text and the line buffer: characters, tabs, ESC * column images, printing
// and feeding a line, user-defined characters.
#include <algorithm>
#include <string>

#include "tools/sim/render/renderer_impl.h"

namespace qz381::sim::render {

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

}  // namespace qz381::sim::render
