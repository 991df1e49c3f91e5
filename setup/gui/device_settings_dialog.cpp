// The device settings dialog: controls over CDeviceSettings.
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "setup/gui/dialogs.h"
#include "setup/gui/skin_art.h"
#include "setup/usb_devices.h"

namespace qz381::setup::gui {

namespace {

const QColor kLabelBlue(0, 0, 139);

template <size_t N>
QComboBox* List(QWidget* parent, const std::array<const char*, N>& entries, int x, int y) {
  auto* box = new QComboBox(parent);
  for (const char* entry : entries) box->addItem(entry);
  box->setGeometry(x, y, 90, 20);
  return box;
}

QLineEdit* Box(QWidget* parent, int x, int y, int width = 90) {
  auto* box = new QLineEdit(parent);
  box->setGeometry(x, y, width, 20);
  return box;
}

QLabel* Label(QWidget* parent, const char* text, int x, int y, int width = 100) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, width, 20);
  SkinnedDialog::MakeTransparent(label, kLabelBlue);
  return label;
}

QString Text(const std::string& text) {
  return QString::fromLocal8Bit(text);
}

std::string Std(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

}  // namespace

CDeviceSettingsDlg::CDeviceSettingsDlg(SetupEnvironment& env, const std::string& device_name,
                                       SettingsMode mode, QWidget* parent)
    : SkinnedDialog(DialogBackground(), QSize(450, 290), true, parent),
      env_(env),
      model_(env.reg, device_name, mode, env.ui, env.usb) {
  setWindowTitle("Device Settings");
  auto* title = new QLabel("Device Settings", this);
  title->setGeometry(16, 3, 300, 20);
  MakeTransparent(title, Qt::white);

  Label(this, "Device Name", 20, 34);
  device_name_ = Box(this, 170, 34, 160);
  device_name_->setReadOnly(true);
  Label(this, "Local Device Name(LDN)", 20, 56, 150);
  ldn_ = Box(this, 170, 56, 160);

  auto* group = new QGroupBox("Select Interface :", this);
  group->setGeometry(14, 78, 420, 40);
  MakeTransparent(group, kLabelBlue);
  auto* interfaces = new QButtonGroup(this);
  const char* names[] = {"Serial", "Parallel", "USB", "Ethernet"};
  for (int i = 0; i < 4; ++i) {
    interfaces_[i] = new QRadioButton(names[i], group);
    interfaces_[i]->setGeometry(130 + i * 80, 17, 76, 20);
    MakeTransparent(interfaces_[i], kLabelBlue);
    interfaces->addButton(interfaces_[i], i);
  }
  // Parallel and Ethernet are chosen only by a stored port, never offered.
  interfaces_[1]->hide();
  interfaces_[3]->hide();
  interfaces_[2]->move(210, 17);

  port_label_ = Label(this, "Port :", 20, 124);
  port_ = new QComboBox(this);
  port_->setGeometry(110, 124, 90, 20);
  ip_ = Box(this, 110, 124, 110);
  ip_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(R"(^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$)"), ip_));
  baud_label_ = Label(this, "Baud Rate :", 20, 146);
  baud_ = List(this, kBaudRates, 110, 146);
  tcp_port_ = Box(this, 110, 146);
  tcp_port_->setValidator(new QRegularExpressionValidator(QRegularExpression(R"(^\d*$)"), this));
  Label(this, "Bit Length :", 20, 168);
  bit_length_ = List(this, kBitLengths, 110, 168);
  Label(this, "Parity :", 20, 190);
  parity_ = List(this, kParities, 110, 190);
  Label(this, "Stop Bit(s) :", 20, 212);
  stop_bits_ = List(this, kStopBits, 110, 212);
  Label(this, "Flow Control :", 20, 234);
  flow_control_ = List(this, kFlowControls, 110, 234);
  // Below the lists: which printer a "USB00n:" name stands for.
  usb_info_ = Label(this, "", 20, 257, 265);

  Label(this, "Input Buffer :", 222, 124, 140);
  input_buffer_ = Box(this, 362, 124, 70);
  input_buffer_->setReadOnly(true);
  Label(this, "Output Buffer :", 222, 146, 140);
  output_buffer_ = Box(this, 362, 146, 70);
  Label(this, "Output Interval Time :", 222, 168, 140);
  output_interval_ = Box(this, 362, 168, 70);
  Label(this, "Input Sleep Time :", 222, 190, 140);
  input_sleep_ = Box(this, 362, 190, 70);

  ok_ = new CSkinButton("&OK", this);
  auto* cancel = new CSkinButton("&Cancel", this);
  auto* health = new CSkinButton("Check &Health", this);
  CSkinButton* buttons[] = {ok_, cancel, health};
  for (int i = 0; i < 3; ++i) {
    SkinButton(buttons[i]);
    buttons[i]->move(290, 212 + i * 24);
  }
  connect(ok_, &CSkinButton::clicked, this, &CDeviceSettingsDlg::accept);
  connect(cancel, &CSkinButton::clicked, this, &CDeviceSettingsDlg::reject);
  connect(health, &CSkinButton::clicked, this, &CDeviceSettingsDlg::CheckHealth);
  connect(interfaces, &QButtonGroup::idClicked, this, [this](int id) {
    TakeValues();
    model_.SelectInterface(static_cast<Interface>(id));
    PutValues();
  });
  connect(port_, &QComboBox::activated, this, [this](int index) {
    if (updating_) return;
    TakeValues();
    model_.ChoosePort(index);
    PutValues();
  });

  move(pos() + QPoint(1, 1));
  opened_ = model_.Open();
  PutValues();
}

