// ZEVOSD.dll with more than one thread: a display owned by a thread that
// does not unload the library, a reload after that, and requests from
// several threads at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "hkb/sync.h"
#include "osd_client.h"

using namespace osdtest;

namespace {

// A thread of its own with a display on it; it pumps only when told to.
class DisplayThread {
 public:
  explicit DisplayThread(PFN_OnScreen_Display show) : m_thread([this, show] { Run(show); }) {}
  ~DisplayThread() {
    m_finish.set();
    m_thread.join();
  }
  DisplayThread(const DisplayThread&) = delete;
  DisplayThread& operator=(const DisplayThread&) = delete;

  // Waits until the display is up; its window (null when it did not come up).
  HWND Shown() {
    m_shown.wait(30000);
    return m_result == 1 ? m_wnd.load() : nullptr;
  }
  // Pumps until the old display's window has gone; whether it went.
  bool PumpUntilGone() {
    m_pump.set();
    m_pumped.wait(60000);
    return m_gone;
  }
  // A request made on this thread (after PumpUntilGone or while not pumping).
  int ShowAgain(PFN_OnScreen_Display show) {
    m_nextShow = show;
    m_again.set();
    m_shownAgain.wait(30000);
    return m_againResult;
  }

 private:
  void Run(PFN_OnScreen_Display show) {
    const OSD_REQUEST r = Request(L"owned by another thread");
    m_result = show(&r);
    MSG m;
    ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // this thread has a queue from here on
    for (HWND w : WindowsOf(AnyModule())) m_wnd = w;
    m_shown.set();
    const HANDLE events[] = {m_pump.get(), m_again.get(), m_finish.get()};
    for (;;) {
      const DWORD which = ::WaitForMultipleObjects(3, events, FALSE, 60000);
      if (which == WAIT_OBJECT_0) {
        m_pump.reset();
        m_gone = hkbtest::PumpUntil([&] { return !::IsWindow(m_wnd); }, kPatience);
        m_pumped.set();
      } else if (which == WAIT_OBJECT_0 + 1) {
        m_again.reset();
        const OSD_REQUEST again = Request(L"again on that thread");
        m_againResult = m_nextShow(&again);
        m_shownAgain.set();
      } else {
        hkbtest::PumpFor(0ms);
        return;
      }
    }
  }
  // The windows of this thread: any module will do, the thread has only displays.
  static HMODULE AnyModule() { return ::GetModuleHandleW(L"ZEVOSD.dll"); }

