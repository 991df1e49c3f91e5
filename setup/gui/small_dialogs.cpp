// The message boxes, the model selection and the port range dialog.
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "setup/gui/dialogs.h"
#include "setup/gui/skin_art.h"
#include "setup/model_install.h"
#include "setup/setup_store.h"

namespace qz381::setup::gui {

namespace {
const QColor kLabelBlue(0, 0, 139);
constexpr const char* kCaption = "QZ381Setup";
}  // namespace

void MessageBoxUi::ShowMessage(const std::string& text) {
  QMessageBox::information(parent_, kCaption, QString::fromLocal8Bit(text));
}

bool MessageBoxUi::Confirm(const std::string& text, const std::string& caption) {
  return QMessageBox::question(parent_, QString::fromLocal8Bit(caption),
                               QString::fromLocal8Bit(text), QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Cancel) == QMessageBox::Ok;
}

void SkinButton(CSkinButton* button) {
  static const QImage normal = ButtonBitmap(ButtonLook::kNormal);
  static const QImage pressed = ButtonBitmap(ButtonLook::kPressed);
  static const QImage hover = ButtonBitmap(ButtonLook::kHover);
  static const QImage mask = ButtonBitmap(ButtonLook::kMask);
  button->SetSkin(normal, pressed, hover, QImage(), QImage(), mask, CSkinButton::kKeepSize, false,
                  0);
  button->SetTextColour(QColor(0x0B, 0x1E, 0x36));
}

CModelSelectDlg::CModelSelectDlg(SetupEnvironment& env, QWidget* parent)
    : QDialog(parent), env_(env) {
  setWindowTitle("Select Device Model ");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Device List", this));
  list_ = new QListWidget(this);
  layout->addWidget(list_);
  auto* next = new QPushButton("Next", this);
  auto* cancel = new QPushButton("Cancel", this);
  next->setDefault(true);
  layout->addWidget(next);
  layout->addWidget(cancel);
  connect(next, &QPushButton::clicked, this, [this] { Next(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  for (const std::string& model : ListModels(env_.reg)) {
    list_->addItem(QString::fromLocal8Bit(model));
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
}

int CModelSelectDlg::Run() {
  if (list_->count() == 1) {
    Next();
    if (result() == QDialog::Accepted) return QDialog::Accepted;
  }
  return exec();
}

// With several models the list is offered and the chosen one installed once.
void CModelSelectDlg::Next() {
  QListWidgetItem* item = list_->currentItem();
  const std::string model = item ? item->text().toLocal8Bit().toStdString() : std::string();
  if (!InstallModel(env_.reg, model, &device_name_).ok()) {
    env_.ui.ShowMessage(kInfErrorMessage);
    return;
  }
  setResult(QDialog::Accepted);
  accept();
}

CSpinBox::CSpinBox(int minimum, int maximum, QWidget* parent)
    : QLineEdit(parent), minimum_(minimum), maximum_(maximum) {
  up_ = new QToolButton(parent);
  down_ = new QToolButton(parent);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  up_->setFocusPolicy(Qt::NoFocus);
  down_->setFocusPolicy(Qt::NoFocus);
  connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinBox::Place(int x, int y) {
  setGeometry(x, y, 60, 22);
  up_->setGeometry(x + 61, y, 16, 11);
  down_->setGeometry(x + 61, y + 11, 16, 11);
}

void CSpinBox::Step(int by) {
  bool ok = false;
  int value = text().toInt(&ok);
  if (!ok) value = minimum_;
  value += by;
  if (value > maximum_) value = minimum_;
  if (value < minimum_) value = maximum_;
  setText(QString::number(value));
}

void CSpinBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    Step(event->key() == Qt::Key_Up ? 1 : -1);
    return;
  }
  QLineEdit::keyPressEvent(event);
}

namespace {

QLabel* BlueLabel(const char* text, QWidget* parent, int x, int y, int width) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, width, 22);
  SkinnedDialog::MakeTransparent(label, kLabelBlue);
  return label;
}

}  // namespace

CPortRangeDlg::CPortRangeDlg(SetupEnvironment& env, QWidget* parent)
    : SkinnedDialog(DialogBackground(), QSize(450, 290), true, parent), env_(env) {
  setWindowTitle("Port Range");
  auto* title = new QLabel("Port Range", this);
  title->setGeometry(16, 3, 300, 20);
  MakeTransparent(title, Qt::white);
  BlueLabel("Serial ports Range", this, 40, 70, 150);
  serial_ = new CSpinBox(1, kMaxComRange, this);
  serial_->Place(200, 70);
  BlueLabel("(1 - 50)", this, 290, 70, 80);
  BlueLabel("Parallel ports Range", this, 40, 110, 150);
  parallel_ = new CSpinBox(1, kMaxLptRange, this);
  parallel_->Place(200, 110);
  BlueLabel("(1 - 10)", this, 290, 110, 80);

  const PortRanges ranges = ReadPortRanges(env_.reg);
  serial_->setText(QString::number(ranges.com));
  parallel_->setText(QString::number(ranges.lpt));

  const char* texts[] = {"&OK", "&Cancel", "&Default"};
  CSkinButton* buttons[3];
  for (int i = 0; i < 3; ++i) {
    buttons[i] = new CSkinButton(texts[i], this);
    SkinButton(buttons[i]);
    buttons[i]->move(290, 180 + i * 30);
  }
  connect(buttons[0], &CSkinButton::clicked, this, &CPortRangeDlg::accept);
  connect(buttons[1], &CSkinButton::clicked, this, &QDialog::reject);
  connect(buttons[2], &CSkinButton::clicked, this, [this] { Default(); });
  move(pos() + QPoint(1, 1));
}

void CPortRangeDlg::Default() {
  serial_->setText(QString::number(kDefaultPortRanges.com));
  parallel_->setText(QString::number(kDefaultPortRanges.lpt));
}

void CPortRangeDlg::accept() {
  PortRanges ranges;
  int bad = 0;
  const std::string refusal = ParsePortRanges(serial_->text().toStdString(),
                                              parallel_->text().toStdString(), &ranges, &bad);
  if (!refusal.empty()) {
    env_.ui.ShowMessage(refusal);
    (bad == 0 ? serial_ : parallel_)->setFocus();
    return;
  }
  WritePortRanges(env_.reg, ranges);  // a failed write is not reported, as before
  SkinnedDialog::accept();
}

}  // namespace qz381::setup::gui
