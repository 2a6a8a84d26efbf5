#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A port behind a device server: rfc2217://host:port (telnet with the COM port option:
// the far port's settings, modem lines and breaks travel with the data) or
// socket://host:port (the data alone). The host is a name, an IPv4 address or an IPv6
// address in brackets.
struct NetworkPortName {
  enum class Protocol { ComPortOption, Raw };
  Protocol protocol;
  std::string host;  // without brackets
  uint16_t port;

  // "host:port", "[::1]:port": how the console shows where the port is.
  std::string Address() const;
};

// Whether the name is meant as a network port: it starts with one of the two schemes.
bool IsNetworkPortName(std::string_view name);
// The parts of a well-formed network port name; nothing for any other name.
std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name);

}  // namespace platform
