#pragma once
// The setup utility's own look: windows that paint a background bitmap, are
// cut to its shape by a key colour and move when dragged anywhere, labels
// drawn straight onto the bitmap, and push buttons drawn from bitmaps.
#include <QAbstractButton>
#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QRegion>

namespace qz381::setup::gui {

// Every pixel whose red, green and blue each lie within `tolerance` of the
// key colour's is left out.
inline constexpr int kKeyTolerance = 17;
QRegion CreateRegionFromBitmap(const QImage& bitmap, QColor key, int tolerance = kKeyTolerance);

// A frameless dialog on a background bitmap. With `shaped`, the window is
// cut to the bitmap by the key colour RGB(0,255,0) (the two dialogs); the
// main window stays rectangular.
class SkinnedDialog : public QDialog {
 public:
  SkinnedDialog(const QImage& background, QSize size, bool shaped, QWidget* parent = nullptr);

  // Labels, group boxes and radio buttons drawn transparently in `colour`.
  static void MakeTransparent(QWidget* control, QColor colour);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Enter accepts, as a dialog's default button would; Escape rejects.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPixmap background_;
  bool dragging_ = false;
  QPoint drag_offset_;
};

// An owner-drawn push button. Every button of the setup utility gets
// normal, pressed, hover and mask bitmaps, drawing mode 0, no border and
// no margin.
class CSkinButton : public QAbstractButton {
 public:
  enum DrawMode { kKeepSize = 0, kStretch = 1, kTile = 2 };
  explicit CSkinButton(const QString& text, QWidget* parent = nullptr);

  // A null image means none; the disabled bitmap defaults to the normal one.
  // A mask makes the button's region its pixels that are not pure white and,
  // in mode kKeepSize, sizes the button to the mask.
  void SetSkin(const QImage& normal, const QImage& pressed, const QImage& hover,
               const QImage& disabled, const QImage& focus, const QImage& mask, int mode,
               bool border, int margin);
  void SetTextColour(QColor colour) { text_colour_ = colour; }

  bool hovering() const { return hover_; }
  // What the last paint showed: 'N'ormal, 'P'ressed, 'H'over, 'F'ocus, 'D'isabled.
  char shown() const { return shown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void DrawBitmap(QPainter& painter, const QPixmap& bitmap);

  QPixmap normal_, pressed_, hover_bitmap_, disabled_, focus_;
  QImage mask_;
  QRegion region_;
  int mode_ = kStretch;
  bool border_ = false;
  int margin_ = 0;
  QColor text_colour_;
  bool hover_ = false;
  char shown_ = 'N';
};

}  // namespace qz381::setup::gui
