#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The connection under a network line: a non-blocking TCP socket, and what the line
// could not send yet. Its readiness descriptor is readable when the socket has bytes, or
// when the line holds bytes or news of its own (taken off the socket while a call waited
// for an answer); its room descriptor is readable when output waits and the socket has
// room for it, whether or not the device has room for input.
class SocketChannel {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit SocketChannel(int socket);
  ~SocketChannel();
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  int ReadinessFd() const { return epoll_; }
  int RoomFd() const { return roomEpoll_; }
  // Marks whether the line holds something the device has not taken.
  void SetHeld(bool held);

  // Up to cap bytes from the socket: the count, 0 when none waits, -1 once the connection
  // has ended (errno set).
  ssize_t Read(uint8_t* buf, size_t cap);

  // Output: data in order, and commands that go ahead of the data not sent yet (never
  // between the two bytes of a doubled 0xFF).
  std::vector<uint8_t>& Data() { return data_; }
  std::vector<uint8_t>& Commands() { return commands_; }
  bool HoldsData() const { return sent_ < data_.size(); }
  // Sends what the socket takes now; false once the connection has ended.
  bool Flush();
  // Sends, waiting for room until the deadline; false when it could not.
  bool FlushBy(TimePoint deadline);
  // Queued data and what the kernel has not sent yet.
  size_t Unsent() const;
  // Queued data not yet begun is dropped (a purge).
  void DropData();

  // Waits until the socket is readable (when input is wanted), or writable while output
  // waits, or the deadline passes; false on the deadline.
  bool WaitBy(TimePoint deadline, bool input);
  // Ends the connection at once: the server sees it go.
  void Shutdown();
  bool Ended() const { return ended_; }

 private:
  bool MidPair() const;
  size_t SendSome(const uint8_t* bytes, size_t count);
  void WatchForRoom(bool on);

  int socket_;
  int epoll_;
  int roomEpoll_;
  int held_;
  bool heldSet_ = false;
  bool watchingRoom_ = false;
  bool ended_ = false;
  std::vector<uint8_t> data_;
  size_t sent_ = 0;
  std::vector<uint8_t> commands_;
};

}  // namespace platform
