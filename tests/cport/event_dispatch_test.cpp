// The event thread and the three ways of delivering a batch.
#include <atomic>
#include <thread>

#include "platform/process/error_display.h"
#include "platform/sync/events.h"
#include "platform/sync/handles.h"
#include "platform/sync/main_thread.h"
#include "platform/sync/message_window.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using Strings = std::vector<std::string>;

TEST_F(PortOnVirtualLine, ReceivedBytesReachOnRxCharOnTheMainThread) {
  std::string got;
  bool onMain = false;
  int calls = 0;
  port_->OnRxChar = [&](TObject* sender, int32_t count) {
    onMain = platform::IsMainThread() && sender == port_.get();
    ++calls;
    std::string part;
    EXPECT_EQ(port_->ReadText(part, count), count);
    got += part;
  };
  port_->OpenPort();
  far_->Send(
      "\x02"
      "01ANSWER\r\n");
  ServeUntil([&] { return got.size() == 11; });
  EXPECT_EQ(got,
            "\x02"
            "01ANSWER\r\n");
  EXPECT_TRUE(onMain);
  EXPECT_GE(calls, 1);
}

TEST_F(PortOnVirtualLine, BytesWithoutAHandlerStayQueued) {
  bool flagged = false;
  port_->OnRxFlag = [&](TObject*) { flagged = true; };
  port_->SetEventChar('!');
  port_->OpenPort();
  far_->Send("abc!");
  ServeUntil([&] { return flagged; });
  EXPECT_EQ(port_->InputQueueCount(), 4);
}

TEST_F(PortOnVirtualLine, OneBatchIsHandledInTheFixedOrder) {
  Strings seen;
  port_->OnError = [&](TObject*, TComErrors e) {
    EXPECT_EQ(e, TComErrors{ceOverrun});
    seen.push_back("Error");
  };
  port_->OnRxChar = [&](TObject*, int32_t) { seen.push_back("RxChar"); };
  port_->OnRxFlag = [&](TObject*) { seen.push_back("RxFlag"); };
  port_->OnRx80Full = [&](TObject*) { seen.push_back("Rx80Full"); };
  port_->Buffer().SetInputSize(100);
  port_->SetEventChar('x');
  port_->OpenPort();
  far_->SendWithError('x', CE_OVERRUN);
  ServeUntil([&] { return seen.size() >= 3; });
  EXPECT_EQ(seen, (Strings{"Error", "RxChar", "RxFlag"}));
  // The error flags were read and cleared by the handling.
  EXPECT_EQ(port_->FetchLineErrors(), TComErrors{});
}

TEST_F(PortOnVirtualLine, ModemChangesReportTheStateAtHandling) {
  Strings seen;
  port_->OnDSRChange = [&](TObject*, bool on) { seen.push_back(on ? "DSR on" : "DSR off"); };
  port_->OnRing = [&](TObject*) { seen.push_back("Ring"); };
  port_->OpenPort();
  seen.clear();
  far_->SetDSR(true);
  ServeUntil([&] { return !seen.empty(); });
  far_->SetRing(true);
  ServeUntil([&] { return seen.size() >= 2; });
  EXPECT_EQ(seen, (Strings{"DSR on", "Ring"}));
}

TEST_F(PortOnVirtualLine, AnErrorInAHandlerEndsDeliveryAndIsReportedOnce) {
  int rxCalls = 0;
  std::string reported;
  port_->OnRxChar = [&](TObject*, int32_t) {
    ++rxCalls;
    throw EComPort(peReadFile, 5);
  };
  port_->OnEventThreadError = [&](TObject*, std::exception_ptr e) { reported = MessageOf(e); };
  port_->OpenPort();
  far_->Send("a");
  ServeUntil([&] { return !reported.empty(); });
  EXPECT_EQ(reported, "ReadFile function failed (win error code: 5)");
  EXPECT_TRUE(port_->EventThreadError());
  EXPECT_TRUE(port_->Connected());
  far_->Send("b");
  EXPECT_FALSE(platform::ServeMainThreadFor([&] { return rxCalls > 1; }, 100ms));
  EXPECT_EQ(rxCalls, 1);
  port_->ClosePort();
  port_->OpenPort();
  far_->Send("c");
  ServeUntil([&] { return rxCalls == 2; });
}

TEST_F(PortOnVirtualLine, AVanishedDeviceEndsTheThreadWithoutSpinning) {
  std::string reported;
  port_->OnEventThreadError = [&](TObject*, std::exception_ptr e) { reported = MessageOf(e); };
  port_->OpenPort();
  far_->Vanish();
  ServeUntil([&] { return !reported.empty(); });
  EXPECT_EQ(reported, "WaitForEvent method failed (win error code: 5)");
  EXPECT_NO_THROW(port_->ClosePort());
  EXPECT_FALSE(port_->Connected());
}

TEST_F(PortOnVirtualLine, ClosingWhileTheThreadWaitsToHandOverABatch) {
  std::atomic<int> batches{0};
  port_->OnRxChar = [&](TObject*, int32_t count) {
    std::string s;
    port_->ReadText(s, count);
    ++batches;
  };
  port_->OpenPort();
  far_->Send("x");
  // The thread now blocks in the hand-over; closing must serve it, not deadlock.
  ASSERT_TRUE(far_->WaitUntilDelivered(5s));
  port_->ClosePort();
  EXPECT_FALSE(port_->Connected());
  EXPECT_LE(batches.load(), 1);
}

