// The lifecycle through the shipped library: the reference count and the
// refresh thread, the first pass and its catalogue file, the exit event during
// the first pass, back-to-back passes, a changed package reread, repeated
// cycles, a missing catalogue folder, and processes of one executable name
// taking the owner and follower roles. The refresh runs against the stand-in
// package manager and Start Menu trees in folders of the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app_name_list.h"
#include "hkb/com.h"
#include "package_manager.h"
#include "pm_support.h"

namespace {

using hkbhtest::HkbHelperDll;
using hkbhtest::HostProcess;
using hkbhtest::ScopedFolder;
using hkbhtest::ScopedPackageManager;
using hkbhtest::ScopedUserFolders;
using hkbtest::WaitUntil;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

constexpr wchar_t kSettings[] = L"Software\\ZEV\\ZEVHKB\\HkbHelper";

std::wstring BaseName() {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring name = std::wcsrchr(exe, L'\\') + 1;
  return name.substr(0, name.find(L'.'));
}

std::wstring ExitEventName(DWORD pid) {
  return L"Local\\QRH_Event_Exit_RefreshThread" + std::to_wstring(pid);
}

bool Exists(const std::wstring& kernel_object, bool is_mutex) {
  hkb::UniqueHandle h(is_mutex ? ::OpenMutexW(SYNCHRONIZE, FALSE, kernel_object.c_str())
                               : ::OpenEventW(SYNCHRONIZE, FALSE, kernel_object.c_str()));
  return static_cast<bool>(h);
}

// The catalogue a file holds, as lines of records.
Lines Saved(const std::wstring& path) {
  CHkbhAppNameList list;
  if (FAILED(list.Load(path.c_str()))) return {"(unreadable)"};
  return hkbhtest::Dump(list);
}

std::string Text(const std::wstring& path) { return hkbtest::ReadFileBytes(path); }

std::string SystemMessage(DWORD code) {
  char text[512] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
  return text;
}

class Lifecycle : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pm.ok() && m_visibility.ok());
    ASSERT_TRUE(m_dll.Initialize && m_dll.Finalize);
    m_base = BaseName();
    m_debug.emplace(HKEY_LOCAL_MACHINE, kSettings, L"DebugLog", hkbtest::RegDword(1));
  }
  void TearDown() override {
    while (m_initialized-- > 0) m_dll.Finalize();
  }
  HRESULT Initialize() {
    const HRESULT hr = m_dll.Initialize();
    if (SUCCEEDED(hr)) ++m_initialized;
    return hr;
  }
  void Finalize() {
    m_dll.Finalize();
    if (m_initialized > 0) --m_initialized;
  }
  void Interval(DWORD minutes) {
    m_interval.emplace(HKEY_LOCAL_MACHINE, kSettings, L"RefreshInterval", hkbtest::RegDword(minutes));
  }
  std::wstring Log() const { return m_users.Log(m_base); }
  size_t LogLines(const std::string& needle) const { return hkbhtest::CountLines(Log(), needle); }
  // Packages served from folders whose manifests declare the given apps.
  void Serve(const std::vector<std::pair<std::string, std::vector<std::string>>>& packages,
             const std::string& extra = {}) {
    std::string scenario = extra;
    for (const auto& [family, apps] : packages) {
      const std::wstring folder = m_pm.folder().file(hkbtest::Wide(family));
      ASSERT_TRUE(hkbhtest::WriteManifest(folder, apps));
      scenario += hkbhtest::PackageLine(family, "1.0.0.0", folder);
    }
    m_pm.SetScenario(scenario);
  }
  void Shortcut(const std::wstring& path) {
    ASSERT_TRUE(hkbhtest::MakeFolders(path.substr(0, path.rfind(L'\\'))));
    ASSERT_TRUE(hkbtest::WriteFileBytes(path, "[InternetShortcut]\r\n"));
  }

  ScopedUserFolders m_users;
  ScopedPackageManager m_pm;
  hkbtest::AppVisibilityStandin m_visibility;
  HkbHelperDll m_dll;
  std::wstring m_base;
  std::optional<hkbtest::ScopedRegValue> m_debug;
  std::optional<hkbtest::ScopedRegValue> m_interval;
  int m_initialized = 0;
};

