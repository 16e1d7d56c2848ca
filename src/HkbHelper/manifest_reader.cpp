#include "manifest_reader.h"

#include <shlwapi.h>

#include <cwchar>

#include "app_records.h"
#include "appx_api.h"
#include "catalogue_logic.h"
#include "hkb/com.h"
#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "hkbh_result.h"
#include "xml_io.h"

HkbhLoadIndirectStringFn s_pfnLoadIndirectString = &::SHLoadIndirectString;

BOOL HkbhBuildManifestPath(const wchar_t* installedPath, wchar_t (&out)[kHkbhPathChars]) {
  if (installedPath == nullptr) return FALSE;
  const int n = std::swprintf(out, kHkbhPathChars, L"%ls\\%ls", installedPath, L"AppxManifest.xml");
  return n >= 0 && static_cast<size_t>(n) < kHkbhPathChars;
}

namespace {

constexpr wchar_t kAddApps[] = L"CHkbhManifestReader::AddAppsToPackage";
constexpr wchar_t kLoadSetting[] = L"CHkbhManifestReader::LoadSetting";
constexpr wchar_t kByXml[] = L"CHkbhManifestReader::GetAppNameUsingXmlParser";
constexpr wchar_t kByApi[] = L"CHkbhManifestReader::GetAppNameUsingAPI";
constexpr wchar_t kCheck[] = L"CHkbhManifestReader::IsCanGetAppNameFromManifest";
constexpr wchar_t kDisplayName[] = L"CHkbhManifestReader::GetAppDisplayName";
constexpr wchar_t kMoveTo[] = L"CHkbhManifestReader::MoveToElementByName";
constexpr wchar_t kAttribute[] = L"CHkbhManifestReader::GetAttributeValueByName";
constexpr wchar_t kConvert[] = L"CHkbhManifestReader::ConvertMsResourceToString";

// Folds a name read from the manifest and, when it is an "ms-resource:"
// reference that resolves, takes the resolved text instead.
std::wstring FoldAndResolve(const std::wstring& text, const CHkbhPackage& package) {
  std::wstring folded = hkbh::FoldLower(text);
  if (hkbh::StartsWith(folded, hkbh::kMsResource)) {
    wchar_t resolved[kHkbhResolvedChars] = {};
    if (CHkbhManifestReader::ConvertMsResourceToString(folded.c_str(), package.FullName().c_str(),
                                                       package.Name().c_str(), resolved))
      folded.assign(resolved);
  }
  return folded;
}

// One application's names, read the way both walks read them: the next
// VisualElements' DisplayName, then the next DefaultTile's ShortName. Stops
// at the first error and returns it.
HRESULT ReadApplicationNames(IXmlReader* reader, const CHkbhPackage& package, std::wstring& display,
                             std::wstring& shortName) {
  display.clear();
  shortName.clear();
  HRESULT hr = CHkbhManifestReader::MoveToElementByName(reader, L"VisualElements");
  if (FAILED(hr)) return hr;
  hr = CHkbhManifestReader::GetAttributeValueByName(reader, L"DisplayName", &display);
  if (FAILED(hr)) return hr;
  display = FoldAndResolve(display, package);
  hr = CHkbhManifestReader::MoveToElementByName(reader, L"DefaultTile");
  if (FAILED(hr)) return hr;
  hr = CHkbhManifestReader::GetAttributeValueByName(reader, L"ShortName", &shortName);
  if (FAILED(hr)) return hr;
  shortName = FoldAndResolve(shortName, package);
  return hr;
}

}  // namespace

