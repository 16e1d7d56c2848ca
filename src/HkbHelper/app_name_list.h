// The app catalogue: Store packages with the apps each declares, and Start
// Menu shortcuts, kept in memory and persisted in "AppNameList.xml".
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

#include "catalogue_logic.h"

namespace hkbrt {
class IPackage;
}

// The library's own result codes.
inline constexpr HRESULT kHkbhNotInstalled = static_cast<HRESULT>(0xA0000001);
inline constexpr HRESULT kHkbhManyApplications = static_cast<HRESULT>(0xA0000002);

using HkbhExcludeList = hkbh::NameList;
using HkbhVersion = hkbh::PackageVersion;

// Reader/writer lock for the catalogue; shared for readers, exclusive for the
// changing thread. Not recursive.
class CHkbhListLock {
 public:
  CHkbhListLock() noexcept = default;
  CHkbhListLock(const CHkbhListLock&) = delete;
  CHkbhListLock& operator=(const CHkbhListLock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }
  void lock_shared() noexcept { ::AcquireSRWLockShared(&m_lock); }
  void unlock_shared() noexcept { ::ReleaseSRWLockShared(&m_lock); }

 private:
  SRWLOCK m_lock = SRWLOCK_INIT;
};

// ---------------------------------------------------------------------------
// App records.

class CHkbhApp {
 public:
  virtual ~CHkbhApp();
  virtual HRESULT AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) = 0;
  virtual HRESULT ToXmlNode(IXmlWriter* writer) = 0;

  // TRUE when every word and significant character of `searched` occurs in
  // `other`, in any order (traced).
  static BOOL IsSubStrNoOrder(const wchar_t* searched, const wchar_t* other);

  const std::wstring& DisplayName() const { return m_DisplayName; }
  const std::wstring& RubyDisplayName() const { return m_RubyDisplayName; }

 protected:
  // DisplayName is folded to lower case.
  CHkbhApp(std::wstring_view displayName, std::wstring_view rubyDisplayName);

  std::wstring m_DisplayName;
  std::wstring m_RubyDisplayName;
};

class CHkbhMetroApp final : public CHkbhApp {
 public:
  // DisplayName and ShortName are folded to lower case.
  CHkbhMetroApp(std::wstring_view displayName, std::wstring_view shortName, std::wstring_view rubyDisplayName,
                std::wstring_view rubyShortName);

  HRESULT AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) override;
  HRESULT ToXmlNode(IXmlWriter* writer) override;
  // Reads a "MetroApp" element's attributes; S_FALSE with the new app.
  static HRESULT FromXmlNode(IXmlReader* reader, CHkbhMetroApp** app);

  const std::wstring& ShortName() const { return m_ShortName; }
  const std::wstring& RubyShortName() const { return m_RubyShortName; }

 private:
  std::wstring m_ShortName;
  std::wstring m_RubyShortName;
};

class CHkbhDesktopApp final : public CHkbhApp {
 public:
  // DisplayName is folded to lower case.
  CHkbhDesktopApp(std::wstring_view displayName, std::wstring_view lnkFileName,
                  std::wstring_view localizeName, std::wstring_view rubyDisplayName, BOOL needReserve,
                  BOOL isInstalled, BOOL isDualMode);

  HRESULT AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) override;
  HRESULT ToXmlNode(IXmlWriter* writer) override;
  // Reads a "DesktopApp" element's attributes; S_FALSE with the new app.
  static HRESULT FromXmlNode(IXmlReader* reader, CHkbhDesktopApp** app);
  // TRUE when LnkFileName equals the path ignoring letter case.
  BOOL IsSameShortcut(const wchar_t* path) const;

  const std::wstring& LocalizeName() const { return m_LocalizeName; }
  const std::wstring& LnkFileName() const { return m_LnkFileName; }
  BOOL NeedReserve() const { return m_NeedReserve; }
  BOOL IsInstalled() const { return m_IsInstalled; }
  BOOL IsDualMode() const { return m_IsDualMode; }
  void SetInstalled(BOOL installed) { m_IsInstalled = installed ? TRUE : FALSE; }

 private:
  BOOL m_NeedReserve;
  std::wstring m_LocalizeName;
  std::wstring m_LnkFileName;
  BOOL m_IsInstalled;
  BOOL m_IsDualMode;
};

// ---------------------------------------------------------------------------
// Package record.

class CHkbhPackage {
 public:
  CHkbhPackage(std::wstring_view familyName, std::wstring_view fullName, std::wstring_view name,
               const HkbhVersion& version, BOOL needReserve, BOOL isInstalled);
  virtual ~CHkbhPackage();
  CHkbhPackage(const CHkbhPackage&) = delete;
  CHkbhPackage& operator=(const CHkbhPackage&) = delete;

  // Reads a "Package" element and the apps inside it. S_OK when an element
  // or end tag ended it (the reader is left on that node), S_FALSE at the end
  // of the document, a read error with no package.
  static HRESULT FromXmlNode(IXmlReader* reader, CHkbhPackage** package);
  HRESULT ToXmlNode(IXmlWriter* writer);

  BOOL IsThisPackage(const wchar_t* familyName) const;
  HRESULT AddApplication(std::unique_ptr<CHkbhMetroApp> app);
  HRESULT AddApplication(const wchar_t* displayName, const wchar_t* shortName);
  void DeleteAllApp();
  void AddAppNameToExcludeList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact);

  const std::wstring& PackageFamilyName() const { return m_PackageFamilyName; }
  const std::wstring& FullName() const { return m_FullName; }
  const std::wstring& Name() const { return m_Name; }
  const HkbhVersion& Version() const { return m_Version; }
  BOOL NeedReserve() const { return m_NeedReserve; }
  BOOL IsInstalled() const { return m_IsInstalled; }
  const std::vector<std::unique_ptr<CHkbhMetroApp>>& Apps() const { return m_Apps; }

  void SetIdentity(std::wstring_view fullName, std::wstring_view name);
  void SetVersion(const HkbhVersion& version) { m_Version = version; }
  void SetInstalled(BOOL installed) { m_IsInstalled = installed ? TRUE : FALSE; }
  // Takes the other package's apps in place of its own.
  void SwapApps(CHkbhPackage& other) { m_Apps.swap(other.m_Apps); }

 private:
  std::wstring m_PackageFamilyName;
  std::wstring m_FullName;
  std::wstring m_Name;
  HkbhVersion m_Version;
  BOOL m_NeedReserve;
  BOOL m_IsInstalled;
  std::vector<std::unique_ptr<CHkbhMetroApp>> m_Apps;
};

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
  std::shared_lock<CHkbhListLock> LockShared() const { return std::shared_lock<CHkbhListLock>(m_lock); }
  const std::vector<std::unique_ptr<CHkbhPackage>>& Packages() const { return m_Packages; }
  const std::vector<std::unique_ptr<CHkbhDesktopApp>>& DesktopApps() const { return m_DesktopApps; }

 private:
  CHkbhPackage* FindPackage(const wchar_t* familyName) const;
  BOOL FindDesktopApp(const wchar_t* lnkFileName) const;
  HRESULT WriteDocument(IXmlWriter* writer) const;

  mutable CHkbhListLock m_lock;
  std::vector<std::unique_ptr<CHkbhPackage>> m_Packages;
  std::vector<std::unique_ptr<CHkbhDesktopApp>> m_DesktopApps;
};
