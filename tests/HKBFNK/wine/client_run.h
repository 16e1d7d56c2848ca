// Runs the HKBFNK caller program in a prefix prepared for it: the WMI locator
// stand-in registered under the locator's CLSID, Wine's powrprof replaced by
// the power stand-in for that program, an optional Windows version for it,
// and a scenario both stand-ins answer from. Everything is put back afterwards.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "hkbtest/lines.h"
#include "hkbtest/registry.h"

namespace fnktest {

// The locator's registration in the 64-bit view, pointing at the stand-in.
class LocatorOverride {
 public:
  LocatorOverride();
  bool ok() const { return m_server.ok(); }
  static std::wstring CurrentServer();

 private:
  hkbtest::ScopedInprocServer m_server;
};

// What one run of the caller left in the trace.
struct Trace {
  std::vector<std::string> lines;
  DWORD exitCode = 0;
  bool finished = false;

  // Lines that start with `prefix`.
  std::vector<std::string> With(const std::string& prefix) const;
  size_t Count(const std::string& prefix) const { return hkbtest::CountLinesWith(lines, prefix); }
  // The text after "client <command> = " of the n-th such result (0-based).
  std::string Result(const std::string& command, size_t n = 0) const;
  // Lines between the result of command n-1 (or the start) and that of command n.
  std::vector<std::string> During(const std::string& command, size_t n = 0) const;
  std::string Text() const;
};

struct ClientSetup {
  std::string scenario;
  const wchar_t* version = nullptr;  // Wine's name of the Windows version for the caller, or none
  bool powerStandin = true;
  bool quiet = false;    // the stand-ins keep no trace, only the caller's results are written
  DWORD waitMs = 60000;  // how long the caller may run before it is ended
};

Trace RunClient(const ClientSetup& setup, const std::vector<std::wstring>& commands);

}  // namespace fnktest
