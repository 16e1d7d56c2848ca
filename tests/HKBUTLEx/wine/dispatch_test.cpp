// The launcher's switches, run as shipped with their command lines: what is
// activated through the application activation manager, with which
// arguments, what the installed check is asked, and that nothing else happens.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher.h"

namespace {

using namespace launchertest;
using hkbtest::Activated;
using hkbtest::Activation;
using Check = std::pair<std::wstring, std::optional<std::wstring>>;

constexpr wchar_t kByAumid[] = L"HkbhIsInstalledByAppUserModeID";
constexpr wchar_t kByFamily[] = L"HkbhIsInstalled";

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(activation.ok()) << "could not register the activation manager stand-in";
    ASSERT_TRUE(uri.ok()) << "could not register the companion URI handler";
    ASSERT_TRUE(machine.ok());
  }
  // Runs the launcher to its end; the companion app may still be starting.
  void Run(const std::wstring& arguments) {
    Launcher l(arguments);
    ASSERT_TRUE(l.started()) << "CreateProcess error " << l.error();
    ASSERT_TRUE(l.WaitForExit()) << "the launcher did not end";
    EXPECT_EQ(l.ExitCode(), 0u);
  }
  hkbtest::ActivationManagerStandin activation;
  CompanionUriHandler uri;
  MachineScope machine;
};

struct SwitchCase {
  const wchar_t* arguments;
  std::vector<Activation> activations;
  std::vector<Check> checks;  // with the helper stand-in in place
};

const std::vector<Check> kTargetCheck = {{kByAumid, kDefaultFamily}};

const SwitchCase kSwitchCases[] = {
    {L"/POWER", {Activated(kDefaultTarget, kPower)}, kTargetCheck},
    {L"/HUB", {Activated(kDefaultTarget, std::nullopt)}, kTargetCheck},
    {L"/OTHERS", {Activated(kDefaultTarget, kOthers)}, kTargetCheck},
    {L"/OTHERS_SOL", {Activated(kDefaultTarget, kSolo)}, kTargetCheck},
    {L"/POWER /HUB extra", {Activated(kDefaultTarget, kPower)}, kTargetCheck},
    // Lower case, a trailing blank, an unknown switch: the home page, unchecked.
    {L"/power", {Activated(kDefaultTarget, std::nullopt)}, {}},
    {L"\"/POWER \"", {Activated(kDefaultTarget, std::nullopt)}, {}},
    {L"/OTHERS_SOLO", {Activated(kDefaultTarget, std::nullopt)}, {}},
    {L"/SETTINGS", {Activated(kDefaultTarget, std::nullopt)}, {}},
    // "/LAUNCH" with 2 to 6 elements in all (program path included).
    {L"/LAUNCH", {}, {{kByAumid, L""}}},
    {L"/LAUNCH Vendor.Calc_8x1!App",
     {Activated(L"Vendor.Calc_8x1!App", L"")},
     {{kByAumid, L"Vendor.Calc_8x1!App"}}},
    {L"/LAUNCH Vendor.Calc_8x1!App Button3",
     {Activated(L"Vendor.Calc_8x1!App", L"")},
     {{kByAumid, L"Vendor.Calc_8x1!App"}}},
    {L"/LAUNCH Vendor.Calc_8x1!App Button3 \"--mode sci\"",
     {Activated(L"Vendor.Calc_8x1!App", L"--mode sci")},
     {{kByAumid, L"Vendor.Calc_8x1!App"}}},
    {L"/LAUNCH Vendor.Calc_8x1!App Button3 --mode sci", {}, {{kByAumid, L""}}},
    {L"/LAUNCH a b c d e", {}, {{kByAumid, L""}}},
};

void ExpectNoCompanionStart(const CompanionUriHandler& uri) {
  // The launcher waits for a started companion; none may have been started.
  EXPECT_TRUE(uri.Uris().empty()) << hkbtest::Utf8(uri.Uris().front());
}

TEST_F(Dispatch, WithoutHkbHelperEverySwitchOpensItsPage) {
  ASSERT_FALSE(hkbtest::FileExists(ProductFolder() + L"\\HkbHelper.dll")) << "leftover HkbHelper.dll";
  for (const SwitchCase& c : kSwitchCases) {
    SCOPED_TRACE(hkbtest::Utf8(c.arguments));
    const size_t before = activation.Activations().size();
    Run(c.arguments);
    const std::vector<Activation> all = activation.Activations();
    EXPECT_EQ(std::vector<Activation>(all.begin() + static_cast<long>(before), all.end()), c.activations);
  }
  ExpectNoCompanionStart(uri);
}

