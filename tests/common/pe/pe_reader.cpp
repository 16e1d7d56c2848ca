#include "pe_reader.h"

#include <cstring>

namespace pe {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view d) : m_d(d) {}
  bool has(uint64_t off, uint64_t len) const { return off <= m_d.size() && len <= m_d.size() - off; }
  bool u16(uint64_t off, uint16_t& v) const {
    if (!has(off, 2)) return false;
    v = static_cast<uint16_t>(byte(off) | byte(off + 1) << 8);
    return true;
  }
  bool u32(uint64_t off, uint32_t& v) const {
    if (!has(off, 4)) return false;
    v = byte(off) | byte(off + 1) << 8 | byte(off + 2) << 16 | static_cast<uint32_t>(byte(off + 3)) << 24;
    return true;
  }
  // Zero-terminated string of at most `max` bytes.
  bool cstr(uint64_t off, std::string& s, size_t max = 512) const {
    s.clear();
    for (size_t i = 0; i < max; ++i) {
      if (!has(off + i, 1)) return false;
      char c = m_d[off + i];
      if (c == '\0') return true;
      s.push_back(c);
    }
    return false;
  }

 private:
  uint32_t byte(uint64_t off) const { return static_cast<unsigned char>(m_d[off]); }
  std::string_view m_d;
};

