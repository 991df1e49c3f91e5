// The setup utility's windows driven by Qt Test, on a registry file and
// installation files made here.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "platform/registry.h"
#include "platform/usb_fake.h"
#include "setup/gui/dialogs.h"
#include "setup/gui/health_dialog.h"
#include "setup/gui/skin_art.h"
#include "setup/gui/test_support.h"
#include "setup/install.h"
#include "setup/model_install.h"
#include "setup/usb_devices.h"

using namespace qz381;
using namespace qz381::setup;
using namespace qz381::setup::gui;

namespace {

class RecordingUi : public UserInterface {
 public:
  void ShowMessage(const std::string& text) override { messages << QString::fromStdString(text); }
  bool Confirm(const std::string& text, const std::string& caption) override {
    messages << QString::fromStdString(caption + ": " + text);
    return confirm;
  }
  QStringList messages;
  bool confirm = true;
};

void Key(QWidget* window, Qt::Key key) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus && focus->window() == window ? focus : window, key);
}

QTreeWidgetItem* DeviceItem(CSetupMainDlg& window, const QString& name) {
  for (int i = 0; i < window.class_item()->childCount(); ++i) {
    if (window.class_item()->child(i)->text(0) == name) return window.class_item()->child(i);
  }
  return nullptr;
}

// Records what the health check asks and answers success; `on_check` plays
// the service object's CheckHealth.
struct FakeControlObject : ControlObject {
  explicit FakeControlObject(QStringList* calls, std::function<void(int32_t)> on_check = nullptr)
      : calls(calls), on_check(std::move(on_check)) {}
  int32_t Open(const std::string& name) override {
    *calls << QString::fromStdString("Open " + name);
    return 0;
  }
  int32_t ClaimDevice(int32_t) override { return 0; }
  int32_t CheckHealth(int32_t level) override {
    *calls << QString("CheckHealth %1").arg(level);
    if (on_check) on_check(level);
    return 0;
  }
  int32_t ReleaseDevice() override { return 0; }
  int32_t Close() override { return 0; }
  bool DeviceEnabled() override { return true; }
  void SetDeviceEnabled(bool) override {}
  std::string ErrorText() override { return ""; }
  std::string CheckHealthText() override { return ""; }
  QStringList* calls;
  std::function<void(int32_t)> on_check;
};

