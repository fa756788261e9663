#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::TempDir;

TEST(IniLookup, SectionsAndKeysIgnoreCaseAndFirstOccurrenceWins) {
  const std::string text =
      "[other]\ntxInterval=99\n"
      "[LLDP]\nTXINTERVAL=20\ntxInterval=40\n"
      "[lldp]\ntxHoldMultiplier=9\n";
  EXPECT_EQ(IniLookup(text, "lldp", "txinterval"), "20");
  // Only the first [lldp] counts, so a key of the second one is not seen.
  EXPECT_EQ(IniLookup(text, "lldp", "txHoldMultiplier"), std::nullopt);
  EXPECT_EQ(IniLookup(text, "missing", "txInterval"), std::nullopt);
}

TEST(IniLookup, TrimsAndRemovesOnePairOfQuotes) {
  const std::string text =
      "[s]\n"
      "  a  =  two words  \n"
      "b=\"quoted value\"\n"
      "c='single'\n"
      "d=\"mixed'\n"
      "e=\"\"twice\"\"\n"
      "f=\"  inner blanks  \"\n"
      "g=\n";
  EXPECT_EQ(IniLookup(text, "s", "a"), "two words");
  EXPECT_EQ(IniLookup(text, "s", "b"), "quoted value");
  EXPECT_EQ(IniLookup(text, "s", "c"), "single");
  EXPECT_EQ(IniLookup(text, "s", "d"), "\"mixed'");
  EXPECT_EQ(IniLookup(text, "s", "e"), "\"twice\"");
  EXPECT_EQ(IniLookup(text, "s", "f"), "  inner blanks  ");
  EXPECT_EQ(IniLookup(text, "s", "g"), "");
}

TEST(IniLookup, CommentsCrlfAndStrayLines) {
  const std::string text =
      "\xEF\xBB\xBFtop=1\r\n"
      "[ lldp ]\r\n"
      ";Log=1\r\n"
      "  ; txCdp=1\r\n"
      "no equals sign\r\n"
      "=orphan\r\n"
      "Log=0 ; not a comment\r\n"
      "txCdp=3\r\n";
  EXPECT_EQ(IniLookup(text, "lldp", "Log"), "0 ; not a comment");
  EXPECT_EQ(IniLookup(text, "lldp", "txCdp"), "3");  // no '\r' left on the value
  EXPECT_EQ(IniLookup(text, "lldp", "no equals sign"), std::nullopt);
  EXPECT_EQ(IniLookup(text, "", "top"), std::nullopt);  // before any section: nowhere
  // A byte-order mark does not hide the first section.
  EXPECT_EQ(IniLookup("\xEF\xBB\xBF[lldp]\nLog=1\n", "lldp", "Log"), "1");
}

