// A stand-in for the agent at the other end of the query pipe: its settings,
// ports, addresses and neighbours in memory, answering the requests the
// subagent sends as the agent does (including what the agent does not keep),
// and able to be down, to hang, or to refuse writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nbrmib/mib_pipe.h"
#include "nbrmib/snmp_extension.h"
#include "records/pipe_records.h"

namespace torvane::mibtest {

class FakeAgent : public MibTransport {
 public:
  enum class State { kUp, kDown, kHung };

  FakeAgent();
  long Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                bool& timedOut) override;

  // Two ports, two addresses, three neighbours as Populate() makes them:
  //   port 1 (MAC 02:00:00:00:00:01), port 2; 10.1.0.5 on port 1, 192.168.7.1 on port 2;
  //   neighbour 1 on port 1 with addresses 10.9.0.20 and 10.9.0.3 (in that order),
  //   neighbour 2 on port 1 with none, neighbour 3 on port 2 with 10.9.1.1;
  //   all discovered at time 1000, before the subagent's start.
  void Populate();

  State state = State::kUp;
  bool refusePortWrites = false;
  AgentSettings settings{};
  std::vector<LocalPortRecord> ports;
  std::vector<AddressEntry> addresses;
  std::vector<Neighbor> neighbors;  // in list order: position k is neighbors[k - 1]

  int transactions = 0;
  std::vector<uint32_t> writes;  // the codes of write requests, in order

 private:
  size_t Handle(uint8_t* message, size_t length);
};

// A binding list the test owns and frees.
class Bindings {
 public:
  explicit Bindings(std::vector<std::vector<UINT>> names);
  ~Bindings();
  Bindings(const Bindings&) = delete;
  Bindings& operator=(const Bindings&) = delete;

  SnmpVarBindList* list() { return &list_; }
  SnmpVarBind& operator[](size_t i) { return binds_[i]; }
  std::vector<UINT> Name(size_t i) const;
  void SetInteger(size_t i, AsnInteger32 value);
  void SetOctets(size_t i, const std::vector<uint8_t>& bytes);

 private:
  std::vector<SnmpVarBind> binds_;
  SnmpVarBindList list_{};
};

// 1.0.8802.1.1.2.1 followed by `suffix`.
std::vector<UINT> Lldp(std::vector<UINT> suffix);
std::string OidText(const std::vector<UINT>& name);
std::vector<uint8_t> OctetsOf(const SnmpVarBind& vb);

}  // namespace torvane::mibtest
