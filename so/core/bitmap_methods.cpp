// PrintBitmap and SetBitmap: a picture file loaded, turned, scaled to the
// width asked for and encoded in the image commands the printer type takes.
#include "common/opos.h"
#include "platform/picture.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"
#include "so/output/bitmap.h"
#include "so/output/translate.h"
#include "so/output/units.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {

// Widest image, dots, by printer type (type 2 has no limit of its own).
int64_t TypeWidthLimit(int32_t type) {
  return type == 1 ? 200 : type == 3 ? 248 : INT32_MAX;
}

std::string AlignmentCommand(int32_t alignment) {
  // A position is measured from the left edge, so it prints left-aligned.
  const char a = alignment == PTR_BM_CENTER ? 1 : alignment == PTR_BM_RIGHT ? 2 : 0;
  return std::string("\x1B\x61", 2) + a;
}

// Which of the three image forms a printer takes.
enum class Form { kRaster, kStrips, kTwoColour };
Form FormFor(const CPOSPrinter::PictureSettings& s) {
  if (s.colour && s.type == 2) return Form::kTwoColour;
  if (s.colour || s.type == 1) return Form::kStrips;
  return Form::kRaster;
}

bool StripsType(int32_t type) {
  return type == 1 || type == 3;
}
}  // namespace

CPOSPrinter::PictureSettings CPOSPrinter::SnapshotPictureSettings(int32_t width) {
  PictureSettings s;
  const bool letter_quality = props_.LetterQuality();
  PropertyTable::Locked settings = props_.Lock();
  const output::DeviceSettings& out = settings.out;
  s.type = out.Type;
  s.colour = out.CapRecColor != 0;
  s.letter_quality = letter_quality;
  s.rotation = out.rotation;
  // A width too small to reach one dot is still a width, not "as it is".
  s.width_dots =
      width > 0
          ? std::max<int32_t>(
                1, output::MapUnits(width, out.shared->Units().UnitsToHorizontalDots, out.MapMode))
          : 0;
  return s;
}

bool CPOSPrinter::PreparePicture(const std::string& file, const PictureSettings& s, bool print,
                                 output::Picture* out) {
  const char* method = print ? "PrintBitmap" : "SetBitmap";
  platform::Picture loaded;
  const platform::Status st = platform::LoadPictureFile(file, &loaded);
  if (!st.ok()) {
    platform::Trace("%s: %s", method, st.ToString().c_str());
    return false;
  }
  output::Picture picture = output::PictureFromRgb(loaded.width, loaded.height, loaded.rgb);
  if (print) picture = output::RotatePicture(std::move(picture), s.rotation);
  if (picture.width <= 0 || picture.height <= 0) return false;
  int64_t width = s.width_dots > 0 ? s.width_dots : picture.width;
  width = std::min(width, TypeWidthLimit(s.type));
  int64_t height = width * picture.height / picture.width;
  if (!print && s.type == 2 && s.letter_quality) {
    width /= 2;
    height /= 2;
  }
  if (width <= 0 || height <= 0 || width > output::kMaxPictureSide ||
      height > output::kMaxPictureSide) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    platform::Trace("%s: the picture scales to %s dots", method, size.c_str());
    return false;
  }
  *out =
      output::StretchPicture(std::move(picture), static_cast<int>(width), static_cast<int>(height));
  return out->width > 0;
}

int32_t CPOSPrinter::PrintBitmap(int32_t station, const std::string& file, int32_t width,
                                 int32_t alignment) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if (station != PTR_S_RECEIPT || alignment < PTR_BM_RIGHT || file.empty()) {
    return Fail(OPOS_E_ILLEGAL);
  }
  const PictureSettings s = SnapshotPictureSettings(width);
  output::Picture picture;
  if (!PreparePicture(file, s, true, &picture)) return Fail(OPOS_E_ILLEGAL);
  std::vector<std::string> image;
  switch (FormFor(s)) {
    case Form::kTwoColour:
      image = output::EncodeTwoColourGraphicsPrint(picture);
      break;
    case Form::kStrips:
      image = output::EncodeColumnStrips(picture, s.letter_quality);
      break;
    case Form::kRaster:
      if (std::string raster = output::EncodeRasterImage(picture); !raster.empty()) {
        image.push_back(std::move(raster));
      }
      break;
  }
  if (image.empty()) {
    // An image the printer's commands cannot carry is refused, not printed as nothing.
    platform::Trace("PrintBitmap: %dx%d dots cannot be encoded for this printer", picture.width,
                    picture.height);
    return Fail(OPOS_E_ILLEGAL);
  }
  std::vector<std::string> list = {AlignmentCommand(alignment)};
  if (StripsType(s.type)) list.push_back(std::string("\x1B\x33\x10", 3));  // 8-dot spacing
  // Already turned by pi: printed the right way up, then upside down again.
  const bool turned = StripsType(s.type) && s.rotation == 259;
  if (turned) list.push_back(std::string("\x1B\x7B\x00", 3));
  for (std::string& part : image) list.push_back(std::move(part));
  if (turned) list.push_back(std::string("\x1B\x7B\x01", 3));
  if (StripsType(s.type)) {
    // The job's own prologue may be built after this call returns, so the
    // job puts back the spacing it changed; the next prologue sends it again.
    list.back() += output::LineSpacingCommand(props_.Lock().out);
  }
  const int32_t rc = Submit(async_mode_ != 0, std::move(list));
  { props_.Lock().out.PendingSettings |= output::kPendingLineSpacing; }
  return rc;
}

int32_t CPOSPrinter::SetBitmap(int32_t number, int32_t station, const std::string& file,
                               int32_t width, int32_t alignment) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if ((number != 1 && number != 2) || station != PTR_S_RECEIPT || alignment < PTR_BM_RIGHT ||
      file.empty()) {
    return Fail(OPOS_E_ILLEGAL);
  }
  const PictureSettings s = SnapshotPictureSettings(width);
  output::Picture picture;
  if (!PreparePicture(file, s, false, &picture)) return Fail(OPOS_E_ILLEGAL);
  std::string image;
  switch (FormFor(s)) {
    case Form::kTwoColour:
      image = output::EncodeTwoColourGraphicsStored(picture);
      break;
    case Form::kStrips:
      for (const std::string& pass : output::EncodeColumnStrips(picture, s.letter_quality)) {
        image += pass;
      }
      break;
    case Form::kRaster:
      image = output::EncodeRasterImage(picture);
      break;
  }
  if (image.empty()) return Fail(OPOS_E_ILLEGAL);
  std::vector<std::string> stored = {AlignmentCommand(alignment)};
  if (StripsType(s.type)) stored.push_back(std::string("\x1B\x33\x10", 3));
  stored.push_back(std::move(image));
  props_.Lock().out.stored_bitmaps[static_cast<size_t>(number - 1)] = std::move(stored);
  return Fail(OPOS_SUCCESS);
}

}  // namespace qz381::so
