#include "picture.h"

#include <algorithm>
#include <cstring>

namespace terminals {
namespace {

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
};

std::optional<Box> DifferenceBox(const Picture& a, const Picture& b) {
  Box box{a.width, a.height, 0, 0};
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (a.At(x, y) == b.At(x, y)) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
             std::max(box.bottom, y + 1)};
    }
  }
  if (box.right == 0) return std::nullopt;
  return box;
}

bool BandAt(const Picture& picture, const Band& band, int top) {
  for (int y = 0; y < band.height; ++y) {
    const uint32_t* row = &picture.pixels[static_cast<size_t>(top + y) * picture.width + band.left];
    const uint32_t* want = &band.pixels[static_cast<size_t>(y) * band.width];
    if (std::memcmp(row, want, sizeof(uint32_t) * band.width) != 0) return false;
  }
  return true;
}

}  // namespace

Band ChangedBand(const Picture& before, const Picture& after) {
  if (before.width != after.width || before.height != after.height) return {};
  const std::optional<Box> box = DifferenceBox(before, after);
  if (!box) return {};
  Band band{box->left, box->top, box->right - box->left, box->bottom - box->top, {}};
  for (int y = box->top; y < box->bottom; ++y) {
    for (int x = box->left; x < box->right; ++x) band.pixels.push_back(after.At(x, y));
  }
  return band;
}

std::optional<int> FindBandElsewhere(const Picture& picture, const Band& band) {
  if (band.Empty() || band.left + band.width > picture.width) return std::nullopt;
  for (int top = picture.height - band.height; top >= 0; --top) {
    if (top != band.top && BandAt(picture, band, top)) return top;
  }
  return std::nullopt;
}

}  // namespace terminals
