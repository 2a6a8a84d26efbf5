#include "cportsetup/adapter_identity.h"

namespace cport {

bool IsSameAdapter(const AdapterIdentity& remembered, const AdapterIdentity& now) {
  if (remembered.vendor.empty()) return true;  // known by its name alone
  if (remembered.vendor != now.vendor || remembered.product != now.product) return false;
  if (!remembered.serial.empty()) return remembered.serial == now.serial;
  return now.serial.empty() && remembered.usbPort == now.usbPort;
}

bool HasComeBack(const AdapterIdentity& remembered, const AdapterIdentity& now) {
  return !now.node.empty() && now.node != remembered.node && IsSameAdapter(remembered, now);
}

}  // namespace cport