// Two initializations and one finalization leave the refresh running; the
// second stops it; one too many keeps the count at 0. With an interval of 0
// the passes follow each other.
TEST_F(Lifecycle, ReferenceCountStartsAndStopsTheRefreshThread) {
  Interval(0);
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}});
  // The log folder is the catalogue folder: made beforehand, it keeps the
  // entries of the first initialization too.
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(m_base)));
  const std::wstring event = ExitEventName(::GetCurrentProcessId());
  const auto passes = [&] { return m_pm.Count("FindPackagesByUserSecurityId"); };

  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_EQ(Initialize(), S_OK);
  EXPECT_TRUE(Exists(event, false));
  ASSERT_TRUE(WaitUntil([&] { return passes() >= 3; })) << "back-to-back passes";

  Finalize();
  EXPECT_TRUE(Exists(event, false)) << "one finalization of two stops nothing";
  const size_t seen = passes();
  EXPECT_TRUE(WaitUntil([&] { return passes() > seen + 1; })) << "the refresh goes on";

  Finalize();
  EXPECT_FALSE(Exists(event, false));
  EXPECT_EQ(LogLines("CHkbhPackageManager::RefreshThread OUT : nRet(0x00000000)"), 1u);
  const size_t stopped = passes();

  Finalize();  // one too many
  EXPECT_EQ(LogLines("HkbhFinalize OUT : s_nCount(0)"), 2u);
  EXPECT_EQ(passes(), stopped);
  ASSERT_EQ(Initialize(), S_OK) << "the count starts from 0 again";
  EXPECT_EQ(LogLines("HkbhInitialize OUT(0) : s_nCount(1)"), 2u);
  EXPECT_TRUE(Exists(event, false));
  EXPECT_EQ(LogLines("CHkbhPackageManager::Initialize CreateMutex() success."), 2u);
  Finalize();
  EXPECT_FALSE(Exists(event, false));
}

TEST_F(Lifecycle, FirstPassSavesPackagesAndShortcuts) {
  // A package whose install folder the platform cannot give is left out, the
  // platform's error traced with its message.
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Example Notes"}},
         {"Example.Clips_1a2b3c4d5e6f7", {"Clips", "Clip Viewer"}}},
        hkbhtest::PackageLine("Example.Broken_1a2b3c4d5e6f7", "1.0.0.0", L""));
  const std::wstring common = m_users.CommonPrograms();
  const std::wstring user = m_users.UserPrograms();
  Shortcut(common + L"\\Notes Editor.lnk");
  Shortcut(common + L"\\Tools\\Deep\\Disk Check.lnk");
  Shortcut(common + L"\\Tools\\Vendor Site.url");
  Shortcut(common + L"\\.lnk");           // no name: not added
  Shortcut(common + L"\\readme.txt");     // not a shortcut
  Shortcut(common + L"\\Folder.lnk\\x");  // a folder is no shortcut
  Shortcut(user + L"\\Mail.LNK");

  ASSERT_EQ(Initialize(), S_OK);
  const std::wstring catalogue = m_users.Catalogue(m_base);
  ASSERT_TRUE(WaitUntil([&] { return hkbtest::FileExists(catalogue); }));
  const std::string c = hkbtest::Utf8(common), u = hkbtest::Utf8(user);
  EXPECT_EQ(Saved(catalogue),
            (Lines{
                "P Example.Notes_1a2b3c4d5e6f7 1.0.0.0 reserve=0 installed=1",
                "  A [example notes] [s-example notes] [] []",
                "P Example.Clips_1a2b3c4d5e6f7 1.0.0.0 reserve=0 installed=1",
                "  A [clips] [s-clips] [] []",
                "  A [clip viewer] [s-clip viewer] [] []",
                "D [notes editor] [" + c + "\\Notes Editor.lnk] [] [] reserve=0 installed=1 dual=0",
                "D [vendor site] [" + c + "\\Tools\\Vendor Site.url] [] [] reserve=0 installed=1 dual=0",
                "D [disk check] [" + c + "\\Tools\\Deep\\Disk Check.lnk] [] [] reserve=0 installed=1 dual=0",
                "D [mail] [" + u + "\\Mail.LNK] [] [] reserve=0 installed=1 dual=0",
            }));
  EXPECT_EQ(LogLines("CHkbhAppNameList::AddMetroPackage OUT(" + SystemMessage(ERROR_NOT_FOUND) + ")"), 1u);
  Finalize();
  // The initialization made the folder (its entries before that are lost:
  // the log lives there); the refresh thread found it made.
  EXPECT_EQ(LogLines("CHkbhPackageManager::CreateAppNameListFolder SHCreateDirectoryEx failed"), 1u);
  EXPECT_EQ(LogLines("SHCreateDirectoryEx failed. ErrCode = (183)"), 1u);
}

