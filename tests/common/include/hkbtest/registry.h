// Registry state for the scope of a test: keys and values put in place and
// exactly what the scope changed put back afterwards. 64-bit view by default.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "hkb/unique.h"

namespace hkbtest {

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

// A key created for the scope; afterwards the levels of its path that the
// scope created are removed with everything in them.
class ScopedRegKey {
 public:
  ScopedRegKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
  ~ScopedRegKey();
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  bool ok() const { return m_ok; }
  HKEY get() const { return m_key.get(); }

 private:
  HKEY m_root;
  REGSAM m_view;
  std::vector<std::wstring> m_created;  // outermost first
  hkb::UniqueKey m_key;
  bool m_ok = false;
};

// Raw registry data: a type and its bytes.
struct RegData {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};
RegData RegSz(const std::wstring& text);  // with its terminator
RegData RegDword(DWORD value);
RegData RegBinary(const void* data, size_t size, DWORD type = REG_BINARY);

// One value for the scope (removed for the scope when `data` is empty, `name`
// nullptr for the default value). Afterwards the previous value comes back
// (or the value goes), and keys the scope created go when they are empty.
class ScopedRegValue {
 public:
  ScopedRegValue(HKEY root, const std::wstring& key, const wchar_t* name, std::optional<RegData> data,
                 REGSAM view = KEY_WOW64_64KEY);
  // The common case: a REG_SZ value, or none.
  ScopedRegValue(HKEY root, const std::wstring& key, const wchar_t* name, std::optional<std::wstring> text,
                 REGSAM view = KEY_WOW64_64KEY);
  ~ScopedRegValue();
  ScopedRegValue(const ScopedRegValue&) = delete;
  ScopedRegValue& operator=(const ScopedRegValue&) = delete;
  bool ok() const { return m_ok; }

 private:
  HKEY m_root;
  std::wstring m_key;
  std::wstring m_name;
  REGSAM m_view;
  bool m_had = false;
  DWORD m_type = 0;
  std::vector<BYTE> m_old;
  std::vector<std::wstring> m_created;  // deepest last
  bool m_ok = false;
};

// An in-process COM server registered for the scope (64-bit view): `dll`
// under HKEY_LOCAL_MACHINE\Software\Classes\CLSID\<clsid>\InprocServer32,
// with the threading model "Both". `clsid` in braces, as the registry writes it.
class ScopedInprocServer {
 public:
  ScopedInprocServer(const wchar_t* clsid, const std::wstring& dll);
  bool ok() const { return m_server.ok() && m_model.ok(); }
  // The key the server is registered under.
  static std::wstring KeyOf(const wchar_t* clsid);

 private:
  ScopedRegValue m_server;
  ScopedRegValue m_model;
};

// A key with everything below it as lines, in the order the registry lists
// them: "path|" for each key and "path|name|data" for each value, where path
// starts with `path` as given, name is empty for the default value and data
// is "s:" and the UTF-8 text for REG_SZ, "d:" and the number for REG_DWORD,
// "t<type>:" and the size in bytes otherwise. Empty when the key is missing.
std::vector<std::string> DumpKeyTree(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

// The value as stored, or nothing when it (or its key) is missing.
std::optional<RegData> ReadRegValue(HKEY root, const std::wstring& key, const wchar_t* name,
                                    REGSAM view = KEY_WOW64_64KEY);

}  // namespace hkbtest
