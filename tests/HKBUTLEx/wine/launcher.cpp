#include "launcher.h"

#include <cwchar>
#include <utility>
#include "hkbtest/process.h"

namespace launchertest {

std::wstring ProductFolder() { return hkbtest::ProgramFiles() + L"\\ZEVHKB"; }

namespace {

std::wstring LauncherPath() { return hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBUTLEx.exe"); }
std::wstring StandinPath(const wchar_t* file) {
  return hkbtest::StandinFile(std::wstring(L"hkbutlex\\") + file);
}

}  // namespace

Launcher::Launcher(const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + LauncherPath() + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  Start(std::move(commandLine));
}

Launcher Launcher::WithCommandLine(const std::wstring& commandLine) {
  Launcher l;
  l.Start(commandLine);
  return l;
}

void Launcher::Start(std::wstring commandLine) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const std::wstring program = LauncherPath();
  if (!hkbtest::CreateProcessPatiently(program.c_str(), commandLine, FALSE, 0, nullptr, si, pi)) {
    m_error = ::GetLastError();
    return;
  }
  ::CloseHandle(pi.hThread);
  m_process.reset(pi.hProcess);
  m_id = pi.dwProcessId;
}

Launcher::Launcher(Launcher&& other) noexcept
    : m_process(std::move(other.m_process)), m_id(other.m_id), m_error(other.m_error) {}

Launcher::~Launcher() {
  if (Running()) {
    ::TerminateProcess(m_process.get(), 99);
    ::WaitForSingleObject(m_process.get(), 10000);
  }
}

bool Launcher::WaitForExit(std::chrono::milliseconds timeout) {
  if (!m_process) return false;
  return hkbtest::PumpUntil([&] { return ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0; },
                            timeout);
}

bool Launcher::Running() const {
  return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

DWORD Launcher::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (m_process) ::GetExitCodeProcess(m_process.get(), &code);
  return code;
}

bool RunToEnd(const std::wstring& arguments) {
  Launcher l(arguments);
  return l.started() && l.WaitForExit() && l.ExitCode() == 0;
}

HelperStandin::HelperStandin(const std::string& scenario)
    : m_scope(L"hkbhelper", scenario),
      m_file(StandinPath(L"HkbHelper.dll"), ProductFolder() + L"\\HkbHelper.dll") {}

std::vector<std::pair<std::wstring, std::optional<std::wstring>>> HelperStandin::Checks() const {
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> out;
  for (const hkbstandin::Record& r : m_scope.Records())
    if (r.size() >= 2 && r[0]) out.emplace_back(*r[0], r[1]);
  return out;
}

DspModeStandin::DspModeStandin(const std::string& scenario)
    : m_scope(L"dspmode", scenario),
      m_file(StandinPath(L"DSPMODE.dll"), ProductFolder() + L"\\DSPMODE.dll") {}

std::vector<std::wstring> DspModeStandin::Calls() const {
  std::vector<std::wstring> out;
  for (const hkbstandin::Record& r : m_scope.Records())
    if (!r.empty() && r[0]) out.push_back(*r[0]);
  return out;
}

size_t DspModeStandin::Count(const wchar_t* exportName) const {
  size_t n = 0;
  for (const std::wstring& c : Calls()) n += c == exportName;
  return n;
}

namespace {
constexpr wchar_t kSchemeKey[] = L"Software\\Classes\\orbit-companion";
constexpr wchar_t kCommandKey[] = L"Software\\Classes\\orbit-companion\\shell\\open\\command";
}  // namespace

CompanionUriHandler::CompanionUriHandler()
    : m_scope(L"uri"),
      m_scheme(HKEY_LOCAL_MACHINE, kSchemeKey, nullptr, std::optional<std::wstring>(L"URL:orbit-companion")),
      m_protocol(HKEY_LOCAL_MACHINE, kSchemeKey, L"URL Protocol", std::optional<std::wstring>(L"")),
      m_command(HKEY_LOCAL_MACHINE, kCommandKey, nullptr,
                std::optional<std::wstring>(L"\"" + StandinPath(L"uri_recorder.exe") + L"\" \"%1\"")) {}

bool CompanionUriHandler::ok() const {
  return m_scope.ok() && m_scheme.ok() && m_protocol.ok() && m_command.ok();
}

std::vector<std::wstring> CompanionUriHandler::Uris() const {
  std::vector<std::wstring> out;
  for (const hkbstandin::Record& r : m_scope.Records()) {
    std::wstring args;
    for (size_t i = 1; i < r.size(); ++i) args += (i > 1 ? L" " : L"") + r[i].value_or(L"<null>");
    out.push_back(args);
  }
  return out;
}

MachineScope::MachineScope(const Machine& m)
    : m_settings(HKEY_LOCAL_MACHINE, kSettingsKey, L"TESAppUserModelId", m.settingsAppId),
      m_product(HKEY_LOCAL_MACHINE, kMachineInfoKey, L"ProductName", m.productName) {}

namespace {

struct FindState {
  const std::wstring* caption;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectLauncherWindow(HWND wnd, LPARAM param) {
  auto* state = reinterpret_cast<FindState*>(param);
  wchar_t cls[260] = {};
  ::GetClassNameW(wnd, cls, 260);
  if (std::wcscmp(cls, kWindowClass) == 0 && WindowText(wnd) == *state->caption) state->found.push_back(wnd);
  return TRUE;
}

}  // namespace

std::vector<HWND> LauncherWindows(const std::wstring& caption) {
  FindState state{&caption, {}};
  ::EnumWindows(&CollectLauncherWindow, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

HWND WaitForLauncherWindow(const std::wstring& caption, std::chrono::milliseconds timeout) {
  HWND found = nullptr;
  hkbtest::PumpUntil(
      [&] {
        for (HWND w : LauncherWindows(caption))
          if (::IsWindowVisible(w)) found = w;
        return found != nullptr;
      },
      timeout);
  return found;
}

std::wstring WindowText(HWND wnd) {
  wchar_t buf[1024] = {};
  ::GetWindowTextW(wnd, buf, 1024);
  return buf;
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

ForegroundHolder::ForegroundHolder() {
  m_wnd = ::CreateWindowExW(0, L"STATIC", L"launcher test foreground", WS_POPUP | WS_VISIBLE, 900, 900, 60,
                            40, nullptr, nullptr, nullptr, nullptr);
  Take();
}

ForegroundHolder::~ForegroundHolder() {
  if (m_wnd) ::DestroyWindow(m_wnd);
}

bool ForegroundHolder::Take() {
  // Wine hands the foreground over asynchronously, and on a loaded machine a
  // request can be overtaken by another process's activation: ask again until
  // it holds.
  return hkbtest::PumpUntil(
      [&] {
        if (::GetForegroundWindow() == m_wnd) return true;
        ::SetForegroundWindow(m_wnd);
        return false;
      },
      30s);
}

}  // namespace launchertest
