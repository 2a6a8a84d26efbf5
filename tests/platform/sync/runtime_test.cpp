#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/process/error_display.h"
#include "platform/sync/events.h"
#include "platform/sync/handles.h"
#include "platform/sync/main_thread.h"
#include "platform/sync/message_window.h"
#include "platform/sync/thread.h"

namespace platform {
namespace {

class LambdaThread : public TThread {
 public:
  explicit LambdaThread(std::function<void()> body) : body_(std::move(body)) {}
  ~LambdaThread() override { WaitFor(); }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

TEST(Runtime, SynchronizeRunsOnTheMainThreadAndRaisesItsErrorOnTheCaller) {
  bool ranOnMain = false;
  LambdaThread thread([&] {
    Synchronize([&] { ranOnMain = IsMainThread(); });
    Synchronize([] { throw std::runtime_error("from main"); });
  });
  thread.Start();
  thread.WaitFor();
  EXPECT_TRUE(ranOnMain);
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
  EXPECT_TRUE(thread.Finished());
}

TEST(Runtime, WaitForServesAThreadBlockedInSynchronize) {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> batches{0};
  LambdaThread thread([&] {
    while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) Synchronize([&] { ++batches; });
  });
  thread.Start();
  while (batches == 0) CheckSynchronize();
  SetEvent(stop);
  thread.WaitFor();  // would deadlock if it did not run the pending Synchronize
  EXPECT_TRUE(thread.Finished());
  CloseHandle(stop);
}

TEST(Runtime, QueuedCallErrorsGoToTheErrorDisplay) {
  std::string shown;
  SetErrorDisplay([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      shown = ex.what();
    }
  });
  Queue([] { throw std::runtime_error("queued"); });
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(shown, "queued");
  SetErrorDisplay(nullptr);
}

TEST(Runtime, PrioritiesMapAsWindowsNumbersThem) {
  EXPECT_EQ(ThreadPriorityValue(TThreadPriority::tpIdle), -15);
  EXPECT_EQ(ThreadPriorityValue(TThreadPriority::tpLower), -1);
  EXPECT_EQ(ThreadPriorityValue(TThreadPriority::tpNormal), 0);
  EXPECT_EQ(ThreadPriorityValue(TThreadPriority::tpTimeCritical), 15);
}

TEST(MessageWindow, SenderIsReleasedByReplyBeforeTheProcedureEnds) {
  HANDLE proceed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> procedureEnded{false};
  bool wasSent = false;
  HWND window = CreateMessageWindow([&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    if (msg != WM_USER + 1) return 0;
    wasSent = InSendMessage();
    ReplyMessage(static_cast<LRESULT>(wp * 2));
    WaitForSingleObject(proceed, 5000);
    procedureEnded = true;
    return 0;
  });
  LRESULT result = 0;
  bool endedWhenReleased = true;
  LambdaThread sender([&] {
    result = SendMessageA(window, WM_USER + 1, 21, 0);
    endedWhenReleased = procedureEnded;
    SetEvent(proceed);
  });
  sender.Start();
  sender.WaitFor();
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(wasSent);
  EXPECT_FALSE(endedWhenReleased);
  EXPECT_TRUE(procedureEnded);
  EXPECT_FALSE(InSendMessage());
  EXPECT_EQ(SendMessageA(window, WM_USER + 1, 1, 0), 0);  // same thread: a plain call
  EXPECT_FALSE(wasSent);
  DestroyMessageWindow(window);
  CloseHandle(proceed);
}

TEST(MessageWindow, AMessageToADestroyedWindowReturnsZero) {
  HWND window = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 7; });
  DestroyMessageWindow(window);
  LRESULT result = -1;
  LambdaThread sender([&] { result = SendMessageA(window, WM_USER, 0, 0); });
  sender.Start();
  sender.WaitFor();
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace platform
