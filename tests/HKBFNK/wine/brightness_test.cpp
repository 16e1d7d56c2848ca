// Brightness stepping and the power-scheme match, through the shipped DLL in
// a caller process of its own, against the WMI locator and powrprof stand-ins.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client_run.h"

namespace {

using fnktest::ClientSetup;
using fnktest::RunClient;
using fnktest::Trace;

// A panel instance name as Windows forms them: backslashes and ampersands go
// into the object path as they are.
const std::string kPanel = "DISPLAY\\SDC4C48\\4&2e0a2bd5&0&UID265988_0";
const std::string kLevels11 = "0,10,20,30,40,50,60,70,80,90,100";
const std::string kScheme = "{8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C}";

std::string Panel(const std::string& name, int current, const std::string& levels, int count) {
  return "panel name=" + name + " current=" + std::to_string(current) + " levels=" + std::to_string(count) +
         " level=" + levels + "\n";
}
std::string Panel11(int current) { return Panel(kPanel, current, kLevels11, 11); }
std::string Power(int ac, int dc, const std::string& extra = "") {
  return "power scheme=" + kScheme + " ac=" + std::to_string(ac) + " dc=" + std::to_string(dc) + " " + extra +
         "\n";
}

std::string SetLine(const std::string& panel, int level) {
  return "wmi ExecMethod path=WmiMonitorBrightnessMethods.InstanceName='" + panel +
         "' method=WmiSetBrightness flags=0x0 context=null callresult=null Brightness=vt8:" +
         std::to_string(level) + ":cim17 Timeout=vt8:0:cim19";
}

constexpr char kEnum[] = "wmi CreateInstanceEnum ";
constexpr char kSet[] = "wmi ExecMethod ";

class Brightness : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(locator.ok()) << "could not register the WMI locator stand-in"; }
  fnktest::LocatorOverride locator;
};

TEST_F(Brightness, StepsThroughTheLevelsOverOneKeptConnection) {
  const Trace t = RunClient({Panel11(50)}, {L"bright:2", L"bright:2", L"bright:3", L"bright:3", L"bright:3"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.exitCode, 0u) << "the process did not end cleanly with the library still loaded";
  EXPECT_EQ(t.Result("bright:2", 0), "7");
  EXPECT_EQ(t.Result("bright:2", 1), "8");
  EXPECT_EQ(t.Result("bright:3", 0), "7");
  EXPECT_EQ(t.Result("bright:3", 1), "6");
  EXPECT_EQ(t.Result("bright:3", 2), "5");
  const std::vector<std::string> sets = t.With(kSet);
  EXPECT_EQ(sets, (std::vector<std::string>{SetLine(kPanel, 60), SetLine(kPanel, 70), SetLine(kPanel, 60),
                                            SetLine(kPanel, 50), SetLine(kPanel, 40)}))
      << t.Text();

  // One locator, one connection to ROOT\WMI, one proxy blanket, for all calls.
  EXPECT_EQ(t.Count("wmi locator created"), 1u);
  EXPECT_EQ(t.With("wmi ConnectServer "),
            (std::vector<std::string>{"wmi ConnectServer ns=ROOT\\WMI user=null password=null locale=null "
                                      "flags=0x80 authority=null context=null"}));
  EXPECT_EQ(t.With("wmi SetBlanket "),
            (std::vector<std::string>{"wmi SetBlanket proxy=services authn=10 authz=0 principal=null level=3 "
                                      "imp=3 identity=null caps=0"}));
  // Levels once, then one brightness read per key press.
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:2", 0), kEnum), 2u);
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:2", 1), kEnum), 1u);
  for (const std::string& e : t.With(kEnum))
    EXPECT_EQ(e, "wmi CreateInstanceEnum class=WmiMonitorBrightness flags=0x30 context=null");
  // The set goes through the class's method signature.
  const std::vector<std::string> first = t.During("bright:2", 0);
  const std::vector<std::string> tail(first.end() - 6, first.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "wmi GetObject path=WmiMonitorBrightnessMethods flags=0x0 context=null callresult=null",
                      "wmi GetMethod name=WmiSetBrightness flags=0x0 out=null",
                      "wmi SpawnInstance class=__PARAMETERS flags=0x0",
                      "wmi Put name=Brightness flags=0x0 value=vt8:60 cim=17",
                      "wmi Put name=Timeout flags=0x0 value=vt8:0 cim=19", SetLine(kPanel, 60)}))
      << t.Text();
}

