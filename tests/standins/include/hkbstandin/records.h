// What a stand-in and its test share: where the stand-in finds its scenario
// and writes its records, and the format of both. Header only; used by the
// stand-ins (in whatever process loads them) and by the test programs.
//
// A stand-in has a name. The test puts two file paths under
// HKEY_CURRENT_USER\Software\HkbTest\Standins\<name>: "Scenario" (what the
// stand-in answers) and "Records" (what it was asked). Both files are UTF-8.
//  * Scenario: one "key=value" per line; a key may repeat.
//  * Records: one line per call, fields separated by a tab. In a field a
//    backslash, tab, line feed and carriage return are written as \\, \t, \n
//    and \r; a null string is the field \0 (a real text never reads so).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hkbtest/files.h"
#include "hkbtest/lines.h"
#include "hkbtest/text.h"

namespace hkbstandin {

inline constexpr wchar_t kConfigRoot[] = L"Software\\HkbTest\\Standins\\";

// One of the two paths of a stand-in's configuration; empty when not set.
inline std::wstring ConfigPath(const wchar_t* standin, const wchar_t* which) {
  const std::wstring key = std::wstring(kConfigRoot) + standin;
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof path;
  if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), which, RRF_RT_REG_SZ, nullptr, path, &size) !=
      ERROR_SUCCESS)
    return {};
  return path;
}

// The scenario as key/value pairs, in file order.
using Scenario = std::vector<std::pair<std::string, std::string>>;

inline Scenario ParseScenario(const std::string& text) {
  Scenario lines;
  for (const std::string& line : hkbtest::SplitLines(text)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) lines.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return lines;
}

inline Scenario ReadScenario(const wchar_t* standin) {
  return ParseScenario(hkbtest::ReadFileBytes(ConfigPath(standin, L"Scenario")));
}

// The last value of `key`, or `fallback`.
inline std::string Value(const Scenario& s, const std::string& key, const std::string& fallback = {}) {
  std::string v = fallback;
  for (const auto& [k, value] : s)
    if (k == key) v = value;
  return v;
}

inline long Number(const Scenario& s, const std::string& key, long fallback) {
  const std::string v = Value(s, key);
  if (v.empty()) return fallback;
  return static_cast<long>(std::strtoul(v.c_str(), nullptr, 0));
}

// Every value of `key`.
inline std::vector<std::string> Values(const Scenario& s, const std::string& key) {
  std::vector<std::string> out;
  for (const auto& [k, value] : s)
    if (k == key) out.push_back(value);
  return out;
}

using Field = std::optional<std::wstring>;  // nullopt: a null string
using Record = std::vector<Field>;

inline std::string EncodeField(const Field& field) {
  if (!field) return "\\0";
  std::string out;
  for (char c : hkbtest::Utf8(*field)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

inline Field DecodeField(const std::string& text) {
  if (text == "\\0") return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: out += text[i];
    }
  }
  return hkbtest::Wide(out);
}

inline std::vector<Record> ParseRecords(const std::string& text) {
  std::vector<Record> records;
  for (const std::string& line : hkbtest::SplitLines(text)) {
    Record record;
    for (const std::string& field : hkbtest::Split(line, '\t')) record.push_back(DecodeField(field));
    records.push_back(std::move(record));
  }
  return records;
}

// Appends one record line to the stand-in's records file (one write, so lines
// of several processes do not mix).
inline void AppendRecord(const wchar_t* standin, const Record& record) {
  const std::wstring path = ConfigPath(standin, L"Records");
  if (path.empty()) return;
  std::string line;
  for (size_t i = 0; i < record.size(); ++i) {
    if (i) line += '\t';
    line += EncodeField(record[i]);
  }
  line += '\n';
  hkbtest::AppendFileBytes(path, line);
}

}  // namespace hkbstandin
