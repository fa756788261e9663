// ctest-labels: unit;threaded
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::TempDir;

RegValue Text(std::string s) { return {RegType::kString, std::move(s)}; }
RegValue Binary(std::string s) { return {RegType::kBinary, std::move(s)}; }

TEST(RegistryFile, AnyNameOrTextReadsBackAsWrittenOnOneLineEach) {
  std::string every;
  for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
  RegValues values = {
      {"Path", Text("/opt/torvane/")},
      {"", Text("default value")},
      {"line\nbreak", Text("a\r\nb")},
      {"back\\slash\"quote", Text("C:\\x\\\"y\"")},
      {std::string("nul\0name", 8), Text(std::string("nul\0text\x7f\t", 11))},
      {"forge", Text("x\"\n\"Used\" sz \"1")},
      {"10.0.0.1", Binary("\x80\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0")},
      {"empty", Binary("")},
      {"bytes", Binary(every)},
      {"utf8 \xc3\xa9", Text(every)},
  };
  std::string text = EncodeRegistryFile(values);
  // One comment line and one line per value: nothing written can start a line.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(values.size() + 1));
  RegValues back;
  EXPECT_TRUE(DecodeRegistryFile(text, back));
  EXPECT_EQ(back, values);
}

TEST(RegistryFile, ReadsTheFormByHandWithCommentsAndCrlf) {
  RegValues out;
  EXPECT_TRUE(DecodeRegistryFile(
      "# comment\r\n\r\n\"00:11:22:33:44:55\" sz \"61443\"\r\n\"10.0.0.1\" hex \"00FF\"", out));
  RegValues want = {{"00:11:22:33:44:55", Text("61443")}, {"10.0.0.1", Binary(std::string("\x00\xff", 2))}};
  EXPECT_EQ(out, want);
}

TEST(RegistryFile, RefusesMalformedLinesAndKeepsTheWellFormedOnes) {
  const char* bad[] = {
      "Used sz \"1\"",            // name not quoted
      "\"Used sz \"1\"",          // quote never closed
      "\"Used\" dword \"1\"",     // unknown type
      "\"Used\"  sz \"1\"",       // two blanks
      "\"Used\" sz 1",            // payload not quoted
      "\"Used\" sz \"1\" x",      // text after the value
      "\"Used\" sz \"\\q\"",      // unknown escape
      "\"Used\" sz \"\\x4\"",     // escape cut short
      "\"Used\" sz \"\\",         // backslash at the end
      "\"Used\" sz \"a\tb\"",     // raw control byte
      "\"bin\" hex \"abc\"",      // odd number of hex digits
      "\"bin\" hex \"zz\"",       // not hex
      "\"bin\" hex \"\\x41\"",    // escapes are not hex digits
  };
  for (const char* line : bad) {
    RegValues out;
    EXPECT_FALSE(DecodeRegistryFile(std::string("\"Path\" sz \"/x/\"\n") + line + "\n", out)) << line;
    EXPECT_EQ(out, (RegValues{{"Path", Text("/x/")}})) << line;
  }
  RegValues out;
  EXPECT_FALSE(DecodeRegistryFile("\"a\" sz \"first\"\n\"a\" sz \"second\"\n", out));
  EXPECT_EQ(out, (RegValues{{"a", Text("first")}}));
}

TEST(RegistryFile, SubkeyIsOnePlainNameComponent) {
  EXPECT_TRUE(IsPlainSubkey("lldp"));
  EXPECT_TRUE(IsPlainSubkey("a.b"));
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", ".lock", ".lldp.AbC123", "a/b", "/", "../lldp",
                          std::string("lldp\0x", 6)})
    EXPECT_FALSE(IsPlainSubkey(bad)) << bad;
}

