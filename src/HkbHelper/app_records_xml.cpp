// The records' elements in the catalogue file: how each record writes itself
// and reads itself back.
#include "app_records.h"

#include <new>
#include <optional>

#include "hkbh_log.h"
#include "xml_io.h"

namespace {

constexpr wchar_t kMetroToXml[] = L"CHkbhMetroApp::ToXmlNode";
constexpr wchar_t kDesktopToXml[] = L"CHkbhDesktopApp::ToXmlNode";
constexpr wchar_t kMetroFromXml[] = L"CHkbhMetroApp::FromXmlNode";
constexpr wchar_t kDesktopFromXml[] = L"CHkbhDesktopApp::FromXmlNode";
constexpr wchar_t kPackageFromXml[] = L"CHkbhPackage::FromXmlNode";
constexpr wchar_t kPackageToXml[] = L"CHkbhPackage::ToXmlNode";

HRESULT WriteAttribute(IXmlWriter* writer, const wchar_t* name, const wchar_t* value) {
  return HkbhWriteAttribute(writer, name, value);
}

}  // namespace

// ===========================================================================
// "MetroApp": the names of one app of a package

HRESULT CHkbhMetroApp::ToXmlNode(IXmlWriter* writer) {
  const HkbhTrace trace(kMetroToXml);
  if (writer == nullptr) return E_POINTER;
  writer->WriteStartElement(nullptr, L"MetroApp", nullptr);
  if (!m_DisplayName.empty()) WriteAttribute(writer, L"DisplayName", m_DisplayName.c_str());
  if (!m_ShortName.empty()) WriteAttribute(writer, L"ShortName", m_ShortName.c_str());
  if (!m_RubyDisplayName.empty()) WriteAttribute(writer, L"RubyDisplayName", m_RubyDisplayName.c_str());
  if (!m_RubyShortName.empty()) WriteAttribute(writer, L"RubyShortName", m_RubyShortName.c_str());
  const HRESULT hr = writer->WriteEndElement();
  return trace.Out(hr);
}