  hkb::Event m_shown = hkb::Event::create(true);
  hkb::Event m_pump = hkb::Event::create(true);
  hkb::Event m_pumped = hkb::Event::create(true);
  hkb::Event m_again = hkb::Event::create(true);
  hkb::Event m_shownAgain = hkb::Event::create(true);
  hkb::Event m_finish = hkb::Event::create(true);
  std::atomic<int> m_result{-1};
  std::atomic<int> m_againResult{-1};
  std::atomic<HWND> m_wnd{nullptr};
  std::atomic<bool> m_gone{false};
  PFN_OnScreen_Display m_nextShow = nullptr;
  std::thread m_thread;
};

// The library unloaded by a thread that does not own the display: the window
// cannot be destroyed from there, so it goes to the default procedure and is
// closed by its own thread; nothing of the library is called for it any more.
// Loaded again (at the same address), the library shows displays as before,
// whether or not the old window is gone by then.
struct ReloadCase {
  const char* name;
  bool ownerPumpsBeforeReload;
};

void PrintTo(const ReloadCase& c, std::ostream* os) { *os << c.name; }

class OsdReload : public ::testing::TestWithParam<ReloadCase> {};

TEST_P(OsdReload, AfterAnUnloadOnAThreadThatDoesNotOwnTheDisplay) {
  const ReloadCase& c = GetParam();
  auto osd = std::make_unique<OsdLibrary>();
  ASSERT_TRUE(osd->ok());
  const HMODULE base = osd->lib.get();
  DisplayThread owner(osd->show);
  const HWND old = owner.Shown();
  ASSERT_NE(old, nullptr);

  osd.reset();  // unloaded on this thread; the other one is not pumping
  EXPECT_EQ(::GetModuleHandleW(L"ZEVOSD.dll"), nullptr);
  if (c.ownerPumpsBeforeReload) {
    EXPECT_TRUE(owner.PumpUntilGone()) << "the other thread's display stayed";
  }

  OsdLibrary again;
  ASSERT_TRUE(again.ok());
  ASSERT_EQ(again.lib.get(), base) << "the test needs the reload at the same address";
  const OSD_REQUEST r = Request(L"loaded again");
  EXPECT_EQ(again.show(&r), 1) << "last error " << ::GetLastError();
  const std::vector<HWND> mine = WindowsOf(again.lib.get());
  EXPECT_EQ(mine.size(), 1u);
  EXPECT_EQ(owner.ShowAgain(again.show), 1) << "a request on the other thread";

  if (!c.ownerPumpsBeforeReload) {
    EXPECT_TRUE(owner.PumpUntilGone()) << "the other thread's old display stayed";
  }
  // The other thread's request took over: this thread's display is closed
  // when this thread pumps.
  EXPECT_TRUE(hkbtest::PumpUntil([&] { return WindowsOf(again.lib.get()).empty(); }, kPatience));
}

const ReloadCase kReloadCases[] = {
    {"OwnerPumpsBeforeTheReload", true},
    {"OldWindowStillThereAtTheReload", false},
};

INSTANTIATE_TEST_SUITE_P(OsdThreads, OsdReload, ::testing::ValuesIn(kReloadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Four threads make requests at the same moment, each pumping its own
// messages: nothing crashes, every result is 0 or 1, and nothing leaks.
TEST(OsdThreads, RequestsFromFourThreadsAtOnce) {
  OsdLibrary osd;
  ASSERT_TRUE(osd.ok());
  constexpr int kThreads = 4;
  constexpr int kRequests = 150;
  const wchar_t* const texts[] = {L"Volume 1", L"Brightness 10", L"", L"Wireless LAN: Off"};

  auto runOne = [&](int thread, int i) {
    if (i % 5 == 4) {
      OSD_REQUESTA a = RequestA(i % 2 ? "Eco: On" : "Eco: Off");
      a.nPosition = static_cast<UINT>((i + thread) % 9);
      return osd.showA(&a);
    }
    OSD_REQUEST r = Request(texts[(i + thread) % 4], static_cast<UINT>(i % 9));
    if (i % 7 == 6) r.nHeightDiv = 0;  // refused after removing the previous one
    if (i % 3 == 0) r.nDuration = 1;   // goes while the thread pumps
    return osd.show(&r);
  };
  // First-use allocations (class, fonts, caches) before the counting.
  for (int i = 0; i < 20; ++i) {
    runOne(0, i);
    hkbtest::PumpFor(0ms);
  }
  OSD_REQUEST refused = Request(L"x");
  refused.nHeightDiv = 0;
  osd.show(&refused);
  const hkbtest::ResourceUse before = hkbtest::MeasureResources();

  hkb::Event go = hkb::Event::create(true);
  std::atomic<int> shown{0}, refusedCount{0}, other{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      go.wait(30000);
      for (int i = 0; i < kRequests; ++i) {
        const int result = runOne(t, i);
        (result == 1 ? shown : result == 0 ? refusedCount : other)++;
        hkbtest::PumpFor(0ms);
      }
    });
  }
  go.set();
  for (std::thread& t : threads) t.join();
  // The last display belonged to a thread that has ended; a refused request
  // lets its object go.
  osd.show(&refused);
  hkbtest::PumpFor(0ms);
  const hkbtest::ResourceUse after = hkbtest::MeasureResources();

  std::printf("%d threads x %d requests: %d shown, %d refused, %d other results\n", kThreads, kRequests,
              shown.load(), refusedCount.load(), other.load());
  std::printf("GDI %ld -> %ld, handles %lu -> %lu, heap blocks %zu -> %zu\n", before.gdi, after.gdi,
              before.handles, after.handles, before.heap.blocks, after.heap.blocks);
  EXPECT_EQ(other, 0) << "results other than 0 and 1";
  EXPECT_EQ(shown + refusedCount, kThreads * kRequests);
  EXPECT_GT(shown, kThreads * kRequests / 2);
  // A thread that ends while it has a window leaves a few GDI objects of the
  // system's behind (measured under Wine: 3 to 6 per thread, the same for 20
  // or 250 requests per thread); a kept object per request would be hundreds.
  EXPECT_LE(after.gdi - before.gdi, 8 + 6 * kThreads);
  EXPECT_LE(after.handles, before.handles + 8);
  EXPECT_LE(after.heap.blocks, before.heap.blocks + 100) << "a kept object per request would add hundreds";
}

}  // namespace
