#include "server_support.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>

#include "hkbtest/harness.h"
#include "hkbtest/process.h"

namespace keydbtest {

namespace {

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return path;
}

std::wstring LibrarySource(Library library) {
  switch (library) {
    case Library::kStandin: return Server().standins + L"KeyDb.dll";
    case Library::kNoExports: return Server().standins + L"KeyDbNoExports.dll";
    case Library::kFixed: return Server().standins + L"KeyDbFixed.dll";
    default: return {};
  }
}

std::vector<std::string> ReadLines(const std::wstring& file) {
  return hkbtest::SplitLines(hkbtest::ReadFileBytes(file));
}

void DeleteWithRetry(const std::wstring& file) {
  // A server that just ended may hold its file for a moment longer.
  hkbtest::WaitUntil([&] { return !hkbtest::FileExists(file) || ::DeleteFileW(file.c_str()); },
                     std::chrono::seconds(10));
}

}  // namespace

const ServerBuild& Server() {
  static const ServerBuild build = [] {
    ServerBuild b;
    b.program = hkbtest::DistFile(L"Program Files (x86)\\ZEVHKB\\KeyDbWrapper.exe");
    b.standins = hkbtest::Standin32File(L"keydb\\");
    b.install = SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\ZEVHKB\\";
    return b;
  }();
  return build;
}

std::optional<DWORD> RunProbe32(const std::wstring& args) {
  std::wstring cmd = L"\"" + hkbtest::Standin32File(L"keydb\\probe32.exe") + L"\" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(nullptr, cmd, FALSE, DETACHED_PROCESS, nullptr, si, pi))
    return std::nullopt;
  hkb::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  DWORD code = 0;
  if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.get(), &code))
    return std::nullopt;
  return code;
}

InstalledServer::InstalledServer(Library library, const std::wstring& name, bool do_register)
    : m_path(Server().install + name), m_folder(Server().install) {
  ::SHCreateDirectoryExW(nullptr, m_folder.c_str(), nullptr);
  m_ok = ::CopyFileW(Server().program.c_str(), m_path.c_str(), FALSE) != FALSE;
  PutLibrary(library);
  ClearTrace();
  if (m_ok && do_register) {
    m_registered = true;
    m_ok = Run(L"/RegServer") == std::optional<DWORD>(0);
  }
}

InstalledServer::~InstalledServer() {
  EndServers();
  if (m_registered) Run(L"/UnregServer");
  DeleteWithRetry(m_path);
  for (const wchar_t* f : {L"KeyDb.dll", L"KeyDb.scenario", L"KeyDb.trace"}) DeleteWithRetry(m_folder + f);
  ::RemoveDirectoryW(m_folder.c_str());
}

std::optional<DWORD> InstalledServer::Run(const std::wstring& args) const {
  hkb::UniqueHandle p = Start(args);
  DWORD code = 0;
  if (!p || ::WaitForSingleObject(p.get(), 60000) != WAIT_OBJECT_0 || !::GetExitCodeProcess(p.get(), &code))
    return std::nullopt;
  return code;
}

hkb::UniqueHandle InstalledServer::Start(const std::wstring& args) const {
  std::wstring cmd = L"\"" + m_path + L"\" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(nullptr, cmd, FALSE, DETACHED_PROCESS, nullptr, si, pi)) return {};
  ::CloseHandle(pi.hThread);
  return hkb::UniqueHandle(pi.hProcess);
}

void InstalledServer::PutLibrary(Library library) const {
  const std::wstring target = m_folder + L"KeyDb.dll";
  DeleteWithRetry(target);
  if (library == Library::kNotAnImage) {
    hkbtest::WriteFileBytes(target, "MZ this is not a program image");
  } else if (library != Library::kNone) {
    ::CopyFileW(LibrarySource(library).c_str(), target.c_str(), FALSE);
  }
}

void InstalledServer::SetScenario(const std::string& text) const {
  hkbtest::WriteFileBytes(m_folder + L"KeyDb.scenario", text);
}

std::vector<std::string> InstalledServer::Trace() const { return ReadLines(m_folder + L"KeyDb.trace"); }
void InstalledServer::ClearTrace() const { DeleteWithRetry(m_folder + L"KeyDb.trace"); }

DWORD InstalledServer::LastServerPid() const {
  const std::vector<std::string> lines = Trace();
  for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    if (it->rfind("pid=", 0) == 0) return static_cast<DWORD>(std::stoul(it->substr(4)));
  return 0;
}

