#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <string>

namespace console {

// True when the adapter now behind a port is the one remembered: the same USB serial
// number where one was known, otherwise the same name (a by-id link names one adapter).
bool IsSameAdapter(const std::string& rememberedSerial, const std::string& currentSerial);

// Waits, without a timer, for the adapter a port was opened on to come back after it was
// pulled, woken by the kernel's notifications on the device's folder.
class AdapterWatch : public QObject {
  Q_OBJECT

 public:
  // Called when the port opened: what identifies its adapter.
  void Remember(const std::string& devicePath);
  void Arm();
  void Disarm();
  int Checks() const { return checks_; }

 signals:
  void Returned();

 private:
  void Check();
  void WatchNearestFolder();

  QFileSystemWatcher watcher_;
  std::string path_;
  std::string serial_;
  bool armed_ = false;
  int checks_ = 0;
};

}  // namespace console
