// The scripted morning of ./hkb run: the whole system at work in a prefix
// where the product was just installed with its MSI.
//
//   morning.exe <work folder>
//
// Environment (Windows paths): HKB_STANDINS and HKB_STANDINS32 (the stand-in
// folders of the 64- and 32-bit trees), HKB_ARTIFACTS (where the screenshots
// go). It puts the stand-ins for the outside world in place (the keyboard
// filter driver, the WMI brightness panel, the settings app behind the
// application activation manager, the wireless program, the button database),
// starts the demo button service, presses the keys of the demo keyboard by
// queueing reports in the driver, and waits for what each press must cause,
// printing a transcript with times and saving a screenshot per step. Exit code
// 0 when every step happened as expected, 1 otherwise.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "demo_keyboard.h"
#include "hkbtest/harness.h"
#include "hkbtest/standin_scope.h"
#include "hkbtest/process.h"
#include "ps2_support.h"
#include "server_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::milliseconds;

constexpr auto kCeiling = 60s;  // for anything to happen, on a loaded machine
constexpr wchar_t kPromptTitle[] = L"\xFF0B/\xFF0D\x30DC\x30BF\x30F3\x306E\x8A2D\x5B9A";  // ＋/－ボタンの設定
constexpr wchar_t kSettingsApp[] = L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p!App";
constexpr char kSettingsFamily[] = "4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p";
constexpr char kSettingsPackage[] = "4F2A9E61.9C27D4B1E086_1.0.0.0_x64__k7q3w9t2x5v8p";
constexpr wchar_t kLocatorClsid[] = L"{4590F811-1D3A-11D0-891F-00AA004B2E24}";
constexpr char kPanel[] = "DISPLAY\\ZEV0C1A\\4&1f2e3d4c&0&UID256";
constexpr int kPanelStart = 50;

const ULONGLONG s_start = ::GetTickCount64();
int s_failures = 0;

std::string Seconds(ULONGLONG ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ms) / 1000.0);
  return buf;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::wstring ProductFolder() { return hkbtest::ProgramFiles() + L"\\ZEVHKB\\"; }

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return path;
}

std::vector<std::string> Lines(const std::wstring& file) {
  return hkbtest::SplitLines(hkbtest::ReadFileBytes(file));
}

// One line of the button service's log: "<tick> <event> key=value key="a b"".
struct ServiceEvent {
  ULONGLONG at = 0;
  std::string event;
  std::map<std::string, std::string> fields;
  std::string get(const std::string& k) const {
    auto it = fields.find(k);
    return it == fields.end() ? std::string() : it->second;
  }
};

ServiceEvent ParseEvent(const std::string& line) {
  ServiceEvent e;
  size_t at = line.find(' ');
  e.at = std::strtoull(line.substr(0, at).c_str(), nullptr, 10);
  size_t end = line.find(' ', at + 1);
  e.event = line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
  at = end;
  while (at != std::string::npos && at < line.size()) {
    const size_t key = at + 1;
    const size_t eq = line.find('=', key);
    if (eq == std::string::npos) break;
    std::string value;
    size_t next;
    if (eq + 1 < line.size() && line[eq + 1] == '"') {
      const size_t close = line.find('"', eq + 2);
      value = line.substr(eq + 2, close == std::string::npos ? std::string::npos : close - eq - 2);
      next = close == std::string::npos ? std::string::npos : line.find(' ', close);
    } else {
      next = line.find(' ', eq);
      value = line.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
    }
    e.fields[line.substr(key, eq - key)] = value;
    at = next;
  }
  return e;
}

// What a step waits for: the detail to print and when it happened.
struct Seen {
  std::string detail;
  ULONGLONG at = 0;
};
using Probe = std::function<std::optional<Seen>()>;

// One step of the morning: its expectations are printed with their time
// after the step's start (the key press).
class Step {
 public:
  explicit Step(const std::string& title) : m_start(::GetTickCount64()) {
    Say("");
    Say("[" + Seconds(m_start - s_start) + "] " + title);
  }
  ~Step() {
    Say(std::string("    ") + (m_ok ? "as expected" : "NOT AS EXPECTED") + " (" +
        Seconds(::GetTickCount64() - m_start) + ")");
    if (!m_ok) ++s_failures;
  }
  Step(const Step&) = delete;
  Step& operator=(const Step&) = delete;

  ULONGLONG start() const { return m_start; }
  void Restart() { m_start = ::GetTickCount64(); }
  bool ok() const { return m_ok; }

