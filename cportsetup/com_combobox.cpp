#include "cportsetup/com_combobox.h"

#include "cportsetup/serial_ports.h"

namespace cport {

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
  select_.Items = &items_;
  setEditable(false);
  connect(this, &QComboBox::activated, this, &TComComboBox::OperatorPicked);
}

TComComboBox::~TComComboBox() { Unbind(); }

void TComComboBox::Unbind() {
  if (select_.ComPort) select_.ComPort->RemoveFreeNotification(notification_);
  select_.ComPort = nullptr;
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  if (port == select_.ComPort) return;
  Unbind();
  select_.ComPort = port;
  if (!port) return;
  notification_ = port->AddFreeNotification([this](TCustomComPort*) { PortRemoved(); });
  LoadFromPort();
}

void TComComboBox::PortRemoved() {
  select_.ComPort = nullptr;
  if (count() > 0) setCurrentIndex(0);
}

void TComComboBox::SetComProperty(TComProperty property) {
  select_.LoadItems(property);
  RefillList();
  if (count() == 0) return;
  if (select_.ComPort) {
    LoadFromPort();
  } else {
    setCurrentIndex(0);
  }
}

void TComComboBox::RefillList() {
  const QSignalBlocker quiet(this);
  clear();
  for (const std::string& item : items_) {
    addItem(QString::fromStdString(item));
    if (select_.ComProperty == cpPort) {
      setItemData(count() - 1, QString::fromStdString(DescribeSerialPort(item)), Qt::ToolTipRole);
    }
  }
}

std::string TComComboBox::Text() const {
  return currentIndex() < 0 ? std::string() : currentText().toStdString();
}

void TComComboBox::SetText(const std::string& text) {
  const int index = findText(QString::fromStdString(text), Qt::MatchFixedString);
  if (index >= 0) setCurrentIndex(index);
}

void TComComboBox::LoadFromPort() { setCurrentIndex(select_.LoadFromPort()); }

void TComComboBox::OperatorPicked(int) {
  select_.TakeText(Text());
  emit Changed();
}

}  // namespace cport
