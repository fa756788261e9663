// The extension side of the bridge: plain bindings to the extension interface's
// records and back, and the calls through the bound exports.
#include <dlfcn.h>

#include <cstring>

#include "nbrmib/bridge_exports.h"

namespace torvane {

namespace {

// Copies n items into a new block from the interface's allocator; null on failure.
template <typename T>
T* HeapCopy(const T* items, size_t n) {
  auto* p = static_cast<T*>(SnmpUtilMemAlloc(sizeof(T) * n));
  if (p && n) std::memcpy(p, items, sizeof(T) * n);
  return p;
}

bool ToAny(const BridgeValue& in, AsnAny& out) {
  out = AsnAny{};
  out.asnType = in.type;
  switch (in.type) {
    case ASN_INTEGER:
      out.asnValue.number = static_cast<AsnInteger32>(in.number);
      return true;
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UNSIGNED32:
      out.asnValue.unsigned32 = static_cast<AsnUnsigned32>(in.number);
      return true;
    case ASN_COUNTER64:
      out.asnValue.counter64 = static_cast<uint64_t>(in.number);
      return true;
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE: {
      BYTE* copy = HeapCopy(in.bytes.data(), in.bytes.size());
      if (!copy) return false;
      out.asnValue.string = {copy, static_cast<UINT>(in.bytes.size()), 1};
      return true;
    }
    case ASN_OBJECTIDENTIFIER: {
      UINT* copy = HeapCopy(in.oid.data(), in.oid.size());
      if (!copy) return false;
      out.asnValue.object = {static_cast<UINT>(in.oid.size()), copy};
      return true;
    }
    default:
      out.asnType = ASN_NULL;
      return true;
  }
}

BridgeValue FromAny(const AsnAny& in) {
  BridgeValue out;
  out.type = in.asnType;
  switch (in.asnType) {
    case ASN_INTEGER:
      out.number = in.asnValue.number;
      break;
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UNSIGNED32:
      out.number = in.asnValue.unsigned32;
      break;
    case ASN_COUNTER64:
      out.number = static_cast<int64_t>(in.asnValue.counter64);
      break;
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
      if (in.asnValue.string.stream)
        out.bytes.assign(in.asnValue.string.stream, in.asnValue.string.stream + in.asnValue.string.length);
      break;
    case ASN_OBJECTIDENTIFIER:
      if (in.asnValue.object.ids)
        out.oid.assign(in.asnValue.object.ids, in.asnValue.object.ids + in.asnValue.object.idLength);
      break;
    default:
      out.type = ASN_NULL;
      break;
  }
  return out;
}

BYTE RequestType(BridgeRequest r) {
  switch (r) {
    case BridgeRequest::kGet: return SNMP_PDU_GET;
    case BridgeRequest::kGetNext: return SNMP_PDU_GETNEXT;
    case BridgeRequest::kSet: return SNMP_PDU_SET;
  }
  return SNMP_PDU_GET;
}

class BoundExtension : public Extension {
 public:
  BoundExtension(const ExtensionExports& exports, void* library) : x_(exports), library_(library) {}
  ~BoundExtension() override {
    if (library_) dlclose(library_);
  }

  bool Init(std::vector<uint32_t>& view) override {
    HANDLE trap = -1;
    AsnObjectIdentifier supported{0, nullptr};
    if (!x_.init(0, &trap, &supported) || !supported.ids || supported.idLength == 0) return false;
    // The view's identifier stays the library's: it is copied, never freed.
    view.assign(supported.ids, supported.ids + supported.idLength);
    return true;
  }

  BridgeResult Query(BridgeRequest request, std::vector<BridgeBinding>& bindings) override {
    BridgeResult result;
    std::vector<SnmpVarBind> list(bindings.size());
    bool built = true;
    for (size_t i = 0; i < bindings.size(); ++i) {
      SnmpVarBind& vb = list[i];
      vb = SnmpVarBind{};
      vb.value.asnType = ASN_NULL;
      const auto& name = bindings[i].name;
      vb.name.ids = HeapCopy(name.data(), name.size());
      vb.name.idLength = static_cast<UINT>(name.size());
      if (!vb.name.ids || !ToAny(bindings[i].value, vb.value)) built = false;
    }
    if (built) {
      SnmpVarBindList l{list.data(), static_cast<UINT>(list.size())};
      AsnInteger32 status = 0, index = 0;
      if (!x_.query(RequestType(request), &l, &status, &index)) {
        status = SNMP_ERRORSTATUS_GENERR;
        index = 1;
      }
      result.status = status;
      result.index = index;
      if (status != SNMP_ERRORSTATUS_NOERROR && x_.errorReason)
        result.reason = static_cast<MibErrorReason>(x_.errorReason());
      for (size_t i = 0; i < bindings.size(); ++i) {
        const SnmpVarBind& vb = list[i];
        if (vb.name.ids)
          bindings[i].name.assign(vb.name.ids, vb.name.ids + vb.name.idLength);
        else
          bindings[i].name.clear();
        bindings[i].value = FromAny(vb.value);
      }
    } else {
      result.status = SNMP_ERRORSTATUS_GENERR;
      result.index = 1;
      result.reason = MibErrorReason::kGeneral;
    }
    for (SnmpVarBind& vb : list) SnmpUtilVarBindFree(&vb);
    return result;
  }

  void BeginRequest() override {
    if (x_.beginRequest) x_.beginRequest();
  }
  void EndSet(bool undo) override {
    if (x_.endSet) x_.endSet(undo ? 1 : 0);
  }

 private:
  ExtensionExports x_;
  void* library_;
};

}  // namespace

std::unique_ptr<Extension> ExtensionFromExports(const ExtensionExports& exports, void* library) {
  if (!exports.init || !exports.query) {
    if (library) dlclose(library);
    return nullptr;
  }
  return std::make_unique<BoundExtension>(exports, library);
}

std::unique_ptr<Extension> LoadExtension(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    error = why ? why : "cannot load " + path;
    return nullptr;
  }
  ExtensionExports x;
  x.init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(dlsym(library, "SnmpExtensionInit"));
  x.query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(dlsym(library, "SnmpExtensionQuery"));
  x.trap = reinterpret_cast<PFNSNMPEXTENSIONTRAP>(dlsym(library, "SnmpExtensionTrap"));
  x.beginRequest = reinterpret_cast<PFNNBRMIBBEGINREQUEST>(dlsym(library, "NbrmibBeginRequest"));
  x.endSet = reinterpret_cast<PFNNBRMIBENDSET>(dlsym(library, "NbrmibEndSet"));
  x.errorReason = reinterpret_cast<PFNNBRMIBERRORREASON>(dlsym(library, "NbrmibErrorReason"));
  if (!x.init || !x.query) {
    error = path + " does not export SnmpExtensionInit and SnmpExtensionQuery";
    dlclose(library);
    return nullptr;
  }
  return ExtensionFromExports(x, library);
}

}  // namespace torvane
