#include "platform/comm/network/raw_tcp_line.h"

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

constexpr size_t kTransmitChunk = 64 * 1024;

}  // namespace

ssize_t RawTcpLine::Transmit(const uint8_t* buf, size_t len) {
  if (!channel_->Flush()) {
    errno = ECONNRESET;
    return -1;
  }
  size_t taken = 0;
  while (taken < len && !channel_->HoldsData()) {
    const size_t chunk = std::min(len - taken, kTransmitChunk);
    channel_->Data().assign(buf + taken, buf + taken + chunk);
    taken += chunk;
    channel_->Flush();
  }
  return static_cast<ssize_t>(taken);
}

size_t RawTcpLine::OutputPending() {
  channel_->Flush();
  return channel_->Unsent();
}

void RawTcpLine::SendImmediate(uint8_t c) {
  channel_->Commands().push_back(c);
  channel_->Flush();
}

}  // namespace platform
