#include "app/adapter_watch.h"

#include <filesystem>

namespace console {

void AdapterWatch::Remember(const std::string& devicePath) {
  path_ = devicePath;
  identity_ = cport::IdentifyAdapter(devicePath);
}

void AdapterWatch::Arm() {
  armed_ = true;
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &AdapterWatch::Check,
          Qt::UniqueConnection);
  WatchNearestFolder();
  QMetaObject::invokeMethod(this, &AdapterWatch::Check, Qt::QueuedConnection);
}

void AdapterWatch::Disarm() {
  armed_ = false;
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
}

// The device's folder may go with the last adapter (/dev/serial/by-id does): the nearest
// folder that is there tells when it comes back.
void AdapterWatch::WatchNearestFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  while (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    folder = folder.parent_path();
  }
  const QString wanted = QString::fromStdString(folder.string());
  if (watcher_.directories() == QStringList{wanted}) return;
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  watcher_.addPath(wanted);
}

void AdapterWatch::Check() {
  if (!armed_) return;
  ++checks_;
  if (cport::HasComeBack(identity_, cport::IdentifyAdapter(path_))) {
    emit Returned();
    return;
  }
  WatchNearestFolder();
}

}  // namespace console
