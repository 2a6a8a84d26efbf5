// A model of the device core on the virtual line: random operations from both ends, read
// and event waits collected every way a caller may (blocked on the event, polling it,
// polling a block without an event, looking only much later), purges, mask and queue
// changes, breaks and errors. Checked against what the far end did, not against the code:
// every byte sent is read once and in order unless purged, every pending operation ends
// in time, every event and error reported happened, no error is lost. COMTEST_MODEL_SEED
// repeats a run; a failure names its seed and the steps that led to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "far_end.h"
#include "platform/comm/virtual_line.h"

namespace platform::testing {
namespace {

using Clock = std::chrono::steady_clock;
// What a loaded machine, or a sanitizer, may add before an operation that is due ends.
constexpr auto kSlack = std::chrono::seconds(3);
constexpr auto kBudget = std::chrono::seconds(5);
constexpr int kSteps = 300;
constexpr uint8_t kEvtChar = '#';
constexpr uint8_t kErrorChar = '?';
constexpr DWORD kEvents[] = {EV_RXCHAR, EV_RXFLAG, EV_BREAK, EV_ERR, EV_CTS, EV_TXEMPTY};
constexpr DWORD kErrors[] = {CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_BREAK};

enum class Collect { Blocking, PolledEvent, PolledNull, Unattended };
const char* Name(Collect c) {
  const char* names[] = {"blocking", "polled event", "polled block", "unattended"};
  return names[static_cast<int>(c)];
}

bool Done(OVERLAPPED& ov) {
  return std::atomic_ref<ULONG_PTR>(ov.Internal).load(std::memory_order_acquire) != STATUS_PENDING;
}

// One reusable block with its own event; polled without one, its event is left out.
struct Block {
  OVERLAPPED ov{};
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Collect how = Collect::Blocking;
  bool pending = false;
  int lookAt = 0;                        // the step from which an unattended caller looks
  std::optional<Clock::time_point> due;  // by when it must have ended
  ~Block() { CloseHandle(event); }
  void Prepare(Collect c, int step) {
    how = c;
    lookAt = step + 5 + step % 25;
    ov.hEvent = c == Collect::PolledNull ? nullptr : event;
    due.reset();
  }
  void DueBy(Clock::time_point t) {
    if (!due || t < *due) due = t;
  }
};

class DeviceModel {
 public:
  explicit DeviceModel(uint32_t seed) : rng_(seed) {
    far_ = InstallVirtualPort(kName);
    port_ = OpenPort(kName);
    dcb_ = PlainDcb(115200);
    dcb_.EvtChar = static_cast<char>(kEvtChar);
    dcb_.fParity = Chance(2);
    dcb_.fErrorChar = Chance(2);
    dcb_.ErrorChar = static_cast<char>(kErrorChar);
  }
  ~DeviceModel() {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    RemoveVirtualPort(kName);
  }

  // Runs the steps; false as soon as an invariant fails (the test has been told why).
  bool Run() {
    if (port_ == INVALID_HANDLE_VALUE || !SetCommState(port_, &dcb_)) return Fail("no port");
    if (!SetMask(EV_RXCHAR | EV_ERR | EV_BREAK)) return false;
    for (step_ = 0; step_ < kSteps; ++step_) {
      if (!Step() || !Collected()) return false;
    }
    return Drain() && (Chance(3) ? Vanish() : true);
  }

  std::string Log() const { return log_.str(); }

 private:
  static constexpr const char* kName = "VMODEL";

  bool Chance(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_) == 0; }
  int Between(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }
  bool Fail(const std::string& why) {
    ADD_FAILURE() << why << "\nsteps:\n" << Log();
    return false;
  }
  void Note(const std::string& what) {
    log_ << what << "\n";
    if (log_.tellp() > 20000) {
      const std::string tail = log_.str().substr(10000);
      log_.str(tail);
      log_.seekp(0, std::ios::end);
    }
  }

