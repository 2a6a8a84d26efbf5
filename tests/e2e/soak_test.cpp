// A million frames from the simulator through the engine and the console's assembler, as
// the console sets the port up: every frame once, in order, intact.
#include <gtest/gtest.h>

#include <chrono>

#include "../temp_folder.h"
#include "app/frame_assembler.h"
#include "cport/comport.h"
#include "platform/sync/main_thread.h"
#include "protocol.h"
#include "simulator_process.h"

namespace console::testing {
namespace {

TEST(Soak, AMillionFramesArriveEachOnceInOrderAndIntact) {
  constexpr uint32_t kFrames = 1000000;
  testing_support::TempFolder folder;
  const std::string link = folder.File("instrument");
  e2e::SimulatorProcess sim(link, {"--stream", std::to_string(kFrames), "--rate", "0"});
  ASSERT_TRUE(sim.Ready());

  cport::TComPort port;
  port.SetPort(link);
  port.SetEvents(cport::TComEvents::Full());
  port.FlowControl().SetControlRTS(cport::rtsToggle);
  FrameAssembler frames;
  uint32_t next = 0;  // the reply to the command comes first
  bool intact = true;
  port.OnRxChar = [&](cport::TObject*, int32_t count) {
    std::string bytes;
    port.ReadText(bytes, count);
    frames.Deliver(bytes, [&](const FrameAssembler::Frame& frame) {
      const std::string expected = next == 0 ? "01STREAM,OK" : sim::StreamText(next);
      if ((frame.cutOff || frame.payload != expected) && intact) {
        ADD_FAILURE() << "frame " << next << ": " << frame.bytes;
        intact = false;
      }
      ++next;
    });
  };
  port.OpenPort();
  port.WriteText(frames.FrameCommand("01STREAM"));
  EXPECT_TRUE(platform::ServeMainThreadFor([&] { return next > kFrames || !intact; },
                                           std::chrono::minutes(4)));
  EXPECT_EQ(next, kFrames + 1);
  port.ClosePort();
  port.OnRxChar = nullptr;
}

}  // namespace
}  // namespace console::testing
