#include "agent/state/port.h"

namespace torvane {

void Port::Reset() {
  number = 0;
  {
    std::lock_guard<std::mutex> lock(textLock);
    std::memset(deviceName, 0, sizeof deviceName);
    std::memset(description, 0, sizeof description);
    std::memset(connectionName, 0, sizeof connectionName);
  }
  macAddress.store(Mac{});
  adminStatus = 0;
  tlvsTxEnable = 0;
  linkSpeed = 0;
  duplex = 0;
  autoNeg = 0;
  packetFilter = 0;
  multicastListLen = 0;
  vlanId = 0;
  maxFrameSize = 0;
  mediaSupported = 0;
  ifType = 0;
  mauType = 0;
  medActive = 0;
  fastStartCount = 0;
  medEndpointSeen = 0;
  state = kPortClosed;
  linkStatus = kLinkUnknown;
  queryMode = 0;
  ifIndex = 0;
  cdpSeen = 0;
  sendFailures = 0;
  receiverState = kReceiverStopped;
  link = nullptr;
}

}  // namespace torvane