struct StepCase {
  const char* name;
  std::string panel;
  const wchar_t* command;
  const char* result;
  int level;                       // -1: nothing may be set
  std::string addressed = kPanel;  // the instance name in the set's object path
};

const StepCase kStepCases[] = {
    {"between, up", Panel11(55), L"bright:2", "7", 60},
    {"between, down", Panel11(55), L"bright:3", "6", 50},
    {"top, up sets the top again", Panel11(100), L"bright:2", "11", 100},
    {"first, down sets the first again", Panel11(0), L"bright:3", "1", 0},
    {"below the first, up", Panel(kPanel, 5, "20,40,60", 3), L"bright:2", "2", 40},
    {"below the first, down", Panel(kPanel, 5, "20,40,60", 3), L"bright:3", "1", 20},
    {"above the last, up", Panel(kPanel, 90, "20,40,60", 3), L"bright:2", "3", 60},
    {"above the last, down", Panel(kPanel, 90, "20,40,60", 3), L"bright:3", "2", 40},
    {"one level, up", Panel(kPanel, 10, "40", 1), L"bright:2", "1", 40},
    {"one level, down", Panel(kPanel, 90, "40", 1), L"bright:3", "1", 40},
    {"two levels, between, up", Panel(kPanel, 50, "30,70", 2), L"bright:2", "2", 70},
    {"two levels, between, down", Panel(kPanel, 50, "30,70", 2), L"bright:3", "1", 30},
    {"other direction code", Panel11(50), L"bright:4", "0", -1},
    {"direction code 0", Panel11(50), L"bright:0", "0", -1},
    // More levels stated than the list delivers: only the delivered ones count.
    {"fewer levels than stated", Panel(kPanel, 30, "10,20,30", 11), L"bright:2", "3", 30},
    // A name that does not fit its buffer addresses no panel.
    {"instance name too long", Panel(std::string(300, 'N'), 50, kLevels11, 11), L"bright:2", "0", 60, ""},
};

TEST_F(Brightness, StepsAsTheLevelListSays) {
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(c.name);
    const Trace t = RunClient({c.panel}, {c.command});
    ASSERT_TRUE(t.finished) << t.Text();
    std::string cmd(c.command, c.command + wcslen(c.command));
    EXPECT_EQ(t.Result(cmd), c.result) << t.Text();
    // The table load and the brightness read happen whatever the code.
    EXPECT_EQ(t.Count(kEnum), 2u) << t.Text();
    if (c.level >= 0) {
      EXPECT_EQ(t.With(kSet), (std::vector<std::string>{SetLine(c.addressed, c.level)})) << t.Text();
    } else {
      EXPECT_EQ(t.Count(kSet), 0u) << t.Text();
    }
  }
}

TEST_F(Brightness, TheLastPanelListedWins) {
  const std::string scenario =
      Panel("PANEL_A", 30, kLevels11, 11) + Panel("PANEL_B", 70, "10,30,50,70,90", 5);
  const Trace t = RunClient({scenario}, {L"bright:2", L"bright:3"});
  EXPECT_EQ(t.Result("bright:2"), "5");  // from 70 to 90 in the second panel's list
  EXPECT_EQ(t.Result("bright:3"), "4");  // and back to 70
  EXPECT_EQ(t.With(kSet), (std::vector<std::string>{SetLine("PANEL_B", 90), SetLine("PANEL_B", 70)}))
      << t.Text();
}

