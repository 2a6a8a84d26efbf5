#include "platform/comm/virtual_line.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<VirtualPort>> ports;
};

Registry& Ports() {
  static Registry* registry = new Registry;
  return *registry;
}

void Ring(int fd) {
  const uint64_t one = 1;
  if (write(fd, &one, sizeof one) < 0) {
    // Already rung.
  }
}

void Drain(int fd) {
  uint64_t value;
  if (read(fd, &value, sizeof value) < 0) {
    // Not rung.
  }
}

}  // namespace

class VirtualLine : public ByteLine {
 public:
  explicit VirtualLine(std::shared_ptr<VirtualPort> port) : port_(std::move(port)) {}
  ~VirtualLine() override {
    std::lock_guard lock(port_->mutex_);
    port_->open_ = false;
    port_->rts_ = port_->dtr_ = false;
    port_->calls_.emplace_back("CloseHandle");
    port_->changed_.notify_all();
  }

  int ReadinessFd() const override { return port_->dataFd_; }
  bool WaitsForPollOut() const override { return false; }
  int StatusFd() const override { return port_->statusFd_; }

  ssize_t Receive(uint8_t* buf, size_t cap, std::vector<RxError>& errors) override {
    VirtualPort& p = *port_;
    std::lock_guard lock(p.mutex_);
    if (p.gone_) return Gone();
    size_t n = 0;
    for (; n < cap && !p.toDevice_.empty(); p.toDevice_.pop_front()) {
      const VirtualPort::Arrival& a = p.toDevice_.front();
      if (!a.hasByte) {
        p.pendingErrors_ |= a.flags;
        if (a.flags & CE_BREAK) p.pendingEvents_ |= EV_BREAK;
        continue;
      }
      if (a.flags) errors.push_back({n, a.flags});
      buf[n++] = a.byte;
    }
    if (p.toDevice_.empty()) {
      Drain(p.dataFd_);
      p.changed_.notify_all();
    }
    return static_cast<ssize_t>(n);
  }

  ssize_t Transmit(const uint8_t* buf, size_t len) override {
    VirtualPort& p = *port_;
    std::lock_guard lock(p.mutex_);
    if (p.gone_) return Gone();
    if (p.heldByXoff_ || (p.dcb_.fOutxCtsFlow && !p.cts_) || (p.dcb_.fOutxDsrFlow && !p.dsr_)) {
      return 0;
    }
    const size_t room = p.receiveCapacity_ - std::min(p.receiveCapacity_, p.fromDevice_.size());
    const size_t n = std::min(len, room);
    p.fromDevice_.append(reinterpret_cast<const char*>(buf), n);
    if (n > 0) p.changed_.notify_all();
    return static_cast<ssize_t>(n);
  }

  size_t OutputPending() override { return 0; }

  void SendImmediate(uint8_t c) override {
    std::lock_guard lock(port_->mutex_);
    port_->fromDevice_.push_back(static_cast<char>(c));
    port_->changed_.notify_all();
  }

  void Purge(bool input, bool) override {
    std::lock_guard lock(port_->mutex_);
    if (!input) return;
    port_->toDevice_.clear();
    Drain(port_->dataFd_);
  }

  DWORD Configure(const DCB& dcb) override {
    std::lock_guard lock(port_->mutex_);
    port_->dcb_ = dcb;
    if (!dcb.fOutX) port_->heldByXoff_ = false;
    port_->changed_.notify_all();
    return 0;
  }

  bool TogglesRtsItself() const override { return false; }

  void SetRts(bool on) override {
    std::lock_guard lock(port_->mutex_);
    port_->rts_ = on;
    port_->changed_.notify_all();
  }

  void SetDtr(bool on) override {
    std::lock_guard lock(port_->mutex_);
    port_->dtr_ = on;
    port_->changed_.notify_all();
  }

  DWORD ModemStatus(DWORD& status) override {
    std::lock_guard lock(port_->mutex_);
    status = (port_->cts_ ? MS_CTS_ON : 0) | (port_->dsr_ ? MS_DSR_ON : 0) |
             (port_->ring_ ? MS_RING_ON : 0) | (port_->dcd_ ? MS_RLSD_ON : 0);
    return 0;
  }

  LineStatus TakeStatus() override {
    VirtualPort& p = *port_;
    std::lock_guard lock(p.mutex_);
    Drain(p.statusFd_);
    LineStatus status{p.pendingEvents_, p.pendingErrors_, p.gone_};
    p.pendingEvents_ = p.pendingErrors_ = 0;
    return status;
  }

  bool WatchesCalls() const override { return true; }
  DWORD BeginCall(const char* name) override {
    std::lock_guard lock(port_->mutex_);
    port_->calls_.emplace_back(name);
    port_->changed_.notify_all();
    auto it = port_->failNext_.find(name);
    if (it == port_->failNext_.end()) return 0;
    const DWORD code = it->second;
    port_->failNext_.erase(it);
    return code;
  }

