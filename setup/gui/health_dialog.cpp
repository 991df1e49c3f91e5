#include "setup/gui/health_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace qz381::setup::gui {

namespace {

constexpr int kStatusRefreshMs = 500;

QString Text(const std::string& text) {
  return QString::fromLocal8Bit(text);
}

QLabel* Static(const QString& text, QWidget* parent, const QRect& place) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(place);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

CHealthCheckDlg::CHealthCheckDlg(co::HealthDialog& dialog, QWidget* parent)
    : QDialog(parent), dialog_(dialog) {
  setWindowTitle(Text(dialog.title()));
  QFont font("Arial");
  font.setPointSize(8);
  setFont(font);
  setFixedSize(370, 240);

  // The description may take two lines, as the service object's dialog leaves
  // room for: the rows are placed one by one so that the labels stay level
  // with their values.
  const int line = fontMetrics().lineSpacing();
  const char* const labels[] = {
      "ServiceObjectDescription:", "ServiceObjectVersion:", "DeviceDescription:", "DeviceName:"};
  const QStringList values = Text(dialog.info()).split('\n');
  for (int row = 0, y = 10; row < 4; ++row) {
    const int height = row == 0 ? 2 * line : line;
    Static(labels[row], this, QRect(12, y, 150, line));
    QLabel* value =
        Static(row < values.size() ? values[row] : QString(), this, QRect(165, y, 195, height));
    value->setWordWrap(row == 0);
    y += height;
  }

  auto* frame = new QGroupBox(this);
  frame->setGeometry(10, 96, 350, 100);
  print_ = new QPushButton("&Print", frame);
  print_->setGeometry(12, 16, 80, 26);
  result_ = new QLabel("-- Print Result --", frame);
  result_->setGeometry(104, 16, 234, 72);
  result_->setAlignment(Qt::AlignCenter);
  result_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  result_->setWordWrap(true);

  auto* status = new QGroupBox("Printer Status Property", this);
  status->setGeometry(10, 96, 350, 100);
  cover_open_ = new QCheckBox("Cover Open", status);
  paper_empty_ = new QCheckBox("Paper Empty", status);
  near_end_ = new QCheckBox("Paper Near End", status);
  for (QCheckBox* box : {cover_open_, paper_empty_, near_end_}) box->setEnabled(false);
  power_ = Static("Power State: ", this, QRect(12, 206, 200, 20));
  status->hide();
  power_->hide();

  exit_ = new QPushButton("&Exit", this);
  exit_->setGeometry(280, 204, 80, 26);
  exit_->setDefault(true);
  connect(exit_, &QPushButton::clicked, this, &QDialog::accept);
  connect(print_, &QPushButton::clicked, this, [this] { Print(); });

  timer_ = new QTimer(this);
  timer_->setInterval(kStatusRefreshMs);
  connect(timer_, &QTimer::timeout, this, [this] { RefreshStatus(); });

  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  RefreshStatus();
}

void CHealthCheckDlg::RefreshStatus() {
  const opos::HealthStatus status = dialog_.Status();
  power_->setText(QString("Power State: ") + opos::PowerStateWord(status.power_state));
  cover_open_->setChecked(status.cover_open != 0);
  paper_empty_->setChecked(status.receipt_empty != 0);
  near_end_->setChecked(status.receipt_near_end != 0);
  timer_->start();
}

void CHealthCheckDlg::Print() {
  result_->setText("Test in progress...");
  result_->repaint();
  std::string text;
  dialog_.Print(&text);
  result_->setText(Text(text));
}

void HealthDialogWindows::ShowHealthDialog(co::HealthDialog& dialog) {
  CHealthCheckDlg window(dialog, parent_);
  window.exec();
}

}  // namespace qz381::setup::gui
