// The net-snmp side of the bridge: the handler registered for the extension's
// view, turning each request of net-snmp's agent into one extension query and
// the answers back into varbinds and SNMPv2 errors.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "nbrmib/bridge.h"

namespace torvane {

namespace {

struct BridgeState {
  std::unique_ptr<Extension> extension;
  std::vector<uint32_t> view;
  std::vector<uint32_t> viewEnd;  // the view with its last sub-identifier + 1
  netsnmp_handler_registration* registration = nullptr;
  // The request last seen, so that the extension hears of each new one once.
  const void* lastSession = nullptr;
  long lastRequestId = -1;
  long lastTransactionId = -1;
};

BridgeState& State() {
  static BridgeState state;
  return state;
}

std::vector<uint32_t> NameOf(const netsnmp_variable_list* vb) {
  std::vector<uint32_t> name(vb->name_length);
  for (size_t i = 0; i < vb->name_length; ++i) name[i] = static_cast<uint32_t>(vb->name[i]);
  return name;
}

BridgeValue ValueOf(const netsnmp_variable_list* vb) {
  BridgeValue v;
  v.type = vb->type;
  switch (vb->type) {
    case ASN_INTEGER:
      if (vb->val.integer) v.number = *vb->val.integer;
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
      if (vb->val.integer) v.number = static_cast<int64_t>(static_cast<uint32_t>(*vb->val.integer));
      break;
    case ASN_COUNTER64:
      if (vb->val.counter64)
        v.number = static_cast<int64_t>((uint64_t{vb->val.counter64->high} << 32) | vb->val.counter64->low);
      break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
      if (vb->val.string) v.bytes.assign(vb->val.string, vb->val.string + vb->val_len);
      break;
    case ASN_OBJECT_ID:
      if (vb->val.objid)
        for (size_t i = 0; i < vb->val_len / sizeof(oid); ++i) v.oid.push_back(static_cast<uint32_t>(vb->val.objid[i]));
      break;
    default:
      v.type = ASN_NULL;
      break;
  }
  return v;
}

bool SetValue(netsnmp_variable_list* vb, const BridgeValue& v) {
  switch (v.type) {
    case ASN_INTEGER: {
      long n = static_cast<long>(static_cast<int32_t>(v.number));
      return snmp_set_var_typed_value(vb, v.type, &n, sizeof n) == 0;
    }
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER: {
      u_long n = static_cast<uint32_t>(v.number);
      return snmp_set_var_typed_value(vb, v.type, &n, sizeof n) == 0;
    }
    case ASN_COUNTER64: {
      counter64 c{};
      c.high = static_cast<u_long>(static_cast<uint64_t>(v.number) >> 32);
      c.low = static_cast<u_long>(static_cast<uint64_t>(v.number) & 0xFFFFFFFFu);
      return snmp_set_var_typed_value(vb, v.type, &c, sizeof c) == 0;
    }
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
      return snmp_set_var_typed_value(vb, v.type, v.bytes.data(), v.bytes.size()) == 0;
    case ASN_OBJECT_ID: {
      std::vector<oid> ids(v.oid.begin(), v.oid.end());
      return snmp_set_var_typed_value(vb, v.type, ids.data(), ids.size() * sizeof(oid)) == 0;
    }
    default:
      return false;
  }
}

bool SetName(netsnmp_variable_list* vb, const std::vector<uint32_t>& name) {
  if (name.empty() || name.size() > MAX_OID_LEN) return false;
  std::vector<oid> ids(name.begin(), name.end());
  return snmp_set_var_objid(vb, ids.data(), ids.size()) == 0;
}

std::vector<netsnmp_request_info*> Collect(netsnmp_request_info* requests) {
  std::vector<netsnmp_request_info*> out;
  for (netsnmp_request_info* r = requests; r; r = r->next)
    if (!r->processed) out.push_back(r);
  return out;
}

void NoteRequest(BridgeState& s, netsnmp_agent_request_info* reqinfo) {
  const void* session = reqinfo->asp;
  long requestId = reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->reqid : -1;
  long transactionId = reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->transid : -1;
  if (session == s.lastSession && requestId == s.lastRequestId && transactionId == s.lastTransactionId) return;
  s.lastSession = session;
  s.lastRequestId = requestId;
  s.lastTransactionId = transactionId;
  s.extension->BeginRequest();
}

// The failing binding of a result, or -1 when the index names none.
int FailingBinding(const BridgeResult& r, size_t count) {
  if (r.index < 1 || static_cast<size_t>(r.index) > count) return -1;
  return r.index - 1;
}

void Get(BridgeState& s, netsnmp_agent_request_info* reqinfo, const std::vector<netsnmp_request_info*>& requests) {
  size_t from = 0;
  // A binding that does not exist is an exception in its varbind, not an error
  // of the whole request: the query goes on after it.
  while (from < requests.size()) {
    std::vector<BridgeBinding> bindings(requests.size() - from);
    for (size_t i = 0; i < bindings.size(); ++i) bindings[i].name = NameOf(requests[from + i]->requestvb);
    BridgeResult r = s.extension->Query(BridgeRequest::kGet, bindings);
    size_t answered = bindings.size();
    int failing = -1;
    if (r.status != 0) {
      failing = FailingBinding(r, bindings.size());
      answered = failing < 0 ? 0 : static_cast<size_t>(failing);
    }
    for (size_t i = 0; i < answered; ++i) {
      if (!SetValue(requests[from + i]->requestvb, bindings[i].value))
        netsnmp_set_request_error(reqinfo, requests[from + i], SNMP_ERR_GENERR);
    }
    if (r.status == 0) return;
    if (failing < 0) {
      netsnmp_set_request_error(reqinfo, requests[from], SNMP_ERR_GENERR);
      return;
    }
    netsnmp_request_info* bad = requests[from + failing];
    if (r.status == 2) {
      netsnmp_set_request_error(reqinfo, bad,
                                r.reason == MibErrorReason::kNoEntry ? SNMP_NOSUCHOBJECT : SNMP_NOSUCHINSTANCE);
      from += failing + 1;
      continue;
    }
    netsnmp_set_request_error(reqinfo, bad, SNMP_ERR_GENERR);
    return;
  }
}

// request < answer < end of the view, compared as identifiers.
bool AnswerInRange(const std::vector<uint32_t>& request, const std::vector<uint32_t>& answer,
                   const std::vector<uint32_t>& end) {
  return std::lexicographical_compare(request.begin(), request.end(), answer.begin(), answer.end()) &&
         std::lexicographical_compare(answer.begin(), answer.end(), end.begin(), end.end());
}

void GetNext(BridgeState& s, netsnmp_agent_request_info* reqinfo,
             const std::vector<netsnmp_request_info*>& requests) {
  std::vector<BridgeBinding> bindings(requests.size());
  std::vector<std::vector<uint32_t>> asked(requests.size());
  for (size_t i = 0; i < bindings.size(); ++i) {
    asked[i] = NameOf(requests[i]->requestvb);
    bindings[i].name = asked[i];
  }
  BridgeResult r = s.extension->Query(BridgeRequest::kGetNext, bindings);
  size_t answered = bindings.size();
  if (r.status != 0) {
    int failing = FailingBinding(r, bindings.size());
    answered = failing < 0 ? 0 : static_cast<size_t>(failing);
    netsnmp_set_request_error(reqinfo, requests[failing < 0 ? 0 : failing], SNMP_ERR_GENERR);
  }
  for (size_t i = 0; i < answered; ++i) {
    // snmpd checks only that an answer is not past the registration; one that
    // does not move forward, and the extension's end-of-view answer, leave the
    // varbind as it came, and snmpd asks the next registration instead.
    if (!AnswerInRange(asked[i], bindings[i].name, s.viewEnd)) continue;
    netsnmp_variable_list* vb = requests[i]->requestvb;
    if (!SetName(vb, bindings[i].name) || !SetValue(vb, bindings[i].value))
      netsnmp_set_request_error(reqinfo, requests[i], SNMP_ERR_GENERR);
  }
}

int SetError(const BridgeResult& r) {
  switch (r.status) {
    case 2:
      return r.reason == MibErrorReason::kNoEntry ? SNMP_ERR_NOCREATION : SNMP_ERR_NOTWRITABLE;
    case 3:
      if (r.reason == MibErrorReason::kWrongType) return SNMP_ERR_WRONGTYPE;
      if (r.reason == MibErrorReason::kWrongLength) return SNMP_ERR_WRONGLENGTH;
      return SNMP_ERR_WRONGVALUE;
    default:
      return SNMP_ERR_GENERR;
  }
}

void Set(BridgeState& s, netsnmp_agent_request_info* reqinfo, const std::vector<netsnmp_request_info*>& requests) {
  std::vector<BridgeBinding> bindings(requests.size());
  for (size_t i = 0; i < bindings.size(); ++i) {
    bindings[i].name = NameOf(requests[i]->requestvb);
    bindings[i].value = ValueOf(requests[i]->requestvb);
  }
  BridgeResult r = s.extension->Query(BridgeRequest::kSet, bindings);
  if (r.status == 0) return;
  int failing = FailingBinding(r, bindings.size());
  netsnmp_set_request_error(reqinfo, requests[failing < 0 ? 0 : failing], SetError(r));
}

int BridgeHandler(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                  netsnmp_request_info* requests) {
  BridgeState& s = State();
  if (!s.extension) return SNMP_ERR_GENERR;
  NoteRequest(s, reqinfo);
  std::vector<netsnmp_request_info*> list = Collect(requests);
  switch (reqinfo->mode) {
    case MODE_GET:
      Get(s, reqinfo, list);
      break;
    case MODE_GETNEXT:
      GetNext(s, reqinfo, list);
      break;
    case MODE_SET_RESERVE1:
    case MODE_SET_RESERVE2:
      // The extension validates and writes in one step, in ACTION.
      break;
    case MODE_SET_ACTION:
      Set(s, reqinfo, list);
      break;
    case MODE_SET_COMMIT:
    case MODE_SET_FREE:
      s.extension->EndSet(false);
      break;
    case MODE_SET_UNDO:
      // Another part of the request failed after ours was written.
      s.extension->EndSet(true);
      break;
    default:
      break;
  }
  return SNMP_ERR_NOERROR;
}

bool InitExtension(BridgeState& s) {
  std::vector<uint32_t> view;
  if (!s.extension->Init(view) || view.empty() || view.size() > MAX_OID_LEN) return false;
  if (!s.view.empty() && view != s.view) return false;  // the registration covers the first view
  s.view = view;
  s.viewEnd = view;
  s.viewEnd.back() += 1;
  return true;
}

}  // namespace

bool RegisterBridge(std::unique_ptr<Extension> extension, const char* name) {
  BridgeState& s = State();
  if (!extension || s.registration) return false;
  s.extension = std::move(extension);
  s.view.clear();
  if (!InitExtension(s)) {
    snmp_log(LOG_ERR, "%s: the extension did not initialise\n", name);
    s.extension.reset();
    return false;
  }
  std::vector<oid> root(s.view.begin(), s.view.end());
  netsnmp_handler_registration* reg =
      netsnmp_create_handler_registration(name, BridgeHandler, root.data(), root.size(), HANDLER_CAN_RWRITE);
  if (!reg || netsnmp_register_handler(reg) != MIB_REGISTERED_OK) {
    snmp_log(LOG_ERR, "%s: cannot register the view\n", name);
    s.extension.reset();
    return false;
  }
  s.registration = reg;
  return true;
}

void ReinitBridge() {
  BridgeState& s = State();
  if (s.extension && !InitExtension(s)) snmp_log(LOG_ERR, "the extension did not initialise again\n");
}

void UnregisterBridge() {
  BridgeState& s = State();
  if (s.registration) netsnmp_unregister_handler(s.registration);
  s.registration = nullptr;
  s.extension.reset();
  s.view.clear();
  s.lastSession = nullptr;
}

}  // namespace torvane
