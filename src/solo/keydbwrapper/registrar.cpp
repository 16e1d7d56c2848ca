#include "registrar.h"

#include <oleauto.h>

#include <optional>
#include <string_view>

#include "hkb/com.h"
#include "hkb/guard.h"
#include "hkb/module.h"
#include "hkb/unique.h"
#include "rgs_script.h"

namespace keydb {

namespace {

std::wstring Wide(std::string_view s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string Utf8(std::wstring_view s) {
  if (s.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::string_view> ScriptResource(UINT id) {
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(self, MAKEINTRESOURCEW(id), L"REGISTRY");
  if (!res) return std::nullopt;
  HGLOBAL loaded = ::LoadResource(self, res);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return std::string_view(static_cast<const char*>(data), ::SizeofResource(self, res));
}

HKEY RootKey(const std::string& name) {
  if (name == "HKCR") return HKEY_CLASSES_ROOT;
  if (name == "HKCU") return HKEY_CURRENT_USER;
  if (name == "HKLM") return HKEY_LOCAL_MACHINE;
  return HKEY_USERS;
}

LSTATUS SetValue(HKEY key, const rgs::Value& v) {
  const std::wstring name = Wide(v.name);
  if (v.is_dword) {
    const DWORD d = v.dword;
    return ::RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
  }
  const std::wstring text = Wide(v.text);
  return ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS DeleteTree(HKEY parent, const std::wstring& name) {
  const LSTATUS st = ::RegDeleteTreeW(parent, name.c_str());
  return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
}

LSTATUS RegisterKeys(HKEY parent, const std::vector<rgs::Key>& keys) {
  for (const rgs::Key& k : keys) {
    const std::wstring name = Wide(k.name);
    if (k.removal == rgs::Removal::kForceRemove) {
      if (LSTATUS st = DeleteTree(parent, name)) return st;
    }
    hkb::UniqueKey key;
    if (LSTATUS st = ::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       key.put(), nullptr))
      return st;
    for (const rgs::Value& v : k.values) {
      if (LSTATUS st = SetValue(key.get(), v)) return st;
    }
    if (LSTATUS st = RegisterKeys(key.get(), k.subkeys)) return st;
  }
  return ERROR_SUCCESS;
}

// Removes what registration wrote: keys other than NoRemove ones go with
// everything below them; in a NoRemove key the named values go and its
// subkeys are walked. What is already missing is no error.
LSTATUS UnregisterKeys(HKEY parent, const std::vector<rgs::Key>& keys) {
  for (const rgs::Key& k : keys) {
    const std::wstring name = Wide(k.name);
    if (k.removal != rgs::Removal::kNoRemove) {
      if (LSTATUS st = DeleteTree(parent, name)) return st;
      continue;
    }
    hkb::UniqueKey key;
    const LSTATUS open = ::RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (open == ERROR_FILE_NOT_FOUND) continue;
    if (open) return open;
    for (const rgs::Value& v : k.values) {
      if (v.name.empty()) continue;
      const LSTATUS st = ::RegDeleteValueW(key.get(), Wide(v.name).c_str());
      if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return st;
    }
    if (LSTATUS st = UnregisterKeys(key.get(), k.subkeys)) return st;
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  return std::wstring(path, hkb::ModuleFileName(nullptr, path));
}

HRESULT UpdateRegistryFromResource(UINT id, bool do_register) noexcept {
  return hkb::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::wstring module = ModulePath();
    if (module.empty()) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    if (module.find_first_of(L" \t") != std::wstring::npos) module = L"\"" + module + L"\"";
    const std::optional<std::string_view> script = ScriptResource(id);
    if (!script) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    const std::optional<std::string> expanded =
        rgs::Expand(*script, {{"MODULE", Utf8(module)}, {"APPID", Utf8(kAppId)}});
    const std::optional<std::vector<rgs::Root>> roots = expanded ? rgs::Parse(*expanded) : std::nullopt;
    if (!roots) return E_UNEXPECTED;
    for (const rgs::Root& r : *roots) {
      const LSTATUS st =
          do_register ? RegisterKeys(RootKey(r.name), r.keys) : UnregisterKeys(RootKey(r.name), r.keys);
      if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);
    }
    return S_OK;
  });
}

namespace {

// The type library in this program's own file, and that file's path.
HRESULT LoadOwnTypeLibrary(std::wstring& module, hkb::ComPtr<ITypeLib>& lib) {
  module = ModulePath();
  if (module.empty()) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return ::LoadTypeLibEx(module.c_str(), REGKIND_NONE, lib.put());
}

}  // namespace

HRESULT RegisterTypeLibrary() noexcept {
  return hkb::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::wstring module;
    hkb::ComPtr<ITypeLib> lib;
    const HRESULT hr = LoadOwnTypeLibrary(module, lib);
    if (FAILED(hr)) return hr;
    // The help folder is the program's own, as the registrar of the class does it.
    std::wstring path = module;
    std::wstring folder = module.substr(0, module.find_last_of(L'\\'));
    return ::RegisterTypeLib(lib.get(), path.data(), folder.data());
  });
}

HRESULT UnregisterTypeLibrary() noexcept {
  return hkb::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
    std::wstring module;
    hkb::ComPtr<ITypeLib> lib;
    HRESULT hr = LoadOwnTypeLibrary(module, lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return hr;
  });
}

}  // namespace keydb
