#pragma once

#include <sched.h>

#include <chrono>
#include <filesystem>
#include <iterator>

namespace testing_support {

inline size_t Entries(const char* folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// A joined thread leaves /proc a moment after its join returned; nothing signals when.
inline size_t ThreadsOnceReaped(size_t expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  size_t n = Entries("/proc/self/task");
  while (n > expected && std::chrono::steady_clock::now() < deadline) {
    sched_yield();
    n = Entries("/proc/self/task");
  }
  return n;
}

}  // namespace testing_support
