#include "agent/link/packet_membership.h"

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cstring>

#include "agent/link/packet_backend.h"

namespace torvane {

bool PacketMemberships::Change(bool add, int type, const uint8_t* address) {
  if (fd_ < 0) return false;
  packet_mreq mreq{};
  mreq.mr_ifindex = ifIndex_;
  mreq.mr_type = static_cast<unsigned short>(type);
  if (address) {
    mreq.mr_alen = 6;
    std::memcpy(mreq.mr_address, address, 6);
  }
  return setsockopt(fd_, SOL_PACKET, add ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &mreq,
                    sizeof mreq) == 0;
}

bool PacketMemberships::JoinList(bool add) {
  bool ok = true;
  for (size_t i = 0; i < count_; ++i) ok = Change(add, PACKET_MR_MULTICAST, list_[i]) && ok;
  listJoined_ = add;
  return ok;
}

bool PacketMemberships::SetList(const uint8_t* list, size_t bytes) {
  if (fd_ < 0 || (bytes && !list) || bytes % 6 != 0 || bytes / 6 > kMaxAddresses) return false;
  bool rejoin = listJoined_ || listWanted_;
  if (listJoined_) JoinList(false);
  count_ = bytes / 6;
  for (size_t i = 0; i < count_; ++i) std::memcpy(list_[i], list + 6 * i, 6);
  if (!rejoin) return true;
  bool ok = JoinList(true);
  if (!ok) JoinList(false);  // a list the device refuses is not left half joined
  return ok;
}

bool PacketMemberships::SetFilter(uint32_t filter) {
  bool ok = true;
  bool promisc = (filter & kFilterPromiscuous) != 0;
  bool allMulti = (filter & kFilterAllMulticast) != 0;
  listWanted_ = (filter & kFilterMulticast) != 0;
  if (promisc != promisc_) {
    if (Change(promisc, PACKET_MR_PROMISC, nullptr))
      promisc_ = promisc;
    else
      ok = false;
  }
  if (allMulti != allMulti_) {
    if (Change(allMulti, PACKET_MR_ALLMULTI, nullptr))
      allMulti_ = allMulti;
    else
      ok = false;
  }
  if (listWanted_ != listJoined_) ok = JoinList(listWanted_) && ok;
  return ok;
}

void PacketMemberships::Clear() {
  if (listJoined_) JoinList(false);
  if (promisc_) Change(false, PACKET_MR_PROMISC, nullptr);
  if (allMulti_) Change(false, PACKET_MR_ALLMULTI, nullptr);
  promisc_ = allMulti_ = false;
  count_ = 0;
}

}  // namespace torvane
