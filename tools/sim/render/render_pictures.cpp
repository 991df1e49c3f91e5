// Pictures placed as a whole: raster images, graphics, barcodes, 2-D symbols
// and the stored (downloaded and NV) images.
#include <algorithm>
#include <string>

#include "tools/sim/render/renderer_impl.h"

namespace qz381::sim::render {

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

}  // namespace qz381::sim::render
