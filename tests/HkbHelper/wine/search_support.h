// Helpers for the tests of the launch functions: the stand-in search pane as
// a process of its own (it records the key events it sees through its
// low-level hook and what was pasted), the expected key sequences with their
// pauses, and the clipboard as the test sees it.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hkb/unique.h"
#include "hkbtest/clipboard.h"
#include "hkbtest/standin_scope.h"

namespace hkbhtest {

// One key event as a low-level keyboard hook saw it.
struct KeyEvent {
  DWORD vk = 0;
  DWORD scan = 0;
  DWORD flags = 0;  // LLKHF_*
  DWORD time = 0;
  ULONG_PTR extra = 0;
};

// The extra information that the test thread puts on its messages, so that
// the events the library sends with it can be told from those without.
inline constexpr ULONG_PTR kMarkedExtraInfo = 0x4B455931;

// What a sequence should hold, event by event: the key, whether it goes up,
// the extended flag, the extra information (kMarkedExtraInfo or 0), and the
// least time since the previous event.
struct ExpectedKey {
  DWORD vk;
  DWORD scan;
  bool up;
  bool extended;
  bool marked;
  DWORD minGapMs;
};

class KeySequence {
 public:
  KeySequence& Key(DWORD vk, DWORD scan, bool up, bool extended, bool marked);
  KeySequence& Wait(DWORD ms) {
    m_pending += ms;
    return *this;
  }
  // The library's sequences with the pauses after them.
  KeySequence& WindowsKey();
  KeySequence& WindowsKeyQ();
  KeySequence& ShiftInsert();
  KeySequence& Enter();
  KeySequence& ShiftUp();
  const std::vector<ExpectedKey>& keys() const { return m_keys; }

 private:
  std::vector<ExpectedKey> m_keys;
  DWORD m_pending = 0;
};

// Empty when `got` is the sequence (every event injected, keys, flags, extra
// information and order as expected, pauses at least as long, within the
// tick granularity); else a description of the first difference.
std::string CompareKeys(const std::vector<KeyEvent>& got, const KeySequence& expected);
std::string Describe(const std::vector<KeyEvent>& events);

struct Paste {
  std::optional<std::wstring> text;  // nullopt: no text on the clipboard
  std::wstring browserSetting;       // "none", "d:<n>" or "t<type>"
};

// The stand-in search pane (searchpane_standin.exe) running for the scope.
class SearchPane {
 public:
  explicit SearchPane(const std::string& scenario = {});
  ~SearchPane();
  SearchPane(const SearchPane&) = delete;
  SearchPane& operator=(const SearchPane&) = delete;
  bool ok() const { return m_ready; }
  bool SetScenario(const std::string& text) { return m_scope.SetScenario(text); }

  size_t RecordCount() const { return m_scope.Records().size(); }
  // Sends a key of its own (F24, unmarked) and waits until the pane has seen
  // it: every event injected before it has then been recorded. False when it
  // did not come in time.
  bool Fence();
  // Since record `from`: the key events (the fence's own left out), the
  // pastes, and how often a record of `kind` came.
  std::vector<KeyEvent> Keys(size_t from) const;
  std::vector<Paste> Pastes(size_t from) const;
  size_t Count(const wchar_t* kind, size_t from) const;

 private:
  hkbtest::StandinScope m_scope;
  hkbtest::ScopedRegValue m_unmanaged;
  hkb::UniqueHandle m_process;
  DWORD m_thread = 0;
  bool m_ready = false;
};

// Notes the time of every change of the clipboard while it runs.
class ClipboardWatch {
 public:
  ClipboardWatch();
  ~ClipboardWatch();
  ClipboardWatch(const ClipboardWatch&) = delete;
  ClipboardWatch& operator=(const ClipboardWatch&) = delete;
  // Stops watching; the tick count of the last change seen, or 0.
  DWORD Stop();

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<DWORD> m_lastChange{0};
  std::thread m_thread;
};

}  // namespace hkbhtest