TEST_F(Dispatch, InstalledCheckAsksForTheTargetFamilyOrTheLaunchedApp) {
  HelperStandin helper("installed=1\n");
  DspModeStandin dspmode;
  ASSERT_TRUE(helper.ok() && dspmode.ok());
  for (const SwitchCase& c : kSwitchCases) {
    SCOPED_TRACE(hkbtest::Utf8(c.arguments));
    const size_t activationsBefore = activation.Activations().size();
    const size_t checksBefore = helper.Checks().size();
    Run(c.arguments);
    const std::vector<Activation> all = activation.Activations();
    EXPECT_EQ(std::vector<Activation>(all.begin() + static_cast<long>(activationsBefore), all.end()),
              c.activations);
    const std::vector<Check> checks = helper.Checks();
    EXPECT_EQ(std::vector<Check>(checks.begin() + static_cast<long>(checksBefore), checks.end()), c.checks);
  }
  // The switches never ask for the display mode.
  EXPECT_TRUE(dspmode.Calls().empty()) << hkbtest::Utf8(dspmode.Calls().front());
  ExpectNoCompanionStart(uri);
}

TEST_F(Dispatch, TargetNotInstalledEndsSilentlyExceptForUnknownSwitches) {
  HelperStandin helper(std::string("missing=") + hkbtest::Utf8(kDefaultFamily) + "\n");
  ASSERT_TRUE(helper.ok());
  for (const wchar_t* args : {L"/POWER", L"/HUB", L"/OTHERS", L"/OTHERS_SOL", L""}) {
    SCOPED_TRACE(hkbtest::Utf8(args));
    const size_t checksBefore = helper.Checks().size();
    Run(args);  // no prompt, no message: the process ends by itself
    const std::vector<Check> checks = helper.Checks();
    EXPECT_EQ(std::vector<Check>(checks.begin() + static_cast<long>(checksBefore), checks.end()),
              kTargetCheck);
  }
  EXPECT_TRUE(activation.Activations().empty());
  EXPECT_TRUE(LauncherWindows(L"").empty() && LauncherWindows(kPromptTitle).empty());

  // An unrecognised switch still tries the activation, without asking.
  const size_t checksBefore = helper.Checks().size();
  Run(L"/hub");
  EXPECT_EQ(activation.Activations(), std::vector<Activation>{Activated(kDefaultTarget, std::nullopt)});
  EXPECT_EQ(helper.Checks().size(), checksBefore);
  ExpectNoCompanionStart(uri);
}

struct CheckRouteCase {
  const wchar_t* settingsAppId;
  const wchar_t* arguments;
  Check check;
  Activation activation;
};

const CheckRouteCase kCheckRouteCases[] = {
    // A family name marked with U+0001 goes to the family check.
    {L"\x0001Vendor.Fam_x1!App",
     L"/HUB",
     {kByFamily, L"\x0001Vendor.Fam_x1"},
     Activated(L"\x0001Vendor.Fam_x1!App", std::nullopt)},
    {L"NoBang.Family_x1", L"/POWER", {kByAumid, L"NoBang.Family_x1"}, Activated(L"NoBang.Family_x1", kPower)},
    {L"!App", L"/OTHERS", {kByAumid, L""}, Activated(L"!App", kOthers)},
    {L"A.B_c!App!X", L"/HUB", {kByAumid, L"A.B_c"}, Activated(L"A.B_c!App!X", std::nullopt)},
    // "/LAUNCH" passes the whole id, "!" part included.
    {nullptr,
     L"/LAUNCH \x0001Vendor.Fam_x1!App",
     {kByFamily, L"\x0001Vendor.Fam_x1!App"},
     Activated(L"\x0001Vendor.Fam_x1!App", L"")},
};

