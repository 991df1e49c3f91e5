// QZ381Setup: the setup utility's desktop program (see setup/README.md).
#include <QApplication>

#include "platform/registry.h"
#include "setup/gui/dialogs.h"
#include "setup/gui/health_dialog.h"
#include "setup/usb_devices.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qz381::platform::Registry& reg = qz381::platform::DefaultRegistry();
  qz381::setup::gui::MessageBoxUi ui;
  // The service object's interactive health check shows its dialog here.
  qz381::setup::gui::HealthDialogWindows health_dialogs;
  qz381::setup::gui::SetupEnvironment env{
      reg, ui, [] { return qz381::setup::AttachedUsbPrinters(); },
      [&reg, &health_dialogs] { return qz381::setup::NewControlObject(reg, &health_dialogs); }};
  qz381::setup::gui::CSetupMainDlg window(env);
  return window.exec() == QDialog::Accepted ? 0 : 0;
}
