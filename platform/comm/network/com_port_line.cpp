#include "platform/comm/network/com_port_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kTransmitChunk = 64 * 1024;
// What may arrive while a call waits for an answer; beyond it the wait gives up.
constexpr size_t kMaxHeld = 1 << 20;
constexpr size_t kHoldChunk = 16 * 1024;
constexpr uint8_t kLineStatesReported = 0x1E, kModemStatesReported = 0xFF;
constexpr auto kFirstModemStateTime = std::chrono::milliseconds(500);
constexpr uint8_t kPurgeReceived = 1, kPurgeTransmitted = 2, kPurgeBoth = 3;

}  // namespace

ComPortLine::ComPortLine(std::unique_ptr<SocketChannel> channel) : channel_(std::move(channel)) {}

DWORD ComPortLine::Start(SocketChannel::TimePoint deadline) {
  Send();
  const auto settled = [&] { return client_.ComPort() != ComPortClient::Option::Asked; };
  // A server that took the connection and says nothing is no telnet server, or one still
  // busy with another client: neither is a port to use yet.
  if (!AwaitUntil(deadline, settled)) return channel_->Ended() ? WSAECONNRESET : ERROR_SEM_TIMEOUT;
  if (!ComPortAccepted()) return 0;
  client_.Tell(comport::kSetLineStateMask, kLineStatesReported);
  client_.Tell(comport::kSetModemStateMask, kModemStatesReported);
  Send();
  // GetCommModemStatus right after the open should tell the far port's lines, and a change
  // before the first report could not be told from how they were.
  AwaitUntil(std::min(deadline, Clock::now() + kFirstModemStateTime),
             [&] { return client_.ModemStateSeen(); });
  return channel_->Ended() ? WSAECONNRESET : 0;
}

ssize_t ComPortLine::Receive(uint8_t* buf, size_t cap, std::vector<RxError>&) {
  const size_t held = TakeHeld(buf, cap);
  ssize_t n = static_cast<ssize_t>(held);
  if (held < cap) {
    const ssize_t more = ReadDecoded(buf + held, cap - held);
    if (more < 0 && held == 0) return -1;
    n += std::max<ssize_t>(more, 0);
  }
  Send();
  UpdateHeld();
  return n;
}

size_t ComPortLine::TakeHeld(uint8_t* buf, size_t cap) {
  const size_t n = std::min(cap, held_.size() - heldFrom_);
  if (n == 0) return 0;
  std::memcpy(buf, held_.data() + heldFrom_, n);
  heldFrom_ += n;
  if (heldFrom_ == held_.size()) {
    held_.clear();
    heldFrom_ = 0;
  }
  return n;
}

// Reads until data comes, the socket is empty, or the connection ends: a read that held
// only commands is not taken for an empty line.
ssize_t ComPortLine::ReadDecoded(uint8_t* buf, size_t cap) {
  for (;;) {
    const ssize_t n = channel_->Read(buf, cap);
    if (n <= 0) return n;
    const size_t data = client_.Take(buf, static_cast<size_t>(n));
    if (data > 0) return static_cast<ssize_t>(data);
  }
}

ssize_t ComPortLine::Transmit(const uint8_t* buf, size_t len) {
  if (!channel_->Flush()) {
    errno = ECONNRESET;
    return -1;
  }
  // Chunk by chunk, until the socket is full: whatever is left waits in the channel, which
  // then watches for room.
  size_t taken = 0;
  while (taken < len && !channel_->HoldsData()) {
    const size_t chunk = std::min(len - taken, kTransmitChunk);
    telnet::AppendEscaped(buf + taken, chunk, channel_->Data());
    taken += chunk;
    channel_->Flush();
  }
  return static_cast<ssize_t>(taken);
}

size_t ComPortLine::OutputPending() {
  channel_->Flush();
  return channel_->Unsent();
}

void ComPortLine::WaitUntilSent(std::chrono::steady_clock::time_point deadline) {
  channel_->FlushBy(deadline);
}

// The far port holds its output to this side while the queue here is nearly full.
void ComPortLine::SendImmediate(uint8_t c) {
  if (ComPortAccepted()) {
    client_.Tell(c == xoffChar_ ? comport::kFlowControlSuspend : comport::kFlowControlResume);
  } else {
    channel_->Commands().push_back(c);
    if (c == telnet::kIac) channel_->Commands().push_back(c);
  }
  Send();
}

void ComPortLine::Purge(bool input, bool output) {
  if (input) {
    held_.clear();
    heldFrom_ = 0;
    UpdateHeld();
  }
  if (output) channel_->DropData();
  if (ComPortAccepted() && (input || output)) {
    client_.Tell(comport::kPurgeData, input && output ? kPurgeBoth
                                      : input         ? kPurgeReceived
                                                      : kPurgeTransmitted);
    Send();
  }
}

