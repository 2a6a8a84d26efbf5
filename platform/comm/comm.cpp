#include "platform/comm/comm.h"

#include <atomic>
#include <cctype>
#include <memory>

#include "platform/comm/comm_device.h"
#include "platform/comm/network/network_line.h"
#include "platform/comm/network/network_port_name.h"
#include "platform/comm/posix_line.h"
#include "platform/comm/virtual_line.h"
#include "platform/sync/events.h"
#include "platform/sync/last_error.h"

namespace platform {
namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";

std::string StripDevicePrefix(std::string name) {
  if (name.rfind(kDevicePrefix, 0) == 0) name.erase(0, sizeof kDevicePrefix - 1);
  return name;
}

// COM followed by a number from 1, in any letter case, as Windows reads it.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 7) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  int number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// The device of the handle a thread called on last, kept for its next call: a thread
// mostly calls on one port, and the handle's slot tells without a lock whether it is still
// open. A closed device stays with the thread until its next call on another handle.
struct RecentDevice {
  HANDLE handle = nullptr;
  std::shared_ptr<CommDevice> device;
  bool inCall = false;
};

thread_local RecentDevice t_recent;

template <typename Call>
BOOL CallDevice(CommDevice& device, const char* name, Call& call) {
  if (DWORD injected = device.BeginCall(name)) return FailWith(injected);
  return call(device);
}

// Runs one comm call on the device behind a handle, after the line had its say. A call
// made from inside another (none is today) looks its handle up for itself.
template <typename Call>
BOOL OnDevice(HANDLE file, const char* name, Call call) {
  RecentDevice& recent = t_recent;
  if (recent.inCall) {
    auto device = FindHandleAs<CommDevice>(file);
    return device ? CallDevice(*device, name, call) : FailWith(ERROR_INVALID_HANDLE);
  }
  if (recent.handle != file || !IsOpenHandle(file)) {
    recent.device = FindHandleAs<CommDevice>(file);
    recent.handle = recent.device ? file : nullptr;
  }
  if (!recent.device) return FailWith(ERROR_INVALID_HANDLE);
  recent.inCall = true;
  struct Leave {
    bool& inCall;
    ~Leave() { inCall = false; }
  } leave{recent.inCall};
  return CallDevice(*recent.device, name, call);
}

std::unique_ptr<ByteLine> OpenLine(const std::string& port, DWORD& error) {
  if (auto line = OpenVirtualLine(port, error); line || error) return line;
  if (IsNetworkPortName(port)) return OpenNetworkLine(port, error);
  return OpenPosixLine(DevicePathForPort(port), error);
}

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// The event a thread's synchronous transfers wait on, made on its first and kept.
class ThreadEvent {
 public:
  ThreadEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ThreadEvent(const ThreadEvent&) = delete;
  ThreadEvent& operator=(const ThreadEvent&) = delete;
  ~ThreadEvent() { CloseHandle(event_); }
  HANDLE Get() const { return event_; }

 private:
  HANDLE event_;
};

HANDLE ThisThreadsEvent() {
  static thread_local const ThreadEvent event;
  return event.Get();
}

BOOL AwaitEvent(HANDLE event) { return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0; }

BOOL AwaitCompletion(CommDevice& device, OVERLAPPED& overlapped) {
  if (overlapped.hEvent) return AwaitEvent(overlapped.hEvent);
  device.AwaitEventless(overlapped);
  return TRUE;
}

// Windows signals the file handle itself when an operation ends: a block without an event
// is waited for on the device behind it.
BOOL AwaitCompletion(HANDLE file, OVERLAPPED& overlapped) {
  if (overlapped.hEvent) return AwaitEvent(overlapped.hEvent);
  const auto device = FindHandleAs<CommDevice>(file);
  if (!device) return FailWith(ERROR_INVALID_HANDLE);
  return AwaitCompletion(*device, overlapped);
}

// What an operation that is no longer pending ended with, as GetOverlappedResult tells it.
BOOL ResultOf(OVERLAPPED& overlapped, DWORD* transferred) {
  const ULONG_PTR code =
      std::atomic_ref<ULONG_PTR>(overlapped.Internal).load(std::memory_order_acquire);
  if (code == STATUS_PENDING) return FailWith(ERROR_IO_INCOMPLETE);
  if (transferred) {
    *transferred = static_cast<DWORD>(
        std::atomic_ref<ULONG_PTR>(overlapped.InternalHigh).load(std::memory_order_relaxed));
  }
  if (code != ERROR_SUCCESS) return FailWith(static_cast<DWORD>(code));
  return TRUE;
}

// On a handle opened without FILE_FLAG_OVERLAPPED a transfer is synchronous, as on Windows:
// it is issued on a block of the call's own, or on the one given, and the call returns
// when it completes. Its own timeouts bound it; a close or an unplug ends it.
template <typename Issue>
BOOL Transfer(CommDevice& device, DWORD* done, OVERLAPPED* given, Issue issue) {
  if (device.Overlapped()) return issue(given);
  OVERLAPPED own{};
  own.hEvent = ThisThreadsEvent();
  OVERLAPPED& overlapped = given ? *given : own;
  if (done) *done = 0;
  if (issue(&overlapped)) return TRUE;
  if (GetLastError() != ERROR_IO_PENDING) return FALSE;
  if (!AwaitCompletion(device, overlapped)) return FALSE;
  return ResultOf(overlapped, done);
}

}  // namespace

