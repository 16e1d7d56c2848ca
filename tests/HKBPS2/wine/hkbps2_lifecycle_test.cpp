// HKBPS2.dll's life: loading and unloading in one process (also while a read
// hangs or a drain runs), several processes that load it, and the Windows
// releases that choose the device.
#include <windows.h>
#include <wtsapi32.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hkb/sync.h"
#include "ps2_fixture.h"

using hkbtest::KeyExists;
using hkbtest::ScopedRegKey;
using namespace ps2test;

namespace {

// Unloading removes the hidden window and ends the worker thread, whether or
// not the device was opened, and closes the device.
struct UnloadCase {
  const char* name;
  bool openAndStart;
  bool waitForWindow;
};

void PrintTo(const UnloadCase& c, std::ostream* os) { *os << c.name; }

class Unloading : public Ps2, public ::testing::WithParamInterface<UnloadCase> {};

TEST_P(Unloading, RemovesWindowAndEndsThread) {
  const UnloadCase& c = GetParam();
  const std::set<DWORD> threadsBefore = hkbtest::ThreadIds();
  ASSERT_NO_FATAL_FAILURE(Load());
  // The threads that loading started in the library's code: its worker. The
  // system knows a thread's start address once the thread has begun to run.
  auto libraryThreads = [&] {
    std::vector<DWORD> ids;
    for (DWORD tid : hkbtest::ThreadIds()) {
      if (!threadsBefore.count(tid) && hkbtest::StartsInModule(tid, lib->get())) ids.push_back(tid);
    }
    return ids;
  };
  if (c.waitForWindow) {
    EXPECT_TRUE(hkbtest::PumpUntil([&] { return libraryThreads().size() == 1; }, kPatience));
  }
  std::vector<hkb::UniqueHandle> started;
  for (DWORD tid : libraryThreads()) started.emplace_back(::OpenThread(SYNCHRONIZE, FALSE, tid));
  EXPECT_LE(started.size(), 1u);
  hkb::UniqueHandle worker;
  if (c.waitForWindow) {
    const HWND hidden = Hidden();
    ASSERT_NE(hidden, nullptr);
    worker.reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetWindowThreadProcessId(hidden, nullptr)));
    ASSERT_TRUE(worker);
  }
  if (c.openAndStart) {
    ASSERT_EQ(open(), 1);
    ASSERT_EQ(start(host.hwnd(), 0), 1);
  }
  const ULONGLONG t0 = ::GetTickCount64();
  Unload();
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_EQ(::FindWindowW(kHiddenClass, kHiddenTitle), nullptr);
  if (worker) {
    EXPECT_EQ(::WaitForSingleObject(worker.get(), 10000), WAIT_OBJECT_0) << "worker thread still running";
  }
  for (const auto& t : started) {
    EXPECT_EQ(::WaitForSingleObject(t.get(), 10000), WAIT_OBJECT_0) << "a thread of the library still runs";
  }
  EXPECT_EQ(HandlesSettledAt(ownHandles), ownHandles) << "the device is closed";
  if (c.openAndStart) {
    EXPECT_GE(took, 1000u);
  }
  EXPECT_LT(took, 20000u) << "every wait of the unload is bounded";
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

// Whether another thread holds the loader lock now (a FreeLibrary under way).
// Nothing in here may take the loader lock itself (GetModuleHandleW does).
bool LoaderLockHeldElsewhere() {
  using LockFn = LONG(WINAPI*)(ULONG, ULONG*, ULONG_PTR*);
  using UnlockFn = LONG(WINAPI*)(ULONG, ULONG_PTR);
  static const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  static const auto lock =
      reinterpret_cast<LockFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrLockLoaderLock")));
  static const auto unlock =
      reinterpret_cast<UnlockFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  constexpr ULONG kTryOnly = 2;
  ULONG disposition = 0;
  ULONG_PTR cookie = 0;
  if (!lock || !unlock || lock(kTryOnly, &disposition, &cookie) != 0) return false;
  if (disposition == 1) unlock(0, cookie);
  return disposition == 2;
}

