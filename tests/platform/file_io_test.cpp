// ctest-labels: unit
// File replacement through symbolic links, and the clean-up of the temporary files
// that a crash in the middle of a replacement leaves behind.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "platform/registry_store.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST(ReplaceResolvedFile, WritesTheLinksTargetKeepingItsModeAndTheLink) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "etc").c_str(), 0755), 0);
  WriteFileText(dir / "etc/real.ini", "[lldp]\nLog=0\n");
  ASSERT_EQ(::chmod((dir / "etc/real.ini").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("etc/real.ini", (dir / "lldp.ini").c_str()), 0);  // relative, as ln -s makes it

  auto profile = MakeFileProfile();
  ASSERT_TRUE(profile->Write(dir / "lldp.ini", "lldp", {{"Log", "1"}}));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "lldp.ini")));
  EXPECT_EQ(ModeOf(dir / "etc/real.ini") & 07777, 0600u);
  EXPECT_EQ(ReadFileText(dir / "etc/real.ini"), "[lldp]\nLog=1\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"etc", "lldp.ini"}));

  // A plain file keeps its mode too; a new one is made 0644.
  WriteFileText(dir / "plain.ini", "");
  ASSERT_EQ(::chmod((dir / "plain.ini").c_str(), 0640), 0);
  ASSERT_TRUE(ReplaceResolvedFile(dir / "plain.ini", "x", 0644));
  EXPECT_EQ(ModeOf(dir / "plain.ini") & 07777, 0640u);
  ASSERT_TRUE(ReplaceResolvedFile(dir / "new.ini", "x", 0644));
  EXPECT_EQ(ModeOf(dir / "new.ini") & 07777, 0644u);

  // A link that leads nowhere is neither followed nor replaced.
  ASSERT_EQ(::symlink("etc/missing.ini", (dir / "dangling.ini").c_str()), 0);
  EXPECT_FALSE(ReplaceResolvedFile(dir / "dangling.ini", "x", 0644));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "dangling.ini")));
  EXPECT_EQ(ModeOf(dir / "etc/missing.ini"), 0u);
}

TEST(RemoveLeftovers, TakesOnlyTheSettingsFilesOwnTemporariesBesideNameAndTarget) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "etc").c_str(), 0755), 0);
  WriteFileText(dir / "etc/real.ini", "[lldp]\n");
  ASSERT_EQ(::symlink("etc/real.ini", (dir / "lldp.ini").c_str()), 0);
  WriteFileText(dir / "elsewhere", "keep");
  for (const char* name : {".lldp.ini.a1B2c3", ".lldp.ini.QQQQQQ", ".lldp.ini.a1B2c", ".lldp.ini.a1B2-3",
                           ".other.ini.a1B2c3", "lldp.ini.a1B2c3", "notes.txt"})
    WriteFileText(dir / name, "x");
  WriteFileText(dir / "etc/.real.ini.zzzzzz", "x");
  WriteFileText(dir / "etc/.lldp.ini.zzzzzz", "x");  // not the target's name
  ASSERT_EQ(::mkdir((dir / ".lldp.ini.Folder").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("elsewhere", (dir / ".lldp.ini.Linked").c_str()), 0);
  // A replacement still under way holds the lock on its temporary file.
  WriteFileText(dir / ".lldp.ini.Live00", "x");
  int live = ::open((dir / ".lldp.ini.Live00").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);

  MakeFileProfile()->RemoveLeftovers(dir / "lldp.ini");
  ::close(live);

  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{".lldp.ini.Folder", ".lldp.ini.Linked", ".lldp.ini.Live00",
                                      ".lldp.ini.a1B2-3", ".lldp.ini.a1B2c", ".other.ini.a1B2c3",
                                      "elsewhere", "etc",
                                      "lldp.ini", "lldp.ini.a1B2c3", "notes.txt"}));
  EXPECT_EQ(ModeOf(dir / "etc/.real.ini.zzzzzz"), 0u);
  EXPECT_NE(ModeOf(dir / "etc/.lldp.ini.zzzzzz"), 0u);
  EXPECT_EQ(ReadFileText(dir / "elsewhere"), "keep");
}

TEST(RemoveLeftovers, TakesOnlyTheStoresSubkeyTemporaries) {
  TempDir dir;
  auto reg = MakeFileRegistry(dir.path());
  ASSERT_TRUE(reg->Write("lldp", "Path", RegValue{RegType::kString, "/opt/torvane/"}));
  for (const char* name : {".lldp.Ab12Cd", ".custom.x9x9x9", ".lldp.Ab12C", "lldp.Ab12Cd"})
    WriteFileText(dir / name, "x");
  reg->RemoveLeftovers();
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{".lldp.Ab12C", ".lock", "lldp", "lldp.Ab12Cd"}));
  EXPECT_EQ(reg->Read("lldp", "Path"), (RegValue{RegType::kString, "/opt/torvane/"}));
}

}  // namespace
}  // namespace torvane
