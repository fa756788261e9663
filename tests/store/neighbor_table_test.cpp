// The neighbour table: insertion order, handles, aging at the boundary, removal,
// clearing, the per-port cap and the counters.
#include "agent/store/neighbor_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

using nbrtest::FixedZoneFacts;
using nbrtest::ManualClock;
using nbrtest::TempDir;

Neighbor Record(uint32_t port, uint8_t lastMacByte, uint32_t lastUpdate = 1000, uint32_t ttl = 120) {
  Neighbor r{};
  r.localPort = port;
  const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, lastMacByte};
  std::memcpy(r.sourceMac, mac, 6);
  r.lastUpdate = lastUpdate;
  r.discovered = lastUpdate;
  r.ttl = ttl;
  CopyText(r.systemName, "peer-" + std::to_string(lastMacByte));
  return r;
}

size_t CountOf(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

class NeighborTableTest : public ::testing::Test {
 protected:
  NeighborTableTest() : log(settings, facts, clock, logLock), table(log, clock) {
    std::string dir = logDir.directory();
    settings.Update([&](AgentSettings& s, OutsideSettings& o) {
      s.Log = 1;
      CopyText(s.Directory, dir);
      CopyText(o.LogName, "table.log");
    });
  }
  std::string LogText() { return nbrtest::ReadFile(logDir.path() / "table.log"); }
  std::vector<uint64_t> HandlesInOrder() {
    std::vector<uint64_t> handles;
    Neighbor r;
    if (!table.CopyFirstNeighbor(r)) return handles;
    handles.push_back(r.selfHandle);
    while (table.CopyNextNeighbor(handles.back(), r)) {
      handles.push_back(r.selfHandle);
      if (handles.size() > 100000) break;
    }
    return handles;
  }

  ManualClock clock{5000};
  FixedZoneFacts facts;
  SettingsStore settings;
  std::mutex logLock;
  TempDir logDir;
  EventLog log;
  NeighborTable table;
};

TEST_F(NeighborTableTest, AppendsInOrderAndChainsHandles) {
  uint64_t a = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  uint64_t b = table.InsertNeighbor(Record(1, 2), kNeighborCdp);
  uint64_t c = table.InsertNeighbor(Record(2, 3), kNeighborLldp);
  ASSERT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_EQ(HandlesInOrder(), (std::vector<uint64_t>{a, b, c}));

  Neighbor r;
  ASSERT_TRUE(table.CopyNeighbor(a, r));
  EXPECT_EQ(r.selfHandle, a);
  EXPECT_EQ(r.nextHandle, b);
  ASSERT_TRUE(table.CopyNeighbor(c, r));
  EXPECT_EQ(r.nextHandle, 0u);
  EXPECT_EQ(FieldText(r.systemName), "peer-3");

  RemoteTableCounters counters = table.Counters();
  EXPECT_EQ(counters.inserts, 3u);
  EXPECT_EQ(counters.deletes, 0u);
  EXPECT_EQ(counters.lastChange, 5000u);
  std::string text = LogText();
  EXPECT_EQ(CountOf(text, " event=lldp "), 2u);
  EXPECT_EQ(CountOf(text, " event=cdp "), 1u);
}

TEST_F(NeighborTableTest, FindsBySourceMacAndPort) {
  table.InsertNeighbor(Record(1, 7), kNeighborLldp);
  uint64_t onPort2 = table.InsertNeighbor(Record(2, 7), kNeighborLldp);
  const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 7};
  const uint8_t other[6] = {0x02, 0, 0, 0, 0, 8};
  std::lock_guard<std::mutex> lock(table.tableLock);
  Neighbor* found = table.FindNeighbor(2, mac);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->selfHandle, onPort2);
  EXPECT_EQ(table.FindNeighbor(3, mac), nullptr);
  EXPECT_EQ(table.FindNeighbor(1, other), nullptr);
  EXPECT_EQ(table.PortNeighborCount(1), 1u);
  EXPECT_EQ(table.PortNeighborCount(3), 0u);
}

TEST_F(NeighborTableTest, RemovingRelinksTheNeighbours) {
  uint64_t a = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  uint64_t b = table.InsertNeighbor(Record(1, 2), kNeighborLldp);
  uint64_t c = table.InsertNeighbor(Record(1, 3), kNeighborLldp);
  clock.Set(6000);
  EXPECT_EQ(table.RemoveNeighbor(b), 1);
  Neighbor r;
  ASSERT_TRUE(table.CopyNeighbor(a, r));
  EXPECT_EQ(r.nextHandle, c);
  EXPECT_EQ(table.RemoveNeighbor(c), 1);
  ASSERT_TRUE(table.CopyNeighbor(a, r));
  EXPECT_EQ(r.nextHandle, 0u);
  EXPECT_EQ(table.RemoveNeighbor(a), 1);
  EXPECT_FALSE(table.CopyFirstNeighbor(r));
  EXPECT_EQ(table.Counters().deletes, 3u);
  EXPECT_EQ(table.Counters().lastChange, 6000u);
}