bool RvaToOffset(const Image& img, uint32_t rva, uint64_t& off) {
  for (const Section& s : img.sections) {
    const uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span && rva - s.virtualAddress < s.rawSize) {
      off = static_cast<uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

std::string ReadExports(const Reader& r, Image& img, uint32_t rva) {
  uint64_t dir;
  if (!RvaToOffset(img, rva, dir)) return "export directory outside the sections";
  uint32_t base, nfuncs, nnames, namesRva, ordsRva;
  if (!r.u32(dir + 16, base) || !r.u32(dir + 20, nfuncs) || !r.u32(dir + 24, nnames) ||
      !r.u32(dir + 32, namesRva) || !r.u32(dir + 36, ordsRva))
    return "export directory truncated";
  if (nnames > 65536) return "implausible export count";
  uint64_t names = 0, ords = 0;
  if (nnames && (!RvaToOffset(img, namesRva, names) || !RvaToOffset(img, ordsRva, ords)))
    return "export name table outside the sections";
  for (uint32_t i = 0; i < nnames; ++i) {
    uint32_t nameRva;
    uint16_t index;
    uint64_t nameOff;
    Export e;
    if (!r.u32(names + 4ull * i, nameRva) || !r.u16(ords + 2ull * i, index)) return "export tables truncated";
    if (index >= nfuncs) return "export ordinal out of range";
    if (!RvaToOffset(img, nameRva, nameOff) || !r.cstr(nameOff, e.name)) return "bad export name";
    e.ordinal = base + index;
    img.exports.push_back(std::move(e));
  }
  return {};
}

std::string ReadImports(const Reader& r, Image& img, uint32_t rva) {
  uint64_t desc;
  if (!RvaToOffset(img, rva, desc)) return "import directory outside the sections";
  for (int i = 0; i < 4096; ++i, desc += 20) {
    uint32_t lookup, nameRva, thunk;
    if (!r.u32(desc, lookup) || !r.u32(desc + 12, nameRva) || !r.u32(desc + 16, thunk))
      return "import directory truncated";
    if (lookup == 0 && nameRva == 0 && thunk == 0) return {};
    uint64_t nameOff;
    std::string name;
    if (!RvaToOffset(img, nameRva, nameOff) || !r.cstr(nameOff, name)) return "bad import name";
    img.imports.push_back(std::move(name));
  }
  return "import directory not terminated";
}

std::string ReadResourceTypes(const Reader& r, Image& img, uint32_t rva) {
  uint64_t dir;
  if (!RvaToOffset(img, rva, dir)) return "resource directory outside the sections";
  uint16_t named, ids;
  if (!r.u16(dir + 12, named) || !r.u16(dir + 14, ids)) return "resource directory truncated";
  const uint64_t first = dir + 16 + 8ull * named;
  for (uint32_t i = 0; i < ids; ++i) {
    uint32_t id;
    if (!r.u32(first + 8ull * i, id)) return "resource directory truncated";
    img.resourceTypes.push_back(id);
  }
  return {};
}

// Section names longer than eight bytes (GNU ld's ".debug_info" and the like)
// are stored as "/N": N is an offset into the COFF string table, which follows
// the symbol table. Left as stored when it cannot be read.
void ResolveLongName(const Reader& r, uint64_t coff, std::string& name) {
  if (name.size() < 2 || name[0] != '/' || name.find_first_not_of("0123456789", 1) != std::string::npos)
    return;
  uint32_t symbols = 0, count = 0;
  if (!r.u32(coff + 8, symbols) || !r.u32(coff + 12, count) || symbols == 0) return;
  const uint64_t at = symbols + 18ull * count + std::stoul(name.substr(1));
  if (std::string full; r.cstr(at, full, 256) && !full.empty()) name = std::move(full);
}

}  // namespace

std::string Parse(std::string_view data, Image& img) {
  img = Image{};
  Reader r(data);
  uint16_t mz;
  uint32_t lfanew, sig;
  if (!r.u16(0, mz) || mz != 0x5A4D) return "no MZ header";
  if (!r.u32(0x3C, lfanew) || !r.u32(lfanew, sig) || sig != 0x00004550) return "no PE signature";
  const uint64_t coff = static_cast<uint64_t>(lfanew) + 4;
  uint16_t nsections, optSize;
  if (!r.u16(coff, img.machine) || !r.u16(coff + 2, nsections) || !r.u16(coff + 16, optSize) ||
      !r.u16(coff + 18, img.characteristics))
    return "COFF header truncated";
  const uint64_t opt = coff + 20;
  uint16_t magic;
  if (!r.u16(opt, magic)) return "optional header truncated";
  if (magic != 0x10B && magic != 0x20B) return "unknown optional header magic";
  img.pe32plus = magic == 0x20B;
  const uint64_t countOff = opt + (img.pe32plus ? 108 : 92);
  uint32_t ndirs;
  if (!r.u32(countOff, ndirs)) return "optional header truncated";
  if (countOff + 4 + 8ull * ndirs > opt + optSize) return "data directories overrun the optional header";

  const uint64_t sec = opt + optSize;
  for (uint16_t i = 0; i < nsections; ++i) {
    const uint64_t s = sec + 40ull * i;
    if (!r.has(s, 40)) return "section table truncated";
    Section x;
    x.name.assign(data.substr(s, 8));
    x.name.resize(std::strlen(x.name.c_str()));
    ResolveLongName(r, coff, x.name);
    r.u32(s + 8, x.virtualSize);
    r.u32(s + 12, x.virtualAddress);
    r.u32(s + 16, x.rawSize);
    r.u32(s + 20, x.rawOffset);
    r.u32(s + 36, x.characteristics);
    img.sections.push_back(std::move(x));
  }

  uint32_t rva = 0, size = 0;
  const uint64_t dirs = countOff + 4;
  if (ndirs > 0 && r.u32(dirs, rva) && r.u32(dirs + 4, size) && rva && size) {
    if (std::string e = ReadExports(r, img, rva); !e.empty()) return e;
  }
  if (ndirs > 1 && r.u32(dirs + 8, rva) && r.u32(dirs + 12, size) && rva && size) {
    if (std::string e = ReadImports(r, img, rva); !e.empty()) return e;
  }
  if (ndirs > 2 && r.u32(dirs + 16, rva) && r.u32(dirs + 20, size) && rva && size) {
    if (std::string e = ReadResourceTypes(r, img, rva); !e.empty()) return e;
  }
  return {};
}

}  // namespace pe