TEST_F(Dispatch, InstalledCheckRoutesByTheIdentifier) {
  HelperStandin helper("installed=1\n");
  ASSERT_TRUE(helper.ok());
  for (const CheckRouteCase& c : kCheckRouteCases) {
    SCOPED_TRACE(hkbtest::Utf8(c.arguments));
    MachineScope m(
        {c.settingsAppId ? std::optional<std::wstring>(c.settingsAppId) : std::nullopt, std::nullopt});
    ASSERT_TRUE(m.ok());
    const size_t checksBefore = helper.Checks().size();
    const size_t activationsBefore = activation.Activations().size();
    Run(c.arguments);
    const std::vector<Check> checks = helper.Checks();
    EXPECT_EQ(std::vector<Check>(checks.begin() + static_cast<long>(checksBefore), checks.end()),
              std::vector<Check>{c.check});
    const std::vector<Activation> all = activation.Activations();
    EXPECT_EQ(std::vector<Activation>(all.begin() + static_cast<long>(activationsBefore), all.end()),
              std::vector<Activation>{c.activation});
  }
}

struct TargetCase {
  const char* name;
  Machine machine;
  const wchar_t* arguments;
  std::vector<Activation> activations;
  bool companion;  // the companion app's URI is opened
};

const TargetCase kTargetCases[] = {
    {"explicit id wins over 144Z",
     {L"Maker.Settings_abc!App", L"ZEV 144Z"},
     L"/HUB",
     {Activated(L"Maker.Settings_abc!App", std::nullopt)},
     false},
    {"empty explicit id: 144Z decides",
     {L"", L"ZEV 144Z"},
     L"/POWER",
     {Activated(k144ZTarget, kPower)},
     false},
    {"144z in lower case",
     {std::nullopt, L"zev 144z"},
     L"/HUB",
     {Activated(kDefaultTarget, std::nullopt)},
     false},
    {"144Z machine: number 144, Solo page in the app",
     {std::nullopt, L"144Z"},
     L"/OTHERS_SOL",
     {Activated(k144ZTarget, kSolo)},
     false},
    {"182: companion app", {std::nullopt, L"182"}, L"/OTHERS_SOL", {}, true},
    {"181: Solo page", {std::nullopt, L"181"}, L"/OTHERS_SOL", {Activated(kDefaultTarget, kSolo)}, false},
    {"digits split by letters: 456", {std::nullopt, L"1A23B456"}, L"/OTHERS_SOL", {}, true},
    {"digits split, no three together",
     {std::nullopt, L"1A23B45"},
     L"/OTHERS_SOL",
     {Activated(kDefaultTarget, kSolo)},
     false},
    {"four digits: the first three",
     {std::nullopt, L"VK1819"},
     L"/OTHERS_SOL",
     {Activated(kDefaultTarget, kSolo)},
     false},
    {"182 with the TALVO2.0 settings app",
     {L"Maker.TALVO2.0_x9!App", L"182"},
     L"/OTHERS_SOL",
     {Activated(L"Maker.TALVO2.0_x9!App", kSolo)},
     false},
    {"182 with another explicit app", {L"Maker.TALVO3_x9!App", L"182"}, L"/OTHERS_SOL", {}, true},
    {"the product rule only concerns the Solo page",
     {std::nullopt, L"999"},
     L"/OTHERS",
     {Activated(kDefaultTarget, kOthers)},
     false},
};

TEST_F(Dispatch, TargetAndSoloPageFollowTheRegistry) {
  for (const TargetCase& c : kTargetCases) {
    SCOPED_TRACE(c.name);
    CompanionUriHandler companion;  // a fresh record for each case
    ASSERT_TRUE(companion.ok());
    MachineScope m(c.machine);
    ASSERT_TRUE(m.ok());
    const size_t before = activation.Activations().size();
    Run(c.arguments);
    const std::vector<Activation> all = activation.Activations();
    EXPECT_EQ(std::vector<Activation>(all.begin() + static_cast<long>(before), all.end()), c.activations);
    if (c.companion) {
      ASSERT_TRUE(companion.WaitForStart(30s)) << "the companion app was not started";
      EXPECT_EQ(companion.Uris(), std::vector<std::wstring>{kCompanionUri});
    } else {
      EXPECT_TRUE(companion.Uris().empty());
    }
  }
}

TEST_F(Dispatch, FailingActivationIsIgnoredAndShowsNothing) {
  ASSERT_TRUE(activation.SetResult(static_cast<HRESULT>(0x80270254)));
  HelperStandin helper("installed=1\n");
  ASSERT_TRUE(helper.ok());
  Run(L"/HUB");
  Run(L"/LAUNCH Vendor.Calc_8x1!App Button3");
  EXPECT_EQ(activation.Activations(), (std::vector<Activation>{Activated(kDefaultTarget, std::nullopt),
                                                               Activated(L"Vendor.Calc_8x1!App", L"")}));
  EXPECT_TRUE(LauncherWindows(L"").empty());
}