TEST_F(NeighborTableTest, DeletingTwiceFindsNothingTheSecondTime) {
  uint64_t a = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  EXPECT_EQ(table.RemoveNeighbor(a), 1);
  std::string afterFirst = LogText();
  EXPECT_EQ(table.RemoveNeighbor(a), 0);
  EXPECT_EQ(LogText(), afterFirst);
  EXPECT_EQ(CountOf(afterFirst, " event=expired "), 1u);
  EXPECT_EQ(table.Counters().deletes, 1u);
  EXPECT_EQ(table.RemoveNeighbor(0), 0);
}

TEST_F(NeighborTableTest, StaleHandleStaysAbsentWhenTheSenderReturns) {
  uint64_t first = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  table.RemoveNeighbor(first);
  uint64_t second = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  EXPECT_NE(second, first);
  Neighbor r;
  EXPECT_FALSE(table.CopyNeighbor(first, r));
  EXPECT_FALSE(table.CopyNextNeighbor(first, r));
  EXPECT_EQ(table.RemoveNeighbor(first), 0);
  EXPECT_TRUE(table.CopyNeighbor(second, r));
}

TEST_F(NeighborTableTest, AgesOutOneSecondAfterTtl) {
  table.InsertNeighbor(Record(1, 1, 1000, 120), kNeighborLldp);
  EXPECT_EQ(table.AgeNeighborsAt(1120), 0u);
  EXPECT_EQ(table.Count(), 1u);
  EXPECT_EQ(table.AgeNeighborsAt(1121), 1u);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Counters().deletes, 1u);
  EXPECT_EQ(table.Counters().lastChange, 1121u);
  EXPECT_EQ(CountOf(LogText(), " event=expired "), 1u);
}

TEST_F(NeighborTableTest, RecordLeftWithZeroTtlGoesAtTheNextPass) {
  table.InsertNeighbor(Record(1, 1, 5000, 120), kNeighborLldp);
  {
    std::lock_guard<std::mutex> lock(table.tableLock);
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 1};
    table.FindNeighbor(1, mac)->ttl = 0;  // a TTL 0 frame later refused as malformed
  }
  EXPECT_EQ(table.AgeNeighborsAt(5000), 1u);
}

TEST_F(NeighborTableTest, AgingUsesTheClock) {
  table.InsertNeighbor(Record(1, 1, 1000, 120), kNeighborLldp);
  table.InsertNeighbor(Record(1, 2, 4000, 2000), kNeighborLldp);
  clock.Set(1121);
  table.AgeNeighbors();
  EXPECT_EQ(table.Count(), 1u);
}

TEST_F(NeighborTableTest, ClearingAnEmptyTableChangesNothing) {
  EXPECT_EQ(table.ClearNeighbors(), 0u);
  RemoteTableCounters counters = table.Counters();
  EXPECT_EQ(counters.deletes, 0u);
  EXPECT_EQ(counters.lastChange, 0u);
  EXPECT_TRUE(nbrtest::FileNames(logDir.path()).empty());
}

TEST_F(NeighborTableTest, ClearingRemovesAndLogsEveryRecord) {
  for (uint8_t i = 1; i <= 3; ++i) table.InsertNeighbor(Record(1, i), kNeighborLldp);
  clock.Set(7000);
  EXPECT_EQ(table.ClearNeighbors(), 3u);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Counters().deletes, 3u);
  EXPECT_EQ(table.Counters().lastChange, 7000u);
  EXPECT_EQ(CountOf(LogText(), " event=expired "), 3u);
}

TEST_F(NeighborTableTest, FullPortRefusesNewSendersWithoutALogLine) {
  EXPECT_NE(table.InsertNeighbor(Record(1, 1), kNeighborLldp, 2), 0u);
  EXPECT_NE(table.InsertNeighbor(Record(1, 2), kNeighborLldp, 2), 0u);
  std::string before = LogText();
  EXPECT_EQ(table.InsertNeighbor(Record(1, 3), kNeighborLldp, 2), 0u);
  EXPECT_EQ(LogText(), before);
  EXPECT_NE(table.InsertNeighbor(Record(2, 3), kNeighborLldp, 2), 0u);
  EXPECT_EQ(table.Counters().inserts, 3u);
  // Room again once one has gone.
  Neighbor first;
  table.CopyFirstNeighbor(first);
  table.RemoveNeighbor(first.selfHandle);
  EXPECT_NE(table.InsertNeighbor(Record(1, 3), kNeighborLldp, 2), 0u);
}

