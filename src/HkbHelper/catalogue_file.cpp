// The catalogue file: the document that holds the records ("Applications",
// its "MetroApps" and "DesktopApps"), written through the atomic save and
// read back record by record.
#include "app_name_list.h"

#include <new>
#include <utility>

#include "atomic_save.h"
#include "hkb/com.h"
#include "hkbh_log.h"
#include "xml_io.h"

namespace {

constexpr wchar_t kListSave[] = L"CHkbhAppNameList::Save";
constexpr wchar_t kListLoad[] = L"CHkbhAppNameList::Load";
constexpr wchar_t kListReadDesktop[] = L"CHkbhAppNameList::ReadDesktopApps";

}  // namespace

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
  const HkbhTrace trace(kListSave, path);
  if (path == nullptr) return E_POINTER;
  if (*path == L'\0') return E_INVALIDARG;

  const HRESULT hr = HkbhSaveFileAtomically(path, kListSave, [this](IStream* stream) {
    // The writer is released before the save closes the file.
    hkb::ComPtr<IXmlWriter> writer;
    HRESULT written = HkbhCreateXmlWriter(stream, writer);
    if (SUCCEEDED(written)) written = writer->WriteStartDocument(XmlStandalone_Omit);
    if (SUCCEEDED(written)) {
      std::shared_lock<hkb::SrwLock> hold(m_lock);
      written = WriteDocument(writer.get());
    }
    return written;
  });
  return trace.Out(hr);
}

HRESULT CHkbhAppNameList::Load(const wchar_t* path) {
  const HkbhTrace trace(kListLoad, path);
  if (path == nullptr) return E_POINTER;
  if (*path == L'\0') return E_INVALIDARG;

  hkb::ComPtr<IXmlReader> reader;
  HRESULT hr = HkbhOpenXmlReader(path, reader);
  if (FAILED(hr)) {
    return trace.Out(hr);
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
    std::lock_guard<hkb::SrwLock> hold(m_lock);
    m_Packages.reserve(m_Packages.size() + read.m_Packages.size());
    m_DesktopApps.reserve(m_DesktopApps.size() + read.m_DesktopApps.size());
    for (auto& p : read.m_Packages) m_Packages.push_back(std::move(p));
    for (auto& d : read.m_DesktopApps) m_DesktopApps.push_back(std::move(d));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

HRESULT CHkbhAppNameList::ReadDesktopApps(IXmlReader* reader) {
  const HkbhTrace trace(kListReadDesktop);
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
  return trace.Out(hr);
}
