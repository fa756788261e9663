#include "tests/support/frames/settings_fixture.h"

#include <cstring>

#include "common/text.h"

namespace torvane {

AgentSettings DefaultSettingsForTest() {
  AgentSettings s{};
  s.txInterval = 30;
  s.txHoldMultiplier = 4;
  s.ReinitDelay = 2;
  s.txDelay = 2;
  s.NotificationInterval = 5;
  s.txCname = 0;
  s.txPname = 0;
  s.txPIDname = 0;
  s.chassisIdSubtype = 7;
  static constexpr char kChassis[] = "Wq3Kvxqz";
  s.chassisId.length = sizeof kChassis - 1;
  std::memcpy(s.chassisId.bytes, kChassis, sizeof kChassis - 1);
  CopyText(s.systemName, "host1");
  CopyText(s.systemDescription, "x86_64 - Linux 6.1");
  s.CapSupported = 128;
  s.CapEnabled = 128;
  s.MedFastStartRepeatCount = 4;
  s.MedDevType = 0;
  for (auto& policy : s.MedPolicy) policy = 0x8000;
  s.MedPowerState = 0;
  s.MedPowerValue = 0;
  s.adminStatusDefault = 3;  // txLLDP 1, rxLLDP 1
  s.rxCdp = 1;
  s.txCdp = 3;
  s.ioctl = 7;
  s.Duplex = 1;
  s.ieee80211 = 71;
  s.Packet = 0;
  s.Log = 0;
  return s;
}

}  // namespace torvane
