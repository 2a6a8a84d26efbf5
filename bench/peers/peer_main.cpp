// One answering side of the comparison, as a process of its own:
//   serial_peer VARIANT MODE DEVICE [BYTES]
// VARIANT: raw, libserialport, qserialport, engine-sync, engine-none.
// MODE: answer (each 8-byte request frame gets a 15-byte reply), sink (reads BYTES and
// prints their checksum), frames (counts the frames in BYTES and prints the count),
// idle (opens the port and sleeps). Each prints "ready" once the port is open and ends
// when the far end hangs up.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "peer.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: serial_peer VARIANT MODE DEVICE [BYTES]\n");
    return 2;
  }
  const peers::Job job{argv[2], argv[3], argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0};
  const std::string variant = argv[1];
  if (variant == "raw") return peers::RunRaw(job);
  if (variant == "libserialport") return peers::RunLibserialport(job);
  if (variant == "qserialport") return peers::RunQSerialPort(job, argc, argv);
  if (variant == "engine-sync") return peers::RunEngine(job, true);
  if (variant == "engine-none") return peers::RunEngine(job, false);
  std::fprintf(stderr, "unknown variant %s\n", variant.c_str());
  return 2;
}
