// HKBPS2.dll under Wine, as the button service uses it: a "ZEVHKBCLASS"
// window, the shipped DLL loaded with LoadLibraryW, and the keyboard filter
// driver stand-in as the device. Each test queues reports in the driver and
// checks the messages that reach the host window.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "ps2_support.h"

using namespace std::chrono_literals;
using hkbtest::KeyExists;
using hkbtest::RecordingWindow;
using hkbtest::ScopedRegKey;
using namespace ps2test;

namespace {

constexpr UINT TIMER5 = 0x0465;
constexpr UINT BTN = 0x0534;
constexpr UINT BIT = 0x0535;
constexpr UINT KEY = 0x0539;
constexpr UINT C135 = 0x0544;
constexpr UINT C141 = 0x0545;

constexpr wchar_t kHiddenClass[] = L"HKBPS2WNDCLASS";
constexpr wchar_t kHiddenTitle[] = L"ZEV Kivo Button for PS/2";
constexpr wchar_t kKbdblKey[] = L"Software\\ZEV\\KBDBL";

struct Msg {
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
  bool operator==(const Msg&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Msg& m) {
  return os << "{" << m.msg << ", " << m.wparam << ", " << m.lparam << "}";
}

using OpenFn = int (*)();
using StartFn = int (*)(HWND, DWORD);
using StopFn = void (*)();

std::wstring DllPath() { return hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBPS2.dll"); }

class Ps2 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(host.hwnd(), nullptr);
    std::string error;
    ASSERT_TRUE(driver.Open(&error)) << error;
    ASSERT_TRUE(driver.Reset());
    // This test's control handle; handles of earlier test processes may
    // still be on their way out.
    own_handles = HandlesSettledAt(1);
  }
  void TearDown() override { Unload(); }

  void Load() {
    lib = std::make_unique<hkbtest::Library>(DllPath());
    ASSERT_TRUE(*lib) << "LoadLibraryW error " << lib->load_error();
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
    hkbtest::PumpUntil([&] { return (wnd = ::FindWindowW(kHiddenClass, kHiddenTitle)) != nullptr; }, 3s);
    return wnd;
  }

  std::vector<Msg> Messages() {
    std::vector<Msg> out;
    for (const auto& m : host.received()) out.push_back({m.msg, m.wparam, m.lparam});
    return out;
  }

  // Waits until the driver has handed out everything queued, then a little
  // longer so that late or extra messages show up too.
  std::vector<Msg> MessagesAfterQueueDrained(std::chrono::milliseconds settle = 300ms) {
    hkbtest::PumpUntil([&] { return driver.Stats().pending == 0; }, 10s);
    hkbtest::PumpFor(settle);
    return Messages();
  }

  // Reads of the filter device during `window` (polling on: about one per 100 ms).
  unsigned ReadsDuring(std::chrono::milliseconds window) {
    const unsigned before = driver.Stats().reads;
    hkbtest::PumpFor(window);
    return driver.Stats().reads - before;
  }

  // Reads after a stop on this thread: a read that the worker had already
  // sent may still reach the driver, so the count starts a moment later.
  unsigned ReadsAfterStop() {
    hkbtest::PumpFor(150ms);
    return ReadsDuring(300ms);
  }

  // The driver sees a close a moment after CloseHandle returns.
  unsigned HandlesSettledAt(unsigned expected) {
    hkbtest::PumpUntil([&] { return driver.Stats().open_handles == expected; }, 2s);
    return driver.Stats().open_handles;
  }

