// Helpers for tests that drive the shipped binaries under Wine (or Windows).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "hkb/unique.h"
#include "hkbtest/env.h"
#include "hkbtest/files.h"
#include "hkbtest/leaks.h"
#include "hkbtest/lines.h"
#include "hkbtest/messages.h"
#include "hkbtest/process.h"
#include "hkbtest/pump.h"
#include "hkbtest/registry.h"
#include "hkbtest/text.h"
#include "hkbtest/wait.h"

namespace hkbtest {

// Folder named by an environment variable that the test runner sets:
// HKB_DIST (install-shaped output), HKB_STANDINS (stand-in binaries),
// HKB_STANDINS32 (the 32-bit tree's stand-ins), HKB_ARTIFACTS (screenshots
// and other output worth keeping).
std::wstring EnvFolder(const wchar_t* variable);
std::wstring DistFile(const std::wstring& relative);
std::wstring StandinFile(const std::wstring& name);
std::wstring Standin32File(const std::wstring& name);
std::wstring ArtifactFile(const std::wstring& name);  // creates the folder

// How many rounds a repetition test makes: `quick` in the everyday run,
// `soak` when HKB_SOAK=1 (./hkb soak), or the number in `variable` when the
// caller names one and it is set (at least 1).
int Rounds(int quick, int soak, const char* variable = nullptr);

// The 64-bit Program Files folder as the shell reports it.
std::wstring ProgramFiles();

bool FileExists(const std::wstring& path);
// A fresh name in the temporary folder; no file of that name exists.
std::wstring TempFilePath(const wchar_t* prefix);

// The DLL under test, loaded as its real callers load it.
class Library {
 public:
  explicit Library(const std::wstring& path);
  HMODULE get() const { return m_module.get(); }
  explicit operator bool() const { return static_cast<bool>(m_module); }
  DWORD error() const { return m_error; }
  template <class Fn>
  Fn proc(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
  }
  void unload() { m_module.reset(); }

 private:
  hkb::UniqueModule m_module;
  DWORD m_error = 0;
};

// A top-level window of a given class and title owned by the test thread;
// messages that reach it are recorded.
class RecordingWindow {
 public:
  RecordingWindow(const wchar_t* cls, const wchar_t* title);
  ~RecordingWindow();
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND hwnd() const { return m_wnd.get(); }
  // Messages at or above WM_USER that have arrived so far (after pumping).
  const std::vector<Msg>& received();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  std::wstring m_class;
  hkb::UniqueWindow m_wnd;
  std::vector<Msg> m_messages;
};

// Puts a copy of `source` at `target` for the scope, creating missing folders;
// removes the copy and the folders it created afterwards.
class ScopedFileCopy {
 public:
  ScopedFileCopy(const std::wstring& source, const std::wstring& target);
  ~ScopedFileCopy();
  ScopedFileCopy(const ScopedFileCopy&) = delete;
  ScopedFileCopy& operator=(const ScopedFileCopy&) = delete;
  bool ok() const { return m_ok; }
  DWORD error() const { return m_error; }

 private:
  std::wstring m_target;
  DWORD m_error = 0;
  std::vector<std::wstring> m_createdDirs;
  bool m_ok = false;
};

// Sets an environment variable for the scope and restores the previous value.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::wstring& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::wstring m_name;
  std::wstring m_old;
  bool m_had = false;
};

// Saves the whole virtual screen as a 24-bit BMP into the artifacts folder.
bool SaveScreenshot(const std::wstring& name);

}  // namespace hkbtest
