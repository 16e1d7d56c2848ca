// The window framework's CWnd as the libraries use it: an object parted from
// its window before it is deleted, so that no message reaches it while its
// destructors run, also when another thread owns the window.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "hkb/framework.h"
#include "hkb/sync.h"
#include "hkbtest/harness.h"

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kWhole = 0xA11CE;
constexpr uint32_t kTornDown = 0xDEAD;

// A window object that counts its pings and, on request, holds a handler
// open until released and then looks at itself. Its destructor marks it torn
// down and pings its window, as a destructor that still uses the window would.
class CProbeWnd : public CWnd {
 public:
  static constexpr UINT kPing = WM_APP + 1;
  static constexpr UINT kHold = WM_APP + 2;

  struct Shared {
    std::atomic<int> pings{0};
    std::atomic<uint32_t> seenInHandler{0};
    hkb::Event entered = hkb::Event::create(true);
    hkb::Event release = hkb::Event::create(true);
  };

  explicit CProbeWnd(Shared& shared) : m_shared(shared) {}
  ~CProbeWnd() override {
    m_state = kTornDown;
    if (m_created) ::SendMessageW(m_created, kPing, 0, 0);
  }

  bool Create() {
    const LPCWSTR cls = RegisterWndClass(0);
    if (!cls || !CreateEx(0, cls, L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr)) return false;
    m_created = m_hWnd;
    return true;
  }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kPing) {
      ++m_shared.pings;
      return 1;
    }
    if (message == kHold) {
      m_shared.entered.set();
      m_shared.release.wait(30000);
      m_shared.seenInHandler = m_state;
      return 1;
    }
    return CWnd::WindowProc(message, wParam, lParam);
  }

 private:
  Shared& m_shared;
  HWND m_created = nullptr;
  volatile uint32_t m_state = kWhole;
};

// The window belongs to this thread: deleting the object destroys the window
// before the destructors run, so the destructor's ping reaches nothing.
TEST(Wnd, DeletingAnObjectWithItsWindowPartsThemBeforeTheDestructorsRun) {
  CProbeWnd::Shared shared;
  hkb::framework::WndPtr<CProbeWnd> wnd(new CProbeWnd(shared));
  ASSERT_TRUE(wnd->Create());
  const HWND hWnd = wnd->GetSafeHwnd();
  ASSERT_EQ(::SendMessageW(hWnd, CProbeWnd::kPing, 0, 0), 1);
  ASSERT_EQ(shared.pings, 1);
  wnd.reset();
  EXPECT_EQ(shared.pings, 1) << "a message reached the object while it was being destroyed";
  EXPECT_FALSE(::IsWindow(hWnd));
}

// Another thread owns the window and is inside a handler of the object when
// this thread deletes it: the object goes only after that handler has
// returned, and the window is closed by its own thread afterwards.
TEST(Wnd, AnObjectGoesOnlyAfterAnotherThreadsHandlerOfItHasReturned) {
  CProbeWnd::Shared shared;
  std::atomic<CProbeWnd*> created{nullptr};
  std::atomic<HWND> hWnd{nullptr};
  std::atomic<bool> windowGone{false};
  hkb::Event ready = hkb::Event::create(true);
  hkb::Event deleted = hkb::Event::create(true);
  std::thread owner([&] {
    auto* wnd = new CProbeWnd(shared);
    if (wnd->Create()) {
      hWnd = wnd->GetSafeHwnd();
      created = wnd;
    } else {
      delete wnd;
    }
    ready.set();
    // Pumps: the held handler runs here; after the deletion the window is closed here too.
    hkbtest::PumpUntil([&] { return deleted.is_set(); }, 60s);
    windowGone = hkbtest::PumpUntil([&] { return !::IsWindow(hWnd); }, 30s);
  });
  ASSERT_EQ(ready.wait(30000), WAIT_OBJECT_0);
  CProbeWnd* const wnd = created.load();
  ASSERT_NE(wnd, nullptr);
  ::PostMessageW(hWnd, CProbeWnd::kHold, 0, 0);
  ASSERT_EQ(shared.entered.wait(30000), WAIT_OBJECT_0);
  // Released once the object is parted from its window, that is while the
  // deletion below is under way.
  std::thread releaser([&] {
    hkbtest::PumpUntil([&] { return ::GetWindowLongPtrW(hWnd, GWLP_USERDATA) == 0; }, 30s);
    shared.release.set();
  });
  hkb::framework::WndDeleter{}(wnd);
  deleted.set();
  releaser.join();
  owner.join();
  EXPECT_EQ(shared.seenInHandler, kWhole) << "the handler saw the object torn down";
  EXPECT_TRUE(windowGone) << "the other thread's window was not closed";
  EXPECT_EQ(shared.pings, 0) << "a message reached the object while it was being destroyed";
}

}  // namespace
