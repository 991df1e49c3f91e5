// The main window: the device tree, the description and the six commands.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include "setup/gui/dialogs.h"
#include "setup/gui/skin_art.h"
#include "setup/install.h"
#include "setup/setup_store.h"

namespace qz381::setup::gui {

namespace {

constexpr char kKeys[6] = {'P', 'R', 'M', 'H', 'A', 'X'};
constexpr const char* kButtonTexts[6] = {"Add Printer (P)",   "Remove Device (R)",
                                         "Modify Device (M)", "Check health (H)",
                                         "Port Range (A)",    "Exit (X)"};
enum { kAdd, kRemove, kModify, kHealth, kPortRange, kExit };

QIcon TreeIcon(int index) {
  static const QPixmap strip = [] {
    QImage image = TreeImages().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) == qRgb(0, 128, 128)) image.setPixel(x, y, 0);
      }
    }
    return QPixmap::fromImage(image);
  }();
  return QIcon(strip.copy(index * 16, 0, 16, 16));
}

}  // namespace

CSetupMainDlg::CSetupMainDlg(SetupEnvironment& env, QWidget* parent)
    : SkinnedDialog(MainBackground(), QSize(452, 292), false, parent), env_(env) {
  setWindowIcon(TreeIcon(1));
  title_ = new QLabel(this);
  title_->setGeometry(12, 6, 420, 26);
  QFont title_font("System", 14);
  title_font.setBold(true);
  title_->setFont(title_font);
  MakeTransparent(title_, Qt::white);

  auto* list_label = new QLabel("Registered Device List", this);
  list_label->setGeometry(16, 50, 200, 18);
  MakeTransparent(list_label, QColor(0, 0, 139));
  tree_ = new QTreeWidget(this);
  tree_->setGeometry(14, 70, 202, 130);
  tree_->setHeaderHidden(true);
  tree_->setFrameShape(QFrame::NoFrame);
  description_ = new QPlainTextEdit(this);
  description_->setGeometry(236, 54, 202, 146);
  description_->setReadOnly(true);
  description_->setFrameShape(QFrame::NoFrame);
  description_->viewport()->setAutoFillBackground(false);
  MakeTransparent(description_, Qt::white);
  MakeTransparent(description_->viewport(), Qt::white);

  for (int i = 0; i < 6; ++i) {
    buttons_[i] = new CSkinButton(kButtonTexts[i], this);
    SkinButton(buttons_[i]);
    buttons_[i]->move(8 + (i % 3) * 146, 222 + (i / 3) * 32);
  }
  connect(buttons_[kAdd], &CSkinButton::clicked, this, [this] { AddPrinter(); });
  connect(buttons_[kRemove], &CSkinButton::clicked, this, [this] { RemoveDevice(); });
  connect(buttons_[kModify], &CSkinButton::clicked, this, [this] { ModifyDevice(); });
  connect(buttons_[kHealth], &CSkinButton::clicked, this, [this] { CheckHealth(); });
  connect(buttons_[kPortRange], &CSkinButton::clicked, this, [this] { PortRange(); });
  connect(buttons_[kExit], &CSkinButton::clicked, this, &QDialog::reject);

  root_item_ = new QTreeWidgetItem(tree_, QStringList("Device"));
  root_item_->setIcon(0, TreeIcon(0));
  class_item_ = new QTreeWidgetItem(root_item_, QStringList("POSPrinter"));
  class_item_->setIcon(0, TreeIcon(1));
  root_item_->setExpanded(true);
  class_item_->setExpanded(true);
  tree_->scrollToItem(class_item_);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { SelectionChanged(); });

  RefreshDeviceTree();
  buttons_[kModify]->setEnabled(false);
  buttons_[kHealth]->setEnabled(false);

  const QString caption = QString::fromLocal8Bit(VersionDescription(env_.reg));
  title_->setText(caption);
  setWindowTitle(caption);
  // The letter keys act wherever the focus is, so they are seen first.
  qApp->installEventFilter(this);
}

CSkinButton* CSetupMainDlg::button(char key) const {
  for (int i = 0; i < 6; ++i) {
    if (kKeys[i] == key) return buttons_[i];
  }
  return nullptr;
}