TEST_F(Dispatch, LibrariesWithoutTheirExportsCountAsAbsent) {
  // Each stand-in put in the other's place: the files load, the exports are missing.
  hkbtest::ScopedFileCopy helper(hkbtest::StandinFile(L"hkbutlex\\DSPMODE.dll"),
                                 ProductFolder() + L"\\HkbHelper.dll");
  hkbtest::ScopedFileCopy dspmode(hkbtest::StandinFile(L"hkbutlex\\HkbHelper.dll"),
                                  ProductFolder() + L"\\DSPMODE.dll");
  hkbtest::StandinScope helperRecords(L"hkbhelper", "installed=0\n");
  hkbtest::StandinScope dspmodeRecords(L"dspmode", "mode=2\n");
  ASSERT_TRUE(helper.ok() && dspmode.ok() && helperRecords.ok() && dspmodeRecords.ok());
  Run(L"/POWER");
  EXPECT_EQ(activation.Activations(), std::vector<Activation>{Activated(kDefaultTarget, kPower)});
  EXPECT_TRUE(helperRecords.Records().empty());
  EXPECT_TRUE(dspmodeRecords.Records().empty());
}

// The shipped HkbHelper.dll in the product folder answers the installed check
// from the platform's package manager (its stand-in): "/POWER" opens its page
// when the settings app's family is installed and does nothing when not.
TEST_F(Dispatch, ShippedHkbHelperAsksThePackageManager) {
  hkbtest::ScopedFileCopy helper(hkbtest::DistFile(L"Program Files\\ZEVHKB\\HkbHelper.dll"),
                                 ProductFolder() + L"\\HkbHelper.dll");
  const std::wstring scenario = hkbtest::TempFilePath(L"pms"), records = hkbtest::TempFilePath(L"pmr");
  {
    hkbtest::PackageManagerStandin packages(scenario, records);
    ASSERT_TRUE(helper.ok() && packages.ok());
    const std::string family = hkbtest::Utf8(kDefaultFamily);
    const std::string installed = "package\t" + family +
                                  "\t4F2A9E61.9C27D4B1E086_1.0.0.0_x64__k7q3w9t2x5v8p\t" +
                                  "4F2A9E61.9C27D4B1E086\t1.0.0.0\t\n";
    struct Case {
      const char* what;
      std::string scenario;
      std::vector<Activation> activations;
    } const cases[] = {
        {"installed", installed, {Activated(kDefaultTarget, kPower)}},
        {"not installed", "", {}},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      ASSERT_TRUE(packages.SetScenario(c.scenario));
      const size_t activationsBefore = activation.Activations().size();
      const size_t queriesBefore = packages.Lines().size();
      Run(L"/POWER");
      const std::vector<Activation> all = activation.Activations();
      EXPECT_EQ(std::vector<Activation>(all.begin() + static_cast<long>(activationsBefore), all.end()),
                c.activations);
      const std::vector<std::string> lines = packages.Lines();
      std::vector<std::string> queries;
      for (size_t i = queriesBefore; i < lines.size(); ++i)
        if (lines[i].rfind("FindPackagesByUserSecurityIdPackageFamilyName\t", 0) == 0)
          queries.push_back(lines[i].substr(lines[i].rfind('\t') + 1));
      EXPECT_EQ(queries, std::vector<std::string>{family});
    }
  }
  ::DeleteFileW(scenario.c_str());
  ::DeleteFileW(records.c_str());
}

TEST(DispatchWithoutActivationManager, EndsQuietlyWhenTheClassIsMissing) {
  // Nothing registered under the class id (Wine has no such class).
  ASSERT_FALSE(hkbtest::KeyExists(
      HKEY_LOCAL_MACHINE, hkbtest::ScopedInprocServer::KeyOf(hkbtest::ActivationManagerStandin::kClsid)));
  for (const wchar_t* args : {L"/POWER", L"/OTHERS_SOL", L"/LAUNCH Vendor.Calc_8x1!App"}) {
    SCOPED_TRACE(hkbtest::Utf8(args));
    EXPECT_TRUE(RunToEnd(args));
  }
}

}  // namespace
