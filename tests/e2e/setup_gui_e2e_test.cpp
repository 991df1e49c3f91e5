// QZ381Setup's interactive health check on the virtual printer: the main
// window's "Check health" opens the device through the control object, the
// service object asks for its dialog, and the window that comes up on the
// windows' thread prints the test page while the control object waits.
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>

#include "setup/gui/dialogs.h"
#include "setup/gui/health_dialog.h"
#include "setup/gui/test_support.h"
#include "setup/health_check.h"
#include "tests/e2e/e2e_fixture.h"

#if defined(QZ381_QT_KEEPS_CACHES)
// Read by AddressSanitizer before ASAN_OPTIONS, which sets no detect_leaks.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}
#endif

namespace qz381::e2e {
namespace {

class RecordingUi : public setup::UserInterface {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string& text, const std::string&) override {
    messages.push_back(text);
    return false;
  }
  std::vector<std::string> messages;
};

using SetupGuiE2eTest = E2eTest;

TEST_F(SetupGuiE2eTest, CheckHealthPrintsTheTestPageFromTheServiceObjectsDialog) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char program[] = "e2e_setup_gui_test";
  char* argv[] = {program, nullptr};
  QApplication app(argc, argv);

  RecordingUi ui;
  setup::gui::HealthDialogWindows dialogs;
  platform::Registry& reg = platform::DefaultRegistry();
  setup::gui::SetupEnvironment env{reg, ui, nullptr,
                                   [&] { return setup::NewControlObject(reg, &dialogs); }};
  setup::gui::CSetupMainDlg window(env);
  QTreeWidgetItem* device = nullptr;
  for (int i = 0; i < window.class_item()->childCount(); ++i) {
    if (window.class_item()->child(i)->text(0) == kDevice) device = window.class_item()->child(i);
  }
  ASSERT_NE(device, nullptr);
  window.tree()->setCurrentItem(device);

  const size_t mark = RawSize();
  QString title, progress_before, result;
  setup::gui::WhenModal<setup::gui::CHealthCheckDlg>([&](setup::gui::CHealthCheckDlg* dialog) {
    title = dialog->windowTitle();
    progress_before = dialog->result()->text();
    QTest::mouseClick(dialog->print_button(), Qt::LeftButton);
    result = dialog->result()->text();
    QTest::mouseClick(dialog->exit_button(), Qt::LeftButton);
  });
  window.CheckHealth();

  EXPECT_TRUE(title.startsWith("Printer Check Health : - Interactive -")) << title.toStdString();
  EXPECT_EQ(progress_before.toStdString(), "-- Print Result --");
  EXPECT_EQ(result.toStdString(), "Success (0/0)");
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
  const std::vector<uint8_t> raw = sim().RawBytes();
  const std::string page(raw.begin() + static_cast<long>(mark), raw.end());
  EXPECT_NE(page.find("Version 1.9.12"), std::string::npos) << RawSince(mark);
  EXPECT_NE(page.find("QZ381 Thermal Receipt Printer"), std::string::npos) << RawSince(mark);
}

}  // namespace
}  // namespace qz381::e2e
