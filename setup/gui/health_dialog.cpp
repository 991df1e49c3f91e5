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
constexpr int kOnline = 2001, kOff = 2002, kOffOffline = 2004;

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

  Static("ServiceObjectDescription:\n\nServiceObjectVersion:\nDeviceDescription:\nDeviceName:",
         this, QRect(12, 10, 150, 80));
  // Four lines; the description may take two, as the labels allow.
  QString info = Text(dialog.info());
  info.replace(info.indexOf('\n'), 1, info.count('\n') >= 3 ? "\n\n" : "\n");
  auto* device = Static(info, this, QRect(165, 10, 195, 80));
  device->setWordWrap(false);

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
  const char* power = status.power_state == kOnline                                     ? "Online"
                      : status.power_state >= kOff && status.power_state <= kOffOffline ? "Offline"
                                                                                        : "Unknown";
  power_->setText(QString("Power State: ") + power);
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
