#include "app_records.h"

#include <new>
#include <utility>

#include "hkbh_log.h"

namespace {

constexpr wchar_t kAppIsSubStr[] = L"CHkbhApp::IsSubStrNoOrder";
constexpr wchar_t kMetroExclude[] = L"CHkbhMetroApp::AddToExcludeAppNameList";
constexpr wchar_t kDesktopExclude[] = L"CHkbhDesktopApp::AddToExcludeAppNameList";
constexpr wchar_t kPackageAddApp[] = L"CHkbhPackage::AddApplication";
constexpr wchar_t kPackageExclude[] = L"CHkbhPackage::AddAppNameToExcludeList";
constexpr wchar_t kPackageIsThis[] = L"CHkbhPackage::IsThisPackage";
constexpr wchar_t kPackageDeleteApps[] = L"CHkbhPackage::DeleteAllApp";
constexpr wchar_t kDesktopSame[] = L"CHkbhDesktopApp::IsSameShortcut";

// The keyword test as the exclusion rules use it: traced while the log is on,
// the bare test otherwise (the views always come from whole strings).
bool CoversTraced(std::wstring_view searched, std::wstring_view other) {
  if (!HkbhIsLogSwitchOn()) return hkbh::IsSubStrNoOrder(searched, other);
  return CHkbhApp::IsSubStrNoOrder(std::wstring(searched).c_str(), std::wstring(other).c_str()) != FALSE;
}

HRESULT ToResult(const hkbh::ExcludeOutcome& outcome) {
  if (!outcome.last_add) return S_OK;
  return *outcome.last_add == hkbh::AddResult::Added ? S_OK : S_FALSE;
}

}  // namespace

// ===========================================================================
// CHkbhApp

CHkbhApp::CHkbhApp(std::wstring_view displayName, std::wstring_view rubyDisplayName)
    : m_DisplayName(hkbh::FoldLower(displayName)), m_RubyDisplayName(rubyDisplayName) {}

CHkbhApp::~CHkbhApp() = default;

BOOL CHkbhApp::IsSubStrNoOrder(const wchar_t* searched, const wchar_t* other) {
  WriteLog("%S(%S, %S) IN\r\n", kAppIsSubStr, HkbhTraceText(searched), HkbhTraceText(other));
  const BOOL result = hkbh::IsSubStrNoOrder(searched ? searched : L"", other ? other : L"") ? TRUE : FALSE;
  WriteLog("%S OUT(%d)\r\n", kAppIsSubStr, result);
  return result;
}

// ===========================================================================
// CHkbhMetroApp

CHkbhMetroApp::CHkbhMetroApp(std::wstring_view displayName, std::wstring_view shortName,
                             std::wstring_view rubyDisplayName, std::wstring_view rubyShortName)
    : CHkbhApp(displayName, rubyDisplayName),
      m_ShortName(hkbh::FoldLower(shortName)),
      m_RubyShortName(rubyShortName) {}

HRESULT CHkbhMetroApp::AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  WriteLog("%S(%S) IN\r\n", kMetroExclude, HkbhTraceText(keyword));
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  *exact = FALSE;
  HRESULT hr = S_OK;
  try {
    const std::wstring folded = hkbh::FoldLower(keyword);
    const hkbh::ExcludeOutcome outcome = hkbh::ExcludeMetroApp(
        folded, m_DisplayName, m_RubyDisplayName, m_ShortName, m_RubyShortName, *list, CoversTraced);
    *exact = outcome.exact ? TRUE : FALSE;
    hr = ToResult(outcome);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kMetroExclude, static_cast<unsigned>(hr));
  return hr;
}

// ===========================================================================
// CHkbhDesktopApp

CHkbhDesktopApp::CHkbhDesktopApp(std::wstring_view displayName, std::wstring_view lnkFileName,
                                 std::wstring_view localizeName, std::wstring_view rubyDisplayName,
                                 BOOL needReserve, BOOL isInstalled, BOOL isDualMode)
    : CHkbhApp(displayName, rubyDisplayName),
      m_NeedReserve(needReserve ? TRUE : FALSE),
      m_LocalizeName(localizeName),
      m_LnkFileName(lnkFileName),
      m_IsInstalled(isInstalled ? TRUE : FALSE),
      m_IsDualMode(isDualMode ? TRUE : FALSE) {}