// Runs `work` on a thread of its own and waits for it; a thread that does not
// return in time leaves this process stuck (for example inside the loader),
// so the test ends the process with a failure instead of hanging.
void OnOwnThreadOrFail(const char* what, const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    work();
    done = true;
  });
  if (!hkbtest::PumpUntil([&] { return done.load(); }, 60s)) {
    std::printf("FAILED: %s did not return within 60 s; ending the test process\n", what);
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  }
  t.join();
}

// A device read that hangs at unload: the unload waits for the worker within
// a bound and, when the read does not come back in time, ends it by force.
// Either way FreeLibrary returns, the device is closed, and the process can
// load libraries and poll again.
struct HangCase {
  const char* name;
  bool releaseDuringUnload;  // the read completes while the unload waits for the worker
};

void PrintTo(const HangCase& c, std::ostream* os) { *os << c.name; }

class HangingRead : public Ps2, public ::testing::WithParamInterface<HangCase> {};

TEST_P(HangingRead, UnloadReturnsAndTheProcessStaysUsable) {
  const HangCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Polling());
  ASSERT_TRUE(WaitForReads(1));
  ASSERT_TRUE(driver.HoldNextRead());
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return driver.Stats().held == 1; }, kPatience))
      << "the worker's next read was not held";

  ASSERT_FALSE(LoaderLockHeldElsewhere());  // also looks its functions up, which takes the loader lock
  std::atomic<bool> unloaded{false};
  std::thread unloader([&] {
    Unload();
    unloaded = true;
  });
  if (c.releaseDuringUnload) {
    EXPECT_TRUE(hkbtest::PumpUntil(LoaderLockHeldElsewhere, kPatience)) << "the unload did not begin";
    EXPECT_TRUE(driver.ReleaseRead());
  }
  if (!hkbtest::PumpUntil([&] { return unloaded.load(); }, 60s)) {
    std::printf(
        "FAILED: FreeLibrary did not return within 60 s while a read hung; ending the test process\n");
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  }
  unloader.join();
  driver.ReleaseRead();
  EXPECT_EQ(driver.Stats().held, 0u);
  EXPECT_EQ(HandlesSettledAt(ownHandles), ownHandles) << "the device is closed";

  // Another thread can load a library (the loader lock is free), and the
  // library loads, initialises and polls again.
  bool loadedElsewhere = false;
  OnOwnThreadOrFail("LoadLibraryW on another thread", [&] {
    hkb::UniqueModule version(::LoadLibraryW(L"version.dll"));
    loadedElsewhere = static_cast<bool>(version);
  });
  EXPECT_TRUE(loadedElsewhere);
  ASSERT_NO_FATAL_FAILURE(Polling());
  ASSERT_TRUE(driver.Queue({Kind5(3)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 3, 1}}));
}

const HangCase kHangCases[] = {
    {"ReleasedWhileTheUnloadWaits", true},
    {"HeldPastTheUnloadsBound", false},
};

INSTANTIATE_TEST_SUITE_P(Lifecycle, HangingRead, ::testing::ValuesIn(kHangCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A session resume is draining (holding the machine-wide mutex) when the
// library is unloaded: the worker ends its drain and releases the mutex
// before the unload closes it, so the mutex is left free, not abandoned.
TEST_F(Ps2, UnloadDuringASessionDrainLeavesTheMutexFree) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  hkb::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName));
  ASSERT_TRUE(mutex);
  const HWND hidden = Hidden();
  stop();
  SyncWithWorker(hidden);
  std::vector<Report> stale;
  for (uint8_t code = 1; code <= 32; ++code) stale.push_back(Kind5(code));
  ASSERT_TRUE(driver.Queue(stale));
  ::PostMessageW(hidden, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return driver.Stats().delivered >= 1; }, kPatience))
      << "the resume did not start draining";
  const unsigned drainedBefore = driver.Stats().delivered;
  Unload();
  EXPECT_LT(drainedBefore, 32u) << "the drain had ended before the unload began";
  const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
  EXPECT_EQ(wait, WAIT_OBJECT_0) << (wait == WAIT_ABANDONED ? "abandoned: the worker's release failed" : "");
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ::ReleaseMutex(mutex.get());
}

