#include "platform/profile/registry.h"

#include <gtest/gtest.h>

#include "../../scratch_registry.h"

namespace platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  testing_support::ScratchRegistry registry_{"Software\\Test", "Key"};
};

TEST_F(RegistryTest, KeysAreCreatedWithTheirParentsAndFoundInAnyCase) {
  RegistryStore reg;
  EXPECT_FALSE(reg.OpenKey("Software\\Test\\ComPort1", false));
  ASSERT_TRUE(reg.OpenKey("Software\\Test\\ComPort1", true));
  reg.WriteString("Port", " COM3 ");
  reg.WriteInteger("CustomBaudRate", -250000);
  RegistryStore again;
  ASSERT_TRUE(again.OpenKey("SOFTWARE\\test\\comport1", false));
  EXPECT_EQ(again.ReadString("port"), " COM3 ");
  EXPECT_EQ(again.ReadInteger("CustomBaudRate"), -250000);
  RegistryStore machine(RegistryRoot::LocalMachine);
  EXPECT_FALSE(machine.OpenKey("Software\\Test\\ComPort1", false));
}

TEST_F(RegistryTest, MissingAndMistypedValues) {
  RegistryStore reg;
  ASSERT_TRUE(reg.OpenKey("Key", true));
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_THROW(reg.ReadInteger("Missing"), RegistryError);
  reg.WriteString("Text", "12");
  reg.WriteInteger("Number", 12);
  EXPECT_THROW(reg.ReadInteger("Text"), RegistryError);
  EXPECT_THROW(reg.ReadString("Number"), RegistryError);
}

TEST_F(RegistryTest, WithoutAnOpenKeyReadsAreEmptyAndWritesFail) {
  RegistryStore reg;
  EXPECT_FALSE(reg.OpenKey("bad\\..\\escape", true));
  EXPECT_FALSE(reg.HasOpenKey());
  EXPECT_EQ(reg.ReadString("Port"), "");
  EXPECT_THROW(reg.ReadInteger("Port"), RegistryError);
  EXPECT_THROW(reg.WriteString("Port", "COM1"), RegistryError);
}

}  // namespace
}  // namespace platform