TEST_F(Brightness, WithoutAUsablePanelEveryCallFailsAndTriesAgain) {
  const struct {
    const char* name;
    std::string scenario;
  } cases[] = {
      {"no panel", ""},
      {"level count 0", Panel(kPanel, 50, kLevels11, 0)},
      {"level count missing", "panel name=P current=50 level=" + kLevels11 + "\n"},
      {"empty level list", "panel name=P current=50 levels=11 level=\n"},
      {"enumeration fails", Panel11(50) + "wmi enum=fail\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Trace t = RunClient({c.scenario}, {L"bright:2", L"bright:3"});
    ASSERT_TRUE(t.finished) << t.Text();
    EXPECT_EQ(t.Result("bright:2"), "0");
    EXPECT_EQ(t.Result("bright:3"), "0");
    EXPECT_EQ(t.Count(kSet), 0u) << t.Text();
    // Each call tries the table load again, over the one kept connection.
    EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:3"), kEnum), 1u) << t.Text();
    EXPECT_EQ(t.Count("wmi ConnectServer "), 1u);
  }
}

TEST_F(Brightness, AFailingSetGivesZeroAndKeepsTheTable) {
  const Trace t = RunClient({Panel11(50) + "wmi set=fail\n"}, {L"bright:2", L"bright:3"});
  EXPECT_EQ(t.Result("bright:2"), "0");
  EXPECT_EQ(t.Result("bright:3"), "0");
  EXPECT_EQ(t.Count(kSet), 2u) << t.Text();
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:3"), kEnum), 1u) << "the table was loaded again";
}

TEST_F(Brightness, AFailedConnectionKeepsNothingAndIsTriedAgain) {
  for (const char* failing : {"connect=fail", "blanket=fail"}) {
    SCOPED_TRACE(failing);
    const Trace t = RunClient({Panel11(50) + "wmi " + failing + "\n"}, {L"bright:2", L"bright:2"});
    EXPECT_EQ(t.Result("bright:2", 0), "0");
    EXPECT_EQ(t.Result("bright:2", 1), "0");
    EXPECT_EQ(t.Count("wmi locator created"), 2u) << t.Text();
    EXPECT_EQ(t.Count("wmi release locator"), 2u) << t.Text();
    EXPECT_EQ(t.Count("wmi release services"), std::string(failing) == "blanket=fail" ? 2u : 0u) << t.Text();
    EXPECT_EQ(t.Count(kEnum), 0u);
  }
}

TEST_F(Brightness, ReadsTheReturnValueWhenTheMethodGivesOutParameters) {
  const Trace t = RunClient({Panel11(50) + "wmi out=returnvalue\n"}, {L"bright:2"});
  EXPECT_EQ(t.Result("bright:2"), "7");
  const std::vector<std::string> during = t.During("bright:2");
  ASSERT_GE(during.size(), 2u);
  EXPECT_EQ(during[during.size() - 2], SetLine(kPanel, 60));
  EXPECT_EQ(during.back(), "wmi Get name=ReturnValue flags=0x0");
}

// ----------------------------------------------------------------- scheme

std::string PowerRead(const Trace& t) {
  const bool onMains = t.Result("power") == "1";
  return std::string("power ") + (onMains ? "PowerReadACValueIndex" : "PowerReadDCValueIndex") +
         " root=null scheme=" + kScheme +
         " subgroup={7516B95F-F776-4464-8C53-06167F40CC99} setting={ADED5E82-B909-4619-9949-F5D71DAC0BCB}";
}

TEST_F(Brightness, MatchSetsTheSchemeValueOfTheCurrentPowerSource) {
  const Trace t = RunClient({Panel11(50) + Power(70, 30)}, {L"power", L"match"});
  ASSERT_TRUE(t.finished) << t.Text();
  const int expected = t.Result("power") == "1" ? 70 : 30;
  EXPECT_EQ(t.Result("match"), "1");
  const std::vector<std::string> during = t.During("match");
  ASSERT_GE(during.size(), 2u) << t.Text();
  EXPECT_EQ(during[0], "power PowerGetActiveScheme root=null");
  EXPECT_EQ(during[1], PowerRead(t));
  EXPECT_EQ(t.With(kSet), (std::vector<std::string>{SetLine(kPanel, expected)})) << t.Text();
}

TEST_F(Brightness, MatchWithThePanelAlreadyThereLoadsAndSetsNothing) {
  const Trace t = RunClient({Panel11(40) + Power(40, 40)}, {L"match", L"bright:2"});
  EXPECT_EQ(t.Result("match"), "1");
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("match"), kEnum), 1u) << t.Text();
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("match"), kSet), 0u);
  // The table is loaded only by the next key press.
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:2"), kEnum), 2u) << t.Text();
}

