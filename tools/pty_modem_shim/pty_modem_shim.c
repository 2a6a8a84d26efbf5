// Loaded (LD_PRELOAD) into the programs that refuse a pty because the kernel refuses the
// modem-line calls there: the libserialport peer, CuteCom and GTKTerm, and pyserial's
// network server in the network tests. Where such a call fails with ENOTTY it answers as a
// port with only three wires would: DTR and RTS read back as last set (both up from the
// open, as the kernel raises them), and no input line is ever up. Every other call goes
// through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

enum { kOutputs = TIOCM_DTR | TIOCM_RTS, kSet = 1 << 30, kDescriptors = 1024 };

static int outputs[kDescriptors];  // kSet | lines, once a call has set them

static int OutputsOf(int fd) {
  if (fd < 0 || fd >= kDescriptors) return kOutputs;
  const int known = __atomic_load_n(&outputs[fd], __ATOMIC_RELAXED);
  return known & kSet ? known & kOutputs : kOutputs;
}

static void SetOutputs(int fd, int lines) {
  if (fd >= 0 && fd < kDescriptors) {
    __atomic_store_n(&outputs[fd], kSet | (lines & kOutputs), __ATOMIC_RELAXED);
  }
}

static int AnswerModemCall(int fd, unsigned long request, int* lines) {
  switch (request) {
    case TIOCMGET:
      *lines = OutputsOf(fd);
      break;
    case TIOCMSET:
      SetOutputs(fd, *lines);
      break;
    case TIOCMBIS:
      SetOutputs(fd, OutputsOf(fd) | *lines);
      break;
    default:
      SetOutputs(fd, OutputsOf(fd) & ~*lines);
      break;
  }
  return 0;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*next)(int, unsigned long, ...);
  if (!next) *(void**)&next = dlsym(RTLD_NEXT, "ioctl");
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const int result = next(fd, request, arg);
  if (result != 0 && errno == ENOTTY && arg &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)) {
    return AnswerModemCall(fd, request, (int*)arg);
  }
  return result;
}
