#include "network_servers.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/comm/network/telnet_codec.h"

namespace platform::testing {
namespace {

constexpr const char* kSer2net = "/usr/sbin/ser2net";
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kPyserialServer = "/usr/share/doc/python3-serial/examples/rfc2217_server.py";

std::string Contents(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits on the log's own change notifications until it shows the line, the server ends,
// or a generous time passes.
bool WaitForLog(const std::string& log, const std::string& ready, pid_t pid) {
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, log.c_str(), IN_MODIFY);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool found = false;
  while (!(found = Contents(log).find(ready) != std::string::npos) &&
         waitpid(pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{watch, POLLIN, 0};
    poll(&p, 1, 1000);
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
  return found;
}

}  // namespace

int FreeLocalPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

pid_t SpawnUntil(const std::vector<std::string>& args, const std::string& ready,
                 const std::string& log, const std::vector<std::string>& environment) {
  std::vector<std::string> strings = args;
  std::vector<char*> argv;
  for (auto& a : strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env(environment);
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::ofstream(log).flush();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid > 0 && !WaitForLog(log, ready, pid)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  return pid;
}

ServedPort::ServedPort(Server server, const std::string& device)
    : server_(server), device_(device) {
  if (device_.empty()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    device_ = ptsname(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  base_ = "/tmp/comtest-server-" + std::to_string(getpid()) + "-" +
          std::to_string(reinterpret_cast<uintptr_t>(this));
  port_ = FreeLocalPort();
  Start();
}

ServedPort::~ServedPort() {
  Stop();
  std::remove((base_ + ".yaml").c_str());
  std::remove((base_ + ".log").c_str());
  if (master_ >= 0) close(master_);
}

std::string ServedPort::Log() const { return "\nthe server's log:\n" + Contents(base_ + ".log"); }

std::string ServedPort::Url() const {
  const char* scheme = server_ == Server::Ser2netRaw ? "socket://" : "rfc2217://";
  return scheme + std::string("127.0.0.1:") + std::to_string(port_);
}

bool ServedPort::Start() {
  if (server_ == Server::Pyserial) {
    // pyserial's server sets DTR and RTS on every connection, which a pty refuses.
    pid_ = SpawnUntil({kPython, "-u", kPyserialServer, "-p", std::to_string(port_), device_},
                      "TCP/IP port", base_ + ".log", {"LD_PRELOAD=" PTY_MODEM_SHIM});
    return Serving();
  }
  const std::string accepter = server_ == Server::Ser2net ? "telnet(rfc2217),tcp" : "tcp";
  std::ofstream(base_ + ".yaml") << "connection: &port\n"
                                 << "  accepter: " << accepter << ",127.0.0.1," << port_ << "\n"
                                 << "  connector: serialdev," << device_ << ",9600n81,local\n"
                                 << "  options:\n    kickolduser: true\n";
  pid_ = SpawnUntil({kSer2net, "-n", "-r", "-u", "-c", base_ + ".yaml"}, "Ready", base_ + ".log");
  return Serving();
}

// A server that does not end on SIGTERM within a generous time is killed.
void ServedPort::Stop() {
  if (pid_ <= 0) return;
  const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  kill(pid_, SIGTERM);
  pollfd p{ended, POLLIN, 0};
  if (ended < 0 || poll(&p, 1, 10000) <= 0) kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  if (ended >= 0) close(ended);
  pid_ = -1;
}

ScriptedServer::ScriptedServer(Script script)
    : script_(std::move(script)), stop_(eventfd(0, EFD_CLOEXEC)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
  listen(listener_, 1);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  const uint64_t one = 1;
  if (write(stop_, &one, sizeof one) < 0) {
    // The thread has ended already.
  }
  thread_.join();
  close(listener_);
  close(stop_);
  if (client_ >= 0) close(client_);
}

std::string ScriptedServer::Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

void ScriptedServer::Serve() {
  pollfd waits[2] = {{stop_, POLLIN, 0}, {listener_, POLLIN, 0}};
  if (poll(waits, 2, -1) <= 0 || waits[0].revents) return;
  {
    std::lock_guard lock(mutex_);
    client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  Opening();
  waits[1].fd = client_;
  uint8_t buf[4096];
  while (poll(waits, 2, -1) > 0 && !waits[0].revents) {
    const ssize_t n = read(client_, buf, sizeof buf);
    if (n <= 0) return;
    Take(buf, static_cast<size_t>(n));
  }
}

void ScriptedServer::Opening() {
  using namespace telnet;
  std::vector<uint8_t> opening;
  AppendNegotiation(script_.takesComPortOption ? kDo : kDont, kComPortOption, opening);
  for (uint8_t option : {kBinary, kSuppressGoAhead}) {
    AppendNegotiation(kWill, option, opening);
    AppendNegotiation(kDo, option, opening);
  }
  Send(opening);
}

void ScriptedServer::Take(uint8_t* bytes, size_t count) {
  std::vector<telnet::Command> commands;
  const size_t data = decoder_.Decode(bytes, count, commands);
  {
    std::lock_guard lock(mutex_);
    data_.append(reinterpret_cast<char*>(bytes), data);
    changed_.notify_all();
  }
  for (const auto& c : commands) {
    if (c.kind != telnet::Command::Kind::Subnegotiation || c.option != telnet::kComPortOption ||
        c.payload.empty()) {
      continue;
    }
    uint32_t value = 0;
    for (size_t i = 1; i < c.payload.size(); ++i) value = value << 8 | c.payload[i];
    OnCommand({c.payload[0], value});
  }
}

void ScriptedServer::OnCommand(const comport::Setting& command) {
  {
    std::lock_guard lock(mutex_);
    asked_.push_back(command);
    changed_.notify_all();
  }
  std::vector<uint8_t> reply;
  const uint8_t answerCode = command.command + comport::kServerOffset;
  if (command.command == comport::kSetModemStateMask) {
    comport::AppendCommand(comport::kNotifyModemState + comport::kServerOffset,
                           {script_.modemState}, reply);
  } else if (command.command <= comport::kSetControl) {
    if (const auto answer = script_.answer(command)) {
      const uint32_t v = *answer;
      std::vector<uint8_t> value{uint8_t(v)};
      if (command.command == comport::kSetBaudRate) {
        value = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
      }
      comport::AppendCommand(answerCode, value, reply);
    }
  }
  if (!reply.empty()) Send(reply);
}

void ScriptedServer::Send(const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  if (write(client_, bytes.data(), bytes.size()) < 0) {
    // The client has gone; the test finds out by what it does not get.
  }
}

std::string ScriptedServer::Data(size_t count) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(10), [&] { return data_.size() >= count; });
  return data_;
}

std::vector<comport::Setting> ScriptedServer::Asked() {
  std::lock_guard lock(mutex_);
  return asked_;
}

bool ScriptedServer::WaitForAsked(size_t count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return asked_.size() >= count; });
}

}  // namespace platform::testing
