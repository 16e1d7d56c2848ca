// Running the shipped launcher from a test: its process, the stand-ins in the
// product folder, the registry it reads, and its windows.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "hkbtest/standin_scope.h"

namespace launchertest {

using namespace std::chrono_literals;

inline constexpr wchar_t kWindowClass[] = L"HKBUTLEXWINDCLASS";
inline constexpr wchar_t kPromptTitle[] =
    L"\xFF0B/\xFF0D\x30DC\x30BF\x30F3\x306E\x8A2D\x5B9A";  // ＋/－ボタンの設定
inline constexpr wchar_t kDefaultTarget[] = L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p!App";
inline constexpr wchar_t kDefaultFamily[] = L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p";
inline constexpr wchar_t k144ZTarget[] = L"4F2A9E61.ZEVPC_k7q3w9t2x5v8p!App";
inline constexpr wchar_t kOthers[] = L"?section=OthersSection*NULL&=";
inline constexpr wchar_t kPower[] = L"?section=PowerSection&=";
inline constexpr wchar_t kSolo[] = L"?section=OthersSection*Solo&=";
inline constexpr wchar_t kCompanionUri[] =
    L"orbit-companion:PARAM?featureId=5D1C7A20-3E84-4B6F-A2C9-81F0E6B3D457&Page=SoloBtn";

// Generous ceilings for a loaded two-core machine.
inline constexpr auto kExitTimeout = 60s;
inline constexpr auto kWindowTimeout = 60s;

std::wstring ProductFolder();  // the prefix's Program Files\ZEVHKB

// One launcher process; ended by force if it still runs when the object goes.
class Launcher {
 public:
  // `arguments`: the command line after the program path, as given.
  explicit Launcher(const std::wstring& arguments);
  // Starts the program with a command line of its own making (program path
  // included).
  static Launcher WithCommandLine(const std::wstring& commandLine);
  Launcher(Launcher&& other) noexcept;
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  bool started() const { return static_cast<bool>(m_process); }
  DWORD error() const { return m_error; }
  bool WaitForExit(std::chrono::milliseconds timeout = kExitTimeout);
  bool Running() const;
  DWORD id() const { return m_id; }
  // The exit code once the process has ended (STILL_ACTIVE before).
  DWORD ExitCode() const;

 private:
  Launcher() = default;
  void Start(std::wstring commandLine);
  hkb::UniqueHandle m_process;
  DWORD m_id = 0;
  DWORD m_error = 0;
};

// Runs the launcher to its end; false when it did not end in time.
bool RunToEnd(const std::wstring& arguments);

// The stand-in HkbHelper.dll in the product folder for the scope.
class HelperStandin {
 public:
  explicit HelperStandin(const std::string& scenario = {});
  bool ok() const { return m_file.ok() && m_scope.ok(); }
  // (export, identifier) of every installed check, in order.
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> Checks() const;
  hkbtest::StandinScope& scope() { return m_scope; }

 private:
  hkbtest::StandinScope m_scope;
  hkbtest::ScopedFileCopy m_file;
};

// The stand-in DSPMODE.dll in the product folder for the scope.
class DspModeStandin {
 public:
  explicit DspModeStandin(const std::string& scenario = {});
  bool ok() const { return m_file.ok() && m_scope.ok(); }
  bool SetMode(int mode) { return m_scope.SetScenario("mode=" + std::to_string(mode) + "\n"); }
  size_t Count(const wchar_t* exportName) const;
  std::vector<std::wstring> Calls() const;

 private:
  hkbtest::StandinScope m_scope;
  hkbtest::ScopedFileCopy m_file;
};

// The companion app's URI scheme handled by the recording stand-in.
class CompanionUriHandler {
 public:
  CompanionUriHandler();
  bool ok() const;
  // The URIs it was started with.
  std::vector<std::wstring> Uris() const;
  bool WaitForStart(std::chrono::milliseconds timeout) const { return m_scope.WaitForRecords(1, timeout); }

 private:
  hkbtest::StandinScope m_scope;
  hkbtest::ScopedRegValue m_scheme;
  hkbtest::ScopedRegValue m_protocol;
  hkbtest::ScopedRegValue m_command;
};

// Registry values the launcher reads, set (or removed) for the scope.
inline constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\ZEV\\ZEVPC Settings";
inline constexpr wchar_t kMachineInfoKey[] = L"SOFTWARE\\ZEV\\MachineInfo";
inline constexpr wchar_t kPromptKey[] = L"Software\\ZEV\\ZEVHKB\\ButtonKeys\\Settings";
inline constexpr wchar_t kPromptValue[] = L"ShowKorunePrompt";

struct Machine {
  std::optional<std::wstring> settingsAppId;  // "TESAppUserModelId"
  std::optional<std::wstring> productName;    // "ProductName"
};

class MachineScope {
 public:
  explicit MachineScope(const Machine& m = {});
  bool ok() const { return m_settings.ok() && m_product.ok(); }

 private:
  hkbtest::ScopedRegValue m_settings;
  hkbtest::ScopedRegValue m_product;
};

// Top-level launcher windows (class HKBUTLEXWINDCLASS) with this exact
// caption, visible or not.
std::vector<HWND> LauncherWindows(const std::wstring& caption);
// Waits for a visible one; nullptr at the timeout.
HWND WaitForLauncherWindow(const std::wstring& caption, std::chrono::milliseconds timeout = kWindowTimeout);
std::wstring WindowText(HWND wnd);
std::wstring ControlText(HWND dialog, int id);

// A window of the test process that holds the foreground, so that a test can
// tell whether a launcher window took it.
class ForegroundHolder {
 public:
  ForegroundHolder();
  ~ForegroundHolder();
  ForegroundHolder(const ForegroundHolder&) = delete;
  ForegroundHolder& operator=(const ForegroundHolder&) = delete;
  HWND hwnd() const { return m_wnd; }
  // Takes the foreground back; true when it has it.
  bool Take();

 private:
  HWND m_wnd = nullptr;
};

}  // namespace launchertest
