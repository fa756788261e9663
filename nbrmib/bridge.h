// The bridge between net-snmp's agent and an extension library's exports, shared
// by both hosts: the AgentX subagent program and the library's own entry for
// snmpd's dlmod. Its two halves meet in the plain records below, because
// net-snmp's headers and the extension interface cannot share a translation unit
// (both name their type codes ASN_INTEGER and more, with different meanings).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nbrmib/error_reason.h"

namespace torvane {

// A value with its BER type tag (0x02 INTEGER, 0x04 OCTET STRING, 0x05 NULL, 0x06
// OBJECT IDENTIFIER, 0x40 IpAddress, 0x41 Counter32, 0x42 Gauge32, 0x43 TimeTicks,
// 0x44 Opaque, 0x46 Counter64, 0x47 Unsigned32).
struct BridgeValue {
  uint8_t type = 0x05;
  int64_t number = 0;            // INTEGER signed; the unsigned types as they are
  std::vector<uint8_t> bytes;    // OCTET STRING, IpAddress, Opaque
  std::vector<uint32_t> oid;     // OBJECT IDENTIFIER
};

struct BridgeBinding {
  std::vector<uint32_t> name;
  BridgeValue value;
};

enum class BridgeRequest : uint8_t { kGet, kGetNext, kSet };

struct BridgeResult {
  int status = 0;  // the extension's SNMPv1 status
  int index = 0;   // 1-based binding of the error
  MibErrorReason reason = MibErrorReason::kNone;
};

// An extension library as the host sees it.
class Extension {
 public:
  virtual ~Extension() = default;
  // Runs the library's initialisation; the view it serves, or false.
  virtual bool Init(std::vector<uint32_t>& view) = 0;
  // One query over the bindings, which receive the answers (names and values).
  virtual BridgeResult Query(BridgeRequest request, std::vector<BridgeBinding>& bindings) = 0;
  // A new SNMP request begins (a GETBULK is one request over many queries).
  virtual void BeginRequest() = 0;
  // The SET that the last query made is kept, or undone.
  virtual void EndSet(bool undo) = 0;
};

// Loads the library at `path` (a bare name is searched for as dlopen does) and
// binds its exports; null with `error` set when that fails.
std::unique_ptr<Extension> LoadExtension(const std::string& path, std::string& error);
// The exports of the library this code is linked into (the dlmod host).
std::unique_ptr<Extension> InProcessExtension();

// Registers the extension's view with net-snmp's agent (snmpd itself, or a
// subagent) and serves it through the extension from then on. False when the
// extension does not initialise or the registration fails.
bool RegisterBridge(std::unique_ptr<Extension> extension, const char* name);
// Initialises the registered extension again (a subagent does so each time it
// registers with a new master, so that its times start with the master's).
void ReinitBridge();
void UnregisterBridge();

}  // namespace torvane
