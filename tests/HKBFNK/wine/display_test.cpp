// Display topology and rotation through the shipped DLL, against Wine's own
// display configuration. The caller watches the DLL's SetDisplayConfig call
// (and passes it on, or answers it in the failure case).
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "client_run.h"

namespace {

using fnktest::RunClient;
using fnktest::Trace;

struct Current {
  LONG result = -1;
  UINT32 topology = 0;
  std::vector<DISPLAYCONFIG_PATH_INFO> paths;
  size_t modes = 0;
};

Current QueryCurrent() {
  Current c;
  UINT32 np = 0, nm = 0;
  if ((c.result = ::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &np, &nm)) != ERROR_SUCCESS) return c;
  c.paths.resize(np);
  std::vector<DISPLAYCONFIG_MODE_INFO> modes(nm);
  DISPLAYCONFIG_TOPOLOGY_ID topo = {};
  c.result = ::QueryDisplayConfig(QDC_DATABASE_CURRENT, &np, c.paths.data(), &nm, modes.data(), &topo);
  c.paths.resize(np);
  c.modes = nm;
  c.topology = topo;
  return c;
}

TEST(Display, QueryReportsTheActiveTopology) {
  const Current now = QueryCurrent();
  ASSERT_EQ(now.result, ERROR_SUCCESS);
  const Trace t = RunClient({""}, {L"query"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.Result("query"), std::to_string(now.topology));
  EXPECT_NE(now.topology, 0u);
}

TEST(Display, RotateTurnsTheFirstPathOneQuarterRightAndApplies) {
  const Current now = QueryCurrent();
  ASSERT_EQ(now.result, ERROR_SUCCESS);
  ASSERT_FALSE(now.paths.empty());
  ASSERT_EQ(now.paths[0].targetInfo.rotation, DISPLAYCONFIG_ROTATION_IDENTITY)
      << "expects Wine's unrotated screen";
  ASSERT_NE(now.topology, 2u) << "expects a single-screen topology";

  const Trace t = RunClient({""}, {L"sdc:watch", L"rotate"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.Result("rotate"), "1");
  // Identity becomes 270 degrees (4); the modes and everything else in the
  // paths go back as read; the flags apply, use, save and allow changes.
  std::string expected = "sdc paths=" + std::to_string(now.paths.size()) +
                         " modes=" + std::to_string(now.modes) + " flags=0x6A0";
  for (size_t i = 0; i < now.paths.size(); ++i) {
    const auto& target = now.paths[i].targetInfo;
    const UINT32 rotation = i == 0 && target.statusFlags != 0 ? 4u : static_cast<UINT32>(target.rotation);
    expected += " path" + std::to_string(i) + "=status:" + std::to_string(target.statusFlags) +
                ",rotation:" + std::to_string(rotation);
  }
  expected += " modes=asread pathfields=asread -> 0";
  EXPECT_EQ(t.With("sdc "), (std::vector<std::string>{expected})) << t.Text();
}

TEST(Display, RotateResultFollowsSetDisplayConfig) {
  for (const wchar_t* answer : {L"sdc:31", L"sdc:87", L"sdc:0"}) {
    const std::string a(answer + 4, answer + wcslen(answer));
    SCOPED_TRACE(a);
    const Trace t = RunClient({""}, {answer, L"rotate"});
    EXPECT_EQ(t.Result("rotate"), a == "0" ? "1" : "0") << t.Text();
    ASSERT_EQ(t.Count("sdc "), 1u) << t.Text();
    EXPECT_NE(t.With("sdc ")[0].find("-> " + a), std::string::npos);
  }
}

TEST(Display, QueryMakesASingleAttempt) {
  // The configuration grew between the size query and the query itself.
  const Trace t = RunClient({""}, {L"qdc:122", L"query", L"query"});
  ASSERT_TRUE(t.finished) << t.Text();
  EXPECT_EQ(t.Result("query", 0), "0");
  EXPECT_EQ(t.During("query", 0),
            (std::vector<std::string>{"display sizes flags=0x4 -> 0",
                                      "display query flags=0x4 topology=asked -> 122"}));
  EXPECT_EQ(t.Result("query", 1), std::to_string(QueryCurrent().topology));
}

TEST(Display, RotateReadsTheConfigurationUpToThreeTimesWhileItGrows) {
  const struct {
    const wchar_t* script;
    const char* result;
    size_t attempts;
    bool applied;
  } cases[] = {
      {L"qdc:122,122", "1", 3, true}, {L"qdc:122,122,122", "0", 3, false}, {L"qdc:122,87", "0", 2, false},
      {L"qdc:87", "0", 1, false},     {L"qdc:watch", "1", 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script, c.script + wcslen(c.script)));
    const Trace t = RunClient({""}, {c.script, L"sdc:watch", L"rotate"});
    ASSERT_TRUE(t.finished) << t.Text();
    EXPECT_EQ(t.Result("rotate"), c.result);
    const std::vector<std::string> during = t.During("rotate");
    EXPECT_EQ(hkbtest::CountLinesWith(during, "display sizes flags=0x4 -> 0"), c.attempts) << t.Text();
    EXPECT_EQ(hkbtest::CountLinesWith(during, "display query flags=0x4 topology=asked"), c.attempts)
        << t.Text();
    EXPECT_EQ(hkbtest::CountLinesWith(during, "sdc "), c.applied ? 1u : 0u) << t.Text();
  }
}

}  // namespace