 private:
  static ssize_t Gone() {
    errno = EIO;
    return -1;
  }

  std::shared_ptr<VirtualPort> port_;
};

VirtualPort::VirtualPort()
    : dataFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      statusFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  dcb_.BaudRate = 9600;
  dcb_.ByteSize = 8;
}

VirtualPort::~VirtualPort() {
  close(dataFd_);
  close(statusFd_);
}

void VirtualPort::RingData() { Ring(dataFd_); }
void VirtualPort::RingStatus() { Ring(statusFd_); }

void VirtualPort::Send(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  bool flowChanged = false;
  for (char ch : bytes) {
    if (dcb_.fOutX && (ch == dcb_.XoffChar || ch == dcb_.XonChar)) {
      heldByXoff_ = ch == dcb_.XoffChar;
      flowChanged = true;
      continue;
    }
    toDevice_.push_back({static_cast<uint8_t>(ch), 0, true});
  }
  if (!toDevice_.empty()) RingData();
  if (flowChanged) RingStatus();
}

void VirtualPort::SendWithError(uint8_t byte, DWORD lineErrorFlags) {
  std::lock_guard lock(mutex_);
  toDevice_.push_back({byte, lineErrorFlags, true});
  RingData();
}

void VirtualPort::SendLineError(DWORD errors) {
  std::lock_guard lock(mutex_);
  toDevice_.push_back({0, errors, false});
  RingData();
}

void VirtualPort::ModemChange(bool& line, bool on, DWORD event, bool risingOnly) {
  std::lock_guard lock(mutex_);
  if (line == on) return;
  line = on;
  if (!risingOnly || on) pendingEvents_ |= event;
  RingStatus();
}

void VirtualPort::SetCTS(bool on) { ModemChange(cts_, on, EV_CTS, false); }
void VirtualPort::SetDSR(bool on) { ModemChange(dsr_, on, EV_DSR, false); }
void VirtualPort::SetRing(bool on) { ModemChange(ring_, on, EV_RING, true); }
void VirtualPort::SetDCD(bool on) { ModemChange(dcd_, on, EV_RLSD, false); }

void VirtualPort::Vanish() {
  std::lock_guard lock(mutex_);
  gone_ = true;
  RingData();
  RingStatus();
}

std::string VirtualPort::Take() {
  std::lock_guard lock(mutex_);
  std::string bytes;
  bytes.swap(fromDevice_);
  RingStatus();
  return bytes;
}

bool VirtualPort::WaitForBytes(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return fromDevice_.size() >= count; });
}

bool VirtualPort::WaitUntilDelivered(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return toDevice_.empty(); });
}

std::string VirtualPort::TakeExactly(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return fromDevice_.size() >= count; });
  const size_t n = std::min(count, fromDevice_.size());
  std::string bytes = fromDevice_.substr(0, n);
  fromDevice_.erase(0, n);
  RingStatus();
  return bytes;
}

void VirtualPort::SetReceiveCapacity(size_t bytes) {
  std::lock_guard lock(mutex_);
  receiveCapacity_ = bytes;
  RingStatus();
}

void VirtualPort::FailNext(const std::string& call, DWORD errorCode) {
  std::lock_guard lock(mutex_);
  failNext_[call] = errorCode;
}

std::vector<std::string> VirtualPort::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void VirtualPort::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

bool VirtualPort::WaitForCall(const std::string& call, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(
      lock, timeout, [&] { return std::find(calls_.begin(), calls_.end(), call) != calls_.end(); });
}

DCB VirtualPort::LastDcb() const {
  std::lock_guard lock(mutex_);
  return dcb_;
}

bool VirtualPort::Rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}

bool VirtualPort::Dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}

bool VirtualPort::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool VirtualPort::WaitUntilClosed(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return !open_; });
}

std::shared_ptr<VirtualPort> InstallVirtualPort(const std::string& name) {
  auto port = std::make_shared<VirtualPort>();
  std::lock_guard lock(Ports().mutex);
  Ports().ports[name] = port;
  return port;
}

void RemoveVirtualPort(const std::string& name) {
  std::lock_guard lock(Ports().mutex);
  Ports().ports.erase(name);
}

std::unique_ptr<ByteLine> OpenVirtualLine(const std::string& name, DWORD& error) {
  std::shared_ptr<VirtualPort> port;
  {
    std::lock_guard lock(Ports().mutex);
    auto it = Ports().ports.find(name);
    if (it == Ports().ports.end()) return nullptr;
    port = it->second;
  }
  std::lock_guard lock(port->mutex_);
  if (port->open_) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (port->gone_) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  // A freshly opened device has no history: what happened while it was closed is gone.
  port->open_ = true;
  port->pendingEvents_ = port->pendingErrors_ = 0;
  port->heldByXoff_ = false;
  Drain(port->statusFd_);
  port->calls_.emplace_back("CreateFileA");
  port->changed_.notify_all();
  return std::make_unique<VirtualLine>(port);
}

}  // namespace platform