  // Waits for the probe to see what it looks for; prints it with its time.
  std::optional<Seen> Expect(const std::string& what, const Probe& probe, Clock ceiling = kCeiling) {
    std::optional<Seen> seen;
    const bool found = hkbtest::PumpUntil(
        [&] {
          seen = probe();
          return seen.has_value();
        },
        ceiling);
    if (!found) {
      Say("    FAILED  " + what + ": not seen within " + Seconds(static_cast<ULONGLONG>(ceiling.count())));
      m_ok = false;
      return std::nullopt;
    }
    const ULONGLONG at = seen->at ? seen->at : ::GetTickCount64();
    const ULONGLONG after = at > m_start ? at - m_start : 0;
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "%+8.2f s", static_cast<double>(after) / 1000.0);
    Say(std::string("    ") + stamp + "  " + what + (seen->detail.empty() ? "" : ": " + seen->detail));
    return seen;
  }
  void Note(const std::string& text) { Say("              " + text); }
  void Fail(const std::string& text) {
    Say("    FAILED  " + text);
    m_ok = false;
  }
  void Check(bool ok, const std::string& text) {
    if (ok)
      Note(text);
    else
      Fail(text);
  }
  void Screenshot(const std::wstring& name) {
    if (hkbtest::SaveScreenshot(name + L".bmp"))
      Note("screenshot " + hkbtest::Utf8(name) + ".png");
    else
      Fail("screenshot " + hkbtest::Utf8(name) + " could not be saved");
  }

 private:
  ULONGLONG m_start;
  bool m_ok = true;
};

// The button service's log, read as it grows.
class ServiceLog {
 public:
  explicit ServiceLog(std::wstring path) : m_path(std::move(path)) {}
  const std::wstring& path() const { return m_path; }
  std::vector<ServiceEvent> Events() const {
    std::vector<ServiceEvent> out;
    for (const std::string& l : Lines(m_path)) out.push_back(ParseEvent(l));
    return out;
  }
  // The n-th (0-based) event of that name since `since` that the filter accepts.
  Probe Find(const std::string& event, ULONGLONG since,
             std::function<bool(const ServiceEvent&)> filter = nullptr,
             std::function<std::string(const ServiceEvent&)> describe = nullptr, size_t n = 0) const {
    return [=, this]() -> std::optional<Seen> {
      size_t seen = 0;
      for (const ServiceEvent& e : Events()) {
        if (e.at < since || e.event != event || (filter && !filter(e))) continue;
        if (seen++ == n) return Seen{describe ? describe(e) : std::string(), e.at};
      }
      return std::nullopt;
    };
  }
  // The n-th PS/2 event message of that number and wParam since `since`.
  Probe Message(unsigned msg, unsigned long long wparam, ULONGLONG since, size_t n = 0) const {
    return Find(
        "message", since,
        [=](const ServiceEvent& e) {
          return std::strtoul(e.get("msg").c_str(), nullptr, 16) == msg &&
                 std::strtoull(e.get("wparam").c_str(), nullptr, 10) == wparam;
        },
        [](const ServiceEvent& e) {
          return e.get("name") + " wParam=" + e.get("wparam") + " lParam=" + e.get("lparam");
        },
        n);
  }

 private:
  std::wstring m_path;
};

// Brightness values the panel stand-in was set to, in order.
std::vector<int> PanelSets(const std::wstring& trace) {
  std::vector<int> out;
  const std::string key = "Brightness=vt8:";
  for (const std::string& l : Lines(trace)) {
    if (l.rfind("wmi ExecMethod ", 0) != 0) continue;
    const size_t at = l.find(key);
    if (at != std::string::npos) out.push_back(std::atoi(l.c_str() + at + key.size()));
  }
  return out;
}

std::string Join(const std::vector<int>& v) {
  std::string out;
  for (int x : v) out += (out.empty() ? "" : ", ") + std::to_string(x);
  return out;
}

std::string FileVersion(const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return "no version resource";
  std::vector<BYTE> data(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info)
    return "no version resource";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
  return buf;
}

HWND FindPrompt() {
  HWND wnd = ::FindWindowW(L"HKBUTLEXWINDCLASS", kPromptTitle);
  return wnd && ::IsWindowVisible(wnd) ? wnd : nullptr;
}

// The activation records of the activation manager stand-in from `from` on.
Probe Activation(const hkbtest::ActivationManagerStandin& manager, size_t index,
                 const std::optional<std::wstring>& arguments) {
  return [&manager, index, arguments]() -> std::optional<Seen> {
    const std::vector<hkbtest::Activation> all = manager.Activations();
    if (all.size() <= index) return std::nullopt;
    const hkbtest::Activation& a = all[index];
    const std::string detail =
        hkbtest::Utf8(a.method) + "(" + hkbtest::Utf8(a.appUserModelId) + ", " +
        (a.arguments ? "\"" + hkbtest::Utf8(*a.arguments) + "\"" : std::string("null")) + ")";
    if (a.appUserModelId != kSettingsApp || a.arguments != arguments) return Seen{"UNEXPECTED " + detail, 0};
    return Seen{detail, 0};
  };
}

