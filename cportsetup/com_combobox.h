#pragma once

#include <QComboBox>
#include <string>
#include <vector>

#include "cportsetup/com_select.h"

namespace cport {

// A drop-down list bound to one basic setting of a port. Only the operator's picks are
// taken as choices; selections made by code are not.
class TComComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;

  TCustomComPort* ComPort() const { return select_.ComPort; }
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return select_.ComProperty; }
  void SetComProperty(TComProperty property);
  bool AutoApply() const { return select_.AutoApply; }
  void SetAutoApply(bool value) { select_.AutoApply = value; }
  std::string Text() const;
  void SetText(const std::string& text);

  void ApplyToPort() { select_.ApplyToPort(); }
  void LoadFromPort();
  const TComSelect& Selector() const { return select_; }

 signals:
  // The operator picked an item; its value is taken already.
  void Changed();

 private:
  void RefillList();
  void OperatorPicked(int index);
  bool PickNetworkPort();
  void PortRemoved();
  void Unbind();

  std::vector<std::string> items_;
  TComSelect select_;
  int notification_ = 0;
};

}  // namespace cport
