// QZ381Setup: the setup utility's desktop program (see setup/README.md).
#include <QApplication>

#include "platform/registry.h"
#include "setup/gui/dialogs.h"
#include "setup/usb_devices.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qz381::platform::Registry& reg = qz381::platform::DefaultRegistry();
  qz381::setup::gui::MessageBoxUi ui;
  qz381::setup::gui::SetupEnvironment env{reg, ui,
                                          [] { return qz381::setup::AttachedUsbPrinters(); },
                                          [&reg] { return qz381::setup::NewControlObject(reg); }};
  qz381::setup::gui::CSetupMainDlg window(env);
  return window.exec() == QDialog::Accepted ? 0 : 0;
}
