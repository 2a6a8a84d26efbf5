#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace cport {

// The port list's network ports: off unless the application offers them, and then, at
// the list's end, the ones used before and an item that asks for a new one.
constexpr char kNetworkPortItem[] = "Network port...";

void OfferNetworkPorts(bool offered, std::vector<std::string> usedBefore = {});
bool NetworkPortsOffered();
// Appends what the list offers beyond the machine's ports.
void AppendNetworkPorts(std::vector<std::string>& list);

// Asks the operator for a network port's name, as rfc2217://host:port or
// socket://host:port, until a well-formed one is given or the question is cancelled.
std::optional<std::string> AskForNetworkPort(QWidget* parent, const std::string& current);
// Tests answer the question through a hook instead.
void SetNetworkPortAskerHook(std::function<std::optional<std::string>()> hook);

}  // namespace cport
