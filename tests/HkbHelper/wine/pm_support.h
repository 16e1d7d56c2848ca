// Helpers for the tests of the package manager, the exports and the
// lifecycle: the stand-in platform package manager in place for a scope, the
// user folders the library reads moved into a folder of the test, manifest
// fixtures, and waiting for what the library does in the background.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "hkbtest/standin_scope.h"
#include "support.h"

namespace hkbhtest {

// The stand-in registered where Windows looks for the real package manager
// (the activatable-class registry, 64-bit view), answering from a scenario
// file and recording into a records file of the scope. Child processes find
// both through the environment they inherit.
class ScopedPackageManager {
 public:
  ScopedPackageManager();
  bool ok() const { return m_standin->ok() && !m_folder.path().empty(); }
  void SetScenario(const std::string& text) const;
  // Each record split at its tabs: method, process id, arguments.
  std::vector<std::vector<std::string>> Records() const;
  // Calls of `method` whose last field is `last` (any when empty).
  size_t Count(const std::string& method, const std::string& last = {}) const;
  void ClearRecords() const;
  const ScopedFolder& folder() const { return m_folder; }

 private:
  ScopedFolder m_folder;
  std::optional<hkbtest::PackageManagerStandin> m_standin;
};

// A scenario line for an installed package.
std::string PackageLine(const std::string& family, const std::string& version, const std::wstring& folder);
// An AppxManifest.xml in `folder` (created) declaring one application per
// display name, each with the short name "s-<display name>".
bool WriteManifest(const std::wstring& folder, const std::vector<std::string>& displayNames);

// LOCALAPPDATA, APPDATA and ALLUSERSPROFILE pointed into a folder of the scope,
// with both Start Menu trees created.
class ScopedUserFolders {
 public:
  ScopedUserFolders();
  const std::wstring& root() const { return m_root.path(); }
  std::wstring CatalogueFolder(const std::wstring& base) const;
  std::wstring Catalogue(const std::wstring& base) const {
    return CatalogueFolder(base) + L"\\AppNameList.xml";
  }
  std::wstring Log(const std::wstring& base) const { return CatalogueFolder(base) + L"\\HkbHelperLog.txt"; }
  std::wstring CommonPrograms() const {
    return m_root.path() + L"\\all\\Microsoft\\Windows\\Start Menu\\Programs";
  }
  std::wstring UserPrograms() const {
    return m_root.path() + L"\\roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  }

 private:
  ScopedFolder m_root;
  std::optional<hkbtest::ScopedEnv> m_local, m_roaming, m_all;
};

// A folder link (symbolic link to a folder) `name` in `folder`, pointing at
// `target` (relative to `folder`, backslashes) for the scope. Made with
// CreateSymbolicLinkW where that works; under Wine, whose CreateSymbolicLinkW
// reports success and makes nothing, as a Unix symbolic link by the Unix
// "ln" (Wine shows it as a folder with FILE_ATTRIBUTE_REPARSE_POINT).
// Removed afterwards as a link, leaving its target alone.
class ScopedFolderLink {
 public:
  ScopedFolderLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target);
  ~ScopedFolderLink();
  ScopedFolderLink(const ScopedFolderLink&) = delete;
  ScopedFolderLink& operator=(const ScopedFolderLink&) = delete;
  bool ok() const { return m_ok; }

 private:
  std::wstring m_folder, m_name;
  bool m_unix = false;
  bool m_ok = false;
};

// Lines of a text file that contain `needle`.
size_t CountLines(const std::wstring& path, const std::string& needle);

// The shipped library with its exports, loaded as the real callers load it.
struct HkbHelperDll {
  HkbHelperDll();
  hkbtest::Library lib;
  HRESULT(WINAPI* Initialize)() = nullptr;
  void(WINAPI* Finalize)() = nullptr;
  HRESULT(WINAPI* IsInstalled)(const wchar_t*, BOOL*) = nullptr;
  HRESULT(WINAPI* IsInstalledByAppUserModeID)(const wchar_t*, BOOL*) = nullptr;
  HRESULT(WINAPI* GetAppDisplayNameByPFN)(const wchar_t*, wchar_t**) = nullptr;
  void(WINAPI* ReleaseString)(void*) = nullptr;
  HRESULT(WINAPI* LaunchBySearch)(const wchar_t*, UINT, BOOL) = nullptr;
  HRESULT(WINAPI* LaunchIEBySearch)(UINT, UINT, BOOL) = nullptr;
  HRESULT(WINAPI* LaunchByManager)(const wchar_t*, const wchar_t*) = nullptr;
};
std::wstring HkbHelperPath();

// A host program (tools/hkbh_host) running as its own process: it initializes
// the shipped library, writes its results to a file, and finalizes the
// library when told to stop.
class HostProcess {
 public:
  // `exe` is a copy of the host under the executable name the test needs;
  // `task` is the host's optional last argument (what it does once initialized).
  HostProcess(const std::wstring& exe, const ScopedFolder& folder, const std::wstring& cwd = {},
              const std::wstring& task = {});
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  bool started() const { return static_cast<bool>(m_process); }
  DWORD pid() const { return m_pid; }
  std::string Results() const;
  // Waits for the "init" line; empty when it did not come in time.
  std::string WaitInitialized(DWORD ceiling_ms = 60000) const;
  // Tells the host to finalize and end; its exit code, or ~0u when it did not end in time.
  DWORD Stop(DWORD ceiling_ms = 60000);
  // Ends the host at once (TerminateProcess), as a crash would; true once it has ended.
  bool Kill();

 private:
  std::wstring m_results;
  hkb::UniqueHandle m_quit;
  hkb::UniqueHandle m_process;
  DWORD m_pid = 0;
};

}  // namespace hkbhtest