TEST_F(Lifecycle, ExitEventDuringTheFirstPassSkipsTheSaveAndReleasesTheMutex) {
  const std::wstring gate_name = L"Local\\hkbh_gate_" + std::to_wstring(::GetCurrentProcessId());
  hkb::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, gate_name.c_str()));
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}}, "gate\t" + hkbtest::Utf8(gate_name) + "\n");
  Shortcut(m_users.CommonPrograms() + L"\\Notes Editor.lnk");
  const std::wstring mutex = L"HkbHelper_" + m_base;

  ASSERT_EQ(Initialize(), S_OK);
  // The pass is in the package enumeration, held at the gate.
  ASSERT_TRUE(WaitUntil([&] { return m_pm.Count("FindPackagesByUserSecurityId") == 1; }));
  EXPECT_TRUE(Exists(mutex, true));
  hkb::UniqueHandle exit_event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ExitEventName(::GetCurrentProcessId()).c_str()));
  ASSERT_TRUE(exit_event);
  ASSERT_TRUE(::SetEvent(exit_event.get()));
  ::SetEvent(gate.get());

  EXPECT_TRUE(WaitUntil([&] { return !Exists(mutex, true); })) << "the mutex is released";
  ASSERT_TRUE(
      WaitUntil([&] { return LogLines("CHkbhPackageManager::RefreshThread OUT : nRet(0x00000000)") == 1; }));
  EXPECT_FALSE(hkbtest::FileExists(m_users.Catalogue(m_base)));
  EXPECT_EQ(m_pm.Count("InstalledLocation"), 0u) << "stopped before the first package";
  EXPECT_EQ(LogLines("CHkbhPackageManager::RefreshDesktopApps("), 0u) << "stopped before the trees";
  Finalize();
}

// A Start Menu root that does not fit its buffer ends the refresh thread
// before any pass, and the mutex is released.
TEST_F(Lifecycle, StartMenuRootTooLongEndsTheThreadWithoutAPass) {
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(m_base)));
  hkbtest::ScopedEnv roaming(L"APPDATA", L"C:\\" + std::wstring(270, L'r'));
  ASSERT_EQ(Initialize(), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return !Exists(L"HkbHelper_" + m_base, true); }));
  EXPECT_TRUE(
      WaitUntil([&] { return LogLines("CHkbhPackageManager::RefreshThread OUT : nRet(0x000007DB)") == 1; }));
  Finalize();
  EXPECT_EQ(m_pm.Count("FindPackagesByUserSecurityId"), 0u);
  EXPECT_FALSE(hkbtest::FileExists(m_users.Catalogue(m_base)));
}

// When a platform call holds the refresh thread beyond Finalize's bound,
// Finalize still does not return before the thread has ended.
TEST_F(Lifecycle, FinalizeOutwaitsAThreadHeldByThePlatform) {
  const std::wstring gate_name = L"Local\\hkbh_gate_" + std::to_wstring(::GetCurrentProcessId());
  hkb::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, gate_name.c_str()));
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}}, "gate\t" + hkbtest::Utf8(gate_name) + "\n");
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(m_base)));
  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return m_pm.Count("FindPackagesByUserSecurityId") == 1; }));

  std::atomic<bool> returned{false};
  std::thread finalizing([&] {
    Finalize();
    returned = true;
  });
  // About 10 s for the first pass, then 30 s for the thread: both run out.
  const bool waited_on =
      WaitUntil([&] { return LogLines("RefreshThread has not ended in 30000 ms") == 1; }, 90s);
  EXPECT_TRUE(waited_on);
  EXPECT_FALSE(returned.load()) << "Finalize returned while the thread was held";
  ::SetEvent(gate.get());
  finalizing.join();
  EXPECT_EQ(LogLines("CHkbhPackageManager::RefreshThread OUT : nRet(0x00000000)"), 1u);
  EXPECT_FALSE(hkbtest::FileExists(m_users.Catalogue(m_base))) << "the stopped pass saves nothing";
}

