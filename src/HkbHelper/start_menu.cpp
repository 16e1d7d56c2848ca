// The Start Menu walk of the refresh: the shortcuts of a Programs tree
// become the catalogue's desktop apps.
#include "package_manager.h"

#include <cwchar>

#include "package_rules.h"

namespace {

constexpr wchar_t kRefreshDesktop[] = L"CHkbhPackageManager::RefreshDesktopApps";
constexpr wchar_t kAddLinkFiles[] = L"CHkbhPackageManager::AddLinkFileToList";

}  // namespace

HRESULT CHkbhPackageManager::RefreshDesktopApps(const wchar_t* folder) {
  return RefreshDesktopFolder(folder, 0);
}

HRESULT CHkbhPackageManager::RefreshDesktopFolder(const wchar_t* folder, int depth) {
  const HkbhTrace trace(kRefreshDesktop, folder);
  if (folder == nullptr) return trace.Out(E_POINTER);
  if (*folder == L'\0') return trace.Out(E_INVALIDARG);
  if (IsExitRequested()) return trace.Out(S_OK);

  AddLinkFileToList(folder, L"\\*.lnk");
  AddLinkFileToList(folder, L"\\*.url");

  const auto search = hkbh::AppendPath(folder, L"\\*");
  WIN32_FIND_DATAW entry;
  hkb::UniqueFind find(search ? ::FindFirstFileW(search->c_str(), &entry) : INVALID_HANDLE_VALUE);
  if (!find) {
    const DWORD error = search ? ::GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
    WriteLog("Errcode = %d \r\n", static_cast<int>(error));
    return trace.Out(E_FAIL);
  }
  do {
    if (IsExitRequested()) break;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    // A junction or folder link may lead back up the tree, and its shortcuts
    // are catalogued where they really are. Any reparse point counts: some
    // file systems report a folder link with the attribute but without a tag.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      WriteLog("%S Link not followed: %S\r\n", kRefreshDesktop, entry.cFileName);
      continue;
    }
    if (depth >= kMaxStartMenuDepth) {
      WriteLog("%S Too deep, not entered: %S\r\n", kRefreshDesktop, entry.cFileName);
      continue;
    }
    // A subfolder whose path does not fit is passed over.
    if (const auto sub = hkbh::JoinPath(folder, entry.cFileName))
      RefreshDesktopFolder(sub->c_str(), depth + 1);
  } while (::FindNextFileW(find.get(), &entry));
  return trace.Out(S_OK);
}

void CHkbhPackageManager::AddLinkFileToList(const wchar_t* folder, const wchar_t* pattern) {
  const HkbhTrace trace(kAddLinkFiles, folder);
  if (folder == nullptr || pattern == nullptr) return;
  const auto search = hkbh::AppendPath(folder, pattern);
  WIN32_FIND_DATAW entry;
  hkb::UniqueFind find(search ? ::FindFirstFileW(search->c_str(), &entry) : INVALID_HANDLE_VALUE);
  if (!find) {
    const DWORD error = search ? ::GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
    WriteLog("%S Errcode = %d \r\n", search ? search->c_str() : folder, static_cast<int>(error));
    return;
  }
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const auto path = hkbh::JoinPath(folder, entry.cFileName);
    if (!path) continue;
    const std::wstring display = hkbh::ShortcutDisplayName(entry.cFileName);
    m_AppNameList.AddDesktopApp(display.c_str(), path->c_str());
  } while (::FindNextFileW(find.get(), &entry));
  trace.Out();
}
