// The paper and the page: cuts, page mode, feeding and where a dot lands.
#include <algorithm>
#include <string>

#include "tools/sim/render/renderer_impl.h"

namespace qz381::sim::render {

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

}  // namespace qz381::sim::render
