#include "app_name_list.h"

#include <shlwapi.h>

#include <atomic>
#include <cwchar>
#include <new>
#include <utility>

#include "hkb/com.h"
#include "hkb/unique.h"
#include "hkbh_log.h"
#include "manifest_reader.h"
#include "xml_io.h"

namespace {

constexpr wchar_t kAppIsSubStr[] = L"CHkbhApp::IsSubStrNoOrder";
constexpr wchar_t kMetroExclude[] = L"CHkbhMetroApp::AddToExcludeAppNameList";
constexpr wchar_t kDesktopExclude[] = L"CHkbhDesktopApp::AddToExcludeAppNameList";
constexpr wchar_t kMetroToXml[] = L"CHkbhMetroApp::ToXmlNode";
constexpr wchar_t kDesktopToXml[] = L"CHkbhDesktopApp::ToXmlNode";
constexpr wchar_t kMetroFromXml[] = L"CHkbhMetroApp::FromXmlNode";
constexpr wchar_t kDesktopFromXml[] = L"CHkbhDesktopApp::FromXmlNode";
constexpr wchar_t kPackageFromXml[] = L"CHkbhPackage::FromXmlNode";
constexpr wchar_t kPackageToXml[] = L"CHkbhPackage::ToXmlNode";
constexpr wchar_t kPackageAddApp[] = L"CHkbhPackage::AddApplication";
constexpr wchar_t kPackageExclude[] = L"CHkbhPackage::AddAppNameToExcludeList";
constexpr wchar_t kListSave[] = L"CHkbhAppNameList::Save";
constexpr wchar_t kListLoad[] = L"CHkbhAppNameList::Load";
constexpr wchar_t kListReadDesktop[] = L"CHkbhAppNameList::ReadDesktopApps";
constexpr wchar_t kListAddPackage[] = L"CHkbhAppNameList::AddMetroPackage";
constexpr wchar_t kListAddDesktop[] = L"CHkbhAppNameList::AddDesktopApp";
constexpr wchar_t kListExclude[] = L"CHkbhAppNameList::GetExcludeAppNameList";
constexpr wchar_t kListIsInDesktop[] = L"CHkbhAppNameList::IsInDesktopAppList";
constexpr wchar_t kListGetPackage[] = L"CHkbhAppNameList::GetPackage";
constexpr wchar_t kListClear[] = L"CHkbhAppNameList::Clear";
constexpr wchar_t kPackageIsThis[] = L"CHkbhPackage::IsThisPackage";
constexpr wchar_t kPackageDeleteApps[] = L"CHkbhPackage::DeleteAllApp";
constexpr wchar_t kDesktopSame[] = L"CHkbhDesktopApp::IsSameShortcut";

const wchar_t* Text(const wchar_t* s) { return s ? s : L"(null)"; }

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

HRESULT WriteAttribute(IXmlWriter* writer, const wchar_t* name, const wchar_t* value) {
  return HkbhWriteAttribute(writer, name, value);
}

// The file stream under the catalogue writer. It passes everything on and
// remembers the first write that failed, so that a document cut short by a
// failing disk is never taken for a complete one, whatever the writer's own
// bookkeeping reports afterwards.
class CWatchedStream final : public IStream {
 public:
  explicit CWatchedStream(IStream* inner) : m_inner(inner) { m_inner->AddRef(); }
  HRESULT failure() const { return m_failure; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* read) override {
    return m_inner->Read(pv, cb, read);
  }
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override {
    ULONG done = 0;
    HRESULT hr = m_inner->Write(pv, cb, &done);
    if (SUCCEEDED(hr) && done != cb) hr = STG_E_MEDIUMFULL;
    if (FAILED(hr) && SUCCEEDED(m_failure)) m_failure = hr;
    if (written) *written = done;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
    return m_inner->Seek(move, origin, pos);
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return m_inner->SetSize(size); }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override {
    return m_inner->CopyTo(to, cb, read, written);
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return m_inner->Commit(flags); }
  HRESULT STDMETHODCALLTYPE Revert() override { return m_inner->Revert(); }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD type) override {
    return m_inner->LockRegion(off, cb, type);
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD type) override {
    return m_inner->UnlockRegion(off, cb, type);
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return m_inner->Stat(stat, flags); }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~CWatchedStream() { m_inner->Release(); }
  IStream* m_inner;
  std::atomic<ULONG> m_refs{1};
  HRESULT m_failure = S_OK;
};

