#pragma once

#include <memory>

#include "platform/comm/byte_line.h"
#include "platform/comm/network/socket_channel.h"

namespace platform {

// A port behind a server that passes raw TCP: the data alone. Settings are kept here and
// the far end's own apply; its modem lines read as all off.
class RawTcpLine : public ByteLine {
 public:
  explicit RawTcpLine(std::unique_ptr<SocketChannel> channel) : channel_(std::move(channel)) {}

  int ReadinessFd() const override { return channel_->ReadinessFd(); }
  bool WaitsForPollOut() const override { return false; }
  int StatusFd() const override { return channel_->RoomFd(); }
  ssize_t Receive(uint8_t* buf, size_t cap, std::vector<RxError>&) override {
    return channel_->Read(buf, cap);
  }
  ssize_t Transmit(const uint8_t* buf, size_t len) override;
  size_t OutputPending() override;
  void WaitUntilSent(std::chrono::steady_clock::time_point deadline) override {
    channel_->FlushBy(deadline);
  }
  // The flow character goes ahead of the data not yet sent, to the far device itself.
  void SendImmediate(uint8_t c) override;
  void Purge(bool, bool output) override {
    if (output) channel_->DropData();
  }
  DWORD Configure(const DCB&) override { return 0; }
  bool TogglesRtsItself() const override { return true; }
  void SetRts(bool) override {}
  void SetDtr(bool) override {}
  DWORD ModemStatus(DWORD& status) override {
    status = 0;
    return 0;
  }
  LineStatus TakeStatus() override {
    channel_->Flush();
    return LineStatus{0, 0, channel_->Ended()};
  }
  void LetGo() override { channel_->Shutdown(); }

 private:
  std::unique_ptr<SocketChannel> channel_;
};

}  // namespace platform
