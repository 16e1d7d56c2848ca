// What the KeyDbWrapper tests share: the server installed where it belongs in
// the prefix with a KeyDb.dll stand-in beside it, registered by its own
// "/RegServer" and unregistered afterwards, and a 64-bit COM client.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "KeyDbWrapper_h.h"
#include "hkb/com.h"
#include "hkb/unique.h"

namespace keydbtest {

inline constexpr wchar_t kClsid[] = L"{F003112F-C184-445e-9306-54A912775296}";
inline constexpr wchar_t kAppId[] = L"{259F18F8-B49B-45d2-88D9-E042D98AA4D4}";
inline constexpr wchar_t kLibId[] = L"{27CFD97F-CD20-4E9E-88C0-5FD71564FC69}";
inline constexpr wchar_t kIid[] = L"{582772D7-CE63-42BF-B36A-314130EF137F}";

// The server the tests drive: the shipped 32-bit program, with the 32-bit
// KeyDb.dll stand-ins, installed under the 32-bit Program Files folder.
struct ServerBuild {
  std::wstring program;   // the server as built
  std::wstring standins;  // the KeyDb.dll stand-ins (32-bit)
  std::wstring install;   // ...\ZEVHKB\ under Program Files (x86)
  REGSAM view = KEY_WOW64_32KEY;
};
const ServerBuild& Server();

// Runs the 32-bit probe program (standins/keydb/probe32.exe) with `args`;
// its exit code, or nothing when it did not start or end within a minute.
std::optional<DWORD> RunProbe32(const std::wstring& args);

// What lies beside the server as KeyDb.dll: nothing, the scenario stand-in,
// one without the exports, a file that is no program image, the stand-in
// with fixed answers (timing).
enum class Library { kNone, kStandin, kNoExports, kNotAnImage, kFixed };

// The server copied to its install folder under `name` with `library` as the
// KeyDb.dll beside it, and registered. Afterwards: servers still running
// from that file are ended, the registration is removed, the files go.
class InstalledServer {
 public:
  explicit InstalledServer(Library library = Library::kStandin,
                           const std::wstring& name = L"KeyDbWrapper.exe", bool do_register = true);
  ~InstalledServer();
  InstalledServer(const InstalledServer&) = delete;
  InstalledServer& operator=(const InstalledServer&) = delete;

  bool ok() const { return m_ok; }
  const std::wstring& path() const { return m_path; }

  // Runs the installed program with `args`; its exit code, or nothing when
  // it could not start or did not end within a minute.
  std::optional<DWORD> Run(const std::wstring& args) const;
  // Starts it and returns its process.
  hkb::UniqueHandle Start(const std::wstring& args) const;

  void PutLibrary(Library library) const;
  void SetScenario(const std::string& text) const;
  // The stand-in's record, one line per event: "pid=<n> <export> <id>".
  std::vector<std::string> Trace() const;
  void ClearTrace() const;
  // Process id of the server that made the last recorded call (0: none).
  DWORD LastServerPid() const;
  // Servers running from this program file, and their end (test clean-up;
  // the idle end of the server is tested on its own).
  std::vector<DWORD> RunningServers() const;
  void EndServers() const;

 private:
  std::wstring m_path;
  std::wstring m_folder;
  bool m_ok = false;
  bool m_registered = false;
};

// Waits for a process to end; its exit code, or nothing on timeout.
std::optional<DWORD> WaitForExit(DWORD pid, DWORD timeout_ms, ULONGLONG* ended_at = nullptr);

// The class registration as its scripts write it: every key and value of the
// AppID, ProgID and class keys, as hkbtest::DumpKeyTree lists them, sorted.
std::vector<std::string> RegisteredClassKeys(REGSAM view);
// What those keys must hold for the server program at `program` (which
// contains blanks, so LocalServer32 is quoted), sorted the same way.
std::vector<std::string> ClassRegistrationTable(const std::wstring& program);

// A 64-bit client's object from the local server.
hkb::ComPtr<IkeyDbObj> CreateObject(HRESULT* hr = nullptr);

// A buffer of the interface, filled with a pattern before each call.
struct TextBuffer {
  unsigned short units[260];
  TextBuffer() { Fill(); }
  void Fill() {
    for (unsigned short& u : units) u = 0xABCD;
  }
  // The text up to the terminator, or "<unterminated>".
  std::wstring Text() const;
};

}  // namespace keydbtest
