// XmlLite over file streams: the pull reader that the catalogue and the
// manifest reader walk, the writer that saves the catalogue, and the name
// comparison both use.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <xmllite.h>

#include <string>
#include <string_view>

#include "hkb/com.h"

// A reader on the file, opened read-only (STGM_READ).
HRESULT HkbhOpenXmlReader(const wchar_t* path, hkb::ComPtr<IXmlReader>& reader);

// A writer with indentation on, writing to `stream`.
HRESULT HkbhCreateXmlWriter(IStream* stream, hkb::ComPtr<IXmlWriter>& writer);

// Writes an attribute whose value arrives in the file as given. Writers that
// pass attribute values through unescaped (Wine's XmlLite does) get the
// markup characters escaped beforehand; writers that escape them get the
// value as it is.
HRESULT HkbhWriteAttribute(IXmlWriter* writer, const wchar_t* name, const wchar_t* value);

// True when the current node's local name (any namespace prefix left out)
// equals `name` ignoring letter case, with the exact length of `name`.
bool HkbhIsLocalName(IXmlReader* reader, const wchar_t* name);
// The current node's local name, empty when the reader gives none: for
// comparing one attribute's name with several (EqualsNoCase) without asking
// the reader each time. Valid until the reader moves.
std::wstring_view HkbhLocalName(IXmlReader* reader);

// Reads the next node, like IXmlReader::Read, and makes a truncated document
// an error on every platform: a reader that closes the elements left open at
// the end of the input, hands out the last node again instead of moving on,
// or reports the end of the input while the root element is still open
// (Wine's reader does these) gives MX_E_INPUTEND.
HRESULT HkbhReadNode(IXmlReader* reader, XmlNodeType* type);

// The nesting depth of the current node, counting an end tag at the depth of
// the element it closes (XmlLite reports end tags one level deeper).
UINT HkbhNodeDepth(IXmlReader* reader, XmlNodeType type);

// The current node's value (an attribute's text).
HRESULT HkbhGetValue(IXmlReader* reader, std::wstring& out);
// The same without a copy, for a value read on the spot (a number, a flag):
// valid until the reader moves.
HRESULT HkbhGetValue(IXmlReader* reader, std::wstring_view& out);
