#include "cportsetup/com_combobox.h"

#include "cportsetup/network_ports.h"
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
  if (select_.ComProperty == cpPort && Text() == kNetworkPortItem && !PickNetworkPort()) return;
  select_.TakeText(Text());
  emit Changed();
}

// The name asked for joins the list before the item that asked, and is chosen; without
// one, the list shows the port's own again.
bool TComComboBox::PickNetworkPort() {
  const std::string current = select_.ComPort ? select_.ComPort->Port() : std::string();
  const auto name = AskForNetworkPort(this, current);
  if (!name) {
    setCurrentIndex(select_.LoadFromPort());
    return false;
  }
  int index = findText(QString::fromStdString(*name), Qt::MatchFixedString);
  if (index < 0) {
    index = count() - 1;
    items_.insert(items_.begin() + index, *name);
    insertItem(index, QString::fromStdString(*name));
  }
  setCurrentIndex(index);
  return true;
}

}  // namespace cport