// The settings app stand-in showed the page of activation `index`.
Probe SettingsPage(const hkbtest::StandinScope& app, size_t index,
                   const std::optional<std::wstring>& arguments) {
  return [&app, index, arguments]() -> std::optional<Seen> {
    const std::vector<hkbstandin::Record> all = app.Records();
    if (all.size() <= index) return std::nullopt;
    const hkbstandin::Record& r = all[index];
    const bool match =
        r.size() >= 3 && r[0] == std::optional<std::wstring>(kSettingsApp) && r[1] == arguments;
    const std::string args = r.size() > 1 && r[1] ? "\"" + hkbtest::Utf8(*r[1]) + "\"" : std::string("none");
    const ULONGLONG shown = r.size() > 3 && r[3] ? std::wcstoull(r[3]->c_str(), nullptr, 10) : 0;
    return Seen{std::string(match ? "" : "UNEXPECTED ") + "shows arguments " + args + " (window of process " +
                    (r.size() > 2 && r[2] ? hkbtest::Utf8(*r[2]) : std::string("?")) + ")",
                shown};
  };
}

// The service saw its last display go: not before the 4000 ms it asked for.
void ExpectDisplayGone(Step& step, const ServiceLog& log) {
  auto gone = step.Expect("ZEVOSD removes the display after its time",
                          log.Find("osd-gone", step.start(), nullptr, [](const ServiceEvent& e) {
                            return "after " + e.get("after") + " ms (asked for 4000 ms)";
                          }));
  if (!gone) return;
  std::string after;
  for (const ServiceEvent& e : log.Events())
    if (e.event == "osd-gone") after = e.get("after");
  step.Check(std::strtoul(after.c_str(), nullptr, 10) >= 4000, "not before its time");
}

bool Unexpected(const std::optional<Seen>& s) { return s && s->detail.rfind("UNEXPECTED", 0) == 0; }

// A window of this process that lists the database's answers for the screenshot.
class AnswerWindow {
 public:
  explicit AnswerWindow(const std::vector<std::wstring>& lines) : m_lines(lines) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"HkbMorningAnswers";
    ::RegisterClassW(&wc);
    m_wnd = ::CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Button database, asked by a 64-bit client",
                              WS_OVERLAPPED | WS_CAPTION, 620, 560, 640,
                              40 + 22 * static_cast<int>(lines.size()), nullptr, nullptr, wc.hInstance, this);
    ::ShowWindow(m_wnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(m_wnd);
  }
  ~AnswerWindow() {
    if (m_wnd) ::DestroyWindow(m_wnd);
  }
  AnswerWindow(const AnswerWindow&) = delete;
  AnswerWindow& operator=(const AnswerWindow&) = delete;

 private:
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
      ::SetWindowLongPtrW(wnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<AnswerWindow*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (msg == WM_PAINT && self) {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      HFONT font = ::CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH,
                                 L"DejaVu Sans Mono");
      HGDIOBJ old = ::SelectObject(dc, font);
      int y = 8;
      for (const std::wstring& l : self->m_lines) {
        ::TextOutW(dc, 10, y, l.c_str(), static_cast<int>(l.size()));
        y += 22;
      }
      ::SelectObject(dc, old);
      ::DeleteObject(font);
      ::EndPaint(wnd, &ps);
      return 0;
    }
    return ::DefWindowProcW(wnd, msg, wp, lp);
  }
  std::vector<std::wstring> m_lines;
  HWND m_wnd = nullptr;
};

// ---------------------------------------------------------------------------
// The outside world: everything that is not the product, in one place.
// ---------------------------------------------------------------------------
class OutsideWorld {
 public:
  explicit OutsideWorld(const std::wstring& work)
      : m_work(work),
        m_wmiScenario(work + L"panel-scenario.txt"),
        m_wmiTrace(work + L"panel-trace.txt"),
        m_radioTrace(work + L"radiotoggle-trace.txt"),
        m_serviceLog(work + L"button-service-log.txt"),
        m_activation(S_OK, hkbtest::StandinFile(L"settings_app.exe")),
        m_settingsApp(L"settingsapp"),
        m_locator(kLocatorClsid, hkbtest::StandinFile(L"hkbfnk\\wmi_standin.dll")),
        m_radio(hkbtest::StandinFile(L"RadioToggle.exe"), ProductFolder() + L"RadioToggle.exe"),
        m_packages(work + L"packages-scenario.txt", work + L"packages-records.txt"),
        m_scenarioEnv(L"HKBFNK_SCENARIO", m_wmiScenario),
        m_traceEnv(L"HKBFNK_TRACE", m_wmiTrace),
        m_radioEnv(L"RADIOTOGGLE_TRACE", m_radioTrace) {}

