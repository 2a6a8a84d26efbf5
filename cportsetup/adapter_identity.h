#pragma once

#include <string>

namespace cport {

// What tells one serial adapter from another. A USB adapter is known by its serial number;
// many (CH340, some CP210x) have none, and are known by their vendor and product and the
// USB port they are plugged into. A device with no USB side (a pty, a built-in UART) has no
// identity beyond its name.
struct AdapterIdentity {
  std::string vendor;   // USB vendor id, empty for a device with no USB side
  std::string product;  // USB product id
  std::string serial;   // USB serial number, often empty
  std::string usbPort;  // where it is plugged in: bus and port chain, such as 1-2.3
  // The device node itself, made anew each time an adapter is plugged in; empty when the
  // name leads to nothing.
  std::string node;
};

// The adapter behind a device path or port name, as the system tells it now.
AdapterIdentity IdentifyAdapter(const std::string& deviceOrPort);

// Whether the adapter now behind a name is the one remembered from an earlier open.
bool IsSameAdapter(const AdapterIdentity& remembered, const AdapterIdentity& now);

// Whether that adapter is back on a node of its own: the node a port was lost on can stay
// for a while, and opening it again would only lose it again.
bool HasComeBack(const AdapterIdentity& remembered, const AdapterIdentity& now);

}  // namespace cport
