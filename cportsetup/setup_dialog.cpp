#include "cportsetup/setup_dialog.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <memory>

namespace cport {
namespace {

struct Row {
  const char* label;
  int labelWidth;
};

constexpr std::array<Row, 6> kRows = {{{"Port", 19},
                                       {"Baud rate", 46},
                                       {"Data bits", 42},
                                       {"Stop bits", 41},
                                       {"Parity", 26},
                                       {"Flow control", 57}}};

QFont DialogFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  return font;
}

}  // namespace

TComSetupFrm::TComSetupFrm() {
  setObjectName(QStringLiteral("ComSetupFrm"));
  setWindowTitle(QStringLiteral("Setup"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  setFixedSize(231, 216);
  setFont(DialogFont());

  button1_ = new QPushButton(QStringLiteral("OK"), this);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setGeometry(70, 184, 75, 25);
  button1_->setDefault(true);
  connect(button1_, &QPushButton::clicked, this, &QDialog::accept);
  button2_ = new QPushButton(QStringLiteral("Cancel"), this);
  button2_->setObjectName(QStringLiteral("Button2"));
  button2_->setGeometry(150, 184, 75, 25);
  button2_->setAutoDefault(false);
  connect(button2_, &QPushButton::clicked, this, &QDialog::reject);

  groupBox1_ = new QGroupBox(QStringLiteral(" Settings "), this);
  groupBox1_->setObjectName(QStringLiteral("GroupBox1"));
  groupBox1_->setGeometry(8, 8, 217, 169);
  for (size_t i = 0; i < kRows.size(); ++i) {
    auto* label = new QLabel(QString::fromLatin1(kRows[i].label), groupBox1_);
    label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    label->setGeometry(8, 24 + 24 * static_cast<int>(i), kRows[i].labelWidth, 13);
  }
  // Built in the order of the description: Combo2 to Combo6, then Combo1.
  combos_[1] = AddCombo("Combo2", 40, cpBaudRate, "Custom");
  combos_[2] = AddCombo("Combo3", 64, cpDataBits, "5");
  combos_[3] = AddCombo("Combo4", 88, cpStopBits, "1");
  combos_[4] = AddCombo("Combo5", 112, cpParity, "None");
  combos_[5] = AddCombo("Combo6", 136, cpFlowControl, "Hardware");
  combos_[0] = AddCombo("Combo1", 16, cpPort, "COM1");

  setTabOrder(groupBox1_, button1_);
  setTabOrder(button1_, button2_);
  for (size_t i = 0; i + 1 < combos_.size(); ++i) setTabOrder(combos_[i], combos_[i + 1]);
}

TComComboBox* TComSetupFrm::AddCombo(const char* name, int top, TComProperty property,
                                     const char* text) {
  auto* combo = new TComComboBox(groupBox1_);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(80, top, 129, 21);
  try {
    combo->SetComProperty(property);
  } catch (const std::exception& e) {
    throw EReadError(std::string("Error reading ") + name + ".ComProperty: " + e.what());
  }
  combo->SetText(text);
  return combo;
}

// Escape does not close this dialog, and Cancel is not its cancel button.
void TComSetupFrm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void EditPortSettings(TCustomComPort& port) {
  auto dialog = std::make_unique<TComSetupFrm>();
  const auto combos = dialog->Combos();
  for (TComComboBox* combo : combos) combo->SetComPort(&port);
  for (TComComboBox* combo : combos) combo->LoadFromPort();
  if (dialog->exec() != QDialog::Accepted) return;
  port.BeginSettingsUpdate();
  struct EndBatch {
    TCustomComPort& port;
    bool done = false;
    ~EndBatch() {
      if (!done) port.EndSettingsUpdate();
    }
  } batch{port};
  for (TComComboBox* combo : combos) {
    // A port the list does not show (a pseudo-terminal, a name typed into the settings
    // file) keeps its name unless the operator picked one.
    if (combo == combos[0] && combo->currentIndex() < 0) continue;
    combo->ApplyToPort();
  }
  batch.done = true;
  port.EndSettingsUpdate();
}

void InstallSetupDialog() { TCustomComPort::SetSetupDialogRunner(EditPortSettings); }

}  // namespace cport