  bool Step() {
    switch (Between(0, 13)) {
      case 0:
      case 1:
      case 2:
        return FarSend();
      case 3:
        return FarLineError();
      case 4:
        return FarModem();
      case 5:
      case 6:
        return read_.pending ? true : StartRead();
      case 7:
        return wait_.pending ? true : StartWait();
      case 8:
        return Purge();
      case 9:
        return Chance(2) ? SetMask(RandomMask()) : Setup();
      case 10:
        return Write();
      case 11:
      case 12:
        return Idle();
      default:
        return ClearErrors();
    }
  }

  // The far end talks while the caller does nothing but look at what it waits for, the
  // way it chose to, until that has ended or ought to have: no other call of the caller's
  // serves the line meanwhile.
  bool Idle() {
    Note("idle");
    if ((read_.pending || wait_.pending) && !FarSendSome(static_cast<size_t>(Between(1, 12)))) {
      return false;
    }
    idle_ = true;
    const auto dueOnes = [this] {
      return (read_.pending && read_.due) || (wait_.pending && wait_.due);
    };
    while (dueOnes()) {
      if (!Collected()) return false;
      std::this_thread::yield();
    }
    idle_ = false;
    return true;
  }

  // The far end's side.
  bool FarSend() { return FarSendSome(static_cast<size_t>(Between(1, Chance(4) ? 300 : 12))); }

  bool FarSendSome(size_t count) {
    std::string bytes(count, '\0');
    for (char& c : bytes) c = Chance(16) ? kEvtChar : static_cast<char>(Between(0, 255));
    const bool withError = Chance(5);
    Note("send " + std::to_string(bytes.size()) + (withError ? " and one with an error" : ""));
    far_->Send(bytes);
    Arrived(bytes);
    if (!withError) return true;
    const DWORD flag = kErrors[Between(0, 2)];
    const uint8_t byte = static_cast<uint8_t>(Between(0, 255));
    far_->SendWithError(byte, flag);
    Errored(flag, unread_.size() + readPos_);
    Arrived(std::string(1, static_cast<char>(TakenAs(byte, flag))));
    return true;
  }

  // Counted by the UART between bytes, with no byte of its own.
  bool FarLineError() {
    const DWORD flag = Chance(2) ? DWORD{CE_BREAK} : kErrors[Between(1, 2)];
    Note("line error " + std::to_string(flag));
    far_->SendLineError(flag);
    Errored(flag, unread_.size() + readPos_);
    if (flag == CE_BREAK) Happened(EV_BREAK, 1);
    return true;
  }

  bool FarModem() {
    cts_ = !cts_;
    Note(cts_ ? "cts on" : "cts off");
    far_->SetCTS(cts_);
    Happened(EV_CTS, 1);
    return true;
  }

  uint8_t TakenAs(uint8_t byte, DWORD flag) const {
    return (flag & CE_RXPARITY) && dcb_.fParity && dcb_.fErrorChar ? kErrorChar : byte;
  }
  bool Counts(DWORD flag) const { return flag != CE_RXPARITY || dcb_.fParity; }

  void Arrived(const std::string& bytes) {
    for (char c : bytes) unread_.push_back(static_cast<uint8_t>(c));
    Happened(EV_RXCHAR, static_cast<int>(bytes.size()));
    int flags = 0;
    for (char c : bytes) flags += static_cast<uint8_t>(c) == kEvtChar;
    Happened(EV_RXFLAG, flags);
    if (read_.pending && unread_.size() >= readLength_) read_.DueBy(Clock::now() + kSlack);
    if (read_.pending && firstByteMode_) read_.DueBy(Clock::now() + kSlack);
  }

  void Errored(DWORD flag, uint64_t position) {
    if (!Counts(flag)) return;
    ++errorsSent_[flag];
    if (flag != CE_BREAK) Happened(EV_ERR, 1);
    owed_.push_back({position, flag});
    inStream_.push_back({position, flag});
  }

  // Bytes, and errors among them, reach the device only while its queue has room for
  // them: a full queue holds the sender. Other events need no room.
  void Happened(DWORD event, int times) {
    if (times == 0 || !(mask_ & event)) return;
    happened_[event] += times;
    const bool queued = event == EV_CTS || event == EV_TXEMPTY;
    const bool fits = queued || unread_.size() <= queueSize_;
    if (wait_.pending && (waitMask_ & event) && fits) wait_.DueBy(Clock::now() + kSlack);
  }

