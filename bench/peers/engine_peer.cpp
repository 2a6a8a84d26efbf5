// The engine as the console sets it up: all events, RTS toggle, OnRxChar -> ReadText ->
// frame assembler -> WriteText; handlers on the main thread (smThreadSync) or on the
// event thread (smNone).
#include <atomic>
#include <chrono>

#include "app/frame_assembler.h"
#include "cport/comport.h"
#include "peer.h"
#include "platform/sync/main_thread.h"

namespace peers {

int RunEngine(const Job& job, bool threadSync) {
  cport::TComPort port;
  port.SetPort(job.device);
  port.SetEvents(cport::TComEvents::Full());
  port.FlowControl().SetControlRTS(cport::rtsToggle);
  port.SetSyncMethod(threadSync ? cport::smThreadSync : cport::smNone);
  Work work(job);
  console::FrameAssembler frames;
  const console::FrameAssembler::Sink ignore = [](const console::FrameAssembler::Frame&) {};
  std::atomic<bool> done{false};
  port.OnRxChar = [&](cport::TObject*, int32_t count) {
    std::string bytes;
    port.ReadText(bytes, count);
    frames.Deliver(bytes, ignore);
    const std::string reply = work.Take(bytes.data(), bytes.size());
    if (!reply.empty()) port.WriteText(reply);
    if (work.SinkDone()) {
      done = true;
      platform::NotifyMainThreadWaiters();  // handlers may run on the event thread
    }
  };
  port.OnEventThreadError = [&](cport::TObject*, std::exception_ptr) { done = true; };
  port.OpenPort();
  Work::Ready();
  while (!done) platform::ServeMainThreadFor([&] { return done.load(); }, std::chrono::hours(1));
  port.OnRxChar = nullptr;
  work.Report();
  return 0;
}

}  // namespace peers
