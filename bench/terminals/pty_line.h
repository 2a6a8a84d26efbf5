#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace terminals {

// A pty pair standing in for a serial line: the bench writes the instrument's end, a
// program opens the other by its name. The bench keeps that end open too, only to see
// how much the program has left unread.
class PtyLine {
 public:
  PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  ~PtyLine();

  bool Ready() const { return watch_ >= 0; }
  const std::string& Port() const { return port_; }

  // Writes all of the bytes; returns whether the line had no room for them at first.
  bool Send(const std::string& bytes);
  size_t Unread() const;
  // Waits until the process has the port open, woken by each open of it.
  bool WaitUntilHeldBy(pid_t pid, std::chrono::milliseconds limit);

 private:
  void WaitForRoom();

  int instrument_ = -1;
  int kept_ = -1;
  int inotify_ = -1;
  int watch_ = -1;
  std::string port_;
};

// Frames sent by one stream, and how often the line was full when one was due.
struct FeedReport {
  uint32_t frames = 0;
  uint32_t blocked = 0;
};

// Sends frames first..first+count-1 of the stream, rate frames a second, each as one write
// when it is due; frames that fell behind are sent at once.
FeedReport FeedStream(PtyLine& line, uint32_t first, uint32_t count, int rate);

// The bytes of stream frame number seq: STX, its text, CR, LF.
std::string StreamFrame(uint32_t seq);

}  // namespace terminals