// An unchanged package is never read again; one whose version changed is
// reread, once, from its new manifest.
TEST_F(Lifecycle, ChangedVersionIsRereadUnchangedIsNot) {
  Interval(0);
  Serve({{"Example.Alpha_1a2b3c4d5e6f7", {"Alpha"}}, {"Example.Beta_1a2b3c4d5e6f7", {"Beta"}}});
  const std::wstring catalogue = m_users.Catalogue(m_base);
  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return Text(catalogue).find("beta") != std::string::npos; }));

  const std::wstring beta = m_pm.folder().file(L"Example.Beta_1a2b3c4d5e6f7");
  ASSERT_TRUE(hkbhtest::WriteManifest(beta, {"Gamma"}));
  m_pm.SetScenario(hkbhtest::PackageLine("Example.Alpha_1a2b3c4d5e6f7", "1.0.0.0",
                                         m_pm.folder().file(L"Example.Alpha_1a2b3c4d5e6f7")) +
                   hkbhtest::PackageLine("Example.Beta_1a2b3c4d5e6f7", "2.0.0.10", beta));
  ASSERT_TRUE(WaitUntil([&] { return Text(catalogue).find("gamma") != std::string::npos; }));
  const size_t seen = m_pm.Count("FindPackagesByUserSecurityId");
  ASSERT_TRUE(WaitUntil([&] { return m_pm.Count("FindPackagesByUserSecurityId") >= seen + 2; }));
  Finalize();

  EXPECT_EQ(m_pm.Count("InstalledLocation", "Example.Alpha_1a2b3c4d5e6f7"), 1u);
  EXPECT_EQ(m_pm.Count("InstalledLocation", "Example.Beta_1a2b3c4d5e6f7"), 2u);
  const Lines saved = Saved(catalogue);
  EXPECT_NE(
      std::find(saved.begin(), saved.end(), "P Example.Beta_1a2b3c4d5e6f7 2.0.0.10 reserve=0 installed=1"),
      saved.end());
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "  A [gamma] [s-gamma] [] []"), 1);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "  A [beta] [s-beta] [] []"), 0);
}

// Repeated cycles load the catalogue anew each time without adding to what
// the previous cycle left, and leave no handles behind.
TEST_F(Lifecycle, RepeatedCyclesKeepNoDuplicatesAndNoHandles) {
  m_debug.reset();  // the cycles run with the log off
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}, {"Example.Clips_1a2b3c4d5e6f7", {"Clips"}}});
  Shortcut(m_users.CommonPrograms() + L"\\Notes Editor.lnk");
  const std::wstring catalogue = m_users.Catalogue(m_base);
  const std::wstring event = ExitEventName(::GetCurrentProcessId());
  const std::wstring mutex = L"HkbHelper_" + m_base;

  // A first cycle with a full pass writes the catalogue file.
  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return hkbtest::FileExists(catalogue); }));
  Finalize();
  const Lines first = Saved(catalogue);
  ASSERT_EQ(first.size(), 5u);

  // Cycles stopped at the thread's start delay: the test sets the exit event.
  const auto cycle = [&] {
    if (Initialize() != S_OK) return false;
    hkb::UniqueHandle stop(::OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()));
    if (!stop || !::SetEvent(stop.get())) return false;
    stop.reset();
    const bool released = WaitUntil([&] { return !Exists(mutex, true); }, 30s);
    Finalize();
    return released && !Exists(event, false);
  };
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(cycle());
  const DWORD handles_before = hkbtest::OpenHandlesProbed();
  const hkbtest::HeapUse heap_before = hkbtest::ProcessHeapUse();
  constexpr int kCycles = 200;
  for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  const DWORD handles_after = hkbtest::OpenHandlesProbed();
  const hkbtest::HeapUse heap_after = hkbtest::ProcessHeapUse();
  EXPECT_LE(handles_after, handles_before + 4) << "a handle kept per cycle would add " << kCycles;
  EXPECT_LE(heap_after.blocks, heap_before.blocks + 50) << "records kept per cycle would add thousands";
  std::printf("%d cycles: handles %lu -> %lu, heap blocks %zu -> %zu\n", kCycles, handles_before,
              handles_after, heap_before.blocks, heap_after.blocks);

  // A last cycle with a full pass saves what memory holds: the same records.
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const auto written = [&] {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExW(catalogue.c_str(), GetFileExInfoStandard, &data);
    return ticks(data.ftLastWriteTime);
  };
  const ULONGLONG before = written();
  // A later save is seen as a later write time once the clock has passed this one.
  ASSERT_TRUE(WaitUntil([&] {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return ticks(now) > before;
  }));
  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return written() != before; }));
  Finalize();
  EXPECT_EQ(Saved(catalogue), first);
}