// The session notifications of the hidden window are ended on the worker
// thread, while the window still exists, once per registration.
struct SessionCall {
  HWND wnd;
  bool windowExisted;
  bool onOwnerThread;
};
std::mutex s_callsLock;
std::vector<SessionCall> s_unregisterCalls;
std::vector<HWND> s_registered;
using RegisterFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterFn = BOOL(WINAPI*)(HWND);
RegisterFn s_realRegister = nullptr;
UnregisterFn s_realUnregister = nullptr;

BOOL WINAPI RecordRegister(HWND wnd, DWORD flags) {
  const BOOL ok = s_realRegister(wnd, flags);
  std::lock_guard lock(s_callsLock);
  if (ok) s_registered.push_back(wnd);
  return ok;
}

BOOL WINAPI RecordUnregister(HWND wnd) {
  {
    std::lock_guard lock(s_callsLock);
    s_unregisterCalls.push_back(
        {wnd, ::IsWindow(wnd) != FALSE, ::GetWindowThreadProcessId(wnd, nullptr) == ::GetCurrentThreadId()});
  }
  return s_realUnregister(wnd);
}

TEST_F(Ps2, SessionNotificationsEndOnTheWorkerWhileItsWindowExists) {
  ASSERT_NO_FATAL_FAILURE(Load());
  void* original = nullptr;
  ASSERT_TRUE(hkbtest::PatchImport(lib->get(), "wtsapi32.dll", "WTSRegisterSessionNotification",
                                   reinterpret_cast<void*>(&RecordRegister), &original));
  s_realRegister = reinterpret_cast<RegisterFn>(original);
  ASSERT_TRUE(hkbtest::PatchImport(lib->get(), "wtsapi32.dll", "WTSUnRegisterSessionNotification",
                                   reinterpret_cast<void*>(&RecordUnregister), &original));
  s_realUnregister = reinterpret_cast<UnregisterFn>(original);
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(start(host.hwnd(), 0), 1);
  const HWND hidden = Hidden();
  {
    std::lock_guard lock(s_callsLock);
    ASSERT_EQ(s_registered, std::vector<HWND>{hidden}) << "registered once, for the hidden window";
  }
  Unload();
  std::lock_guard lock(s_callsLock);
  ASSERT_EQ(s_unregisterCalls.size(), 1u);
  EXPECT_EQ(s_unregisterCalls[0].wnd, hidden);
  EXPECT_TRUE(s_unregisterCalls[0].windowExisted);
  EXPECT_TRUE(s_unregisterCalls[0].onOwnerThread) << "ended from another thread than the window's";
}

// When the hidden window cannot be made, nothing can carry the poll timer:
// Start returns 0, and no timer of the caller's thread polls instead.
LRESULT CALLBACK RefuseHiddenWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
    const wchar_t* cls = create->lpcs->lpszClass;
    if (!IS_INTRESOURCE(cls) && std::wcscmp(cls, kHiddenClass) == 0) return 1;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Ps2, StartWithoutAHiddenWindowReturnsZero) {
  struct HookDeleter {
    void operator()(HHOOK h) const { ::UnhookWindowsHookEx(h); }
  };
  std::unique_ptr<std::remove_pointer_t<HHOOK>, HookDeleter> hook(
      ::SetWindowsHookExW(WH_CBT, &RefuseHiddenWindow, ::GetModuleHandleW(nullptr), 0));
  ASSERT_TRUE(hook);
  ASSERT_NO_FATAL_FAILURE(Load());
  ASSERT_EQ(open(), 1);
  EXPECT_EQ(start(host.hwnd(), 0), 0);
  hook.reset();
  EXPECT_EQ(::FindWindowW(kHiddenClass, kHiddenTitle), nullptr);
  const unsigned readsBefore = driver.Stats().reads;
  hkbtest::PumpFor(400ms);  // a thread timer of this thread would tick here
  EXPECT_EQ(driver.Stats().reads, readsBefore) << "something polls without the hidden window";
}

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
  HoldingProcess() : m_process(hkbtest::StartProgram(HostCommand(L"inert", m_result))) {}
  ~HoldingProcess() {
    m_release.set();
    if (m_process) ::WaitForSingleObject(m_process.get(), 30000);
    ::DeleteFileW(m_result.c_str());
  }
  HoldingProcess(const HoldingProcess&) = delete;
  HoldingProcess& operator=(const HoldingProcess&) = delete;

  bool WaitLoaded() {
    return hkbtest::PumpUntil([&] { return m_loaded.is_set(); }, kPatience);
  }
  // Lets it unload and end; its exit code.
  int Release() {
    m_release.set();
    hkbtest::PumpUntil([&] { return ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0; }, kPatience);
    return hkbtest::ExitCodeOf(m_process.get());
  }
  const std::wstring& result() const { return m_result; }

 private:
  hkb::Event m_loaded = hkb::Event::create(true, false, L"HKBPS2Test.Host.Loaded");
  hkb::Event m_release = hkb::Event::create(true, false, L"HKBPS2Test.Host.Release");
  std::wstring m_result = hkbtest::TempFilePath(L"ps2");
  hkb::UniqueHandle m_process;
};

