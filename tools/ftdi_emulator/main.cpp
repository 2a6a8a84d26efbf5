// An FT232B emulated on the host for QEMU's usb-redir device, so that the guest's own
// ftdi_sio driver runs against a chip whose far end a test controls: modem lines, line
// errors and breaks on received bytes, a transmitter paced by the baud rate behind a
// 128-byte buffer (so the driver's output count reaches 0 while bytes are still on the
// wire, as with the real chip) and a record of RTS. The guest's test reaches the controls
// over a serial port of its own.
//
//   ftdi-emulator REDIR_SOCKET CONTROL_SOCKET   listens on both; QEMU connects to each
//
// Control lines (the reply is one line): "modem CTS DSR RI DCD" (0 or 1 each) -> ok;
// "pulse CTS DSR RI DCD" (those levels in the next status packet only) -> ok;
// "inject HEX STATUS" (bytes the far end sends, STATUS their line-status bits) -> ok;
// "received" -> what the driver sent, in hex; "events" -> RTS and baud rate changes and
// transmissions; "now" -> the chip's clock (microseconds, as in the events); "buffer N"
// (characters the transmitter takes ahead of the wire, 128 as the FT232B) -> ok.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>

#include "ftdi_chip.h"
#include "usbredirparser.h"

namespace {

using ftdi::Clock;

int Listen(const char* path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
  unlink(path);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
    std::perror(path);
    return -1;
  }
  return fd;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) text += {digits[c >> 4], digits[c & 15]};
  return text.empty() ? "-" : text;
}

// Pairs of hex digits; a malformed pair ends the bytes rather than the emulator.
std::vector<uint8_t> Unhex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) break;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

class Emulator {
 public:
  Emulator(int redir, int control) : redirListen_(redir), controlListen_(control) {}
  int Run();

 private:
  struct InRequest {
    uint64_t id;
    usb_redir_bulk_packet_header header;
  };
  struct OutAck {
    uint64_t id;
    usb_redir_bulk_packet_header header;
    Clock::time_point due;
  };

  void StartParser();
  void Flush() { usbredirparser_do_write(parser_); }
  void AnswerIns(Clock::time_point now);
  void AckOuts(Clock::time_point now);
  int TimeoutMs(Clock::time_point now) const;
  void ReadControl();
  std::string Command(const std::string& line);

  static Emulator& Of(void* priv) { return *static_cast<Emulator*>(priv); }
  static int ReadRedir(void* priv, uint8_t* data, int count);
  static int WriteRedir(void* priv, uint8_t* data, int count);
  static void Hello(void* priv, usb_redir_hello_header*);
  static void SetConfiguration(void* priv, uint64_t id, usb_redir_set_configuration_header* h);
  static void GetConfiguration(void* priv, uint64_t id);
  static void SetAltSetting(void* priv, uint64_t id, usb_redir_set_alt_setting_header* h);
  static void GetAltSetting(void* priv, uint64_t id, usb_redir_get_alt_setting_header* h);
  static void ControlPacket(void* priv, uint64_t id, usb_redir_control_packet_header* h,
                            uint8_t* data, int length);
  static void BulkPacket(void* priv, uint64_t id, usb_redir_bulk_packet_header* h, uint8_t* data,
                         int length);
  static void Cancel(void* priv, uint64_t id);

  int redirListen_, controlListen_;
  int redir_ = -1, control_ = -1;
  usbredirparser* parser_ = nullptr;
  ftdi::Chip chip_;
  std::deque<InRequest> ins_;
  std::deque<OutAck> acks_;
  Clock::time_point lastIn_ = Clock::now();
  std::string controlLine_;
};

int Emulator::ReadRedir(void* priv, uint8_t* data, int count) {
  const ssize_t n = read(Of(priv).redir_, data, static_cast<size_t>(count));
  if (n < 0) return errno == EAGAIN ? 0 : -1;
  return n == 0 ? -1 : static_cast<int>(n);
}

int Emulator::WriteRedir(void* priv, uint8_t* data, int count) {
  const ssize_t n = write(Of(priv).redir_, data, static_cast<size_t>(count));
  if (n < 0) return errno == EAGAIN ? 0 : -1;
  return static_cast<int>(n);
}

