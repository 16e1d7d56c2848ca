// The string object KeyDb.dll fills: the header in front of the characters,
// the manager's table as a library built with ATL calls it, sharing of the
// empty string, growth and release.
#include <gtest/gtest.h>

#include <string>

#include "atl_string.h"

namespace {

using atl::CStringData;
using atl::CStringW;
using atl::IAtlStringMgr;

// A manager that counts what goes through its table and forwards to the
// default one, to see which calls the string makes.
struct CountingMgr {
  IAtlStringMgr base;
  struct {
    CStringData header;
    char16_t units[2];
  } nil = {{&base, 0, 0, 2}, {0, 0}};
  int allocs = 0, frees = 0, reallocs = 0, nils = 0, clones = 0;
};
CountingMgr* Self(IAtlStringMgr* m) { return reinterpret_cast<CountingMgr*>(m); }
IAtlStringMgr* Inner() { return atl::DefaultStringMgr(); }

CStringData* Allocate(IAtlStringMgr* m, int n, int cs) {
  Self(m)->allocs++;
  CStringData* d = Inner()->vtbl->Allocate(Inner(), n, cs);
  if (d) d->pStringMgr = m;
  return d;
}
void Free(IAtlStringMgr* m, CStringData* d) {
  Self(m)->frees++;
  Inner()->vtbl->Free(Inner(), d);
}
CStringData* Reallocate(IAtlStringMgr* m, CStringData* d, int n, int cs) {
  Self(m)->reallocs++;
  return Inner()->vtbl->Reallocate(Inner(), d, n, cs);
}
CStringData* GetNilString(IAtlStringMgr* m) {
  Self(m)->nils++;
  Self(m)->nil.header.nRefs++;
  return &Self(m)->nil.header;
}
IAtlStringMgr* Clone(IAtlStringMgr* m) {
  Self(m)->clones++;
  return m;
}
const atl::IAtlStringMgrVtbl kCountingVtbl = {&Allocate, &Free, &Reallocate, &GetNilString, &Clone};

TEST(AtlString, EmptyStringIsTheSharedNilWithAReferencePerUser) {
  CStringData* nil = nullptr;
  int32_t refs = 0;
  {
    CStringW a;
    nil = a.GetData();
    refs = nil->nRefs;
    EXPECT_EQ(a.GetLength(), 0);
    EXPECT_EQ(a.GetString()[0], u'\0');
    EXPECT_EQ(nil->pStringMgr, atl::DefaultStringMgr());
    EXPECT_EQ(reinterpret_cast<const void*>(a.GetString()), reinterpret_cast<const void*>(nil + 1));
    CStringW b;
    EXPECT_EQ(b.GetData(), nil);
    EXPECT_EQ(nil->nRefs, refs + 1);
  }
  EXPECT_EQ(nil->nRefs, refs - 1) << "each string gives its reference back";
  EXPECT_GE(nil->nRefs, 1) << "the shared empty string is never freed";
}

TEST(AtlString, WritesGoThroughTheManagerInTheHeader) {
  CountingMgr mgr{{&kCountingVtbl}};
  mgr.nil.header.pStringMgr = &mgr.base;
  {
    CStringW s(&mgr.base);
    EXPECT_EQ(mgr.nils, 1);
    ASSERT_TRUE(s.SetString(u"C:\\Apps\\x.exe"));
    EXPECT_EQ(mgr.clones, 1);
    EXPECT_EQ(mgr.allocs, 1) << "leaving the shared empty string allocates";
    EXPECT_EQ(s.GetData()->pStringMgr, &mgr.base);
    EXPECT_EQ(s.GetData()->nRefs, 1);
    EXPECT_EQ(std::u16string(s.view()), u"C:\\Apps\\x.exe");
    ASSERT_TRUE(s.SetString(u"short"));
    EXPECT_EQ(mgr.allocs + mgr.reallocs, 1) << "a shorter text reuses the block";
    // Growing in pieces reallocates, by at least half again each time.
    std::u16string expected = u"short";
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(s.Append(u"0123456789"));
      expected += u"0123456789";
    }
    EXPECT_EQ(std::u16string(s.view()), expected);
    EXPECT_EQ(s.GetString()[s.GetLength()], u'\0');
    EXPECT_GE(s.GetData()->nAllocLength, s.GetLength());
    EXPECT_LE(mgr.reallocs, 10);
    EXPECT_GE(mgr.reallocs, 2);
    s.Empty();
    EXPECT_EQ(mgr.frees, 1);
    EXPECT_EQ(s.GetLength(), 0);
  }
  EXPECT_EQ(mgr.frees, 1) << "the empty string is not freed";
}

TEST(AtlString, ManagerRefusesImpossibleBlocksAndTheStringStaysAsItWas) {
  IAtlStringMgr* m = atl::DefaultStringMgr();
  EXPECT_EQ(m->vtbl->Allocate(m, -1, 2), nullptr);
  EXPECT_EQ(m->vtbl->Allocate(m, 10, 0), nullptr);
  CStringData* ok = m->vtbl->Allocate(m, 3, 2);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->nAllocLength, 3);
  EXPECT_EQ(ok->nDataLength, 0);
  EXPECT_EQ(ok->nRefs, 1);
  EXPECT_EQ(m->vtbl->Reallocate(m, ok, -5, 2), nullptr);
  EXPECT_EQ(ok->nAllocLength, 3) << "a refused reallocation keeps the block";
  m->vtbl->Free(m, ok);
  EXPECT_EQ(m->vtbl->Clone(m), m);
}

}  // namespace