  ~OutsideWorld() { StopService(); }

  // Puts everything in place; prints what and how long it took.
  bool SetUp(Step& step) {
    for (const std::wstring& f : {m_wmiTrace, m_radioTrace, m_serviceLog}) ::DeleteFileW(f.c_str());
    std::string error;
    const ULONGLONG t = ::GetTickCount64();
    const bool driver = m_driver.Open(&error) && m_driver.Reset();
    step.Check(driver, "keyboard filter driver stand-in \"\\\\.\\HKBLEDFILTR\" running as a kernel driver (" +
                           (driver ? Seconds(::GetTickCount64() - t) : error) + ")");
    char panel[256];
    std::snprintf(panel, sizeof panel,
                  "panel name=%s current=%d levels=11 level=0,10,20,30,40,50,60,70,80,90,100\n", kPanel,
                  kPanelStart);
    const bool wmi = m_locator.ok() && hkbtest::WriteFileBytes(m_wmiScenario, panel);
    step.Check(wmi, "WMI brightness panel stand-in registered as the WMI locator: panel " +
                        std::string(kPanel) + ", levels 0 to 100 in steps of 10, now " +
                        std::to_string(kPanelStart));
    const bool apps = m_activation.ok() && m_settingsApp.ok();
    step.Check(apps,
               "application activation manager stand-in registered; it starts the settings app stand-in");
    step.Check(m_radio.ok(),
               "wireless program stand-in at " + hkbtest::Utf8(ProductFolder()) + "RadioToggle.exe");
    // The settings app is an installed Store app: the platform's package
    // manager (its stand-in) knows its package.
    const bool packages =
        m_packages.ok() && m_packages.SetScenario(std::string("package\t") + kSettingsFamily + "\t" +
                                                  kSettingsPackage + "\t4F2A9E61.9C27D4B1E086\t1.0.0.0\t\n");
    step.Check(packages, std::string("package manager stand-in registered; the settings app's package ") +
                             kSettingsPackage + " is installed");
    return driver && wmi && apps && m_radio.ok() && packages;
  }

  bool StartService() {
    const std::wstring program = hkbtest::StandinFile(L"button_service.exe");
    std::wstring command = L"\"" + program + L"\" \"" + m_serviceLog + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!hkbtest::CreateProcessPatiently(program.c_str(), command, FALSE, 0, nullptr, si, pi)) return false;
    ::CloseHandle(pi.hThread);
    m_service.reset(pi.hProcess);
    return true;
  }

  // Ends the service through its window; true when it stopped cleanly.
  bool StopService() {
    if (!m_service) return true;
    if (HWND wnd = ::FindWindowW(L"ZEVHKBCLASS", nullptr)) ::PostMessageW(wnd, WM_CLOSE, 0, 0);
    const bool ended = ::WaitForSingleObject(m_service.get(), 60000) == WAIT_OBJECT_0;
    if (!ended) ::TerminateProcess(m_service.get(), 99);
    m_service.reset();
    return ended;
  }

  void CloseSettingsApp() {
    if (HWND wnd = ::FindWindowW(L"HkbTestSettingsApp", nullptr)) ::PostMessageW(wnd, WM_CLOSE, 0, 0);
  }
  void EndRadioToggle() {
    if (HANDLE e = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"HKBTest.RadioToggle.Exit")) {
      ::SetEvent(e);
      ::CloseHandle(e);
    }
  }

  ps2test::Driver& driver() { return m_driver; }
  const ServiceLog& log() const { return m_log; }
  const hkbtest::ActivationManagerStandin& activation() const { return m_activation; }
  const hkbtest::StandinScope& settingsApp() const { return m_settingsApp; }
  const std::wstring& wmiTrace() const { return m_wmiTrace; }
  const std::wstring& radioTrace() const { return m_radioTrace; }
  const hkbtest::PackageManagerStandin& packages() const { return m_packages; }

 private:
  std::wstring m_work;
  std::wstring m_wmiScenario, m_wmiTrace, m_radioTrace, m_serviceLog;
  ServiceLog m_log{m_serviceLog};
  ps2test::Driver m_driver;
  hkbtest::ActivationManagerStandin m_activation;
  hkbtest::StandinScope m_settingsApp;
  hkbtest::ScopedInprocServer m_locator;
  hkbtest::ScopedFileCopy m_radio;
  hkbtest::PackageManagerStandin m_packages;
  hkbtest::ScopedEnv m_scenarioEnv, m_traceEnv, m_radioEnv;
  hkb::UniqueHandle m_service;
};

