#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "cport/comport.h"
#include "cport/errors.h"
#include "platform/sync/main_thread.h"
#ifndef _WIN32
#include "platform/comm/virtual_line.h"
#endif

namespace cport::testing {

using namespace std::chrono_literals;

// A port on a freshly installed virtual line. The virtual line is a POSIX test tool: on
// Windows the port has its name and no line behind it.
class PortOnVirtualLine : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    far_ = platform::InstallVirtualPort(kName);
#endif
    port_ = std::make_unique<TComPort>();
    port_->SetPort(kName);
  }
  // Handlers capture the test's locals, which are gone by now.
  void TearDown() override {
    if (port_) Silence(*port_);
    port_.reset();
#ifndef _WIN32
    platform::RemoveVirtualPort(kName);
#endif
  }

  static void Silence(TCustomComPort& p) {
    p.OnRxChar = nullptr;
    p.OnRxBuf = nullptr;
    p.OnTxEmpty = p.OnBreak = p.OnRing = p.OnRxFlag = p.OnRx80Full = nullptr;
    p.OnCTSChange = p.OnDSRChange = p.OnRLSDChange = nullptr;
    p.OnError = nullptr;
    p.OnAfterOpen = p.OnAfterClose = p.OnBeforeOpen = p.OnBeforeClose = nullptr;
    p.OnEventThreadError = nullptr;
  }

#ifndef _WIN32
  // The device calls since the last ClearCalls, without the event thread's waits.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls = far_->Calls();
    calls.erase(std::remove(calls.begin(), calls.end(), "WaitCommEvent"), calls.end());
    return calls;
  }
#endif

  // Runs the main thread's queue until done holds; fails the test after a generous limit.
  static bool ServeUntil(const std::function<bool()>& done) {
    const bool ok = platform::ServeMainThreadFor(done, 10s);
    EXPECT_TRUE(ok) << "timed out";
    return ok;
  }

  static std::string MessageOf(std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  static constexpr const char* kName = "VPORT";
#ifndef _WIN32
  std::shared_ptr<platform::VirtualPort> far_;
#endif
  std::unique_ptr<TComPort> port_;
};

}  // namespace cport::testing