// Without a catalogue folder (LOCALAPPDATA that does not fit) the preset file
// is loaded and nothing is saved, neither there nor in the root folder of the
// drive.
TEST_F(Lifecycle, NoCatalogueFolderLoadsThePresetAndSavesNothing) {
  Interval(0);
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}});
  ScopedFolder host_folder;
  const std::wstring exe = host_folder.file(L"HkbhNoFolder.exe");
  ASSERT_TRUE(::CopyFileW(hkbtest::StandinFile(L"hkbh_host.exe").c_str(), exe.c_str(), FALSE));
  ASSERT_TRUE(hkbtest::WriteFileBytes(
      host_folder.file(L"PresetAppNameList.xml"),
      "<?xml version=\"1.0\"?><Applications><MetroApps/><DesktopApps/></Applications>"));
  wchar_t root[MAX_PATH];
  ASSERT_NE(::GetFullPathNameW(L"\\AppNameList.xml", MAX_PATH, root, nullptr), 0u);
  ASSERT_FALSE(hkbtest::FileExists(root));
  hkbtest::ScopedEnv local(L"LOCALAPPDATA", L"C:\\" + std::wstring(300, L'l'));

  HostProcess host(exe, host_folder, host_folder.path());
  ASSERT_TRUE(host.started());
  const std::string line = host.WaitInitialized();
  EXPECT_TRUE(std::regex_match(line, std::regex("init 0x00000000 [0-9]+ thread=1"))) << line;
  // Two passes have ended (the first has reached its save step).
  ASSERT_TRUE(WaitUntil([&] { return m_pm.Count("FindPackagesByUserSecurityId") >= 2; }));
  EXPECT_EQ(host.Stop(), 0u);
  const std::wstring log = host_folder.file(L"HkbHelperLog.txt");  // the log kept its relative path
  EXPECT_EQ(hkbhtest::CountLines(
                log, "CHkbhAppNameList::Load(" + hkbtest::Utf8(host_folder.file(L"PresetAppNameList.xml"))),
            1u);
  EXPECT_GE(hkbhtest::CountLines(
                log, "CHkbhPackageManager::RefreshThread No catalogue folder: the catalogue is not saved."),
            1u);
  EXPECT_EQ(hkbhtest::CountLines(log, "CHkbhAppNameList::Save("), 0u);
  EXPECT_FALSE(hkbtest::FileExists(root));
  EXPECT_FALSE(hkbtest::FileExists(host_folder.file(L"AppNameList.xml")));
}

// Processes of one executable name: the first owns the refresh; one that
// starts during that first pass follows (preset after 0.5 s, the catalogue
// file existing) without a thread; one that starts after it owns a refresh of
// its own and loads the catalogue file.
TEST_F(Lifecycle, SecondProcessFollowsDuringTheFirstPassOneAfterItOwns) {
  const std::wstring gate_name = L"Local\\hkbh_gate_" + std::to_wstring(::GetCurrentProcessId());
  hkb::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, gate_name.c_str()));
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}}, "gate\t" + hkbtest::Utf8(gate_name) + "\n");
  ScopedFolder host_folder;
  const std::wstring base = L"HkbhLife";
  const std::wstring exe = host_folder.file(base + L".exe");
  ASSERT_TRUE(::CopyFileW(hkbtest::StandinFile(L"hkbh_host.exe").c_str(), exe.c_str(), FALSE));
  const std::wstring preset = host_folder.file(L"PresetAppNameList.xml");
  ASSERT_TRUE(hkbtest::WriteFileBytes(preset, "<Applications><DesktopApps/></Applications>"));
  const std::wstring catalogue = m_users.Catalogue(base);
  ASSERT_TRUE(hkbhtest::MakeFolders(m_users.CatalogueFolder(base)));
  ASSERT_TRUE(hkbtest::WriteFileBytes(catalogue, "<Applications><DesktopApps/></Applications>"));
  const std::wstring log = m_users.Log(base);
  const std::string load_preset = "CHkbhAppNameList::Load(" + hkbtest::Utf8(preset) + ")";
  const std::string load_catalogue = "CHkbhAppNameList::Load(" + hkbtest::Utf8(catalogue) + ")";
  const std::string owner = "CHkbhPackageManager::Initialize CreateMutex() success.";

  HostProcess first(exe, host_folder);
  ASSERT_TRUE(first.started());
  EXPECT_NE(first.WaitInitialized().find("thread=1"), std::string::npos) << first.Results();
  ASSERT_TRUE(WaitUntil([&] { return m_pm.Count("FindPackagesByUserSecurityId") == 1; }))
      << "held in the first pass";

  HostProcess second(exe, host_folder);
  const std::string line = second.WaitInitialized();
  std::smatch m;
  const std::regex shape("init 0x00000000 ([0-9]+) thread=0");
  ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
  EXPECT_GE(std::stoul(m[1]), 450u) << "five probes of the mutex, 100 ms apart";
  EXPECT_EQ(hkbhtest::CountLines(log, load_preset), 1u);
  EXPECT_EQ(hkbhtest::CountLines(log, load_catalogue), 1u) << "the first loaded the catalogue file";
  EXPECT_EQ(hkbhtest::CountLines(log, owner), 1u);

  ::SetEvent(gate.get());
  ASSERT_TRUE(WaitUntil([&] { return !Exists(L"HkbHelper_" + base, true); })) << "the first pass ends";
  HostProcess third(exe, host_folder);
  EXPECT_NE(third.WaitInitialized().find("thread=1"), std::string::npos) << third.Results();
  EXPECT_EQ(hkbhtest::CountLines(log, owner), 2u);
  EXPECT_EQ(hkbhtest::CountLines(log, load_catalogue), 2u);
  EXPECT_EQ(hkbhtest::CountLines(log, load_preset), 1u);

  for (HostProcess* host : {&first, &second, &third}) EXPECT_EQ(host->Stop(), 0u) << host->Results();
  for (const auto& r : m_pm.Records())
    EXPECT_NE(r[1], std::to_string(second.pid())) << "the follower asks nothing";
}

