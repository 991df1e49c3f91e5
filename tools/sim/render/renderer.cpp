// Renderer: hands each command to the part that draws its family.
#include <algorithm>

#include "tools/sim/render/renderer_impl.h"

namespace qz381::sim::render {

namespace {

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

}  // namespace

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