  // Reads, and how they are collected.
  bool StartRead() {
    const int kind = Between(0, 4);
    COMMTIMEOUTS t{};
    std::optional<std::chrono::milliseconds> total;
    firstByteMode_ = false;
    if (kind == 0) {
      t = {MAXDWORD, 0, 0, 0, 0};
    } else if (kind == 1) {
      t = {0, 0, static_cast<DWORD>(Between(1, 40)), 0, 0};
    } else if (kind == 2) {
      t = {static_cast<DWORD>(Between(1, 10)), 0, static_cast<DWORD>(Between(10, 60)), 0, 0};
    } else if (kind == 3) {
      t = {MAXDWORD, MAXDWORD, static_cast<DWORD>(Between(1, 40)), 0, 0};
      firstByteMode_ = true;
    }
    if (t.ReadTotalTimeoutConstant) total = std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    if (!SetCommTimeouts(port_, &t)) return Fail("SetCommTimeouts failed");
    readLength_ = static_cast<DWORD>(Between(1, 64));
    Collect how = static_cast<Collect>(Between(0, 3));
    // Blocking only where the read must end without the far end's help.
    if (how == Collect::Blocking && !total && kind != 0 && unread_.size() < readLength_) {
      how = Collect::PolledEvent;
    }
    read_.Prepare(how, step_);
    readBuffer_.assign(readLength_, 0);
    Note("read " + std::to_string(readLength_) + " kind " + std::to_string(kind) + " " + Name(how));
    const auto start = Clock::now();
    DWORD n = 0;
    if (ReadFile(port_, readBuffer_.data(), readLength_, &n, &read_.ov)) {
      return ReadDone(n, ERROR_SUCCESS);
    }
    if (GetLastError() != ERROR_IO_PENDING) return Fail("ReadFile failed: " + Error());
    if (kind == 0) return Fail("a read that returns at once stayed pending");
    read_.pending = true;
    if (total) read_.DueBy(start + *total + kSlack);
    if (unread_.size() >= readLength_ || (firstByteMode_ && !unread_.empty())) {
      read_.DueBy(start + kSlack);
    }
    return how == Collect::Blocking ? BlockOn(read_, true) : true;
  }

  bool ReadDone(DWORD n, DWORD error) {
    read_.pending = false;
    Note("read done " + std::to_string(n) + " error " + std::to_string(error));
    if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
      return Fail("read ended with " + std::to_string(error));
    }
    if (n > readLength_ || n > unread_.size()) return Fail("read more than was sent");
    for (DWORD i = 0; i < n; ++i) {
      if (readBuffer_[i] != unread_.front()) {
        return Fail("byte " + std::to_string(readPos_) + " read wrong or out of order");
      }
      unread_.pop_front();
      ++readPos_;
    }
    std::erase_if(inStream_, [this](const Owed& o) { return o.position < readPos_; });
    return ClearErrors();
  }

  // Event waits.
  DWORD RandomMask() {
    DWORD mask = 0;
    for (DWORD e : kEvents) mask |= Chance(2) ? e : 0;
    return mask ? mask : DWORD{EV_RXCHAR};
  }

  // A new mask ends a pending wait at once; what the wait reports is counted against the
  // events that happened under the old mask.
  bool SetMask(DWORD mask) {
    Note("mask " + std::to_string(mask));
    if (wait_.pending && Done(wait_.ov) && !Finish(wait_, false)) return false;
    if (!SetCommMask(port_, mask)) return Fail("SetCommMask failed");
    if (wait_.pending && (!AwaitEnded(wait_) || !Finish(wait_, false))) return false;
    mask_ = mask;
    happened_.clear();
    reported_.clear();
    // What the device has not taken from the line yet may still be reported after it.
    for (uint8_t c : unread_) Happened(c == kEvtChar ? EV_RXFLAG : 0, 1);
    Happened(EV_RXCHAR, static_cast<int>(unread_.size()));
    for (const Owed& o : inStream_) {
      if (o.position >= readPos_) Happened(o.flag == CE_BREAK ? EV_BREAK : EV_ERR, 1);
    }
    Happened(EV_CTS, 1);
    return true;
  }

