// PrintBitmap and SetBitmap: a picture file loaded, turned, scaled to the
// width asked for and encoded in the image commands the printer type takes.
#include "common/opos.h"
#include "platform/picture.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"
#include "so/output/bitmap.h"
#include "so/output/units.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {
constexpr int32_t kClaimedEnabled = 3;
constexpr int32_t PTR_BM_LEFT = -1, PTR_BM_CENTER = -2, PTR_BM_RIGHT = -3;

// Widest image, dots, by printer type (type 2 has no limit of its own).
int32_t TypeWidthLimit(int32_t type) {
  return type == 1 ? 200 : type == 3 ? 248 : INT32_MAX;
}

std::string AlignmentCommand(int32_t alignment) {
  // A position is measured from the left edge, so it prints left-aligned.
  const char a = alignment == PTR_BM_CENTER ? 1 : alignment == PTR_BM_RIGHT ? 2 : 0;
  return std::string("\x1B\x61", 2) + a;
}

output::Picture ToOutputPicture(const platform::Picture& in) {
  output::Picture out;
  out.width = in.width;
  out.height = in.height;
  out.pixels.resize(static_cast<size_t>(in.width) * in.height);
  for (size_t i = 0; i < out.pixels.size(); ++i) {
    out.pixels[i] = {in.rgb[3 * i], in.rgb[3 * i + 1], in.rgb[3 * i + 2]};
  }
  return out;
}
}  // namespace

bool CPOSPrinter::PreparePicture(const std::string& file, int32_t width, bool print,
                                 output::Picture* out) {
  platform::Picture loaded;
  const platform::Status st = platform::LoadPictureFile(file, &loaded);
  if (!st.ok()) {
    platform::Trace("%s: %s", print ? "PrintBitmap" : "SetBitmap", st.ToString().c_str());
    return false;
  }
  output::Picture picture = ToOutputPicture(loaded);
  std::lock_guard<std::mutex> settings(settings_mutex_);
  if (print) picture = output::RotatePicture(picture, out_.rotation);
  if (picture.width <= 0 || picture.height <= 0) return false;
  int64_t target_width = picture.width;
  if (width > 0) {
    target_width =
        output::MapUnits(width, out_.shared->Units().UnitsToHorizontalDots, out_.MapMode);
  }
  target_width = std::min<int64_t>(target_width, TypeWidthLimit(out_.Type));
  int64_t target_height = target_width * picture.height / picture.width;
  if (!print && out_.Type == 2 && rec_letter_quality_ == 1) {
    target_width /= 2;
    target_height /= 2;
  }
  if (target_width <= 0 || target_height <= 0 || target_width > output::kMaxPictureSide ||
      target_height > output::kMaxPictureSide) {
    const std::string size = std::to_string(target_width) + "x" + std::to_string(target_height);
    platform::Trace("%s: the picture scales to %s dots", print ? "PrintBitmap" : "SetBitmap",
                    size.c_str());
    return false;
  }
  *out = output::StretchPicture(picture, static_cast<int>(target_width),
                                static_cast<int>(target_height));
  return out->width > 0;
}

int32_t CPOSPrinter::PrintBitmap(int32_t station, const std::string& file, int32_t width,
                                 int32_t alignment) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if (station != PTR_S_RECEIPT || alignment < PTR_BM_RIGHT || file.empty()) {
    return Fail(OPOS_E_ILLEGAL);
  }
  output::Picture picture;
  if (!PreparePicture(file, width, true, &picture)) return Fail(OPOS_E_ILLEGAL);
  std::vector<std::string> list = {AlignmentCommand(alignment)};
  std::vector<std::string> image;
  bool strips_turned = false;
  {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    const bool strips_type = out_.Type == 1 || out_.Type == 3;
    if (strips_type) list.push_back(std::string("\x1B\x33\x10", 3));  // 8-dot line spacing
    if (out_.CapRecColor != 0 && out_.Type == 2) {
      image = output::EncodeTwoColourGraphicsPrint(picture);
    } else if (out_.CapRecColor != 0 || out_.Type == 1) {
      image = output::EncodeColumnStrips(picture, rec_letter_quality_ != 0);
    } else {
      std::string raster = output::EncodeRasterImage(picture);
      if (!raster.empty()) image.push_back(std::move(raster));
    }
    // Already turned by pi: printed the right way up, then upside down again.
    strips_turned = strips_type && out_.rotation == 259;
    out_.PendingSettings |= output::kPendingLineSpacing;  // the 8-dot spacing is undone next
  }
  if (image.empty()) {
    // An image the printer's commands cannot carry is refused, not printed as nothing.
    platform::Trace("PrintBitmap: %dx%d dots cannot be encoded for this printer", picture.width,
                    picture.height);
    return Fail(OPOS_E_ILLEGAL);
  }
  if (strips_turned) list.push_back(std::string("\x1B\x7B\x00", 3));
  for (std::string& s : image) list.push_back(std::move(s));
  if (strips_turned) list.push_back(std::string("\x1B\x7B\x01", 3));
  return Submit(async_mode_ != 0, std::move(list));
}

int32_t CPOSPrinter::SetBitmap(int32_t number, int32_t station, const std::string& file,
                               int32_t width, int32_t alignment) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if ((number != 1 && number != 2) || station != PTR_S_RECEIPT || alignment < PTR_BM_RIGHT ||
      file.empty()) {
    return Fail(OPOS_E_ILLEGAL);
  }
  output::Picture picture;
  if (!PreparePicture(file, width, false, &picture)) return Fail(OPOS_E_ILLEGAL);
  std::lock_guard<std::mutex> settings(settings_mutex_);
  std::string image;
  if (out_.CapRecColor != 0 && out_.Type == 2) {
    image = output::EncodeTwoColourGraphicsStored(picture);
  } else if (out_.CapRecColor != 0 || out_.Type == 1) {
    for (const std::string& pass : output::EncodeColumnStrips(picture, rec_letter_quality_ != 0)) {
      image += pass;
    }
  } else {
    image = output::EncodeRasterImage(picture);
  }
  if (image.empty()) return Fail(OPOS_E_ILLEGAL);
  std::vector<std::string> stored = {AlignmentCommand(alignment)};
  if (out_.Type == 1 || out_.Type == 3) stored.push_back(std::string("\x1B\x33\x10", 3));
  stored.push_back(std::move(image));
  out_.stored_bitmaps[static_cast<size_t>(number - 1)] = std::move(stored);
  return Fail(OPOS_SUCCESS);
}

}  // namespace qz381::so