HRESULT CHkbhDesktopApp::AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  WriteLog("%S(%S) IN\r\n", kDesktopExclude, HkbhTraceText(keyword));
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  if (!m_IsInstalled) {
    WriteLog("%S OUT(0x%08X)\r\n", kDesktopExclude, static_cast<unsigned>(S_FALSE));
    return S_FALSE;
  }
  *exact = FALSE;
  HRESULT hr = S_OK;
  try {
    const std::wstring folded = hkbh::FoldLower(keyword);
    const std::wstring& name = m_LocalizeName.empty() ? m_DisplayName : m_LocalizeName;
    const hkbh::ExcludeOutcome outcome =
        hkbh::ExcludeDesktopApp(folded, name, m_RubyDisplayName, m_IsDualMode != FALSE, *list, CoversTraced);
    *exact = outcome.exact ? TRUE : FALSE;
    hr = ToResult(outcome);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kDesktopExclude, static_cast<unsigned>(hr));
  return hr;
}

BOOL CHkbhDesktopApp::IsSameShortcut(const wchar_t* path) const {
  WriteLog("%S(%S) IN\r\n", kDesktopSame, HkbhTraceText(path));
  const BOOL same = (path != nullptr && hkbh::EqualsNoCase(m_LnkFileName, path)) ? TRUE : FALSE;
  WriteLog("%S OUT(%d)\r\n", kDesktopSame, same);
  return same;
}

// ===========================================================================
// CHkbhPackage

CHkbhPackage::CHkbhPackage(std::wstring_view familyName, std::wstring_view fullName, std::wstring_view name,
                           const HkbhVersion& version, BOOL needReserve, BOOL isInstalled)
    : m_PackageFamilyName(familyName),
      m_FullName(fullName),
      m_Name(name),
      m_Version(version),
      m_NeedReserve(needReserve ? TRUE : FALSE),
      m_IsInstalled(isInstalled ? TRUE : FALSE) {}

CHkbhPackage::~CHkbhPackage() = default;

BOOL CHkbhPackage::IsThisPackage(const wchar_t* familyName) const {
  WriteLog("%S(%S) IN\r\n", kPackageIsThis, HkbhTraceText(familyName));
  const BOOL same =
      (familyName != nullptr && !m_PackageFamilyName.empty() && m_PackageFamilyName == familyName) ? TRUE
                                                                                                   : FALSE;
  WriteLog("%S OUT(%d)\r\n", kPackageIsThis, same);
  return same;
}

HRESULT CHkbhPackage::AddApplication(std::unique_ptr<CHkbhMetroApp> app) {
  WriteLog("%S IN\r\n", kPackageAddApp);
  HRESULT hr = S_OK;
  if (!app) {
    hr = E_POINTER;
  } else {
    try {
      m_Apps.push_back(std::move(app));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  WriteLog("%S OUT(0x%08X)\r\n", kPackageAddApp, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhPackage::AddApplication(const wchar_t* displayName, const wchar_t* shortName) {
  WriteLog("%S(%S, %S) IN\r\n", kPackageAddApp, HkbhTraceText(displayName), HkbhTraceText(shortName));
  if (displayName == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    hr = AddApplication(std::make_unique<CHkbhMetroApp>(displayName, shortName ? shortName : L"", L"", L""));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kPackageAddApp, static_cast<unsigned>(hr));
  return hr;
}

void CHkbhPackage::DeleteAllApp() {
  WriteLog("%S IN\r\n", kPackageDeleteApps);
  m_Apps.clear();
  WriteLog("%S OUT\r\n", kPackageDeleteApps);
}

void CHkbhPackage::AddAppNameToExcludeList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  WriteLog("%S(%S) IN\r\n", kPackageExclude, m_PackageFamilyName.c_str());
  for (const auto& app : m_Apps) {
    BOOL found = FALSE;
    app->AddToExcludeAppNameList(keyword, list, &found);
    if (found && exact != nullptr) *exact = TRUE;
  }
  WriteLog("%S OUT\r\n", kPackageExclude);
}

void CHkbhPackage::SetIdentity(std::wstring_view fullName, std::wstring_view name) {
  m_FullName.assign(fullName);
  m_Name.assign(name);
}