// A process that loads the library while another holds it: no worker, no
// window, nothing opened, and no polling (Start gives 0: it has no hidden window).
void ExpectInert(std::map<std::string, std::string> r) {
  EXPECT_EQ(r["open"], "1") << "type 0: nothing to open, success";
  EXPECT_EQ(r["start"], "0") << "no hidden window to carry the poll timer";
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
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 11, 1}}));
  ASSERT_EQ(second.Release(), 0);
  ExpectInert(ReadResult(second.result()));
  // After the second process let go, this one still polls.
  ASSERT_TRUE(driver.Queue({Kind5(12)}));
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 11, 1}, {kButton, 12, 1}}));
}

TEST_F(Ps2, WhileAnyProcessHoldsTheLibraryNewLoadersStayInert) {
  ASSERT_NO_FATAL_FAILURE(Polling());
  HoldingProcess second;
  ASSERT_TRUE(second.WaitLoaded());
  Unload();  // the initialising process lets go first
  ASSERT_TRUE(driver.Reset());
  const std::wstring result = hkbtest::TempFilePath(L"ps2");
  ASSERT_EQ(hkbtest::RunProgram(HostCommand(L"probe", result)), 0);
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
  EXPECT_EQ(MessagesAfterQueueDrained(), (std::vector<Msg>{{kButton, 13, 1}}));
}

