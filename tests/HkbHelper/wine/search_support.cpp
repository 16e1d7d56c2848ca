#include "search_support.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "hkbtest/harness.h"
#include "hkbtest/process.h"

namespace hkbhtest {

namespace {

constexpr wchar_t kPaneName[] = L"searchpane";
constexpr DWORD kFenceKey = VK_F24;
constexpr ULONG_PTR kFenceExtraInfo = 0xFE4CE;
// Tick counts step in up to 16 ms on Windows (1 ms under Wine).
constexpr DWORD kTickSlackMs = 16;

DWORD ScanOf(DWORD vk) { return ::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC); }

unsigned long long Number(const hkbstandin::Field& f) {
  return f ? std::wcstoull(f->c_str(), nullptr, 10) : 0;
}

bool IsKind(const hkbstandin::Record& r, const wchar_t* kind) { return !r.empty() && r[0] && *r[0] == kind; }

KeyEvent ToKey(const hkbstandin::Record& r) {
  KeyEvent k;
  if (r.size() >= 6) {
    k.vk = static_cast<DWORD>(Number(r[1]));
    k.scan = static_cast<DWORD>(Number(r[2]));
    k.flags = static_cast<DWORD>(Number(r[3]));
    k.time = static_cast<DWORD>(Number(r[4]));
    k.extra = static_cast<ULONG_PTR>(Number(r[5]));
  }
  return k;
}

bool IsFence(const KeyEvent& k) { return k.vk == kFenceKey && k.extra == kFenceExtraInfo; }

void SendKey(DWORD vk, DWORD flags, ULONG_PTR extra) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = static_cast<WORD>(vk);
  input.ki.dwFlags = flags;
  input.ki.dwExtraInfo = extra;
  ::SendInput(1, &input, sizeof input);
}

}  // namespace

KeySequence& KeySequence::Key(DWORD vk, DWORD scan, bool up, bool extended, bool marked) {
  m_keys.push_back({vk, scan, up, extended, marked, m_pending});
  m_pending = 0;
  return *this;
}

KeySequence& KeySequence::WindowsKey() {
  return Key(VK_LWIN, 0, false, true, false).Wait(50).Key(VK_LWIN, 0, true, false, false).Wait(50);
}

KeySequence& KeySequence::WindowsKeyQ() {
  return Key(VK_LWIN, 0, false, true, false)
      .Wait(50)
      .Key('Q', 0x10, false, false, true)
      .Wait(50)
      .Key('Q', 0x10, true, false, true)
      .Wait(100)
      .Key(VK_LWIN, 0, true, false, false)
      .Wait(200);
}

KeySequence& KeySequence::ShiftInsert() {
  return Key(VK_SHIFT, ScanOf(VK_SHIFT), false, false, true)
      .Wait(50)
      .Key(VK_INSERT, ScanOf(VK_INSERT), false, true, true)
      .Wait(50)
      .Key(VK_INSERT, ScanOf(VK_INSERT), true, true, true)
      .Wait(1000);
}

KeySequence& KeySequence::Enter() {
  return Key(VK_RETURN, 0, false, true, false).Wait(50).Key(VK_RETURN, 0, true, false, false).Wait(50);
}

KeySequence& KeySequence::ShiftUp() { return Key(VK_SHIFT, ScanOf(VK_SHIFT), true, false, true); }

std::string Describe(const std::vector<KeyEvent>& events) {
  std::ostringstream out;
  for (size_t i = 0; i < events.size(); ++i) {
    const KeyEvent& k = events[i];
    out << "\n  vk=0x" << std::hex << k.vk << " scan=0x" << k.scan << " flags=0x" << k.flags << " extra=0x"
        << k.extra << std::dec;
    if (i > 0) out << " +" << (k.time - events[i - 1].time) << "ms";
  }
  return out.str();
}

