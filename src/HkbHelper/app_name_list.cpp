#include "app_name_list.h"

#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "hkbh_log.h"
#include "manifest_reader.h"

namespace {

constexpr wchar_t kListAddPackage[] = L"CHkbhAppNameList::AddMetroPackage";
constexpr wchar_t kListAddDesktop[] = L"CHkbhAppNameList::AddDesktopApp";
constexpr wchar_t kListExclude[] = L"CHkbhAppNameList::GetExcludeAppNameList";
constexpr wchar_t kListIsInDesktop[] = L"CHkbhAppNameList::IsInDesktopAppList";
constexpr wchar_t kListGetPackage[] = L"CHkbhAppNameList::GetPackage";
constexpr wchar_t kListClear[] = L"CHkbhAppNameList::Clear";

// Brings the index up to the records and finds `name` in it: the record, or
// null. False when the index cannot grow (no memory); the caller then asks
// the records one by one.
template <class Record, class NameOf>
bool FindIndexed(hkbh::NameIndex& index, const std::vector<std::unique_ptr<Record>>& records, NameOf name_of,
                 const wchar_t* name, Record*& found) noexcept {
  try {
    while (index.covered() < records.size()) index.Append(name_of(*records[index.covered()]));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::optional<size_t> at = index.Find(name);
  found = at ? records[*at].get() : nullptr;
  return true;
}

}  // namespace

CHkbhAppNameList::CHkbhAppNameList() = default;

CHkbhAppNameList::~CHkbhAppNameList() { Clear(); }

HRESULT CHkbhAppNameList::AddMetroPackage(std::unique_ptr<CHkbhPackage> package) {
  const HkbhTrace trace(kListAddPackage);
  HRESULT hr = S_OK;
  if (!package) {
    hr = E_POINTER;
  } else {
    try {
      std::lock_guard<hkb::SrwLock> hold(m_lock);
      m_Packages.push_back(std::move(package));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  return trace.Out(hr);
}

HRESULT CHkbhAppNameList::AddMetroPackage(const HkbhPackageIdentity& identity) {
  const HkbhTrace trace(kListAddPackage, identity.FamilyName.c_str());
  HRESULT hr = S_OK;
  try {
    // The manifest path, asked of the platform only when it is needed.
    wchar_t manifest[kHkbhPathChars];
    auto manifest_path = [&]() -> HRESULT {
      std::wstring folder;
      const HRESULT got = identity.InstalledPath ? identity.InstalledPath(folder) : E_FAIL;
      if (FAILED(got)) {
        WriteLog("%S OUT(installed location: 0x%08X)\r\n", kListAddPackage, static_cast<unsigned>(got));
        return E_FAIL;
      }
      return HkbhBuildManifestPath(folder.c_str(), manifest) ? S_OK
                                                             : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    };

    CHkbhPackage* record = GetPackage(identity.FamilyName.c_str());
    if (record == nullptr) {
      auto made = std::make_unique<CHkbhPackage>(identity.FamilyName, identity.FullName, identity.Name,
                                                 identity.Version, FALSE, TRUE);
      hr = manifest_path();
      if (hr == E_FAIL) {
        return trace.Out(hr);
      }
      if (SUCCEEDED(hr)) CHkbhManifestReader::AddAppsToPackage(manifest, made.get());
      hr = AddMetroPackage(std::move(made));
    } else {
      BOOL reserved = FALSE;
      BOOL same = FALSE;
      {
        std::shared_lock<hkb::SrwLock> hold(m_lock);
        reserved = record->NeedReserve();
        same = record->Version() == identity.Version;
      }
      if (reserved || same) {
        hr = S_OK;
      } else {
        {
          std::lock_guard<hkb::SrwLock> hold(m_lock);
          record->SetIdentity(identity.FullName, identity.Name);
        }
        hr = manifest_path();
        BOOL readable = FALSE;
        // The names are read into a package of their own and swapped in, so
        // that readers of the catalogue never see the apps half read.
        CHkbhPackage fresh(identity.FamilyName, identity.FullName, identity.Name, identity.Version, FALSE,
                           TRUE);
        if (SUCCEEDED(hr)) hr = CHkbhManifestReader::IsCanGetAppNameFromManifest(manifest, &fresh, &readable);
        if (SUCCEEDED(hr) && readable) {
          CHkbhManifestReader::AddAppsToPackage(manifest, &fresh);
          std::lock_guard<hkb::SrwLock> hold(m_lock);
          record->SetVersion(identity.Version);
          record->SwapApps(fresh);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

HRESULT CHkbhAppNameList::AddDesktopApp(const wchar_t* displayName, const wchar_t* lnkFileName) {
  const HkbhTrace trace(kListAddDesktop, displayName, lnkFileName);
  if (displayName == nullptr || lnkFileName == nullptr) return E_POINTER;
  if (*displayName == L'\0' || *lnkFileName == L'\0') return E_INVALIDARG;
  HRESULT hr = S_OK;
  try {
    auto app = std::make_unique<CHkbhDesktopApp>(displayName, lnkFileName, L"", L"", FALSE, TRUE, FALSE);
    std::lock_guard<hkb::SrwLock> hold(m_lock);
    if (FindDesktopApp(lnkFileName))
      hr = S_FALSE;
    else
      m_DesktopApps.push_back(std::move(app));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

HRESULT CHkbhAppNameList::AddDesktopApp(std::unique_ptr<CHkbhDesktopApp> app) {
  const HkbhTrace trace(kListAddDesktop);
  HRESULT hr = S_OK;
  if (!app) {
    hr = E_POINTER;
  } else {
    try {
      std::lock_guard<hkb::SrwLock> hold(m_lock);
      m_DesktopApps.push_back(std::move(app));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  return trace.Out(hr);
}

BOOL CHkbhAppNameList::FindDesktopApp(const wchar_t* lnkFileName) const {
  if (lnkFileName == nullptr || *lnkFileName == L'\0') return FALSE;
  if (!HkbhIsLogSwitchOn()) {
    std::lock_guard<hkb::SrwLock> hold(m_indexLock);
    CHkbhDesktopApp* found = nullptr;
    const auto path = [](const CHkbhDesktopApp& app) { return std::wstring_view(app.LnkFileName()); };
    if (FindIndexed(m_shortcutIndex, m_DesktopApps, path, lnkFileName, found)) return found ? TRUE : FALSE;
  }
  for (const auto& app : m_DesktopApps) {
    if (app->IsSameShortcut(lnkFileName)) return TRUE;
  }
  return FALSE;
}

BOOL CHkbhAppNameList::IsInDesktopAppList(const wchar_t* lnkFileName) const {
  const HkbhTrace trace(kListIsInDesktop, lnkFileName);
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  const BOOL found = FindDesktopApp(lnkFileName);
  return trace.OutValue(found);
}

CHkbhPackage* CHkbhAppNameList::FindPackage(const wchar_t* familyName) const {
  if (familyName == nullptr || *familyName == L'\0') return nullptr;
  if (!HkbhIsLogSwitchOn()) {
    std::lock_guard<hkb::SrwLock> hold(m_indexLock);
    CHkbhPackage* found = nullptr;
    const auto family = [](const CHkbhPackage& p) { return std::wstring_view(p.PackageFamilyName()); };
    if (FindIndexed(m_packageIndex, m_Packages, family, familyName, found)) return found;
  }
  for (const auto& package : m_Packages) {
    if (package->IsThisPackage(familyName)) return package.get();
  }
  return nullptr;
}

CHkbhPackage* CHkbhAppNameList::GetPackage(const wchar_t* familyName) const {
  const HkbhTrace trace(kListGetPackage, familyName);
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  CHkbhPackage* found = FindPackage(familyName);
  trace.OutValue(found != nullptr ? 1 : 0);
  return found;
}

void CHkbhAppNameList::Clear() {
  const HkbhTrace trace(kListClear);
  std::lock_guard<hkb::SrwLock> hold(m_lock);
  m_packageIndex.Clear();
  m_shortcutIndex.Clear();
  m_Packages.clear();
  m_DesktopApps.clear();
  trace.Out();
}

HRESULT CHkbhAppNameList::GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list,
                                                BOOL* exact) const {
  const HkbhTrace trace(kListExclude, keyword);
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  *exact = FALSE;
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  for (const auto& package : m_Packages) {
    if (package->IsInstalled()) package->AddAppNameToExcludeList(keyword, list, exact);
  }
  for (const auto& app : m_DesktopApps) {
    BOOL found = FALSE;
    app->AddToExcludeAppNameList(keyword, list, &found);
    if (found) *exact = TRUE;
  }
  return trace.Out(S_OK);
}

size_t CHkbhAppNameList::PackageCount() const {
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  return m_Packages.size();
}

size_t CHkbhAppNameList::DesktopAppCount() const {
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  return m_DesktopApps.size();
}

BOOL CHkbhAppNameList::GetPackageFamilyNameAt(size_t index, std::wstring& familyName) const {
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  if (index >= m_Packages.size()) return FALSE;
  try {
    familyName = m_Packages[index]->PackageFamilyName();
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

BOOL CHkbhAppNameList::GetDesktopAppLnkFileNameAt(size_t index, std::wstring& lnkFileName) const {
  std::shared_lock<hkb::SrwLock> hold(m_lock);
  if (index >= m_DesktopApps.size()) return FALSE;
  try {
    lnkFileName = m_DesktopApps[index]->LnkFileName();
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

void CHkbhAppNameList::SetPackageInstalledAt(size_t index, BOOL installed) {
  std::lock_guard<hkb::SrwLock> hold(m_lock);
  if (index < m_Packages.size()) m_Packages[index]->SetInstalled(installed);
}

void CHkbhAppNameList::SetDesktopAppInstalledAt(size_t index, BOOL installed) {
  std::lock_guard<hkb::SrwLock> hold(m_lock);
  if (index < m_DesktopApps.size()) m_DesktopApps[index]->SetInstalled(installed);
}