int CDeviceSettingsDlg::Run() {
  return opened_ ? exec() : QDialog::Rejected;
}

void CDeviceSettingsDlg::TakeValues() {
  DeviceSettingsFields& f = model_.fields();
  f.ldn = Std(ldn_->text());
  f.port = port_->currentIndex();
  f.baud = baud_->currentIndex();
  f.bit_length = bit_length_->currentIndex();
  f.parity = parity_->currentIndex();
  f.stop_bits = stop_bits_->currentIndex();
  f.flow_control = flow_control_->currentIndex();
  f.input_buffer = Std(input_buffer_->text());
  f.output_buffer = Std(output_buffer_->text());
  f.output_interval = Std(output_interval_->text());
  f.input_sleep = Std(input_sleep_->text());
  const QStringList parts = ip_->text().split('.');
  for (size_t i = 0; i < 4; ++i) {
    f.ip[i] = static_cast<uint8_t>(
        static_cast<int>(i) < parts.size() ? parts[static_cast<int>(i)].toInt() & 0xFF : 0);
  }
  f.tcp_port = Std(tcp_port_->text());
}

void CDeviceSettingsDlg::PutValues() {
  const DeviceSettingsFields& f = model_.fields();
  updating_ = true;
  device_name_->setText(Text(f.device_name));
  ldn_->setText(Text(f.ldn));
  for (int i = 0; i < 4; ++i) {
    interfaces_[i]->setEnabled(f.interface_enabled[static_cast<size_t>(i)]);
    interfaces_[i]->setChecked(static_cast<int>(f.interface) == i);
  }
  port_->clear();
  for (const std::string& name : f.ports) {
    const UsbEntry* usb = f.interface == Interface::kUsb ? model_.FindUsb(name) : nullptr;
    const QString identifiers = usb ? Text(DescribeUsbEntry(*usb)) : QString();
    port_->addItem(Text(name), identifiers);
    port_->setItemData(port_->count() - 1, identifiers, Qt::ToolTipRole);
  }
  port_->setCurrentIndex(f.port);
  usb_info_->setText(port_->currentData().toString());
  usb_info_->setVisible(!usb_info_->text().isEmpty());
  port_->setVisible(!f.ethernet());
  baud_->setVisible(!f.ethernet());
  ip_->setVisible(f.ethernet());
  tcp_port_->setVisible(f.ethernet());
  port_label_->setText(f.port_label());
  baud_label_->setText(f.baud_label());
  baud_->setCurrentIndex(f.baud);
  bit_length_->setCurrentIndex(f.bit_length);
  parity_->setCurrentIndex(f.parity);
  stop_bits_->setCurrentIndex(f.stop_bits);
  flow_control_->setCurrentIndex(f.flow_control);
  for (QComboBox* list : {baud_, bit_length_, parity_, stop_bits_, flow_control_}) {
    list->setEnabled(f.serial_lists_enabled());
  }
  input_buffer_->setText(Text(f.input_buffer));
  output_buffer_->setText(Text(f.output_buffer));
  output_interval_->setText(Text(f.output_interval));
  input_sleep_->setText(Text(f.input_sleep));
  ip_->setText(QString("%1.%2.%3.%4").arg(f.ip[0]).arg(f.ip[1]).arg(f.ip[2]).arg(f.ip[3]));
  tcp_port_->setText(Text(f.tcp_port));
  updating_ = false;
  update();
}

void CDeviceSettingsDlg::accept() {
  TakeValues();
  const bool ok = model_.Ok();
  PutValues();
  if (ok) SkinnedDialog::accept();
}

void CDeviceSettingsDlg::reject() {
  model_.Cancel();
  SkinnedDialog::reject();
}

void CDeviceSettingsDlg::CheckHealth() {
  TakeValues();
  if (!model_.SaveForHealthCheck()) return;
  PutValues();
  std::unique_ptr<ControlObject> co = env_.control_object();
  if (co) RunHealthCheck(*co, model_.fields().device_name, HealthForm::kSettingsDialog, env_.ui);
}

}  // namespace qz381::setup::gui
