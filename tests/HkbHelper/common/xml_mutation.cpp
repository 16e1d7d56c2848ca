#include <windows.h>

#include "xml_mutation.h"

#include <algorithm>

namespace hkbhtest {

namespace {

struct Rng {
  uint64_t s;
  uint64_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
};

// A random tag start ('<'), or a random offset when there is none.
size_t TagStart(const std::string& t, Rng& r) {
  size_t at = t.find('<', r.Below(t.size() + 1));
  if (at == std::string::npos) at = t.find('<');
  return at == std::string::npos ? r.Below(t.size() + 1) : at;
}

const char* const kMarkup[] = {"<Package>",
                               "</Package>",
                               "<MetroApps>",
                               "</MetroApps>",
                               "<DesktopApps>",
                               "</DesktopApps>",
                               "</Applications>",
                               "<Applications>",
                               "<MetroApp DisplayName=\"x\">",
                               "<DesktopApp DisplayName=\"y\" LnkFileName=\"z\">",
                               "<Application>",
                               "</Application>",
                               "<VisualElements DisplayName=\"v\">",
                               "<DefaultTile ShortName=\"s\"/>",
                               "<!--",
                               "-->",
                               "<![CDATA[",
                               "]]>",
                               "<?pi x?>",
                               "&undefined;",
                               "&#0;",
                               "&#xD800;",
                               "&#x110000;",
                               "<!DOCTYPE a [<!ENTITY e \"e\">]>",
                               "<a:b xmlns:a=\"u\">",
                               "<x y=\"1\" y=\"2\"/>",
                               "\"",
                               "'",
                               "=",
                               ">"};
const std::string kBadBytes[] = {
    "\xC3\x28", "\xE2\x82", "\xF0\x90\x28\xBC",     "\xED\xA0\x80",      "\xC0\xAF", "\xFE",
    "\xFF",     "\x80",     "\xF8\x88\x80\x80\x80", std::string(1, '\0')};

}  // namespace

Mutant Mutate(const std::string& seed, size_t closed, uint32_t run_seed, uint64_t index) {
  Rng r{(uint64_t{run_seed} << 40) ^ (index * 0x2545F4914F6CDD1Dull) ^ 0x5EED};
  Mutant m{seed, seed.size(), false, {}};
  std::string& t = m.text;
  const size_t steps = 1 + r.Below(3);
  for (size_t step = 0; step < steps; ++step) {
    size_t p = r.Below(t.size() + 1);
    const size_t kind = r.Below(9);
    switch (kind) {
      case 0:
        if (t.empty()) continue;
        if (p == t.size()) --p;
        t[p] = static_cast<char>(t[p] ^ (1 << r.Below(8)));
        m.what += "flip;";
        break;
      case 1: {
        const char pool[] = {'<', '>', '"', '&', '/', '=', '\0', '\xFF', '\xC3', static_cast<char>(r.Next())};
        const size_t n = 1 + r.Below(4);
        for (size_t i = 0; i < n; ++i)
          t.insert(t.begin() + static_cast<ptrdiff_t>(p), pool[r.Below(sizeof pool)]);
        m.what += "insert;";
        break;
      }
      case 2:
        t.erase(p, 1 + r.Below(64));
        m.what += "delete;";
        break;
      case 3:
        t.resize(p);
        m.cut = steps == 1 && p < closed;
        m.what += "truncate;";
        break;
      case 4: {  // a tag, or the span between two tags, again somewhere else
        const size_t from = TagStart(t, r);
        size_t to = t.find('>', from);
        if (r.Below(2) == 0 && to != std::string::npos) to = t.find('>', to + 1);
        to = to == std::string::npos ? t.size() : to + 1;
        const std::string copy = t.substr(from, to - from);
        p = TagStart(t, r);
        t.insert(p, copy);
        m.what += "duplicate;";
        break;
      }
      case 5:
        p = r.Below(2) ? TagStart(t, r) : p;
        t.insert(p, kMarkup[r.Below(std::size(kMarkup))]);
        m.what += "markup;";
        break;
      case 6: {  // one attribute value replaced by 64 KiB, now and then 1 MiB
        const size_t q = t.find("=\"", p);
        if (q == std::string::npos) continue;
        p = q + 2;
        const size_t end = std::min(t.find('"', p), t.size());
        const size_t n = r.Below(16) == 0 ? (1u << 20) : (1u << 16);
        t.replace(
            p, end - p, r.Below(2) ? std::string(n, static_cast<char>('a' + r.Below(26))) : [n] {
              std::string s;
              while (s.size() < n) s += "&amp;&#x3042;";
              return s;
            }());
        m.what += "huge value;";
        break;
      }
      case 7: {
        p = TagStart(t, r);
        const size_t depth = 1000 + r.Below(20000);
        std::string deep;
        for (size_t i = 0; i < depth; ++i) deep += "<a>";
        t.insert(p, deep);
        m.what += "deep;";
        break;
      }
      default: {
        const size_t which = r.Below(4);
        if (which == 0) {
          t.insert(p, kBadBytes[r.Below(std::size(kBadBytes))]);
        } else if (which == 1) {
          const char* const names[] = {"UTF-16", "ISO-8859-1", "bogus", "UTF-32", "shift_jis", ""};
          const size_t q = t.find("encoding=\"");
          if (q == std::string::npos) continue;
          p = q + 10;
          t.replace(p, t.find('"', p) - p, names[r.Below(std::size(names))]);
        } else if (which == 2) {
          p = 0;
          t.insert(0, r.Below(2) ? "\xFF\xFE" : "\xFE\xFF");
        } else {  // every byte widened to two: a UTF-16 file with a UTF-8 declaration
          p = 0;
          std::string wide;
          for (char c : t) wide += {c, '\0'};
          t = wide;
        }
        m.what += "encoding;";
        break;
      }
    }
    m.at = std::min(m.at, p);
  }
  return m;
}

bool UnderWine() {
  static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

bool WineNeverFinishes(const std::string& text) {
  return UnderWine() && text.size() > 1 && text[0] == '<' && text[1] == '\0';
}

}  // namespace hkbhtest
