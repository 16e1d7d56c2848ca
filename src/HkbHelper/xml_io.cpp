#include "xml_io.h"

#include <shlwapi.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue_logic.h"

HRESULT HkbhOpenXmlReader(const wchar_t* path, hkb::ComPtr<IXmlReader>& reader) {
  hkb::ComPtr<IStream> stream;
  HRESULT hr = ::SHCreateStreamOnFileW(path, STGM_READ, stream.put());
  if (FAILED(hr)) return hr;
  hkb::ComPtr<IXmlReader> created;
  hr = ::CreateXmlReader(__uuidof(IXmlReader), created.put_void(), nullptr);
  if (FAILED(hr)) return hr;
  hr = created->SetInput(stream.get());
  if (FAILED(hr)) return hr;
  reader = created;
  return S_OK;
}

HRESULT HkbhCreateXmlWriter(IStream* stream, hkb::ComPtr<IXmlWriter>& writer) {
  hkb::ComPtr<IXmlWriter> created;
  HRESULT hr = ::CreateXmlWriter(__uuidof(IXmlWriter), created.put_void(), nullptr);
  if (FAILED(hr)) return hr;
  hr = created->SetProperty(XmlWriterProperty_Indent, TRUE);
  if (FAILED(hr)) return hr;
  hr = created->SetOutput(stream);
  if (FAILED(hr)) return hr;
  writer = created;
  return S_OK;
}

namespace {

// Whether the platform's writer escapes "&" in attribute values, found out
// once by writing a probe document into memory.
bool ProbeWriterEscapes() {
  hkb::ComPtr<IStream> memory;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, memory.put()))) return true;
  hkb::ComPtr<IXmlWriter> writer;
  if (FAILED(::CreateXmlWriter(__uuidof(IXmlWriter), writer.put_void(), nullptr))) return true;
  if (FAILED(writer->SetOutput(memory.get()))) return true;
  writer->SetProperty(XmlWriterProperty_OmitXmlDeclaration, TRUE);
  writer->WriteStartElement(nullptr, L"p", nullptr);
  writer->WriteAttributeString(nullptr, L"a", nullptr, L"&");
  writer->WriteEndElement();
  if (FAILED(writer->Flush())) return true;
  HGLOBAL global = nullptr;
  if (FAILED(::GetHGlobalFromStream(memory.get(), &global))) return true;
  STATSTG stat = {};
  memory->Stat(&stat, STATFLAG_NONAME);
  const char* bytes = static_cast<const char*>(::GlobalLock(global));
  if (bytes == nullptr) return true;
  const std::string_view written(bytes, static_cast<size_t>(stat.cbSize.QuadPart));
  const bool escapes = written.find("&amp;") != std::string_view::npos;
  ::GlobalUnlock(global);
  return escapes;
}

bool WriterEscapesAttributes() {
  static const bool escapes = ProbeWriterEscapes();
  return escapes;
}

// Whether the value holds a character that the attribute must carry escaped:
// "&", "<", ">", '"', tab, line feed or carriage return, all below 64 and
// tested as bits of one mask. A plain loop: under Wine the runtime's wcspbrk
// compares every character with every one of the set, a tenth of a save.
bool HasMarkup(const wchar_t* value) {
  constexpr uint64_t kMarkup = (1ull << L'&') | (1ull << L'<') | (1ull << L'>') | (1ull << L'"') |
                               (1ull << L'\t') | (1ull << L'\n') | (1ull << L'\r');
  for (const wchar_t* p = value; *p != L'\0'; ++p) {
    const auto c = static_cast<unsigned>(*p);
    if (c < 64 && ((kMarkup >> c) & 1u) != 0) return true;
  }
  return false;
}

}  // namespace

