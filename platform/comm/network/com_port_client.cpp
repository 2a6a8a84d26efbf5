#include "platform/comm/network/com_port_client.h"

namespace platform {
namespace {

using namespace telnet;

constexpr size_t kMaxReplies = 4096;

bool WantedOption(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

uint32_t ValueOf(const std::vector<uint8_t>& payload) {
  uint32_t value = 0;
  for (size_t i = 1; i < payload.size(); ++i) value = value << 8 | payload[i];
  return value;
}

}  // namespace

ComPortClient::ComPortClient() {
  for (uint8_t option : {kBinary, kSuppressGoAhead}) {
    Request(ours_[option], kWill, option);
    Request(theirs_[option], kDo, option);
  }
  Request(ours_[kComPortOption], kWill, kComPortOption);
}

void ComPortClient::Request(OptionState& state, uint8_t verb, uint8_t option) {
  state.pending = true;
  AppendNegotiation(verb, option, outbox_);
}

size_t ComPortClient::Take(uint8_t* bytes, size_t count) {
  const size_t data = decoder_.Decode(bytes, count, commands_);
  for (const Command& command : commands_) OnCommand(command);
  commands_.clear();
  return data;
}

void ComPortClient::OnCommand(const Command& command) {
  switch (command.kind) {
    case Command::Kind::Negotiation:
      OnNegotiation(command.verb, command.option);
      break;
    case Command::Kind::Subnegotiation:
      if (command.option == kComPortOption) OnComPortAnswer(command.payload);
      break;
    case Command::Kind::Other:
      // A server may pass a break on its port on as telnet's own BREAK.
      if (command.verb == kBreak) lineState_ |= 0x10;
      break;
  }
}

void ComPortClient::OnNegotiation(uint8_t verb, uint8_t option) {
  const bool wanted = WantedOption(option);
  if (verb == kDo || verb == kDont) {
    Negotiate(ours_[option], verb == kDo, wanted, kWill, kWont, option);
  } else {
    Negotiate(theirs_[option], verb == kWill, wanted, kDo, kDont, option);
  }
  UpdateComPort();
}

// An answer to a request of ours is not answered again; a change the server asks for is
// answered once, and a request already in force is not answered at all, so two sides that
// keep restating an option cannot loop.
void ComPortClient::Negotiate(OptionState& state, bool yes, bool wanted, uint8_t yesVerb,
                              uint8_t noVerb, uint8_t option) {
  const bool answered = state.pending;
  state.pending = false;
  if (yes == state.enabled && !answered) return;
  state.enabled = yes && wanted;
  if (answered) return;
  Reply(state.enabled ? yesVerb : noVerb, option);
}

// A server that keeps asking while it does not read would otherwise grow the outbox
// without end; replies are courtesy, and the ones beyond the bound are dropped.
void ComPortClient::Reply(uint8_t verb, uint8_t option) {
  if (outbox_.size() < kMaxReplies) AppendNegotiation(verb, option, outbox_);
}

// Either direction agreed is taken as agreement: servers differ in which one they answer.
void ComPortClient::UpdateComPort() {
  const OptionState& ours = ours_[kComPortOption];
  const OptionState& theirs = theirs_[kComPortOption];
  if (ours.enabled || theirs.enabled) {
    comPort_ = Option::Accepted;
  } else if (!ours.pending) {
    comPort_ = Option::Refused;
  }
}

void ComPortClient::OnComPortAnswer(const std::vector<uint8_t>& payload) {
  if (payload.size() < 2 || payload[0] < comport::kServerOffset) return;
  const uint8_t command = payload[0] - comport::kServerOffset;
  const uint32_t value = ValueOf(payload);
  if (command == comport::kNotifyModemState) {
    OnModemState(static_cast<uint8_t>(value));
  } else if (command == comport::kNotifyLineState) {
    lineState_ |= static_cast<uint8_t>(value) & comport::kReportedLineStates;
  } else if (const size_t slot = AnswerSlot(command, value); slot < answers_.size()) {
    answers_[slot] = value;
  }
}

// The first report only tells the levels: what changed before it was not seen here.
void ComPortClient::OnModemState(uint8_t state) {
  if (modemStateSeen_) modemEvents_ |= comport::ModemStateEvents(modemState_, state);
  modemStateSeen_ = true;
  modemState_ = state;
}

// Each setting has its slot; SET-CONTROL answers only for flow control are waited for.
size_t ComPortClient::AnswerSlot(uint8_t command, uint32_t value) {
  if (command == comport::kSetControl) return value <= comport::kHardwareFlowControl ? 5 : 99;
  return command >= comport::kSetBaudRate && command <= comport::kSetStopSize ? command : 99;
}

void ComPortClient::Ask(const comport::Setting& setting) {
  if (const size_t slot = AnswerSlot(setting.command, setting.value); slot < answers_.size()) {
    answers_[slot].reset();
  }
  comport::AppendSetting(setting, outbox_);
}

std::optional<uint32_t> ComPortClient::AnswerTo(const comport::Setting& setting) const {
  const size_t slot = AnswerSlot(setting.command, setting.value);
  return slot < answers_.size() ? answers_[slot] : std::nullopt;
}

void ComPortClient::Tell(uint8_t command, uint8_t value) {
  comport::AppendCommand(command, {value}, outbox_);
}

void ComPortClient::Tell(uint8_t command) { comport::AppendCommand(command, {}, outbox_); }

LineStatus ComPortClient::TakeNews(bool parityChecked) {
  LineStatus news = comport::LineStateNews(lineState_, parityChecked);
  news.events |= modemEvents_;
  lineState_ = 0;
  modemEvents_ = 0;
  return news;
}

}  // namespace platform
