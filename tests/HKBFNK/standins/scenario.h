// What the HKBFNK stand-ins share: the scenario the test wrote (file named by
// HKBFNK_SCENARIO) and the trace every participant appends to (file named by
// HKBFNK_TRACE), one UTF-8 line per event, in the order the events happen.
//
// Scenario lines: a kind word followed by key=value words, e.g.
//   panel name=DISPLAY\ABC\1_0 current=50 levels=11 level=0,10,20
//   wmi connect=fail blanket=fail enum=fail set=fail out=returnvalue
//   power scheme={GUID} active=fail ac=60 dc=30 read=fail
#pragma once

#include <windows.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace standin {

inline std::string EnvUtf8(const wchar_t* name) {
  wchar_t buf[1024];
  const DWORD n = ::GetEnvironmentVariableW(name, buf, 1024);
  if (n == 0 || n >= 1024) return {};
  const int len = ::WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(len), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), out.data(), len, nullptr, nullptr);
  return out;
}

inline std::wstring Wide(const std::string& s) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

inline std::string Utf8(const wchar_t* s) {
  if (!s) return "null";
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// `always`: written even when HKBFNK_QUIET is set (timing and leak runs keep
// only the caller's results).
inline void Trace(const std::string& line, bool always = false) {
  if (!always && !EnvUtf8(L"HKBFNK_QUIET").empty()) return;
  const std::wstring path = Wide(EnvUtf8(L"HKBFNK_TRACE"));
  if (path.empty()) return;
  HANDLE f = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD put = 0;
  ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  ::CloseHandle(f);
}

struct Line {
  std::string kind;
  std::map<std::string, std::string> values;
  bool has(const std::string& k) const { return values.count(k) != 0; }
  std::string get(const std::string& k) const {
    auto it = values.find(k);
    return it == values.end() ? std::string() : it->second;
  }
};

inline std::vector<Line> ReadScenario() {
  std::vector<Line> lines;
  const std::wstring path = Wide(EnvUtf8(L"HKBFNK_SCENARIO"));
  if (path.empty()) return lines;
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  ::CloseHandle(f);

  std::istringstream in(text);
  std::string row;
  while (std::getline(in, row)) {
    std::istringstream words(row);
    Line line;
    if (!(words >> line.kind)) continue;
    std::string w;
    while (words >> w) {
      const size_t eq = w.find('=');
      if (eq == std::string::npos)
        line.values[w] = "";
      else
        line.values[w.substr(0, eq)] = w.substr(eq + 1);
    }
    lines.push_back(line);
  }
  return lines;
}

inline Line FindLine(const std::vector<Line>& lines, const std::string& kind) {
  for (const Line& l : lines)
    if (l.kind == kind) return l;
  return {};
}

inline std::string Hex(unsigned long v) {
  char buf[16];
  wsprintfA(buf, "0x%lX", v);
  return buf;
}

}  // namespace standin