// The Start Menu walk ends every folder search it starts: over back-to-back
// passes through 201 folders the process heap does not grow. (A search closed
// the wrong way keeps its memory: thousands of blocks over these passes.)
TEST_F(Lifecycle, StartMenuWalkKeepsNothingPerPass) {
  m_debug.reset();  // the passes run with the log off
  Interval(0);
  Serve({{"Example.Notes_1a2b3c4d5e6f7", {"Notes"}}});
  const std::wstring common = m_users.CommonPrograms();
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(hkbhtest::MakeFolders(common + L"\\F" + std::to_wstring(i)));
  Shortcut(common + L"\\F7\\Notes Editor.lnk");
  const auto passes = [&] { return m_pm.Count("FindPackagesByUserSecurityId"); };
  // Runs the refresh until `more` further passes have begun, and stops it.
  const auto run = [&](size_t more) {
    const size_t from = passes();
    if (Initialize() != S_OK) return false;
    const bool ran = WaitUntil([&] { return passes() >= from + more; }, 300s);
    Finalize();
    return ran;
  };
  ASSERT_TRUE(run(2));
  const hkbtest::HeapUse before = hkbtest::ProcessHeapUse();
  ASSERT_TRUE(run(12)) << "at least 11 whole passes";
  const hkbtest::HeapUse after = hkbtest::ProcessHeapUse();
  EXPECT_LE(after.blocks, before.blocks + 100) << "one search kept per folder and pass would add over 2,000";
  std::printf("heap blocks %zu -> %zu over %zu passes\n", before.blocks, after.blocks, passes());
  EXPECT_EQ(Saved(m_users.Catalogue(m_base)).size(), 3u) << "one package, its app and the one shortcut";
}

// Folder links in the Start Menu trees are not entered, whether they point at
// their own folder, back up the tree, or at the tree's root: each shortcut is
// catalogued once, under its real path.
TEST_F(Lifecycle, FolderLinksInTheStartMenuAreNotFollowed) {
  Serve({});
  const std::wstring common = m_users.CommonPrograms();
  const std::wstring user = m_users.UserPrograms();
  Shortcut(common + L"\\Notes Editor.lnk");
  Shortcut(common + L"\\Tools\\Disk Check.lnk");
  Shortcut(user + L"\\Mail.lnk");
  hkbhtest::ScopedFolderLink self(common + L"\\Tools", L"Loop", L".");
  hkbhtest::ScopedFolderLink up(common + L"\\Tools", L"Back Up", L"..");
  hkbhtest::ScopedFolderLink root(user, L"Again", L".");
  ASSERT_TRUE(self.ok() && up.ok() && root.ok()) << "folder links could not be made";

  ASSERT_EQ(Initialize(), S_OK);
  const std::wstring catalogue = m_users.Catalogue(m_base);
  ASSERT_TRUE(WaitUntil([&] { return hkbtest::FileExists(catalogue); }));
  Finalize();
  const std::string c = hkbtest::Utf8(common), u = hkbtest::Utf8(user);
  EXPECT_EQ(Saved(catalogue),
            (Lines{
                "D [notes editor] [" + c + "\\Notes Editor.lnk] [] [] reserve=0 installed=1 dual=0",
                "D [disk check] [" + c + "\\Tools\\Disk Check.lnk] [] [] reserve=0 installed=1 dual=0",
                "D [mail] [" + u + "\\Mail.lnk] [] [] reserve=0 installed=1 dual=0",
            }));
  EXPECT_EQ(LogLines("CHkbhPackageManager::RefreshDesktopApps Link not followed"), 3u);
}