std::string DevicePathForPort(const std::string& name) {
  if (IsNetworkPortName(name)) return name;
  if (const int n = ComNumber(name); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
  if (!name.empty() && name[0] == '/') return name;
  return "/dev/" + name;
}

}  // namespace platform

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, void*, DWORD, DWORD flags, HANDLE) {
  if (!name || !*name) return platform::Fail(ERROR_FILE_NOT_FOUND);
  const std::string port = platform::StripDevicePrefix(name);
  DWORD error = 0;
  std::unique_ptr<platform::ByteLine> line = platform::OpenLine(port, error);
  if (!line) return platform::Fail(error);
  return platform::InsertHandle(
      std::make_shared<platform::CommDevice>(std::move(line), (flags & FILE_FLAG_OVERLAPPED) != 0));
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return platform::OnDevice(file, "SetupComm", [&](auto& d) { return d.Setup(inQueue, outQueue); });
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
  if (!dcb) return platform::FailWith(ERROR_INVALID_PARAMETER);
  return platform::OnDevice(file, "SetCommState", [&](auto& d) { return d.SetState(*dcb); });
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  if (!dcb) return platform::FailWith(ERROR_INVALID_PARAMETER);
  return platform::OnDevice(file, "GetCommState", [&](auto& d) { return d.GetState(*dcb); });
}

BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  if (!timeouts) return platform::FailWith(ERROR_INVALID_PARAMETER);
  return platform::OnDevice(file, "SetCommTimeouts",
                            [&](auto& d) { return d.SetTimeouts(*timeouts); });
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  if (!timeouts) return platform::FailWith(ERROR_INVALID_PARAMETER);
  return platform::OnDevice(file, "GetCommTimeouts",
                            [&](auto& d) { return d.GetTimeouts(*timeouts); });
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat) {
  return platform::OnDevice(file, "ClearCommError",
                            [&](auto& d) { return d.ClearError(errors, stat); });
}

BOOL GetCommModemStatus(HANDLE file, DWORD* status) {
  return platform::OnDevice(file, "GetCommModemStatus",
                            [&](auto& d) { return d.ModemStatus(status); });
}

BOOL SetCommMask(HANDLE file, DWORD mask) {
  return platform::OnDevice(file, "SetCommMask", [&](auto& d) { return d.SetMask(mask); });
}

BOOL GetCommMask(HANDLE file, DWORD* mask) {
  return platform::OnDevice(file, "GetCommMask", [&](auto& d) { return d.GetMask(mask); });
}

BOOL WaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* overlapped) {
  return platform::OnDevice(file, "WaitCommEvent", [&](auto& d) {
    return platform::Transfer(d, nullptr, overlapped,
                              [&](OVERLAPPED* ov) { return d.WaitEvent(mask, ov); });
  });
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) {
  return platform::OnDevice(file, "ReadFile", [&](auto& d) {
    return platform::Transfer(d, read, overlapped,
                              [&](OVERLAPPED* ov) { return d.Read(buffer, length, read, ov); });
  });
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written,
               OVERLAPPED* overlapped) {
  return platform::OnDevice(file, "WriteFile", [&](auto& d) {
    return platform::Transfer(d, written, overlapped,
                              [&](OVERLAPPED* ov) { return d.Write(buffer, length, written, ov); });
  });
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return platform::OnDevice(file, "PurgeComm", [&](auto& d) { return d.Purge(flags); });
}

BOOL CancelIoEx(HANDLE file, OVERLAPPED* overlapped) {
  return platform::OnDevice(file, "CancelIoEx", [&](auto& d) { return d.Cancel(overlapped); });
}

// The result lives in the block itself.
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
  if (!overlapped) return platform::FailWith(ERROR_INVALID_PARAMETER);
  if (wait && platform::CommDevice::IsPending(*overlapped) &&
      !platform::AwaitCompletion(file, *overlapped)) {
    return FALSE;
  }
  return platform::ResultOf(*overlapped, transferred);
}
