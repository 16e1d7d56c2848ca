// Stand-in for the platform's package manager, the Windows Runtime class
// "Windows.Management.Deployment.PackageManager", which Wine lacks. The tests
// register it under that activatable-class name (DllPath). It serves the
// packages of the scenario file named by HKBH_PM_SCENARIO and appends what it
// was asked to the file named by HKBH_PM_RECORDS. Identifiers are the ones the
// Windows SDK headers publish, written out here on purpose: the library
// derives those of the collections itself.
//
// Scenario lines (UTF-8, fields separated by tabs):
//   package FAMILY FULLNAME NAME A.B.C.D FOLDER   an installed package; FOLDER is its install
//                                                 folder (empty: InstalledLocation fails)
//   depends FAMILY DEPENDENCY-FAMILY              a dependency of that family's packages
//   fail METHOD HRESULT                           METHOD fails with HRESULT (hex): Activate,
//                                                 FindPackagesByUserSecurityId,
//                                                 FindPackagesByUserSecurityIdPackageFamilyName,
//                                                 InstalledLocation, Dependencies
//   gate EVENT                                    FindPackagesByUserSecurityId waits (60 s at
//                                                 most) until the named event is set
//   record METHOD                                 record only the methods listed (default: all)
// Records: METHOD, process id, then the arguments, separated by tabs.
#include <windows.h>
#include <activation.h>
#include <roapi.h>
#include <winstring.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hkbstandin/class_factory.h"
#include "hkbtest/env.h"
#include "hkbtest/files.h"
#include "hkbtest/lines.h"
#include "hkbtest/text.h"
#include "winrt_api.h"

