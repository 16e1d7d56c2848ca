// The questions asked of the platform's package manager directly, without
// the catalogue: whether a package is installed, and its app's display name;
// and the query exports built on them.
#include "package_manager.h"

#include <cstdint>
#include <string>

#include "manifest_reader.h"
#include "package_rules.h"
#include "platform_package.h"

namespace {

constexpr wchar_t kGetPackageManager[] = L"CHkbhPackageManager::GetPackageManager";
constexpr wchar_t kFindByName[] = L"CHkbhPackageManager::FindPackageByName";
constexpr wchar_t kFindByNameEx[] = L"CHkbhPackageManager::FindPackageByNameEx";
constexpr wchar_t kIsInstalled[] = L"CHkbhPackageManager::IsInstalled";
constexpr wchar_t kIsInstalledEx[] = L"CHkbhPackageManager::IsInstalledEx";
constexpr wchar_t kDisplayNameByPfn[] = L"CHkbhPackageManager::GetAppDisplayNameByPFN";
constexpr wchar_t kExclude[] = L"CHkbhPackageManager::GetExcludeAppNameList";
constexpr wchar_t kExportIsInstalled[] = L"HkbhIsInstalled";
constexpr wchar_t kExportIsInstalledById[] = L"HkbhIsInstalledByAppUserModeID";
constexpr wchar_t kExportDisplayName[] = L"HkbhGetAppDisplayNameByPFN";

constexpr wchar_t kPackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";

// The first package of a sequence the package manager handed out; a
// platform error is traced under `operation` and gives none.
void FirstPackage(const wchar_t* operation, hkbrt::IPackageIterable* packages,
                  hkb::ComPtr<hkbrt::IPackage>& first) {
  hkb::ComPtr<hkbrt::IPackageIterator> it;
  HRESULT hr = packages->First(it.put());
  boolean has = 0;
  if (SUCCEEDED(hr)) hr = it ? it->get_HasCurrent(&has) : E_POINTER;
  if (SUCCEEDED(hr) && has) hr = it->get_Current(first.put());
  if (FAILED(hr)) {
    first.reset();
    HkbhPlatformError(operation, hr);
  }
}

// The packages of one family for the current user, or none.
hkb::ComPtr<hkbrt::IPackageIterable> PackagesOfFamily(const wchar_t* operation,
                                                      hkbrt::IPackageManager* manager,
                                                      const wchar_t* familyName) {
  hkb::ComPtr<hkbrt::IPackageIterable> packages;
  hkb::HString user, family;
  HRESULT hr = hkb::HString::Create(familyName, family);
  if (SUCCEEDED(hr))
    hr = manager->FindPackagesByUserSecurityIdPackageFamilyName(user.get(), family.get(), packages.put());
  if (SUCCEEDED(hr) && !packages) hr = E_POINTER;
  if (FAILED(hr)) {
    packages.reset();
    HkbhPlatformError(operation, hr);
  }
  return packages;
}

// True when one of the package's dependencies matches the app id; a platform
// error is traced and counts as no match.
bool HasMatchingDependency(hkbrt::IPackage* package, const wchar_t* appId) {
  hkb::ComPtr<hkbrt::IPackageVectorView> dependencies;
  HRESULT hr = package->get_Dependencies(dependencies.put());
  UINT32 count = 0;
  if (SUCCEEDED(hr)) hr = dependencies ? dependencies->get_Size(&count) : E_POINTER;
  for (UINT32 i = 0; SUCCEEDED(hr) && i < count; ++i) {
    hkb::ComPtr<hkbrt::IPackage> dependency;
    hr = dependencies->GetAt(i, dependency.put());
    std::wstring family;
    if (SUCCEEDED(hr)) hr = HkbhGetPackageFamilyName(dependency.get(), family);
    if (SUCCEEDED(hr) && hkbh::DependencyMatches(family, appId)) return true;
  }
  if (FAILED(hr)) HkbhPlatformError(kFindByNameEx, hr);
  return false;
}

}  // namespace

// ===========================================================================
// Queries

hkb::ComPtr<hkbrt::IPackageManager> CHkbhPackageManager::GetPackageManager(hkb::RoInit& runtime) {
  const HkbhTrace trace(kGetPackageManager);
  HRESULT hr = runtime.initialize(RO_INIT_SINGLETHREADED);
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
    trace.Out(hr);
    return {};
  }
  hkb::ComPtr<hkbrt::IPackageManager> manager;
  hkb::HString name;
  hkb::ComPtr<IActivationFactory> factory;
  hkb::ComPtr<IInspectable> instance;
  hr = hkb::HString::Create(kPackageManagerClass, name);
  if (SUCCEEDED(hr))
    hr = ::RoGetActivationFactory(name.get(), hkbrt::kIidActivationFactory, factory.put_void());
  if (SUCCEEDED(hr)) hr = factory ? factory->ActivateInstance(instance.put()) : E_POINTER;
  if (SUCCEEDED(hr)) hr = instance ? instance.as(hkbrt::kIidPackageManager, manager) : E_POINTER;
  if (FAILED(hr)) {
    HkbhPlatformError(kGetPackageManager, hr);
    return {};
  }
  trace.Out(S_OK);
  return manager;
}