  RecordingWindow host{L"ZEVHKBCLASS", L"button service"};
  Driver driver;
  std::unique_ptr<hkbtest::Library> lib;
  OpenFn open = nullptr;
  StartFn start = nullptr;
  StopFn stop = nullptr;
  unsigned own_handles = 0;
};

// ---------------------------------------------------------------------------
// Report sequences and the messages they post.

struct Scenario {
  const char* name;
  std::vector<Report> reports;
  std::vector<Msg> expected;
};

void PrintTo(const Scenario& c, std::ostream* os) { *os << c.name; }

const Scenario kScenarios[] = {
    {"KeyCodesAndRepeats",
     {Kind1(30), Kind1(30), Kind1(0), Kind1(30), Kind1(0), Kind1(117), Kind1(0), Kind1(84), Kind1(0),
      Kind1(121), Kind1(0), Kind1(0)},
     {{KEY, 30, 1}, {KEY, 30, 1}, {BTN, 117, 1}, {BTN, 84, 1}, {BTN, 121, 1}, {KEY, 0, 1}}},
    {"Codes135To141",
     {Kind1(137), Kind1(137), Kind1(137), Kind1(0), Kind1(141), Kind1(141), Kind1(128), Kind1(200, 3)},
     {{C135, 137, 1},
      {BTN, 137, 1},
      {C135, 137, 1},
      {C135, 137, 1},
      {C141, 141, 1},
      {BTN, 141, 1},
      {C141, 141, 1},
      {BTN, 200, 1}}},
    {"Kind5Repeats",
     {Kind5(40), Kind5(40, 41), Kind5(41), Kind5(0), Kind5(41)},
     {{BTN, 40, 1}, {BTN, 41, 1}, {BTN, 41, 1}}},
    {"Kind2BitButtons",
     {Kind2(4), Kind2(0), Kind2(16), Kind2(0), Kind2(32), Kind2(0), Kind2(64), Kind2(0), Kind2(3), Kind2(0),
      Kind2(1), Kind2(0), Kind2(2), Kind2(0)},
     {{BIT, 4, 1},
      {BIT, 16, 1},
      {BIT, 16, 0},
      {BIT, 32, 1},
      {BIT, 32, 0},
      {BIT, 64, 1},
      {BIT, 1, 1},
      {BIT, 2, 1}}},
    {"Kind4BitButtons",
     {Kind4(8), Kind4(0), Kind4(1), Kind4(0), Kind4(16), Kind4(0), Kind4(2), Kind4(0), Kind4(4), Kind4(0)},
     {{BIT, 134, 1},
      {BIT, 136, 0},
      {BIT, 131, 1},
      {BIT, 135, 1},
      {BIT, 136, 0},
      {BIT, 132, 1},
      {BIT, 133, 1}}},
    {"UnknownKindsIgnored",
     {KindN(3, 4, 30), KindN(0, 4, 30), KindN(6, 16, 30), KindN(255, 16, 30), Kind1(31)},
     {{KEY, 31, 1}}},
};

class Sequences : public Ps2, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Sequences, PostTheirMessagesInOrder) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const Scenario& s = GetParam();
  ASSERT_TRUE(driver.Queue(s.reports));
  EXPECT_EQ(MessagesAfterQueueDrained(), s.expected);
  // One report per read: the stand-in handed out exactly the queued ones.
  EXPECT_EQ(driver.Stats().delivered, s.reports.size());
}

INSTANTIATE_TEST_SUITE_P(Decoding, Sequences, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// Long presses of bits 1 and 2: the press posts nothing, the long-press
// message comes 1000 ms after the read, and the release after it is (0, 0).
TEST_F(Ps2, LongPressesAfterOneSecondThenZeroRelease) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  struct Case {
    uint8_t bit;
    WPARAM long_wparam;
  };
  for (const Case& c : {Case{1, 129}, Case{2, 130}}) {
    SCOPED_TRACE(c.bit);
    const size_t base = Messages().size();
    const ULONGLONG queued = ::GetTickCount64();
    ASSERT_TRUE(driver.Queue({Kind2(c.bit)}));
    ASSERT_TRUE(hkbtest::PumpUntil([&] { return Messages().size() > base; }, 3s)) << "no long press";
    const ULONGLONG elapsed = ::GetTickCount64() - queued;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 1900u);
    ASSERT_TRUE(driver.Queue({Kind2(0)}));
    const std::vector<Msg> got = MessagesAfterQueueDrained();
    EXPECT_EQ(std::vector<Msg>(got.begin() + static_cast<long>(base), got.end()),
              (std::vector<Msg>{{BIT, c.long_wparam, 1}, {BIT, 0, 0}}));
  }
}

TEST_F(Ps2, ShortPressKillsTheLongPressTimer) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  ASSERT_TRUE(driver.Queue({Kind2(1), Kind2(1), Kind2(0)}));
  EXPECT_EQ(MessagesAfterQueueDrained(1300ms), (std::vector<Msg>{{BIT, 1, 1}}));
}

