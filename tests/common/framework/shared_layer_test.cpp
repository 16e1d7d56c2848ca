// The shared helpers every deliverable reads its module path, its registry
// settings and its export boundary through: a path that does not fit is no
// path, a value is reported as stored, and no exception leaves a guard.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "hkb/guard.h"
#include "hkb/module.h"
#include "hkb/registry.h"
#include "hkb/sync.h"
#include "hkbtest/registry.h"

namespace {

const wchar_t kKey[] = L"Software\\ZEV\\HkbSharedLayerTest";

std::wstring WholeModulePath() {
  static wchar_t path[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, 32768);
  return std::wstring(path, n);
}

template <std::size_t N>
void ExpectPathInBuffer(const std::wstring& whole) {
  wchar_t out[N];
  std::fill(std::begin(out), std::end(out), L'#');
  const DWORD n = hkb::ModuleFileName(nullptr, out);
  if (whole.size() < N) {
    EXPECT_EQ(n, whole.size()) << N;
    EXPECT_EQ(std::wstring(out), whole) << N;
  } else {
    EXPECT_EQ(n, 0u) << "a path of " << whole.size() << " units in " << N;
    EXPECT_EQ(out[0], L'\0') << "no cut path is handed out, buffer " << N;
  }
}

TEST(SharedLayer, ModulePathIsWholeOrNothing) {
  const std::wstring whole = WholeModulePath();
  ASSERT_GT(whole.size(), 8u);
  ExpectPathInBuffer<4>(whole);
  ExpectPathInBuffer<8>(whole);
  ExpectPathInBuffer<32>(whole);
  ExpectPathInBuffer<MAX_PATH>(whole);
  ExpectPathInBuffer<32768>(whole);

  wchar_t folder[MAX_PATH];
  const DWORD length = hkb::ModuleFileName(nullptr, folder);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::wstring(folder, hkb::CutToFolder(folder, length)), whole.substr(0, whole.rfind(L'\\')));
  wchar_t bare[] = L"name.exe";
  EXPECT_EQ(hkb::CutToFolder(bare, 8), 0u);
  EXPECT_EQ(bare[0], L'\0');
}

TEST(SharedLayer, DwordValuesAreReportedAsStored) {
  const BYTE two[] = {0x34, 0x12};
  struct Case {
    const char* what;
    std::optional<hkbtest::RegData> data;
    LSTATUS status;
    DWORD type;
    DWORD value;
    bool isDword;
  } cases[] = {
      {"a REG_DWORD", hkbtest::RegDword(0xA1B2C3D4), ERROR_SUCCESS, REG_DWORD, 0xA1B2C3D4, true},
      {"no value", std::nullopt, ERROR_FILE_NOT_FOUND, REG_NONE, 0, false},
      {"two bytes of binary", hkbtest::RegBinary(two, sizeof two), ERROR_SUCCESS, REG_BINARY, 0x1234, false},
      {"a longer text", hkbtest::RegSz(L"long text"), ERROR_MORE_DATA, REG_SZ, 0, false},
  };
  for (const Case& c : cases) {
    hkbtest::ScopedRegValue value(HKEY_CURRENT_USER, kKey, L"Value", c.data);
    ASSERT_TRUE(value.ok()) << c.what;
    const hkb::RegDword read = hkb::ReadRegDword(HKEY_CURRENT_USER, kKey, L"Value");
    EXPECT_EQ(read.status, c.status) << c.what;
    if (c.status != ERROR_FILE_NOT_FOUND) {
      EXPECT_EQ(read.type, c.type) << c.what;
    }
    EXPECT_EQ(read.value, c.value) << c.what;
    EXPECT_EQ(read.is_dword(), c.isDword) << c.what;
  }
  EXPECT_EQ(hkb::ReadRegDword(HKEY_CURRENT_USER, L"Software\\ZEV\\NoSuchKeyHere", L"Value").status,
            ERROR_FILE_NOT_FOUND);
}

TEST(SharedLayer, TextValuesEndWithinTheirBuffer) {
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  const std::wstring exact(15, L'x');
  struct Case {
    const char* what;
    std::optional<hkbtest::RegData> data;
    std::optional<std::wstring> text;
  } cases[] = {
      {"a text", hkbtest::RegSz(L"Quokka"), L"Quokka"},
      {"a text stored without terminator", hkbtest::RegBinary(unterminated, sizeof unterminated, REG_SZ),
       L"abc"},
      {"a text that fills the buffer with its terminator", hkbtest::RegSz(exact), exact},
      {"a text one unit too long", hkbtest::RegSz(exact + L"y"), std::nullopt},
      {"no value", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    hkbtest::ScopedRegValue value(HKEY_CURRENT_USER, kKey, L"Text", c.data);
    ASSERT_TRUE(value.ok()) << c.what;
    EXPECT_EQ((hkb::ReadRegText<16>(HKEY_CURRENT_USER, kKey, L"Text")), c.text) << c.what;
  }
}

TEST(SharedLayer, GuardsTurnExceptionsIntoTheFailureResult) {
  EXPECT_EQ(hkb::Guarded(E_FAIL, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(hkb::Guarded(E_FAIL, []() -> HRESULT { throw std::bad_alloc(); }), E_FAIL);
  EXPECT_EQ(hkb::Guarded(0, []() -> int { throw std::runtime_error("x"); }), 0);
  EXPECT_EQ(hkb::Guarded(-1, []() -> int { throw 7; }), -1);
  int reached = 0;
  hkb::Guarded([&] {
    reached = 1;
    throw std::logic_error("x");
  });
  EXPECT_EQ(reached, 1);
}

TEST(SharedLayer, ReadersShareTheLockAndWritersWait) {
  hkb::SrwLock lock;
  std::shared_lock reader(lock);
  bool otherReader = false;
  bool writer = true;
  std::thread([&] {
    otherReader = lock.try_lock_shared();
    if (otherReader) lock.unlock_shared();
    writer = lock.try_lock();
    if (writer) lock.unlock();
  }).join();
  EXPECT_TRUE(otherReader);
  EXPECT_FALSE(writer);
  reader.unlock();
  std::lock_guard exclusive(lock);
  std::thread([&] {
    otherReader = lock.try_lock_shared();
    if (otherReader) lock.unlock_shared();
  }).join();
  EXPECT_FALSE(otherReader);
}

}  // namespace
