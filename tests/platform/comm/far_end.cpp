#include "far_end.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "network_servers.h"
#include "platform/comm/virtual_line.h"
#include "real_ports.h"

namespace platform::testing {
namespace {

class VirtualFarEnd : public FarEnd {
 public:
  VirtualFarEnd() : name_("VLINE" + std::to_string(counter_++)), port_(InstallVirtualPort(name_)) {}
  ~VirtualFarEnd() override { RemoveVirtualPort(name_); }

  std::string PortName() const override { return name_; }
  void Send(std::string_view bytes) override { port_->Send(bytes); }
  std::string Receive(size_t count, std::chrono::milliseconds timeout) override {
    return port_->TakeExactly(count, timeout);
  }
  void Vanish() override { port_->Vanish(); }
  size_t StallAfter() const override { return 0; }
  void Stall() override { port_->SetReceiveCapacity(0); }

 private:
  static inline std::atomic<int> counter_{0};
  std::string name_;
  std::shared_ptr<VirtualPort> port_;
};

// A far end on a descriptor: a pty's master or the rig's other real port.
class DescriptorFarEnd : public FarEnd {
 public:
  ~DescriptorFarEnd() override {
    if (fd_ >= 0) close(fd_);
  }

  void Send(std::string_view bytes) override {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 1000);
      }
    }
  }

  std::string Receive(size_t count, std::chrono::milliseconds timeout) override {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

 protected:
  int fd_ = -1;
};

class PtyFarEnd : public DescriptorFarEnd {
 public:
  PtyFarEnd() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&fd_, &slave, name, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    close(slave);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    name_ = name;
  }

  std::string PortName() const override { return name_; }
  void Vanish() override {
    close(fd_);
    fd_ = -1;
  }
  size_t StallAfter() const override { return 1 << 20; }
  void Stall() override {}

 private:
  std::string name_;
};

// The rig's far end: another real port, raw at the suite's speed, no flow control. A USB
// adapter vanishes as a pulled one does to its driver, by taking back the USB device's
// authorisation, and comes back under its old name when the test is over.
class RealFarEnd : public DescriptorFarEnd {
 public:
  explicit RealFarEnd(const Line& line) : device_(line.device) {
    fd_ = OpenRawPort("/dev/" + line.farDevice, 115200);
    if (fd_ < 0) throw std::runtime_error("cannot open /dev/" + line.farDevice);
  }
  ~RealFarEnd() override {
    if (vanished_) PlugBackUsbAdapter(device_);
  }

  std::string PortName() const override { return device_; }
  void Vanish() override {
    vanished_ = true;
    UnplugUsbAdapter(device_);
  }
  bool CanVanish() const override { return IsUsbAdapter(device_); }
  bool CanStall() const override { return false; }
  size_t StallAfter() const override { return 0; }
  void Stall() override {}

 private:
  std::string device_;
  bool vanished_ = false;
};

// A pty behind a network server: the device under test opens the server's URL, the test
// holds the pty's master. It vanishes as a device server switched off does.
class NetworkFarEnd : public DescriptorFarEnd {
 public:
  explicit NetworkFarEnd(ServedPort::Server server) : server_(server), served_(server) {
    if (!served_.Serving()) throw std::runtime_error("the server did not start");
    fd_ = dup(served_.Master());
  }

  std::string PortName() const override { return served_.Url(); }
  void Vanish() override { served_.Stop(); }
  // The server's queues and the connection's take any amount.
  bool CanStall() const override { return false; }
  size_t StallAfter() const override { return 0; }
  void Stall() override {}
  // ser2net takes FLOWCONTROL-SUSPEND as holding its own output; pyserial ignores it.
  bool SeesFlowCharacters() const override { return false; }
  // ser2net does not confirm 1.5 stop bits on a pty, pyserial's server no parity there.
  bool TakesEveryFormat() const override { return false; }
  // pyserial's server serves one connection at a time and needs seconds to let one go.
  bool ReopensAtOnce() const override { return server_ != ServedPort::Server::Pyserial; }

 private:
  ServedPort::Server server_;
  ServedPort served_;
};

}  // namespace

std::unique_ptr<FarEnd> MakeFarEnd(const Line& line) {
  switch (line.kind) {
    case LineKind::Virtual:
      return std::make_unique<VirtualFarEnd>();
    case LineKind::Pty:
      return std::make_unique<PtyFarEnd>();
    case LineKind::Real:
      return std::make_unique<RealFarEnd>(line);
    case LineKind::Ser2net:
      return std::make_unique<NetworkFarEnd>(ServedPort::Server::Ser2net);
    case LineKind::Pyserial:
      return std::make_unique<NetworkFarEnd>(ServedPort::Server::Pyserial);
  }
  return nullptr;
}

}  // namespace platform::testing
