#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A profile file's bytes as they came off the disk, or why they are not used.
struct ProfileFileBytes {
  std::string bytes;
  std::string problem;
};

// Reads a whole file. A missing one is empty with no problem; one that cannot be read, is
// no regular file or is larger than limit gives its problem and no bytes. Never blocks on
// a FIFO or device in the file's place.
ProfileFileBytes ReadProfileFile(const std::string& path, size_t limit);

}  // namespace platform
