#include "platform/comm/network/network_port_name.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace platform {
namespace {

constexpr std::string_view kComPortScheme = "rfc2217://";
constexpr std::string_view kRawScheme = "socket://";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
           return std::tolower(static_cast<unsigned char>(t)) == p;
         });
}

bool IsHostNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// Hex groups and colons (an IPv4 tail among them), and a zone such as "%eth0".
bool IsIpv6Literal(std::string_view host) {
  const std::string_view address = host.substr(0, host.find('%'));
  const std::string_view zone = host.substr(address.size());
  return address.find(':') != address.npos &&
         address.find_first_not_of("0123456789abcdefABCDEF:.") == address.npos &&
         std::all_of(zone.begin(), zone.end(),
                     [](char c) { return c == '%' || IsHostNameChar(c); });
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (value == 0 || value > 65535) return {};
  return static_cast<uint16_t>(value);
}

// "host:port" or "[v6]:port", with at most a trailing slash.
std::optional<std::pair<std::string, uint16_t>> SplitAuthority(std::string_view rest) {
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return {};
    }
    host = rest.substr(1, close - 1);
    if (!IsIpv6Literal(host)) return {};
    rest.remove_prefix(close + 2);
  } else {
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return {};
    host = rest.substr(0, colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostNameChar)) return {};
    rest.remove_prefix(colon + 1);
  }
  const auto port = ParsePort(rest);
  if (!port) return {};
  return std::make_pair(std::string(host), *port);
}

}  // namespace

std::string NetworkPortName::Address() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool IsNetworkPortName(std::string_view name) {
  return StartsWithNoCase(name, kComPortScheme) || StartsWithNoCase(name, kRawScheme);
}

std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name) {
  const bool comPort = StartsWithNoCase(name, kComPortScheme);
  if (!comPort && !StartsWithNoCase(name, kRawScheme)) return {};
  name.remove_prefix(comPort ? kComPortScheme.size() : kRawScheme.size());
  const auto authority = SplitAuthority(name);
  if (!authority) return {};
  const auto protocol =
      comPort ? NetworkPortName::Protocol::ComPortOption : NetworkPortName::Protocol::Raw;
  return NetworkPortName{protocol, authority->first, authority->second};
}

}  // namespace platform