// A temporary file of a save younger than this may belong to a save that is
// still running (another process of the same name saves to the same folder);
// older ones are left over from a save that was killed before its rename.
constexpr ULONGLONG kLeftoverTempAge100ns = 10ull * 60 * 1000 * 1000 * 10;  // 10 minutes

// Removes the temporary files that killed saves left in the folder: only
// names the save itself gives them, only files, only old ones. A file that
// cannot be removed (still open, read-only) stays.
void RemoveLeftoverTempFiles(const wchar_t* folder) {
  std::wstring search = folder;
  if (!search.empty() && search.back() != L'\\') search += L'\\';
  const size_t folderLength = search.size();
  search += hkbh::kCatalogueTempPrefix;
  search += L"*.tmp";
  WIN32_FIND_DATAW entry;
  const hkb::UniqueFind find(::FindFirstFileW(search.c_str(), &entry));
  if (!find) return;
  FILETIME nowTime;
  ::GetSystemTimeAsFileTime(&nowTime);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const ULONGLONG now = ticks(nowTime);
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (!hkbh::IsCatalogueTempName(entry.cFileName)) continue;
    const ULONGLONG written = ticks(entry.ftLastWriteTime);
    if (written > now || now - written < kLeftoverTempAge100ns) continue;
    const std::wstring path = search.substr(0, folderLength) + entry.cFileName;
    if (::DeleteFileW(path.c_str()))
      WriteLog("%S Removed a temporary file left by an earlier save: %S\r\n", kListSave, entry.cFileName);
  } while (::FindNextFileW(find.get(), &entry));
}

// Writes what the system still holds of the file to the disk, so that the
// rename that follows never puts a file in place whose contents a power
// failure could lose.
HRESULT FlushToDisk(const wchar_t* path) {
  const hkb::UniqueFile file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !::FlushFileBuffers(file.get())) return HRESULT_FROM_WIN32(::GetLastError());
  return S_OK;
}

// The folder part of a path ("." for a bare file name), for the temporary file.
BOOL FolderOf(const wchar_t* path, wchar_t (&out)[kHkbhPathChars]) {
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr) {
    std::wcscpy(out, L".");
    return TRUE;
  }
  const size_t n = static_cast<size_t>(slash - path);
  if (n + 1 > kHkbhPathChars) return FALSE;
  std::wmemcpy(out, path, n);
  out[n] = L'\0';
  if (n == 0 || (n == 2 && path[1] == L':')) {  // "\x" or "C:\x": keep the root's backslash
    if (n + 2 > kHkbhPathChars) return FALSE;
    out[n] = L'\\';
    out[n + 1] = L'\0';
  }
  return TRUE;
}

}  // namespace

// ===========================================================================
// CHkbhApp

CHkbhApp::CHkbhApp(std::wstring_view displayName, std::wstring_view rubyDisplayName)
    : m_DisplayName(hkbh::FoldLower(displayName)), m_RubyDisplayName(rubyDisplayName) {}

CHkbhApp::~CHkbhApp() = default;

