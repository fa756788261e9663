#include "platform/system_facts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::TempDir;

class LinuxFactsTest : public ::testing::Test {
 protected:
  void Put(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(dir / relative).parent_path());
    testing::WriteFileText(dir / relative, text);
  }
  TempDir dir;
  std::unique_ptr<SystemFacts> facts = MakeLinuxSystemFacts(dir.path());
};

TEST_F(LinuxFactsTest, CpuModelFromTheFirstModelNameLine) {
  EXPECT_EQ(facts->CpuModel(), "");
  Put("proc/cpuinfo",
      "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\n"
      "processor\t: 1\nmodel name\t: second\n");
  EXPECT_EQ(facts->CpuModel(), "Intel(R) Xeon(R) CPU @ 2.20GHz");
}

TEST_F(LinuxFactsTest, OsNameFromPrettyNameElseLinux) {
  EXPECT_EQ(facts->OsName(), "Linux");
  Put("usr/lib/os-release", "NAME=Other\nPRETTY_NAME='Fallback OS 1'\n");
  EXPECT_EQ(facts->OsName(), "Fallback OS 1");
  Put("etc/os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian \\\"GNU\\\"/Linux 12 (bookworm)\"\nID=debian\n");
  EXPECT_EQ(facts->OsName(), "Debian \"GNU\"/Linux 12 (bookworm)");
  Put("etc/os-release", "PRETTY_NAME=\n");
  EXPECT_EQ(facts->OsName(), "Fallback OS 1");
}

TEST_F(LinuxFactsTest, VolumeSerialFromMachineIdWithDbusFallback) {
  EXPECT_EQ(facts->VolumeSerial(), std::nullopt);
  Put("var/lib/dbus/machine-id", "0a1B2c3d4e5f60718293a4b5c6d7e8f9\n");
  EXPECT_EQ(facts->VolumeSerial(), 0x0a1b2c3du);
  Put("etc/machine-id", "uninitialized\n");  // early in boot
  EXPECT_EQ(facts->VolumeSerial(), 0x0a1b2c3du);
  Put("etc/machine-id", "f00dfacecafe0000000000000000000\n");
  EXPECT_EQ(facts->VolumeSerial(), 0xf00dfaceu);
  Put("etc/machine-id", "1234");  // too short: the other file
  EXPECT_EQ(facts->VolumeSerial(), 0x0a1b2c3du);
}

TEST(LinuxFacts, HostNamesProcessAndTime) {
  auto facts = MakeLinuxSystemFacts();
  std::string label = facts->HostName(1);
  ASSERT_FALSE(label.empty());
  EXPECT_EQ(label.find('.'), std::string::npos);
  std::string upper = facts->HostName(0);
  EXPECT_LE(upper.size(), 15u);
  EXPECT_EQ(upper.size(), std::min<size_t>(label.size(), 15));
  for (size_t i = 0; i < upper.size(); ++i) EXPECT_EQ(upper[i], std::toupper(label[i]));
  EXPECT_EQ(facts->HostName(4), upper);
  EXPECT_EQ(facts->HostName(3).rfind(label, 0), 0u);  // the full name starts with the label

  auto exe = facts->ExecutablePath();
  ASSERT_TRUE(exe.has_value());
  EXPECT_EQ(std::filesystem::path(*exe).filename(), "system_facts_test");
  EXPECT_EQ(exe->find('\0'), std::string::npos);
  EXPECT_FALSE(facts->KernelRelease().empty());

  const char* saved = std::getenv("TZ");
  std::string keep = saved ? saved : "";
  ::setenv("TZ", "XYZ-2", 1);  // two hours east of UTC, no daylight saving
  ::tzset();
  std::tm tm{};
  long offset = 0;
  ASSERT_TRUE(facts->LocalTime(86400 + 3600, tm, offset));
  EXPECT_EQ(offset, 7200);
  EXPECT_EQ(tm.tm_hour, 3);
  EXPECT_EQ(tm.tm_mday, 2);
  if (saved) ::setenv("TZ", keep.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

TEST(FakeFacts, HostNameFormatsAndZone) {
  FakeSystemFacts facts;
  facts.host = "averyveryverylonghostname";
  EXPECT_EQ(facts.HostName(0), "AVERYVERYVERYLO");
  EXPECT_EQ(facts.HostName(5), "averyveryverylonghostname");
  EXPECT_EQ(facts.HostName(6), "example.test");
  EXPECT_EQ(facts.HostName(7), "averyveryverylonghostname.example.test");
  std::tm tm{};
  long offset = 0;
  ASSERT_TRUE(facts.LocalTime(0, tm, offset));
  EXPECT_EQ(offset, 3600);
  EXPECT_EQ(tm.tm_hour, 1);
}

}  // namespace
}  // namespace torvane
