#include <stdexcept>

#include "far_end.h"

namespace platform::testing {
namespace {

// The far end under Wine: the other port of a pty pair joined back to back, opened as a
// COM port too. Neither side can be held or pulled.
class ComPortFarEnd : public FarEnd {
 public:
  explicit ComPortFarEnd(const Line& line) : device_(line.device) {
    port_ = CreateFileA(("\\\\.\\" + line.farDevice).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + line.farDevice);
    DCB dcb = PlainDcb(115200);
    SetCommState(port_, &dcb);
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
  }
  ~ComPortFarEnd() override { CloseHandle(port_); }

  std::string PortName() const override { return device_; }
  void Send(std::string_view bytes) override {
    DWORD n = 0;
    WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  }
  std::string Receive(size_t count, std::chrono::milliseconds timeout) override {
    COMMTIMEOUTS limits{0, 0, static_cast<DWORD>(timeout.count()), 0, 0};
    SetCommTimeouts(port_, &limits);
    std::string got(count, '\0');
    DWORD n = 0;
    if (!ReadFile(port_, got.data(), static_cast<DWORD>(count), &n, nullptr)) n = 0;
    got.resize(n);
    return got;
  }
  void Vanish() override {}
  size_t StallAfter() const override { return 0; }
  void Stall() override {}
  bool CanStall() const override { return false; }
  bool CanVanish() const override { return false; }

 private:
  std::string device_;
  HANDLE port_;
};

}  // namespace

std::unique_ptr<FarEnd> MakeFarEnd(const Line& line) {
  return std::make_unique<ComPortFarEnd>(line);
}

}  // namespace platform::testing
