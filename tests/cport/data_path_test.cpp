// Reading and writing, and the listeners told about it.
#include "port_fixture.h"

namespace cport::testing {
namespace {

using Strings = std::vector<std::string>;

class DataPath : public PortOnVirtualLine {
 protected:
  void SetUp() override {
    PortOnVirtualLine::SetUp();
    port_->SetEvents({});
    port_->OpenPort();
    far_->ClearCalls();
  }
};

TEST_F(DataPath, WriteTextSendsTheBytes) {
  EXPECT_EQ(port_->WriteText("\x02"
                             "01WHO\r\n"),
            8);
  EXPECT_EQ(far_->Take(),
            "\x02"
            "01WHO\r\n");
}

TEST_F(DataPath, EmptyTextsAndCountsTouchNothing) {
  EXPECT_EQ(port_->WriteText(""), 0);
  std::string text = "old";
  EXPECT_EQ(port_->ReadText(text, 0), 0);
  EXPECT_EQ(text, "");
  text = "old";
  EXPECT_EQ(port_->ReadText(text, -4), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(far_->Calls(), Strings{});
  PAsyncOperation none = nullptr;
  EXPECT_EQ(port_->StartWriteText("", none), 0);
}

TEST_F(DataPath, ReadTextIsTrimmedToWhatWasQueued) {
  far_->Send("abc");
  ASSERT_TRUE(far_->WaitUntilDelivered(5s));
  std::string text;
  EXPECT_EQ(port_->ReadText(text, 5), 3);
  EXPECT_EQ(text, "abc");
}

TEST_F(DataPath, NullRecordsAreRefused) {
  PAsyncOperation none = nullptr;
  char buf[4];
  for (auto call : std::vector<std::function<void()>>{[&] { port_->StartWrite("x", 1, none); },
                                                      [&] { port_->StartRead(buf, 1, none); },
                                                      [&] { port_->WaitForCompletion(none); }}) {
    try {
      call();
      ADD_FAILURE();
    } catch (const EComPort& e) {
      EXPECT_STREQ(e.what(), "Invalid Async parameter");
      EXPECT_EQ(e.SystemErrorCode(), -1);
    }
  }
}

TEST_F(DataPath, TransfersOnAClosedPortFailWithTheSystemCode) {
  port_->ClosePort();
  try {
    port_->WriteText("x");
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "WriteFile function failed (win error code: 6)");
  }
  std::string text;
  try {
    port_->ReadText(text, 3);
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "ReadFile function failed (win error code: 6)");
  }
  EXPECT_EQ(text.size(), 3u);
}

TEST_F(DataPath, AStalledWriteEndsWithAShortCountByItsTimeout) {
  far_->SetReceiveCapacity(3);
  port_->Timeouts().SetWriteTotalMultiplier(0);
  port_->Timeouts().SetWriteTotalConstant(30);
  EXPECT_EQ(port_->WriteText("abcdefgh"), 3);
}

TEST_F(DataPath, ListenersHearOfWritesAndReadsInOrder) {
  TComListener listener;
  Strings seen;
  listener.OnTxActive = [&](TObject*, bool on) { seen.push_back(on ? "tx on" : "tx off"); };
  listener.OnTxBuf = [&](TObject*, const void* b, int32_t n) {
    seen.push_back("txbuf " + std::string(static_cast<const char*>(b), static_cast<size_t>(n)));
  };
  listener.OnRxActive = [&](TObject*, bool on) { seen.push_back(on ? "rx on" : "rx off"); };
  port_->AttachListener(&listener);
  port_->AttachListener(&listener);

  PAsyncOperation op = nullptr;
  NewAsyncOperation(op);
  port_->StartWriteText("one", op);
  port_->WaitForCompletion(op);
  port_->StartWriteText("two", op);
  port_->WaitForCompletion(op);
  DisposeAsyncOperation(op);
  EXPECT_EQ(op, nullptr);
  std::string text;
  port_->ReadText(text, 4);
  EXPECT_EQ(seen, (Strings{"tx on", "txbuf one", "tx on", "txbuf two", "rx off"}));

  port_->DetachListener(&listener);
  seen.clear();
  port_->WriteText("x");
  EXPECT_TRUE(seen.empty());
}

TEST_F(DataPath, AListenerDetachingItselfDoesNotHideTheNext) {
  TComListener first, second;
  Strings seen;
  first.OnTxBuf = [&](TObject*, const void*, int32_t) {
    seen.push_back("first");
    port_->DetachListener(&first);
  };
  second.OnTxBuf = [&](TObject*, const void*, int32_t) { seen.push_back("second"); };
  port_->AttachListener(&first);
  port_->AttachListener(&second);
  port_->WriteText("x");
  port_->WriteText("y");
  EXPECT_EQ(seen, (Strings{"first", "second", "second"}));
  port_->DetachListener(&second);
}

TEST_F(DataPath, ListenersTakingDataGetOneBufferAndOnRxCharIsSkipped) {
  port_->ClosePort();
  port_->SetEvents(TComEvents::Full());
  TComListener listener;
  std::string viaListener, viaPort;
  bool rxChar = false;
  listener.OnRxBuf = [&](TObject*, const void* b, int32_t n) {
    viaListener.append(static_cast<const char*>(b), static_cast<size_t>(n));
  };
  port_->OnRxBuf = [&](TObject*, const void* b, int32_t n) {
    viaPort.append(static_cast<const char*>(b), static_cast<size_t>(n));
  };
  port_->OnRxChar = [&](TObject*, int32_t) { rxChar = true; };
  port_->AttachListener(&listener);
  port_->SetFireRxChar(false);
  port_->OpenPort();
  far_->Send("data");
  ServeUntil([&] { return viaListener.size() == 4; });
  EXPECT_EQ(viaListener, "data");
  EXPECT_EQ(viaPort, "data");
  EXPECT_FALSE(rxChar);
  port_->DetachListener(&listener);
}

}  // namespace
}  // namespace cport::testing