TEST_F(Brightness, MatchFailsWhenTheSchemeValueIsNoLevelOrCannotBeRead) {
  const struct {
    const char* name;
    std::string power;
    bool reachesWmi;
  } cases[] = {
      {"value not among the levels", Power(65, 65), true},
      {"active scheme unreadable", Power(60, 60, "active=fail"), false},
      {"value unreadable", Power(60, 60, "read=fail"), false},
      {"no power answer at all", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Trace t = RunClient({Panel11(50) + c.power}, {L"match"});
    EXPECT_EQ(t.Result("match"), "0") << t.Text();
    EXPECT_EQ(t.Count(kSet), 0u) << t.Text();
    EXPECT_EQ(t.Count("wmi locator created"), c.reachesWmi ? 1u : 0u) << t.Text();
  }
}

TEST_F(Brightness, MatchAddressesThePanelItReadLast) {
  const std::string scenario =
      Panel("PANEL_A", 50, kLevels11, 11) + Panel("PANEL_B", 20, kLevels11, 11) + Power(80, 80);
  const Trace t = RunClient({scenario}, {L"match"});
  EXPECT_EQ(t.Result("match"), "1");
  EXPECT_EQ(t.With(kSet), (std::vector<std::string>{SetLine("PANEL_B", 80)})) << t.Text();
}

// ----------------------------------------------------------------- versions

struct VersionCase {
  const wchar_t* version;
  const char* bright;
  const char* match;
  const char* query;
  bool usesWmi;
  bool usesPower;
};

TEST_F(Brightness, VersionGatesStopBeforeAnyComOrPowerCall) {
  const VersionCase cases[] = {
      {L"win2k", "0", "0", "0", false, false}, {L"winxp", "0", "0", "0", false, false},
      {L"vista", "7", "0", "0", true, false},  {L"win7", "7", "1", "1", true, true},
      {L"win10", "7", "1", "1", true, true},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(std::string(c.version, c.version + wcslen(c.version)));
    ClientSetup s{Panel11(50) + Power(60, 60)};
    s.version = c.version;
    // The rotation has no gate; the last call checks that nothing initialised
    // COM on the caller's thread (S_OK: this is the first initialisation).
    const Trace t =
        RunClient(s, {L"bright:2", L"match", L"qdc:watch", L"query", L"sdc:watch", L"rotate", L"coinit"});
    ASSERT_TRUE(t.finished) << t.Text();
    EXPECT_EQ(t.Result("bright:2"), c.bright);
    EXPECT_EQ(t.Result("match"), c.match);
    EXPECT_EQ(t.Result("query"), c.query);
    EXPECT_EQ(t.Result("rotate"), "1");
    // Below its gate the query does not reach the display configuration.
    EXPECT_EQ(hkbtest::CountLinesWith(t.During("query"), "display "), std::string(c.query) == "0" ? 0u : 2u)
        << t.Text();
    EXPECT_EQ(t.Count("wmi ") > 0, c.usesWmi) << t.Text();
    EXPECT_EQ(t.Count("power ") > 0, c.usesPower) << t.Text();
    if (!c.usesWmi) {
      EXPECT_EQ(t.Result("coinit"), "0x0");
    }
  }
}

// ----------------------------------------------------------------- unload

TEST_F(Brightness, UnloadReleasesTheConnectionAndEndsTheLibrarysComOnce) {
  // Nothing else initialised COM on this thread: after the unload it is
  // uninitialised again, so the library ended its own initialisation.
  const Trace alone = RunClient({Panel11(50)}, {L"bright:2", L"unload", L"coinit"});
  EXPECT_EQ(alone.Result("bright:2"), "7");
  const std::vector<std::string> atUnload = alone.During("unload");
  EXPECT_EQ(hkbtest::CountLinesWith(atUnload, "wmi release services"), 1u) << alone.Text();
  EXPECT_EQ(hkbtest::CountLinesWith(atUnload, "wmi release locator"), 1u) << alone.Text();
  EXPECT_EQ(alone.Result("coinit"), "0x0") << "COM still initialised after the unload";
  // Everything the stand-in handed out was released before COM let it go.
  EXPECT_EQ(alone.Count("wmi unloaded objects=0"), 1u) << alone.Text();

  // The caller initialised COM first: its own initialisation survives the
  // unload, so the library did not uninitialise more than once.
  const Trace shared = RunClient({Panel11(50)}, {L"coinit", L"bright:2", L"unload", L"coinit"});
  EXPECT_EQ(shared.Result("coinit", 0), "0x0");
  EXPECT_EQ(shared.Result("bright:2"), "7");
  EXPECT_EQ(hkbtest::CountLinesWith(shared.During("unload"), "wmi release locator"), 1u) << shared.Text();
  EXPECT_EQ(shared.Result("coinit", 1), "0x1") << "the caller's own COM initialisation was taken away";
}

TEST_F(Brightness, UnloadReleasesTheConnectionAlsoWithoutALoadedTable) {
  // The match found the panel at the scheme value: connection made, table not loaded.
  const Trace t = RunClient({Panel11(40) + Power(40, 40)}, {L"match", L"unload", L"coinit"});
  EXPECT_EQ(t.Result("match"), "1");
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("unload"), "wmi release services"), 1u) << t.Text();
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("unload"), "wmi release locator"), 1u) << t.Text();
  EXPECT_EQ(t.Result("coinit"), "0x0");
}