namespace {

using hkbrt::IPackage;

// IIterable<Package>, IIterator<Package>, IVectorView<Package> (windows.management.deployment.h).
constexpr GUID kIterablePackage = {
    0x69ad6aa7, 0x0c49, 0x5f27, {0xa5, 0xeb, 0xef, 0x4d, 0x59, 0x46, 0x7b, 0x6d}};
constexpr GUID kIteratorPackage = {
    0x0217f069, 0x025c, 0x5ee6, {0xa8, 0x7f, 0xe7, 0x82, 0xe3, 0xb6, 0x23, 0xae}};
constexpr GUID kVectorViewPackage = {
    0x0263c4d4, 0x195c, 0x5dc5, {0xa7, 0xca, 0x68, 0x06, 0xce, 0xca, 0x42, 0x0b}};

std::mutex s_lock;

std::wstring Text(HSTRING s) {
  UINT32 n = 0;
  const wchar_t* p = ::WindowsGetStringRawBuffer(s, &n);
  return p ? std::wstring(p, n) : std::wstring();
}

HSTRING Make(const std::wstring& s) {
  HSTRING out = nullptr;
  if (!s.empty()) ::WindowsCreateString(s.c_str(), static_cast<UINT32>(s.size()), &out);
  return out;
}

std::wstring Folded(std::wstring s) {
  for (wchar_t& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return s;
}

struct Package {
  std::wstring family, full, name, folder;
  hkbrt::PackageVersion version = {};
  std::vector<std::wstring> dependencies;
};

struct Scenario {
  std::vector<Package> packages;
  std::multimap<std::wstring, size_t> by_family;  // folded family -> index
  std::map<std::string, HRESULT> failures;
  std::string gate;
  std::set<std::string> recorded;  // empty: everything
  HRESULT FailureOf(const char* method) const {
    const auto it = failures.find(method);
    return it == failures.end() ? S_OK : it->second;
  }
};

std::shared_ptr<const Scenario> Parse(const std::string& text) {
  auto s = std::make_shared<Scenario>();
  std::map<std::wstring, std::vector<std::wstring>> depends;
  for (const std::string& line : hkbtest::SplitLines(text)) {
    const std::vector<std::string> f = hkbtest::Split(line, '\t');
    if (f[0] == "package" && f.size() >= 6) {
      Package p;
      p.family = hkbtest::Wide(f[1]);
      p.full = hkbtest::Wide(f[2]);
      p.name = hkbtest::Wide(f[3]);
      unsigned v[4] = {};
      std::sscanf(f[4].c_str(), "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
      p.version = {static_cast<UINT16>(v[0]), static_cast<UINT16>(v[1]), static_cast<UINT16>(v[2]),
                   static_cast<UINT16>(v[3])};
      p.folder = hkbtest::Wide(f[5]);
      s->by_family.emplace(Folded(p.family), s->packages.size());
      s->packages.push_back(std::move(p));
    } else if (f[0] == "depends" && f.size() >= 3) {
      depends[Folded(hkbtest::Wide(f[1]))].push_back(hkbtest::Wide(f[2]));
    } else if (f[0] == "fail" && f.size() >= 3) {
      s->failures[f[1]] = static_cast<HRESULT>(std::strtoul(f[2].c_str(), nullptr, 16));
    } else if (f[0] == "gate" && f.size() >= 2) {
      s->gate = f[1];
    } else if (f[0] == "record" && f.size() >= 2) {
      s->recorded.insert(f[1]);
    }
  }
  for (Package& p : s->packages) {
    const auto it = depends.find(Folded(p.family));
    if (it != depends.end()) p.dependencies = it->second;
  }
  return s;
}

// The scenario as the file holds it now; read again only when the file changed.
std::shared_ptr<const Scenario> Current() {
  const std::wstring path = hkbtest::Env(L"HKBH_PM_SCENARIO");
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  std::lock_guard<std::mutex> hold(s_lock);
  static std::wstring cached_path;
  static FILETIME cached_time = {};
  static DWORD cached_size = ~0u;
  static std::shared_ptr<const Scenario> cached;
  if (cached && path == cached_path && ::CompareFileTime(&data.ftLastWriteTime, &cached_time) == 0 &&
      data.nFileSizeLow == cached_size)
    return cached;
  cached = Parse(hkbtest::ReadFileBytes(path));
  cached_path = path;
  cached_time = data.ftLastWriteTime;
  cached_size = data.nFileSizeLow;
  return cached;
}

void Record(const Scenario& s, const std::string& method, const std::vector<std::wstring>& args) {
  if (!s.recorded.empty() && !s.recorded.count(method)) return;
  const std::wstring path = hkbtest::Env(L"HKBH_PM_RECORDS");
  if (path.empty()) return;
  std::string line = method + "\t" + std::to_string(::GetCurrentProcessId());
  for (const std::wstring& a : args) line += "\t" + hkbtest::Utf8(a);
  line += "\n";
  hkbtest::AppendFileBytes(path, line);
}

// IUnknown and IInspectable for an object of one interface.
template <class Interface, const GUID& kIid>
class Object : public hkbstandin::ComObject<Interface, kIid> {
 public:
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
    if (!count || !iids) return E_POINTER;
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
    if (!name) return E_POINTER;
    *name = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
    if (!level) return E_POINTER;
    *level = BaseTrust;
    return S_OK;
  }

 protected:
  void* Other(REFIID iid) override {
    return iid == hkbrt::kIidInspectable ? static_cast<Interface*>(this) : nullptr;
  }
};

class StorageFolder final : public Object<hkbrt::IStorageItem, hkbrt::kIidStorageItem> {
 public:
  explicit StorageFolder(std::wstring path) : m_path(std::move(path)) {}
  HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions(HSTRING, IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RenameAsync(HSTRING, INT32, IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsync(INT32, IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync(IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) override {
    if (!value) return E_POINTER;
    *value = Make(m_path);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Attributes(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DateCreated(INT64*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsOfType(INT32, boolean*) override { return E_NOTIMPL; }

 private:
  std::wstring m_path;
};

class PackageId final : public Object<hkbrt::IPackageId, hkbrt::kIidPackageId> {
 public:
  explicit PackageId(Package p) : m_p(std::move(p)) {}
  HRESULT STDMETHODCALLTYPE get_Name(HSTRING* v) override { return Give(m_p.name, v); }
  HRESULT STDMETHODCALLTYPE get_Version(hkbrt::PackageVersion* v) override {
    if (!v) return E_POINTER;
    *v = m_p.version;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Architecture(INT32* v) override {
    if (!v) return E_POINTER;
    *v = 9;  // x64
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* v) override { return Give(L"", v); }
  HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* v) override { return Give(L"CN=Example Test", v); }
  HRESULT STDMETHODCALLTYPE get_PublisherId(HSTRING* v) override { return Give(L"1a2b3c4d5e6f7", v); }
  HRESULT STDMETHODCALLTYPE get_FullName(HSTRING* v) override { return Give(m_p.full, v); }
  HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* v) override { return Give(m_p.family, v); }

 private:
  static HRESULT Give(const std::wstring& s, HSTRING* v) {
    if (!v) return E_POINTER;
    *v = Make(s);
    return S_OK;
  }
  Package m_p;
};

class PackageObject;

class Packages final : public Object<hkbrt::IPackageVectorView, kVectorViewPackage> {
 public:
  Packages(std::shared_ptr<const Scenario> s, std::vector<Package> items)
      : m_s(std::move(s)), m_items(std::move(items)) {}
  HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, IPackage** item) override;
  HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) override {
    if (!size) return E_POINTER;
    *size = static_cast<UINT32>(m_items.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IndexOf(IPackage*, UINT32*, boolean*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, UINT32, IPackage**, UINT32*) override { return E_NOTIMPL; }
  const std::vector<Package>& items() const { return m_items; }
  const std::shared_ptr<const Scenario>& scenario() const { return m_s; }

 private:
  std::shared_ptr<const Scenario> m_s;
  std::vector<Package> m_items;
};

class PackageObject final : public Object<IPackage, hkbrt::kIidPackage> {
 public:
  PackageObject(std::shared_ptr<const Scenario> s, Package p) : m_s(std::move(s)), m_p(std::move(p)) {}
  HRESULT STDMETHODCALLTYPE get_Id(hkbrt::IPackageId** id) override {
    if (!id) return E_POINTER;
    *id = new PackageId(m_p);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_InstalledLocation(IInspectable** folder) override {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    Record(*m_s, "InstalledLocation", {m_p.family});
    if (FAILED(m_s->FailureOf("InstalledLocation"))) return m_s->FailureOf("InstalledLocation");
    if (m_p.folder.empty()) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *folder = new StorageFolder(m_p.folder);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsFramework(boolean* v) override {
    if (!v) return E_POINTER;
    *v = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Dependencies(hkbrt::IPackageVectorView** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Record(*m_s, "Dependencies", {m_p.family});
    if (FAILED(m_s->FailureOf("Dependencies"))) return m_s->FailureOf("Dependencies");
    std::vector<Package> deps;
    for (const std::wstring& family : m_p.dependencies) {
      Package d;
      d.family = family;
      d.name = family.substr(0, family.find(L'_'));
      d.full = d.name + L"_1.0.0.0_x64__8wekyb3d8bbwe";
      d.version = {1, 0, 0, 0};
      deps.push_back(std::move(d));
    }
    *out = new Packages(m_s, std::move(deps));
    return S_OK;
  }

 private:
  std::shared_ptr<const Scenario> m_s;
  Package m_p;
};

HRESULT STDMETHODCALLTYPE Packages::GetAt(UINT32 index, IPackage** item) {
  if (!item) return E_POINTER;
  *item = nullptr;
  if (index >= m_items.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);
  *item = new PackageObject(m_s, m_items[index]);
  return S_OK;
}

class Iterator final : public Object<hkbrt::IPackageIterator, kIteratorPackage> {
 public:
  explicit Iterator(Packages* items) : m_items(items) { m_items->AddRef(); }
  ~Iterator() override { m_items->Release(); }
  HRESULT STDMETHODCALLTYPE get_Current(IPackage** current) override {
    if (!current) return E_POINTER;
    return m_items->GetAt(m_at, current);
  }
  HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* has) override {
    if (!has) return E_POINTER;
    *has = m_at < m_items->items().size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveNext(boolean* has) override {
    if (!has) return E_POINTER;
    if (m_at < m_items->items().size()) ++m_at;
    *has = m_at < m_items->items().size();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32, IPackage**, UINT32*) override { return E_NOTIMPL; }

 private:
  Packages* m_items;
  UINT32 m_at = 0;
};

class Iterable final : public Object<hkbrt::IPackageIterable, kIterablePackage> {
 public:
  explicit Iterable(Packages* items) : m_items(items) {}
  ~Iterable() override { m_items->Release(); }
  HRESULT STDMETHODCALLTYPE First(hkbrt::IPackageIterator** first) override {
    if (!first) return E_POINTER;
    *first = new Iterator(m_items);
    return S_OK;
  }

 private:
  Packages* m_items;  // owned
};

class PackageManager final : public Object<hkbrt::IPackageManager, hkbrt::kIidPackageManager> {
 public:
  explicit PackageManager(std::shared_ptr<const Scenario> s) : m_s(std::move(s)) {}
  HRESULT STDMETHODCALLTYPE AddPackageAsync(IInspectable*, IInspectable*, UINT32, IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE UpdatePackageAsync(IInspectable*, IInspectable*, UINT32,
                                               IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING, IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StagePackageAsync(IInspectable*, IInspectable*, IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RegisterPackageAsync(IInspectable*, IInspectable*, UINT32,
                                                 IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPackages(hkbrt::IPackageIterable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING user,
                                                         hkbrt::IPackageIterable** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Record(*m_s, "FindPackagesByUserSecurityId", {Text(user)});
    if (!m_s->gate.empty()) {
      HANDLE gate = ::OpenEventW(SYNCHRONIZE, FALSE, hkbtest::Wide(m_s->gate).c_str());
      if (gate) {
        ::WaitForSingleObject(gate, 60000);
        ::CloseHandle(gate);
      }
    }
    if (FAILED(m_s->FailureOf("FindPackagesByUserSecurityId")))
      return m_s->FailureOf("FindPackagesByUserSecurityId");
    *out = new Iterable(new Packages(m_s, m_s->packages));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindPackagesByNamePublisher(HSTRING, HSTRING,
                                                        hkbrt::IPackageIterable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdNamePublisher(HSTRING, HSTRING, HSTRING,
                                                                      hkbrt::IPackageIterable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindUsers(HSTRING, IInspectable**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPackageState(HSTRING, INT32) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindPackageByPackageFullName(HSTRING, IPackage**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CleanupPackageForUserAsync(HSTRING, HSTRING, IInspectable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPackagesByPackageFamilyName(HSTRING, hkbrt::IPackageIterable**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdPackageFamilyName(
      HSTRING user, HSTRING family, hkbrt::IPackageIterable** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring name = Text(family);
    Record(*m_s, "FindPackagesByUserSecurityIdPackageFamilyName", {Text(user), name});
    const HRESULT fail = m_s->FailureOf("FindPackagesByUserSecurityIdPackageFamilyName");
    if (FAILED(fail)) return fail;
    // Family names compare as the platform compares them, ignoring letter case.
    std::vector<Package> found;
    const auto range = m_s->by_family.equal_range(Folded(name));
    for (auto it = range.first; it != range.second; ++it) found.push_back(m_s->packages[it->second]);
    *out = new Iterable(new Packages(m_s, std::move(found)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindPackageByUserSecurityIdPackageFullName(HSTRING, HSTRING,
                                                                       IPackage**) override {
    return E_NOTIMPL;
  }

 private:
  std::shared_ptr<const Scenario> m_s;
};

class Factory final : public Object<IActivationFactory, hkbrt::kIidActivationFactory> {
 public:
  Factory() {}
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    if (!instance) return E_POINTER;
    *instance = nullptr;
    const auto s = Current();
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    const char* apartment = "none";
    if (SUCCEEDED(::CoGetApartmentType(&type, &qualifier)))
      apartment = type == APTTYPE_STA || type == APTTYPE_MAINSTA ? "STA"
                  : type == APTTYPE_MTA                          ? "MTA"
                                                                 : "other";
    Record(*s, "Activate", {hkbtest::Wide(apartment)});
    if (FAILED(s->FailureOf("Activate"))) return s->FailureOf("Activate");
    *instance = new PackageManager(s);
    return S_OK;
  }
};

}  // namespace

extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING class_id, IActivationFactory** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  if (Text(class_id) != L"Windows.Management.Deployment.PackageManager") return CLASS_E_CLASSNOTAVAILABLE;
  *factory = new Factory();
  return S_OK;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return hkbstandin::CanUnloadNow(); }