void Emulator::Hello(void* priv, usb_redir_hello_header*) {
  usbredirparser* p = Of(priv).parser_;
  usb_redir_interface_info_header interfaces{};
  interfaces.interface_count = 1;
  interfaces.interface_class[0] = interfaces.interface_subclass[0] = 0xFF;
  interfaces.interface_protocol[0] = 0xFF;
  usbredirparser_send_interface_info(p, &interfaces);
  usb_redir_ep_info_header endpoints{};
  for (int i = 0; i < 32; ++i) endpoints.type[i] = usb_redir_type_invalid;
  endpoints.type[0] = endpoints.type[16] = usb_redir_type_control;  // endpoint 0, both ways
  endpoints.max_packet_size[0] = endpoints.max_packet_size[16] = 8;
  endpoints.type[17] = endpoints.type[2] = usb_redir_type_bulk;  // 0x81 in, 0x02 out
  endpoints.max_packet_size[17] = endpoints.max_packet_size[2] = 64;
  usbredirparser_send_ep_info(p, &endpoints);
  usb_redir_device_connect_header device{usb_redir_speed_full, 0, 0, 0, 0x0403, 0x6001, 0x0400};
  usbredirparser_send_device_connect(p, &device);
}

void Emulator::SetConfiguration(void* priv, uint64_t id, usb_redir_set_configuration_header* h) {
  usb_redir_configuration_status_header status{usb_redir_success, h->configuration};
  usbredirparser_send_configuration_status(Of(priv).parser_, id, &status);
}

void Emulator::GetConfiguration(void* priv, uint64_t id) {
  usb_redir_configuration_status_header status{usb_redir_success, 1};
  usbredirparser_send_configuration_status(Of(priv).parser_, id, &status);
}

void Emulator::SetAltSetting(void* priv, uint64_t id, usb_redir_set_alt_setting_header* h) {
  usb_redir_alt_setting_status_header status{usb_redir_success, h->interface, h->alt};
  usbredirparser_send_alt_setting_status(Of(priv).parser_, id, &status);
}

void Emulator::GetAltSetting(void* priv, uint64_t id, usb_redir_get_alt_setting_header* h) {
  usb_redir_alt_setting_status_header status{usb_redir_success, h->interface, 0};
  usbredirparser_send_alt_setting_status(Of(priv).parser_, id, &status);
}

void Emulator::ControlPacket(void* priv, uint64_t id, usb_redir_control_packet_header* h,
                             uint8_t* data, int) {
  Emulator& e = Of(priv);
  std::vector<uint8_t> reply;
  const bool ok = e.chip_.Control(h->requesttype, h->request, h->value, h->index, h->length, reply);
  usb_redir_control_packet_header answer = *h;
  answer.status = ok ? usb_redir_success : usb_redir_stall;
  const bool in = h->requesttype & 0x80;
  if (in) answer.length = static_cast<uint16_t>(reply.size());
  usbredirparser_send_control_packet(e.parser_, id, &answer, in ? reply.data() : nullptr,
                                     in ? static_cast<int>(reply.size()) : 0);
  if (data) usbredirparser_free_packet_data(e.parser_, data);
}

void Emulator::BulkPacket(void* priv, uint64_t id, usb_redir_bulk_packet_header* h, uint8_t* data,
                          int length) {
  Emulator& e = Of(priv);
  if (h->endpoint & 0x80) {
    e.ins_.push_back({id, *h});
  } else {
    const Clock::time_point due = e.chip_.Transmit(data, static_cast<size_t>(length), Clock::now());
    e.acks_.push_back({id, *h, due});
  }
  if (data) usbredirparser_free_packet_data(e.parser_, data);
}

void Emulator::Cancel(void* priv, uint64_t id) {
  Emulator& e = Of(priv);
  for (auto it = e.ins_.begin(); it != e.ins_.end(); ++it) {
    if (it->id != id) continue;
    usb_redir_bulk_packet_header answer = it->header;
    answer.status = usb_redir_cancelled;
    answer.length = answer.length_high = 0;
    usbredirparser_send_bulk_packet(e.parser_, id, &answer, nullptr, 0);
    e.ins_.erase(it);
    return;
  }
}

void Emulator::StartParser() {
  parser_ = usbredirparser_create();
  parser_->priv = this;
  parser_->read_func = ReadRedir;
  parser_->write_func = WriteRedir;
  parser_->hello_func = Hello;
  parser_->set_configuration_func = SetConfiguration;
  parser_->get_configuration_func = GetConfiguration;
  parser_->set_alt_setting_func = SetAltSetting;
  parser_->get_alt_setting_func = GetAltSetting;
  parser_->control_packet_func = ControlPacket;
  parser_->bulk_packet_func = BulkPacket;
  parser_->cancel_data_packet_func = Cancel;
  parser_->reset_func = [](void*) {};
  parser_->log_func = [](void*, int level, const char* message) {
    if (level <= usbredirparser_warning) std::fprintf(stderr, "usbredir: %s\n", message);
  };
  uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
  usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
  usbredirparser_init(parser_, "comtest-ftdi-emulator", caps, USB_REDIR_CAPS_SIZE,
                      usbredirparser_fl_usb_host);
}

