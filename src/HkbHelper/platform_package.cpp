#include "platform_package.h"

#include <cwchar>
#include <new>

#include "hkbh_log.h"
#include "manifest_reader.h"
#include "pinterface_iid.h"

namespace {

constexpr wchar_t kListAddPackage[] = L"CHkbhAppNameList::AddMetroPackage";
constexpr wchar_t kDisplayName[] = L"CHkbhManifestReader::GetAppDisplayName";

GUID ToGuid(const hkbh::Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[static_cast<size_t>(i)];
  return out;
}

// The identifier of the collection interface `open` instantiated for Package.
GUID PackageCollectionIid(const char* open) {
  const std::string package_class = hkbh::RuntimeClassSignature(
      hkbrt::kPackageClassName, *hkbh::ParseGuid("163c792f-bd75-413c-bf23-b1fe7b95d825"));
  return ToGuid(hkbh::ParameterizedIid(hkbh::PinterfaceSignature(*hkbh::ParseGuid(open), package_class)));
}

}  // namespace

namespace hkbrt {

const GUID& IidPackageIterable() {
  static const GUID iid = PackageCollectionIid(kPiidIterable);
  return iid;
}

const GUID& IidPackageIterator() {
  static const GUID iid = PackageCollectionIid(kPiidIterator);
  return iid;
}

const GUID& IidPackageVectorView() {
  static const GUID iid = PackageCollectionIid(kPiidVectorView);
  return iid;
}

}  // namespace hkbrt

HRESULT HkbhPlatformError(const wchar_t* operation, HRESULT error) {
  // A system error wrapped in an HRESULT is looked up by its own code.
  const DWORD code = HRESULT_FACILITY(error) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(error))
                                                               : static_cast<DWORD>(error);
  wchar_t message[512] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                   0, message, 512, nullptr);
  size_t length = n;
  while (length > 0 &&
         (message[length - 1] == L'\r' || message[length - 1] == L'\n' || message[length - 1] == L' '))
    message[--length] = L'\0';
  if (length == 0) std::swprintf(message, 512, L"0x%08X", static_cast<unsigned>(error));
  WriteLog("%S OUT(%S)\r\n", operation, message);
  return E_FAIL;
}

namespace {

HRESULT GetId(hkbrt::IPackage* package, hkb::ComPtr<hkbrt::IPackageId>& id) {
  if (package == nullptr) return E_POINTER;
  const HRESULT hr = package->get_Id(id.put());
  return SUCCEEDED(hr) && !id ? E_POINTER : hr;
}

}  // namespace

HRESULT HkbhGetPackageFamilyName(hkbrt::IPackage* package, std::wstring& family) {
  hkb::ComPtr<hkbrt::IPackageId> id;
  HRESULT hr = GetId(package, id);
  hkb::HString text;
  if (SUCCEEDED(hr)) hr = id->get_FamilyName(text.put());
  if (SUCCEEDED(hr)) family.assign(text.view());
  return hr;
}

HRESULT HkbhGetPackageInstalledPath(hkbrt::IPackage* package, std::wstring& path) {
  if (package == nullptr) return E_POINTER;
  hkb::ComPtr<IInspectable> folder;
  HRESULT hr = package->get_InstalledLocation(folder.put());
  if (SUCCEEDED(hr) && !folder) hr = E_POINTER;
  hkb::ComPtr<hkbrt::IStorageItem> item;
  if (SUCCEEDED(hr)) hr = folder.as(hkbrt::kIidStorageItem, item);
  hkb::HString text;
  if (SUCCEEDED(hr)) hr = item->get_Path(text.put());
  if (SUCCEEDED(hr)) path.assign(text.view());
  return hr;
}

HRESULT HkbhGetPackageIdentity(hkbrt::IPackage* package, HkbhPackageIdentity& identity) {
  hkb::ComPtr<hkbrt::IPackageId> id;
  HRESULT hr = GetId(package, id);
  hkb::HString family, full, name;
  hkbrt::PackageVersion version = {};
  if (SUCCEEDED(hr)) hr = id->get_FamilyName(family.put());
  if (SUCCEEDED(hr)) hr = id->get_FullName(full.put());
  if (SUCCEEDED(hr)) hr = id->get_Name(name.put());
  if (SUCCEEDED(hr)) hr = id->get_Version(&version);
  if (FAILED(hr)) return hr;
  identity.FamilyName.assign(family.view());
  identity.FullName.assign(full.view());
  identity.Name.assign(name.view());
  identity.Version.major = version.Major;
  identity.Version.minor = version.Minor;
  identity.Version.build = version.Build;
  identity.Version.revision = version.Revision;
  package->AddRef();
  const auto held = hkb::ComPtr<hkbrt::IPackage>::attach(package);
  identity.InstalledPath = [held](std::wstring& path) {
    const HRESULT got = HkbhGetPackageInstalledPath(held.get(), path);
    return FAILED(got) ? HkbhPlatformError(kListAddPackage, got) : got;
  };
  return S_OK;
}

HRESULT CHkbhAppNameList::AddMetroPackage(hkbrt::IPackage* package) {
  if (package == nullptr) {
    WriteLog("%S OUT(0x%08X)\r\n", kListAddPackage, static_cast<unsigned>(E_POINTER));
    return E_POINTER;
  }
  HkbhPackageIdentity identity;
  HRESULT hr = S_OK;
  try {
    hr = HkbhGetPackageIdentity(package, identity);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr)) return HkbhPlatformError(kListAddPackage, hr);
  return AddMetroPackage(identity);
}

HRESULT CHkbhManifestReader::GetAppDisplayName(hkbrt::IPackage* package, wchar_t** out) {
  if (package == nullptr || out == nullptr) {
    WriteLog("%S OUT(0x%08X)\r\n", kDisplayName, static_cast<unsigned>(E_POINTER));
    return E_POINTER;
  }
  HkbhPackageIdentity identity;
  std::wstring folder;
  HRESULT hr = S_OK;
  try {
    hr = HkbhGetPackageIdentity(package, identity);
    if (SUCCEEDED(hr)) hr = HkbhGetPackageInstalledPath(package, folder);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return HkbhPlatformError(kDisplayName, hr);
  wchar_t manifest[kHkbhPathChars];
  if (!HkbhBuildManifestPath(folder.c_str(), manifest)) {
    hr = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    WriteLog("%S OUT(0x%08X)\r\n", kDisplayName, static_cast<unsigned>(hr));
    return hr;
  }
  return GetAppDisplayName(manifest, identity.FullName.c_str(), identity.Name.c_str(), out);
}
