#include "platform/diagnosis/network_diagnosis.h"

#include "platform/comm/network/network_port_name.h"

namespace platform {
namespace {

std::string Unparsable(const std::string& name) {
  return name +
         " is no network port name: write rfc2217://host:port or socket://host:port, with "
         "[ ] around an IPv6 address.";
}

std::string Raw(const NetworkPortName& port) { return "socket://" + port.Address(); }

}  // namespace

std::string ExplainNetworkOpenFailure(const std::string& name, DWORD error) {
  const auto port = ParseNetworkPortName(name);
  if (!port) return Unparsable(name);
  const std::string& host = port->host;
  const std::string number = std::to_string(port->port);
  switch (error) {
    case WSAECONNREFUSED:
      return "Nothing listens on port " + number + " of " + host +
             ": is the device server (ser2net) running there, and is " + number + " its port?";
    case WSAHOST_NOT_FOUND:
      return host + " is not a known host name: check its spelling, or use its IP address.";
    case WSATRY_AGAIN:
      return host + " could not be looked up: no name server answered. Check the network, or " +
             "use the host's IP address.";
    case WSAETIMEDOUT:
      return host + " did not answer within 3 s: is it switched on and on this network?";
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return host + " cannot be reached from this machine: check the network and the address.";
    case WSAECONNRESET:
      return port->Address() + " closed the connection at once: the server may take one client " +
             "at a time and have one already.";
    case ERROR_SEM_TIMEOUT:
      return port->Address() + " took the connection but did not answer as an RFC 2217 server " +
             "within 3 s. A port that passes raw TCP opens as " + Raw(*port) +
             "; a server busy with another client may need a few seconds.";
    case ERROR_NOT_SUPPORTED:
      return "The server at " + port->Address() +
             " refused the COM port option, so its port's settings cannot be set from here. "
             "Switch RFC 2217 on in the server, or open " +
             Raw(*port) + " for the data alone.";
    case ERROR_INVALID_PARAMETER:
      return "The device server at " + port->Address() +
             " did not take these settings: its port cannot do that baud rate or format.";
    case ERROR_ACCESS_DENIED:
      return port->Address() + " is open already in this program.";
    case ERROR_INVALID_NAME:
      return Unparsable(name);
    default:
      return "Opening " + name + " failed (win error code: " + std::to_string(error) + ").";
  }
}

std::string ExplainNetworkLoss(const std::string& name, DWORD) {
  const auto port = ParseNetworkPortName(name);
  const std::string where = port ? port->Address() : name;
  return "The connection to " + where +
         " ended: the server stopped or the network dropped. With Reconnect on, the console "
         "tries again by itself; otherwise press the settings button once the server is back.";
}

}  // namespace platform
