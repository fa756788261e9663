// Why a binding failed, finer than the extension's SNMPv1 status, so that a host
// speaking SNMPv2 can answer the right error. Shared by the library and its hosts;
// it includes neither the extension interface nor net-snmp.
#pragma once

namespace torvane {

enum class MibErrorReason : int {
  kNone = 0,
  kNoEntry = 1,      // no served object covers the name
  kNoInstance = 2,   // the object exists, the instance does not (or no agent)
  kNotWritable = 3,  // the object may not be written
  kWrongType = 4,    // the value's type is not the object's
  kWrongLength = 5,  // a string longer than the object holds
  kWrongValue = 6,   // a number outside the object's range
  kGeneral = 7,      // the agent failed, refused or did not keep a value
};

}  // namespace torvane
