#include <libserialport.h>
#include <poll.h>

#include "peer.h"

namespace peers {

int RunLibserialport(const Job& job) {
  sp_port* port = nullptr;
  if (sp_get_port_by_name(job.device.c_str(), &port) != SP_OK ||
      sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
    std::fprintf(stderr, "libserialport: %s\n", sp_last_error_message());
    return 1;
  }
  sp_set_baudrate(port, 115200);
  sp_set_bits(port, 8);
  sp_set_parity(port, SP_PARITY_NONE);
  sp_set_stopbits(port, 1);
  sp_set_flowcontrol(port, SP_FLOWCONTROL_NONE);
  Work work(job);
  Work::Ready();
  char buf[4096];
  int fd = -1;
  sp_get_port_handle(port, &fd);
  for (;;) {
    // Its blocking read does not return on a hang-up: wait for either first.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) < 0 || (p.revents & (POLLHUP | POLLERR))) break;
    const int n = sp_nonblocking_read(port, buf, sizeof buf);
    if (n < 0) break;
    const std::string reply = work.Take(buf, static_cast<size_t>(n));
    if (!reply.empty() && sp_blocking_write(port, reply.data(), reply.size(), 0) < 0) break;
    if (work.SinkDone()) break;
  }
  work.Report();
  sp_close(port);
  sp_free_port(port);
  return 0;
}

}  // namespace peers
