#include "support.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>

#include "hkb/unique.h"
#include "hkbtest/harness.h"
#include "hkbtest/process.h"

namespace hkbhtest {

namespace {

// A folder link is removed as a link: what it points to is left alone.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  const hkb::UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &data));
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!::RemoveDirectoryW(full.c_str())) ::DeleteFileW(full.c_str());
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(full.c_str());
      }
    } while (::FindNextFileW(find.get(), &data));
  }
  ::RemoveDirectoryW(path.c_str());
}

std::string Flag(BOOL b) { return b ? "1" : "0"; }

}  // namespace

ScopedFolder::ScopedFolder() {
  static std::atomic<int> counter{0};
  const std::wstring base = hkbtest::TempFolder();
  for (int i = 0; i < 1000; ++i) {
    const std::wstring candidate =
        base + L"hkbh" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(counter++);
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      m_path = candidate;
      return;
    }
  }
}

ScopedFolder::~ScopedFolder() {
  if (!m_path.empty()) RemoveTree(m_path);
}

std::vector<std::wstring> ScopedFolder::files() const {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW data;
  const hkb::UniqueFind find(::FindFirstFileW((m_path + L"\\*").c_str(), &data));
  if (!find) return out;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(data.cFileName);
  } while (::FindNextFileW(find.get(), &data));
  std::sort(out.begin(), out.end());
  return out;
}

bool MakeFolders(const std::wstring& path) {
  const int rc = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS;
}

std::vector<std::string> Dump(const CHkbhAppNameList& list) {
  std::vector<std::string> out;
  auto hold = list.LockShared();
  for (const auto& p : list.Packages()) {
    const HkbhVersion& v = p->Version();
    out.push_back("P " + hkbtest::Utf8(p->PackageFamilyName()) + " " +
                  hkbtest::Utf8(hkbh::FormatVersionText(v)) + " reserve=" + Flag(p->NeedReserve()) +
                  " installed=" + Flag(p->IsInstalled()));
    for (const auto& a : p->Apps()) {
      out.push_back("  A [" + hkbtest::Utf8(a->DisplayName()) + "] [" + hkbtest::Utf8(a->ShortName()) +
                    "] [" + hkbtest::Utf8(a->RubyDisplayName()) + "] [" + hkbtest::Utf8(a->RubyShortName()) +
                    "]");
    }
  }
  for (const auto& d : list.DesktopApps()) {
    out.push_back("D [" + hkbtest::Utf8(d->DisplayName()) + "] [" + hkbtest::Utf8(d->LnkFileName()) + "] [" +
                  hkbtest::Utf8(d->LocalizeName()) + "] [" + hkbtest::Utf8(d->RubyDisplayName()) +
                  "] reserve=" + Flag(d->NeedReserve()) + " installed=" + Flag(d->IsInstalled()) +
                  " dual=" + Flag(d->IsDualMode()));
  }
  return out;
}

HRESULT LoadText(CHkbhAppNameList& list, const ScopedFolder& folder, const std::string& text) {
  const std::wstring path = folder.file(L"load.xml");
  if (!hkbtest::WriteFileBytes(path, text)) return E_UNEXPECTED;
  return list.Load(path.c_str());
}

std::string WithoutBom(const std::string& bytes) {
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return bytes.substr(3);
  return bytes;
}

DWORD RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeout_ms,
                 const std::wstring& error_file) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  hkb::UniqueFile error;
  if (!error_file.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    error.reset(::CreateFileW(error_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                              nullptr));
    if (!error) return ~0u;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdError = error.get();
  }
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(exe.c_str(), command, !error_file.empty(), 0, nullptr, si, pi))
    return ~0u;
  hkb::UniqueHandle process(pi.hProcess);
  hkb::UniqueHandle thread(pi.hThread);
  if (::WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    return ~0u;
  }
  DWORD code = ~0u;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

}  // namespace hkbhtest
