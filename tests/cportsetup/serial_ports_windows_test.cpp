// The port list on Windows: the names the serial drivers publish in the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cportsetup/serial_ports.h"
#include "platform/win32_types.h"

namespace cport::testing {
namespace {

using Strings = std::vector<std::string>;

// Values a test publishes as a driver would, removed again afterwards; the ports the system
// published itself stay.
class PublishedPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    for (const std::string& name : names_) RegDeleteValueA(key_, name.c_str());
    RegCloseKey(key_);
  }
  void Publish(const std::string& device, const std::string& port) {
    names_.push_back(device);
    RegSetValueExA(key_, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                   static_cast<DWORD>(port.size() + 1));
  }
  void PublishNumber(const std::string& device) {
    names_.push_back(device);
    const DWORD number = 7;
    RegSetValueExA(key_, device.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
  }
  // The listed ports among those this test published, in the list's order.
  Strings Listed(const Strings& published) const {
    Strings list;
    ListSerialPorts(list);
    Strings ours;
    std::copy_if(list.begin(), list.end(), std::back_inserter(ours), [&](const std::string& p) {
      return std::find(published.begin(), published.end(), p) != published.end();
    });
    return ours;
  }

  HKEY key_ = nullptr;
  Strings names_;
};

TEST_F(PublishedPorts, AreListedSortedIgnoringCaseAndOnlyAsText) {
  Publish("\\Device\\ComTestB", "com71");
  Publish("\\Device\\ComTestA", "COM70");
  Publish("\\Device\\ComTestC", "COM8");
  PublishNumber("\\Device\\ComTestD");
  EXPECT_EQ(Listed({"com71", "COM70", "COM8", "7"}), (Strings{"COM70", "com71", "COM8"}));
  RegDeleteValueA(key_, "\\Device\\ComTestB");
  EXPECT_EQ(Listed({"com71", "COM70", "COM8"}), (Strings{"COM70", "COM8"}));
}

}  // namespace
}  // namespace cport::testing
