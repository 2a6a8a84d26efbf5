#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <thread>

namespace console {

// Writes a copy of the log to a file on a thread of its own, so a large log does not hold
// the window up, and tells on the main thread how it went.
class LogSaver : public QObject {
 public:
  using Done = std::function<void(const std::string& error)>;  // error empty: saved

  ~LogSaver() override;

  void Save(const std::string& path, std::string bytes, Done done);

 private:
  std::thread thread_;
};

}  // namespace console