HRESULT CHkbhMetroApp::FromXmlNode(IXmlReader* reader, CHkbhMetroApp** app) {
  const HkbhTrace trace(kMetroFromXml);
  if (reader == nullptr || app == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    // The values go straight into the new record's names (one copy each),
    // and the names it keeps folded are folded there.
    auto made = std::make_unique<CHkbhMetroApp>(L"", L"", L"", L"");
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      const std::wstring_view name = HkbhLocalName(reader);
      std::wstring* target = nullptr;
      if (hkbh::EqualsNoCase(name, L"DisplayName"))
        target = &made->m_DisplayName;
      else if (hkbh::EqualsNoCase(name, L"ShortName"))
        target = &made->m_ShortName;
      else if (hkbh::EqualsNoCase(name, L"RubyDisplayName"))
        target = &made->m_RubyDisplayName;
      else if (hkbh::EqualsNoCase(name, L"RubyShortName"))
        target = &made->m_RubyShortName;
      if (target != nullptr) {
        hr = HkbhGetValue(reader, *target);
        if (FAILED(hr)) break;
      }
      hr = reader->MoveToNextAttribute();
    }
    if (SUCCEEDED(hr)) {
      hkbh::FoldLowerInPlace(made->m_DisplayName);
      hkbh::FoldLowerInPlace(made->m_ShortName);
      *app = made.release();
      hr = S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

// ===========================================================================
// "DesktopApp": a Start Menu shortcut

HRESULT CHkbhDesktopApp::ToXmlNode(IXmlWriter* writer) {
  const HkbhTrace trace(kDesktopToXml);
  if (writer == nullptr) return E_POINTER;
  if (!m_NeedReserve && !m_IsInstalled) {
    return trace.Out(S_FALSE);
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
  return trace.Out(hr);
}

HRESULT CHkbhDesktopApp::FromXmlNode(IXmlReader* reader, CHkbhDesktopApp** app) {
  const HkbhTrace trace(kDesktopFromXml);
  if (reader == nullptr || app == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    // The values go straight into the new record (one copy each).
    auto made = std::make_unique<CHkbhDesktopApp>(L"", L"", L"", L"", FALSE, TRUE, FALSE);
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      const std::wstring_view name = HkbhLocalName(reader);
      std::wstring* target = nullptr;
      BOOL* flag = nullptr;
      BOOL flagWhenNotNumber = FALSE;
      if (hkbh::EqualsNoCase(name, L"DisplayName")) {
        target = &made->m_DisplayName;
      } else if (hkbh::EqualsNoCase(name, L"LnkFileName")) {
        target = &made->m_LnkFileName;
      } else if (hkbh::EqualsNoCase(name, L"LocalizeName")) {
        target = &made->m_LocalizeName;
      } else if (hkbh::EqualsNoCase(name, L"RubyDisplayName")) {
        target = &made->m_RubyDisplayName;
      } else if (hkbh::EqualsNoCase(name, L"NeedReserve")) {
        flag = &made->m_NeedReserve;
        flagWhenNotNumber = TRUE;
      } else if (hkbh::EqualsNoCase(name, L"IsInstalled")) {
        flag = &made->m_IsInstalled;
        flagWhenNotNumber = TRUE;
      } else if (hkbh::EqualsNoCase(name, L"IsDualMode")) {
        flag = &made->m_IsDualMode;
      }
      if (target != nullptr) {
        hr = HkbhGetValue(reader, *target);
        if (FAILED(hr)) break;
      } else if (flag != nullptr) {
        std::wstring_view value;
        hr = HkbhGetValue(reader, value);
        if (FAILED(hr)) break;
        const std::optional<bool> parsed = hkbh::ParseFlagText(value);
        *flag = parsed ? (*parsed ? TRUE : FALSE) : flagWhenNotNumber;
      }
      hr = reader->MoveToNextAttribute();
    }
    if (SUCCEEDED(hr)) {
      // Environment variables in the shortcut path are expanded; a path that
      // does not expand into 260 units stays as it was written. A path with
      // no "%" (and no NUL, at which the expansion would cut it) expands to
      // itself and is left as it is without asking.
      std::wstring& lnk = made->m_LnkFileName;
      if (lnk.find_first_of(std::wstring_view(L"%\0", 2)) != std::wstring::npos) {
        wchar_t expanded[kHkbhPathChars];
        const DWORD n =
            ::ExpandEnvironmentStringsW(lnk.c_str(), expanded, static_cast<DWORD>(kHkbhPathChars));
        if (n != 0 && n <= kHkbhPathChars) lnk.assign(expanded);
      }
      hkbh::FoldLowerInPlace(made->m_DisplayName);
      *app = made.release();
      hr = S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

// ===========================================================================
// "Package": a Store package and its "MetroApp" elements

HRESULT CHkbhPackage::FromXmlNode(IXmlReader* reader, CHkbhPackage** package) {
  const HkbhTrace trace(kPackageFromXml);
  if (reader == nullptr || package == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    UINT depth = 0;
    reader->GetDepth(&depth);
    // The family name goes straight into the new record; the number texts
    // are read where the reader holds them.
    auto made = std::make_unique<CHkbhPackage>(L"", L"", L"", HkbhVersion{}, FALSE, TRUE);
    hr = reader->MoveToFirstAttribute();
    while (hr == S_OK) {
      const std::wstring_view name = HkbhLocalName(reader);
      std::wstring_view value;
      if (hkbh::EqualsNoCase(name, L"PackageFamilyName")) {
        hr = HkbhGetValue(reader, made->m_PackageFamilyName);
      } else if (hkbh::EqualsNoCase(name, L"Version")) {
        hr = HkbhGetValue(reader, value);
        if (SUCCEEDED(hr)) made->m_Version = hkbh::ParseVersionText(value);
      } else if (hkbh::EqualsNoCase(name, L"NeedReserve")) {
        hr = HkbhGetValue(reader, value);
        made->m_NeedReserve = hkbh::ParseFlagText(value).value_or(true) ? TRUE : FALSE;
      } else if (hkbh::EqualsNoCase(name, L"IsInstalled")) {
        hr = HkbhGetValue(reader, value);
        made->m_IsInstalled = hkbh::ParseFlagText(value).value_or(true) ? TRUE : FALSE;
      }
      if (FAILED(hr)) break;
      hr = reader->MoveToNextAttribute();
    }
    if (FAILED(hr)) {
      return trace.Out(hr);
    }
    reader->MoveToElement();

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
  return trace.Out(hr);
}

HRESULT CHkbhPackage::ToXmlNode(IXmlWriter* writer) {
  const HkbhTrace trace(kPackageToXml, m_PackageFamilyName.c_str());
  if (writer == nullptr) return E_POINTER;
  if (!m_IsInstalled && !m_NeedReserve) {
    return trace.Out(S_OK);
  }
  writer->WriteStartElement(nullptr, L"Package", nullptr);
  HRESULT hr = WriteAttribute(writer, L"PackageFamilyName", m_PackageFamilyName.c_str());
  if (SUCCEEDED(hr)) {
    wchar_t version[hkbh::kVersionTextChars];
    hkbh::FormatVersionText(m_Version, version);
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
  return trace.Out(hr);
}
