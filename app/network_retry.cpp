#include "app/network_retry.h"

#include <algorithm>

namespace console {
namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;

}  // namespace

NetworkRetry::NetworkRetry() {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    ++tries_;
    emit Due();
  });
}

int NetworkRetry::DelayMs(int failedTries) {
  const int doublings = std::clamp(failedTries, 0, 5);
  return std::min(kFirstDelayMs << doublings, kLongestDelayMs);
}

void NetworkRetry::Arm() {
  armed_ = true;
  tries_ = 0;
  timer_.start(DelayMs(0));
}

void NetworkRetry::Disarm() {
  armed_ = false;
  timer_.stop();
}

void NetworkRetry::TryFailed() {
  if (armed_) timer_.start(DelayMs(tries_));
}

}  // namespace console