// Only what changed is sent, all of it at once, and the answers are awaited together. A
// value the far port does not confirm is refused as a local driver refuses it, and what
// was changed is set back.
DWORD ComPortLine::Configure(const DCB& dcb) {
  if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return ERROR_INVALID_PARAMETER;
  if (!ComPortAccepted()) return ERROR_NOT_SUPPORTED;
  const std::vector<comport::Setting> wanted = comport::SettingsFor(dcb);
  std::vector<comport::Setting> changed;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (confirmed_.empty() || !(confirmed_[i] == wanted[i])) changed.push_back(wanted[i]);
  }
  if (!changed.empty() && !Settle(changed, Clock::now() + kAnswerTime)) {
    if (channel_->Ended()) return ERROR_ACCESS_DENIED;
    SetBack(changed);
    return ERROR_INVALID_PARAMETER;
  }
  confirmed_ = wanted;
  xoffChar_ = static_cast<uint8_t>(dcb.XoffChar);
  parityChecked_ = dcb.fParity;
  return 0;
}

// The confirmed values of what was changed, asked for again; the first settings have none.
void ComPortLine::SetBack(const std::vector<comport::Setting>& changed) {
  std::vector<comport::Setting> back;
  for (const auto& s : changed) {
    for (const auto& c : confirmed_) {
      if (c.command == s.command) back.push_back(c);
    }
  }
  if (!back.empty()) Settle(back, Clock::now() + kAnswerTime);
}

// True when every setting asked was confirmed by the deadline.
bool ComPortLine::Settle(const std::vector<comport::Setting>& asked,
                         SocketChannel::TimePoint deadline) {
  for (const auto& s : asked) client_.Ask(s);
  Send();
  const auto answered = [&] {
    return std::all_of(asked.begin(), asked.end(),
                       [&](const auto& s) { return client_.AnswerTo(s).has_value(); });
  };
  AwaitUntil(deadline, answered);
  return std::all_of(asked.begin(), asked.end(), [&](const auto& s) {
    const auto answer = client_.AnswerTo(s);
    return answer && comport::Confirms(s, *answer);
  });
}

// Keeps reading (data is held for the device) until done says so, the deadline passes or
// the connection ends; true when done.
template <typename Done>
bool ComPortLine::AwaitUntil(SocketChannel::TimePoint deadline, Done done) {
  while (!done()) {
    if (!channel_->Flush() || !channel_->WaitBy(deadline, true) || !HoldWhatArrives()) {
      UpdateHeld();
      return false;
    }
  }
  UpdateHeld();
  return true;
}

bool ComPortLine::HoldWhatArrives() {
  if (held_.size() - heldFrom_ >= kMaxHeld) return false;
  const size_t before = held_.size();
  held_.resize(before + kHoldChunk);
  const ssize_t n = ReadDecoded(held_.data() + before, kHoldChunk);
  held_.resize(before + static_cast<size_t>(std::max<ssize_t>(n, 0)));
  Send();
  return n >= 0;
}

void ComPortLine::Send() {
  std::vector<uint8_t>& outbox = client_.Outbox();
  if (!outbox.empty()) {
    std::vector<uint8_t>& commands = channel_->Commands();
    commands.insert(commands.end(), outbox.begin(), outbox.end());
    outbox.clear();
  }
  channel_->Flush();
}

void ComPortLine::UpdateHeld() { channel_->SetHeld(heldFrom_ < held_.size() || client_.HasNews()); }

void ComPortLine::SetRts(bool on) { SetControl(rts_, on, comport::kRtsOn, comport::kRtsOff); }
void ComPortLine::SetDtr(bool on) { SetControl(dtr_, on, comport::kDtrOn, comport::kDtrOff); }

// Sent on a change only; no answer is awaited, as a server whose port cannot set the
// line (a pty) sends none.
void ComPortLine::SetControl(std::optional<bool>& state, bool on, uint8_t onValue,
                             uint8_t offValue) {
  if (!ComPortAccepted() || state == on) return;
  state = on;
  client_.Tell(comport::kSetControl, on ? onValue : offValue);
  Send();
}

DWORD ComPortLine::ModemStatus(DWORD& status) {
  status = client_.ModemStatus();
  return 0;
}

LineStatus ComPortLine::TakeStatus() {
  channel_->Flush();
  LineStatus status = client_.TakeNews(parityChecked_);
  status.gone = channel_->Ended() && heldFrom_ == held_.size();
  UpdateHeld();
  return status;
}

}  // namespace platform
