#include "platform/comm/network/network_line.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>

#include "platform/comm/network/com_port_line.h"
#include "platform/comm/network/network_port_name.h"
#include "platform/comm/network/raw_tcp_line.h"
#include "platform/comm/network/tcp_connect.h"

namespace platform {
namespace {

// A network port is one port by its address, whichever way it is spoken to: a second
// open here is refused as a second open of a local port is, and the server is never
// asked to take two clients of one port.
class PortClaim {
 public:
  static std::unique_ptr<PortClaim> Take(const NetworkPortName& name) {
    std::string key = name.Address();
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    std::lock_guard lock(Mutex());
    if (!Claimed().insert(key).second) return nullptr;
    return std::unique_ptr<PortClaim>(new PortClaim(key));
  }
  ~PortClaim() {
    std::lock_guard lock(Mutex());
    Claimed().erase(key_);
  }

 private:
  explicit PortClaim(std::string key) : key_(std::move(key)) {}
  static std::mutex& Mutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
  }
  static std::set<std::string>& Claimed() {
    static auto* claimed = new std::set<std::string>;
    return *claimed;
  }
  std::string key_;
};

template <typename Line>
class ClaimedLine final : public Line {
 public:
  ClaimedLine(std::unique_ptr<PortClaim> claim, std::unique_ptr<SocketChannel> channel)
      : Line(std::move(channel)), claim_(std::move(claim)) {}

 private:
  std::unique_ptr<PortClaim> claim_;
};

}  // namespace

std::unique_ptr<ByteLine> OpenNetworkLine(const std::string& name, DWORD& error) {
  const auto parsed = ParseNetworkPortName(name);
  if (!parsed) {
    error = ERROR_INVALID_NAME;
    return nullptr;
  }
  auto claim = PortClaim::Take(*parsed);
  if (!claim) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + kNetworkOpenTime;
  const int socket = ConnectTcp(parsed->host, parsed->port, kNetworkOpenTime, error);
  if (socket < 0) return nullptr;
  auto channel = std::make_unique<SocketChannel>(socket);
  if (parsed->protocol == NetworkPortName::Protocol::Raw) {
    return std::make_unique<ClaimedLine<RawTcpLine>>(std::move(claim), std::move(channel));
  }
  auto line = std::make_unique<ClaimedLine<ComPortLine>>(std::move(claim), std::move(channel));
  if (const DWORD failed = line->Start(deadline)) {
    error = failed;
    return nullptr;
  }
  return line;
}

}  // namespace platform
