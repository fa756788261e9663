#include "agent/store/neighbor_table.h"

#include <new>

namespace torvane {

NeighborTable::NeighborTable(EventLog& log, Clock& clock) : log_(log), clock_(clock) {}

NeighborTable::~NeighborTable() {
  Node* node = head_;
  while (node) {
    Node* next = node->next;
    delete node;
    node = next;
  }
}

void NeighborTable::InitNeighborTable() { log_.LogEvent(nullptr, 0); }

void NeighborTable::AgeNeighbors() { AgeNeighborsAt(clock_.Now()); }

size_t NeighborTable::AgeNeighborsAt(uint32_t now) {
  std::lock_guard<std::mutex> lock(tableLock);
  size_t removed = 0;
  Node* node = head_;
  while (node) {
    Node* next = node->next;
    const Neighbor& r = node->record;
    if (r.ttl == 0 || static_cast<uint32_t>(r.lastUpdate + r.ttl) < now) {
      RemoveLocked(node, now);
      ++removed;
    }
    node = next;
  }
  return removed;
}

Neighbor* NeighborTable::FindNeighbor(uint32_t localPort, const uint8_t sourceMac[6]) {
  Node* node = byKey_.Find(KeyOf(localPort, sourceMac));
  return node ? &node->record : nullptr;
}

size_t NeighborTable::PortNeighborCount(uint32_t localPort) const {
  auto it = perPort_.find(localPort);
  return it == perPort_.end() ? 0 : it->second;
}

uint64_t NeighborTable::InsertNeighbor(const Neighbor& record, int kind, size_t maxPerPort) {
  const Key key = KeyOf(record.localPort, record.sourceMac);
  // Refused senders write no log line, so the cap is tested before logging; the
  // receive thread of a port is the only one inserting for it, so the answer
  // still holds when the lock is taken again below.
  {
    std::lock_guard<std::mutex> lock(tableLock);
    if (!byKey_.Contains(key) && PortNeighborCount(record.localPort) >= maxPerPort) return 0;
  }
  Node* node = new (std::nothrow) Node;
  if (!node) return 0;
  node->record = record;

  log_.LogEvent(&node->record, kind);

  std::lock_guard<std::mutex> lock(tableLock);
  if (Node* existing = byKey_.Find(key)) {
    // Another thread stored the same sender meanwhile: keep one record per key.
    Neighbor& r = existing->record;
    uint64_t self = r.selfHandle, next = r.nextHandle;
    r = record;
    r.selfHandle = self;
    r.nextHandle = next;
    delete node;
    return self;
  }
  if (PortNeighborCount(record.localPort) >= maxPerPort) {
    delete node;
    return 0;
  }
  uint64_t handle = nextSequence_++;
  node->record.selfHandle = handle;
  node->record.nextHandle = 0;
  // The indexes allocate too; out of memory there, the record is dropped like
  // one whose own allocation failed, and nothing is left half indexed.
  if (!byKey_.Insert(key, node)) {
    delete node;
    return 0;
  }
  try {
    auto h = byHandle_.emplace(handle, node).first;
    try {
      ++perPort_[record.localPort];
    } catch (...) {
      byHandle_.erase(h);
      throw;
    }
  } catch (const std::bad_alloc&) {
    byKey_.Erase(key);
    delete node;
    return 0;
  }
  Append(node);
  ++counters_.inserts;
  counters_.lastChange = clock_.Now();
  return handle;
}

int NeighborTable::RemoveNeighbor(uint64_t handle) {
  std::lock_guard<std::mutex> lock(tableLock);
  Node* node = FindNode(handle);
  if (!node) return 0;
  RemoveLocked(node, clock_.Now());
  return 1;
}

size_t NeighborTable::ClearNeighbors() {
  std::lock_guard<std::mutex> lock(tableLock);
  size_t removed = 0;
  if (!head_) return 0;
  uint32_t now = clock_.Now();
  while (head_) {
    RemoveLocked(head_, now);
    ++removed;
  }
  return removed;
}

void NeighborTable::CountDrop() {
  std::lock_guard<std::mutex> lock(tableLock);
  ++counters_.drops;
}

RemoteTableCounters NeighborTable::Counters() {
  std::lock_guard<std::mutex> lock(tableLock);
  return counters_;
}

void NeighborTable::FillCounters(AgentSettings& settings) {
  std::lock_guard<std::mutex> lock(tableLock);
  settings.remTablesLastChange = counters_.lastChange;
  settings.remTablesInserts = counters_.inserts;
  settings.remTablesDeletes = counters_.deletes;
  settings.remTablesDrops = counters_.drops;
}

int NeighborTable::CopyNeighbor(uint64_t handle, Neighbor& out) {
  std::lock_guard<std::mutex> lock(tableLock);
  Node* node = FindNode(handle);
  if (!node) return 0;
  out = node->record;
  return 1;
}

int NeighborTable::CopyFirstNeighbor(Neighbor& out) {
  std::lock_guard<std::mutex> lock(tableLock);
  if (!head_) return 0;
  out = head_->record;
  return 1;
}

int NeighborTable::CopyNextNeighbor(uint64_t handle, Neighbor& out) {
  std::lock_guard<std::mutex> lock(tableLock);
  Node* node = FindNode(handle);
  if (!node || !node->next) return 0;
  out = node->next->record;
  return 1;
}

size_t NeighborTable::Count() {
  std::lock_guard<std::mutex> lock(tableLock);
  return count_;
}

NeighborTable::Node* NeighborTable::FindNode(uint64_t handle) {
  if (handle == 0) return nullptr;
  auto it = byHandle_.find(handle);
  return it == byHandle_.end() ? nullptr : it->second;
}

void NeighborTable::Append(Node* node) {
  node->prev = tail_;
  node->next = nullptr;
  if (tail_) {
    tail_->next = node;
    tail_->record.nextHandle = node->record.selfHandle;
  } else {
    head_ = node;
  }
  tail_ = node;
  ++count_;
}

void NeighborTable::Unlink(Node* node) {
  if (node->prev) {
    node->prev->next = node->next;
    node->prev->record.nextHandle = node->next ? node->next->record.selfHandle : 0;
  } else {
    head_ = node->next;
  }
  if (node->next)
    node->next->prev = node->prev;
  else
    tail_ = node->prev;
  --count_;
}

void NeighborTable::RemoveLocked(Node* node, uint32_t now) {
  log_.LogEvent(&node->record, kLogExpired);
  Unlink(node);
  byHandle_.erase(node->record.selfHandle);
  byKey_.Erase(KeyOf(node->record.localPort, node->record.sourceMac));
  auto port = perPort_.find(node->record.localPort);
  if (port != perPort_.end() && --port->second == 0) perPort_.erase(port);
  ++counters_.deletes;
  counters_.lastChange = now;
  delete node;
}

size_t NeighborTable::KeyIndex::Hash(const Key& key) {
  uint64_t h = key.mac ^ (uint64_t{key.port} << 48) ^ (uint64_t{key.port} >> 16);
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<size_t>(h);
}

NeighborTable::Node* NeighborTable::KeyIndex::Find(const Key& key) const {
  if (slots_.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.node) return nullptr;
    if (s.mac == key.mac && s.port == key.port) return s.node;
  }
}

