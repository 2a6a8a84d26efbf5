#include "cportsetup/network_ports.h"

#include <QInputDialog>

#include "platform/comm/network/network_port_name.h"

namespace cport {
namespace {

struct Offer {
  bool offered = false;
  std::vector<std::string> usedBefore;
};

Offer& TheOffer() {
  static Offer offer;
  return offer;
}

std::function<std::optional<std::string>()>& AskerHook() {
  static std::function<std::optional<std::string>()> hook;
  return hook;
}

}  // namespace

void OfferNetworkPorts(bool offered, std::vector<std::string> usedBefore) {
  TheOffer() = {offered, std::move(usedBefore)};
}

bool NetworkPortsOffered() { return TheOffer().offered; }

void AppendNetworkPorts(std::vector<std::string>& list) {
  if (!TheOffer().offered) return;
  list.insert(list.end(), TheOffer().usedBefore.begin(), TheOffer().usedBefore.end());
  list.emplace_back(kNetworkPortItem);
}

std::optional<std::string> AskForNetworkPort(QWidget* parent, const std::string& current) {
  if (AskerHook()) return AskerHook()();
  QString text = QString::fromStdString(current);
  QString label = QStringLiteral(
      "rfc2217://host:port (settings and modem lines) or\n"
      "socket://host:port (raw TCP, the data alone):");
  for (;;) {
    bool ok = false;
    text = QInputDialog::getText(parent, QStringLiteral("Network port"), label, QLineEdit::Normal,
                                 text, &ok);
    if (!ok) return std::nullopt;
    const std::string name = text.trimmed().toStdString();
    if (platform::ParseNetworkPortName(name)) return name;
    label = QStringLiteral(
                "\"%1\" is no network port name. Write rfc2217://host:port or\n"
                "socket://host:port, with [ ] around an IPv6 address:")
                .arg(text);
  }
}

void SetNetworkPortAskerHook(std::function<std::optional<std::string>()> hook) {
  AskerHook() = std::move(hook);
}

}  // namespace cport