BOOL CHkbhApp::IsSubStrNoOrder(const wchar_t* searched, const wchar_t* other) {
  WriteLog("%S(%S, %S) IN\r\n", kAppIsSubStr, Text(searched), Text(other));
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
  WriteLog("%S(%S) IN\r\n", kMetroExclude, Text(keyword));
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

HRESULT CHkbhMetroApp::ToXmlNode(IXmlWriter* writer) {
  WriteLog("%S IN\r\n", kMetroToXml);
  if (writer == nullptr) return E_POINTER;
  writer->WriteStartElement(nullptr, L"MetroApp", nullptr);
  if (!m_DisplayName.empty()) WriteAttribute(writer, L"DisplayName", m_DisplayName.c_str());
  if (!m_ShortName.empty()) WriteAttribute(writer, L"ShortName", m_ShortName.c_str());
  if (!m_RubyDisplayName.empty()) WriteAttribute(writer, L"RubyDisplayName", m_RubyDisplayName.c_str());
  if (!m_RubyShortName.empty()) WriteAttribute(writer, L"RubyShortName", m_RubyShortName.c_str());
  const HRESULT hr = writer->WriteEndElement();
  WriteLog("%S OUT(0x%08X)\r\n", kMetroToXml, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhMetroApp::FromXmlNode(IXmlReader* reader, CHkbhMetroApp** app) {
  WriteLog("%S IN\r\n", kMetroFromXml);
  if (reader == nullptr || app == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    std::wstring display, shortName, rubyDisplay, rubyShort;
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      std::wstring* target = nullptr;
      if (HkbhIsLocalName(reader, L"DisplayName"))
        target = &display;
      else if (HkbhIsLocalName(reader, L"ShortName"))
        target = &shortName;
      else if (HkbhIsLocalName(reader, L"RubyDisplayName"))
        target = &rubyDisplay;
      else if (HkbhIsLocalName(reader, L"RubyShortName"))
        target = &rubyShort;
      if (target != nullptr) {
        hr = HkbhGetValue(reader, *target);
        if (FAILED(hr)) break;
      }
      hr = reader->MoveToNextAttribute();
    }
    if (SUCCEEDED(hr)) {
      *app = new CHkbhMetroApp(display, shortName, rubyDisplay, rubyShort);
      hr = S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kMetroFromXml, static_cast<unsigned>(hr));
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
  WriteLog("%S(%S) IN\r\n", kDesktopExclude, Text(keyword));
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

HRESULT CHkbhDesktopApp::ToXmlNode(IXmlWriter* writer) {
  WriteLog("%S IN\r\n", kDesktopToXml);
  if (writer == nullptr) return E_POINTER;
  if (!m_NeedReserve && !m_IsInstalled) {
    WriteLog("%S OUT(0x%08X)\r\n", kDesktopToXml, static_cast<unsigned>(S_FALSE));
    return S_FALSE;
  }
  writer->WriteStartElement(nullptr, L"DesktopApp", nullptr);
  if (!m_DisplayName.empty()) WriteAttribute(writer, L"DisplayName", m_DisplayName.c_str());
  if (!m_LnkFileName.empty()) WriteAttribute(writer, L"LnkFileName", m_LnkFileName.c_str());
  if (!m_LocalizeName.empty()) WriteAttribute(writer, L"LocalizeName", m_LocalizeName.c_str());
  if (!m_RubyDisplayName.empty()) WriteAttribute(writer, L"RubyDisplayName", m_RubyDisplayName.c_str());
  if (m_NeedReserve) WriteAttribute(writer, L"NeedReserve", L"1");
  if (!m_IsInstalled) WriteAttribute(writer, L"IsInstalled", L"0");
  if (m_IsDualMode) WriteAttribute(writer, L"IsDualMode", L"1");
  const HRESULT hr = writer->WriteEndElement();
  WriteLog("%S OUT(0x%08X)\r\n", kDesktopToXml, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhDesktopApp::FromXmlNode(IXmlReader* reader, CHkbhDesktopApp** app) {
  WriteLog("%S IN\r\n", kDesktopFromXml);
  if (reader == nullptr || app == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    std::wstring display, lnk, localize, ruby, value;
    BOOL needReserve = FALSE;
    BOOL isInstalled = TRUE;
    BOOL isDualMode = FALSE;
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      std::wstring* target = nullptr;
      BOOL* flag = nullptr;
      BOOL flagWhenNotNumber = FALSE;
      if (HkbhIsLocalName(reader, L"DisplayName")) {
        target = &display;
      } else if (HkbhIsLocalName(reader, L"LnkFileName")) {
        target = &lnk;
      } else if (HkbhIsLocalName(reader, L"LocalizeName")) {
        target = &localize;
      } else if (HkbhIsLocalName(reader, L"RubyDisplayName")) {
        target = &ruby;
      } else if (HkbhIsLocalName(reader, L"NeedReserve")) {
        flag = &needReserve;
        flagWhenNotNumber = TRUE;
      } else if (HkbhIsLocalName(reader, L"IsInstalled")) {
        flag = &isInstalled;
        flagWhenNotNumber = TRUE;
      } else if (HkbhIsLocalName(reader, L"IsDualMode")) {
        flag = &isDualMode;
      }
      if (target != nullptr || flag != nullptr) {
        hr = HkbhGetValue(reader, target ? *target : value);
        if (FAILED(hr)) break;
        if (flag != nullptr) {
          const std::optional<bool> parsed = hkbh::ParseFlagText(value);
          *flag = parsed ? (*parsed ? TRUE : FALSE) : flagWhenNotNumber;
        }
      }
      hr = reader->MoveToNextAttribute();
    }
    if (SUCCEEDED(hr)) {
      // Environment variables in the shortcut path are expanded; a path that
      // does not expand into 260 units stays as it was written.
      if (!lnk.empty()) {
        wchar_t expanded[kHkbhPathChars];
        const DWORD n =
            ::ExpandEnvironmentStringsW(lnk.c_str(), expanded, static_cast<DWORD>(kHkbhPathChars));
        if (n != 0 && n <= kHkbhPathChars) lnk.assign(expanded);
      }
      *app = new CHkbhDesktopApp(display, lnk, localize, ruby, needReserve, isInstalled, isDualMode);
      hr = S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kDesktopFromXml, static_cast<unsigned>(hr));
  return hr;
}

BOOL CHkbhDesktopApp::IsSameShortcut(const wchar_t* path) const {
  WriteLog("%S(%S) IN\r\n", kDesktopSame, Text(path));
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

HRESULT CHkbhPackage::FromXmlNode(IXmlReader* reader, CHkbhPackage** package) {
  WriteLog("%S IN\r\n", kPackageFromXml);
  if (reader == nullptr || package == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    UINT depth = 0;
    reader->GetDepth(&depth);
    std::wstring family, version, value;
    BOOL needReserve = FALSE;
    BOOL isInstalled = TRUE;
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      if (HkbhIsLocalName(reader, L"PackageFamilyName")) {
        hr = HkbhGetValue(reader, family);
      } else if (HkbhIsLocalName(reader, L"Version")) {
        hr = HkbhGetValue(reader, version);
      } else if (HkbhIsLocalName(reader, L"NeedReserve")) {
        hr = HkbhGetValue(reader, value);
        needReserve = hkbh::ParseFlagText(value).value_or(true) ? TRUE : FALSE;
      } else if (HkbhIsLocalName(reader, L"IsInstalled")) {
        hr = HkbhGetValue(reader, value);
        isInstalled = hkbh::ParseFlagText(value).value_or(true) ? TRUE : FALSE;
      }
      if (FAILED(hr)) break;
      hr = reader->MoveToNextAttribute();
    }
    if (FAILED(hr)) {
      WriteLog("%S OUT(0x%08X)\r\n", kPackageFromXml, static_cast<unsigned>(hr));
      return hr;
    }
    reader->MoveToElement();

    auto made = std::make_unique<CHkbhPackage>(family, L"", L"", hkbh::ParseVersionText(version), needReserve,
                                               isInstalled);
    for (;;) {
      XmlNodeType type = XmlNodeType_None;
      hr = HkbhReadNode(reader, &type);
      if (hr == S_FALSE || FAILED(hr)) break;
      const UINT at = HkbhNodeDepth(reader, type);
      if (type == XmlNodeType_Element) {
        if (at <= depth) break;  // the caller examines this element next
        if (HkbhIsLocalName(reader, L"MetroApp")) {
          CHkbhMetroApp* app = nullptr;
          if (SUCCEEDED(CHkbhMetroApp::FromXmlNode(reader, &app)) && app != nullptr)
            made->AddApplication(std::unique_ptr<CHkbhMetroApp>(app));
        }
      } else if (type == XmlNodeType_EndElement && at <= depth + 1) {
        break;
      }
    }
    if (SUCCEEDED(hr)) *package = made.release();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kPackageFromXml, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhPackage::ToXmlNode(IXmlWriter* writer) {
  WriteLog("%S(%S) IN\r\n", kPackageToXml, m_PackageFamilyName.c_str());
  if (writer == nullptr) return E_POINTER;
  if (!m_IsInstalled && !m_NeedReserve) {
    WriteLog("%S OUT(0x%08X)\r\n", kPackageToXml, static_cast<unsigned>(S_OK));
    return S_OK;
  }
  writer->WriteStartElement(nullptr, L"Package", nullptr);
  HRESULT hr = WriteAttribute(writer, L"PackageFamilyName", m_PackageFamilyName.c_str());
  if (SUCCEEDED(hr)) {
    wchar_t version[64];
    std::swprintf(version, 64, L"%d.%d.%d.%d", m_Version.major, m_Version.minor, m_Version.build,
                  m_Version.revision);
    hr = WriteAttribute(writer, L"Version", version);
    if (m_NeedReserve) hr = WriteAttribute(writer, L"NeedReserve", L"1");
    if (!m_IsInstalled) hr = WriteAttribute(writer, L"IsInstalled", L"0");
    if (SUCCEEDED(hr)) {
      for (const auto& app : m_Apps) {
        if (FAILED(app->ToXmlNode(writer))) break;
      }
    }
  }
  hr = writer->WriteEndElement();
  WriteLog("%S OUT(0x%08X)\r\n", kPackageToXml, static_cast<unsigned>(hr));
  return hr;
}

BOOL CHkbhPackage::IsThisPackage(const wchar_t* familyName) const {
  WriteLog("%S(%S) IN\r\n", kPackageIsThis, Text(familyName));
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
  WriteLog("%S(%S, %S) IN\r\n", kPackageAddApp, Text(displayName), Text(shortName));
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

// ===========================================================================
// CHkbhAppNameList

CHkbhAppNameList::CHkbhAppNameList() = default;

CHkbhAppNameList::~CHkbhAppNameList() { Clear(); }

HRESULT CHkbhAppNameList::WriteDocument(IXmlWriter* writer) const {
  if (SUCCEEDED(writer->WriteStartElement(nullptr, L"Applications", nullptr))) {
    if (SUCCEEDED(writer->WriteStartElement(nullptr, L"MetroApps", nullptr))) {
      for (const auto& package : m_Packages) package->ToXmlNode(writer);
      writer->WriteEndElement();
    }
    if (SUCCEEDED(writer->WriteStartElement(nullptr, L"DesktopApps", nullptr))) {
      for (const auto& app : m_DesktopApps) app->ToXmlNode(writer);
      writer->WriteEndElement();
    }
  }
  writer->WriteEndDocument();
  return writer->Flush();
}

HRESULT CHkbhAppNameList::Save(const wchar_t* path) {
  WriteLog("%S(%S) IN\r\n", kListSave, Text(path));
  if (path == nullptr) return E_POINTER;
  if (*path == L'\0') return E_INVALIDARG;

  HRESULT hr = S_OK;
  wchar_t folder[kHkbhPathChars];
  wchar_t temp[MAX_PATH];
  const BOOL haveFolder = FolderOf(path, folder);
  if (haveFolder) RemoveLeftoverTempFiles(folder);
  if (!haveFolder) {
    hr = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  } else if (!::GetTempFileNameW(folder, hkbh::kCatalogueTempPrefix, 0, temp)) {
    // No file can be created there (folder missing, no access): the
    // catalogue file stays as it is.
    hr = HRESULT_FROM_WIN32(::GetLastError());
  } else {
    try {
      hkb::ComPtr<IStream> file;
      hr = ::SHCreateStreamOnFileW(temp, STGM_CREATE | STGM_WRITE, file.put());
      if (SUCCEEDED(hr)) {
        auto watched = hkb::ComPtr<CWatchedStream>::attach(new CWatchedStream(file.get()));
        hkb::ComPtr<IXmlWriter> writer;
        hr = HkbhCreateXmlWriter(watched.get(), writer);
        if (SUCCEEDED(hr)) hr = writer->WriteStartDocument(XmlStandalone_Omit);
        if (SUCCEEDED(hr)) {
          std::shared_lock<CHkbhListLock> hold(m_lock);
          hr = WriteDocument(writer.get());
        }
        if (SUCCEEDED(hr) && FAILED(watched->failure())) hr = watched->failure();
        if (SUCCEEDED(hr)) {
          const HRESULT commit = file->Commit(STGC_DEFAULT);
          if (FAILED(commit) && commit != E_NOTIMPL) hr = commit;
        }
      }
      // Writer and streams are released here: the file is closed before it
      // replaces the catalogue file.
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) hr = FlushToDisk(temp);
    if (SUCCEEDED(hr) && !::MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      hr = HRESULT_FROM_WIN32(::GetLastError());
    if (FAILED(hr)) ::DeleteFileW(temp);
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListSave, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::Load(const wchar_t* path) {
  WriteLog("%S(%S) IN\r\n", kListLoad, Text(path));
  if (path == nullptr) return E_POINTER;
  if (*path == L'\0') return E_INVALIDARG;

  hkb::ComPtr<IXmlReader> reader;
  HRESULT hr = HkbhOpenXmlReader(path, reader);
  if (FAILED(hr)) {
    WriteLog("%S OUT(0x%08X)\r\n", kListLoad, static_cast<unsigned>(hr));
    return hr;
  }

  // Records are read into a list of their own and joined to the catalogue at
  // the end, in one step under the lock.
  CHkbhAppNameList read;
  try {
    XmlNodeType type = XmlNodeType_None;
    hr = HkbhReadNode(reader.get(), &type);
    while (hr == S_OK) {
      bool examine_current = false;
      if (type == XmlNodeType_Element && HkbhIsLocalName(reader.get(), L"Package")) {
        CHkbhPackage* package = nullptr;
        hr = CHkbhPackage::FromXmlNode(reader.get(), &package);
        if (SUCCEEDED(hr) && package != nullptr) {
          const HRESULT added = read.AddMetroPackage(std::unique_ptr<CHkbhPackage>(package));
          if (FAILED(added)) hr = added;
        }
        examine_current = (hr == S_OK);
      } else if (type == XmlNodeType_Element && HkbhIsLocalName(reader.get(), L"DesktopApps")) {
        hr = read.ReadDesktopApps(reader.get());
        examine_current = (hr == S_OK);
      }
      if (FAILED(hr)) break;
      if (examine_current) {
        reader->GetNodeType(&type);
        if (type == XmlNodeType_Element) continue;
      }
      hr = HkbhReadNode(reader.get(), &type);
    }
    if (hr == S_FALSE) hr = S_OK;  // the end of the document
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }

  try {
    std::lock_guard<CHkbhListLock> hold(m_lock);
    m_Packages.reserve(m_Packages.size() + read.m_Packages.size());
    m_DesktopApps.reserve(m_DesktopApps.size() + read.m_DesktopApps.size());
    for (auto& p : read.m_Packages) m_Packages.push_back(std::move(p));
    for (auto& d : read.m_DesktopApps) m_DesktopApps.push_back(std::move(d));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListLoad, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::ReadDesktopApps(IXmlReader* reader) {
  WriteLog("%S IN\r\n", kListReadDesktop);
  if (reader == nullptr) return E_POINTER;
  UINT depth = 0;
  reader->GetDepth(&depth);
  HRESULT hr = S_OK;
  for (;;) {
    XmlNodeType type = XmlNodeType_None;
    hr = HkbhReadNode(reader, &type);
    if (hr != S_OK) break;  // the end of the document or a read error
    const UINT at = HkbhNodeDepth(reader, type);
    if (type == XmlNodeType_Element) {
      if (at <= depth) break;  // the caller examines this element next
      if (HkbhIsLocalName(reader, L"DesktopApp")) {
        CHkbhDesktopApp* app = nullptr;
        if (SUCCEEDED(CHkbhDesktopApp::FromXmlNode(reader, &app)) && app != nullptr) {
          const HRESULT added = AddDesktopApp(std::unique_ptr<CHkbhDesktopApp>(app));
          if (FAILED(added))
            WriteLog("%S Error (0x%08X)\r\n", kListReadDesktop, static_cast<unsigned>(added));
        }
      }
    } else if (type == XmlNodeType_EndElement && at <= depth + 1) {
      break;
    }
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListReadDesktop, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::AddMetroPackage(std::unique_ptr<CHkbhPackage> package) {
  WriteLog("%S IN\r\n", kListAddPackage);
  HRESULT hr = S_OK;
  if (!package) {
    hr = E_POINTER;
  } else {
    try {
      std::lock_guard<CHkbhListLock> hold(m_lock);
      m_Packages.push_back(std::move(package));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListAddPackage, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::AddMetroPackage(const HkbhPackageIdentity& identity) {
  WriteLog("%S(%S) IN\r\n", kListAddPackage, identity.FamilyName.c_str());
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
        WriteLog("%S OUT(0x%08X)\r\n", kListAddPackage, static_cast<unsigned>(hr));
        return hr;
      }
      if (SUCCEEDED(hr)) CHkbhManifestReader::AddAppsToPackage(manifest, made.get());
      hr = AddMetroPackage(std::move(made));
    } else {
      BOOL reserved = FALSE;
      BOOL same = FALSE;
      {
        std::shared_lock<CHkbhListLock> hold(m_lock);
        reserved = record->NeedReserve();
        same = record->Version() == identity.Version;
      }
      if (reserved || same) {
        hr = S_OK;
      } else {
        {
          std::lock_guard<CHkbhListLock> hold(m_lock);
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
          std::lock_guard<CHkbhListLock> hold(m_lock);
          record->SetVersion(identity.Version);
          record->SwapApps(fresh);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListAddPackage, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::AddDesktopApp(const wchar_t* displayName, const wchar_t* lnkFileName) {
  WriteLog("%S(%S, %S) IN\r\n", kListAddDesktop, Text(displayName), Text(lnkFileName));
  if (displayName == nullptr || lnkFileName == nullptr) return E_POINTER;
  if (*displayName == L'\0' || *lnkFileName == L'\0') return E_INVALIDARG;
  HRESULT hr = S_OK;
  try {
    auto app = std::make_unique<CHkbhDesktopApp>(displayName, lnkFileName, L"", L"", FALSE, TRUE, FALSE);
    std::lock_guard<CHkbhListLock> hold(m_lock);
    if (FindDesktopApp(lnkFileName))
      hr = S_FALSE;
    else
      m_DesktopApps.push_back(std::move(app));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListAddDesktop, static_cast<unsigned>(hr));
  return hr;
}

HRESULT CHkbhAppNameList::AddDesktopApp(std::unique_ptr<CHkbhDesktopApp> app) {
  WriteLog("%S IN\r\n", kListAddDesktop);
  HRESULT hr = S_OK;
  if (!app) {
    hr = E_POINTER;
  } else {
    try {
      std::lock_guard<CHkbhListLock> hold(m_lock);
      m_DesktopApps.push_back(std::move(app));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListAddDesktop, static_cast<unsigned>(hr));
  return hr;
}

BOOL CHkbhAppNameList::FindDesktopApp(const wchar_t* lnkFileName) const {
  if (lnkFileName == nullptr || *lnkFileName == L'\0') return FALSE;
  for (const auto& app : m_DesktopApps) {
    if (app->IsSameShortcut(lnkFileName)) return TRUE;
  }
  return FALSE;
}

BOOL CHkbhAppNameList::IsInDesktopAppList(const wchar_t* lnkFileName) const {
  WriteLog("%S(%S) IN\r\n", kListIsInDesktop, Text(lnkFileName));
  std::shared_lock<CHkbhListLock> hold(m_lock);
  const BOOL found = FindDesktopApp(lnkFileName);
  WriteLog("%S OUT(%d)\r\n", kListIsInDesktop, found);
  return found;
}

CHkbhPackage* CHkbhAppNameList::FindPackage(const wchar_t* familyName) const {
  if (familyName == nullptr || *familyName == L'\0') return nullptr;
  for (const auto& package : m_Packages) {
    if (package->IsThisPackage(familyName)) return package.get();
  }
  return nullptr;
}

CHkbhPackage* CHkbhAppNameList::GetPackage(const wchar_t* familyName) const {
  WriteLog("%S(%S) IN\r\n", kListGetPackage, Text(familyName));
  std::shared_lock<CHkbhListLock> hold(m_lock);
  CHkbhPackage* found = FindPackage(familyName);
  WriteLog("%S OUT(%d)\r\n", kListGetPackage, found != nullptr ? 1 : 0);
  return found;
}

void CHkbhAppNameList::Clear() {
  WriteLog("%S IN\r\n", kListClear);
  std::lock_guard<CHkbhListLock> hold(m_lock);
  m_Packages.clear();
  m_DesktopApps.clear();
  WriteLog("%S OUT\r\n", kListClear);
}

HRESULT CHkbhAppNameList::GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list,
                                                BOOL* exact) const {
  WriteLog("%S(%S) IN\r\n", kListExclude, Text(keyword));
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  *exact = FALSE;
  std::shared_lock<CHkbhListLock> hold(m_lock);
  for (const auto& package : m_Packages) {
    if (package->IsInstalled()) package->AddAppNameToExcludeList(keyword, list, exact);
  }
  for (const auto& app : m_DesktopApps) {
    BOOL found = FALSE;
    app->AddToExcludeAppNameList(keyword, list, &found);
    if (found) *exact = TRUE;
  }
  WriteLog("%S OUT(0x%08X)\r\n", kListExclude, static_cast<unsigned>(S_OK));
  return S_OK;
}

size_t CHkbhAppNameList::PackageCount() const {
  std::shared_lock<CHkbhListLock> hold(m_lock);
  return m_Packages.size();
}

size_t CHkbhAppNameList::DesktopAppCount() const {
  std::shared_lock<CHkbhListLock> hold(m_lock);
  return m_DesktopApps.size();
}

BOOL CHkbhAppNameList::GetPackageFamilyNameAt(size_t index, std::wstring& familyName) const {
  std::shared_lock<CHkbhListLock> hold(m_lock);
  if (index >= m_Packages.size()) return FALSE;
  try {
    familyName = m_Packages[index]->PackageFamilyName();
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

BOOL CHkbhAppNameList::GetDesktopAppLnkFileNameAt(size_t index, std::wstring& lnkFileName) const {
  std::shared_lock<CHkbhListLock> hold(m_lock);
  if (index >= m_DesktopApps.size()) return FALSE;
  try {
    lnkFileName = m_DesktopApps[index]->LnkFileName();
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

void CHkbhAppNameList::SetPackageInstalledAt(size_t index, BOOL installed) {
  std::lock_guard<CHkbhListLock> hold(m_lock);
  if (index < m_Packages.size()) m_Packages[index]->SetInstalled(installed);
}

void CHkbhAppNameList::SetDesktopAppInstalledAt(size_t index, BOOL installed) {
  std::lock_guard<CHkbhListLock> hold(m_lock);
  if (index < m_DesktopApps.size()) m_DesktopApps[index]->SetInstalled(installed);
}