// Queues reports in the driver as the keyboard would send them.
bool Press(OutsideWorld& world, Step& step, const std::vector<ps2test::Report>& reports,
           const std::string& what) {
  std::string bytes;
  for (const ps2test::Report& r : reports) {
    char b[40];
    std::snprintf(b, sizeof b, "%s[%02X %02X .. %02X %02X]", bytes.empty() ? "" : " ", r[0], r[1], r[3],
                  r[4]);
    bytes += b;
  }
  step.Restart();
  const bool ok = world.driver().Queue(reports);
  step.Check(ok, what + ": the keyboard queues " + bytes + " in the driver");
  return ok;
}

// ---------------------------------------------------------------------------
// The steps.
// ---------------------------------------------------------------------------

void Brightness(OutsideWorld& world, bool up, int presses, size_t sets_before, int expect_level,
                int expect_value) {
  const uint8_t code = up ? demo::kBrightnessUp : demo::kBrightnessDown;
  Step step(std::string(up ? "Brightness up" : "Brightness down") +
            (presses > 1 ? ", " + std::to_string(presses) + " presses" : std::string()) + " (key code 0x" +
            (up ? "42" : "41") + ")");
  std::vector<ps2test::Report> reports;
  for (int i = 0; i < presses; ++i) {
    reports.push_back(ps2test::Kind1(code));
    reports.push_back(ps2test::Kind1(0));
  }
  if (!Press(world, step, reports, up ? "Fn+F6" : "Fn+F5")) return;
  const ServiceLog& log = world.log();
  for (int i = 0; i < presses; ++i) {
    step.Expect("HKBPS2 posts to the service", log.Message(demo::kMsgKeyCode, code, step.start(), i));
    step.Expect("the service calls HKBFNK_SetCurrentBright(" + std::to_string(up ? 2 : 3) + ")",
                log.Find(
                    "brightness", step.start(), nullptr,
                    [](const ServiceEvent& e) { return "level " + e.get("level") + " of 11"; }, i));
  }
  const std::wstring trace = world.wmiTrace();
  step.Expect("HKBFNK sets the panel through WMI (WmiSetBrightness)", [&]() -> std::optional<Seen> {
    const std::vector<int> sets = PanelSets(trace);
    if (sets.size() < sets_before + presses) return std::nullopt;
    return Seen{"panel now " + std::to_string(sets.back()) + " (all sets so far: " + Join(sets) + ")", 0};
  });
  const std::vector<int> sets = PanelSets(trace);
  step.Check(!sets.empty() && sets.back() == expect_value,
             "the panel is at " + std::to_string(expect_value) + " as expected");
  std::string level;
  for (const ServiceEvent& e : log.Events())
    if (e.event == "brightness" && e.at >= step.start()) level = e.get("level");
  step.Check(level == std::to_string(expect_level),
             "HKBFNK reported level " + level + " (expected " + std::to_string(expect_level) + ")");
  step.Expect("ZEVOSD shows the level on screen",
              log.Find(
                  "osd", step.start(), [](const ServiceEvent& e) { return e.get("result") == "1"; },
                  [](const ServiceEvent& e) {
                    return "\"" + e.get("text") + "\", window " + e.get("window") + " " + e.get("size") +
                           " at " + e.get("at");
                  },
                  presses - 1));
  step.Screenshot(up ? L"01-brightness-up" : L"02-brightness-down");
  // The next steps' screenshots show what they do, not this display.
  if (!up) ExpectDisplayGone(step, log);
}

// The launcher's activation `index` opens the settings app at `page`, the
// app shows it, the launcher ends; then the screen is taken.
void ExpectSettingsPage(Step& step, OutsideWorld& world, size_t index,
                        const std::optional<std::wstring>& page, const char* activated, const char* shown,
                        const wchar_t* screenshot) {
  auto a = step.Expect(activated, Activation(world.activation(), index, page));
  if (Unexpected(a)) step.Fail("wrong activation");
  auto s = step.Expect(shown, SettingsPage(world.settingsApp(), index, page));
  if (Unexpected(s)) step.Fail("wrong page");
  step.Expect("the launcher ends",
              world.log().Find("launcher-ended", step.start(), nullptr, [](const ServiceEvent& e) {
                return "exit code " + e.get("code") + ", ran " + e.get("ran") + " ms";
              }));
  hkbtest::PumpFor(300ms);  // the window's repaint reaches the screen
  step.Screenshot(screenshot);
}

