#pragma once

#include <QObject>
#include <QTimer>

namespace console {

// Opens a lost network port again at growing intervals: a second after it went, then
// twice as long after each failed try, at most half a minute. A server that is back is
// found without a filesystem to watch; one timer runs while a try is due, none otherwise.
class NetworkRetry : public QObject {
  Q_OBJECT

 public:
  NetworkRetry();
  void Arm();
  void Disarm();
  // The try that Due asked for failed: the next one comes later.
  void TryFailed();
  bool Armed() const { return armed_; }
  int Tries() const { return tries_; }
  // The wait before the next try, after so many failed ones.
  static int DelayMs(int failedTries);

 signals:
  void Due();

 private:
  QTimer timer_;
  bool armed_ = false;
  int tries_ = 0;
};

}  // namespace console