TEST(IniParseInt, ReadsLikeTheProfileIntegerReader) {
  EXPECT_EQ(IniParseInt("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(IniParseInt("12abc"), 12u);
  EXPECT_EQ(IniParseInt("+7"), 7u);
  EXPECT_EQ(IniParseInt("abc"), 0u);
  EXPECT_EQ(IniParseInt(""), 0u);
  EXPECT_EQ(IniParseInt("4294967296"), 0u);  // wraps in 32 bits
  EXPECT_EQ(IniParseInt("0x10"), 0u);        // decimal only
  // Missing and empty values give the default; present text without digits gives 0.
  const std::string text = "[s]\nempty=\nquoted=\"\"\nword=abc\nneg=-2\n";
  EXPECT_EQ(IniGetInt(text, "s", "missing", 30), 30u);
  EXPECT_EQ(IniGetInt(text, "s", "empty", 30), 30u);
  EXPECT_EQ(IniGetInt(text, "s", "quoted", 30), 30u);
  EXPECT_EQ(IniGetInt(text, "s", "word", 30), 0u);
  EXPECT_EQ(IniGetInt(text, "s", "neg", 30), 0xFFFFFFFEu);
}

TEST(IniGetString, CutsToTheSizeLessTheTerminator) {
  const std::string text = "[s]\nmac=00:80:c2:00:00:0e:ff\n";
  EXPECT_EQ(IniGetString(text, "s", "mac", "", 18), "00:80:c2:00:00:0e");
  EXPECT_EQ(IniGetString(text, "s", "nokey", "lldp%y%m.log", 5), "lldp");
  EXPECT_EQ(IniGetString(text, "s", "mac", "x", 0), "");
}

TEST(IniApply, RewritesTheFirstOccurrenceInPlaceKeepingEveryOtherLine) {
  const std::string text =
      "; agent settings\n"
      "[lldp]\n"
      "; how often\n"
      "TXINTERVAL = 20\n"
      "txInterval=40\n"
      "Log=1\n"
      "\n"
      "[other]\n"
      "txInterval=5\n";
  EXPECT_EQ(IniApply(text, "lldp", {{"txInterval", "60"}}),
            "; agent settings\n[lldp]\n; how often\ntxInterval=60\ntxInterval=40\nLog=1\n\n"
            "[other]\ntxInterval=5\n");
}

TEST(IniApply, DeletesEveryOccurrenceInTheSectionOnly) {
  const std::string text = "[lldp]\nLog=1\nkeep=1\nlog=2\n[x]\nLog=3\n";
  std::string out = IniApply(text, "LLDP", {{"Log", std::nullopt}});
  EXPECT_EQ(out, "[lldp]\nkeep=1\n[x]\nLog=3\n");
  EXPECT_EQ(IniLookup(out, "lldp", "Log"), std::nullopt);
  EXPECT_EQ(IniApply("[x]\nLog=3\n", "lldp", {{"Log", std::nullopt}}), "[x]\nLog=3\n");
}

TEST(IniApply, AddsMissingKeysAtTheSectionEndAndMissingSectionsAtTheFileEnd) {
  EXPECT_EQ(IniApply("[lldp]\nLog=1\n; last comment\n\n[x]\n", "lldp", {{"txCdp", "1"}}),
            "[lldp]\nLog=1\n; last comment\ntxCdp=1\n\n[x]\n");
  EXPECT_EQ(IniApply("[lldp]", "lldp", {{"Log", "1"}}), "[lldp]\nLog=1\n");
  EXPECT_EQ(IniApply("; only a comment", "lldp", {{"Log", "1"}}), "; only a comment\n[lldp]\nLog=1\n");
  EXPECT_EQ(IniApply("", "lldp", {{"Log", "1"}, {"txCdp", "2"}}), "[lldp]\nLog=1\ntxCdp=2\n");
  // A file written with CRLF stays CRLF.
  EXPECT_EQ(IniApply("[lldp]\r\nLog=1\r\n", "lldp", {{"Log", "0"}, {"txCdp", "1"}}),
            "[lldp]\r\nLog=0\r\ntxCdp=1\r\n");
}

TEST(IniApply, ValuesReadBackAsWritten) {
  for (std::string v : {" lead", "trail ", "\"q\"", "'s'", "\"", "a=b;c", "", "plain"}) {
    std::string out = IniApply("[lldp]\n", "lldp", {{"Directory", v}});
    EXPECT_EQ(IniLookup(out, "lldp", "Directory"), v) << out;
  }
}

TEST(IniApply, LeavesOutEditsThatCouldForgeLines) {
  const std::string text = "[lldp]\nLog=0\n";
  EXPECT_EQ(IniApply(text, "lldp", {{"Directory", "/tmp\nLog=1"}}), text);
  EXPECT_EQ(IniApply(text, "lldp", {{"Log=1\nx", "1"}}), text);
  EXPECT_EQ(IniApply(text, "lldp]\n[x", {{"Log", "1"}}), text);
  EXPECT_FALSE(IniEditWritable("lldp", {"[Log", "1"}));
  EXPECT_FALSE(IniEditWritable("lldp", {";Log", "1"}));
  EXPECT_FALSE(IniEditWritable("lldp", {"Log", std::string("a\0b", 3)}));
  EXPECT_TRUE(IniEditWritable("lldp", {"Log", std::nullopt}));
  MemoryProfile profile;
  profile.files["f"] = text;
  EXPECT_FALSE(profile.Write("f", "lldp", {{"txCdp", "1"}, {"Directory", "a\rb"}}));
  EXPECT_EQ(profile.files["f"], text);  // nothing of the refused batch was written
}

TEST(FileProfile, WritesAMissingFileWithMode0644AndLeavesNoTemporaryFiles) {
  TempDir dir;
  const std::string file = dir / "lldp.ini";
  auto profile = MakeFileProfile();
  EXPECT_EQ(profile->Load(file), "");
  EXPECT_EQ(profile->GetInt(file, "lldp", "txInterval", 30), 30u);
  mode_t old = ::umask(077);  // the final mode must not depend on the umask
  bool written = profile->Write(file, "lldp", {{"txInterval", "60"}});
  ::umask(old);
  ASSERT_TRUE(written);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(profile->GetInt(file, "lldp", "txInterval", 30), 60u);
  ASSERT_TRUE(profile->Write(file, "lldp", {{"txInterval", std::nullopt}, {"Log", "1"}}));
  EXPECT_EQ(testing::ReadFileText(file), "[lldp]\nLog=1\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"lldp.ini"});
}

TEST(FileProfile, RefusesToReplaceWhatItCannotReadOrWhereItCannotWrite) {
  TempDir dir;
  auto profile = MakeFileProfile();
  // A folder in place of the file: unreadable, so never replaced.
  ASSERT_EQ(::mkdir((dir / "lldp.ini").c_str(), 0755), 0);
  EXPECT_EQ(profile->Load(dir / "lldp.ini"), std::nullopt);
  EXPECT_FALSE(profile->Write(dir / "lldp.ini", "lldp", {{"Log", "1"}}));
  EXPECT_EQ(profile->GetInt(dir / "lldp.ini", "lldp", "Log", 7), 7u);
  // No folder to write into.
  EXPECT_FALSE(profile->Write(dir / "none/lldp.ini", "lldp", {{"Log", "1"}}));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"lldp.ini"});
}

}  // namespace
}  // namespace torvane