TEST(FileRegistry, WritesReadsAndDeletesWithFixedModesAndNoLeftovers) {
  TempDir dir;
  const std::string root = dir / "var/lib/torvane";  // created on the first write
  auto reg = MakeFileRegistry(root);
  EXPECT_EQ(reg->Read("lldp", "Path"), std::nullopt);
  EXPECT_FALSE(reg->Delete("lldp", "Path"));
  mode_t old = ::umask(077);
  bool written = reg->Write("lldp", "Path", Text("/opt/torvane/"));
  ::umask(old);
  ASSERT_TRUE(written);
  ASSERT_TRUE(reg->Write("lldp", "10.0.0.1", Binary(std::string("\x80\0\x01", 3))));
  ASSERT_TRUE(reg->Write("lldp", "Path", Text("/usr/sbin/")));
  EXPECT_EQ(reg->Read("lldp", "Path"), Text("/usr/sbin/"));
  EXPECT_EQ(reg->Read("lldp", "10.0.0.1"), Binary(std::string("\x80\0\x01", 3)));
  EXPECT_EQ(reg->Read("other", "Path"), std::nullopt);

  struct stat st {};
  ASSERT_EQ(::stat(root.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat((root + "/lldp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  EXPECT_TRUE(reg->Delete("lldp", "Path"));
  EXPECT_FALSE(reg->Delete("lldp", "Path"));
  EXPECT_EQ(reg->Read("lldp", "Path"), std::nullopt);
  EXPECT_EQ(reg->Read("lldp", "10.0.0.1"), Binary(std::string("\x80\0\x01", 3)));

  EXPECT_FALSE(reg->Write("../escape", "x", Text("1")));
  EXPECT_FALSE(reg->Write(".lock", "x", Text("1")));
  EXPECT_EQ(reg->Read("..", "x"), std::nullopt);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"var"});
  // The lock file and the subkey file; no temporary file survives.
  auto names = std::filesystem::directory_iterator(root);
  std::vector<std::string> left;
  for (const auto& e : names) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".lock", "lldp"}));
}

TEST(FileRegistry, DamagedFileKeepsItsGoodValuesAcrossAWrite) {
  TempDir dir;
  testing::WriteFileText(dir / "lldp", "\"a\" sz \"1\"\ngarbage\n\"b\" hex \"0\"\n");
  auto reg = MakeFileRegistry(dir.path());
  EXPECT_EQ(reg->Read("lldp", "a"), Text("1"));
  ASSERT_TRUE(reg->Write("lldp", "c", Text("3")));
  RegValues out;
  EXPECT_TRUE(DecodeRegistryFile(testing::ReadFileText(dir / "lldp"), out));
  EXPECT_EQ(out, (RegValues{{"a", Text("1")}, {"c", Text("3")}}));
}

void WriteMany(RegistryStore& reg, const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i)
    ASSERT_TRUE(reg.Write("lldp", prefix + std::to_string(i), Text(std::to_string(i))));
}

void ExpectAll(RegistryStore& reg, const std::vector<std::string>& prefixes, int count) {
  int missing = 0;
  for (const auto& prefix : prefixes)
    for (int i = 0; i < count; ++i)
      if (reg.Read("lldp", prefix + std::to_string(i)) != Text(std::to_string(i))) ++missing;
  EXPECT_EQ(missing, 0);
}

TEST(FileRegistry, TwoThreadsOnOneStoreLoseNoValue) {
  TempDir dir;
  auto reg = MakeFileRegistry(dir.path());
  std::thread a([&] { WriteMany(*reg, "a", 200); });
  std::thread b([&] { WriteMany(*reg, "b", 200); });
  a.join();
  b.join();
  ExpectAll(*reg, {"a", "b"}, 200);
}

TEST(FileRegistry, TwoStoresOnOneRootLoseNoValue) {
  // Separate stores share no mutex: only the lock file orders them, as it orders
  // two processes.
  TempDir dir;
  auto first = MakeFileRegistry(dir.path());
  auto second = MakeFileRegistry(dir.path());
  std::thread a([&] { WriteMany(*first, "a", 200); });
  std::thread b([&] { WriteMany(*second, "b", 200); });
  a.join();
  b.join();
  ExpectAll(*first, {"a", "b"}, 200);
}

TEST(FileRegistry, TwoProcessesLoseNoValue) {
  TempDir dir;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      auto reg = MakeFileRegistry(dir.path());
      int failed = 0;
      const std::string prefix = c == 0 ? "p" : "q";
      for (int i = 0; i < 100; ++i)
        if (!reg->Write("lldp", prefix + std::to_string(i), Text(std::to_string(i)))) ++failed;
      ::_exit(failed ? 1 : 0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto reg = MakeFileRegistry(dir.path());
  ExpectAll(*reg, {"p", "q"}, 100);
}

TEST(FileRegistry, DefaultRootComesFromTheEnvironment) {
  const char* saved = std::getenv("TORVANE_REGISTRY");
  std::string keep = saved ? saved : "";
  ::setenv("TORVANE_REGISTRY", "/tmp/elsewhere", 1);
  EXPECT_EQ(DefaultRegistryRoot(), "/tmp/elsewhere");
  ::unsetenv("TORVANE_REGISTRY");
  EXPECT_EQ(DefaultRegistryRoot(), "/var/lib/torvane");
  if (saved) ::setenv("TORVANE_REGISTRY", keep.c_str(), 1);
}

}  // namespace
}  // namespace torvane