HRESULT CHkbhManifestReader::MoveToElementByName(IXmlReader* reader, const wchar_t* name) {
  const HkbhTrace trace(kMoveTo, name);
  if (reader == nullptr || name == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (;;) {
    XmlNodeType type = XmlNodeType_None;
    hr = HkbhReadNode(reader, &type);
    if (hr != S_OK) break;
    if (type == XmlNodeType_Element && HkbhIsLocalName(reader, name)) break;
  }
  return trace.Out(hr);
}

HRESULT CHkbhManifestReader::GetAttributeValueByName(IXmlReader* reader, const wchar_t* name,
                                                     std::wstring* out) {
  const HkbhTrace trace(kAttribute, name);
  if (reader == nullptr || name == nullptr || out == nullptr) return E_POINTER;
  if (*name == L'\0') return E_INVALIDARG;
  HRESULT hr = reader->MoveToFirstAttribute();
  while (hr == S_OK) {
    if (HkbhIsLocalName(reader, name)) {
      hr = HkbhGetValue(reader, *out);
      reader->MoveToElement();
      return trace.Out(FAILED(hr) ? hr : S_OK);
    }
    hr = reader->MoveToNextAttribute();
  }
  if (FAILED(hr)) return trace.Out(hr);
  reader->MoveToElement();
  return trace.Out(S_FALSE);
}

BOOL CHkbhManifestReader::ConvertMsResourceToString(const wchar_t* reference, const wchar_t* fullName,
                                                    const wchar_t* name, wchar_t* out) {
  WriteLog("%S(%S, %S, %S) IN\r\n", kConvert, HkbhText(reference), HkbhText(fullName), HkbhText(name));
  const HkbhTrace trace(kConvert, HkbhTrace::InWritten{});
  if (reference == nullptr || fullName == nullptr || name == nullptr || out == nullptr ||
      *fullName == L'\0' || *name == L'\0') {
    return trace.OutValue(FALSE);
  }
  BOOL resolved = FALSE;
  try {
    const std::wstring folded = hkbh::FoldLower(reference);
    hkbh::IndirectForms forms;
    if (!hkbh::BuildIndirectForms(folded, fullName, name, forms)) {
      return trace.OutValue(FALSE);
    }
    WriteLog("%S ms-resource = %S)\r\n", kConvert, forms.first.c_str());
    resolved = SUCCEEDED(s_pfnLoadIndirectString(forms.first.c_str(), out, kHkbhResolvedChars, nullptr));
    if (!resolved && !forms.second.empty()) {
      WriteLog("%S ms-resource = %S)\r\n", kConvert, forms.second.c_str());
      resolved = SUCCEEDED(s_pfnLoadIndirectString(forms.second.c_str(), out, kHkbhResolvedChars, nullptr));
    }
  } catch (const std::bad_alloc&) {
    resolved = FALSE;
  }
  out[kHkbhResolvedChars - 1] = L'\0';
  WriteLog("%S OUT(pStr = %S)\r\n", kConvert, out);
  return resolved;
}

DWORD CHkbhManifestReader::LoadSetting() {
  const HkbhTrace trace(kLoadSetting);
  const DWORD setting = CHkbhReg::GetManifestReaderSetting() == 0 ? 0 : 1;
  trace.OutValue(static_cast<int>(setting));
  return setting;
}

HRESULT CHkbhManifestReader::AddAppsToPackage(const wchar_t* manifestPath, CHkbhPackage* package) {
  const HkbhTrace trace(kAddApps, manifestPath);
  const HRESULT hr = LoadSetting() == 1 ? GetAppNameUsingXmlParser(manifestPath, package)
                                        : GetAppNameUsingAPI(manifestPath, package);
  return trace.Out(hr);
}

HRESULT CHkbhManifestReader::GetAppNameUsingXmlParser(const wchar_t* manifestPath, CHkbhPackage* package) {
  const HkbhTrace trace(kByXml, manifestPath);
  if (manifestPath == nullptr || package == nullptr) return E_POINTER;
  if (*manifestPath == L'\0') return E_INVALIDARG;
  HRESULT hr = S_OK;
  try {
    hkb::ComPtr<IXmlReader> reader;
    hr = HkbhOpenXmlReader(manifestPath, reader);
    if (FAILED(hr)) return trace.Out(hr);
    hr = MoveToElementByName(reader.get(), L"Applications");
    while (SUCCEEDED(hr)) {
      hr = MoveToElementByName(reader.get(), L"Application");
      if (hr != S_OK) break;
      std::wstring display, shortName;
      hr = ReadApplicationNames(reader.get(), *package, display, shortName);
      if (FAILED(hr)) break;
      package->AddApplication(display.c_str(), shortName.c_str());
    }
  } catch (...) {
    hr = E_FAIL;
  }
  return trace.Out(hr);
}

HRESULT CHkbhManifestReader::IsCanGetAppNameFromManifest(const wchar_t* manifestPath, CHkbhPackage* package,
                                                         BOOL* ok) {
  const HkbhTrace trace(kCheck, manifestPath);
  if (manifestPath == nullptr || package == nullptr || ok == nullptr) return E_POINTER;
  if (*manifestPath == L'\0') return E_INVALIDARG;
  *ok = FALSE;
  HRESULT hr = S_OK;
  try {
    hkb::ComPtr<IXmlReader> reader;
    hr = HkbhOpenXmlReader(manifestPath, reader);
    if (FAILED(hr)) return trace.Out(hr);
    hr = MoveToElementByName(reader.get(), L"Applications");
    while (SUCCEEDED(hr)) {
      hr = MoveToElementByName(reader.get(), L"Application");
      if (hr == S_FALSE) {
        *ok = TRUE;
        break;
      }
      if (FAILED(hr)) break;
      std::wstring display, shortName;
      hr = MoveToElementByName(reader.get(), L"VisualElements");
      if (FAILED(hr)) break;
      hr = GetAttributeValueByName(reader.get(), L"DisplayName", &display);
      if (FAILED(hr)) break;
      if (hkbh::StartsWith(FoldAndResolve(display, *package), hkbh::kMsResource)) break;
      hr = MoveToElementByName(reader.get(), L"DefaultTile");
      if (FAILED(hr)) break;
      hr = GetAttributeValueByName(reader.get(), L"ShortName", &shortName);
      if (FAILED(hr)) break;
      if (hkbh::StartsWith(FoldAndResolve(shortName, *package), hkbh::kMsResource)) break;
    }
  } catch (...) {
    hr = E_FAIL;
  }
  return trace.Out(hr);
}

HRESULT CHkbhManifestReader::GetAppNameUsingAPI(const wchar_t* manifestPath, CHkbhPackage* package) {
  const HkbhTrace trace(kByApi, manifestPath);
  if (manifestPath == nullptr || package == nullptr) return E_POINTER;
  if (*manifestPath == L'\0') return E_INVALIDARG;
  HRESULT hr = S_OK;
  try {
    // Declared first, so that every interface below is released before COM
    // is uninitialized.
    hkb::ComInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return trace.Out(com.result());

    hkb::ComPtr<IAppxFactory> factory;
    hkb::ComPtr<IStream> stream;
    hkb::ComPtr<IAppxManifestReader> manifest;
    hkb::ComPtr<IAppxManifestApplicationsEnumerator> apps;
    hr = ::CoCreateInstance(kClsidAppxFactory, nullptr, CLSCTX_INPROC_SERVER, kIidAppxFactory,
                            factory.put_void());
    if (SUCCEEDED(hr))
      hr = ::SHCreateStreamOnFileEx(manifestPath, STGM_READ | STGM_SHARE_EXCLUSIVE, FILE_ATTRIBUTE_NORMAL,
                                    FALSE, nullptr, stream.put());
    if (SUCCEEDED(hr)) hr = factory->CreateManifestReader(stream.get(), manifest.put());
    if (SUCCEEDED(hr)) hr = manifest->GetApplications(apps.put());
    if (SUCCEEDED(hr)) {
      BOOL has = FALSE;
      hr = apps->GetHasCurrent(&has);
      while (SUCCEEDED(hr) && has) {
        hkb::ComPtr<IAppxManifestApplication> app;
        hr = apps->GetCurrent(app.put());
        if (FAILED(hr)) break;
        LPWSTR value = nullptr;
        if (SUCCEEDED(app->GetStringValue(L"DisplayName", &value)) && value != nullptr)
          package->AddApplication(value, nullptr);
        ::CoTaskMemFree(value);
        hr = apps->MoveNext(&has);
      }
    }
  } catch (...) {
    hr = E_FAIL;
  }
  return trace.Out(hr);
}

HRESULT CHkbhManifestReader::GetAppDisplayName(const wchar_t* manifestPath, const wchar_t* fullName,
                                               const wchar_t* name, wchar_t** out) {
  const HkbhTrace trace(kDisplayName, manifestPath);
  if (manifestPath == nullptr || out == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    hkb::ComPtr<IXmlReader> reader;
    hr = HkbhOpenXmlReader(manifestPath, reader);
    if (FAILED(hr)) return trace.Out(hr);
    hr = MoveToElementByName(reader.get(), L"Applications");
    if (FAILED(hr)) return trace.Out(hr);
    if (MoveToElementByName(reader.get(), L"Application") != S_OK ||
        MoveToElementByName(reader.get(), L"VisualElements") != S_OK)
      return trace.Out(E_FAIL);
    std::wstring display;
    hr = GetAttributeValueByName(reader.get(), L"DisplayName", &display);
    if (FAILED(hr)) return trace.Out(hr);
    if (MoveToElementByName(reader.get(), L"Application") == S_OK) return trace.Out(kHkbhManyApplications);

    auto* block = static_cast<wchar_t*>(::LocalAlloc(LPTR, kHkbhResolvedChars * sizeof(wchar_t)));
    *out = block;
    if (block == nullptr) return trace.Out(E_OUTOFMEMORY);
    const std::wstring folded = hkbh::FoldLower(display);
    if (!hkbh::StartsWith(folded, hkbh::kMsResource)) {
      const size_t n = folded.size() < kHkbhResolvedChars - 1 ? folded.size() : kHkbhResolvedChars - 1;
      std::wmemcpy(block, folded.data(), n);
      block[n] = L'\0';
    } else if (!ConvertMsResourceToString(folded.c_str(), fullName, name, block)) {
      hr = E_FAIL;
    }
  } catch (...) {
    hr = E_FAIL;
  }
  return trace.Out(hr);
}
