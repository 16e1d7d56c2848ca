// Reads the names of a Store package's applications from its
// "AppxManifest.xml": with the XML pull reader (the default), resolving
// "ms-resource:" references through the platform's indirect strings, or with
// the packaging API. Stateless; the operations are grouped under the class.
#pragma once

#include <windows.h>
#include <xmllite.h>

#include <string>

#include "hkbh_log.h"

class CHkbhPackage;
namespace hkbrt {
class IPackage;
}

// The manifest of a package installed in `installedPath`: the folder, "\" and
// "AppxManifest.xml", in 260 units. FALSE when it does not fit.
BOOL HkbhBuildManifestPath(const wchar_t* installedPath, wchar_t (&out)[kHkbhPathChars]);

// Units of a resolved name, terminator included.
inline constexpr UINT kHkbhResolvedChars = 256;

// The platform's indirect-string resolution (SHLoadIndirectString). It is
// reached through this pointer, which only the tests replace: under Wine the
// real call cannot resolve package resources at all.
using HkbhLoadIndirectStringFn = HRESULT(WINAPI*)(LPCWSTR source, LPWSTR out, UINT outChars, void** reserved);
extern HkbhLoadIndirectStringFn s_pfnLoadIndirectString;

class CHkbhManifestReader {
 public:
  // Reads the apps of the manifest into the package, by the reader that
  // "ManifestReaderSetting" selects.
  static HRESULT AddAppsToPackage(const wchar_t* manifestPath, CHkbhPackage* package);
  static DWORD LoadSetting();
  static HRESULT GetAppNameUsingXmlParser(const wchar_t* manifestPath, CHkbhPackage* package);
  static HRESULT GetAppNameUsingAPI(const wchar_t* manifestPath, CHkbhPackage* package);
  // ok = 1 when every application's display and short name is text or
  // resolves to text.
  static HRESULT IsCanGetAppNameFromManifest(const wchar_t* manifestPath, CHkbhPackage* package, BOOL* ok);
  // The display name of a package that declares one application, in a
  // zero-initialized 512-byte local-heap block stored in *out (freed by the
  // caller with LocalFree). `fullName` and `name` identify the package for
  // its resources. 0xA0000002 when the manifest declares more applications.
  static HRESULT GetAppDisplayName(const wchar_t* manifestPath, const wchar_t* fullName, const wchar_t* name,
                                   wchar_t** out);
  // The same for a platform package: its install folder's manifest and its
  // identity. A platform error gives E_FAIL.
  static HRESULT GetAppDisplayName(hkbrt::IPackage* package, wchar_t** out);

  // Reads forward to the next element of that local name, anywhere further on.
  static HRESULT MoveToElementByName(IXmlReader* reader, const wchar_t* name);
  // The value of the current element's attribute of that local name; S_FALSE
  // (out unchanged) when there is none.
  static HRESULT GetAttributeValueByName(IXmlReader* reader, const wchar_t* name, std::wstring* out);
  // Resolves an "ms-resource:" reference of the package into `out`
  // (kHkbhResolvedChars units). TRUE when a resolution succeeded.
  static BOOL ConvertMsResourceToString(const wchar_t* reference, const wchar_t* fullName,
                                        const wchar_t* name, wchar_t* out);
};
