#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm/network/com_port_option.h"
#include "platform/comm/network/telnet_codec.h"

namespace platform::testing {

// A serial port served on a free local TCP port by a real server: Debian's ser2net,
// telnet with the COM port option or raw TCP, or pyserial's example server. Without a
// device named, the port is one end of a pty pair whose master the test holds: what the
// server's serial port sends and receives.
class ServedPort {
 public:
  enum class Server { Ser2net, Ser2netRaw, Pyserial };

  explicit ServedPort(Server server, const std::string& device = {});
  ~ServedPort();
  ServedPort(const ServedPort&) = delete;
  ServedPort& operator=(const ServedPort&) = delete;

  bool Serving() const { return pid_ > 0; }
  std::string Url() const;
  // What the server wrote, for a failure's message.
  std::string Log() const;
  int Master() const { return master_; }
  // Ends the server, as when a device server is switched off; Start brings it back on the
  // same port.
  void Stop();
  bool Start();

 private:
  Server server_;
  int master_ = -1;
  std::string device_;
  std::string base_;  // its configuration and log files, without their endings
  int port_ = 0;
  pid_t pid_ = -1;
};

// A telnet server the test plays: it takes one connection, answers the COM port option
// as its script says, answers each setting with what the script returns (nothing: no
// answer), and keeps the data and the settings it was sent.
class ScriptedServer {
 public:
  struct Script {
    bool takesComPortOption = true;
    std::function<std::optional<uint32_t>(const comport::Setting&)> answer =
        [](const comport::Setting& s) { return s.value; };
    uint8_t modemState = 0;  // reported once the client sets the modem state mask
  };

  explicit ScriptedServer(Script script);
  ~ScriptedServer();

  std::string Url() const;
  // Raw bytes to the client, telnet commands and all.
  void Send(const std::vector<uint8_t>& bytes);
  // Waits until count data bytes came; returns what came.
  std::string Data(size_t count);
  // The settings and commands the client sent so far, in order.
  std::vector<comport::Setting> Asked();
  // Waits until the client has sent count of them.
  bool WaitForAsked(size_t count);

 private:
  void Serve();
  void Opening();
  void Take(uint8_t* bytes, size_t count);
  void OnCommand(const comport::Setting& command);

  Script script_;
  telnet::Decoder decoder_;
  int listener_ = -1;
  int port_ = 0;
  int stop_ = -1;
  int client_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string data_;
  std::vector<comport::Setting> asked_;
};

// A free TCP port on the loopback address.
int FreeLocalPort();
// A server's process, its output in the log; its pid once the log shows `ready` (within a
// generous time), -1 if it never did.
pid_t SpawnUntil(const std::vector<std::string>& args, const std::string& ready,
                 const std::string& log, const std::vector<std::string>& environment = {});

}  // namespace platform::testing
