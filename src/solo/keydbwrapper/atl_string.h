// A wide string object laid out as the platform ATL's CStringW, for handing
// to a library built with ATL that fills it through a reference.
//
// The object is one pointer to the characters. In front of the characters
// sits the header CStringData {string manager, length in use, length
// allocated, reference count}, and the manager is an object whose virtual
// table is IAtlStringMgr's: Allocate, Free, Reallocate, GetNilString, Clone,
// called with the member-function convention of the platform (thiscall on
// 32-bit x86). A library that changes the string does so through the manager
// found in the header, so every block of a string made here is allocated and
// freed by the manager here, whatever runtime the library uses.
//
// Plain C++ (no Windows header), so the layout and the string operations are
// tested natively as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(_WIN32) && defined(__i386__)
#define HKB_ATL_THISCALL __attribute__((thiscall))
#else
#define HKB_ATL_THISCALL
#endif

namespace atl {

using XCHAR = char16_t;

struct IAtlStringMgr;

struct CStringData {
  IAtlStringMgr* pStringMgr;
  int32_t nDataLength;   // characters in use, the terminator not counted
  int32_t nAllocLength;  // characters that fit, the terminator not counted
  int32_t nRefs;         // references; the shared empty string never drops below 1
  XCHAR* data() noexcept { return reinterpret_cast<XCHAR*>(this + 1); }
};

struct IAtlStringMgrVtbl {
  CStringData*(HKB_ATL_THISCALL* Allocate)(IAtlStringMgr* self, int nAllocLength, int nCharSize);
  void(HKB_ATL_THISCALL* Free)(IAtlStringMgr* self, CStringData* pData);
  CStringData*(HKB_ATL_THISCALL* Reallocate)(IAtlStringMgr* self, CStringData* pData, int nAllocLength,
                                             int nCharSize);
  CStringData*(HKB_ATL_THISCALL* GetNilString)(IAtlStringMgr* self);
  IAtlStringMgr*(HKB_ATL_THISCALL* Clone)(IAtlStringMgr* self);
};

struct IAtlStringMgr {
  const IAtlStringMgrVtbl* vtbl;
};

// The process's manager: heap blocks and one shared empty string.
IAtlStringMgr* DefaultStringMgr() noexcept;

// An empty string at construction, released at destruction. The changing
// operations go through the manager of the string's current header, as the
// ATL class does; they return false (and leave the string as it was) when no
// memory can be had. A text passed in must not point into the string itself.
class CStringW {
 public:
  explicit CStringW(IAtlStringMgr* mgr = DefaultStringMgr()) noexcept;
  ~CStringW();
  CStringW(const CStringW&) = delete;
  CStringW& operator=(const CStringW&) = delete;

  int GetLength() const noexcept { return GetData()->nDataLength; }
  const XCHAR* GetString() const noexcept { return m_pszData; }
  std::u16string_view view() const noexcept {
    return {m_pszData, static_cast<size_t>(GetData()->nDataLength)};
  }
  CStringData* GetData() const noexcept { return reinterpret_cast<CStringData*>(m_pszData) - 1; }

  bool SetString(std::u16string_view text) noexcept;
  bool Append(std::u16string_view text) noexcept;
  void Empty() noexcept;

 private:
  // Makes the string unshared with room for `length` characters, keeping
  // the first `keep` characters; nullptr when no memory.
  XCHAR* PrepareWrite(int length, int keep) noexcept;

  XCHAR* m_pszData;
};

static_assert(sizeof(CStringW) == sizeof(void*), "the object is exactly one pointer");
static_assert(sizeof(CStringData) == (sizeof(void*) == 4 ? 16 : 24), "header as ATL lays it out");
static_assert(offsetof(CStringData, nDataLength) == sizeof(void*));
static_assert(offsetof(CStringData, nAllocLength) == sizeof(void*) + 4);
static_assert(offsetof(CStringData, nRefs) == sizeof(void*) + 8);

}  // namespace atl