  bool StartWait() {
    // Blocked waits often: a waiter that served the line leaves it to the next one.
    Collect how = Chance(2) ? Collect::Blocking : static_cast<Collect>(Between(1, 3));
    wait_.Prepare(how, step_);
    waitMask_ = mask_;
    Note(std::string("wait ") + Name(how));
    waitResult_ = 0;
    const bool blocking = how == Collect::Blocking;
    if (blocking && (!(mask_ & EV_RXCHAR) || unread_.size() + 12 > queueSize_)) {
      wait_.Prepare(how = Collect::Unattended, step_);
    }
    if (WaitCommEvent(port_, &waitResult_, &wait_.ov)) return WaitDone(ERROR_SUCCESS);
    if (GetLastError() != ERROR_IO_PENDING) return Fail("WaitCommEvent failed: " + Error());
    wait_.pending = true;
    if (how != Collect::Blocking) return true;
    FarSendSome(static_cast<size_t>(Between(1, 12)));  // for the wait to end on, blocked
    return BlockOn(wait_, false);
  }

  bool WaitDone(DWORD error) {
    wait_.pending = false;
    Note("wait done " + std::to_string(waitResult_) + " error " + std::to_string(error));
    if (error != ERROR_SUCCESS) return Fail("the wait ended with " + std::to_string(error));
    if (waitResult_ & ~waitMask_) return Fail("the wait reported events outside its mask");
    for (DWORD e : kEvents) {
      if (!(waitResult_ & e)) continue;
      if (++reported_[e] > happened_[e]) {
        return Fail("event " + std::to_string(e) + " reported more often than it happened");
      }
    }
    return true;
  }

