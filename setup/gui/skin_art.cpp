#include "setup/gui/skin_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qz381::setup::gui {

namespace {

const QColor kNavy(0x1D, 0x35, 0x57);
const QColor kSteel(0x45, 0x7B, 0x9D);
const QColor kPaper(0xF1, 0xF5, 0xF9);
const QColor kMist(0xDC, 0xE6, 0xF0);
const QColor kKeyGreen(0, 255, 0);
const QColor kTreeMask(0, 128, 128);

QImage Blank(int width, int height, QColor fill) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

void Panel(QPainter& p, const QRectF& r, QColor top, QColor bottom, qreal radius) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(r, radius, radius);
}

// A receipt printer seen from the front, in a 16 x 16 cell at x.
void Printer(QPainter& p, int x, QColor body, QColor paper) {
  p.setPen(Qt::NoPen);
  p.setBrush(paper);
  p.drawRect(x + 5, 1, 6, 6);
  p.setBrush(body);
  p.drawRoundedRect(QRectF(x + 1.5, 6, 13, 7), 1.5, 1.5);
  p.setBrush(paper);
  p.drawRect(x + 4, 8, 8, 1);
  p.setBrush(QColor(0x2A, 0x9D, 0x8F));
  p.drawRect(x + 12, 11, 1, 1);
}

}  // namespace

QImage MainBackground() {
  QImage image = Blank(451, 290, kPaper);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  Panel(p, QRectF(0, 0, 451, 290), kMist, kPaper, 0);
  Panel(p, QRectF(0, 0, 451, 38), kNavy, kSteel, 0);  // title band
  p.fillRect(QRectF(0, 38, 451, 2), QColor(0x2A, 0x9D, 0x8F));
  Panel(p, QRectF(8, 48, 214, 158), Qt::white, kPaper, 6);                // device list
  Panel(p, QRectF(230, 48, 213, 158), kNavy, kSteel, 6);                  // description
  Panel(p, QRectF(4, 214, 443, 70), QColor(0xC9, 0xD6, 0xE3), kMist, 8);  // commands
  p.setPen(QPen(QColor(255, 255, 255, 60), 1));
  for (int i = 0; i < 6; ++i) p.drawLine(QPointF(330 + i * 18, 0), QPointF(360 + i * 18, 38));
  return image;
}

QImage DialogBackground() {
  QImage image = Blank(448, 288, kKeyGreen);
  QPainter p(&image);
  // No antialiasing on the outline: blended edge pixels would be neither the
  // key colour nor the panel, and would show as a fringe.
  QPainterPath shape;
  shape.addRoundedRect(QRectF(0, 0, 448, 288), 16, 16);
  p.setClipPath(shape);
  Panel(p, QRectF(0, 0, 448, 288), kMist, kPaper, 0);
  Panel(p, QRectF(0, 0, 448, 26), kNavy, kSteel, 0);
  p.fillRect(QRectF(0, 26, 448, 2), QColor(0x2A, 0x9D, 0x8F));
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 255, 255, 70), 1));
  for (int i = 0; i < 5; ++i) p.drawLine(QPointF(340 + i * 16, 0), QPointF(366 + i * 16, 26));
  p.setPen(QPen(kSteel, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(6, 34, 436, 246), 8, 8);
  return image;
}

QImage ButtonBitmap(ButtonLook look) {
  QImage image = Blank(142, 22, look == ButtonLook::kMask ? Qt::white : kPaper);
  QPainter p(&image);
  const QRectF r(0, 0, 142, 22);
  if (look == ButtonLook::kMask) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(r, 7, 7);  // hard edge: the mask is exact black and white
    return image;
  }
  p.setRenderHint(QPainter::Antialiasing);
  const QColor top = look == ButtonLook::kPressed ? kNavy
                     : look == ButtonLook::kHover ? QColor(0x6F, 0xA8, 0xDC)
                                                  : QColor(0xE8, 0xF1, 0xFA);
  const QColor bottom = look == ButtonLook::kPressed ? kSteel
                        : look == ButtonLook::kHover ? QColor(0xA8, 0xCF, 0xF0)
                                                     : QColor(0xB7, 0xCC, 0xE0);
  Panel(p, r.adjusted(0.5, 0.5, -0.5, -0.5), top, bottom, 7);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(look == ButtonLook::kPressed ? QColor(0x0B, 0x1E, 0x36) : kSteel, 1));
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
  return image;
}

QImage TreeImages() {
  QImage image = Blank(96, 16, kTreeMask);
  QPainter p(&image);
  // 0: the computer (root)
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawRect(1, 2, 14, 9);
  p.setBrush(QColor(0x8E, 0xCA, 0xE6));
  p.drawRect(2, 3, 12, 7);
  p.setBrush(kNavy);
  p.drawRect(6, 11, 4, 2);
  p.drawRect(3, 13, 10, 2);
  // 1: the device class
  Printer(p, 16, kSteel, Qt::white);
  // 2, 3: a folder, open and closed (spare)
  for (int cell : {2, 3}) {
    const int x = cell * 16;
    p.setBrush(QColor(0xE9, 0xC4, 0x6A));
    p.drawRect(x + 1, 4, 14, 10);
    p.drawRect(x + 1, 2, 6, 2);
    if (cell == 2) {
      p.setBrush(QColor(0xF4, 0xA2, 0x61));
      p.drawRect(x + 3, 7, 12, 7);
    }
  }
  // 4: a device, selected; 5: a device
  Printer(p, 64, QColor(0x2A, 0x9D, 0x8F), Qt::white);
  Printer(p, 80, kNavy, kPaper);
  return image;
}

std::vector<NamedBitmap> AllBitmaps() {
  return {{"main_background.bmp", MainBackground()},
          {"dialog_background.bmp", DialogBackground()},
          {"button_normal.bmp", ButtonBitmap(ButtonLook::kNormal)},
          {"button_pressed.bmp", ButtonBitmap(ButtonLook::kPressed)},
          {"button_hover.bmp", ButtonBitmap(ButtonLook::kHover)},
          {"button_mask.bmp", ButtonBitmap(ButtonLook::kMask)},
          {"tree_images.bmp", TreeImages()}};
}

}  // namespace qz381::setup::gui
