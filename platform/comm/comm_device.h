#pragma once

#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/comm/byte_line.h"
#include "platform/comm/input_queue.h"
#include "platform/sync/handles.h"
#include "platform/win32_types.h"

namespace platform {

// The Win32 serial driver, written once over any ByteLine: input queue, event history,
// timeouts, pending overlapped operations, purge, flow control and RTS toggle. One driver
// thread per device sleeps in a single poll on the line and a wake-up descriptor; it sets
// a timer only while an operation with a deadline is pending.
//
// Its code is laid out by operation: comm_device.cpp opens, closes and takes settings;
// comm_device_driver.cpp has the driver's turn and the waiters that serve in its place;
// then comm_device_read.cpp, _write.cpp, _events.cpp, _purge.cpp, _flow.cpp (modem lines
// and flow control) and _status.cpp (line errors and status).
class CommDevice : public KernelObject, public std::enable_shared_from_this<CommDevice> {
 public:
  // A device opened without FILE_FLAG_OVERLAPPED does its transfers synchronously.
  CommDevice(std::unique_ptr<ByteLine> line, bool overlapped);
  ~CommDevice() override;
  void OnClose() override;

  DWORD BeginCall(const char* name);

  BOOL Setup(DWORD inQueue, DWORD outQueue);
  BOOL SetState(const DCB& dcb);
  BOOL GetState(DCB& dcb);
  BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
  BOOL GetTimeouts(COMMTIMEOUTS& timeouts);
  BOOL ClearError(DWORD* errors, COMSTAT* stat);
  BOOL ModemStatus(DWORD* status);
  BOOL SetMask(DWORD mask);
  BOOL GetMask(DWORD* mask);
  BOOL WaitEvent(DWORD* mask, OVERLAPPED* overlapped);
  BOOL Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* overlapped);
  BOOL Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* overlapped);
  BOOL Purge(DWORD flags);
  BOOL Cancel(OVERLAPPED* overlapped);

  bool Overlapped() const { return overlapped_; }
  static bool IsPending(OVERLAPPED& overlapped);
  // Returns once the operation of a block without an event has completed, or the device
  // was closed.
  void AwaitEventless(OVERLAPPED& overlapped);

 private:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  // What every call on a device that has gone fails with, and what its operations end with.
  static constexpr DWORD kGoneError = ERROR_ACCESS_DENIED;

  struct PendingRead {
    OVERLAPPED* overlapped;
    uint8_t* buffer;
    DWORD wanted;
    DWORD done = 0;
    std::optional<TimePoint> totalDeadline;
    std::optional<std::chrono::milliseconds> interval;
    TimePoint lastByte{};
  };
  struct PendingWrite {
    OVERLAPPED* overlapped;
    const uint8_t* buffer;
    DWORD length;
    DWORD done = 0;
    std::optional<TimePoint> deadline;
  };
  struct PendingWait {
    OVERLAPPED* overlapped;
    DWORD* mask;
  };
  struct Completion {
    OVERLAPPED* overlapped;
    DWORD error;
    DWORD bytes;
  };

  class WaiterHelper;

  DWORD Refusal() const;
  void DrainTail();
  TimePoint DrainDeadline() const;

  void Run();
  void TakeWhatArrived();
  void HelpWaiter(OVERLAPPED* overlapped);
  void DetachHelpers();
  int WaiterPollFd();
  void ServeWaiter();
  void WaiterUnpolled();
  bool LineOperationPending() const;
  void ServeUnlessWaited(const OVERLAPPED* overlapped);
  void SetUnservedTimer(Clock::duration after);
  void TakeUnserved();
  bool WaitersWatchLine() const;
  std::optional<TimePoint> NextLook() const;
  static int PollUntil(pollfd* fds, nfds_t count, std::optional<TimePoint> next);
  void Wake();
  void DrainWake();
  void Service(TimePoint now);
  void TakeFromLine();

  void PumpInput();
  bool LineJustFoundEmpty() const;
  void AcceptInput(uint8_t* bytes, size_t count, const std::vector<RxError>& errors,
                   bool dsrBlocks);
  size_t FilterInput(uint8_t* bytes, size_t count, const std::vector<RxError>& errors,
                     bool dsrBlocks, DWORD& events);
  bool InputAboveMark() const;
  void PumpOutput(TimePoint now);
  void StartTimeout(PendingWrite& write, TimePoint now) const;
  bool TransmitFront(PendingWrite& write, TimePoint now);
  size_t LineRoom(TimePoint now);
  std::chrono::microseconds HeldAhead(TimePoint now);
  void LookAgainForRoom(TimePoint now);
  void TakeLineStatus();
  void ServeReads(TimePoint now);
  void ExpireWrites(TimePoint now);
  void CheckTransmitterEmpty(TimePoint now);
  void UpdateInputFlowControl();
  void RaiseEvents(DWORD events);
  void MarkGone();
  void EndAllPending(DWORD error);

  bool StartRead(PendingRead read, DWORD* done, TimePoint now);
  void TakeRefilling(PendingRead& read, TimePoint now);
  DWORD TakeFromQueue(PendingRead& read, DWORD limit, TimePoint now);
  void TellDriverOfRoom();
  bool ReadCompleteOrExpired(const PendingRead& read, TimePoint now) const;

  void Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes);
  static void Signal(const Completion& completion);
  // The completions a turn left to signal, taken out under the device lock. The thread
  // keeps the list, and with it its room, from one turn to the next.
  static std::vector<Completion>& SignalsToSet();
  static void SignalAll(std::vector<Completion>& due);
  static void Publish(const Completion& completion);
  static void MarkPending(OVERLAPPED* overlapped);

  std::unique_ptr<ByteLine> line_;
  const bool lineWatchesCalls_;
  const bool overlapped_;
  int wakeFd_ = -1;
  int unservedFd_ = -1;  // rings when an operation went unserved through its grace
  std::thread driver_;

  std::mutex mutex_;
  bool stopping_ = false;
  bool gone_ = false;
  bool lineReadable_ = true;
  bool driverPollsInput_ = false;  // in the poll the driver is in, or last was in
  TimePoint lineFoundEmpty_{};     // when a read last left nothing on the line
  InputQueue input_;
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD eventMask_ = 0;
  DWORD history_ = 0;
  DWORD errorWord_ = 0;
  bool xoffSent_ = false;
  bool transmitting_ = false;
  std::optional<TimePoint> drainCheck_;   // when to look whether the transmitter emptied
  std::optional<TimePoint> outputCheck_;  // when to hand the line more of the front write
  TimePoint wireFree_{};                  // when the last byte handed to the line is off the wire
  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
  std::optional<PendingWait> wait_;
  bool deferSignals_ = false;
  std::vector<Completion> signalsDue_;     // completions to signal once the lock is released
  std::condition_variable eventlessDone_;  // an operation without an event completed
  std::shared_ptr<WaiterHelper> helper_;
  std::vector<HANDLE> helpedEvents_;  // events the helper is on, the latest last
  int waitersPolling_ = 0;
  bool waitersServe_ = false;
  bool unservedArmed_ = false;
  std::optional<TimePoint> unservedSince_;  // the oldest operation that no waiter polled
};

}  // namespace platform