// The walk goes no deeper than its bound: the shortcut in the deepest folder
// it enters is catalogued, one in a folder a level deeper is not.
TEST_F(Lifecycle, StartMenuWalkStopsAtItsDepthBound) {
  Serve({});
  std::wstring folder = m_users.UserPrograms();
  for (int depth = 1; depth <= CHkbhPackageManager::kMaxStartMenuDepth + 1; ++depth) {
    folder += L"\\d";
    if (depth >= CHkbhPackageManager::kMaxStartMenuDepth)
      Shortcut(folder + L"\\Level " + std::to_wstring(depth) + L".lnk");
  }
  ASSERT_EQ(Initialize(), S_OK);
  const std::wstring catalogue = m_users.Catalogue(m_base);
  ASSERT_TRUE(WaitUntil([&] { return hkbtest::FileExists(catalogue); }));
  Finalize();
  const Lines saved = Saved(catalogue);
  ASSERT_EQ(saved.size(), 1u) << ::testing::PrintToString(saved);
  EXPECT_EQ(saved[0].substr(0, saved[0].find(']') + 1),
            "D [level " + std::to_string(CHkbhPackageManager::kMaxStartMenuDepth) + "]");
}

// A host that unloads the library without finalizing it: the refresh thread
// keeps the library's code loaded and finishes its pass.
TEST(Unload, WithoutFinalizeTheRefreshThreadKeepsItsCode) {
  ScopedUserFolders users;
  ScopedPackageManager pm;
  hkbtest::AppVisibilityStandin visibility;
  ASSERT_TRUE(pm.ok() && visibility.ok());
  pm.SetScenario("");
  const std::wstring base = BaseName();
  {
    HkbHelperDll dll;
    ASSERT_TRUE(dll.Initialize);
    ASSERT_EQ(dll.Initialize(), S_OK);
  }  // FreeLibrary
  EXPECT_NE(::GetModuleHandleW(L"HkbHelper.dll"), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return hkbtest::FileExists(users.Catalogue(base)); }))
      << "the pass ran to its save";
  EXPECT_TRUE(WaitUntil([&] { return !Exists(L"HkbHelper_" + base, true); }));
}

// A refresh over 2,000 packages and 2,000 shortcuts while another thread runs
// exclusion queries without pause: every answer is consistent (no entry that
// is not a catalogued name, none twice, never fewer than before, the exact
// match always found).
TEST_F(Lifecycle, ExclusionQueriesDuringALargeRefreshStayConsistent) {
  m_debug.reset();
  constexpr int kPackages = 2000, kShortcuts = 2000, kManifests = 10;
  std::string scenario;
  for (int m = 0; m < kManifests; ++m)
    ASSERT_TRUE(hkbhtest::WriteManifest(m_pm.folder().file(L"m" + std::to_wstring(m)),
                                        {"Paint Tool " + std::to_string(m)}));
  for (int i = 0; i < kPackages; ++i)
    scenario += hkbhtest::PackageLine("Example.P" + std::to_string(i) + "_1a2b3c4d5e6f7", "1.0.0.0",
                                      m_pm.folder().file(L"m" + std::to_wstring(i % kManifests)));
  m_pm.SetScenario(scenario + "record\tInstalledLocation\n");
  for (int i = 0; i < kShortcuts; ++i) {
    wchar_t name[64];
    std::swprintf(name, 64, L"\\Paint Shortcut %04d.lnk", i);
    ASSERT_TRUE(
        hkbtest::WriteFileBytes((i % 2 ? m_users.CommonPrograms() : m_users.UserPrograms()) + name, ""));
  }
  Shortcut(m_users.CommonPrograms() + L"\\Paint.lnk");

  // The package manager of the library itself, in this process, so that its
  // catalogue can be queried as the search launch queries it.
  CHkbhPackageManager manager;
  ASSERT_EQ(manager.Initialize(), S_OK);
  std::atomic<bool> done{false};
  std::atomic<int> queries{0};  // answered while the catalogue was being filled
  std::string fault;
  std::thread reader([&] {
    const std::wregex valid(L"(s-)?paint tool [0-9]|paint shortcut [0-9]{4}");
    size_t last = 0;
    bool exact_seen = false;
    while (!done && fault.empty()) {
      HkbhExcludeList list;
      BOOL exact = FALSE;
      const HRESULT hr = manager.GetExcludeAppNameList(L"Paint", &list, &exact);
      std::vector<std::wstring> sorted = list;
      std::sort(sorted.begin(), sorted.end());
      if (hr != S_OK)
        fault = "result";
      else if (list.size() < last)
        fault = "fewer names than before";
      else if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        fault = "a name twice";
      else if (std::any_of(list.begin(), list.end(),
                           [&](const std::wstring& n) { return !std::regex_match(n, valid); }))
        fault = "a name that is no catalogued one";
      else if (exact_seen && !exact)
        fault = "exact match lost";
      exact_seen = exact_seen || exact;
      last = list.size();
      if (!list.empty()) ++queries;
    }
  });
  const bool saved = WaitUntil([&] { return hkbtest::FileExists(m_users.Catalogue(m_base)); }, 100s);
  done = true;
  reader.join();
  manager.Finalize();
  ASSERT_TRUE(saved);
  EXPECT_EQ(fault, "");
  EXPECT_GT(queries.load(), 0);
  HkbhExcludeList list;
  BOOL exact = FALSE;
  ASSERT_EQ(manager.GetExcludeAppNameList(L"Paint", &list, &exact), S_OK);
  EXPECT_EQ(list.size(), static_cast<size_t>(2 * kManifests + kShortcuts));
  EXPECT_TRUE(exact);
  EXPECT_EQ(m_pm.Count("InstalledLocation"), static_cast<size_t>(kPackages));
  std::printf("%d exclusion queries during the refresh\n", queries.load());
}

