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
  WriteLog("%S IN\r\n", kGetPackageManager);
  HRESULT hr = runtime.initialize(RO_INIT_SINGLETHREADED);
  if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) {
    HkbhTraceOut(kGetPackageManager, hr);
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
  HkbhTraceOut(kGetPackageManager, S_OK);
  return manager;
}

void CHkbhPackageManager::FindPackageByName(const wchar_t* familyName, CHkbhFoundPackage& found) {
  WriteLog("%S(%S) IN\r\n", kFindByName, HkbhTraceText(familyName));
  if (familyName == nullptr || *familyName == L'\0') {
    HkbhTraceOut(kFindByName, familyName == nullptr ? E_POINTER : E_INVALIDARG);
    return;
  }
  const hkb::ComPtr<hkbrt::IPackageManager> manager = GetPackageManager(found.Runtime);
  if (!manager) {
    WriteLog("%S OUT(GetPackageManager failed.)\r\n", kFindByName);
    return;
  }
  const auto packages = PackagesOfFamily(kFindByName, manager.get(), familyName);
  if (packages) FirstPackage(kFindByName, packages.get(), found.Package);
  WriteLog("%S OUT\r\n", kFindByName);
}

void CHkbhPackageManager::FindPackageByNameEx(const wchar_t* familyName, const wchar_t* appId,
                                              CHkbhFoundPackage& found) {
  WriteLog("%S(%S, %S) IN\r\n", kFindByNameEx, HkbhTraceText(familyName), HkbhTraceText(appId));
  if (familyName == nullptr || appId == nullptr || *familyName == L'\0') {
    HkbhTraceOut(kFindByNameEx, familyName == nullptr || appId == nullptr ? E_POINTER : E_INVALIDARG);
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
  WriteLog("%S OUT\r\n", kFindByNameEx);
}

HRESULT CHkbhPackageManager::IsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kIsInstalled, HkbhTraceText(familyName));
  if (familyName == nullptr || isInstalled == nullptr) return HkbhTraceOut(kIsInstalled, E_POINTER);
  if (*familyName == L'\0') return HkbhTraceOut(kIsInstalled, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalled, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::IsInstalledEx(const wchar_t* familyName, const wchar_t* appId,
                                           BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kIsInstalledEx, HkbhTraceText(familyName));
  if (familyName == nullptr || appId == nullptr || isInstalled == nullptr)
    return HkbhTraceOut(kIsInstalledEx, E_POINTER);
  if (*familyName == L'\0') return HkbhTraceOut(kIsInstalledEx, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByNameEx(familyName, appId, found);
  *isInstalled = found.Package ? TRUE : FALSE;
  WriteLog("%S OUT(*pIsInstalled = %d)\r\n", kIsInstalledEx, *isInstalled);
  return S_OK;
}

HRESULT CHkbhPackageManager::GetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kDisplayNameByPfn, HkbhTraceText(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  if (familyName == nullptr || displayName == nullptr) return HkbhTraceOut(kDisplayNameByPfn, E_POINTER);
  if (*familyName == L'\0') return HkbhTraceOut(kDisplayNameByPfn, E_INVALIDARG);
  CHkbhFoundPackage found;
  FindPackageByName(familyName, found);
  if (!found.Package) return HkbhTraceOut(kDisplayNameByPfn, kHkbhNotInstalled);
  return HkbhTraceOut(kDisplayNameByPfn,
                      CHkbhManifestReader::GetAppDisplayName(found.Package.get(), displayName));
}

HRESULT CHkbhPackageManager::GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list,
                                                   BOOL* exact) {
  WriteLog("%S(%S) IN\r\n", kExclude, HkbhTraceText(keyword));
  if (keyword == nullptr || list == nullptr || exact == nullptr) return HkbhTraceOut(kExclude, E_POINTER);
  if (*keyword == L'\0') return HkbhTraceOut(kExclude, E_INVALIDARG);
  return HkbhTraceOut(kExclude, m_AppNameList.GetExcludeAppNameList(keyword, list, exact));
}

// ===========================================================================
// The query exports

HRESULT HkbhQueryIsInstalled(const wchar_t* familyName, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kExportIsInstalled, HkbhTraceText(familyName));
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && isInstalled != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG : CHkbhPackageManager::IsInstalled(familyName, isInstalled);
  return HkbhTraceOut(kExportIsInstalled, hr);
}

HRESULT HkbhQueryIsInstalledByAppUserModeID(const wchar_t* appUserModelId, BOOL* isInstalled) {
  WriteLog("%S(%S) IN\r\n", kExportIsInstalledById, HkbhTraceText(appUserModelId));
  if (appUserModelId == nullptr || isInstalled == nullptr)
    return HkbhTraceOut(kExportIsInstalledById, E_POINTER);
  if (*appUserModelId == L'\0') return HkbhTraceOut(kExportIsInstalledById, E_INVALIDARG);
  const hkbh::AppUserModelIdParts parts = hkbh::SplitAppUserModelId(appUserModelId);
  HRESULT hr;
  if (parts.has_bang && parts.office)
    hr = CHkbhPackageManager::IsInstalledEx(parts.family.c_str(), parts.app_id.c_str(), isInstalled);
  else
    hr = CHkbhPackageManager::IsInstalled(parts.family.c_str(), isInstalled);
  return HkbhTraceOut(kExportIsInstalledById, hr);
}

HRESULT HkbhQueryGetAppDisplayNameByPFN(const wchar_t* familyName, wchar_t** displayName) {
  WriteLog("%S(%S, 0x%08X) IN\r\n", kExportDisplayName, HkbhTraceText(familyName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(displayName)));
  HRESULT hr = E_POINTER;
  if (familyName != nullptr && displayName != nullptr)
    hr = *familyName == L'\0' ? E_INVALIDARG
                              : CHkbhPackageManager::GetAppDisplayNameByPFN(familyName, displayName);
  return HkbhTraceOut(kExportDisplayName, hr);
}