void PowerButton(OutsideWorld& world) {
  Step step("Power button (button code 117): the settings app opens at its power page");
  const size_t queries = world.packages().Lines().size();
  if (!Press(world, step, {ps2test::Kind1(demo::kPowerButton), ps2test::Kind1(0)}, "power button")) return;
  const ServiceLog& log = world.log();
  step.Expect("HKBPS2 posts to the service",
              log.Message(demo::kMsgButtonCode, demo::kPowerButton, step.start()));
  step.Expect("the service starts the launcher",
              log.Find(
                  "launch", step.start(), [](const ServiceEvent& e) { return e.get("switch") == "/POWER"; },
                  [](const ServiceEvent& e) { return "HKBUTLEx.exe /POWER, process " + e.get("pid"); }));
  const std::optional<std::wstring> page = std::wstring(L"?section=PowerSection&=");
  const size_t index = world.activation().Activations().size();
  auto q = step.Expect("HKBUTLEx asks through HkbHelper whether the settings app is installed",
                       [&world, queries]() -> std::optional<Seen> {
                         const std::vector<std::string> lines = world.packages().Lines();
                         for (size_t i = queries; i < lines.size(); ++i) {
                           if (lines[i].rfind("FindPackagesByUserSecurityIdPackageFamilyName\t", 0) != 0)
                             continue;
                           const std::string family = lines[i].substr(lines[i].rfind('\t') + 1);
                           const std::string pid = lines[i].substr(lines[i].find('\t') + 1);
                           return Seen{std::string(family == kSettingsFamily ? "" : "UNEXPECTED ") +
                                           "the package manager is asked for family " + family +
                                           " (process " + pid.substr(0, pid.find('\t')) + ")",
                                       0};
                         }
                         return std::nullopt;
                       });
  if (Unexpected(q)) step.Fail("the package manager was asked for another family");
  ExpectSettingsPage(step, world, index, page,
                     "HKBUTLEx activates the settings app through the activation manager",
                     "the settings app shows the page", L"03-power-page");
}

