// Every neighbour heard, per port, in the order first heard. Receive threads look
// records up, refresh them in place, insert and remove them; the worker ages them
// out; pipe clients copy, list, clear and delete them. tableLock guards the list,
// every record in it and the four remote-table counters.
//
// Records are named by handles: 64-bit sequence numbers, non-zero and never
// reused, so a handle that a client kept after its record went is simply absent.
// The list keeps insertion order; lookups by (port, source MAC) and by handle go
// through hash indexes but give what a linear search in list order would, since a
// key is held by at most one record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "agent/store/worker_interfaces.h"
#include "agent/store/event_log.h"
#include "records/neighbor.h"
#include "platform/clock.h"

namespace torvane {

enum NeighborKind : int { kNeighborLldp = kLogLldp, kNeighborCdp = kLogCdp };

struct RemoteTableCounters {
  uint32_t lastChange = 0;
  uint32_t inserts = 0;
  uint32_t deletes = 0;
  uint32_t drops = 0;
};

class NeighborTable : public NeighborService {
 public:
  NeighborTable(EventLog& log, Clock& clock);
  ~NeighborTable() override;
  NeighborTable(const NeighborTable&) = delete;
  NeighborTable& operator=(const NeighborTable&) = delete;

  // Guards the list, the records and the counters. Taken before logLock, never
  // while holding it.
  std::mutex tableLock;

  // Writes the start line of the event log (the locks exist with the table).
  void InitNeighborTable() override;
  // Removes every record whose ttl is 0 or whose lastUpdate + ttl (32-bit
  // arithmetic) is below the current time, logging each.
  void AgeNeighbors() override;
  // The same for a given time; returns how many records went.
  size_t AgeNeighborsAt(uint32_t now);

  // The record for (port, source MAC), or null. Caller holds tableLock; the
  // record stays valid until the lock is released.
  Neighbor* FindNeighbor(uint32_t localPort, const uint8_t sourceMac[6]);
  // Number of records heard on a port. Caller holds tableLock.
  size_t PortNeighborCount(uint32_t localPort) const;
  // Calls f(record, position) for each record in list order, positions from 1,
  // until f returns false. Caller holds tableLock (the pipe's walks by position
  // and by time mark see one consistent list).
  template <class F>
  void ForEachNeighborLocked(F&& f) const {
    uint32_t position = 1;
    for (const Node* n = head_; n; n = n->next, ++position)
      if (!f(n->record, position)) return;
  }

  // Logs the record as new (kind kNeighborLldp or kNeighborCdp), then appends a
  // copy at the tail under tableLock and counts it. The copy gets a fresh handle
  // in selfHandle. Returns that handle, or 0 when nothing was inserted: no memory,
  // or the record's port already holds maxPerPort records (neither is logged). A
  // record whose key is already in the table refreshes that record in place
  // instead and returns its handle. Caller does not hold tableLock.
  uint64_t InsertNeighbor(const Neighbor& record, int kind, size_t maxPerPort = SIZE_MAX);
  // Removes the record with this handle, logging it; 0 when it is not in the table
  // (nothing logged or counted). Caller does not hold tableLock.
  int RemoveNeighbor(uint64_t handle);
  // Removes every record from the head on, logging each; returns how many.
  size_t ClearNeighbors();

  // Counters, taken under tableLock.
  void CountDrop();
  void CountDropLocked() { ++counters_.drops; }  // caller holds tableLock
  RemoteTableCounters Counters();
  // Fills the four counters into a settings image (pipe codes 1 and 2); the
  // fifth slot, remTablesAgeouts, stays as it is.
  void FillCounters(AgentSettings& settings);

  // Copies for the pipe, each under tableLock; 0 when there is no such record.
  int CopyNeighbor(uint64_t handle, Neighbor& out);
  int CopyFirstNeighbor(Neighbor& out);
  // The record after `handle` in list order; 0 when handle is absent or last.
  int CopyNextNeighbor(uint64_t handle, Neighbor& out);
  size_t Count();

 private:
  struct Node {
    Neighbor record;
    Node* prev = nullptr;
    Node* next = nullptr;
  };
  struct Key {
    uint32_t port;
    uint64_t mac;  // six octets, first in the low byte
    bool operator==(const Key&) const = default;
  };
  static Key KeyOf(uint32_t port, const uint8_t mac[6]) {
    uint64_t m = 0;
    for (int i = 5; i >= 0; --i) m = (m << 8) | mac[i];
    return Key{port, m};
  }

  // (port, MAC) to record: open addressing with linear probing in one flat
  // array, so that a lookup among many neighbours costs one or two cache misses
  // before the record itself. Deletion shifts the following entries back, so no
  // tombstones build up as neighbours come and go.
  class KeyIndex {
   public:
    Node* Find(const Key& key) const;
    bool Insert(const Key& key, Node* node);  // false when out of memory
    void Erase(const Key& key);
    bool Contains(const Key& key) const { return Find(key) != nullptr; }

   private:
    struct Slot {
      uint64_t mac = 0;
      uint32_t port = 0;
      Node* node = nullptr;  // null: empty slot
    };
    static size_t Hash(const Key& key);
    bool Grow();
    std::vector<Slot> slots_;
    size_t used_ = 0;
  };

  // All under tableLock.
  Node* FindNode(uint64_t handle);
  void Unlink(Node* node);
  void Append(Node* node);
  // Logs the record as expired, unlinks and frees it, counts the removal.
  void RemoveLocked(Node* node, uint32_t now);

  EventLog& log_;
  Clock& clock_;
  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  size_t count_ = 0;
  uint64_t nextSequence_ = 1;
  std::unordered_map<uint64_t, Node*> byHandle_;
  KeyIndex byKey_;
  std::unordered_map<uint32_t, size_t> perPort_;
  RemoteTableCounters counters_;
};

}  // namespace torvane
