#pragma once
// The setup utility's bitmaps, drawn by this code at their fixed sizes: the
// windows and buttons are skinned with them, and qz381-draw-skin writes them
// out as 24-bit BMP files (for the Windows resources and for a look).
#include <QImage>
#include <QString>
#include <vector>

namespace qz381::setup::gui {

QImage MainBackground();    // 451 x 290
QImage DialogBackground();  // 448 x 288, key colour RGB(0,255,0) outside the shape
enum class ButtonLook { kNormal, kPressed, kHover, kMask };
QImage ButtonBitmap(ButtonLook look);  // 142 x 22
QImage TreeImages();                   // 96 x 16: six 16 x 16 images, mask RGB(0,128,128)

struct NamedBitmap {
  QString file;
  QImage image;
};
std::vector<NamedBitmap> AllBitmaps();

}  // namespace qz381::setup::gui
