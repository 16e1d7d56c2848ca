#include "atl_string.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace atl {

namespace {

int32_t AddRef(CStringData* data) noexcept { return std::atomic_ref<int32_t>(data->nRefs).fetch_add(1) + 1; }

void Release(CStringData* data) noexcept {
  if (std::atomic_ref<int32_t>(data->nRefs).fetch_sub(1) - 1 <= 0)
    data->pStringMgr->vtbl->Free(data->pStringMgr, data);
}

// Bytes of a block for `length` characters plus the terminator; 0 when the
// request is invalid or does not fit a size_t.
size_t BlockBytes(int length, int char_size) noexcept {
  if (length < 0 || char_size <= 0) return 0;
  const uint64_t bytes =
      sizeof(CStringData) + (static_cast<uint64_t>(length) + 1) * static_cast<uint64_t>(char_size);
  if (bytes > std::numeric_limits<size_t>::max()) return 0;
  return static_cast<size_t>(bytes);
}

// The shared empty string: its count starts at 2 and every user holds one
// more reference, so it is never freed.
struct NilString {
  CStringData header;
  XCHAR nil[2];
};

struct HeapStringMgr {
  IAtlStringMgr base;
  NilString nil;
};

CStringData* HKB_ATL_THISCALL Allocate(IAtlStringMgr* self, int length, int char_size) {
  const size_t bytes = BlockBytes(length, char_size);
  if (bytes == 0) return nullptr;
  auto* data = static_cast<CStringData*>(std::malloc(bytes));
  if (!data) return nullptr;
  data->pStringMgr = self;
  data->nRefs = 1;
  data->nAllocLength = length;
  data->nDataLength = 0;
  return data;
}

void HKB_ATL_THISCALL Free(IAtlStringMgr*, CStringData* data) { std::free(data); }

CStringData* HKB_ATL_THISCALL Reallocate(IAtlStringMgr*, CStringData* data, int length, int char_size) {
  const size_t bytes = BlockBytes(length, char_size);
  if (bytes == 0) return nullptr;
  auto* grown = static_cast<CStringData*>(std::realloc(data, bytes));
  if (!grown) return nullptr;
  grown->nAllocLength = length;
  return grown;
}

CStringData* HKB_ATL_THISCALL GetNilString(IAtlStringMgr* self) {
  CStringData* nil = &reinterpret_cast<HeapStringMgr*>(self)->nil.header;
  AddRef(nil);
  return nil;
}

IAtlStringMgr* HKB_ATL_THISCALL Clone(IAtlStringMgr* self) { return self; }

const IAtlStringMgrVtbl kHeapVtbl = {&Allocate, &Free, &Reallocate, &GetNilString, &Clone};

HeapStringMgr s_HeapStringMgr = {{&kHeapVtbl}, {{&s_HeapStringMgr.base, 0, 0, 2}, {0, 0}}};

}  // namespace

IAtlStringMgr* DefaultStringMgr() noexcept { return &s_HeapStringMgr.base; }

CStringW::CStringW(IAtlStringMgr* mgr) noexcept : m_pszData(mgr->vtbl->GetNilString(mgr)->data()) {}

CStringW::~CStringW() { Release(GetData()); }

XCHAR* CStringW::PrepareWrite(int length, int keep) noexcept {
  CStringData* old = GetData();
  if (old->nRefs > 1) {
    // Shared (the empty string included): a block of its own from the manager.
    IAtlStringMgr* mgr = old->pStringMgr->vtbl->Clone(old->pStringMgr);
    CStringData* fresh = mgr->vtbl->Allocate(mgr, length, sizeof(XCHAR));
    if (!fresh) return nullptr;
    if (keep > 0) std::memcpy(fresh->data(), old->data(), static_cast<size_t>(keep) * sizeof(XCHAR));
    fresh->nDataLength = keep;
    Release(old);
    m_pszData = fresh->data();
  } else if (old->nAllocLength < length) {
    // Grows by half again, so repeated appends stay linear.
    int64_t want = old->nAllocLength + old->nAllocLength / 2;
    if (want < length) want = length;
    if (want > std::numeric_limits<int32_t>::max() - 1) want = length;
    CStringData* grown =
        old->pStringMgr->vtbl->Reallocate(old->pStringMgr, old, static_cast<int>(want), sizeof(XCHAR));
    if (!grown) return nullptr;
    m_pszData = grown->data();
  }
  return m_pszData;
}

bool CStringW::SetString(std::u16string_view text) noexcept {
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1)) return false;
  const int length = static_cast<int>(text.size());
  XCHAR* out = PrepareWrite(length, 0);
  if (!out) return false;
  if (length > 0) std::memcpy(out, text.data(), text.size() * sizeof(XCHAR));
  out[length] = 0;
  GetData()->nDataLength = length;
  return true;
}

bool CStringW::Append(std::u16string_view text) noexcept {
  const int old_length = GetLength();
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1 - old_length)) return false;
  const int length = old_length + static_cast<int>(text.size());
  XCHAR* out = PrepareWrite(length, old_length);
  if (!out) return false;
  if (!text.empty()) std::memcpy(out + old_length, text.data(), text.size() * sizeof(XCHAR));
  out[length] = 0;
  GetData()->nDataLength = length;
  return true;
}

void CStringW::Empty() noexcept {
  CStringData* old = GetData();
  if (old->nDataLength == 0) return;
  IAtlStringMgr* mgr = old->pStringMgr;
  Release(old);
  m_pszData = mgr->vtbl->GetNilString(mgr)->data();
}

}  // namespace atl