void PlusMinusShort(OutsideWorld& world) {
  Step step("\"+/-\" button, short press: the launcher asks what the buttons should do");
  if (!Press(world, step, {ps2test::Kind2(demo::kPlusMinusBit), ps2test::Kind2(0)},
             "\"+/-\" pressed and let go"))
    return;
  const ServiceLog& log = world.log();
  step.Expect("HKBPS2 posts a short press",
              log.Message(demo::kMsgBitButton, demo::kPlusMinusBit, step.start()));
  step.Expect("the service starts the launcher without a switch",
              log.Find(
                  "launch", step.start(), [](const ServiceEvent& e) { return e.get("switch").empty(); },
                  [](const ServiceEvent& e) { return "HKBUTLEx.exe, process " + e.get("pid"); }));
  HWND prompt = nullptr;
  step.Expect("the launcher shows its prompt", [&]() -> std::optional<Seen> {
    prompt = FindPrompt();
    if (!prompt) return std::nullopt;
    RECT rc;
    ::GetWindowRect(prompt, &rc);
    return Seen{"\"" + hkbtest::Utf8(kPromptTitle) + "\" " + std::to_string(rc.right - rc.left) + "x" +
                    std::to_string(rc.bottom - rc.top),
                0};
  });
  if (!prompt) return;
  hkbtest::PumpFor(300ms);
  step.Screenshot(L"04-plus-minus-prompt");

  step.Note("the user answers \"\xE3\x81\xAF\xE3\x81\x84\" (yes)");
  const size_t index = world.activation().Activations().size();
  DWORD_PTR result = 0;
  step.Check(
      ::SendMessageTimeoutW(::GetDlgItem(prompt, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result) != 0,
      "yes clicked");
  const std::optional<std::wstring> page = std::wstring(L"?section=OthersSection*NULL&=");
  ExpectSettingsPage(step, world, index, page,
                     "HKBUTLEx activates the settings app at the page of the buttons",
                     "the settings app shows the page", L"05-buttons-page");
}

void PlusMinusLong(OutsideWorld& world) {
  Step step("\"+/-\" button held for a second: the settings app's home page");
  if (!Press(world, step, {ps2test::Kind2(demo::kPlusMinusBit)}, "\"+/-\" pressed and held")) return;
  const ServiceLog& log = world.log();
  auto held = step.Expect("HKBPS2 posts a long press after its 1000 ms timer",
                          log.Message(demo::kMsgBitButton, 0x80u + demo::kPlusMinusBit, step.start()));
  if (held) {
    step.Check(held->at - step.start() >= 1000, "the long press came " + Seconds(held->at - step.start()) +
                                                    " after the press (not before the 1000 ms timer)");
  }
  step.Check(world.driver().Queue({ps2test::Kind2(0)}),
             "\"+/-\" let go: the keyboard queues [02 00 .. 00 00]");
  step.Expect("HKBPS2 posts the release after a long press",
              log.Message(demo::kMsgBitButton, 0, step.start()));
  step.Expect("the service starts the launcher with /HUB",
              log.Find(
                  "launch", step.start(), [](const ServiceEvent& e) { return e.get("switch") == "/HUB"; },
                  [](const ServiceEvent& e) { return "HKBUTLEx.exe /HUB, process " + e.get("pid"); }));
  const size_t index = world.activation().Activations().size();
  ExpectSettingsPage(step, world, index, std::nullopt,
                     "HKBUTLEx activates the settings app without arguments",
                     "the settings app shows its home page", L"06-home-page");
}

void Airplane(OutsideWorld& world) {
  Step step("Airplane key (key code 0x43): the wireless program starts");
  if (!Press(world, step, {ps2test::Kind1(demo::kAirplane), ps2test::Kind1(0)}, "Fn+F12")) return;
  const ServiceLog& log = world.log();
  step.Expect("HKBPS2 posts to the service", log.Message(demo::kMsgKeyCode, demo::kAirplane, step.start()));
  auto pushed = step.Expect("the service calls HKBFNK_Inform_AirPlane_Push",
                            log.Find("airplane", step.start(), nullptr,
                                     [](const ServiceEvent& e) { return "result " + e.get("result"); }));
  if (pushed && pushed->detail == "result 0") step.Fail("HKBFNK did not start the program");
  const std::wstring trace = world.radioTrace();
  step.Expect("RadioToggle.exe runs, started by HKBFNK", [&]() -> std::optional<Seen> {
    for (const std::string& l : Lines(trace))
      if (l.rfind("started ", 0) == 0) return Seen{l, 0};
    return std::nullopt;
  });
  step.Expect("ZEVOSD shows it on screen",
              log.Find(
                  "osd", step.start(), [](const ServiceEvent& e) { return e.get("result") == "1"; },
                  [](const ServiceEvent& e) {
                    return "\"" + e.get("text") + "\", window " + e.get("window") + " " + e.get("size");
                  }));
  step.Screenshot(L"07-airplane");
  ExpectDisplayGone(step, log);
  world.EndRadioToggle();
}

// A 64-bit client asks the button database through KeyDbWrapper.
void Database() {
  Step step("A 64-bit program asks the button database through KeyDbWrapper (COM)");
  const keydbtest::ServerBuild& server = keydbtest::Server();
  const std::wstring folder = SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\ZEVHKB\\";
  step.Note("the installed 32-bit server: " + hkbtest::Utf8(folder) + "KeyDbWrapper.exe");
  // The outside database library and what it answers.
  hkbtest::ScopedFileCopy library(server.standins + L"KeyDb.dll", folder + L"KeyDb.dll");
  const std::string answers =
      "GetPathByID_LED 117 1 C:\\Program Files\\ZEVHKB\\HKBUTLEx.exe /POWER\n"
      "IsEquippedWith 117 1 power button\n"
      "GetExecpathStatus 117 2\n"
      "GetPackageNameID 117 1 4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p\n";
  const std::wstring scenario = folder + L"KeyDb.scenario";
  const bool placed = library.ok() && hkbtest::WriteFileBytes(scenario, answers);
  step.Check(placed, "KeyDb.dll stand-in (the maker's database) beside the server, answering for button 117");
  if (!placed) return;

  hkb::ComInit com;
  const ULONGLONG t = ::GetTickCount64();
  HRESULT hr = E_FAIL;
  hkb::ComPtr<IkeyDbObj> db = keydbtest::CreateObject(&hr);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
  step.Check(static_cast<bool>(db), std::string("CoCreateInstance(keyDbObj, CLSCTX_LOCAL_SERVER) = ") + hex +
                                        " after " + Seconds(::GetTickCount64() - t));
  std::vector<std::wstring> shown = {L"64-bit client -> KeyDbWrapper.exe -> KeyDb.dll, button 117:"};
  if (db) {
    keydbtest::TextBuffer text;
    const auto ask = [&](const char* method, HRESULT got, const std::wstring& answer,
                         const std::wstring& want) {
      std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(got));
      const bool ok = got == S_OK && answer == want;
      step.Check(ok, std::string(method) + "(117) = " + hex + ", \"" + hkbtest::Utf8(answer) + "\"");
      shown.push_back(std::wstring(method, method + std::strlen(method)) + L": " + answer);
    };
    hr = db->GetPathByID_LEDWrapper(117, text.units);
    ask("GetPathByID_LEDWrapper", hr, text.Text(), L"C:\\Program Files\\ZEVHKB\\HKBUTLEx.exe /POWER");
    text.Fill();
    hr = db->IsEquippedWithWrapper(117, text.units);
    ask("IsEquippedWithWrapper", hr, text.Text(), L"power button");
    long status = 0;
    hr = db->GetExecpathStatusWrapper(117, &status);
    ask("GetExecpathStatusWrapper", hr, std::to_wstring(status), L"2");
    text.Fill();
    hr = db->GetPackageNameIDWrapper(117, text.units);
    ask("GetPackageNameIDWrapper", hr, text.Text(), L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p");
    // Which process answered: the stand-in records each call with its process id.
    std::string pid;
    for (const std::string& l : Lines(folder + L"KeyDb.trace"))
      if (l.rfind("pid=", 0) == 0) pid = l.substr(4, l.find(' ') - 4);
    step.Check(!pid.empty() && std::stoul(pid) != ::GetCurrentProcessId(),
               "answered by the server process " + pid + ", not by this client");
    AnswerWindow window(shown);
    hkbtest::PumpFor(300ms);
    step.Screenshot(L"08-button-database");
    db.reset();
    const ULONGLONG released = ::GetTickCount64();
    const auto ended = pid.empty() ? std::nullopt : keydbtest::WaitForExit(std::stoul(pid), 60000);
    step.Check(ended.has_value(), "the server ends by itself " + Seconds(::GetTickCount64() - released) +
                                      " after the last release");
  }
  ::DeleteFileW(scenario.c_str());
  ::DeleteFileW((folder + L"KeyDb.trace").c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: morning.exe <work folder>\n");
    return 2;
  }
  std::wstring work = argv[1];
  if (work.back() != L'\\') work += L'\\';
  ::CreateDirectoryW(work.c_str(), nullptr);

  Say("A morning at the keyboard: the ZEV HKB system at work");
  {
    Step step("The installed product");
    for (const wchar_t* file :
         {L"HKBUTLEx.exe", L"HKBPS2.dll", L"HKBFNK.dll", L"ZEVOSD.dll", L"HkbHelper.dll"}) {
      const std::wstring path = ProductFolder() + file;
      step.Check(hkbtest::FileExists(path), hkbtest::Utf8(path) + " " + FileVersion(path));
    }
    const std::wstring server = SpecialFolder(CSIDL_PROGRAM_FILESX86) + L"\\ZEVHKB\\KeyDbWrapper.exe";
    step.Check(hkbtest::FileExists(server), hkbtest::Utf8(server) + " " + FileVersion(server));
  }

  OutsideWorld world(work);
  {
    Step step("The outside world: stand-ins, and the button service");
    if (!world.SetUp(step)) {
      Say("the outside world could not be set up; nothing else can run");
      return 1;
    }
    step.Check(world.StartService(), "button service (demo) started");
    auto started = step.Expect("the service's window \"ZEVHKBCLASS\" is up and HKBPS2 polls the driver",
                               world.log().Find("started", 0, nullptr, [](const ServiceEvent& e) {
                                 return "HKBPS2_OpenDevice() = " + e.get("open") +
                                        ", HKBPS2_Start() = " + e.get("start");
                               }));
    const auto events = world.log().Events();
    bool polling = false;
    for (const ServiceEvent& e : events)
      if (e.event == "started") polling = e.get("open") == "1" && e.get("start") == "1";
    if (!started || !polling) {
      step.Fail("the service could not open the button device");
      return 1;
    }
    step.Screenshot(L"00-ready");
  }

  Brightness(world, true, 2, 0, 8, 70);
  Brightness(world, false, 1, 2, 7, 60);
  PowerButton(world);
  PlusMinusShort(world);
  PlusMinusLong(world);
  Airplane(world);
  Database();

  {
    Step step("Evening: everything ends");
    world.CloseSettingsApp();
    const hkbtest_stats stats = world.driver().Stats();
    step.Check(stats.pending == 0, "the driver handed out " + std::to_string(stats.delivered) +
                                       " reports in " + std::to_string(stats.reads) + " reads; none is left");
    step.Check(world.StopService(),
               "the button service stopped through its window and unloaded the libraries");
    step.Expect("its last words", world.log().Find("stopped", 0));
  }
  Say("");
  Say(s_failures == 0 ? "Every step happened as expected."
                      : std::to_string(s_failures) + " step(s) did not happen as expected.");
  return s_failures == 0 ? 0 : 1;
}