namespace {

// Configurations that the caller's watch reports instead of Wine's single
// path (a clone, several paths, inactive or turned ones, none): which paths
// turn, and whether SetDisplayConfig is asked at all. Its answer is 0 here.
struct FakeCase {
  const char* name;
  const wchar_t* config;  // topology/status:rotation,...
  const char* result;
  const char* applied;  // the paths as SetDisplayConfig gets them, or nullptr: not called
};

const FakeCase kFakeCases[] = {
    {"clone: every path turns", L"qdc:fake=2/1:1,1:1", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:1,rotation:4 path1=status:1,rotation:4 config=fake -> 0"},
    {"clone: each path by the same step", L"qdc:fake=2/1:2,1:3", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:1,rotation:1 path1=status:1,rotation:2 config=fake -> 0"},
    {"clone: an inactive path stays", L"qdc:fake=2/1:1,0:1", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:1,rotation:4 path1=status:0,rotation:1 config=fake -> 0"},
    {"extend: only the first path turns", L"qdc:fake=4/1:1,1:1", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:1,rotation:4 path1=status:1,rotation:1 config=fake -> 0"},
    {"inactive first path: nothing turns, applied all the same", L"qdc:fake=1/0:1,1:1", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:0,rotation:1 path1=status:1,rotation:1 config=fake -> 0"},
    {"a path at 270 goes to 180", L"qdc:fake=1/1:4", "1",
     "sdc paths=1 modes=1 flags=0x6A0 path0=status:1,rotation:3 config=fake -> 0"},
    {"external only, at 90", L"qdc:fake=8/1:2", "1",
     "sdc paths=1 modes=1 flags=0x6A0 path0=status:1,rotation:1 config=fake -> 0"},
    {"a rotation of 0 is not applicable", L"qdc:fake=1/1:0", "0", nullptr},
    {"clone: one path of unknown rotation stops all", L"qdc:fake=2/1:1,1:5", "0", nullptr},
    {"an unknown rotation on an inactive path does not count", L"qdc:fake=4/1:1,0:9", "1",
     "sdc paths=2 modes=2 flags=0x6A0 path0=status:1,rotation:4 path1=status:0,rotation:9 config=fake -> 0"},
    {"no paths at all", L"qdc:fake=1/", "0", nullptr},
};

TEST(Display, RotateOverReportedConfigurations) {
  for (const FakeCase& c : kFakeCases) {
    SCOPED_TRACE(c.name);
    const Trace t = RunClient({""}, {c.config, L"sdc:0", L"rotate"});
    ASSERT_TRUE(t.finished) << t.Text();
    EXPECT_EQ(t.Result("rotate"), c.result) << t.Text();
    if (c.applied) {
      EXPECT_EQ(t.With("sdc "), (std::vector<std::string>{c.applied})) << t.Text();
    } else {
      EXPECT_EQ(t.Count("sdc "), 0u) << t.Text();
    }
  }
}

// The query reports the topology of whatever configuration is active.
TEST(Display, QueryReportsEachTopology) {
  for (const wchar_t* config :
       {L"qdc:fake=1/1:1", L"qdc:fake=2/1:1,1:1", L"qdc:fake=4/1:1,1:1", L"qdc:fake=8/1:1"}) {
    const std::string text(config, config + wcslen(config));
    SCOPED_TRACE(text);
    const Trace t = RunClient({""}, {config, L"query"});
    EXPECT_EQ(t.Result("query"), text.substr(9, 1)) << t.Text();
  }
}

}  // namespace
