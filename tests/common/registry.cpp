#include "hkbtest/registry.h"

#include <iterator>

#include "hkbtest/text.h"

namespace hkbtest {

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

namespace {

// The levels of `path` that do not exist yet, outermost first.
std::vector<std::wstring> MissingLevels(HKEY root, const std::wstring& path, REGSAM view) {
  std::vector<std::wstring> missing;
  for (size_t pos = path.find(L'\\');; pos = path.find(L'\\', pos + 1)) {
    const std::wstring level = path.substr(0, pos);
    if (!KeyExists(root, level, view)) missing.push_back(level);
    if (pos == std::wstring::npos) break;
  }
  return missing;
}

}  // namespace

ScopedRegKey::ScopedRegKey(HKEY root, const std::wstring& path, REGSAM view)
    : m_root(root), m_view(view), m_created(MissingLevels(root, path, view)) {
  m_ok = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, m_key.put(),
                           nullptr) == ERROR_SUCCESS;
}

ScopedRegKey::~ScopedRegKey() {
  m_key.reset();
  if (m_created.empty()) return;
  // The outermost created level holds all the others; it goes with its tree,
  // deleted through its parent opened in the scope's view.
  const std::wstring& top = m_created.front();
  const size_t cut = top.rfind(L'\\');
  hkb::UniqueKey parent;
  HKEY from = m_root;
  if (cut != std::wstring::npos) {
    if (::RegOpenKeyExW(m_root, top.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS | m_view, parent.put()) !=
        ERROR_SUCCESS)
      return;
    from = parent.get();
  }
  ::RegDeleteTreeW(from, cut == std::wstring::npos ? top.c_str() : top.c_str() + cut + 1);
}

RegData RegSz(const std::wstring& text) {
  return RegBinary(text.c_str(), (text.size() + 1) * sizeof(wchar_t), REG_SZ);
}

RegData RegDword(DWORD value) { return RegBinary(&value, sizeof value, REG_DWORD); }

RegData RegBinary(const void* data, size_t size, DWORD type) {
  const auto* p = static_cast<const BYTE*>(data);
  return RegData{type, std::vector<BYTE>(p, p + size)};
}

ScopedRegValue::ScopedRegValue(HKEY root, const std::wstring& key, const wchar_t* name,
                               std::optional<std::wstring> text, REGSAM view)
    : ScopedRegValue(root, key, name, text ? std::optional<RegData>(RegSz(*text)) : std::nullopt, view) {}

ScopedRegValue::ScopedRegValue(HKEY root, const std::wstring& key, const wchar_t* name,
                               std::optional<RegData> data, REGSAM view)
    : m_root(root),
      m_key(key),
      m_name(name ? name : L""),
      m_view(view),
      m_created(MissingLevels(root, key, view)) {
  hkb::UniqueKey k;
  if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr, k.put(),
                        nullptr) != ERROR_SUCCESS)
    return;
  DWORD size = 0;
  if (::RegQueryValueExW(k.get(), m_name.c_str(), nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
    m_old.resize(size);
    m_had =
        ::RegQueryValueExW(k.get(), m_name.c_str(), nullptr, &m_type, m_old.data(), &size) == ERROR_SUCCESS;
  }
  LSTATUS st = ERROR_SUCCESS;
  if (data) {
    st = ::RegSetValueExW(k.get(), m_name.c_str(), 0, data->type, data->bytes.data(),
                          static_cast<DWORD>(data->bytes.size()));
  } else if (m_had) {
    st = ::RegDeleteValueW(k.get(), m_name.c_str());
  }
  m_ok = st == ERROR_SUCCESS;
}

ScopedRegValue::~ScopedRegValue() {
  hkb::UniqueKey k;
  if (::RegOpenKeyExW(m_root, m_key.c_str(), 0, KEY_WRITE | m_view, k.put()) == ERROR_SUCCESS) {
    if (m_had)
      ::RegSetValueExW(k.get(), m_name.c_str(), 0, m_type, m_old.data(), static_cast<DWORD>(m_old.size()));
    else
      ::RegDeleteValueW(k.get(), m_name.c_str());
  }
  k.reset();
  // Keys made for the scope go again, deepest first, when nothing else is in them.
  for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
    hkb::UniqueKey level;
    if (::RegOpenKeyExW(m_root, it->c_str(), 0, KEY_READ | m_view, level.put()) != ERROR_SUCCESS) continue;
    DWORD subkeys = 0, values = 0;
    ::RegQueryInfoKeyW(level.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
    level.reset();
    if (subkeys == 0 && values == 0) ::RegDeleteKeyExW(m_root, it->c_str(), m_view, 0);
  }
}

namespace {

void DumpInto(HKEY key, const std::string& path, REGSAM view, std::vector<std::string>& out) {
  out.push_back(path + "|");
  wchar_t name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD name_len = static_cast<DWORD>(std::size(name));
    DWORD type = 0, size = 0;
    if (::RegEnumValueW(key, i, name, &name_len, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    name_len = static_cast<DWORD>(std::size(name));
    if (::RegEnumValueW(key, i, name, &name_len, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    std::string text;
    if (type == REG_SZ)
      text = "s:" + Utf8(std::wstring(reinterpret_cast<const wchar_t*>(data.data())));
    else if (type == REG_DWORD && size == sizeof(DWORD))
      text = "d:" + std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
    else
      text = "t" + std::to_string(type) + ":" + std::to_string(size);
    out.push_back(path + "|" + Utf8(std::wstring(name, name_len)) + "|" + text);
  }
  for (DWORD i = 0;; ++i) {
    DWORD name_len = static_cast<DWORD>(std::size(name));
    if (::RegEnumKeyExW(key, i, name, &name_len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::wstring sub(name, name_len);
    hkb::UniqueKey child;
    if (::RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ | view, child.put()) == ERROR_SUCCESS)
      DumpInto(child.get(), path + "\\" + Utf8(sub), view, out);
  }
}

}  // namespace

std::vector<std::string> DumpKeyTree(HKEY root, const std::wstring& path, REGSAM view) {
  std::vector<std::string> out;
  hkb::UniqueKey key;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS)
    DumpInto(key.get(), Utf8(path), view, out);
  return out;
}

std::wstring ScopedInprocServer::KeyOf(const wchar_t* clsid) {
  return std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
}

ScopedInprocServer::ScopedInprocServer(const wchar_t* clsid, const std::wstring& dll)
    : m_server(HKEY_LOCAL_MACHINE, KeyOf(clsid), nullptr, std::optional<std::wstring>(dll)),
      m_model(HKEY_LOCAL_MACHINE, KeyOf(clsid), L"ThreadingModel", std::optional<std::wstring>(L"Both")) {}

std::optional<RegData> ReadRegValue(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view) {
  hkb::UniqueKey k;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, k.put()) != ERROR_SUCCESS)
    return std::nullopt;
  RegData data;
  DWORD size = 0;
  if (::RegQueryValueExW(k.get(), name, nullptr, &data.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  data.bytes.resize(size);
  if (::RegQueryValueExW(k.get(), name, nullptr, &data.type, data.bytes.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  data.bytes.resize(size);
  return data;
}

}  // namespace hkbtest