// Stale reports are drained at start, at most 32 of them, 50 ms apart.
TEST_F(Ps2, StartDrainsAtMost32StaleReports) {
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_EQ(open(), 1);
  std::vector<Report> stale;
  for (uint8_t code = 1; code <= 40; ++code) stale.push_back(Kind5(code));
  ASSERT_TRUE(driver.Queue(stale));
  const ULONGLONG t0 = ::GetTickCount64();
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_EQ(driver.Stats().delivered, 32u);
  EXPECT_GE(took, 32u * 50u - 20u) << "50 ms between drained reads";
  EXPECT_TRUE(Messages().empty()) << "drained reports are not decoded";
  std::vector<Msg> expected;
  for (WPARAM code = 33; code <= 40; ++code) expected.push_back({BTN, code, 1});
  EXPECT_EQ(MessagesAfterQueueDrained(), expected);
}

// ---------------------------------------------------------------------------
// Life cycle.

TEST_F(Ps2, HiddenWindowHasItsClassTitleOwnerAndStyle) {
  ASSERT_NO_FATAL_FAILURE(Load());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(::GetWindow(hidden, GW_OWNER), host.hwnd());
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(hidden, GWL_STYLE)) & ~WS_CLIPSIBLINGS, 0x08CF0000u);
  EXPECT_FALSE(::IsWindowVisible(hidden));
  EXPECT_EQ(::GetClassLongPtrW(hidden, GCL_STYLE), static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(::GetClassLongPtrW(hidden, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNSHADOW + 1));
  EXPECT_EQ(reinterpret_cast<HMODULE>(::GetClassLongPtrW(hidden, GCLP_HMODULE)), lib->get());
  DWORD pid = 0;
  const DWORD tid = ::GetWindowThreadProcessId(hidden, &pid);
  EXPECT_EQ(pid, ::GetCurrentProcessId());
  EXPECT_NE(tid, ::GetCurrentThreadId()) << "the window belongs to the library's own thread";
  EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbps2_hidden_window.bmp"));
}

// Without the service's window the worker searches four times, 100 ms apart,
// and then creates its window without owner.
TEST(Ps2WithoutService, HiddenWindowHasNoOwner) {
  ASSERT_EQ(::FindWindowW(L"ZEVHKBCLASS", nullptr), nullptr);
  RecordingWindow other(L"SomeOtherClass", L"not the service");  // messages of this thread get pumped
  const ULONGLONG t0 = ::GetTickCount64();
  hkbtest::Library lib(DllPath());
  ASSERT_TRUE(lib);
  HWND hidden = nullptr;
  ASSERT_TRUE(hkbtest::PumpUntil(
      [&] { return (hidden = ::FindWindowW(kHiddenClass, kHiddenTitle)) != nullptr; }, 3s));
  EXPECT_GE(::GetTickCount64() - t0, 290u) << "four searches, 100 ms apart";
  EXPECT_EQ(::GetWindow(hidden, GW_OWNER), nullptr);
}

TEST_F(Ps2, StartBeforeOpenStoresTheHostAndCreatesTheMutex) {
  ASSERT_NO_FATAL_FAILURE(Load());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(::OpenMutexW(SYNCHRONIZE, FALSE, L"HKBB_PS2_Mutex"), nullptr);
  EXPECT_EQ(start(host.hwnd(), 0), 0);
  hkb::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, L"HKBB_PS2_Mutex"));
  EXPECT_TRUE(mutex) << "the mutex exists after the failed start";
  EXPECT_EQ(driver.Stats().opens, 0u);
  EXPECT_EQ(ReadsDuring(300ms), 0u) << "nothing polls";
  // The stored host receives the timer-5 message; other timer ids post nothing.
  ::SendMessageW(hidden, WM_TIMER, 6, 0);
  ::SendMessageW(hidden, WM_TIMER, 5, 0);
  hkbtest::PumpFor(100ms);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{TIMER5, 1, 0}}));
}

