#pragma once
// The interactive health check's dialog, which the service object asks the
// setup utility to show while it checks a device: the device's description,
// "&Print" for the test page with its result, "&Exit". It is the service
// object's dialog, not the setup utility's, so it is a plain window.
#include <QDialog>

#include "co/pos_printer.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace qz381::setup::gui {

class CHealthCheckDlg : public QDialog {
 public:
  CHealthCheckDlg(co::HealthDialog& dialog, QWidget* parent = nullptr);

  QPushButton* print_button() const { return print_; }
  QPushButton* exit_button() const { return exit_; }
  QLabel* result() const { return result_; }
  QLabel* power_state() const { return power_; }
  // "&Print": prints the test page, showing progress and then the result.
  void Print();

 private:
  // The status controls follow the printer every 500 ms while the dialog is
  // open (kept hidden, as the service object's dialog has them).
  void RefreshStatus();

  co::HealthDialog& dialog_;
  QPushButton* print_;
  QPushButton* exit_;
  QLabel* result_;
  QLabel* power_;
  QCheckBox* cover_open_;
  QCheckBox* paper_empty_;
  QCheckBox* near_end_;
  QTimer* timer_;
};

// What the control object calls to show the dialog: modal, over `parent`, on
// the thread that asked for the health check (the windows' thread).
class HealthDialogWindows : public co::HealthDialogProvider {
 public:
  explicit HealthDialogWindows(QWidget* parent = nullptr) : parent_(parent) {}
  void ShowHealthDialog(co::HealthDialog& dialog) override;

 private:
  QWidget* parent_;
};

}  // namespace qz381::setup::gui
