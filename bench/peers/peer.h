#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace peers {

inline const std::string kRequest =
    "\x02"
    "01WHO\r\n";
inline const std::string kReply =
    "\x02"
    "01WHO,TC-100\r\n";

struct Job {
  std::string mode;
  std::string device;
  uint64_t bytes;
};

// What every variant does with the bytes it gets, so that all do the same work: requests
// are answered once their LF is in, a sink sums, frames are counted at their LF.
class Work {
 public:
  explicit Work(const Job& job) : job_(job) {}
  // Takes received bytes; returns the reply to send now (empty for none).
  std::string Take(const char* data, size_t n) {
    std::string reply;
    for (size_t i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(data[i]);
      sum_ = (sum_ * 31 + c) & 0xFFFFFFFFu;
      ++received_;
      if (c == '\n') {
        ++frames_;
        if (job_.mode == "answer") reply += kReply;
      }
    }
    // The frame counter reports once it has all it was told of, and stays alive so that
    // its CPU time can still be read.
    if (job_.mode == "frames" && received_ >= job_.bytes) Report();
    return reply;
  }
  bool SinkDone() const { return job_.mode == "sink" && received_ >= job_.bytes; }
  void Report() {
    if (reported_) return;
    reported_ = true;
    if (job_.mode == "sink") std::printf("sum %08llx\n", static_cast<unsigned long long>(sum_));
    if (job_.mode == "frames") {
      std::printf("frames %llu\n", static_cast<unsigned long long>(frames_));
    }
    std::fflush(stdout);
  }
  static void Ready() {
    std::printf("ready\n");
    std::fflush(stdout);
  }

 private:
  Job job_;
  uint64_t sum_ = 0, received_ = 0, frames_ = 0;
  bool reported_ = false;
};

int RunRaw(const Job& job);
int RunLibserialport(const Job& job);
int RunQSerialPort(const Job& job, int argc, char** argv);
int RunEngine(const Job& job, bool threadSync);

}  // namespace peers