TEST_F(Ps2, StopBeforeOpenDoesNothingAndASecondOpenReplacesTheHandle) {
  ASSERT_NO_FATAL_FAILURE(Load());
  stop();
  EXPECT_EQ(open(), 1);
  EXPECT_EQ(open(), 1);
  hkbtest_stats s = driver.Stats();
  EXPECT_EQ(s.opens, 2u) << "the device is opened again";
  EXPECT_EQ(HandlesSettledAt(own_handles + 1), own_handles + 1) << "the previous handle is closed";
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  ASSERT_TRUE(driver.Queue({Kind5(9)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 9, 1}}));
  stop();
  EXPECT_EQ(ReadsAfterStop(), 0u) << "stopped";
}

TEST_F(Ps2, RepeatedOpenStartAndStopLeakNoHandlesOrMemory) {
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  stop();
  // Wine reports 0 for the process handle count and the private bytes, so
  // the checks look elsewhere: busy blocks of the process heap (where the
  // report buffers live), and the open handle slots.
  const hkbtest::HeapUse heap_before = hkbtest::ProcessHeapUse();
  const DWORD handles_before = hkbtest::OpenHandlesProbed();
  constexpr int kCalls = 3000;
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(open(), 1);
  constexpr int kCycles = 300;
  for (int i = 0; i < kCycles; ++i) {
    ASSERT_EQ(start(host.hwnd(), 0), 1);
    stop();
  }
  const hkbtest::HeapUse heap_after = hkbtest::ProcessHeapUse();
  const DWORD handles_after = hkbtest::OpenHandlesProbed();
  EXPECT_EQ(HandlesSettledAt(own_handles + 1), own_handles + 1);
  EXPECT_LE(heap_after.blocks, heap_before.blocks + 10) << "a kept buffer per call would add 3000 blocks";
  EXPECT_LE(handles_after, handles_before + 4) << "a kept handle per call would add 3000 handles";
  std::printf("open x%d, start/stop x%d: heap blocks %zu -> %zu (%zu -> %zu bytes), handles %lu -> %lu\n",
              kCalls, kCycles, heap_before.blocks, heap_after.blocks, heap_before.bytes, heap_after.bytes,
              handles_before, handles_after);
}

// Session notifications sent to the hidden window pause and resume polling;
// with the key "Software\ZEV\KBDBL" polling goes on while the session is locked.
struct SessionStep {
  WPARAM event;
  bool polling_after;
};
struct SessionCase {
  const char* name;
  bool kbdbl;
  std::vector<SessionStep> steps;
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

const SessionCase kSessionCases[] = {
    {"WithoutKbdbl",
     false,
     {{WTS_SESSION_LOCK, false},
      {WTS_SESSION_UNLOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, true},
      {WTS_SESSION_LOCK, false},
      {WTS_REMOTE_CONNECT, false},  // other events re-evaluate: still locked
      {WTS_SESSION_UNLOCK, true}}},
    {"WithKbdbl",
     true,
     {{WTS_SESSION_LOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, false},  // locked: only the unlock re-arms
      {WTS_SESSION_UNLOCK, true},
      {WTS_CONSOLE_DISCONNECT, false},
      {WTS_CONSOLE_CONNECT, true}}},
};

class Sessions : public Ps2, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(Sessions, PauseAndResumePolling) {
  const SessionCase& c = GetParam();
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKbdblKey)) << "prefix has a leftover KBDBL key";
  std::unique_ptr<ScopedRegKey> key;
  if (c.kbdbl) {
    key = std::make_unique<ScopedRegKey>(HKEY_LOCAL_MACHINE, kKbdblKey);
    ASSERT_TRUE(key->ok());
  }
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ASSERT_NE(hidden, nullptr);
  ASSERT_GE(ReadsDuring(500ms), 3u) << "polling at start";
  uint8_t code = 1;
  for (const SessionStep& step : c.steps) {
    SCOPED_TRACE(testing::Message() << "event " << step.event);
    ::SendMessageW(hidden, WM_WTSSESSION_CHANGE, step.event, 0);
    const unsigned reads = ReadsDuring(500ms);
    if (step.polling_after) {
      EXPECT_GE(reads, 3u);
      const size_t base = Messages().size();
      ASSERT_TRUE(driver.Queue({Kind5(code)}));
      const std::vector<Msg> got = MessagesAfterQueueDrained();
      EXPECT_EQ(std::vector<Msg>(got.begin() + static_cast<long>(base), got.end()),
                (std::vector<Msg>{{BTN, code, 1}}));
      ++code;
    } else {
      EXPECT_EQ(reads, 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, Sessions, ::testing::ValuesIn(kSessionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// WM_CLOSE from any sender closes the device but keeps the window; reads
// then fail, Stop does nothing, and a new open brings the reports back.
TEST_F(Ps2, CloseFromAnySenderClosesTheDeviceUntilOpenedAgain) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ::SendMessageW(hidden, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(hidden));
  EXPECT_EQ(HandlesSettledAt(own_handles), own_handles);
  EXPECT_EQ(ReadsDuring(400ms), 0u) << "reads no longer reach the device";
  stop();  // does nothing: the timer keeps ticking
  ASSERT_TRUE(driver.Queue({Kind5(21)}));
  ASSERT_EQ(open(), 1);
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 21, 1}}));
}

