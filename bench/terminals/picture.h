#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace terminals {

// What a window showed: 32-bit pixels, row by row.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  bool Empty() const { return pixels.empty(); }
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  bool operator==(const Picture&) const = default;
};

// A rectangle cut out of a picture: where a line of text was drawn.
struct Band {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  bool Empty() const { return pixels.empty(); }
};

// The smallest rectangle holding every pixel that differs between two pictures of the
// same size, as after shows it; empty when they are alike.
Band ChangedBand(const Picture& before, const Picture& after);

// The top of a place in the picture, other than the band's own, where the band's pixels
// are, at the band's own left edge.
std::optional<int> FindBandElsewhere(const Picture& picture, const Band& band);

}  // namespace terminals
