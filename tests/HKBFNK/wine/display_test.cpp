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

size_t CountIn(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
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
    EXPECT_EQ(CountIn(during, "display sizes flags=0x4 -> 0"), c.attempts) << t.Text();
    EXPECT_EQ(CountIn(during, "display query flags=0x4 topology=asked"), c.attempts) << t.Text();
    EXPECT_EQ(CountIn(during, "sdc "), c.applied ? 1u : 0u) << t.Text();
  }
}

}  // namespace