TEST_F(Ps2, UnlockDrainsAndRearmsEvenAfterStop) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  stop();
  ASSERT_EQ(ReadsAfterStop(), 0u);
  ASSERT_TRUE(driver.Queue({Kind5(1), Kind5(2), Kind5(3)}));
  ::SendMessageW(hidden, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  EXPECT_EQ(driver.Stats().delivered, 3u) << "stale reports drained";
  EXPECT_GE(ReadsDuring(500ms), 3u) << "polling again";
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Ps2, SuspendWhileStartedRestartsAtResumeWhileStoppedDoesNot) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  const HWND hidden = Hidden();
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  EXPECT_EQ(ReadsDuring(400ms), 0u) << "suspended";
  ASSERT_TRUE(driver.Queue({Kind5(1)}));
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(driver.Stats().delivered, 1u) << "the restart drains";
  EXPECT_GE(ReadsDuring(500ms), 3u) << "polling after resume";
  ASSERT_TRUE(driver.Queue({Kind5(2)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 2, 1}})) << "to the stored host";

  stop();
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(ReadsAfterStop(), 0u) << "no restart when stopped";
  // A resume without a suspend before it does nothing either.
  ::SendMessageW(hidden, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  EXPECT_EQ(ReadsDuring(300ms), 0u);
}

// Unloading removes the hidden window and ends the worker thread, whether or
// not the device was opened, and closes the device.
struct UnloadCase {
  const char* name;
  bool open_and_start;
  bool wait_for_window;
};

void PrintTo(const UnloadCase& c, std::ostream* os) { *os << c.name; }

class Unloading : public Ps2, public ::testing::WithParamInterface<UnloadCase> {};

TEST_P(Unloading, RemovesWindowAndEndsThread) {
  const UnloadCase& c = GetParam();
  const std::set<DWORD> threads_before = ThreadIds();
  ASSERT_NO_FATAL_FAILURE(Load());
  // The threads that loading started in the library's code: its worker.
  std::vector<hkb::UniqueHandle> started;
  for (DWORD tid : ThreadIds()) {
    if (!threads_before.count(tid) && StartsInModule(tid, lib->get())) {
      started.emplace_back(::OpenThread(SYNCHRONIZE, FALSE, tid));
    }
  }
  EXPECT_EQ(started.size(), 1u);
  hkb::UniqueHandle worker;
  if (c.wait_for_window) {
    const HWND hidden = Hidden();
    ASSERT_NE(hidden, nullptr);
    const DWORD tid = ::GetWindowThreadProcessId(hidden, nullptr);
    worker.reset(::OpenThread(SYNCHRONIZE, FALSE, tid));
    ASSERT_TRUE(worker);
  }
  if (c.open_and_start) {
    ASSERT_EQ(open(), 1);
    ASSERT_EQ(start(host.hwnd(), 0), 1);
  }
  const ULONGLONG t0 = ::GetTickCount64();
  Unload();
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_EQ(::FindWindowW(kHiddenClass, kHiddenTitle), nullptr);
  if (worker) {
    EXPECT_EQ(::WaitForSingleObject(worker.get(), 2000), WAIT_OBJECT_0) << "worker thread still running";
  }
  for (const auto& t : started) {
    EXPECT_EQ(::WaitForSingleObject(t.get(), 2000), WAIT_OBJECT_0) << "a thread of the library still runs";
  }
  EXPECT_EQ(HandlesSettledAt(own_handles), own_handles) << "the device is closed";
  if (c.open_and_start) {
    EXPECT_GE(took, 1000u);
  }
  EXPECT_LT(took, 4000u);
  std::printf("%s: unload took %llu ms\n", c.name, took);
  // Loadable again, and the fresh load initialises again (count back to 0).
  ASSERT_NO_FATAL_FAILURE(Load());
  EXPECT_NE(Hidden(), nullptr);
}