  // Blocks on the operation's event as a caller's wait would; its result must be there
  // the moment the event is.
  bool BlockOn(Block& b, bool isRead) {
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        (b.due ? *b.due : Clock::now() + kSlack) - Clock::now());
    const DWORD waited =
        WaitForSingleObject(b.event, static_cast<DWORD>(std::max<int64_t>(limit.count(), 0)));
    if (waited != WAIT_OBJECT_0) return Fail(std::string(isRead ? "read" : "wait") + " hung");
    return Finish(b, isRead);
  }

  bool Finish(Block& b, bool isRead) {
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(port_, &b.ov, &n, FALSE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return Fail("its event was set before it had ended");
    return isRead ? ReadDone(n, error) : WaitDone(error);
  }

  // Looks at what is pending the way its caller would, and checks that it ended in time.
  bool Collected() { return Look(read_, true) && Look(wait_, false); }

  bool Look(Block& b, bool isRead) {
    if (!b.pending) return true;
    bool done = false;
    switch (b.how) {
      case Collect::PolledEvent:
        // Sometimes by the block, as a poller may, so that it is reused at once.
        done = Chance(2) ? Done(b.ov) : WaitForSingleObject(b.event, 0) == WAIT_OBJECT_0;
        break;
      case Collect::PolledNull:
        done = Done(b.ov);
        break;
      case Collect::Unattended:
        done = (step_ >= b.lookAt || draining_ || idle_) && Done(b.ov);
        break;
      case Collect::Blocking:
        break;
    }
    if (done) return Finish(b, isRead);
    if (b.due && Clock::now() > *b.due && !Done(b.ov)) {
      return Fail(std::string(isRead ? "read" : "wait") + " (" + Name(b.how) +
                  ") did not end in time");
    }
    return true;
  }

  // What changes the queues.
  bool Purge() {
    const bool rx = Chance(2);
    const DWORD flags = rx ? PURGE_RXABORT | PURGE_RXCLEAR : PURGE_TXABORT | PURGE_TXCLEAR;
    Note(rx ? "purge rx" : "purge tx");
    if (!PurgeComm(port_, flags)) return Fail("PurgeComm failed");
    if (!rx) return true;
    if (read_.pending) {
      if (!AwaitEnded(read_) || !Finish(read_, true)) return false;
    }
    readPos_ += unread_.size();
    unread_.clear();
    owed_.clear();
    inStream_.clear();
    wait_.due.reset();  // the bytes it was to end on may have gone before the device saw them
    return true;
  }

  // An operation ended by a purge or a new mask ends at once (or had just ended).
  bool AwaitEnded(Block& b) {
    const auto deadline = Clock::now() + kSlack;
    while (!Done(b.ov)) {
      if (Clock::now() > deadline) return Fail("an operation ended by a call stayed pending");
    }
    return true;
  }

  bool Setup() {
    const DWORD sizes[] = {64, 100, 4096};
    const DWORD size = sizes[Between(0, 2)];
    Note("queue " + std::to_string(size));
    if (size < queueSize_) wait_.due.reset();  // what it was to end on may no longer fit
    queueSize_ = size;
    return SetupComm(port_, size, size) || Fail("SetupComm failed");
  }

  bool Write() {
    std::string bytes(static_cast<size_t>(Between(1, 32)), '\0');
    for (char& c : bytes) c = static_cast<char>(Between(0, 255));
    Note("write " + std::to_string(bytes.size()));
    Overlapped op;
    DWORD n = 0;
    if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &op.ov)) {
      if (GetLastError() != ERROR_IO_PENDING || !op.WaitDone(10s)) return Fail("write hung");
      if (!GetOverlappedResult(port_, &op.ov, &n, FALSE)) return Fail("write failed");
    }
    Happened(EV_TXEMPTY, 1);
    if (far_->TakeExactly(bytes.size(), 10s) != bytes) return Fail("written bytes came wrong");
    return true;
  }

  // Errors reported once they happened, and not lost: once bytes that came after an
  // error have been read, the error word has shown it.
  bool ClearErrors() {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(port_, &errors, &stat)) return Fail("ClearCommError failed");
    // The device has met every error before the bytes it holds; with a read pending, bytes
    // may be in its buffer too, beyond what can be told.
    const uint64_t met = read_.pending ? UINT64_MAX : readPos_ + stat.cbInQue;
    for (DWORD flag : kErrors) {
      if (!(errors & flag)) continue;
      if (++errorsReported_[flag] > errorsSent_[flag]) {
        return Fail("error " + std::to_string(flag) + " reported that never happened");
      }
      // One flag stands for every error of its kind the device has met.
      std::erase_if(owed_, [&](const Owed& o) { return o.flag == flag && o.position <= met; });
    }
    for (const Owed& o : owed_) {
      if (o.position < readPos_) {
        return Fail("error " + std::to_string(o.flag) + " before byte " +
                    std::to_string(o.position) + " was never reported");
      }
    }
    return true;
  }

  // The far end falls silent; what is pending ends, and every byte left is read.
  bool Drain() {
    Note("drain");
    draining_ = true;
    if (wait_.pending && !SetMask(mask_)) return false;
    // A read that waits for more than was sent is cancelled, keeping what it has.
    if (read_.pending && !read_.due && unread_.size() < readLength_) {
      if (!CancelIoEx(port_, &read_.ov) && GetLastError() != ERROR_NOT_FOUND) {
        return Fail("CancelIoEx failed");
      }
      read_.DueBy(Clock::now() + kSlack);
    }
    for (auto deadline = Clock::now() + kSlack * 2; read_.pending || wait_.pending;) {
      if (!Collected()) return false;
      if (Clock::now() > deadline) return Fail("pending operations did not end");
    }
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(port_, &t)) return Fail("SetCommTimeouts failed");
    for (auto deadline = Clock::now() + kSlack; !unread_.empty();) {
      if (Clock::now() > deadline) return Fail("sent bytes never came to be read");
      read_.Prepare(Collect::PolledEvent, step_);
      readLength_ = static_cast<DWORD>(std::min<size_t>(unread_.size(), 4096));
      readBuffer_.assign(readLength_, 0);
      DWORD n = 0;
      if (!ReadFile(port_, readBuffer_.data(), readLength_, &n, &read_.ov)) {
        return Fail("a read that returns at once did not: " + Error());
      }
      if (!ReadDone(n, ERROR_SUCCESS)) return false;
    }
    // An error after the last byte is found when a call next looks at the line.
    for (auto deadline = Clock::now() + kSlack; !owed_.empty();) {
      if (!ClearErrors()) return false;
      if (Clock::now() > deadline) return Fail("errors after the last byte were never reported");
    }
    return true;
  }

  // A device that vanishes ends what is pending, and later calls fail without leaving
  // their blocks pending.
  bool Vanish() {
    Note("vanish");
    wait_.Prepare(Collect::PolledEvent, step_);
    waitMask_ = mask_;
    const bool waiting = !WaitCommEvent(port_, &waitResult_, &wait_.ov);
    far_->Vanish();
    Overlapped write;
    DWORD n = 0;
    if (WriteFile(port_, "x", 1, &n, &write.ov) && Done(write.ov)) return true;  // before it knew
    if (GetLastError() == ERROR_IO_PENDING) {
      if (!write.WaitDone(10s)) return Fail("a write on a vanished device hung");
    } else if (!Done(write.ov)) {
      return Fail("a write that failed left its block pending");
    }
    if (waiting && WaitForSingleObject(wait_.event, 10000) != WAIT_OBJECT_0) {
      return Fail("a wait on a vanished device hung");
    }
    return true;
  }

  static std::string Error() { return std::to_string(GetLastError()); }

  std::mt19937 rng_;
  std::shared_ptr<VirtualPort> far_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
  bool cts_ = false;
  std::ostringstream log_;

  std::deque<uint8_t> unread_;  // sent towards the device, not yet read or purged
  uint64_t readPos_ = 0;        // how many bytes of the stream were read or purged
  struct Owed {
    uint64_t position;  // the error came before this byte of the stream
    DWORD flag;
  };
  std::vector<Owed> owed_;      // errors not yet seen in the error word
  std::vector<Owed> inStream_;  // every error, until the bytes after it are read
  std::map<DWORD, int> errorsSent_, errorsReported_;
  DWORD mask_ = 0;
  std::map<DWORD, int> happened_, reported_;  // per event, since the mask was set
  size_t queueSize_ = 4096;

  Block read_, wait_;
  DWORD readLength_ = 0;
  bool firstByteMode_ = false;
  std::vector<uint8_t> readBuffer_;
  DWORD waitMask_ = 0;
  DWORD waitResult_ = 0;
  int step_ = 0;
  bool draining_ = false;
  bool idle_ = false;
};

