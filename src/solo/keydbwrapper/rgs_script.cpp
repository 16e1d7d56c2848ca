#include "rgs_script.h"

#include <cctype>

namespace rgs {

namespace {

constexpr int kMaxDepth = 32;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Token {
  std::string text;
  bool quoted = false;
  bool is(std::string_view word) const { return !quoted && EqualsIgnoringCase(text, word); }
};

class Parser {
 public:
  explicit Parser(std::string_view s) : m_s(s) {}

  std::optional<std::vector<Root>> Script() {
    std::vector<Root> roots;
    for (;;) {
      Token t;
      if (!Next(t)) return m_failed ? std::nullopt : std::optional(std::move(roots));
      Root root;
      if (t.quoted || !RootName(t.text, root.name)) return std::nullopt;
      if (!Expect("{") || !Entries(root.keys, nullptr, 1)) return std::nullopt;
      roots.push_back(std::move(root));
    }
  }

 private:
  static bool RootName(const std::string& word, std::string& out) {
    static const std::pair<const char*, const char*> kRoots[] = {
        {"HKCR", "HKCR"}, {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKCU", "HKCU"}, {"HKEY_CURRENT_USER", "HKCU"},
        {"HKLM", "HKLM"}, {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKU", "HKU"},   {"HKEY_USERS", "HKU"}};
    for (const auto& [name, canonical] : kRoots) {
      if (EqualsIgnoringCase(word, name)) {
        out = canonical;
        return true;
      }
    }
    return false;
  }

  // Entries up to the closing brace; `values` is null at a root, which holds
  // keys only.
  bool Entries(std::vector<Key>& keys, std::vector<Value>* values, int depth) {
    if (depth > kMaxDepth) return false;
    for (;;) {
      Token t;
      if (!Next(t)) return false;
      if (t.is("}")) return true;
      if (t.is("val")) {
        Value v;
        Token name;
        if (!values || !Next(name) || !Expect("=") || !Data(v)) return false;
        v.name = name.text;
        values->push_back(std::move(v));
        continue;
      }
      Key key;
      if (t.is("NoRemove") || t.is("ForceRemove")) {
        key.removal = t.is("NoRemove") ? Removal::kNoRemove : Removal::kForceRemove;
        if (!Next(t)) return false;
      }
      if (t.is("{") || t.is("}") || t.is("=")) return false;
      key.name = t.text;
      if (key.name.empty()) return false;
      // After the name: "= data", then optionally a body.
      Token after;
      const size_t mark = m_at;
      const bool more = Next(after);
      if (more && after.is("=")) {
        Value v;
        if (!Data(v)) return false;
        key.values.push_back(std::move(v));
      } else {
        m_at = mark;
      }
      const size_t body = m_at;
      Token open;
      if (Next(open) && open.is("{")) {
        if (!Entries(key.subkeys, &key.values, depth + 1)) return false;
      } else {
        m_at = body;
      }
      if (m_failed) return false;
      keys.push_back(std::move(key));
    }
  }

  bool Data(Value& v) {
    Token type, data;
    if (!Next(type) || !Next(data)) return false;
    if (type.is("s")) {
      v.text = data.text;
      return true;
    }
    if (!type.is("d") || data.text.empty()) return false;
    uint64_t n = 0;
    size_t i = 0;
    int base = 10;
    if (data.text.size() > 2 && data.text[0] == '0' && (data.text[1] == 'x' || data.text[1] == 'X')) {
      base = 16;
      i = 2;
    }
    for (; i < data.text.size(); ++i) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(data.text[i])));
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else
        return false;
      n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
      if (n > 0xFFFFFFFFull) return false;
    }
    v.is_dword = true;
    v.dword = static_cast<uint32_t>(n);
    return true;
  }

  bool Expect(std::string_view word) {
    Token t;
    return Next(t) && t.is(word);
  }

  // The next word; false at the end of the script or on an unclosed quote
  // (which also marks the parse as failed).
  bool Next(Token& t) {
    while (m_at < m_s.size() && IsSpace(m_s[m_at])) ++m_at;
    if (m_at >= m_s.size()) return false;
    t = Token{};
    if (m_s[m_at] == '\'') {
      t.quoted = true;
      for (++m_at;; ++m_at) {
        if (m_at >= m_s.size()) {
          m_failed = true;
          return false;
        }
        if (m_s[m_at] == '\'') {
          if (m_at + 1 < m_s.size() && m_s[m_at + 1] == '\'') {
            t.text += '\'';
            ++m_at;
            continue;
          }
          ++m_at;
          return true;
        }
        t.text += m_s[m_at];
      }
    }
    while (m_at < m_s.size() && !IsSpace(m_s[m_at])) t.text += m_s[m_at++];
    return true;
  }

  std::string_view m_s;
  size_t m_at = 0;
  bool m_failed = false;
};

void FlattenKeys(const std::string& parent, const std::vector<Key>& keys, std::vector<std::string>& out) {
  for (const Key& k : keys) {
    const std::string path = parent + "\\" + k.name;
    out.push_back(path + "|");
    for (const Value& v : k.values)
      out.push_back(path + "|" + v.name + "|" +
                    (v.is_dword ? "d:" + std::to_string(v.dword) : "s:" + v.text));
    FlattenKeys(path, k.subkeys, out);
  }
}

}  // namespace

std::optional<std::string> Expand(std::string_view script, const Replacements& replacements) {
  std::string out;
  for (size_t at = 0; at < script.size();) {
    const size_t open = script.find('%', at);
    if (open == std::string_view::npos) {
      out.append(script.substr(at));
      break;
    }
    out.append(script.substr(at, open - at));
    const size_t close = script.find('%', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view name = script.substr(open + 1, close - open - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const std::string* text = nullptr;
      for (const auto& [n, t] : replacements)
        if (EqualsIgnoringCase(n, name)) text = &t;
      if (!text) return std::nullopt;
      for (char c : *text) {
        out += c;
        if (c == '\'') out += '\'';
      }
    }
    at = close + 1;
  }
  return out;
}

std::optional<std::vector<Root>> Parse(std::string_view script) { return Parser(script).Script(); }

std::vector<std::string> Flatten(const std::vector<Root>& roots) {
  std::vector<std::string> out;
  for (const Root& r : roots) FlattenKeys(r.name, r.keys, out);
  return out;
}

}  // namespace rgs