std::string CompareKeys(const std::vector<KeyEvent>& got, const KeySequence& expected) {
  const std::vector<ExpectedKey>& want = expected.keys();
  std::ostringstream out;
  for (size_t i = 0; i < want.size() || i < got.size(); ++i) {
    if (i >= got.size() || i >= want.size()) {
      out << "expected " << want.size() << " events, got " << got.size() << ":" << Describe(got);
      return out.str();
    }
    const ExpectedKey& w = want[i];
    const KeyEvent& g = got[i];
    // A shift key may be reported as the left one; a key sent by its scan
    // code alone may come without its virtual key.
    const bool vk_ok =
        g.vk == w.vk || (w.vk == VK_SHIFT && g.vk == VK_LSHIFT) || (w.vk == 'Q' && !w.up && g.vk == 0);
    const bool ok = vk_ok && g.scan == w.scan && ((g.flags & LLKHF_UP) != 0) == w.up &&
                    ((g.flags & LLKHF_EXTENDED) != 0) == w.extended && (g.flags & LLKHF_INJECTED) != 0 &&
                    g.extra == (w.marked ? kMarkedExtraInfo : 0);
    if (!ok) {
      out << "event " << i << " differs: expected vk=0x" << std::hex << w.vk << " scan=0x" << w.scan
          << (w.up ? " up" : " down") << (w.extended ? " extended" : "") << (w.marked ? " marked" : "")
          << std::dec << ":" << Describe(got);
      return out.str();
    }
    if (i > 0 && g.time - got[i - 1].time + kTickSlackMs < w.minGapMs) {
      out << "event " << i << " came " << (g.time - got[i - 1].time)
          << " ms after the previous one, expected " << w.minGapMs << ":" << Describe(got);
      return out.str();
    }
  }
  return {};
}

// The test display runs no window manager. For a window it leaves to the
// window manager, Wine waits up to 2 s on each hide for one to answer; the
// pane hides while the search's keys are still coming, and a 2 s stall there
// makes it miss keys on a loaded machine. So the pane's windows are Wine's own.
SearchPane::SearchPane(const std::string& scenario)
    : m_scope(kPaneName, scenario),
      m_unmanaged(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\searchpane_standin.exe\\X11 Driver",
                  L"Managed", std::optional<std::wstring>(L"N")) {
  if (!m_scope.ok() || !m_unmanaged.ok()) return;
  const std::wstring exe = hkbtest::StandinFile(L"searchpane_standin.exe");
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!hkbtest::CreateProcessPatiently(exe.c_str(), command, FALSE, 0, nullptr, si, pi)) return;
  ::CloseHandle(pi.hThread);
  m_process.reset(pi.hProcess);
  m_thread = pi.dwThreadId;
  m_ready = hkbtest::WaitUntil([&] {
    for (const auto& r : m_scope.Records())
      if (IsKind(r, L"ready")) return true;
    return false;
  });
}

SearchPane::~SearchPane() {
  if (!m_process) return;
  ::PostThreadMessageW(m_thread, WM_QUIT, 0, 0);
  if (::WaitForSingleObject(m_process.get(), 30000) != WAIT_OBJECT_0) ::TerminateProcess(m_process.get(), 1);
}

bool SearchPane::Fence() {
  const size_t from = RecordCount();
  SendKey(kFenceKey, 0, kFenceExtraInfo);
  SendKey(kFenceKey, KEYEVENTF_KEYUP, kFenceExtraInfo);
  return hkbtest::WaitUntil([&] {
    const std::vector<hkbstandin::Record> records = m_scope.Records();
    for (size_t i = from; i < records.size(); ++i) {
      if (!IsKind(records[i], L"key")) continue;
      const KeyEvent k = ToKey(records[i]);
      if (IsFence(k) && (k.flags & LLKHF_UP)) return true;
    }
    return false;
  });
}

std::vector<KeyEvent> SearchPane::Keys(size_t from) const {
  std::vector<KeyEvent> out;
  const std::vector<hkbstandin::Record> records = m_scope.Records();
  for (size_t i = from; i < records.size(); ++i) {
    if (!IsKind(records[i], L"key")) continue;
    const KeyEvent k = ToKey(records[i]);
    if (!IsFence(k)) out.push_back(k);
  }
  return out;
}

std::vector<Paste> SearchPane::Pastes(size_t from) const {
  std::vector<Paste> out;
  const std::vector<hkbstandin::Record> records = m_scope.Records();
  for (size_t i = from; i < records.size(); ++i)
    if (IsKind(records[i], L"paste") && records[i].size() >= 3)
      out.push_back({records[i][1], records[i][2].value_or(L"")});
  return out;
}

size_t SearchPane::Count(const wchar_t* kind, size_t from) const {
  const std::vector<hkbstandin::Record> records = m_scope.Records();
  size_t n = 0;
  for (size_t i = from; i < records.size(); ++i)
    if (IsKind(records[i], kind)) ++n;
  return n;
}

ClipboardWatch::ClipboardWatch() {
  m_thread = std::thread([this] {
    DWORD seen = ::GetClipboardSequenceNumber();
    while (!m_stop) {
      const DWORD now = ::GetClipboardSequenceNumber();
      if (now != seen) {
        seen = now;
        m_lastChange = ::GetTickCount();
      }
      ::Sleep(2);
    }
  });
}

ClipboardWatch::~ClipboardWatch() { Stop(); }

DWORD ClipboardWatch::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  return m_lastChange;
}

}  // namespace hkbhtest
