// The network line's pure parts: port names, the telnet stream, the COM port option's
// negotiation, answers and reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/comm/network/com_port_client.h"
#include "platform/comm/network/com_port_option.h"
#include "platform/comm/network/network_port_name.h"
#include "platform/comm/network/telnet_codec.h"

namespace platform {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(NetworkPortName, SchemesHostsAndPorts) {
  using P = NetworkPortName::Protocol;
  struct Case {
    const char* name;
    bool valid;
    P protocol;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:7001", true, P::ComPortOption, "127.0.0.1", 7001},
      {"RFC2217://rack-3.plant.local:2217/", true, P::ComPortOption, "rack-3.plant.local", 2217},
      {"socket://[::1]:4001", true, P::Raw, "::1", 4001},
      {"socket://[fe80::1%eth0]:1", true, P::Raw, "fe80::1%eth0", 1},
      {"rfc2217://rack-3", false, {}, "", 0},
      {"rfc2217://:7001", false, {}, "", 0},
      {"rfc2217://rack 3:7001", false, {}, "", 0},
      {"rfc2217://rack-3:0", false, {}, "", 0},
      {"rfc2217://rack-3:65536", false, {}, "", 0},
      {"rfc2217://rack-3:70x", false, {}, "", 0},
      {"rfc2217://rack-3:7001?ign_set_control", false, {}, "", 0},
      {"socket://[::1:4001", false, {}, "", 0},
      {"socket://::1:4001", false, {}, "", 0},
      {"telnet://rack-3:23", false, {}, "", 0},
      {"COM1", false, {}, "", 0},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseNetworkPortName(c.name);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.name;
    if (!c.valid) continue;
    EXPECT_EQ(parsed->protocol, c.protocol) << c.name;
    EXPECT_EQ(parsed->host, c.host) << c.name;
    EXPECT_EQ(parsed->port, c.port) << c.name;
  }
  EXPECT_TRUE(IsNetworkPortName("Socket://rack-3"));
  EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
  EXPECT_EQ(ParseNetworkPortName("socket://[::1]:4001")->Address(), "[::1]:4001");
  EXPECT_EQ(ParseNetworkPortName("rfc2217://rack-3:7001")->Address(), "rack-3:7001");
}

struct Split {
  std::string data;
  std::vector<telnet::Command> commands;
};

// Decodes the stream cut at every position, so that each case is also read across every
// boundary a read can have.
std::vector<Split> DecodeEverywhere(const std::string& stream) {
  std::vector<Split> results;
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    telnet::Decoder decoder;
    Split split;
    for (std::string part : {stream.substr(0, cut), stream.substr(cut)}) {
      const size_t n =
          decoder.Decode(reinterpret_cast<uint8_t*>(part.data()), part.size(), split.commands);
      split.data.append(part.data(), n);
    }
    results.push_back(split);
  }
  return results;
}

