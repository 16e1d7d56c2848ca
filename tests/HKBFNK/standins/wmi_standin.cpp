// Stand-in for the WMI locator (registered by the test under the locator's
// CLSID). It serves "WmiMonitorBrightness" instances from the scenario and
// the set method of "WmiMonitorBrightnessMethods", and traces every call the
// library makes with its arguments. The service object answers
// CoSetProxyBlanket as a proxy does: through IClientSecurity.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "hkbstandin/class_factory.h"
#include "scenario.h"

using standin::Hex;
using standin::Trace;
using standin::Utf8;

namespace {

const CLSID kClsidWbemLocator = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemServices = {0x9556DC99, 0x828C, 0x11CF, {0xA3, 0x7E, 0x00, 0xAA, 0x00, 0x32, 0x40, 0xC7}};
const IID kIidWbemClassObject = {
    0xDC12A681, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidEnumWbemClassObject = {
    0x027947E1, 0xD731, 0x11CE, {0xA3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
const IID kIidClientSecurity = {0x0000013D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::string Str(const wchar_t* s) { return Utf8(s); }
std::string Ptr(const void* p) { return p ? "set" : "null"; }

// ---------------------------------------------------------------- panels

struct Panel {
  std::wstring name;
  bool hasCurrent = false;
  unsigned current = 0;
  bool hasLevels = false;
  long levels = 0;
  bool hasLevel = false;
  std::vector<unsigned char> level;
};

struct Scenario {
  std::vector<Panel> panels;
  bool connectFails = false;
  bool blanketFails = false;
  bool enumFails = false;
  bool setFails = false;
  bool outParams = false;
};

Scenario& State() {
  static Scenario s = [] {
    Scenario sc;
    for (const standin::Line& l : standin::ReadScenario()) {
      if (l.kind == "panel") {
        Panel p;
        p.name = hkbtest::Wide(l.get("name"));
        if ((p.hasCurrent = l.has("current"))) p.current = std::stoul(l.get("current"));
        if ((p.hasLevels = l.has("levels"))) p.levels = std::stol(l.get("levels"));
        if ((p.hasLevel = l.has("level"))) {
          std::string list = l.get("level");
          size_t at = 0;
          while (at < list.size()) {
            size_t comma = list.find(',', at);
            if (comma == std::string::npos) comma = list.size();
            if (comma > at)
              p.level.push_back(static_cast<unsigned char>(std::stoul(list.substr(at, comma - at))));
            at = comma + 1;
          }
        }
        sc.panels.push_back(p);
      } else if (l.kind == "wmi") {
        sc.connectFails = l.get("connect") == "fail";
        sc.blanketFails = l.get("blanket") == "fail";
        sc.enumFails = l.get("enum") == "fail";
        sc.setFails = l.get("set") == "fail";
        sc.outParams = l.get("out") == "returnvalue";
      }
    }
    return sc;
  }();
  return s;
}

// A VARIANT that copies and clears itself.
struct Value {
  VARIANT v;
  Value() { ::VariantInit(&v); }
  Value(const VARIANT& o) {
    ::VariantInit(&v);
    ::VariantCopy(&v, const_cast<VARIANT*>(&o));
  }
  Value(const Value& o) : Value(o.v) {}
  Value& operator=(const Value& o) {
    if (this != &o) {
      ::VariantClear(&v);
      ::VariantCopy(&v, const_cast<VARIANT*>(&o.v));
    }
    return *this;
  }
  ~Value() { ::VariantClear(&v); }
};

struct Property {
  std::wstring name;
  Value value;
  CIMTYPE type;
};

std::string Describe(const VARIANT& v) {
  std::string text;
  if (v.vt == VT_BSTR)
    text = Str(v.bstrVal);
  else if (v.vt == VT_I4 || v.vt == VT_UI4)
    text = std::to_string(v.ulVal);
  else if (v.vt == VT_UI1)
    text = std::to_string(v.bVal);
  return "vt" + std::to_string(v.vt) + ":" + text;
}

// ---------------------------------------------------------------- objects

class ClassObject final : public hkbstandin::ComObject<IWbemClassObject, kIidWbemClassObject> {
 public:
  struct Releaser {
    void operator()(IWbemClassObject* o) const { o->Release(); }
  };
  explicit ClassObject(std::wstring cls) : m_class(std::move(cls)) {}
  void Add(const wchar_t* name, const VARIANT& v, CIMTYPE type) { m_props.push_back({name, Value(v), type}); }
  void AddMethod(const wchar_t* name, IWbemClassObject* in) {
    m_methods.emplace_back(name, std::unique_ptr<IWbemClassObject, Releaser>(in));
  }
  const Property* Find(const wchar_t* name) const {
    for (const Property& p : m_props)
      if (p.name == name) return &p;
    return nullptr;
  }

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                LONG* flavor) override {
    Trace("wmi Get name=" + Str(name) + " flags=" + Hex(static_cast<unsigned long>(flags)));
    const Property* p = name ? Find(name) : nullptr;
    if (!p) return WBEM_E_NOT_FOUND;
    if (value) {
      ::VariantInit(value);
      ::VariantCopy(value, const_cast<VARIANT*>(&p->value.v));
    }
    if (type) *type = p->type;
    if (flavor) *flavor = 0;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override {
    Trace("wmi Put name=" + Str(name) + " flags=" + Hex(static_cast<unsigned long>(flags)) +
          " value=" + (value ? Describe(*value) : "null") + " cim=" + std::to_string(type));
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    for (Property& p : m_props) {
      if (p.name == name) {
        p.value = Value(*value);
        p.type = type;
        return WBEM_S_NO_ERROR;
      }
    }
    return WBEM_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override {
    if (flags != 0) Trace("wmi BeginEnumeration flags=" + Hex(static_cast<unsigned long>(flags)));
    m_next = 0;
    m_enumerating = true;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE Next(LONG, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
    if (!m_enumerating) return WBEM_E_UNEXPECTED;
    if (m_next >= m_props.size()) return WBEM_S_NO_MORE_DATA;
    const Property& p = m_props[m_next++];
    if (name) *name = ::SysAllocString(p.name.c_str());
    if (value) {
      ::VariantInit(value);
      ::VariantCopy(value, const_cast<VARIANT*>(&p.value.v));
    }
    if (type) *type = p.type;
    if (flavor) *flavor = 0;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override {
    m_enumerating = false;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** out) override {
    Trace("wmi SpawnInstance class=" + Str(m_class.c_str()) +
          " flags=" + Hex(static_cast<unsigned long>(flags)));
    if (!out) return WBEM_E_INVALID_PARAMETER;
    auto* copy = new ClassObject(m_class);
    copy->m_props = m_props;
    *out = copy;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                      IWbemClassObject** out) override {
    Trace("wmi GetMethod name=" + Str(name) + " flags=" + Hex(static_cast<unsigned long>(flags)) +
          " out=" + Ptr(out));
    if (out) *out = nullptr;
    if (!in) return WBEM_E_INVALID_PARAMETER;
    *in = nullptr;
    for (auto& m : m_methods) {
      if (name && m.first == name) {
        *in = m.second.get();
        (*in)->AddRef();
        return WBEM_S_NO_ERROR;
      }
    }
    return WBEM_E_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

 private:
  std::wstring m_class;
  std::vector<Property> m_props;
  std::vector<std::pair<std::wstring, std::unique_ptr<IWbemClassObject, Releaser>>> m_methods;
  size_t m_next = 0;
  bool m_enumerating = false;
};

VARIANT Bstr(const std::wstring& s) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocString(s.c_str());
  return v;
}
VARIANT UI1(unsigned char b) {
  VARIANT v;
  v.vt = VT_UI1;
  v.bVal = b;
  return v;
}
VARIANT I4(long l) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}
VARIANT Bool(bool b) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT Null() {
  VARIANT v;
  v.vt = VT_NULL;
  return v;
}

void AddOwned(ClassObject* o, const wchar_t* name, VARIANT v, CIMTYPE type) {
  o->Add(name, v, type);
  ::VariantClear(&v);
}

// An instance as WMI lists it: the system class property, "Active", then the
// brightness properties (the same types WMI uses: uint8 as VT_UI1, uint32 as
// VT_I4, uint8[] as a VT_UI1 array).
ClassObject* MakeInstance(const Panel& p) {
  auto* o = new ClassObject(L"WmiMonitorBrightness");
  AddOwned(o, L"__CLASS", Bstr(L"WmiMonitorBrightness"), CIM_STRING);
  AddOwned(o, L"Active", Bool(true), CIM_BOOLEAN);
  if (p.hasCurrent) AddOwned(o, L"CurrentBrightness", UI1(static_cast<unsigned char>(p.current)), CIM_UINT8);
  AddOwned(o, L"InstanceName", Bstr(p.name), CIM_STRING);
  if (p.hasLevel) {
    VARIANT v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(p.level.size()));
    if (!p.level.empty()) {
      void* data = nullptr;
      ::SafeArrayAccessData(v.parray, &data);
      std::memcpy(data, p.level.data(), p.level.size());
      ::SafeArrayUnaccessData(v.parray);
    }
    AddOwned(o, L"Level", v, CIM_UINT8 | CIM_FLAG_ARRAY);
  }
  if (p.hasLevels) AddOwned(o, L"Levels", I4(p.levels), CIM_UINT32);
  return o;
}

class Enumerator final : public hkbstandin::ComObject<IEnumWbemClassObject, kIidEnumWbemClassObject> {
 public:
  explicit Enumerator(std::vector<Panel> panels) : m_panels(std::move(panels)) {}
  ~Enumerator() override { Trace("wmi release enumerator"); }
  HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_INVALID_OPERATION; }  // forward-only
  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                 ULONG* returned) override {
    if (timeout != static_cast<LONG>(WBEM_INFINITE) || count != 1)
      Trace("wmi Next timeout=" + std::to_string(timeout) + " count=" + std::to_string(count));
    if (!objects || !returned) return WBEM_E_INVALID_PARAMETER;
    *returned = 0;
    if (m_next >= m_panels.size()) return WBEM_S_FALSE;
    objects[0] = MakeInstance(m_panels[m_next++]);
    *returned = 1;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

 private:
  std::vector<Panel> m_panels;
  size_t m_next = 0;
};

// The methods class with the signature of WmiSetBrightness.
ClassObject* MakeMethodsClass() {
  auto* in = new ClassObject(L"__PARAMETERS");
  AddOwned(in, L"Brightness", Null(), CIM_UINT8);
  AddOwned(in, L"Timeout", Null(), CIM_UINT32);
  auto* cls = new ClassObject(L"WmiMonitorBrightnessMethods");
  AddOwned(cls, L"__CLASS", Bstr(L"WmiMonitorBrightnessMethods"), CIM_STRING);
  cls->AddMethod(L"WmiSetBrightness", in);
  return cls;
}

std::string Param(IWbemClassObject* in, const wchar_t* name) {
  auto* obj = static_cast<ClassObject*>(in);  // only this stand-in's own objects reach it
  const Property* p = obj->Find(name);
  if (!p) return "missing";
  return Describe(p->value.v) + ":cim" + std::to_string(p->type);
}

class Services final : public hkbstandin::ComObject<IWbemServices, kIidWbemServices>, public IClientSecurity {
 public:
  ~Services() override { Trace("wmi release services"); }
  // One IUnknown for both interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return ComObject::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }
  void* Other(REFIID iid) override {
    return iid == kIidClientSecurity ? static_cast<IClientSecurity*>(this) : nullptr;
  }

  // IClientSecurity, as a proxy offers it.
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                         DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal,
                                       DWORD level, DWORD imp, void* identity, DWORD caps) override {
    Trace("wmi SetBlanket proxy=" +
          std::string(proxy == static_cast<IWbemServices*>(this) ? "services" : "other") +
          " authn=" + std::to_string(authn) + " authz=" + std::to_string(authz) +
          " principal=" + Ptr(principal) + " level=" + std::to_string(level) + " imp=" + std::to_string(imp) +
          " identity=" + Ptr(identity) + " caps=" + std::to_string(caps));
    return State().blanketFails ? E_ACCESSDENIED : S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

  // IWbemServices
  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                          IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* ctx,
                                      IWbemClassObject** object, IWbemCallResult** result) override {
    Trace("wmi GetObject path=" + Str(path) + " flags=" + Hex(static_cast<unsigned long>(flags)) +
          " context=" + Ptr(ctx) + " callresult=" + Ptr(result));
    if (!object) return WBEM_E_INVALID_PARAMETER;
    *object = nullptr;
    if (!path || std::wcscmp(path, L"WmiMonitorBrightnessMethods") != 0) return WBEM_E_NOT_FOUND;
    *object = MakeMethodsClass();
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                            IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR cls, LONG flags, IWbemContext* ctx,
                                               IEnumWbemClassObject** out) override {
    Trace("wmi CreateInstanceEnum class=" + Str(cls) + " flags=" + Hex(static_cast<unsigned long>(flags)) +
          " context=" + Ptr(ctx));
    if (!out) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    if (State().enumFails) return WBEM_E_FAILED;
    if (!cls || std::wcscmp(cls, L"WmiMonitorBrightness") != 0) return WBEM_E_INVALID_CLASS;
    *out = new Enumerator(State().panels);  // a snapshot, as a forward-only enumeration is
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                    IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                           IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IEnumWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* ctx,
                                       IWbemClassObject* in, IWbemClassObject** out,
                                       IWbemCallResult** result) override {
    Trace("wmi ExecMethod path=" + Str(path) + " method=" + Str(method) +
          " flags=" + Hex(static_cast<unsigned long>(flags)) + " context=" + Ptr(ctx) +
          " callresult=" + Ptr(result) + " Brightness=" + (in ? Param(in, L"Brightness") : "noparams") +
          " Timeout=" + (in ? Param(in, L"Timeout") : "noparams"));
    if (out) *out = nullptr;
    if (!path || !method || std::wcscmp(method, L"WmiSetBrightness") != 0) return WBEM_E_INVALID_METHOD;
    if (State().setFails) return WBEM_E_FAILED;
    // The path addresses one panel by its instance name, quoted as given.
    const std::wstring p = path;
    const std::wstring head = L"WmiMonitorBrightnessMethods.InstanceName='";
    if (p.size() < head.size() + 1 || p.compare(0, head.size(), head) != 0 || p.back() != L'\'')
      return WBEM_E_INVALID_OBJECT_PATH;
    const std::wstring name = p.substr(head.size(), p.size() - head.size() - 1);
    Panel* panel = nullptr;
    for (Panel& candidate : State().panels)
      if (candidate.name == name) panel = &candidate;
    if (!panel) return WBEM_E_NOT_FOUND;
    const Property* b = in ? static_cast<ClassObject*>(in)->Find(L"Brightness") : nullptr;
    if (!b || b->value.v.vt != VT_BSTR || !b->value.v.bstrVal) return WBEM_E_INVALID_METHOD_PARAMETERS;
    panel->current = std::wcstoul(b->value.v.bstrVal, nullptr, 10);
    panel->hasCurrent = true;
    if (State().outParams && out) {
      auto* o = new ClassObject(L"__PARAMETERS");
      AddOwned(o, L"ReturnValue", I4(0), CIM_UINT32);
      *out = o;
    }
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override {
    return WBEM_E_NOT_SUPPORTED;
  }
};

class Locator final : public hkbstandin::ComObject<IWbemLocator, kIidWbemLocator> {
 public:
  Locator() { Trace("wmi locator created"); }
  ~Locator() override { Trace("wmi release locator"); }
  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR ns, const BSTR user, const BSTR password,
                                          const BSTR locale, LONG flags, const BSTR authority,
                                          IWbemContext* ctx, IWbemServices** out) override {
    Trace("wmi ConnectServer ns=" + Str(ns) + " user=" + Ptr(user) + " password=" + Ptr(password) +
          " locale=" + Ptr(locale) + " flags=" + Hex(static_cast<unsigned long>(flags)) +
          " authority=" + Ptr(authority) + " context=" + Ptr(ctx));
    if (!out) return WBEM_E_INVALID_PARAMETER;
    *out = nullptr;
    if (State().connectFails) return WBEM_E_ACCESS_DENIED;
    if (!ns || _wcsicmp(ns, L"ROOT\\WMI") != 0) return WBEM_E_INVALID_NAMESPACE;
    *out = new Services();
    return WBEM_S_NO_ERROR;
  }
};

}  // namespace

HKBSTANDIN_INPROC_SERVER(Locator, kClsidWbemLocator)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
    Trace("wmi unloaded objects=" + std::to_string(hkbstandin::s_objects.load()), true);
  return TRUE;
}
