#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <string>

#include "cportsetup/adapter_identity.h"

namespace console {

// Waits, without a timer, for the adapter a port was opened on to come back after it was
// pulled, woken by the kernel's notifications on the device's folder. Armed, it looks at
// once as well: the adapter may be back before anyone looked.
class AdapterWatch : public QObject {
  Q_OBJECT

 public:
  // What identifies the adapter behind the port's device, as it is now.
  void Remember(const std::string& devicePath);
  void Arm();
  void Disarm();
  bool Armed() const { return armed_; }
  int Checks() const { return checks_; }

 signals:
  void Returned();

 private:
  void Check();
  void WatchNearestFolder();

  QFileSystemWatcher watcher_;
  std::string path_;
  cport::AdapterIdentity identity_;
  bool armed_ = false;
  int checks_ = 0;
};

}  // namespace console
