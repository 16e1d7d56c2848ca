#include "pm_support.h"
#include "hkbtest/process.h"

namespace hkbhtest {

namespace {

std::vector<std::string> Split(const std::string& line, char at) {
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    const size_t to = line.find(at, from);
    out.push_back(line.substr(from, to == std::string::npos ? std::string::npos : to - from));
    if (to == std::string::npos) return out;
    from = to + 1;
  }
}

}  // namespace

ScopedPackageManager::ScopedPackageManager() {
  m_standin.emplace(m_folder.file(L"scenario.txt"), m_folder.file(L"records.txt"));
}

void ScopedPackageManager::SetScenario(const std::string& text) const { m_standin->SetScenario(text); }

std::vector<std::vector<std::string>> ScopedPackageManager::Records() const {
  std::vector<std::vector<std::string>> out;
  for (const std::string& line : Split(hkbtest::ReadFileBytes(m_folder.file(L"records.txt")), '\n'))
    if (!line.empty()) out.push_back(Split(line, '\t'));
  return out;
}

size_t ScopedPackageManager::Count(const std::string& method, const std::string& last) const {
  size_t n = 0;
  for (const auto& r : Records())
    if (r[0] == method && (last.empty() || r.back() == last)) ++n;
  return n;
}

void ScopedPackageManager::ClearRecords() const { ::DeleteFileW(m_folder.file(L"records.txt").c_str()); }

std::string PackageLine(const std::string& family, const std::string& version, const std::wstring& folder) {
  const std::string name = family.substr(0, family.find('_'));
  return "package\t" + family + "\t" + name + "_" + version + "_x64__" + family.substr(family.find('_') + 1) +
         "\t" + name + "\t" + version + "\t" + hkbtest::Utf8(folder) + "\n";
}

bool WriteManifest(const std::wstring& folder, const std::vector<std::string>& displayNames) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<Package xmlns=\"http://schemas.microsoft.com/appx/2010/manifest\">\r\n  <Applications>\r\n";
  for (const std::string& name : displayNames)
    xml += "    <Application Id=\"App\"><VisualElements DisplayName=\"" + name +
           "\"><DefaultTile ShortName=\"s-" + name + "\" /></VisualElements></Application>\r\n";
  xml += "  </Applications>\r\n</Package>\r\n";
  return MakeFolders(folder) && hkbtest::WriteFileBytes(folder + L"\\AppxManifest.xml", xml);
}

ScopedUserFolders::ScopedUserFolders() {
  m_local.emplace(L"LOCALAPPDATA", m_root.path() + L"\\local");
  m_roaming.emplace(L"APPDATA", m_root.path() + L"\\roaming");
  m_all.emplace(L"ALLUSERSPROFILE", m_root.path() + L"\\all");
  MakeFolders(CommonPrograms());
  MakeFolders(UserPrograms());
}

std::wstring ScopedUserFolders::CatalogueFolder(const std::wstring& base) const {
  return m_root.path() + L"\\local\\ZEV\\HkbHelper\\" + base;
}

namespace {

bool IsLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Starts a Unix program (Wine runs one when asked to start it) in `folder`.
// Wine hands back no process to wait for: the caller waits for its effect.
bool StartUnixProgram(const wchar_t* program, const std::wstring& commandLine, const std::wstring& folder) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(program, commandLine, FALSE, 0, folder.c_str(), si, pi)) return false;
  if (pi.hThread) ::CloseHandle(pi.hThread);
  if (pi.hProcess) ::CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

ScopedFolderLink::ScopedFolderLink(const std::wstring& folder, const std::wstring& name,
                                   const std::wstring& target)
    : m_folder(folder), m_name(name) {
  const std::wstring link = folder + L"\\" + name;
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged);
  if (IsLink(link)) {
    m_ok = true;
    return;
  }
  if (!UnderWine()) return;
  std::wstring unixTarget = target;
  for (wchar_t& c : unixTarget)
    if (c == L'\\') c = L'/';
  m_unix = true;
  m_ok = StartUnixProgram(L"Z:\\bin\\ln", L"ln -s \"" + unixTarget + L"\" \"" + name + L"\"", folder) &&
         hkbtest::WaitUntil([&] { return IsLink(link); });
}