const UnloadCase kUnloadCases[] = {
    {"OpenedAndStarted", true, true},
    {"NeverOpened", false, true},
    {"RightAfterLoading", false, false},
};

INSTANTIATE_TEST_SUITE_P(Lifecycle, Unloading, ::testing::ValuesIn(kUnloadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Other processes and Windows releases, through the button-service stand-in.

std::map<std::string, std::string> ReadResult(const std::wstring& path) {
  std::map<std::string, std::string> out;
  std::istringstream in(hkbtest::ReadFileBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

std::wstring HostCommand(const wchar_t* mode, const std::wstring& result) {
  return L"\"" + hkbtest::StandinFile(L"hkbps2_host.exe") + L"\" " + mode + L" \"" + DllPath() + L"\" \"" +
         result + L"\"";
}

// The button-service stand-in in "inert" mode, holding the library until released.
class HoldingProcess {
 public:
  HoldingProcess() : m_result(hkbtest::TempFilePath(L"ps2")), m_cmd(HostCommand(L"inert", m_result)) {
    m_thread.reset(::CreateThread(nullptr, 0, &HoldingProcess::Run, this, 0, nullptr));
  }
  ~HoldingProcess() {
    ::SetEvent(m_release.get());
    if (m_thread) ::WaitForSingleObject(m_thread.get(), 30000);
    ::DeleteFileW(m_result.c_str());
  }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;

  bool WaitLoaded() {
    return hkbtest::PumpUntil([&] { return ::WaitForSingleObject(m_loaded.get(), 0) == WAIT_OBJECT_0; }, 20s);
  }
  // Lets it unload and end; its exit code.
  int Release() {
    ::SetEvent(m_release.get());
    hkbtest::PumpUntil([&] { return ::WaitForSingleObject(m_thread.get(), 0) == WAIT_OBJECT_0; }, 30s);
    return m_rc;
  }
  const std::wstring& result() const { return m_result; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* p = static_cast<HoldingProcess*>(self);
    p->m_rc = RunProgram(p->m_cmd, 60000);
    return 0;
  }
  hkb::UniqueHandle m_loaded{::CreateEventW(nullptr, TRUE, FALSE, L"HKBPS2Test.Host.Loaded")};
  hkb::UniqueHandle m_release{::CreateEventW(nullptr, TRUE, FALSE, L"HKBPS2Test.Host.Release")};
  std::wstring m_result;
  std::wstring m_cmd;
  int m_rc = -2;
  hkb::UniqueHandle m_thread;
};

void ExpectInert(std::map<std::string, std::string> r) {
  EXPECT_EQ(r["open"], "1") << "type 0: nothing to open, success";
  EXPECT_EQ(r["start"], "1");
  EXPECT_EQ(r["worker_threads"], "0");
  EXPECT_EQ(r["own_hidden_window"], "0");
  EXPECT_EQ(r["messages"], "0");
  EXPECT_EQ(r["filter_opens"], "0");
  EXPECT_EQ(r["vxd_opens"], "0");
}

TEST_F(Ps2, ASecondProcessIsInertAndDoesNotDisturbTheFirst) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  HoldingProcess second;
  ASSERT_TRUE(second.WaitLoaded()) << "the second process did not load the library";
  // While the second process holds the library, this one still polls.
  ASSERT_TRUE(driver.Queue({Kind5(11)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 11, 1}}));
  ASSERT_EQ(second.Release(), 0);
  ExpectInert(ReadResult(second.result()));
  // After the second process let go, this one still polls.
  ASSERT_TRUE(driver.Queue({Kind5(12)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 11, 1}, {BTN, 12, 1}}));
}

TEST_F(Ps2, WhileAnyProcessHoldsTheLibraryNewLoadersStayInert) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  HoldingProcess second;
  ASSERT_TRUE(second.WaitLoaded());
  Unload();  // the initialising process lets go first
  ASSERT_TRUE(driver.Reset());
  const std::wstring result = hkbtest::TempFilePath(L"ps2");
  ASSERT_EQ(RunProgram(HostCommand(L"probe", result)), 0);
  auto r = ReadResult(result);
  ::DeleteFileW(result.c_str());
  ExpectInert(r);
  EXPECT_EQ(r["probe_messages"], "0");
  EXPECT_EQ(driver.Stats().reads, 0u) << "no process polls";
  ASSERT_EQ(second.Release(), 0);
  // Everybody let go: the next load initialises again.
  ASSERT_NO_FATAL_FAILURE(Polling());
  EXPECT_NE(Hidden(), nullptr);
  ASSERT_TRUE(driver.Queue({Kind5(13)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{BTN, 13, 1}}));
}

