// The app catalogue: Store packages with the apps each declares, and Start
// Menu shortcuts, kept in memory and persisted in "AppNameList.xml". The
// records are declared in app_records.h; the catalogue in memory is in
// app_name_list.cpp, its file (Save, Load) in catalogue_file.cpp.
//
// Ownership: the catalogue owns its packages and desktop apps, a package owns
// its apps; lists keep insertion order. Records are never removed one by one.
//
// Threads: the catalogue is changed by one thread (the refresh) while others
// read it (the search launch). Every public operation of CHkbhAppNameList
// takes the catalogue's lock, exclusively when it changes records and shared
// when it only reads them. A record pointer obtained from the catalogue stays
// valid until Clear or the destructor; reading its fields from a thread other
// than the changing one needs the shared lock (LockShared).
#pragma once

#include <windows.h>
#include <xmllite.h>

#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "app_records.h"
#include "hkb/sync.h"
#include "hkbh_result.h"

namespace hkbrt {
class IPackage;
}

// What the catalogue takes from a platform package: its identity, and its
// install folder, asked only when the manifest is to be read.
struct HkbhPackageIdentity {
  std::wstring FamilyName;
  std::wstring FullName;
  std::wstring Name;
  HkbhVersion Version;
  std::function<HRESULT(std::wstring& installedPath)> InstalledPath;
};

// ---------------------------------------------------------------------------
// The catalogue.

class CHkbhAppNameList {
 public:
  CHkbhAppNameList();
  virtual ~CHkbhAppNameList();
  CHkbhAppNameList(const CHkbhAppNameList&) = delete;
  CHkbhAppNameList& operator=(const CHkbhAppNameList&) = delete;

  // Writes the catalogue to the file. The file is replaced only by a complete
  // new one: the document goes to a temporary file beside it first.
  HRESULT Save(const wchar_t* path);
  // Adds the records of the file to what the catalogue holds; records read
  // before a fault stay.
  HRESULT Load(const wchar_t* path);
  // Reads the "DesktopApp" elements of a "DesktopApps" element and appends them.
  HRESULT ReadDesktopApps(IXmlReader* reader);

  // Adds a new package, or rereads the apps of a changed one.
  HRESULT AddMetroPackage(const HkbhPackageIdentity& package);
  // The same for a platform package; a platform error gives E_FAIL.
  HRESULT AddMetroPackage(hkbrt::IPackage* package);
  // Appends the record and takes it over.
  HRESULT AddMetroPackage(std::unique_ptr<CHkbhPackage> package);
  HRESULT AddDesktopApp(const wchar_t* displayName, const wchar_t* lnkFileName);
  // Appends the record and takes it over, without a duplicate check (as a
  // load does).
  HRESULT AddDesktopApp(std::unique_ptr<CHkbhDesktopApp> app);
  BOOL IsInDesktopAppList(const wchar_t* lnkFileName) const;
  // The first package of that family (exact comparison), or null.
  CHkbhPackage* GetPackage(const wchar_t* familyName) const;
  void Clear();

  HRESULT GetExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) const;

  // For the refresh: indexes stay valid until Clear, since records are never
  // removed one by one. Each call takes the lock for itself.
  size_t PackageCount() const;
  size_t DesktopAppCount() const;
  BOOL GetPackageFamilyNameAt(size_t index, std::wstring& familyName) const;
  BOOL GetDesktopAppLnkFileNameAt(size_t index, std::wstring& lnkFileName) const;
  void SetPackageInstalledAt(size_t index, BOOL installed);
  void SetDesktopAppInstalledAt(size_t index, BOOL installed);

  // For reading record fields directly: hold the lock for the whole reading.
  std::shared_lock<hkb::SrwLock> LockShared() const { return std::shared_lock<hkb::SrwLock>(m_lock); }
  const std::vector<std::unique_ptr<CHkbhPackage>>& Packages() const { return m_Packages; }
  const std::vector<std::unique_ptr<CHkbhDesktopApp>>& DesktopApps() const { return m_DesktopApps; }

 private:
  CHkbhPackage* FindPackage(const wchar_t* familyName) const;
  BOOL FindDesktopApp(const wchar_t* lnkFileName) const;
  HRESULT WriteDocument(IXmlWriter* writer) const;

  mutable hkb::SrwLock m_lock;  // shared for readers, exclusive for the changing thread
  std::vector<std::unique_ptr<CHkbhPackage>> m_Packages;
  std::vector<std::unique_ptr<CHkbhDesktopApp>> m_DesktopApps;

  // While the log is off, FindPackage and FindDesktopApp look names up here
  // instead of asking every record (the traced comparisons, whose lines the
  // log must show while it is on). The indexes hold views of the records'
  // family names and shortcut paths, which never change; they are brought up
  // to the lists at the next lookup, as records are only appended, and
  // emptied with them. m_indexLock orders the readers that hold m_lock
  // shared; it is taken after m_lock.
  mutable hkb::SrwLock m_indexLock;
  mutable hkbh::NameIndex m_packageIndex{false};
  mutable hkbh::NameIndex m_shortcutIndex{true};
};