void CSetupMainDlg::RefreshDeviceTree() {
  for (QTreeWidgetItem* child : class_item_->takeChildren()) delete child;
  if (env_.reg.KeyExists(platform::Hive::kLocalMachine, kClassKey).ok()) {
    for (const std::string& name : ListDevices(env_.reg)) {
      auto* item = new QTreeWidgetItem(class_item_, QStringList(QString::fromLocal8Bit(name)));
      QIcon icon;
      icon.addPixmap(TreeIcon(5).pixmap(16), QIcon::Normal, QIcon::Off);
      icon.addPixmap(TreeIcon(4).pixmap(16), QIcon::Selected, QIcon::Off);
      item->setIcon(0, icon);
      if (IsKnownModel(env_.reg, name)) {
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
      }
    }
    root_item_->setExpanded(true);
    class_item_->setExpanded(true);
    description_->setPlainText(QString::fromLocal8Bit(DescribeDevice(env_.reg, described_)));
  }
}

void CSetupMainDlg::SelectionChanged() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr) return;
  const std::string text = item->text(0).toLocal8Bit().toStdString();
  int steps = 0;
  for (QTreeWidgetItem* up = item; up->parent() != nullptr; up = up->parent()) ++steps;
  const int level = IsKnownModel(env_.reg, text) ? steps : 0;
  if (level == 2) buttons_[kRemove]->setEnabled(true);
  buttons_[kModify]->setEnabled(level == 2);
  buttons_[kHealth]->setEnabled(level == 2);
  if (steps == 2 && text != described_) {
    described_ = text;
    description_->setPlainText(QString::fromLocal8Bit(DescribeDevice(env_.reg, text)));
  }
}

std::string CSetupMainDlg::SelectedDevice() const {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr || item->parent() != class_item_) return "";
  return item->text(0).toLocal8Bit().toStdString();
}

void CSetupMainDlg::AddPrinter() {
  CModelSelectDlg select(env_, this);
  if (select.Run() != QDialog::Accepted) return;
  CDeviceSettingsDlg settings(env_, select.device_name(), SettingsMode::kAdd, this);
  settings.Run();
  RefreshDeviceTree();
}

void CSetupMainDlg::RemoveDevice() {
  const std::string name = SelectedDevice();
  if (name.empty()) return;
  if (!env_.ui.Confirm("Are you sure you want to delete all setting information about " + name,
                       "Remove Device")) {
    return;
  }
  setup::RemoveDevice(env_.reg, name);  // what could not go shows in the refreshed tree
  RefreshDeviceTree();
}

void CSetupMainDlg::ModifyDevice() {
  const std::string name = SelectedDevice();
  if (!name.empty()) {
    CDeviceSettingsDlg settings(env_, name, SettingsMode::kModify, this);
    settings.Run();
  }
  RefreshDeviceTree();
}

void CSetupMainDlg::CheckHealth() {
  const std::string name = SelectedDevice();
  if (name.empty()) return;
  std::unique_ptr<ControlObject> co = env_.control_object();
  if (co) RunHealthCheck(*co, name, HealthForm::kMainWindow, env_.ui);
}

void CSetupMainDlg::PortRange() {
  CPortRangeDlg dialog(env_, this);
  dialog.exec();
}

bool CSetupMainDlg::eventFilter(QObject* watched, QEvent* event) {
  // Only while this window is the one in front; dialogs over it keep their keys.
  // A key the focus widget ignores travels on to its parents and would be
  // seen again: only its first delivery counts.
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : this;
  QWidget* modal = QApplication::activeModalWidget();
  if (event->type() == QEvent::KeyPress && (modal == nullptr || modal == this) &&
      watched == target && target->window() == this) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!key->isAutoRepeat() && key->modifiers() == Qt::NoModifier) {
      switch (key->key()) {
        case Qt::Key_P:
          AddPrinter();
          break;
        case Qt::Key_R:
          RemoveDevice();
          break;
        case Qt::Key_M:
          ModifyDevice();
          break;
        case Qt::Key_H:
          CheckHealth();
          break;
        case Qt::Key_A:
          PortRange();
          break;
        case Qt::Key_X:
          reject();
          break;
        default:
          break;
      }
    }
  }
  return SkinnedDialog::eventFilter(watched, event);
}

}  // namespace qz381::setup::gui