TEST_F(NeighborTableTest, SameSenderInsertedTwiceKeepsOneRecord) {
  uint64_t a = table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  Neighbor again = Record(1, 1);
  CopyText(again.systemName, "renamed");
  EXPECT_EQ(table.InsertNeighbor(again, kNeighborLldp), a);
  EXPECT_EQ(table.Count(), 1u);
  Neighbor r;
  ASSERT_TRUE(table.CopyNeighbor(a, r));
  EXPECT_EQ(FieldText(r.systemName), "renamed");
  EXPECT_EQ(r.selfHandle, a);
  EXPECT_EQ(table.Counters().inserts, 1u);
}

TEST_F(NeighborTableTest, FillsTheFourCountersIntoASettingsImage) {
  table.InsertNeighbor(Record(1, 1), kNeighborLldp);
  table.InsertNeighbor(Record(1, 2), kNeighborLldp);
  clock.Set(9000);
  table.ClearNeighbors();
  table.CountDrop();
  AgentSettings image{};
  image.remTablesAgeouts = 77;
  table.FillCounters(image);
  EXPECT_EQ(image.remTablesInserts, 2u);
  EXPECT_EQ(image.remTablesDeletes, 2u);
  EXPECT_EQ(image.remTablesDrops, 1u);
  EXPECT_EQ(image.remTablesLastChange, 9000u);
  EXPECT_EQ(image.remTablesAgeouts, 77u);
}

TEST_F(NeighborTableTest, WritesTheStartLine) {
  table.InitNeighborTable();
  EXPECT_EQ(CountOf(LogText(), " event=start \n"), 1u);
}

// The indexes must answer as a walk over the list would, whatever mix of
// insertions and removals came before.
TEST_F(NeighborTableTest, IndexesAgreeWithTheListAfterManyChanges) {
  settings.Update([](AgentSettings& s, OutsideSettings&) { s.Log = 0; });
  std::vector<uint64_t> expected;
  std::vector<Neighbor> records;
  for (uint32_t i = 0; i < 3000; ++i) {
    Neighbor r = Record(1 + i % 4, 0);
    r.sourceMac[3] = static_cast<uint8_t>(i >> 8);
    r.sourceMac[4] = static_cast<uint8_t>(i);
    records.push_back(r);
    expected.push_back(table.InsertNeighbor(r, kNeighborLldp));
  }
  std::mt19937 random(12345);
  std::vector<bool> removed(expected.size(), false);
  for (int k = 0; k < 1500; ++k) {
    size_t i = random() % expected.size();
    EXPECT_EQ(table.RemoveNeighbor(expected[i]), removed[i] ? 0 : 1);
    removed[i] = true;
  }
  std::vector<uint64_t> alive;
  for (size_t i = 0; i < expected.size(); ++i)
    if (!removed[i]) alive.push_back(expected[i]);
  EXPECT_EQ(HandlesInOrder(), alive);

  std::lock_guard<std::mutex> lock(table.tableLock);
  size_t perPort[5] = {};
  for (size_t i = 0; i < records.size(); ++i) {
    Neighbor* found = table.FindNeighbor(records[i].localPort, records[i].sourceMac);
    if (removed[i]) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->selfHandle, expected[i]);
      ++perPort[records[i].localPort];
    }
  }
  for (uint32_t p = 1; p <= 4; ++p) EXPECT_EQ(table.PortNeighborCount(p), perPort[p]);
}

TEST_F(NeighborTableTest, SendersThatLeftAndCameBackAreFoundAgain) {
  settings.Update([](AgentSettings& s, OutsideSettings&) { s.Log = 0; });
  std::vector<Neighbor> records;
  std::vector<uint64_t> handles;
  for (uint32_t i = 0; i < 2000; ++i) {
    Neighbor r = Record(1 + i % 3, static_cast<uint8_t>(i));
    r.sourceMac[4] = static_cast<uint8_t>(i >> 8);
    records.push_back(r);
    handles.push_back(table.InsertNeighbor(r, kNeighborLldp));
  }
  std::mt19937 random(777);
  for (int round = 0; round < 5; ++round) {
    for (int k = 0; k < 700; ++k) {
      size_t i = random() % records.size();
      if (handles[i]) {
        table.RemoveNeighbor(handles[i]);
        handles[i] = 0;
      } else {
        handles[i] = table.InsertNeighbor(records[i], kNeighborLldp);
      }
    }
    std::lock_guard<std::mutex> lock(table.tableLock);
    for (size_t i = 0; i < records.size(); ++i) {
      Neighbor* found = table.FindNeighbor(records[i].localPort, records[i].sourceMac);
      ASSERT_EQ(found ? found->selfHandle : 0u, handles[i]) << "round " << round << " record " << i;
    }
  }
}

}  // namespace
}  // namespace torvane
