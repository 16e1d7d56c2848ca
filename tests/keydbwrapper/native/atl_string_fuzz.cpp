// The string object handed to KeyDb.dll, driven as a library built with ATL
// drives it: the server's own operations mixed with the library's (a copy
// that shares the block, a write through GetBuffer/ReleaseBuffer done on the
// header and the manager found there, a release), under a manager that can
// refuse memory. After every step each string equals a plain model, its
// header is consistent and terminated, every copy the library holds is
// unchanged, and the bounded copy into a caller's buffer stays in bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "atl_string.h"
#include "hkbtest/fuzz_input.h"
#include "keydb_logic.h"

namespace {

using atl::CStringData;
using atl::CStringW;
using atl::IAtlStringMgr;
using hkbtest::FuzzCheck;

// A manager that refuses memory when told to and counts its live blocks.
struct TestMgr {
  IAtlStringMgr base;
  struct {
    CStringData header;
    char16_t units[2];
  } nil;
  bool refuse = false;
  long live = 0;
};
TestMgr* Self(IAtlStringMgr* m) { return reinterpret_cast<TestMgr*>(m); }
IAtlStringMgr* Heap() { return atl::DefaultStringMgr(); }

CStringData* Allocate(IAtlStringMgr* m, int n, int cs) {
  if (Self(m)->refuse) return nullptr;
  CStringData* d = Heap()->vtbl->Allocate(Heap(), n, cs);
  if (d) {
    d->pStringMgr = m;
    ++Self(m)->live;
  }
  return d;
}
void Free(IAtlStringMgr* m, CStringData* d) {
  FuzzCheck(d->pStringMgr == m && d != &Self(m)->nil.header);
  --Self(m)->live;
  Heap()->vtbl->Free(Heap(), d);
}
CStringData* Reallocate(IAtlStringMgr* m, CStringData* d, int n, int cs) {
  FuzzCheck(d->pStringMgr == m && d->nRefs == 1);
  return Self(m)->refuse ? nullptr : Heap()->vtbl->Reallocate(Heap(), d, n, cs);
}
CStringData* GetNilString(IAtlStringMgr* m) {
  ++Self(m)->nil.header.nRefs;
  return &Self(m)->nil.header;
}
IAtlStringMgr* Clone(IAtlStringMgr* m) { return m; }
const atl::IAtlStringMgrVtbl kVtbl = {&Allocate, &Free, &Reallocate, &GetNilString, &Clone};

// What the library does to the object it was handed (one pointer to the characters).
atl::XCHAR*& Chars(CStringW& s) { return *reinterpret_cast<atl::XCHAR**>(&s); }

void LibraryRelease(CStringData* d) {
  if (--d->nRefs <= 0) d->pStringMgr->vtbl->Free(d->pStringMgr, d);
}

// ATL's PrepareWrite, GetBuffer(n), write, ReleaseBufferSetLength(n):
// keeps the first `keep` characters and writes `text` after them.
bool LibraryWrite(CStringW& s, size_t keep, const std::u16string& text) {
  CStringData* d = s.GetData();
  keep = std::min<size_t>(keep, static_cast<size_t>(d->nDataLength));
  const int n = static_cast<int>(keep + text.size());
  if (d->nRefs > 1) {
    IAtlStringMgr* mgr = d->pStringMgr->vtbl->Clone(d->pStringMgr);
    CStringData* fresh = mgr->vtbl->Allocate(mgr, std::max(n, d->nDataLength), sizeof(atl::XCHAR));
    if (!fresh) return false;
    std::memcpy(fresh->data(), d->data(), (keep + 1) * sizeof(atl::XCHAR));
    LibraryRelease(d);
    d = fresh;
  } else if (d->nAllocLength < n) {
    CStringData* grown = d->pStringMgr->vtbl->Reallocate(d->pStringMgr, d, n, sizeof(atl::XCHAR));
    if (!grown) return false;
    d = grown;
  }
  std::copy(text.begin(), text.end(), d->data() + keep);
  d->data()[n] = 0;
  d->nDataLength = n;
  Chars(s) = d->data();
  return true;
}

struct Held {
  CStringData* data;
  std::u16string text;
};

void CheckBoundedCopy(const CStringW& s, size_t units) {
  std::unique_ptr<char16_t[]> out(new char16_t[units == 0 ? 1 : units]);
  const std::u16string_view text(s.GetString());  // up to the first terminator
  const size_t n = keydb::CopyTerminated(s.GetString(), out.get(), units);
  if (units == 0) return FuzzCheck(n == 0);
  FuzzCheck(n == std::min(text.size(), units - 1));
  FuzzCheck(out[n] == 0 && text.substr(0, n) == std::u16string_view(out.get(), n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hkbtest::FuzzInput in(data, size);
  TestMgr mgr{{&kVtbl}, {{nullptr, 0, 0, 2}, {0, 0}}};
  mgr.nil.header.pStringMgr = &mgr.base;
  {
    // Two strings of the server's heap manager, two of the test's manager.
    CStringW strings[4] = {CStringW(), CStringW(), CStringW(&mgr.base), CStringW(&mgr.base)};
    std::u16string model[4];
    std::vector<Held> held;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
      const uint8_t op = in.Byte();
      const size_t k = (op >> 4) & 3;
      CStringW& s = strings[k];
      mgr.refuse = (op & 0x80) != 0;
      const bool may_fail = k >= 2 && mgr.refuse;
      switch (op & 7) {
        case 0: {
          const std::u16string text = in.Text();
          const bool ok = s.SetString(text);
          FuzzCheck(ok || may_fail);
          if (ok) model[k] = text;
          break;
        }
        case 1: {
          const std::u16string text = in.Text();
          const bool ok = s.Append(text);
          FuzzCheck(ok || may_fail);
          if (ok) model[k] += text;
          break;
        }
        case 2:
          s.Empty();
          model[k].clear();
          break;
        case 3:  // the library keeps a copy: one more reference to the block
          ++s.GetData()->nRefs;
          held.push_back({s.GetData(), model[k]});
          break;
        case 4:
          if (!held.empty()) {
            const size_t i = in.Below(static_cast<uint32_t>(held.size()));
            LibraryRelease(held[i].data);
            held.erase(held.begin() + static_cast<ptrdiff_t>(i));
          }
          break;
        case 5:
        case 6: {
          const size_t keep = (op & 7) == 5 ? model[k].size() : in.Below(64);
          const std::u16string text = in.Text();
          const bool ok = LibraryWrite(s, keep, text);
          FuzzCheck(ok || may_fail);
          if (ok) model[k] = model[k].substr(0, std::min(keep, model[k].size())) + text;
          break;
        }
        default: CheckBoundedCopy(s, in.Below(2) ? keydb::kTextUnits : in.Below(300)); break;
      }
      mgr.refuse = false;
      for (size_t i = 0; i < 4; ++i) {
        const CStringData* d = strings[i].GetData();
        FuzzCheck(strings[i].view() == model[i]);
        FuzzCheck(d->nRefs >= 1 && d->nDataLength <= std::max(d->nAllocLength, 0));
        FuzzCheck(strings[i].GetString()[d->nDataLength] == 0);
        FuzzCheck(d->pStringMgr == (i >= 2 ? &mgr.base : Heap()));
      }
      for (const Held& h : held)
        FuzzCheck(h.data->nRefs >= 1 &&
                  std::u16string_view(h.data->data(), static_cast<size_t>(h.data->nDataLength)) == h.text &&
                  h.data->data()[h.data->nDataLength] == 0);
      CheckBoundedCopy(strings[k], keydb::kTextUnits);
    }
    for (const Held& h : held) LibraryRelease(h.data);
  }
  // Every block of the test's manager went back to it; its empty string
  // holds only its own two references again.
  FuzzCheck(mgr.live == 0 && mgr.nil.header.nRefs == 2);
  return 0;
}