// Hidden windows of the library in any process.
int HiddenWindowsOnTheDesktop() {
  int count = 0;
  ::EnumWindows(
      [](HWND wnd, LPARAM param) -> BOOL {
        wchar_t cls[64] = {};
        if (::GetClassNameW(wnd, cls, 64) && std::wcscmp(cls, kHiddenClass) == 0)
          ++*reinterpret_cast<int*>(param);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// Processes that load the library at the same moment: exactly one of them
// initialises (one worker, one hidden window, one device opened, one Start
// that arms polling), round after round.
TEST(Ps2Processes, LoadingAtTheSameMomentElectsExactlyOne) {
  ASSERT_EQ(::GetModuleHandleW(L"HKBPS2.dll"), nullptr) << "this process must not hold the library";
  Driver driver;
  std::string error;
  ASSERT_TRUE(driver.Open(&error)) << error;
  ASSERT_TRUE(driver.Reset());
  constexpr int kRounds = 10;
  constexpr int kProcesses = 4;
  int roundsWithMore = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    hkb::UniqueHandle ready(::CreateSemaphoreW(nullptr, 0, kProcesses, L"HKBPS2Test.Race.Ready"));
    hkb::UniqueHandle loaded(::CreateSemaphoreW(nullptr, 0, kProcesses, L"HKBPS2Test.Race.Loaded"));
    hkb::Event go = hkb::Event::create(true, false, L"HKBPS2Test.Race.Go");
    hkb::Event end = hkb::Event::create(true, false, L"HKBPS2Test.Race.End");
    ASSERT_TRUE(ready && loaded && go && end);
    go.reset();
    end.reset();

    std::vector<std::wstring> results;
    std::vector<hkb::UniqueHandle> processes;
    for (int i = 0; i < kProcesses; ++i) {
      results.push_back(hkbtest::TempFilePath(L"ps2"));
      processes.push_back(hkbtest::StartProgram(HostCommand(L"race", results.back())));
      ASSERT_TRUE(processes.back());
    }
    auto waitAll = [&](HANDLE semaphore) {
      int got = 0;
      hkbtest::PumpUntil(
          [&] {
            while (got < kProcesses && ::WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) ++got;
            return got == kProcesses;
          },
          60s);
      return got;
    };
    ASSERT_EQ(waitAll(ready.get()), kProcesses) << "not every process got ready";
    const unsigned opensBefore = driver.Stats().opens;  // each process has opened its control handle
    go.set();                                           // all of them load now
    ASSERT_EQ(waitAll(loaded.get()), kProcesses) << "not every process loaded the library";
    const int windows = HiddenWindowsOnTheDesktop();
    const unsigned opens = driver.Stats().opens - opensBefore;
    end.set();
    for (const auto& p : processes) {
      ASSERT_EQ(::WaitForSingleObject(p.get(), 60000), WAIT_OBJECT_0);
      EXPECT_EQ(hkbtest::ExitCodeOf(p.get()), 0);
    }
    int starts = 0, owners = 0, workers = 0;
    for (const std::wstring& path : results) {
      auto r = ReadResult(path);
      ::DeleteFileW(path.c_str());
      starts += r["start"] == "1";
      owners += r["own_hidden_window"] == "1";
      workers += std::atoi(r["worker_threads"].c_str());
    }
    EXPECT_EQ(windows, 1) << "hidden windows while all held the library";
    EXPECT_EQ(opens, 1u) << "processes that opened the device";
    EXPECT_EQ(workers, 1) << "worker threads";
    EXPECT_EQ(owners, 1);
    EXPECT_EQ(starts, 1) << "Starts that armed polling";
    roundsWithMore += windows > 1 || opens > 1;
  }
  std::printf("%d of %d rounds had more than one initialising process\n", roundsWithMore, kRounds);
}

struct VersionCase {
  const char* wineVersion;
  const char* reported;  // major.minor.build as GetVersionExW returns it
  const char* device;    // "filter", "vxd" or "none"
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.wineVersion; }

const VersionCase kVersions[] = {
    {"win2k", "5.0.2195", "filter"}, {"winxp", "5.1.2600", "filter"}, {"win2003", "5.2.3790", "none"},
    {"vista", "6.0.6002", "filter"}, {"win7", "6.1.7601", "filter"},  {"win10", "6.2.9200", "filter"},
    {"nt40", "4.0.1381", "filter"},  {"win98", "4.10.2222", "vxd"},   {"winme", "4.90.3000", "vxd"},
};

class Releases : public Ps2, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(Releases, ChooseTheDevice) {
  const VersionCase& c = GetParam();
  std::wstring version(c.wineVersion, c.wineVersion + std::strlen(c.wineVersion));
  // A copy under its own name, so that the per-program Windows version applies to it alone.
  const std::wstring exeName = L"hkbps2_host_" + version + L".exe";
  const std::wstring exe = hkbtest::StandinFile(exeName);
  hkbtest::ScopedFileCopy copy(hkbtest::StandinFile(L"hkbps2_host.exe"), exe);
  ASSERT_TRUE(copy.ok()) << copy.error();
  const std::wstring appKey = L"Software\\Wine\\AppDefaults\\" + exeName;
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, appKey));
  hkbtest::ScopedRegValue versionValue(HKEY_CURRENT_USER, appKey, L"Version",
                                       std::optional<std::wstring>(version));
  ASSERT_TRUE(versionValue.ok());

  const std::wstring result = hkbtest::TempFilePath(L"ps2");
  ASSERT_EQ(hkbtest::RunProgram(L"\"" + exe + L"\" probe \"" + DllPath() + L"\" \"" + result + L"\""), 0);
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
                         [](const auto& info) { return std::string(info.param.wineVersion); });

}  // namespace
