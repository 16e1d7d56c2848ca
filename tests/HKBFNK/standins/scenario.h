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

#include "hkbtest/env.h"
#include "hkbtest/files.h"
#include "hkbtest/text.h"

namespace standin {

// A text for a trace line: "null" stands for a null pointer.
inline std::string Utf8(const wchar_t* s) { return s ? hkbtest::Utf8(s) : "null"; }

// `always`: written even when HKBFNK_QUIET is set (timing and leak runs keep
// only the caller's results).
inline void Trace(const std::string& line, bool always = false) {
  if (!always && !hkbtest::Env(L"HKBFNK_QUIET").empty()) return;
  hkbtest::AppendFileBytes(hkbtest::Env(L"HKBFNK_TRACE"), line + "\n");
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
  const std::string text = hkbtest::ReadFileBytes(hkbtest::Env(L"HKBFNK_SCENARIO"));

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
