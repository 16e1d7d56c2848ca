// The catalogue's records: the apps of a Store package (CHkbhMetroApp), the
// Start Menu shortcuts (CHkbhDesktopApp) and the Store packages that hold
// their apps (CHkbhPackage), each with its share of the exclusion rules and
// its element of "AppNameList.xml" (read and written in app_records_xml.cpp).
//
// Ownership: a package owns its apps and keeps them in insertion order.
// Records take no lock of their own: the catalogue that holds them does.
#pragma once

#include <windows.h>
#include <xmllite.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue_logic.h"

using HkbhExcludeList = hkbh::NameList;
using HkbhVersion = hkbh::PackageVersion;

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
