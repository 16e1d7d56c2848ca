// Time per export call under Wine, against the bare platform calls as the
// baseline: the two display configuration calls for the display exports; for
// the brightness exports, over a WMI connection of the caller's own, exactly
// the calls each export must make once its connection and level table are
// there: a step makes one full instance walk (every property of every
// instance) and the set method's seven calls (class object, method
// signature, in-parameter instance, two puts, the method, its return value);
// a match with the panel already at the scheme's value makes the three
// power-scheme calls and one full instance walk. The single-property walk of
// earlier runs is still printed for comparison. Uses the same stand-ins as the tests (the WMI locator,
// powrprof) and puts the prefix back afterwards. Run by hand:
//   scripts/winrun 64 --tree=build/win64 --dist=dist build/win64/bench/hkbfnk_wine_bench.exe
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../wine/client_run.h"

int main() {
  fnktest::LocatorOverride locator;
  if (!locator.ok()) {
    std::printf("could not register the WMI locator stand-in\n");
    return 1;
  }
  fnktest::ClientSetup setup{
      "panel name=DISPLAY\\BENCH\\1_0 current=50 levels=11 level=0,10,20,30,40,50,60,70,80,90,100\n"
      "power scheme={8C5E7FDA-E8BF-4A96-9A85-A6E23A8C635C} ac=50 dc=50\n"};
  setup.quiet = true;
  // 12 x 3000 calls: under Wine the display calls alone take milliseconds each.
  setup.waitMs = 30 * 60 * 1000;
  const wchar_t* n = L"3000";
  // Each baseline is measured before and after the calls it is compared with
  // (the machine is shared and noisy); its mean is the reference.
  const std::wstring calls[] = {L"rawquery", L"query",     L"rotate",   L"rawquery",
                                L"rawwmi",   L"rawbright", L"bright",   L"rawbright",
                                L"rawmatch", L"match",     L"rawmatch", L"rawwmi"};
  std::vector<std::wstring> commands;
  for (const auto& c : calls) commands.push_back(std::wstring(L"time:") + n + L":" + c);
  const fnktest::Trace t = fnktest::RunClient(setup, commands);
  if (!t.finished) {
    std::printf("the caller did not finish in time\n");
    return 1;
  }
  auto us = [&](const wchar_t* what, size_t n = 0) {
    const std::string w(what, what + wcslen(what));
    return std::atof(t.Result("time:3000:" + w, n).c_str());
  };
  const double rawquery = (us(L"rawquery") + us(L"rawquery", 1)) / 2;
  const double rawwmi = (us(L"rawwmi") + us(L"rawwmi", 1)) / 2;
  const double rawbright = (us(L"rawbright") + us(L"rawbright", 1)) / 2;
  const double rawmatch = (us(L"rawmatch") + us(L"rawmatch", 1)) / 2;
  std::printf("%-44s %10s %8s\n", "call (3000 each)", "us/call", "ratio");
  std::printf("%-44s %10.2f %8s\n", "baseline: display calls alone", rawquery, "1.00");
  std::printf("%-44s %10.2f %8.2f\n", "HKBFNK_QueryDisplayConfig", us(L"query"), us(L"query") / rawquery);
  std::printf("%-44s %10.2f %8.2f\n", "HKBFNK_RightRotate", us(L"rotate"), us(L"rotate") / rawquery);
  std::printf("%-44s %10.2f %8s\n", "baseline: one brightness walk, one property", rawwmi, "");
  std::printf("%-44s %10.2f %8s\n", "baseline: full walk + set method calls", rawbright, "1.00");
  std::printf("%-44s %10.2f %8.2f\n", "HKBFNK_SetCurrentBright", us(L"bright"), us(L"bright") / rawbright);
  std::printf("%-44s %10.2f %8s\n", "baseline: power-scheme calls + full walk", rawmatch, "1.00");
  std::printf("%-44s %10.2f %8.2f\n", "HKBFNK_MatchMonitorBrightness", us(L"match"), us(L"match") / rawmatch);
  // Rows for ./hkb bench: path|now|floor|unit|floor is
  std::printf("row: HKBFNK_QueryDisplayConfig|%.2f|%.2f|us|the two display calls, bare\n", us(L"query"),
              rawquery);
  std::printf("row: HKBFNK_RightRotate|%.2f|%.2f|us|the two display calls, bare\n", us(L"rotate"), rawquery);
  std::printf("row: HKBFNK_SetCurrentBright|%.2f|%.2f|us|full walk + set method calls\n", us(L"bright"),
              rawbright);
  std::printf("row: HKBFNK_MatchMonitorBrightness|%.2f|%.2f|us|power-scheme calls + full walk\n",
              us(L"match"), rawmatch);
  return 0;
}