HRESULT HkbhWriteAttribute(IXmlWriter* writer, const wchar_t* name, const wchar_t* value) {
  if (WriterEscapesAttributes() || value == nullptr || !HasMarkup(value))
    return writer->WriteAttributeString(nullptr, name, nullptr, value);
  std::wstring escaped;
  for (const wchar_t* p = value; *p != L'\0'; ++p) {
    switch (*p) {
      case L'&': escaped += L"&amp;"; break;
      case L'<': escaped += L"&lt;"; break;
      case L'>': escaped += L"&gt;"; break;
      case L'"': escaped += L"&quot;"; break;
      case L'\t': escaped += L"&#x9;"; break;
      case L'\n': escaped += L"&#xA;"; break;
      case L'\r': escaped += L"&#xD;"; break;
      default: escaped += *p; break;
    }
  }
  return writer->WriteAttributeString(nullptr, name, nullptr, escaped.c_str());
}

bool HkbhIsLocalName(IXmlReader* reader, const wchar_t* name) {
  const WCHAR* local = nullptr;
  UINT length = 0;
  if (reader->GetLocalName(&local, &length) != S_OK || local == nullptr) return false;
  return hkbh::EqualsNoCase(std::wstring_view(local, length), name);
}

std::wstring_view HkbhLocalName(IXmlReader* reader) {
  const WCHAR* local = nullptr;
  UINT length = 0;
  if (reader->GetLocalName(&local, &length) != S_OK || local == nullptr) return {};
  return std::wstring_view(local, length);
}

HRESULT HkbhReadNode(IXmlReader* reader, XmlNodeType* type) {
  // Compared as the element, not as one of its attributes: reading on from
  // an attribute or from its element goes to the same next node.
  reader->MoveToElement();
  XmlNodeType before = XmlNodeType_None;
  UINT line = 0;
  UINT position = 0;
  reader->GetNodeType(&before);
  reader->GetLineNumber(&line);
  reader->GetLinePosition(&position);
  const UINT depth = HkbhNodeDepth(reader, before);
  const BOOL empty = before == XmlNodeType_Element && reader->IsEmptyElement();

  const HRESULT hr = reader->Read(type);
  if (hr == S_FALSE && before != XmlNodeType_None) {
    // The end of the input counts as the end of the document only after the
    // root element has closed: its end tag, or a node outside it, came last.
    const bool root_closed = depth == 0 && (before != XmlNodeType_Element || empty);
    return root_closed ? S_FALSE : static_cast<HRESULT>(MX_E_INPUTEND);
  }
  if (hr != S_OK || before == XmlNodeType_None) return hr;
  UINT now_line = 0;
  UINT now_position = 0;
  reader->GetLineNumber(&now_line);
  reader->GetLinePosition(&now_position);
  // An end tag that does not stand after the node read last, or the same node
  // again at the same place, was not read from the input but made up at its
  // end: Wine's reader closes the elements left open at the end of the input
  // (reporting each end tag where its start tag stood) and then hands out
  // the last node again and again.
  const bool not_after = now_line < line || (now_line == line && now_position <= position);
  const bool same_place = now_line == line && now_position == position;
  if ((*type == XmlNodeType_EndElement && not_after) || (same_place && *type == before))
    return static_cast<HRESULT>(MX_E_INPUTEND);
  return hr;
}

UINT HkbhNodeDepth(IXmlReader* reader, XmlNodeType type) {
  UINT depth = 0;
  reader->GetDepth(&depth);
  if (type == XmlNodeType_EndElement && depth > 0) --depth;
  return depth;
}

HRESULT HkbhGetValue(IXmlReader* reader, std::wstring_view& out) {
  const WCHAR* value = nullptr;
  UINT length = 0;
  const HRESULT hr = reader->GetValue(&value, &length);
  if (FAILED(hr)) return hr;
  out = value == nullptr ? std::wstring_view() : std::wstring_view(value, length);
  return hr;
}

HRESULT HkbhGetValue(IXmlReader* reader, std::wstring& out) {
  std::wstring_view value;
  const HRESULT hr = HkbhGetValue(reader, value);
  if (SUCCEEDED(hr)) out.assign(value);
  return hr;
}