// A window as it looks on screen: what its shape cuts away is transparent.
QImage Shot(QWidget* window) {
  QImage image = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  if (!window->mask().isEmpty()) {
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (!window->mask().contains(QPoint(x, y))) image.setPixel(x, y, 0);
      }
    }
  }
  return image;
}

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<platform::Registry> reg_;
  RecordingUi ui_;
  std::unique_ptr<SetupEnvironment> env_;

  void Write(const QString& name, const QByteArray& text) {
    QFile file(dir_.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QString DeviceText(const QString& device, const char* value) {
    std::string text = "<missing>";
    platform::ReadText(*reg_, platform::Hive::kLocalMachine,
                       std::string(kClassKey) + "\\" + device.toStdString(), value, &text);
    return QString::fromStdString(text);
  }
  QStringList Devices() {
    std::vector<std::string> names;
    reg_->EnumSubkeys(platform::Hive::kLocalMachine, kClassKey, &names);
    QStringList list;
    for (const auto& name : names) list << QString::fromStdString(name);
    return list;
  }

 private slots:
  void init() {
    Write("setup.inf",
          "[Description]\nVersionDescription=QZ381 OPOS Setup Ver 1.9.12\nVersion=1.9.12\n"
          "COMRange=8\nLPTMRange=1\n[READPOSPRINTER]\nREADPrinter1=QZ381\n");
    Write("posprn.inf",
          "[QZ381]\nDeviceDesc=QZ381 Thermal Receipt Printer\n"
          "SOName=VORNAQZ381.POSPrinter.ServiceObject.1.9\nDescription=QZ381 Service Object\n"
          "Vid=3A81\nPid=0381\nTYPE=2\nPORT=4\nMODELCODE=381\n");
    QFile::remove(dir_.filePath("registry.reg"));
    reg_ = platform::OpenRegistryFile(dir_.filePath("registry.reg").toStdString());
    reg_->SetValue(platform::Hive::kLocalMachine, kProductKey, "Installdir",
                   platform::RegValue::Text(dir_.path().toStdString()));
    ui_.messages.clear();
    ui_.confirm = true;
    env_ = std::make_unique<SetupEnvironment>(
        SetupEnvironment{*reg_, ui_, [] { return std::vector<UsbEntry>(); },
                         [] { return std::unique_ptr<ControlObject>(); }});
  }

  void mainWindowShowsTheDevicesAndTheCaption() {
    for (const char* name : {"QZ381", "Other", "[Stop]", "QZ381_1"}) {
      reg_->CreateKey(platform::Hive::kLocalMachine, std::string(kClassKey) + "\\" + name);
    }
    reg_->SetValue(platform::Hive::kLocalMachine, std::string(kClassKey) + "\\QZ381", "Port",
                   platform::RegValue::Text("COM2"));
    CSetupMainDlg window(*env_);
    QCOMPARE(window.windowTitle(), QString("QZ381 OPOS Setup Ver 1.9.12"));
    QCOMPARE(window.size(), QSize(452, 292));
    QCOMPARE(window.class_item()->childCount(), 2);
    QVERIFY(DeviceItem(window, "QZ381")->font(0).bold());
    QVERIFY(!DeviceItem(window, "Other")->font(0).bold());
    QVERIFY(!window.button('M')->isEnabled());
    QVERIFY(!window.button('H')->isEnabled());

    window.tree()->setCurrentItem(DeviceItem(window, "QZ381"));
    QVERIFY(window.button('M')->isEnabled());
    QVERIFY(window.description()->toPlainText().contains("Using Port : COM2"));
    // An unknown model: described, but Modify and Check health go grey;
    // Remove stays as it was.
    window.tree()->setCurrentItem(DeviceItem(window, "Other"));
    QVERIFY(!window.button('M')->isEnabled());
    QVERIFY(window.button('R')->isEnabled());
    QVERIFY(window.description()->toPlainText().contains("Using Port : \n"));
    window.tree()->setCurrentItem(window.class_item());
    QVERIFY(window.button('R')->isEnabled());
  }

  void keysAddModifyAndRemoveADevice() {
    CSetupMainDlg window(*env_);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();

    // P: one model, so it is installed at once and the settings open on it.
    WhenModal<CDeviceSettingsDlg>([](CDeviceSettingsDlg* dialog) {
      QCOMPARE(dialog->port()->count(), 8);
      dialog->port()->setCurrentIndex(2);
      emit dialog->port()->activated(2);
      dialog->ldn()->setFocus();
      QTest::keyClicks(dialog->ldn(), "PRN1");
      QTest::keyClick(dialog->ldn(), Qt::Key_Return);
    });
    Key(&window, Qt::Key_P);
    QCOMPARE(ui_.messages, QStringList{"Installed Success!"});
    QCOMPARE(Devices(), QStringList{"QZ381"});
    QCOMPARE(DeviceText("QZ381", "Port"), QString("COM3"));
    QCOMPARE(DeviceText("QZ381", "LDN"), QString("PRN1"));
    QVERIFY(DeviceItem(window, "QZ381") != nullptr);

    // M on the selected device: a parity change, then OK.
    window.tree()->setCurrentItem(DeviceItem(window, "QZ381"));
    WhenModal<CDeviceSettingsDlg>([](CDeviceSettingsDlg* dialog) {
      QCOMPARE(dialog->model().mode(), SettingsMode::kModify);
      QCOMPARE(dialog->port()->currentText(), QString("COM3"));
      dialog->parity()->setCurrentIndex(1);
      QTest::mouseClick(dialog->ok_button(), Qt::LeftButton);
    });
    Key(&window, Qt::Key_M);
    QCOMPARE(DeviceText("QZ381", "Parity"), QString("2"));

    // P again, then Escape: the new device goes again.
    WhenModal<CDeviceSettingsDlg>(
        [](CDeviceSettingsDlg* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    window.tree()->setFocus();
    Key(&window, Qt::Key_P);
    QCOMPARE(Devices(), QStringList{"QZ381"});

    // R asks, and removes the device with its alias.
    window.tree()->setCurrentItem(DeviceItem(window, "QZ381"));
    ui_.messages.clear();
    Key(&window, Qt::Key_R);
    QCOMPARE(ui_.messages, QStringList{"Remove Device: Are you sure you want to delete all "
                                       "setting information about QZ381"});
    QCOMPARE(Devices(), QStringList{});
    std::string alias;
    QVERIFY(
        !platform::ReadText(*reg_, platform::Hive::kLocalMachine, kClassKey, "PRN1", &alias).ok());
    QCOMPARE(window.class_item()->childCount(), 0);
  }

  void settingsDialogFollowsTheInterfaceAndRefusesAZeroBuffer() {
    std::string name;
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    CDeviceSettingsDlg dialog(*env_, name, SettingsMode::kModify);
    QVERIFY(dialog.Opened());
    QVERIFY(dialog.interface_button(Interface::kParallel)->isHidden());
    QVERIFY(dialog.baud()->isEnabled());
    QTest::mouseClick(dialog.interface_button(Interface::kUsb), Qt::LeftButton);
    QCOMPARE(ui_.messages, QStringList{"Not Connect USB Device and Power off!"});
    QVERIFY(dialog.interface_button(Interface::kSerial)->isChecked());
    QCOMPARE(dialog.output_buffer()->text(), QString("4096"));

    ui_.messages.clear();
    dialog.output_buffer()->setText("0");
    QTest::mouseClick(dialog.ok_button(), Qt::LeftButton);
    QCOMPARE(ui_.messages, QStringList{"Output Buffer Value Error!"});
    QCOMPARE(DeviceText(QString::fromStdString(name), "OutputBuf"), QString("8192"));
  }

  void usbPrintersAreListedWithTheirIdentifiers() {
    platform::FakeUsbPrinters tree;
    tree.Plug({"", "", 0x3A81, 0x0381, "QZ0001"}, "1-1");
    tree.Plug({"", "", 0x1111, 0x2222, ""}, "1-2");
    tree.Plug({"", "", 0x3A81, 0x0381, ""}, "1-3");
    env_->usb = [this, &tree] { return AttachedUsbPrinters(tree, false, *reg_); };
    std::string name;
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    CDeviceSettingsDlg dialog(*env_, name, SettingsMode::kModify);
    dialog.show();
    QVERIFY(dialog.usb_info()->isHidden());
    QTest::mouseClick(dialog.interface_button(Interface::kUsb), Qt::LeftButton);
    QCOMPARE(ui_.messages, QStringList{});
    QCOMPARE(dialog.port()->count(), 2);
    QCOMPARE(dialog.port()->itemText(0), QString("USB001:"));
    QCOMPARE(dialog.port()->itemText(1), QString("USB003:"));
    QVERIFY(dialog.usb_info()->isVisible());
    QCOMPARE(dialog.usb_info()->text(), QString("VID 3A81  PID 0381  Serial QZ0001"));
    QCOMPARE(dialog.port()->itemData(1, Qt::ToolTipRole).toString(),
             QString("VID 3A81  PID 0381  Serial -"));

    dialog.port()->setFocus();
    QTest::keyClick(dialog.port(), Qt::Key_Down);
    QCOMPARE(dialog.port()->currentText(), QString("USB003:"));
    QCOMPARE(dialog.usb_info()->text(), QString("VID 3A81  PID 0381  Serial -"));
    QTest::mouseClick(dialog.ok_button(), Qt::LeftButton);
    QCOMPARE(ui_.messages, QStringList{"Installed Success!"});
    const QString device = QString::fromStdString(name);
    QCOMPARE(DeviceText(device, "Port"), QString("USB003:"));
    QCOMPARE(
        DeviceText(device, "UsbDeviceName"),
        QString::fromStdString(platform::UsbInterfacePath(0x3A81, 0x0381, "", "1-3")).toUpper());
    QCOMPARE(DeviceText(device, "Pid"), QString("0381"));
    QCOMPARE(DeviceText(device, "Vid"), QString("3A81"));
  }

  void checkHealthSavesFirstAndRunsOnlyAfterASave() {
    QStringList calls;
    env_->control_object = [&calls] { return std::make_unique<FakeControlObject>(&calls); };
    std::string name;
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    CDeviceSettingsDlg dialog(*env_, name, SettingsMode::kAdd);
    dialog.output_buffer()->setText("0");
    dialog.CheckHealth();
    QCOMPARE(calls, QStringList{});
    dialog.output_buffer()->setText("512");
    dialog.ldn()->setText("PRN7");
    dialog.CheckHealth();
    QCOMPARE(calls, (QStringList{"Open " + QString::fromStdString(name), "CheckHealth 3"}));
    QCOMPARE(DeviceText(QString::fromStdString(name), "OutputBuf"), QString("512"));
    // Still in add mode: a later Cancel removes the device it saved.
    dialog.reject();
    QCOMPARE(Devices(), QStringList{});
  }

  void interactiveCheckAsksTheOperatorInTheDialog() {
    // The service object's side, as the control object hands it over.
    struct Device : co::HealthDialog {
      const std::string& title() const override { return title_; }
      const std::string& info() const override { return info_; }
      int32_t Print(std::string* text) override {
        ++prints;
        *text = "Success (0/0)";
        return 0;
      }
      opos::HealthStatus Status() override { return {2003, 1, 0, 1}; }
      std::string title_ = "Printer Check Health : - Interactive -QZ381 Receipt";
      std::string info_ =
          "QZ381 POSPrinter Service Object, Vorna Technologies\n1.9.3\nQZ381 Thermal Receipt "
          "Printer\nQZ381 Receipt";
      int prints = 0;
    } device;
    HealthDialogWindows dialogs;
    QStringList calls;
    env_->control_object = [&] {
      return std::make_unique<FakeControlObject>(&calls, [&](int32_t level) {
        if (level == 3) dialogs.ShowHealthDialog(device);
      });
    };
    std::string name;
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    CSetupMainDlg window(*env_);
    window.tree()->setCurrentItem(DeviceItem(window, QString::fromStdString(name)));

    bool shown = false;
    WhenModal<CHealthCheckDlg>([&](CHealthCheckDlg* dialog) {
      shown = true;
      // A failed comparison returns early: the dialog still has to end.
      struct Closer {
        QDialog* d;
        ~Closer() {
          if (d->isVisible()) d->reject();
        }
      } closer{dialog};
      QCOMPARE(dialog->windowTitle(),
               QString("Printer Check Health : - Interactive -QZ381 Receipt"));
      QCOMPARE(dialog->result()->text(), QString("-- Print Result --"));
      QCOMPARE(dialog->power_state()->text(), QString("Power State: Offline"));
      QTest::mouseClick(dialog->print_button(), Qt::LeftButton);
      QCOMPARE(device.prints, 1);
      QCOMPARE(dialog->result()->text(), QString("Success (0/0)"));
      const QByteArray out = qgetenv("QZ381_SCREENSHOT_DIR");
      if (!out.isEmpty()) {
        QDir().mkpath(QString::fromLocal8Bit(out));
        Shot(dialog).save(QDir(QString::fromLocal8Bit(out)).filePath("setup-health-check.png"));
      }
      QTest::mouseClick(dialog->exit_button(), Qt::LeftButton);
    });
    QTest::keyClick(&window, Qt::Key_H);
    QVERIFY(shown);
    QCOMPARE(device.prints, 1);
    QVERIFY(!QApplication::activeModalWidget());
  }

  void portRangeRefusesOutOfRangeAndKeepsFocus() {
    Write("setup.inf", "[Description]\nVersion=1\n");
    CPortRangeDlg dialog(*env_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(dialog.serial()->text(), QString("4"));  // no keys: the defaults
    QCOMPARE(dialog.parallel()->text(), QString("2"));
    dialog.serial()->setText("51");
    dialog.parallel()->setFocus();
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(ui_.messages, QStringList{"Serial ports Range must be a whole number from 1 to 50."});
    QVERIFY(dialog.serial()->hasFocus());
    QVERIFY(dialog.isVisible());
    QVERIFY(!QFile(dir_.filePath("setup.inf")).readAll().contains("COMRange=51"));

    dialog.serial()->setText("50");
    QTest::keyClick(dialog.serial(), Qt::Key_Up);
    QCOMPARE(dialog.serial()->text(), QString("1"));
    dialog.Default();
    dialog.accept();
    QCOMPARE(ReadPortRanges(*reg_).com, 4);
    QCOMPARE(ReadPortRanges(*reg_).lpt, 1);
  }

  void messageBoxesCarryTheExactTexts() {
    MessageBoxUi boxes;
    WhenModal<QMessageBox>([](QMessageBox* box) {
      QCOMPARE(box->text(), QString("Installed Success!"));
      box->accept();
    });
    boxes.ShowMessage("Installed Success!");
    WhenModal<QMessageBox>([](QMessageBox* box) {
      QCOMPARE(box->windowTitle(), QString("Remove Device"));
      box->button(QMessageBox::Cancel)->click();
    });
    QVERIFY(!boxes.Confirm("Are you sure?", "Remove Device"));
  }

  void skinnedButtonFollowsTheMouse() {
    QWidget host;
    host.resize(300, 100);
    CSkinButton button("Add Printer (P)", &host);
    SkinButton(&button);
    QCOMPARE(button.size(), QSize(142, 22));
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QPoint centre = button.rect().center();
    QTest::mouseMove(&button, centre);
    QTRY_VERIFY(button.hovering());
    QTest::mousePress(&button, Qt::LeftButton, {}, centre);
    QVERIFY(button.isDown());
    QVERIFY(!button.hovering());
    button.repaint();
    QCOMPARE(button.shown(), 'P');
    // Held and dragged off, it looks released; back on, pressed again.
    QTest::mouseMove(&button, QPoint(200, 60));
    QVERIFY(!button.isDown());
    QTest::mouseMove(&button, centre);
    QVERIFY(button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, centre);
    // The mask's white corners are not part of the button.
    QVERIFY(!button.mask().contains(QPoint(0, 0)));
    QVERIFY(button.mask().contains(centre));
    button.setEnabled(false);
    button.repaint();
    QCOMPARE(button.shown(), 'D');
  }

  void draggingTheBackgroundMovesTheDialog() {
    CPortRangeDlg dialog(*env_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint before = dialog.pos();
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(20, 150));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 170), dialog.mapToGlobal(QPointF(60, 170)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &move);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(60, 170));
    QCOMPARE(dialog.pos(), before + QPoint(40, 20));
  }

  void shapedDialogsTakeNoClicksOnTheirBorder() {
    CPortRangeDlg dialog(*env_);
    QVERIFY(!dialog.mask().contains(QPoint(0, 0)));  // a keyed-out corner
    QVERIFY(!dialog.mask().contains(QPoint(447, 287)));
    QVERIFY(dialog.mask().contains(QPoint(224, 144)));
    if (QGuiApplication::platformName() != "xcb") return;
    // On X the shape is the window's: a click on the corner reaches what is
    // below it, a click inside reaches the dialog.
    QWidget below;
    below.setGeometry(100, 100, 600, 400);
    below.show();
    QVERIFY(QTest::qWaitForWindowExposed(&below));
    dialog.move(200, 200);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint origin = dialog.geometry().topLeft();
    QTRY_COMPARE(QApplication::widgetAt(origin + QPoint(1, 1)), &below);
    QCOMPARE(QApplication::widgetAt(origin + QPoint(20, 150))->window(), &dialog);
  }

  void screenshots() {
    const QByteArray out = qgetenv("QZ381_SCREENSHOT_DIR");
    if (out.isEmpty()) QSKIP("QZ381_SCREENSHOT_DIR is not set");
    QDir().mkpath(QString::fromLocal8Bit(out));
    std::string name;
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    QVERIFY(InstallModel(*reg_, "QZ381", &name).ok());
    reg_->SetValue(platform::Hive::kLocalMachine, std::string(kClassKey) + "\\QZ381", "LDN",
                   platform::RegValue::Text("PRN1"));
    CSetupMainDlg main(*env_);
    main.tree()->setCurrentItem(DeviceItem(main, "QZ381"));
    CDeviceSettingsDlg settings(*env_, "QZ381", SettingsMode::kModify);
    CPortRangeDlg ranges(*env_);
    CModelSelectDlg models(*env_);
    models.resize(260, 200);
    // A device on the first of two attached printers.
    platform::FakeUsbPrinters tree;
    tree.Plug({"", "", 0x3A81, 0x0381, "QZ0001"}, "1-1");
    tree.Plug({"", "", 0x3A81, 0x0381, "QZ0002"}, "1-2");
    env_->usb = [this, &tree] { return AttachedUsbPrinters(tree, false, *reg_); };
    reg_->SetValue(platform::Hive::kLocalMachine, std::string(kClassKey) + "\\QZ381_1", "Port",
                   platform::RegValue::Text("USB001:"));
    CDeviceSettingsDlg usb(*env_, "QZ381_1", SettingsMode::kModify);
    const std::pair<QWidget*, const char*> windows[] = {{&main, "setup-main.png"},
                                                        {&settings, "setup-device-settings.png"},
                                                        {&usb, "setup-device-settings-usb.png"},
                                                        {&ranges, "setup-port-range.png"},
                                                        {&models, "setup-model-select.png"}};
    for (const auto& [window, file] : windows) {
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window));
      QVERIFY(Shot(window).save(QDir(QString::fromLocal8Bit(out)).filePath(file)));
      window->hide();
    }
  }
};

QTEST_MAIN(GuiTest)
#include "gui_test.moc"