// Received bytes go out at once; with none, a status-only packet once per latency period,
// as the chip does.
void Emulator::AnswerIns(Clock::time_point now) {
  while (!ins_.empty() && (chip_.HasInput() || now >= lastIn_ + chip_.Latency())) {
    InRequest request = ins_.front();
    ins_.pop_front();
    const size_t wanted = request.header.length | (size_t{request.header.length_high} << 16);
    std::vector<uint8_t> packet = chip_.NextInPacket(std::min<size_t>(wanted, 64), now);
    request.header.status = usb_redir_success;
    request.header.length = static_cast<uint16_t>(packet.size());
    request.header.length_high = 0;
    usbredirparser_send_bulk_packet(parser_, request.id, &request.header, packet.data(),
                                    static_cast<int>(packet.size()));
    lastIn_ = now;
  }
}

// A bulk-out transfer completes once its bytes are in the chip's transmit buffer.
void Emulator::AckOuts(Clock::time_point now) {
  while (!acks_.empty() && now >= acks_.front().due) {
    OutAck ack = acks_.front();
    acks_.pop_front();
    ack.header.status = usb_redir_success;
    usbredirparser_send_bulk_packet(parser_, ack.id, &ack.header, nullptr, 0);
  }
}

int Emulator::TimeoutMs(Clock::time_point now) const {
  Clock::time_point next = Clock::time_point::max();
  if (!ins_.empty()) next = lastIn_ + chip_.Latency();
  if (!acks_.empty()) next = std::min(next, acks_.front().due);
  if (next == Clock::time_point::max()) return -1;
  if (next <= now) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

std::string Emulator::Command(const std::string& line) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  if (verb == "modem" || verb == "pulse") {
    int cts = 1, dsr = 1, ri = 0, dcd = 1;
    words >> cts >> dsr >> ri >> dcd;
    if (verb == "modem")
      chip_.SetModem(cts, dsr, ri, dcd);
    else
      chip_.Pulse(cts, dsr, ri, dcd);
    return "ok";
  }
  if (verb == "inject") {
    std::string hex;
    int status = 0;
    words >> hex >> status;
    chip_.Inject(Unhex(hex), static_cast<uint8_t>(status));
    return "ok";
  }
  if (verb == "received") return Hex(chip_.TakeReceived());
  if (verb == "events") return chip_.TakeEvents();
  if (verb == "now") return std::to_string(chip_.Now());
  if (verb == "buffer") {
    unsigned characters = 128;
    words >> characters;
    chip_.SetTransmitBuffer(characters);
    return "ok";
  }
  return "unknown";
}

void Emulator::ReadControl() {
  char buf[256];
  const ssize_t n = read(control_, buf, sizeof buf);
  if (n <= 0) return;
  controlLine_.append(buf, static_cast<size_t>(n));
  for (size_t end; (end = controlLine_.find('\n')) != std::string::npos;) {
    std::string line = controlLine_.substr(0, end);
    controlLine_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string reply = Command(line) + "\n";
    if (write(control_, reply.data(), reply.size()) < 0) return;
  }
}

int Emulator::Run() {
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    pollfd fds[2] = {{redir_ >= 0 ? redir_ : redirListen_, POLLIN, 0},
                     {control_ >= 0 ? control_ : controlListen_, POLLIN, 0}};
    if (parser_ && usbredirparser_has_data_to_write(parser_)) fds[0].events |= POLLOUT;
    if (poll(fds, 2, TimeoutMs(Clock::now())) < 0 && errno != EINTR) return 1;
    if (fds[0].revents && redir_ < 0) {
      redir_ = accept4(redirListen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      StartParser();
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      return 0;  // QEMU went away
    } else if (fds[0].revents & POLLIN) {
      if (usbredirparser_do_read(parser_) == usbredirparser_read_io_error) return 0;
    }
    if (fds[1].revents && control_ < 0) {
      control_ = accept4(controlListen_, nullptr, nullptr, SOCK_CLOEXEC);
    } else if (fds[1].revents & POLLIN) {
      ReadControl();
    }
    if (parser_) {
      const auto now = Clock::now();
      AckOuts(now);
      AnswerIns(now);
      Flush();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ftdi-emulator REDIR_SOCKET CONTROL_SOCKET\n");
    return 2;
  }
  const int redir = Listen(argv[1]);
  const int control = Listen(argv[2]);
  if (redir < 0 || control < 0) return 1;
  return Emulator(redir, control).Run();
}
