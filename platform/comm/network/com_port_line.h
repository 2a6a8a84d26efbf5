#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "platform/comm/byte_line.h"
#include "platform/comm/network/com_port_client.h"
#include "platform/comm/network/socket_channel.h"

namespace platform {

// A port behind a telnet server with the COM port option: settings, DTR and RTS, purge
// and input flow control are sent to the far port, its answers awaited (never longer than
// kAnswerTime), its modem state and line state reported. A server that refuses the option
// still carries data; its settings are then not supported.
class ComPortLine : public ByteLine {
 public:
  static constexpr auto kAnswerTime = std::chrono::milliseconds(1000);

  explicit ComPortLine(std::unique_ptr<SocketChannel> channel);

  // Negotiates the options, asks for modem state and line state reports and waits, up to
  // the deadline, for the first modem state. Returns 0, 121 when the server did not take
  // part in the negotiation by the deadline, or 10054 when it ended the connection.
  DWORD Start(SocketChannel::TimePoint deadline);

  int ReadinessFd() const override { return channel_->ReadinessFd(); }
  bool WaitsForPollOut() const override { return false; }
  int StatusFd() const override { return channel_->RoomFd(); }
  ssize_t Receive(uint8_t* buf, size_t cap, std::vector<RxError>& errors) override;
  ssize_t Transmit(const uint8_t* buf, size_t len) override;
  size_t OutputPending() override;
  void WaitUntilSent(std::chrono::steady_clock::time_point deadline) override;
  void SendImmediate(uint8_t c) override;
  void Purge(bool input, bool output) override;
  DWORD Configure(const DCB& dcb) override;
  // Toggling RTS from here would reach the far port out of step with the bytes: direction
  // control belongs to the device server's own port.
  bool TogglesRtsItself() const override { return true; }
  void SetRts(bool on) override;
  void SetDtr(bool on) override;
  DWORD ModemStatus(DWORD& status) override;
  LineStatus TakeStatus() override;
  void LetGo() override { channel_->Shutdown(); }

 private:
  bool ComPortAccepted() const { return client_.ComPort() == ComPortClient::Option::Accepted; }
  size_t TakeHeld(uint8_t* buf, size_t cap);
  ssize_t ReadDecoded(uint8_t* buf, size_t cap);
  bool HoldWhatArrives();
  template <typename Done>
  bool AwaitUntil(SocketChannel::TimePoint deadline, Done done);
  bool Settle(const std::vector<comport::Setting>& asked, SocketChannel::TimePoint deadline);
  void SetBack(const std::vector<comport::Setting>& changed);
  void Send();
  void UpdateHeld();
  void SetControl(std::optional<bool>& state, bool on, uint8_t onValue, uint8_t offValue);

  std::unique_ptr<SocketChannel> channel_;
  ComPortClient client_;
  std::vector<uint8_t> held_;  // data that arrived while a call waited for an answer
  size_t heldFrom_ = 0;
  std::vector<comport::Setting> confirmed_;  // what the far port last confirmed
  std::optional<bool> dtr_, rts_;
  uint8_t xoffChar_ = 19;
  bool parityChecked_ = false;
};

}  // namespace platform
