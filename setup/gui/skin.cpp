#include "setup/gui/skin.h"

#include <qdrawutil.h>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVector>
#include <cstdlib>

namespace qz381::setup::gui {

QRegion CreateRegionFromBitmap(const QImage& bitmap, QColor key, int tolerance) {
  const QImage image = bitmap.convertToFormat(QImage::Format_RGB32);
  auto near = [tolerance](int channel, int wanted) {
    return std::abs(channel - wanted) <= tolerance;
  };
  QVector<QRect> runs;
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int start = -1;
    for (int x = 0; x <= image.width(); ++x) {
      const bool keyed = x == image.width() ||
                         (near(qRed(line[x]), key.red()) && near(qGreen(line[x]), key.green()) &&
                          near(qBlue(line[x]), key.blue()));
      if (!keyed && start < 0) start = x;
      if (keyed && start >= 0) {
        runs.push_back(QRect(start, y, x - start, 1));
        start = -1;
      }
    }
  }
  QRegion region;
  region.setRects(runs.constData(), static_cast<int>(runs.size()));
  return region;
}

SkinnedDialog::SkinnedDialog(const QImage& background, QSize size, bool shaped, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      background_(QPixmap::fromImage(background)) {
  setFixedSize(size);
  if (shaped && !background.isNull())
    setMask(CreateRegionFromBitmap(background, QColor(0, 255, 0)));
}

void SkinnedDialog::MakeTransparent(QWidget* control, QColor colour) {
  control->setAutoFillBackground(false);
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::ButtonText, colour);
  palette.setColor(QPalette::Text, colour);
  palette.setColor(QPalette::Window, Qt::transparent);
  palette.setColor(QPalette::Base, Qt::transparent);
  control->setPalette(palette);
}

void SkinnedDialog::paintEvent(QPaintEvent* event) {
  if (background_.isNull()) {
    QDialog::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

// A press on the window's own surface (not on a control) moves the window,
// as a caption would.
void SkinnedDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QDialog::mousePressEvent(event);
}

void SkinnedDialog::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - drag_offset_);
  }
  QDialog::mouseMoveEvent(event);
}

void SkinnedDialog::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QDialog::mouseReleaseEvent(event);
}

void SkinnedDialog::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() == Qt::NoModifier &&
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

CSkinButton::CSkinButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
  text_colour_ = palette().color(QPalette::ButtonText);
}

namespace {

// White mask pixels let the window show through, black ones the bitmap.
QPixmap ThroughMask(const QImage& image, const QImage& mask) {
  if (image.isNull()) return QPixmap();
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  if (!mask.isNull()) {
    const QImage m = mask.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height() && y < m.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
      const auto* mline = reinterpret_cast<const QRgb*>(m.constScanLine(y));
      for (int x = 0; x < out.width() && x < m.width(); ++x) {
        if ((mline[x] & 0xFFFFFF) == 0xFFFFFF) line[x] = 0;
      }
    }
  }
  return QPixmap::fromImage(out);
}

}  // namespace

void CSkinButton::SetSkin(const QImage& normal, const QImage& pressed, const QImage& hover,
                          const QImage& disabled, const QImage& focus, const QImage& mask, int mode,
                          bool border, int margin) {
  normal_ = ThroughMask(normal, mask);
  pressed_ = ThroughMask(pressed, mask);
  hover_bitmap_ = ThroughMask(hover, mask);
  disabled_ = disabled.isNull() ? normal_ : ThroughMask(disabled, mask);
  focus_ = ThroughMask(focus, mask);
  mode_ = mode > 1 ? kTile : mode < 0 ? kKeepSize : mode;
  border_ = border;
  margin_ = margin < 0 ? 0 : margin;
  mask_ = mask;
  region_ = QRegion();
  if (!mask.isNull()) {
    region_ = CreateRegionFromBitmap(mask, Qt::white, 0);
    if (mode_ == kKeepSize) resize(mask.size());
    setMask(region_);
  }
  update();
}

void CSkinButton::DrawBitmap(QPainter& painter, const QPixmap& bitmap) {
  if (bitmap.isNull()) {
    painter.fillRect(rect(), palette().color(QPalette::Button));
  } else if (mode_ == kTile) {
    painter.drawTiledPixmap(rect(), bitmap);
  } else if (mode_ == kStretch) {
    painter.drawPixmap(rect(), bitmap);
  } else {
    painter.drawPixmap(0, 0, bitmap);
  }
}

void CSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect text_rect = rect().adjusted(margin_ + 2, margin_, -margin_ - 2, -margin_);
  const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  if (!isEnabled()) {
    shown_ = 'D';
    DrawBitmap(painter, disabled_);
    if (border_) qDrawWinButton(&painter, rect(), palette(), false);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(text_rect, flags, text());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(text_rect.translated(-1, -1), flags, text());
    return;
  }
  if (isDown()) {
    shown_ = 'P';
    DrawBitmap(painter, pressed_);
    if (border_) qDrawWinButton(&painter, rect(), palette(), true);
  } else {
    shown_ = hover_ ? 'H' : (hasFocus() && !focus_.isNull()) ? 'F' : 'N';
    DrawBitmap(painter, hover_ ? hover_bitmap_ : shown_ == 'F' ? focus_ : normal_);
    if (border_) qDrawWinButton(&painter, rect(), palette(), false);
  }
  if (hasFocus() && margin_ > 0) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(margin_, margin_, -margin_, -margin_);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
  painter.setPen(text_colour_);
  painter.drawText(isDown() ? text_rect.translated(1, 1) : text_rect, flags, text());
}

void CSkinButton::enterEvent(QEnterEvent* event) {
  if (!hover_ && !isDown()) {
    hover_ = true;
    update();
  }
  QAbstractButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
  if (hover_) {
    hover_ = false;
    update();
  }
  QAbstractButton::leaveEvent(event);
}

void CSkinButton::mousePressEvent(QMouseEvent* event) {
  hover_ = false;
  QAbstractButton::mousePressEvent(event);
}

void CSkinButton::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
  if (isDown()) setDown(false);
  QAbstractButton::focusOutEvent(event);
}

bool CSkinButton::hitButton(const QPoint& pos) const {
  return region_.isEmpty() ? rect().contains(pos) : region_.contains(pos);
}

}  // namespace qz381::setup::gui