ScopedFolderLink::~ScopedFolderLink() {
  const std::wstring link = m_folder + L"\\" + m_name;
  if (!IsLink(link)) return;
  if (!m_unix) {
    ::RemoveDirectoryW(link.c_str());
    return;
  }
  // "rm" without -r removes the link, never what it points to.
  if (StartUnixProgram(L"Z:\\bin\\rm", L"rm \"" + m_name + L"\"", m_folder))
    hkbtest::WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

size_t CountLines(const std::wstring& path, const std::string& needle) {
  size_t n = 0;
  for (const std::string& line : Split(hkbtest::ReadFileBytes(path), '\n'))
    if (line.find(needle) != std::string::npos) ++n;
  return n;
}

std::wstring HkbHelperPath() { return hkbtest::DistFile(L"Program Files\\ZEVHKB\\HkbHelper.dll"); }

HkbHelperDll::HkbHelperDll() : lib(HkbHelperPath()) {
  if (!lib) return;
  Initialize = lib.proc<decltype(Initialize)>("HkbhInitialize");
  Finalize = lib.proc<decltype(Finalize)>("HkbhFinalize");
  IsInstalled = lib.proc<decltype(IsInstalled)>("HkbhIsInstalled");
  IsInstalledByAppUserModeID =
      lib.proc<decltype(IsInstalledByAppUserModeID)>("HkbhIsInstalledByAppUserModeID");
  GetAppDisplayNameByPFN = lib.proc<decltype(GetAppDisplayNameByPFN)>("HkbhGetAppDisplayNameByPFN");
  ReleaseString = lib.proc<decltype(ReleaseString)>("HkbhReleaseString");
  LaunchBySearch = lib.proc<decltype(LaunchBySearch)>("HkbhLaunchBySearch");
  LaunchIEBySearch = lib.proc<decltype(LaunchIEBySearch)>("HkbhLaunchIEBySearch");
  LaunchByManager = lib.proc<decltype(LaunchByManager)>("HkbhLaunchByManager");
}

HostProcess::HostProcess(const std::wstring& exe, const ScopedFolder& folder, const std::wstring& cwd,
                         const std::wstring& task) {
  static int counter = 0;
  const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
  m_results = folder.file(L"host" + tag + L".txt");
  const std::wstring quit = L"Local\\hkbh_host_quit_" + tag;
  m_quit.reset(::CreateEventW(nullptr, TRUE, FALSE, quit.c_str()));
  std::wstring command = L"\"" + exe + L"\" \"" + HkbHelperPath() + L"\" \"" + m_results + L"\" " + quit;
  if (!task.empty()) command += L" " + task;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(exe.c_str(), command, FALSE, 0, cwd.empty() ? nullptr : cwd.c_str(),
                                       si, pi))
    return;
  ::CloseHandle(pi.hThread);
  m_process.reset(pi.hProcess);
  m_pid = pi.dwProcessId;
}

HostProcess::~HostProcess() {
  if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT && Stop() == ~0u)
    ::TerminateProcess(m_process.get(), 1);
}

std::string HostProcess::Results() const { return hkbtest::ReadFileBytes(m_results); }

std::string HostProcess::WaitInitialized(DWORD ceiling_ms) const {
  std::string line;
  hkbtest::WaitUntil(
      [&] {
        const std::string text = Results();
        const size_t at = text.find("init ");
        if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
        line = text.substr(at, text.find('\r', at) - at);
        return true;
      },
      std::chrono::milliseconds(ceiling_ms));
  return line;
}

bool HostProcess::Kill() {
  if (!m_process) return false;
  ::TerminateProcess(m_process.get(), 9);
  return ::WaitForSingleObject(m_process.get(), 60000) == WAIT_OBJECT_0;
}

DWORD HostProcess::Stop(DWORD ceiling_ms) {
  if (!m_process) return ~0u;
  ::SetEvent(m_quit.get());
  if (::WaitForSingleObject(m_process.get(), ceiling_ms) != WAIT_OBJECT_0) return ~0u;
  DWORD code = ~0u;
  ::GetExitCodeProcess(m_process.get(), &code);
  return code;
}

}  // namespace hkbhtest