std::vector<DWORD> InstalledServer::RunningServers() const {
  std::vector<DWORD> pids;
  hkb::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return pids;
  const std::wstring name = m_path.substr(m_path.find_last_of(L'\\') + 1);
  PROCESSENTRY32W e = {};
  e.dwSize = sizeof e;
  for (BOOL more = ::Process32FirstW(snap.get(), &e); more; more = ::Process32NextW(snap.get(), &e)) {
    if (::lstrcmpiW(e.szExeFile, name.c_str()) != 0) continue;
    hkb::UniqueHandle p(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (p && ::QueryFullProcessImageNameW(p.get(), 0, image, &size) &&
        ::lstrcmpiW(image, m_path.c_str()) == 0)
      pids.push_back(e.th32ProcessID);
  }
  return pids;
}

// Wine keeps the class registration of a server that was killed, and hands
// it to later clients, which then fail with RPC_S_SERVER_UNAVAILABLE: a
// server is ended the way its own idle end does it, with WM_QUIT to its
// message loop, so that it revokes its class object; it is killed only when
// it does not end.
void InstalledServer::EndServers() const {
  for (DWORD pid : RunningServers()) {
    hkb::UniqueHandle p(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!p || ::WaitForSingleObject(p.get(), 0) != WAIT_TIMEOUT) continue;
    hkb::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    for (BOOL more = snap && ::Thread32First(snap.get(), &t); more; more = ::Thread32Next(snap.get(), &t))
      if (t.th32OwnerProcessID == pid) ::PostThreadMessageW(t.th32ThreadID, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(p.get(), 30000) == WAIT_TIMEOUT) {
      ::TerminateProcess(p.get(), 1);
      ::WaitForSingleObject(p.get(), 30000);
    }
  }
}

std::optional<DWORD> WaitForExit(DWORD pid, DWORD timeout_ms, ULONGLONG* ended_at) {
  hkb::UniqueHandle p(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  DWORD code = 0;
  if (!p || ::WaitForSingleObject(p.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  if (ended_at) *ended_at = ::GetTickCount64();
  ::GetExitCodeProcess(p.get(), &code);
  return code;
}

// ProgID keys are shared between the two registry views on 64-bit Windows: a
// 32-bit program's registration of them is seen through both. Under Wine the
// 32-bit server's own registration lands in the shared classes, which a
// 64-bit reader's 32-bit view does not show, while msiexec files a 32-bit
// component's keys under the 32-bit classes: a ProgID key is read in the view
// asked for, else in the shared (64-bit) one.
std::vector<std::string> RegisteredClassKeys(REGSAM view) {
  std::vector<std::string> all;
  const auto add = [&all](const std::vector<std::string>& part) {
    all.insert(all.end(), part.begin(), part.end());
  };
  for (const std::wstring& key : {std::wstring(L"AppID\\") + kAppId, std::wstring(L"AppID\\KeyDbWrapper.EXE"),
                                  std::wstring(L"CLSID\\") + kClsid})
    add(hkbtest::DumpKeyTree(HKEY_CLASSES_ROOT, key, view));
  for (const wchar_t* progid : {L"KeyDbWrapper.keyDbObj.1", L"KeyDbWrapper.keyDbObj"}) {
    std::vector<std::string> part = hkbtest::DumpKeyTree(HKEY_CLASSES_ROOT, progid, view);
    if (part.empty()) part = hkbtest::DumpKeyTree(HKEY_CLASSES_ROOT, progid, KEY_WOW64_64KEY);
    add(part);
  }
  std::sort(all.begin(), all.end());
  return all;
}

std::vector<std::string> ClassRegistrationTable(const std::wstring& program) {
  const std::string appid = hkbtest::Utf8(kAppId);
  const std::string cls = "CLSID\\" + hkbtest::Utf8(kClsid);
  const std::string name = "keyDbObj \\xff\\xff\\xff";
  const std::string clsid = "{F003112F-C184-445e-9306-54A912775296}";
  std::vector<std::string> table = {
      "AppID\\" + appid + "|", "AppID\\" + appid + "||s:KeyDbWrapper", "AppID\\KeyDbWrapper.EXE|",
      "AppID\\KeyDbWrapper.EXE|AppID|s:" + appid, "KeyDbWrapper.keyDbObj.1|",
      "KeyDbWrapper.keyDbObj.1||s:" + name, "KeyDbWrapper.keyDbObj.1\\CLSID|",
      "KeyDbWrapper.keyDbObj.1\\CLSID||s:" + clsid, "KeyDbWrapper.keyDbObj|",
      "KeyDbWrapper.keyDbObj||s:" + name, "KeyDbWrapper.keyDbObj\\CLSID|",
      "KeyDbWrapper.keyDbObj\\CLSID||s:" + clsid, cls + "|", cls + "||s:" + name, cls + "|AppID|s:" + appid,
      cls + "\\ProgID|", cls + "\\ProgID||s:KeyDbWrapper.keyDbObj.1", cls + "\\VersionIndependentProgID|",
      cls + "\\VersionIndependentProgID||s:KeyDbWrapper.keyDbObj", cls + "\\LocalServer32|",
      // The full path, quoted: it contains blanks.
      cls + "\\LocalServer32||s:\"" + hkbtest::Utf8(program) + "\""};
  std::sort(table.begin(), table.end());
  return table;
}

hkb::ComPtr<IkeyDbObj> CreateObject(HRESULT* hr) {
  hkb::ComPtr<IkeyDbObj> obj;
  const HRESULT r =
      ::CoCreateInstance(CLSID_keyDbObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IkeyDbObj, obj.put_void());
  if (hr) *hr = r;
  return obj;
}

std::wstring TextBuffer::Text() const {
  for (size_t n = 0; n < std::size(units); ++n)
    if (units[n] == 0) return std::wstring(reinterpret_cast<const wchar_t*>(units), n);
  return L"<unterminated>";
}

}  // namespace keydbtest
