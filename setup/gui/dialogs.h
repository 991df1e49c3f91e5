#pragma once
// The setup utility's windows over the model: the main window, the model
// selection, the device settings and the port range dialogs.
#include <QDialog>
#include <QLineEdit>
#include <functional>
#include <memory>

#include "platform/registry.h"
#include "setup/device_settings.h"
#include "setup/gui/skin.h"
#include "setup/health_check.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QRadioButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qz381::setup::gui {

// Message boxes with an OK button, and OK/Cancel questions.
class MessageBoxUi : public UserInterface {
 public:
  explicit MessageBoxUi(QWidget* parent = nullptr) : parent_(parent) {}
  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text, const std::string& caption) override;

 private:
  QWidget* parent_;
};

// What the windows need from outside: the registry, how to show messages,
// the attached USB printers and a control object for the health check.
struct SetupEnvironment {
  platform::Registry& reg;
  UserInterface& ui;
  UsbEnumerator usb;
  std::function<std::unique_ptr<ControlObject>()> control_object;
};

// Gives a button the four bitmaps every button of the setup utility has.
void SkinButton(CSkinButton* button);

class CModelSelectDlg : public QDialog {
 public:
  CModelSelectDlg(SetupEnvironment& env, QWidget* parent = nullptr);
  // With one model the installation runs at once and the dialog is never
  // shown; otherwise it runs modally. Accepted: device_name() is the new key.
  int Run();
  const std::string& device_name() const { return device_name_; }
  QListWidget* list() const { return list_; }
  void Next();

 private:
  SetupEnvironment& env_;
  QListWidget* list_;
  std::string device_name_;
};

// A number box with the arrow keys and two arrows beside it, wrapping at
// the ends of its range; typed text is left for OK to check.
class CSpinBox : public QLineEdit {
 public:
  CSpinBox(int minimum, int maximum, QWidget* parent);
  void Step(int by);
  // The box at (x, y) with its arrows just right of it.
  void Place(int x, int y);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int minimum_, maximum_;
  QToolButton* up_;
  QToolButton* down_;
};

class CPortRangeDlg : public SkinnedDialog {
 public:
  CPortRangeDlg(SetupEnvironment& env, QWidget* parent = nullptr);
  CSpinBox* serial() const { return serial_; }
  CSpinBox* parallel() const { return parallel_; }
  void Default();
  // OK and Enter: both numbers checked, then written.
  void accept() override;

 private:
  SetupEnvironment& env_;
  CSpinBox* serial_;
  CSpinBox* parallel_;
};

class CDeviceSettingsDlg : public SkinnedDialog {
 public:
  CDeviceSettingsDlg(SetupEnvironment& env, const std::string& device_name, SettingsMode mode,
                     QWidget* parent = nullptr);
  // False when the dialog cannot open (it then ends with Cancel at once).
  bool Opened() const { return opened_; }
  int Run();

  CDeviceSettings& model() { return model_; }
  QLineEdit* ldn() const { return ldn_; }
  QComboBox* port() const { return port_; }
  // The chosen USB printer's identifiers; hidden outside USB mode.
  QLabel* usb_info() const { return usb_info_; }
  QComboBox* baud() const { return baud_; }
  QComboBox* parity() const { return parity_; }
  QLineEdit* output_buffer() const { return output_buffer_; }
  QRadioButton* interface_button(Interface i) const { return interfaces_[static_cast<int>(i)]; }
  CSkinButton* ok_button() const { return ok_; }

  void accept() override;
  void reject() override;
  void CheckHealth();

 private:
  void TakeValues();
  void PutValues();

  SetupEnvironment& env_;
  CDeviceSettings model_;
  bool opened_ = false;
  bool updating_ = false;
  QLineEdit* device_name_;
  QLineEdit* ldn_;
  QRadioButton* interfaces_[4];
  QLabel* port_label_;
  QLabel* baud_label_;
  QComboBox* port_;
  QLabel* usb_info_;
  QComboBox* baud_;
  QComboBox* bit_length_;
  QComboBox* parity_;
  QComboBox* stop_bits_;
  QComboBox* flow_control_;
  QLineEdit* ip_;
  QLineEdit* tcp_port_;
  QLineEdit* input_buffer_;
  QLineEdit* output_buffer_;
  QLineEdit* output_interval_;
  QLineEdit* input_sleep_;
  CSkinButton* ok_;
};

class CSetupMainDlg : public SkinnedDialog {
 public:
  explicit CSetupMainDlg(SetupEnvironment& env, QWidget* parent = nullptr);

  void RefreshDeviceTree();
  void AddPrinter();
  void RemoveDevice();
  void ModifyDevice();
  void CheckHealth();
  void PortRange();

  QTreeWidget* tree() const { return tree_; }
  QTreeWidgetItem* class_item() const { return class_item_; }
  QPlainTextEdit* description() const { return description_; }
  CSkinButton* button(char key) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SelectionChanged();
  // The selected device item's name, or "" when the selection is none.
  std::string SelectedDevice() const;

  SetupEnvironment& env_;
  QTreeWidget* tree_;
  QTreeWidgetItem* root_item_;
  QTreeWidgetItem* class_item_;
  QPlainTextEdit* description_;
  QLabel* title_;
  CSkinButton* buttons_[6];
  std::string described_;
};

}  // namespace qz381::setup::gui
