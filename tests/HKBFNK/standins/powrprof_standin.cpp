// Stand-in for the power-scheme functions of powrprof.dll (Wine's are stubs).
// The test prefix loads it in place of Wine's through a native DLL override
// for the client program, from the client's folder. It answers the active
// scheme and the AC and DC values from the scenario's "power" line and traces
// every call:
//   power scheme={GUID} ac=<n> dc=<n> [active=fail] [read=fail]
#include <windows.h>
#include <objbase.h>

#include <string>

#include "scenario.h"

using standin::Trace;

namespace {

std::string Guid(const GUID* g) {
  if (!g) return "null";
  wchar_t text[64] = {};
  ::StringFromGUID2(*g, text, 64);
  return standin::Utf8(text);
}

// The scenario is read once per process, as the WMI stand-in does.
const standin::Line& PowerLine() {
  static const standin::Line line = standin::FindLine(standin::ReadScenario(), "power");
  return line;
}

DWORD ReadValue(const char* which, const char* key, HKEY root, const GUID* scheme, const GUID* subgroup,
                const GUID* setting, DWORD* value) {
  Trace(std::string("power ") + which + " root=" + (root ? "set" : "null") + " scheme=" + Guid(scheme) +
        " subgroup=" + Guid(subgroup) + " setting=" + Guid(setting));
  const standin::Line& line = PowerLine();
  if (line.get("read") == "fail" || !line.has(key)) return ERROR_FILE_NOT_FOUND;
  if (!value) return ERROR_INVALID_PARAMETER;
  *value = std::stoul(line.get(key));
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" DWORD WINAPI PowerGetActiveScheme(HKEY root, GUID** active) {
  Trace(std::string("power PowerGetActiveScheme root=") + (root ? "set" : "null"));
  const standin::Line& line = PowerLine();
  if (!active) return ERROR_INVALID_PARAMETER;
  *active = nullptr;
  if (line.get("active") == "fail") return ERROR_FILE_NOT_FOUND;
  GUID scheme = {};
  const std::wstring text = hkbtest::Wide(line.get("scheme"));
  if (FAILED(::CLSIDFromString(text.c_str(), &scheme))) return ERROR_FILE_NOT_FOUND;
  auto* block = static_cast<GUID*>(::LocalAlloc(LPTR, sizeof(GUID)));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  *block = scheme;
  *active = block;
  return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI PowerReadACValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup,
                                              const GUID* setting, DWORD* value) {
  return ReadValue("PowerReadACValueIndex", "ac", root, scheme, subgroup, setting, value);
}

extern "C" DWORD WINAPI PowerReadDCValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup,
                                              const GUID* setting, DWORD* value) {
  return ReadValue("PowerReadDCValueIndex", "dc", root, scheme, subgroup, setting, value);
}