TEST(TelnetDecoder, DataAndCommandsComeApartWhereverTheReadsEnd) {
  using K = telnet::Command::Kind;
  struct Case {
    std::string stream;
    std::string data;
    std::vector<std::pair<K, Bytes>> commands;  // kind, verb or option then payload
  };
  const std::string big(telnet::kMaxSubnegotiation + 1, 'x');
  const Case cases[] = {
      {"plain", "plain", {}},
      {"a\xFF\xFF"
       "b",
       "a\xFF"
       "b",
       {}},
      {"a\xFF\xFB\x03"
       "b",
       "ab",
       {{K::Negotiation, {0xFB, 3}}}},
      {"\xFF\xFA\x2C\x65\x00\x01\xC2\x00\xFF\xF0z"s,
       "z",
       {{K::Subnegotiation, {44, 0x65, 0, 1, 0xC2, 0}}}},
      {"\xFF\xFA\x2C\x66\xFF\xFF\xFF\xF0", "", {{K::Subnegotiation, {44, 0x66, 0xFF}}}},
      {"\xFF\xF1"
       "a\xFF\xF3",
       "a",
       {{K::Other, {0xF1}}, {K::Other, {0xF3}}}},
      // A subnegotiation cut short by another command is dropped; the data after it is not.
      {"\xFF\xFA\x2C\x65\x00\xFF\xFD\x00"s
       "data",
       "data",
       {{K::Negotiation, {0xFD, 0}}}},
      // One too long is dropped whole, and what follows it is read as usual.
      {"\xFF\xFA\x2C"s + big +
           "\xFF\xF0"
           "after",
       "after",
       {}},
  };
  for (const Case& c : cases) {
    for (const Split& split : DecodeEverywhere(c.stream)) {
      EXPECT_EQ(split.data, c.data) << c.stream;
      ASSERT_EQ(split.commands.size(), c.commands.size()) << c.stream;
      for (size_t i = 0; i < c.commands.size(); ++i) {
        const telnet::Command& got = split.commands[i];
        Bytes seen = got.kind == K::Negotiation ? Bytes{got.verb, got.option}
                     : got.kind == K::Other     ? Bytes{got.verb}
                                                : Bytes{got.option};
        seen.insert(seen.end(), got.payload.begin(), got.payload.end());
        EXPECT_EQ(got.kind, c.commands[i].first) << c.stream;
        EXPECT_EQ(seen, c.commands[i].second) << c.stream;
      }
    }
  }
  Bytes escaped;
  telnet::AppendEscaped(reinterpret_cast<const uint8_t*>("\xFF"
                                                         "a\xFF\xFF"),
                        4, escaped);
  EXPECT_EQ(escaped, B("\xFF\xFF"
                       "a\xFF\xFF\xFF\xFF"));
}

// What the client answers to each thing a server may say, after its own opening.
TEST(ComPortClient, NegotiatesOnceAndTellsTheOptionsFate) {
  using O = ComPortClient::Option;
  struct Case {
    std::string server;
    std::string reply;
    O comPort;
  };
  const Case cases[] = {
      // ser2net's greeting: its requests answer ours, and ECHO is declined.
      {"\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01\xFF\xFE\x01\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C"s,
       "\xFF\xFE\x01", O::Accepted},
      // pyserial's: it offers the option from its side.
      {"\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x00\xFF\xFB\x2C"s, "\xFF\xFE\x01\xFF\xFD\x2C",
       O::Accepted},
      {"\xFF\xFE\x2C", "", O::Refused},
      {"\xFF\xFE\x2C\xFF\xFE\x2C\xFF\xFD\x18", "\xFF\xFC\x18", O::Refused},
      // Restated requests already in force get no answer; a withdrawn one is confirmed once.
      {"\xFF\xFD\x00\xFF\xFD\x00\xFF\xFE\x00\xFF\xFE\x00"s, "\xFF\xFC\x00"s, O::Asked},
      {"", "", O::Asked},
  };
  for (const Case& c : cases) {
    ComPortClient client;
    EXPECT_EQ(client.Outbox(), B("\xFF\xFB\x00\xFF\xFD\x00\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x2C"s));
    client.Outbox().clear();
    std::string stream = c.server;
    EXPECT_EQ(client.Take(reinterpret_cast<uint8_t*>(stream.data()), stream.size()), 0u);
    EXPECT_EQ(client.Outbox(), B(c.reply)) << c.server.size();
    EXPECT_EQ(client.ComPort(), c.comPort) << c.server.size();
  }
}

TEST(ComPortOption, SettingsAndTheirConfirmation) {
  DCB dcb{};
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutX = 1;
  using S = comport::Setting;
  EXPECT_EQ(comport::SettingsFor(dcb),
            (std::vector<S>{{1, 19200}, {2, 7}, {3, 3}, {4, 2}, {5, 2}}));
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.Parity = MARKPARITY;
  dcb.StopBits = ONE5STOPBITS;
  EXPECT_EQ(comport::SettingsFor(dcb)[2], (S{3, 4}));
  EXPECT_EQ(comport::SettingsFor(dcb)[3], (S{4, 3}));
  EXPECT_EQ(comport::SettingsFor(dcb)[4], (S{5, 3}));
  EXPECT_TRUE(comport::Confirms({1, 115200}, 115384));
  EXPECT_FALSE(comport::Confirms({1, 115200}, 9600));
  EXPECT_FALSE(comport::Confirms({2, 7}, 8));
}

}  // namespace
}  // namespace platform