struct VersionCase {
  const char* wine_version;
  const char* reported;  // major.minor.build as GetVersionExW returns it
  const char* device;    // "filter", "vxd" or "none"
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.wine_version; }

const VersionCase kVersions[] = {
    {"win2k", "5.0.2195", "filter"}, {"winxp", "5.1.2600", "filter"}, {"win2003", "5.2.3790", "none"},
    {"vista", "6.0.6002", "filter"}, {"win7", "6.1.7601", "filter"},  {"win10", "6.2.9200", "filter"},
    {"nt40", "4.0.1381", "filter"},  {"win98", "4.10.2222", "vxd"},   {"winme", "4.90.3000", "vxd"},
};

class Releases : public Ps2, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(Releases, ChooseTheDevice) {
  const VersionCase& c = GetParam();
  std::wstring version(c.wine_version, c.wine_version + std::strlen(c.wine_version));
  // A copy under its own name, so that the per-program Windows version applies to it alone.
  const std::wstring exe_name = L"hkbps2_host_" + version + L".exe";
  const std::wstring exe = hkbtest::StandinFile(exe_name);
  hkbtest::ScopedFileCopy copy(hkbtest::StandinFile(L"hkbps2_host.exe"), exe);
  ASSERT_TRUE(copy.ok()) << copy.error();
  const std::wstring app_key = L"Software\\Wine\\AppDefaults\\" + exe_name;
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, app_key));
  ScopedRegKey key(HKEY_CURRENT_USER, app_key);
  ASSERT_TRUE(key.ok());
  ASSERT_EQ(::RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                             static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);

  const std::wstring result = hkbtest::TempFilePath(L"ps2");
  ASSERT_EQ(RunProgram(L"\"" + exe + L"\" probe \"" + DllPath() + L"\" \"" + result + L"\""), 0);
  auto r = ReadResult(result);
  ::DeleteFileW(result.c_str());
  EXPECT_EQ(r["version"], c.reported);
  const std::string device = c.device;
  EXPECT_EQ(r["worker_threads"], "1") << "the only process: it initialises";
  EXPECT_EQ(r["own_hidden_window"], "1");
  EXPECT_EQ(r["open"], "1");
  EXPECT_EQ(r["start"], "1");
  EXPECT_EQ(r["filter_opens"], device == "filter" ? "1" : "0");
  EXPECT_EQ(r["vxd_opens"], device == "vxd" ? "1" : "0");
  EXPECT_EQ(r["probe_messages"], device == "none" ? "0" : "1") << "the queued report was decoded";
  if (device == "vxd") {
    EXPECT_EQ(r["vxd_code"], "0x222400") << "the host value is the control code";
  }
  if (device == "none") {
    EXPECT_EQ(r["filter_reads"], "0");
    EXPECT_EQ(r["vxd_reads"], "0");
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, Releases, ::testing::ValuesIn(kVersions),
                         [](const auto& info) { return std::string(info.param.wine_version); });

}  // namespace
