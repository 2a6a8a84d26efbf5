#include "platform/comm/read_ahead.h"

#include <algorithm>
#include <cstring>

namespace platform {

void ReadAhead::Hold(size_t count, std::vector<RxError>& errors) {
  begin_ = 0;
  end_ = count;
  errors_.swap(errors);
  errors.clear();
  nextError_ = 0;
}

size_t ReadAhead::Take(uint8_t* out, size_t cap, size_t first, std::vector<RxError>& errors) {
  const size_t n = std::min(cap, end_ - begin_);
  std::memcpy(out, bytes_ + begin_, n);
  for (; nextError_ < errors_.size() && errors_[nextError_].index < begin_ + n; ++nextError_) {
    errors.push_back({errors_[nextError_].index - begin_ + first, errors_[nextError_].flags});
  }
  begin_ += n;
  return n;
}

}  // namespace platform