// A caller that polls a block and reuses it the moment its operation has ended must not
// find the next operation's event set by the one before: the driver sets an event with
// the result it announces, as one step.
TEST(DeviceModel, ABlockReusedAtOnceIsNotSignalledByItsLastOperation) {
  auto far = InstallVirtualPort("VREUSE");
  const HANDLE port = OpenPort("VREUSE");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t{0, 0, 1, 0, 0};  // each read ends on the driver's timer, empty
  ASSERT_TRUE(SetCommTimeouts(port, &t));
  Overlapped op;
  char buf[4];
  DWORD n = 0;
  for (int round = 0; round < 1000; ++round) {
    ASSERT_FALSE(ReadFile(port, buf, sizeof buf, &n, &op.ov));
    const bool early = WaitForSingleObject(op.ov.hEvent, 0) == WAIT_OBJECT_0 && !Done(op.ov);
    ASSERT_FALSE(early) << "round " << round;
    while (!Done(op.ov)) std::this_thread::yield();
  }
  CloseHandle(port);
  RemoveVirtualPort("VREUSE");
}

uint32_t BaseSeed() {
  if (const char* seed = std::getenv("COMTEST_MODEL_SEED")) return std::stoul(seed);
  return std::random_device{}();
}

TEST(DeviceModel, RandomOperationsFromBothEndsKeepTheInvariants) {
  const uint32_t base = BaseSeed();
  const auto stop = Clock::now() + kBudget;
  int rounds = 0;
  for (uint32_t seed = base; Clock::now() < stop; ++seed, ++rounds) {
    SCOPED_TRACE("COMTEST_MODEL_SEED=" + std::to_string(seed));
    DeviceModel model(seed);
    if (!model.Run()) break;
  }
  EXPECT_GT(rounds, 0);
}

}  // namespace
}  // namespace platform::testing
