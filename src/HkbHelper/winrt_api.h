// The few Windows Runtime interfaces the library uses to ask the platform's
// package manager, declared here because MinGW ships no headers for them.
// Method order and identifiers are those of the platform's metadata
// (Windows.Management.Deployment, Windows.ApplicationModel,
// Windows.Storage); slots the library never calls keep their place with
// opaque arguments.
//
// The collections of packages are parameterized interfaces; their
// identifiers are derived from the instance's type signature
// (pinterface_iid.h) and handed out by the functions at the end.
#pragma once

#include <windows.h>
#include <activation.h>
#include <hstring.h>
#include <inspectable.h>

namespace hkbrt {

// Windows.ApplicationModel.PackageVersion.
struct PackageVersion {
  UINT16 Major;
  UINT16 Minor;
  UINT16 Build;
  UINT16 Revision;
};

inline constexpr GUID kIidInspectable = {
    0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
inline constexpr GUID kIidActivationFactory = {0x00000035, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
// Windows.Management.Deployment.IPackageManager
inline constexpr GUID kIidPackageManager = {
    0x9a7d4b65, 0x5e8f, 0x4fc7, {0xa2, 0xe5, 0x7f, 0x69, 0x25, 0xcb, 0x8b, 0x53}};
// Windows.ApplicationModel.IPackage, the default interface of Package
inline constexpr GUID kIidPackage = {
    0x163c792f, 0xbd75, 0x413c, {0xbf, 0x23, 0xb1, 0xfe, 0x7b, 0x95, 0xd8, 0x25}};
// Windows.ApplicationModel.IPackageId
inline constexpr GUID kIidPackageId = {
    0x1adb665e, 0x37c7, 0x4790, {0x99, 0x80, 0xdd, 0x7a, 0xe7, 0x4e, 0x8b, 0xb2}};
// Windows.Storage.IStorageItem (Path), implemented by the StorageFolder of InstalledLocation
inline constexpr GUID kIidStorageItem = {
    0x4207a996, 0xca2f, 0x42f7, {0xbd, 0xe8, 0x8b, 0x10, 0x45, 0x7a, 0x7f, 0x30}};
// Windows.Storage.IStorageFolder, the default interface of StorageFolder
inline constexpr GUID kIidStorageFolder = {
    0x72d1cb78, 0xb3ef, 0x4f75, {0xa8, 0x0b, 0x6f, 0xd9, 0xda, 0xe2, 0x94, 0x4b}};

// The open generic interfaces of Windows.Foundation.Collections.
inline constexpr char kPiidIterable[] = "{faa585ea-6214-4217-afda-7f46de5869b3}";
inline constexpr char kPiidIterator[] = "{6a79e863-4300-459a-9966-cbb660963ee1}";
inline constexpr char kPiidVectorView[] = "{bbe1fa4c-b0e3-4583-baef-1f1b2e483e56}";
// The runtime class the collections hold.
inline constexpr char kPackageClassName[] = "Windows.ApplicationModel.Package";

class IPackage;

class IPackageId : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Architecture(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PublisherId(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FullName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* value) = 0;
};

class IStorageItem : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions(HSTRING name,
                                                                      IInspectable** action) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenameAsync(HSTRING name, INT32 option, IInspectable** action) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions(IInspectable** action) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsync(INT32 option, IInspectable** action) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync(IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Attributes(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DateCreated(INT64* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsOfType(INT32 type, boolean* value) = 0;
};

// IIterator<Package>
class IPackageIterator : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Current(IPackage** current) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* has) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveNext(boolean* has) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 capacity, IPackage** items, UINT32* actual) = 0;
};

// IIterable<Package>
class IPackageIterable : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE First(IPackageIterator** first) = 0;
};

// IVectorView<Package>
class IPackageVectorView : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, IPackage** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE IndexOf(IPackage* item, UINT32* index, boolean* found) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 start, UINT32 capacity, IPackage** items,
                                            UINT32* actual) = 0;
};

class IPackage : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Id(IPackageId** id) = 0;
  // A StorageFolder (its default interface, IStorageFolder).
  virtual HRESULT STDMETHODCALLTYPE get_InstalledLocation(IInspectable** folder) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsFramework(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Dependencies(IPackageVectorView** dependencies) = 0;
};

class IPackageManager : public IInspectable {
 public:
  virtual HRESULT STDMETHODCALLTYPE AddPackageAsync(IInspectable* uri, IInspectable* dependencies,
                                                    UINT32 options, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdatePackageAsync(IInspectable* uri, IInspectable* dependencies,
                                                       UINT32 options, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING full_name, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE StagePackageAsync(IInspectable* uri, IInspectable* dependencies,
                                                      IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterPackageAsync(IInspectable* manifest, IInspectable* dependencies,
                                                         UINT32 options, IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackages(IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING user,
                                                                 IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByNamePublisher(HSTRING name, HSTRING publisher,
                                                                IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdNamePublisher(
      HSTRING user, HSTRING name, HSTRING publisher, IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindUsers(HSTRING full_name, IInspectable** users) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPackageState(HSTRING full_name, INT32 state) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackageByPackageFullName(HSTRING full_name, IPackage** package) = 0;
  virtual HRESULT STDMETHODCALLTYPE CleanupPackageForUserAsync(HSTRING name, HSTRING user,
                                                               IInspectable** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByPackageFamilyName(HSTRING family,
                                                                    IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdPackageFamilyName(
      HSTRING user, HSTRING family, IPackageIterable** packages) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackageByUserSecurityIdPackageFullName(HSTRING user,
                                                                               HSTRING full_name,
                                                                               IPackage** package) = 0;
};

// The identifiers of the parameterized collections, derived once from their
// signatures.
const GUID& IidPackageIterable();
const GUID& IidPackageIterator();
const GUID& IidPackageVectorView();

}  // namespace hkbrt