// A handler may close its own port (a "bye" frame, a line error): the close does not wait
// for the batch that runs it, no later handler of that batch runs, the port is closed when
// ClosePort returns, and it opens again. By every way of delivery.
TEST_F(PortOnVirtualLine, AHandlerClosesItsOwnPort) {
  struct Case {
    TSyncMethod method;
    bool closeOnError;  // else on the received bytes, before the event character's turn
  };
  for (const Case c :
       {Case{smThreadSync, true}, Case{smThreadSync, false}, Case{smWindowSync, true},
        Case{smWindowSync, false}, Case{smNone, true}, Case{smNone, false}}) {
    SCOPED_TRACE(std::to_string(c.method) + (c.closeOnError ? " on OnError" : " on OnRxChar"));
    port_->SetSyncMethod(c.method);
    port_->SetEventChar('!');
    std::atomic<bool> closed{false};
    std::atomic<int> later{0};
    auto closeHere = [&] {
      port_->ClosePort();
      closed = !port_->Connected();
    };
    port_->OnError = [&](TObject*, TComErrors) { closeHere(); };
    port_->OnRxChar = [&](TObject*, int32_t) { c.closeOnError ? ++later : (closeHere(), 0); };
    port_->OnRxFlag = [&](TObject*) { ++later; };
    port_->OpenPort();
    if (c.closeOnError) {
      far_->SendWithError('!', CE_FRAME);
    } else {
      far_->Send("bye!");
    }
    ServeUntil([&] { return closed.load(); });
    EXPECT_EQ(later.load(), 0) << "a handler ran after the close";
    port_->OnError = nullptr;
    port_->OnRxChar = nullptr;
    port_->OnRxFlag = nullptr;
    port_->OpenPort();
    EXPECT_TRUE(port_->Connected());
    port_->ClosePort();
  }
}

TEST_F(PortOnVirtualLine, WithoutSynchronisationHandlersRunOnTheEventThread) {
  port_->SetSyncMethod(smNone);
  HANDLE handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> onMain{true};
  port_->OnRxChar = [&](TObject*, int32_t) {
    onMain = platform::IsMainThread();
    SetEvent(handled);
  };
  port_->OpenPort();
  far_->Send("z");
  EXPECT_EQ(WaitForSingleObject(handled, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(onMain);
  port_->ClosePort();
  CloseHandle(handled);
}

TEST_F(PortOnVirtualLine, WindowMessagesDeliverAndAreDroppedWhenClosed) {
  port_->SetSyncMethod(smWindowSync);
  Strings seen;
  port_->OnRxChar = [&](TObject*, int32_t count) {
    std::string s;
    port_->ReadText(s, count);
    seen.push_back(s);
  };
  port_->OnBreak = [&](TObject*) { seen.push_back("break"); };
  port_->OpenPort();
  far_->Send("w");
  ServeUntil([&] { return !seen.empty(); });
  EXPECT_EQ(seen, Strings{"w"});
  // A parameter that is no event does nothing; the default procedure answers the rest.
  EXPECT_EQ(port_->PortWindowProc(nullptr, WM_COMPORTEVENT, 0x800, 0), 0);
  EXPECT_EQ(port_->PortWindowProc(nullptr, WM_USER + 7, 64, 0), 0);
  port_->ClosePort();
  port_->PortWindowProc(nullptr, WM_COMPORTEVENT, 64, 0);
  EXPECT_EQ(seen, Strings{"w"});
}

TEST_F(PortOnVirtualLine, WindowDeliveryShowsHandlerErrorsAndGoesOn) {
  port_->SetSyncMethod(smWindowSync);
  std::string shown;
  platform::SetErrorDisplay([&](std::exception_ptr e) { shown = MessageOf(e); });
  int calls = 0;
  port_->OnRxChar = [&](TObject*, int32_t count) {
    std::string s;
    port_->ReadText(s, count);
    if (++calls == 1) throw EComPort(peReadFile, 9);
  };
  port_->OpenPort();
  far_->Send("1");
  ServeUntil([&] { return !shown.empty(); });
  far_->Send("2");
  ServeUntil([&] { return calls == 2; });
  EXPECT_EQ(shown, "ReadFile function failed (win error code: 9)");
  platform::SetErrorDisplay(nullptr);
}

TEST_F(PortOnVirtualLine, AnEventsChangeWaitsForTheNextOpen) {
  port_->SetEvents({evRxChar});
  port_->OpenPort();
  EXPECT_TRUE(far_->WaitForCall("SetCommMask", 5s));
  bool cts = false;
  port_->OnCTSChange = [&](TObject*, bool on) { cts = on; };
  port_->SetEvents(TComEvents::Full());
  far_->SetCTS(true);
  EXPECT_FALSE(platform::ServeMainThreadFor([&] { return cts; }, 100ms));
  port_->ClosePort();
  port_->OpenPort();
  EXPECT_TRUE(cts) << "the open reports the current state";
}

}  // namespace
}  // namespace cport::testing