TEST_F(Brightness, UnloadOnAnotherThreadLeavesThatThreadsComAlone) {
  // The library initialised COM on a worker thread; the unload comes on the
  // caller's main thread, whose own initialisation must survive it.
  const Trace t =
      RunClient({Panel11(50)}, {L"coinit", L"onthread:bright:2", L"bright:2", L"unload", L"coinit"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.Result("coinit", 0), "0x0");
  EXPECT_EQ(t.Result("bright:2", 0), "7");
  EXPECT_EQ(t.Result("bright:2", 1), "8");  // the kept connection serves the other thread
  EXPECT_EQ(t.Count("wmi locator created"), 1u);
  EXPECT_EQ(t.Result("coinit", 1), "0x1") << t.Text();
  EXPECT_EQ(t.exitCode, 0u);
}

TEST_F(Brightness, ACallerInTheMultithreadedApartmentGetsZeroAndALaterCallTriesAgain) {
  const Trace t = RunClient({Panel11(50)}, {L"coinit:mta", L"bright:2", L"onthread:bright:2"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.Result("coinit:mta"), "0x0");
  EXPECT_EQ(t.Result("bright:2", 0), "0");  // COM would not initialise as an apartment here
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:2", 0), "wmi "), 0u) << t.Text();
  EXPECT_EQ(t.Result("bright:2", 1), "7") << t.Text();
}

TEST_F(Brightness, ReloadingAfterUnloadStartsAfresh) {
  const Trace t = RunClient({Panel11(50)}, {L"bright:2", L"unload", L"load", L"bright:2"});
  EXPECT_EQ(t.Result("bright:2", 0), "7");
  EXPECT_EQ(t.Result("bright:2", 1), "7");  // the stand-in is loaded afresh too
  EXPECT_EQ(t.Count("wmi locator created"), 2u) << t.Text();
  EXPECT_EQ(hkbtest::CountLinesWith(t.During("bright:2", 1), kEnum), 2u) << t.Text();
}

// ----------------------------------------------------------------- leaks

TEST_F(Brightness, ThousandsOfCallsKeepHandlesMemoryAndObjectsLevel) {
  ClientSetup s{Panel11(50) + Power(60, 60)};
  s.quiet = true;
  const Trace t = RunClient(s, {L"loop:1000", L"unload", L"coinit"});
  ASSERT_TRUE(t.finished) << t.Text();
  const std::string r = t.Result("loop:1000");
  std::printf("5000 calls: %s\n", r.c_str());
  unsigned long f = 0, h0 = 0, h1 = 0, g0 = 0, g1 = 0, u0 = 0, u1 = 0;
  unsigned long long p0 = 0, p1 = 0;
  ASSERT_EQ(
      std::sscanf(r.c_str(), "failures:%lu handles:%lu->%lu private:%llu->%llu gdi:%lu->%lu user:%lu->%lu",
                  &f, &h0, &h1, &p0, &p1, &g0, &g1, &u0, &u1),
      9)
      << r;
  EXPECT_EQ(f, 0u);
  EXPECT_LE(h1, h0 + 2) << "handles grow with the calls";
  EXPECT_LE(p1, p0 + 512 * 1024) << "private bytes grow with the calls";
  EXPECT_EQ(g1, g0);
  EXPECT_EQ(u1, u0);
  // Every WMI object of those calls was released by the time COM let the stand-in go.
  EXPECT_EQ(t.Count("wmi unloaded objects=0"), 1u) << t.Text();
  EXPECT_EQ(t.Result("coinit"), "0x0");
}

TEST(LocatorRegistration, IsPutBackAfterTheTest) {
  const std::wstring original = fnktest::LocatorOverride::CurrentServer();
  ASSERT_FALSE(original.empty());
  {
    fnktest::LocatorOverride o;
    ASSERT_TRUE(o.ok());
    EXPECT_NE(fnktest::LocatorOverride::CurrentServer(), original);
  }
  EXPECT_EQ(fnktest::LocatorOverride::CurrentServer(), original);
}

TEST(ClientSettings, AreRemovedAfterTheRun) {
  const wchar_t* key = L"Software\\Wine\\AppDefaults\\hkbfnk_client.exe";
  HKEY k = nullptr;
  ASSERT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &k), ERROR_SUCCESS)
      << "leftover from before";
  ClientSetup s{""};
  s.version = L"vista";
  const Trace t = RunClient(s, {L"query"});
  EXPECT_EQ(t.Result("query"), "0");  // the version did apply to the run
  EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &k), ERROR_SUCCESS);
}

}  // namespace
