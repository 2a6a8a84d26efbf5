#pragma once

#include <QDialog>
#include <array>
#include <stdexcept>

#include "cportsetup/com_combobox.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace cport {

// An error met while the dialog's controls were being set up, named after the control
// and property: "Error reading Combo1.ComProperty: ...".
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The modal dialog that edits the six basic settings of a port.
class TComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  TComSetupFrm();

  std::array<TComComboBox*, 6> Combos() const { return combos_; }
  QPushButton* OkButton() const { return button1_; }
  QPushButton* CancelButton() const { return button2_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TComComboBox* AddCombo(const char* name, int top, TComProperty property, const char* text);

  QGroupBox* groupBox1_;
  QPushButton* button1_;
  QPushButton* button2_;
  std::array<TComComboBox*, 6> combos_{};
};

// Runs the dialog for the port; on OK writes the six choices into it in one batch.
void EditPortSettings(TCustomComPort& port);

// Lets the port object's RunSetupDialog open this dialog.
void InstallSetupDialog();

}  // namespace cport
