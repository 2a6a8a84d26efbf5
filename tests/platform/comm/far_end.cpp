#include "far_end.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "platform/comm/virtual_line.h"

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

class PtyFarEnd : public FarEnd {
 public:
  PtyFarEnd() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    name_ = name;
  }
  ~PtyFarEnd() override {
    if (master_ >= 0) close(master_);
  }

  std::string PortName() const override { return name_; }

  void Send(std::string_view bytes) override {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
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
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  void Vanish() override {
    close(master_);
    master_ = -1;
  }
  size_t StallAfter() const override { return 1 << 20; }
  void Stall() override {}

 private:
  int master_ = -1;
  std::string name_;
};

}  // namespace

std::unique_ptr<FarEnd> MakeFarEnd(LineKind kind) {
  if (kind == LineKind::Virtual) return std::make_unique<VirtualFarEnd>();
  return std::make_unique<PtyFarEnd>();
}

std::string LineKindName(LineKind kind) { return kind == LineKind::Virtual ? "Virtual" : "Pty"; }

HANDLE OpenPort(const std::string& name) {
  return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace platform::testing
