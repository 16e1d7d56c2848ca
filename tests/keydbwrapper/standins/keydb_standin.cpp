// Stand-in for the button database library KeyDb.dll: stdcall exports with
// undecorated names, built 32-bit for the shipped server and 64-bit for its
// test build. It answers from "KeyDb.scenario" beside
// itself and appends one line per call to "KeyDb.trace" beside itself:
//   pid=<process id> <export> <id>
// Scenario lines, one per answer: "<export> <id> <result> [text]". The text
// is the rest of the line (UTF-8); "*N" stands for N characters "0123456789"
// over and over, put into the string in pieces so that it grows. A call with
// no line for its id returns 0 and leaves the string alone. A first line "quiet"
// keeps the trace empty. Loading and freeing the library add the lines
// "pid=<n> attach 0" and "pid=<n> detach 0".
//
// Built with KEYDB_FIXED_ANSWER (KeyDbFixed.dll, for timing runs) it reads
// and writes no file: every text export answers one fixed path.
#include <windows.h>

#include <string>

#include "atl_string.h"
#include "hkbtest/files.h"
#include "hkbtest/lines.h"
#include "hkbtest/text.h"

#ifdef KEYDB_FIXED_ANSWER

extern "C" int WINAPI GetPathByID_LED(int, atl::CStringW& path) {
  return path.SetString(u"C:\\Program Files\\ZEV\\Launcher.exe");
}
extern "C" int WINAPI IsEquippedWith(int, atl::CStringW& text) { return text.SetString(u"1"); }
extern "C" int WINAPI GetPackageNameID(int, atl::CStringW& name) { return name.SetString(u"ZEV.Settings"); }
extern "C" int WINAPI GetExecpathStatus(int) { return 1; }

#else

namespace {

std::wstring OwnFolder() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnFolder), &self);
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string ReadScenario() { return hkbtest::ReadFileBytes(OwnFolder() + L"KeyDb.scenario"); }

void Trace(const std::string& scenario, const char* name, int id) {
  if (scenario.rfind("quiet\n", 0) == 0) return;
  hkbtest::AppendFileBytes(OwnFolder() + L"KeyDb.trace", "pid=" + std::to_string(::GetCurrentProcessId()) +
                                                             " " + name + " " + std::to_string(id) + "\n");
}

// The scenario line for this export and id: its result and text.
bool Lookup(const std::string& scenario, const char* name, int id, int& result, std::string& text) {
  const std::string head = std::string(name) + " " + std::to_string(id) + " ";
  for (const std::string& line : hkbtest::SplitLines(scenario)) {
    if (line.compare(0, head.size(), head) != 0) continue;
    const std::string rest = line.substr(head.size());
    const size_t space = rest.find(' ');
    result = std::stoi(rest.substr(0, space));
    text = space == std::string::npos ? std::string() : rest.substr(space + 1);
    return true;
  }
  return false;
}

std::u16string Utf16(const std::string& s) {
  if (!s.empty() && s[0] == '*') {
    std::u16string out(static_cast<size_t>(std::stoi(s.substr(1))), u'0');
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(u'0' + i % 10);
    return out;
  }
  const std::wstring w = hkbtest::Wide(s);
  return std::u16string(w.begin(), w.end());
}

int Answer(const char* name, int id, atl::CStringW& out) {
  const std::string scenario = ReadScenario();
  Trace(scenario, name, id);
  int result = 0;
  std::string text;
  if (!Lookup(scenario, name, id, result, text)) return 0;
  const std::u16string t = Utf16(text);
  // First piece set, the rest appended, as a library building a path would.
  const size_t first = t.size() < 8 ? t.size() : 8;
  out.SetString(std::u16string_view(t).substr(0, first));
  for (size_t at = first; at < t.size(); at += 100) out.Append(std::u16string_view(t).substr(at, 100));
  return result;
}

}  // namespace

extern "C" int WINAPI GetPathByID_LED(int id, atl::CStringW& path) {
  return Answer("GetPathByID_LED", id, path);
}
extern "C" int WINAPI IsEquippedWith(int id, atl::CStringW& text) {
  return Answer("IsEquippedWith", id, text);
}
extern "C" int WINAPI GetPackageNameID(int id, atl::CStringW& name) {
  return Answer("GetPackageNameID", id, name);
}
extern "C" int WINAPI GetExecpathStatus(int app_id) {
  const std::string scenario = ReadScenario();
  Trace(scenario, "GetExecpathStatus", app_id);
  int result = 0;
  std::string unused;
  return Lookup(scenario, "GetExecpathStatus", app_id, result, unused) ? result : 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH)
    Trace(ReadScenario(), reason == DLL_PROCESS_ATTACH ? "attach" : "detach", 0);
  return TRUE;
}

#endif
