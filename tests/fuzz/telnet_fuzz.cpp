// A hostile telnet server against the client of the COM port option: the input either is
// the server's stream as it is, or spells one out of data, commands, subnegotiations of
// any size and ones cut short by another command. Never a crash; what the client holds
// stays bounded; and every data byte outside the commands arrives, in order.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/comm/network/com_port_client.h"
#include "platform/comm/network/telnet_codec.h"

namespace {

using namespace platform::telnet;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return More() ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct Stream {
  std::vector<uint8_t> wire;
  std::string data;
};

void AddData(Input& in, Stream& s) {
  for (size_t n = in.Byte(); n > 0 && in.More(); --n) {
    const uint8_t c = in.Byte();
    s.data.push_back(static_cast<char>(c));
    AppendEscaped(&c, 1, s.wire);
  }
}

// The payload never holds an IAC, so that only the end chosen ends it.
void AddPayload(Input& in, Stream& s, size_t n) {
  const uint8_t fill = in.Byte();
  for (size_t i = 0; i < n; ++i) s.wire.push_back(std::min<uint8_t>(fill + i, 0xFE));
}

void AddToken(Input& in, Stream& s) {
  const uint8_t kind = in.Byte() % 4;
  if (kind == 0) return AddData(in, s);
  if (kind == 1) {
    const uint8_t verb = std::max<uint8_t>(in.Byte(), kSe + 1);
    s.wire.insert(s.wire.end(), {kIac, verb == kSb || verb == kIac ? kBreak : verb});
    if (verb >= kWill && verb != kIac) s.wire.push_back(in.Byte());
    return;
  }
  s.wire.insert(s.wire.end(), {kIac, kSb, in.Byte()});
  const size_t length = size_t{in.Byte()} << (in.Byte() % 8);
  AddPayload(in, s, length);
  s.wire.insert(s.wire.end(), {kIac, kind == 2 ? kSe : uint8_t(0xF1)});  // IAC NOP cuts it
}

// Fed in pieces of changing size, as reads would cut it.
std::string Feed(platform::ComPortClient& client, std::vector<uint8_t> wire) {
  std::string data;
  size_t at = 0, piece = 1;
  while (at < wire.size()) {
    const size_t n = std::min(piece, wire.size() - at);
    const size_t kept = client.Take(wire.data() + at, n);
    data.append(reinterpret_cast<const char*>(wire.data() + at), kept);
    if (client.Outbox().size() > 8192) std::abort();
    at += n;
    piece = piece * 7 % 61 + 1;
  }
  client.TakeNews(true);
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  platform::ComPortClient client;
  if (data[0] & 1) {
    Feed(client, std::vector<uint8_t>(data + 1, data + size));
    return 0;
  }
  Input in(data + 1, size - 1);
  Stream stream;
  while (in.More()) AddToken(in, stream);
  if (Feed(client, stream.wire) != stream.data) std::abort();
  return 0;
}
