#include "platform/comm/network/telnet_codec.h"

#include <cstring>

namespace platform::telnet {

size_t Decoder::Decode(uint8_t* bytes, size_t count, std::vector<Command>& commands) {
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    if (state_ == State::Data) {
      // Runs of plain data move in one piece.
      const void* found = std::memchr(bytes + i, kIac, count - i);
      const size_t run = found ? static_cast<const uint8_t*>(found) - (bytes + i) : count - i;
      std::memmove(bytes + out, bytes + i, run);
      out += run;
      i += run;
      if (i < count) state_ = State::Iac;
      continue;
    }
    const uint8_t c = bytes[i];
    switch (state_) {
      case State::Iac:
        if (c == kIac) {
          bytes[out++] = kIac;
          state_ = State::Data;
        } else {
          AfterIac(c, commands);
        }
        break;
      case State::Option:
        commands.push_back({Command::Kind::Negotiation, verb_, c, {}});
        state_ = State::Data;
        break;
      case State::SbOption:
        sub_.option = c;
        sub_.payload.clear();
        tooLong_ = false;
        state_ = State::SbData;
        break;
      case State::SbData:
        InSubnegotiation(c);
        break;
      case State::SbIac:
        AfterSubnegotiationIac(c, commands);
        break;
      case State::Data:
        break;
    }
  }
  return out;
}

void Decoder::AfterIac(uint8_t c, std::vector<Command>& commands) {
  if (c >= kWill) {
    verb_ = c;
    state_ = State::Option;
  } else if (c == kSb) {
    state_ = State::SbOption;
  } else {
    commands.push_back({Command::Kind::Other, c, 0, {}});
    state_ = State::Data;
  }
}

void Decoder::InSubnegotiation(uint8_t c) {
  if (c == kIac) {
    state_ = State::SbIac;
  } else {
    Keep(c);
  }
}

void Decoder::Keep(uint8_t c) {
  if (sub_.payload.size() < kMaxSubnegotiation) {
    sub_.payload.push_back(c);
  } else {
    tooLong_ = true;
  }
}

void Decoder::AfterSubnegotiationIac(uint8_t c, std::vector<Command>& commands) {
  if (c == kIac) {
    Keep(kIac);
    state_ = State::SbData;
  } else if (c == kSe) {
    if (!tooLong_) commands.push_back(sub_);
    state_ = State::Data;
  } else {
    AfterIac(c, commands);
  }
}

void AppendEscaped(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) {
  out.reserve(out.size() + count + count / 64);
  const uint8_t* end = bytes + count;
  while (bytes < end) {
    const void* found = std::memchr(bytes, kIac, end - bytes);
    const uint8_t* stop = found ? static_cast<const uint8_t*>(found) + 1 : end;
    out.insert(out.end(), bytes, stop);
    if (found) out.push_back(kIac);
    bytes = stop;
  }
}

void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  out.insert(out.end(), {kIac, verb, option});
}

void AppendSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload,
                          std::vector<uint8_t>& out) {
  out.insert(out.end(), {kIac, kSb, option});
  AppendEscaped(payload.data(), payload.size(), out);
  out.insert(out.end(), {kIac, kSe});
}

}  // namespace platform::telnet
