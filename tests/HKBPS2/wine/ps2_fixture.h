// The fixture of the PS/2 library's tests: a "ZEVHKBCLASS" window of this
// thread as the host, the shipped DLL loaded with LoadLibraryW, and the
// keyboard filter driver stand-in as the device. Every wait is for a
// condition (a message count, a read counter, a window), with a generous
// ceiling; the only fixed spans are the ones that show that something does
// not happen.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "ps2_support.h"

namespace ps2test {

using namespace std::chrono_literals;
using hkbtest::Msg;

constexpr UINT kTimer5 = 0x0465;
constexpr UINT kButton = 0x0534;
constexpr UINT kBit = 0x0535;
constexpr UINT kKey = 0x0539;
constexpr UINT kCode135 = 0x0544;
constexpr UINT kCode141 = 0x0545;

constexpr wchar_t kHiddenClass[] = L"HKBPS2WNDCLASS";
constexpr wchar_t kHiddenTitle[] = L"ZEV Kivo Button for PS/2";
constexpr wchar_t kKbdblKey[] = L"Software\\ZEV\\KBDBL";
constexpr wchar_t kMutexName[] = L"HKBB_PS2_Mutex";
// A message the hidden window handles by doing nothing.
constexpr UINT kPrivateMessage = 0x0532;

// Ceiling of every wait for something that is expected to happen.
constexpr std::chrono::milliseconds kPatience = 30s;

using OpenFn = int (*)();
using StartFn = int (*)(HWND, DWORD);
using StopFn = void (*)();

inline std::wstring DllPath() { return hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBPS2.dll"); }

class Ps2 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(host.hwnd(), nullptr);
    std::string error;
    ASSERT_TRUE(driver.Open(&error)) << error;
    ASSERT_TRUE(driver.Reset());
    // This test's control handle; handles of earlier test processes may
    // still be on their way out.
    ownHandles = HandlesSettledAt(1);
  }
  void TearDown() override { Unload(); }

  void Load() {
    lib = std::make_unique<hkbtest::Library>(DllPath());
    ASSERT_TRUE(*lib) << "LoadLibraryW error " << lib->error();
    open = lib->proc<OpenFn>("HKBPS2_OpenDevice");
    start = lib->proc<StartFn>("HKBPS2_Start");
    stop = lib->proc<StopFn>("HKBPS2_Stop");
    ASSERT_TRUE(open && start && stop);
  }
  void Unload() { lib.reset(); }

  // Loaded, opened and polling.
  void Polling() {
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_EQ(open(), 1);
    ASSERT_EQ(start(host.hwnd(), 0), 1);
  }

  HWND Hidden() {
    HWND wnd = nullptr;
    hkbtest::PumpUntil([&] { return (wnd = ::FindWindowW(kHiddenClass, kHiddenTitle)) != nullptr; },
                       kPatience);
    return wnd;
  }

  std::vector<Msg> Messages() { return host.received(); }

  // Waits until `count` messages have arrived in all; the messages.
  std::vector<Msg> WaitForMessages(size_t count) {
    EXPECT_TRUE(hkbtest::PumpUntil([&] { return host.received().size() >= count; }, kPatience))
        << "expected " << count << " messages";
    return Messages();
  }

  // Waits until the driver has handed out every queued report and the worker
  // has read once more after that. Each read comes after the decoding of the
  // report before it, so by then every report handed out is decoded and its
  // messages are in this thread's queue; the messages.
  std::vector<Msg> MessagesAfterQueueDrained() {
    unsigned readsAtEmpty = 0;
    EXPECT_TRUE(hkbtest::PumpUntil(
        [&] {
          const hkbtest_stats s = driver.Stats();
          readsAtEmpty = s.reads;
          return s.pending == 0;
        },
        kPatience))
        << "the queue was not read empty";
    EXPECT_TRUE(hkbtest::PumpUntil([&] { return driver.Stats().reads > readsAtEmpty; }, kPatience))
        << "polling stopped";
    return Messages();
  }

  // Waits for `count` more reads of the filter device: polling is on.
  bool WaitForReads(unsigned count) {
    const unsigned base = driver.Stats().reads;
    return hkbtest::PumpUntil([&] { return driver.Stats().reads >= base + count; }, kPatience);
  }

  // The worker handles a sent message only between two dispatches: once this
  // returns, no poll tick that began before it is still running.
  static void SyncWithWorker(HWND hidden) { ::SendMessageW(hidden, kPrivateMessage, 0, 0); }

  // Reads of the filter device during `span` after syncing with the worker.
  // For checks that polling is off: the span must exceed the 100 ms period.
  unsigned ReadsAfterSync(HWND hidden, std::chrono::milliseconds span = 400ms) {
    SyncWithWorker(hidden);
    const unsigned base = driver.Stats().reads;
    hkbtest::PumpFor(span);
    return driver.Stats().reads - base;
  }

  // The driver sees a close a moment after CloseHandle returns.
  unsigned HandlesSettledAt(unsigned expected) {
    hkbtest::PumpUntil([&] { return driver.Stats().openHandles == expected; }, kPatience);
    return driver.Stats().openHandles;
  }

  hkbtest::RecordingWindow host{L"ZEVHKBCLASS", L"button service"};
  Driver driver;
  std::unique_ptr<hkbtest::Library> lib;
  OpenFn open = nullptr;
  StartFn start = nullptr;
  StopFn stop = nullptr;
  unsigned ownHandles = 0;
};

}  // namespace ps2test