APTTYPE Apartment() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  return SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) ? type : static_cast<APTTYPE>(-2);
}

// The app-visibility service and the thread's apartment follow the reference
// count: made by the first initialization, released by the last finalization.
TEST_F(Lifecycle, AppVisibilityServiceFollowsTheReferenceCount) {
  ASSERT_EQ(Apartment(), static_cast<APTTYPE>(-2));
  ASSERT_EQ(Initialize(), S_OK);
  ASSERT_EQ(Initialize(), S_OK);
  EXPECT_EQ(m_visibility.Calls(), std::vector<std::wstring>{L"create"});
  EXPECT_TRUE(Apartment() == APTTYPE_STA || Apartment() == APTTYPE_MAINSTA);
  Finalize();
  EXPECT_EQ(m_visibility.Calls(), std::vector<std::wstring>{L"create"});
  Finalize();
  EXPECT_EQ(m_visibility.Calls(), (std::vector<std::wstring>{L"create", L"destroy"}));
  EXPECT_EQ(Apartment(), static_cast<APTTYPE>(-2)) << "COM uninitialized once";
}

// A first initialization that cannot start the app-visibility service fails
// with its result and starts nothing: no count, no refresh, COM as it was.
TEST(LifecycleWithoutAppVisibility, FirstInitializationFailsAndStartsNothing) {
  ScopedUserFolders users;
  ScopedPackageManager pm;
  ASSERT_TRUE(pm.ok());
  ASSERT_FALSE(hkbtest::KeyExists(HKEY_LOCAL_MACHINE,
                                  hkbtest::ScopedInprocServer::KeyOf(hkbtest::AppVisibilityStandin::kClsid)));
  hkbtest::ScopedRegValue debug(HKEY_LOCAL_MACHINE, kSettings, L"DebugLog", hkbtest::RegDword(1));
  ASSERT_TRUE(hkbhtest::MakeFolders(users.CatalogueFolder(BaseName())));
  const std::wstring log = users.Log(BaseName());
  HkbHelperDll dll;
  ASSERT_TRUE(dll.Initialize && dll.Finalize);
  struct Case {
    const char* what;
    std::optional<DWORD> apartment;  // none: the thread has no apartment
    HRESULT result;
    const char* trace;
  } const cases[] = {
      {"class not registered", std::nullopt, REGDB_E_CLASSNOTREG,
       "HkbhInitialize OUT(s_MonitorMode.Initialize : hr=-2147221164)"},
      {"multithreaded caller", COINIT_MULTITHREADED, RPC_E_CHANGED_MODE,
       "CHkbhMonitorMode::Initialize OUT CoInitializeEx:(-2147417850)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::thread caller([&] {
      std::optional<hkb::ComInit> com;
      if (c.apartment) com.emplace(*c.apartment);
      const APTTYPE before = Apartment();
      EXPECT_EQ(dll.Initialize(), c.result);
      EXPECT_EQ(Apartment(), before);
      EXPECT_FALSE(Exists(ExitEventName(::GetCurrentProcessId()), false));
      dll.Finalize();
    });
    caller.join();
    EXPECT_EQ(hkbhtest::CountLines(log, c.trace), 1u);
  }
  EXPECT_EQ(hkbhtest::CountLines(log, "HkbhFinalize OUT : s_nCount(0)"), 2u);
  EXPECT_EQ(hkbhtest::CountLines(log, "CHkbhPackageManager::Initialize IN"), 0u);
  EXPECT_EQ(pm.Records().size(), 0u);
}

}  // namespace
