#include "platform/sync/message_window.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/sync/handles.h"
#include "platform/sync/last_error.h"
#include "platform/sync/main_thread.h"

namespace platform {
namespace {

class WindowObject : public KernelObject {
 public:
  explicit WindowObject(MessageProcedure procedure) : procedure_(std::move(procedure)) {}
  LRESULT Call(HWND w, UINT m, WPARAM wp, LPARAM lp) { return procedure_(w, m, wp, lp); }

 private:
  MessageProcedure procedure_;
};

// A message sent from another thread: its sender waits until it is replied to.
struct SentMessage {
  std::mutex mutex;
  std::condition_variable replied;
  bool done = false;
  LRESULT result = 0;

  void Reply(LRESULT value) {
    std::lock_guard lock(mutex);
    if (done) return;
    done = true;
    result = value;
    replied.notify_all();
  }
};

thread_local SentMessage* t_current = nullptr;

void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
             const std::shared_ptr<SentMessage>& sent) {
  auto target = FindHandleAs<WindowObject>(window);
  if (!target) {
    sent->Reply(0);
    return;
  }
  SentMessage* outer = t_current;
  t_current = sent.get();
  struct Restore {
    SentMessage* outer;
    ~Restore() { t_current = outer; }
  } restore{outer};
  LRESULT result = 0;
  try {
    result = target->Call(window, message, wParam, lParam);
  } catch (...) {
    sent->Reply(0);
    throw;
  }
  sent->Reply(result);
}

}  // namespace
}  // namespace platform

HWND CreateMessageWindow(MessageProcedure procedure) {
  return platform::InsertHandle(std::make_shared<platform::WindowObject>(std::move(procedure)));
}

BOOL DestroyMessageWindow(HWND window) {
  if (!platform::FindHandleAs<platform::WindowObject>(window)) {
    return platform::FailWith(ERROR_INVALID_HANDLE);
  }
  return CloseHandle(window);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto target = platform::FindHandleAs<platform::WindowObject>(window);
  if (!target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (platform::IsMainThread()) {
    platform::SentMessage* outer = platform::t_current;
    platform::t_current = nullptr;
    const LRESULT result = target->Call(window, message, wParam, lParam);
    platform::t_current = outer;
    return result;
  }
  auto sent = std::make_shared<platform::SentMessage>();
  platform::Queue([=] { platform::Deliver(window, message, wParam, lParam, sent); });
  std::unique_lock lock(sent->mutex);
  sent->replied.wait(lock, [&] { return sent->done; });
  return sent->result;
}

BOOL InSendMessage() { return platform::t_current != nullptr; }

BOOL ReplyMessage(LRESULT result) {
  if (!platform::t_current) return FALSE;
  platform::t_current->Reply(result);
  return TRUE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }
