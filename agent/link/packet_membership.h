// The hardware packet filter and multicast list of an adapter, as packet-socket
// memberships: each address of the list, all-multicast and promiscuous reception
// are memberships of one socket, counted by the kernel per device and released
// when the socket closes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane {

class PacketMemberships {
 public:
  static constexpr size_t kMaxAddresses = 20;

  // `fd` is a packet socket, `ifIndex` the device its memberships apply to.
  void Attach(int fd, int ifIndex) {
    fd_ = fd;
    ifIndex_ = ifIndex;
  }
  // Replaces the multicast list (whole 6-byte addresses, at most 20). The new
  // addresses are joined at once when the filter admits the list.
  bool SetList(const uint8_t* list, size_t bytes);
  // Makes the memberships what the NDIS filter bits ask: promiscuous, all
  // multicast, the list (multicast bit). Directed and broadcast frames need none.
  bool SetFilter(uint32_t filter);
  // Drops every membership this socket holds.
  void Clear();

  size_t listCount() const { return count_; }
  bool promiscuous() const { return promisc_; }
  bool allMulticast() const { return allMulti_; }
  bool listJoined() const { return listJoined_; }

 private:
  bool Change(bool add, int type, const uint8_t* address);
  bool JoinList(bool add);

  int fd_ = -1;
  int ifIndex_ = 0;
  uint8_t list_[kMaxAddresses][6] = {};
  size_t count_ = 0;
  bool listJoined_ = false;
  bool listWanted_ = true;  // until a filter says otherwise, a new list is joined
  bool promisc_ = false;
  bool allMulti_ = false;
};

}  // namespace torvane