bool NeighborTable::KeyIndex::Grow() {
  std::vector<Slot> old;
  try {
    std::vector<Slot> bigger(slots_.empty() ? 64 : slots_.size() * 2);
    old.swap(slots_);
    slots_.swap(bigger);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.node) continue;
    size_t i = Hash(Key{s.port, s.mac}) & mask;
    while (slots_[i].node) i = (i + 1) & mask;
    slots_[i] = s;
  }
  return true;
}

bool NeighborTable::KeyIndex::Insert(const Key& key, Node* node) {
  // Kept at most half full, so probe runs stay short.
  if ((used_ + 1) * 2 > slots_.size() && !Grow()) return false;
  const size_t mask = slots_.size() - 1;
  size_t i = Hash(key) & mask;
  while (slots_[i].node) {
    if (slots_[i].mac == key.mac && slots_[i].port == key.port) {
      slots_[i].node = node;
      return true;
    }
    i = (i + 1) & mask;
  }
  slots_[i] = Slot{key.mac, key.port, node};
  ++used_;
  return true;
}

void NeighborTable::KeyIndex::Erase(const Key& key) {
  if (slots_.empty()) return;
  const size_t mask = slots_.size() - 1;
  size_t i = Hash(key) & mask;
  while (slots_[i].node && !(slots_[i].mac == key.mac && slots_[i].port == key.port))
    i = (i + 1) & mask;
  if (!slots_[i].node) return;
  // Backward shift: move later entries of the run into the hole when their home
  // slot does not lie between the hole and them.
  size_t hole = i;
  for (size_t j = (hole + 1) & mask; slots_[j].node; j = (j + 1) & mask) {
    size_t home = Hash(Key{slots_[j].port, slots_[j].mac}) & mask;
    bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (stays) continue;
    slots_[hole] = slots_[j];
    hole = j;
  }
  slots_[hole] = Slot{};
  --used_;
}

}  // namespace torvane
