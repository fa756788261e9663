// The packet-socket back-end's service commands and refusals that need no link.
#include "agent/link/packet_socket.h"

#include <gtest/gtest.h>

#include "platform/console.h"

namespace torvane {
namespace {

TEST(PacketSocketDriver, InstallFindsTheKernelFamilyAndRemoveHasNothingToDo) {
  CaptureConsole console;
  EXPECT_EQ(InstallPacketDriver(console), 1);
  EXPECT_EQ(console.Text(), "af_packet Driver already exists\n");
  CaptureConsole removed;
  EXPECT_EQ(RemovePacketDriver(removed), 1);
  EXPECT_EQ(removed.Text(), "af_packet Driver uninstalled\n");
}

TEST(PacketSocketDriver, MissingOrMalformedAdapterCannotBeOpened) {
  auto backend = MakePacketSocketBackend();
  EXPECT_STREQ(backend->Name(), "af_packet");
  for (const char* name : {"tvnosuch0", "\\Device\\NPF_tvnosuch1", "", "name-longer-than-ifnamsiz"}) {
    OpenFailure why = OpenFailure::kNone;
    EXPECT_EQ(backend->OpenAdapter(name, why), nullptr) << name;
    EXPECT_EQ(why, OpenFailure::kCannotOpen) << name;
  }
}

}  // namespace
}  // namespace torvane