void CHkbhPackageManager::FindPackageByName(const wchar_t* familyName, CHkbhFoundPackage& found) {
  const HkbhTrace trace(kFindByName, familyName);
  if (familyName == nullptr || *familyName == L'\0') {
    trace.Out(familyName == nullptr ? E_POINTER : E_INVALIDARG);
    return;
  }
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(found.Runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager failed.)\r\n", kFindByName);
    return;
  }
  const auto packages = PackagesOfFamily(kFindByName, manager.get(), familyName);
  if (packages) FirstPackage(kFindByName, packages.get(), found.Package);
  trace.Out();
}

void CHkbhPackageManager::FindPackageByNameEx(const wchar_t* familyName, const wchar_t* appId,
                                              CHkbhFoundPackage& found) {
  const HkbhTrace trace(kFindByNameEx, familyName, appId);
  if (familyName == nullptr || appId == nullptr || *familyName == L'\0') {
    trace.Out(familyName == nullptr || appId == nullptr ? E_POINTER : E_INVALIDARG);
    return;
  }
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(found.Runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager failed.)\r\n", kFindByNameEx);
    return;
  }
  const auto packages = PackagesOfFamily(kFindByNameEx, manager.get(), familyName);
  hkb::ComPtr<hkbrt::IPackageIterator> it;
  boolean has = 0;
  HRESULT hr = packages ? packages->First(it.put()) : S_FALSE;
  if (hr == S_OK) hr = it ? it->get_HasCurrent(&has) : E_POINTER;
  while (SUCCEEDED(hr) && has) {
    hkb::ComPtr<hkbrt::IPackage> package;
    hr = it->get_Current(package.put());
    if (FAILED(hr)) break;
    if (package && HasMatchingDependency(package.get(), appId)) {
      found.Package = package;
      break;
    }
    hr = it->MoveNext(&has);
  }
  if (FAILED(hr)) HkbhPlatformError(kFindByNameEx, hr);
  trace.Out();
}

HRESULT CHkbhPackageManager::IsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  const HkbhTrace trace(kIsInstalled, familyName);
  if (familyName == nullptr || isInstalled == nullptr) return trace.Out(E_POINTER);
  if (*familyName == L'\0') return trace.Out(E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalled, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::IsInstalledEx(const wchar_t* familyName, const wchar_t* appId,
                                           BOOL* isInstalled) {
  const HkbhTrace trace(kIsInstalledEx, familyName);
  if (familyName == nullptr || appId == nullptr || isInstalled == nullptr) return trace.Out(E_POINTER);
  if (*familyName == L'\0') return trace.Out(E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByNameEx(familyName, appId, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalledEx, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::GetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kDisplayNameByPfn, HkbhText(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  const HkbhTrace trace(kDisplayNameByPfn, HkbhTrace::InWritten{});
  if (familyName == nullptr || displayName == nullptr) return trace.Out(E_POINTER);
  if (*familyName == L'\0') return trace.Out(E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  if (!found.Package) return trace.Out(kHkbhNotInstalled);
  return trace.Out(CHkbhManifestReader::GetAppDisplayName(found.Package.get(), displayName));
}

HRESULT CHkbhPackageManager::GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list,
                                                   BOOL* exact) {
  const HkbhTrace trace(kExclude, keyword);
  if (keyword == nullptr || list == nullptr || exact == nullptr) return trace.Out(E_POINTER);
  if (*keyword == L'\0') return trace.Out(E_INVALIDARG);
  return trace.Out(m_AppNameList.GetExcludeAppNameList(keyword, list, exact));
}

// ===========================================================================
// The query exports

HRESULT HkbhQueryIsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  const HkbhTrace trace(kExportIsInstalled, familyName);
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && isInstalled != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG : CHkbhPackageManager::IsInstalled(familyName, isInstalled);
  return trace.Out(hr);
}

HRESULT HkbhQueryIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled) {
  const HkbhTrace trace(kExportIsInstalledById, appUserModelId);
  if (appUserModelId == nullptr || isInstalled == nullptr) return trace.Out(E_POINTER);
  if (*appUserModelId == L'\0') return trace.Out(E_INVALIDARG);
  const hkbh::AppUserModelIdParts parts = hkbh::SplitAppUserModelId(appUserModelId);
  HRESULT hr;
  if (parts.has_bang && parts.office)
    hr = CHkbhPackageManager::IsInstalledEx(parts.family.c_str(), parts.app_id.c_str(), isInstalled);
  else
    hr = CHkbhPackageManager::IsInstalled(parts.family.c_str(), isInstalled);
  return trace.Out(hr);
}

HRESULT HkbhQueryGetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kExportDisplayName, HkbhText(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  const HkbhTrace trace(kExportDisplayName, HkbhTrace::InWritten{});
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && displayName != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG
                              : CHkbhPackageManager::GetAppDisplayNameByPFN(familyName, displayName);
  return trace.Out(hr);
}
