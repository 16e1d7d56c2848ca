// Time per export call under Wine, against the bare platform calls as the
// baseline: the two display configuration calls for the display exports, one
// brightness instance walk over a WMI connection of the caller's own for the
// brightness exports. Uses the same stand-ins as the tests (the WMI locator,
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
  const wchar_t* n = L"3000";
  // Each baseline is measured before and after the calls it is compared with
  // (the machine is shared and noisy); its mean is the reference.
  const std::wstring calls[] = {L"rawquery", L"query",  L"rotate", L"rawquery",
                                L"rawwmi",   L"bright", L"match",  L"rawwmi"};
  std::vector<std::wstring> commands;
  for (const auto& c : calls) commands.push_back(std::wstring(L"time:") + n + L":" + c);
  const fnktest::Trace t = fnktest::RunClient(setup, commands);
  auto us = [&](const wchar_t* what, size_t n = 0) {
    const std::string w(what, what + wcslen(what));
    return std::atof(t.Result("time:3000:" + w, n).c_str());
  };
  const double rawquery = (us(L"rawquery") + us(L"rawquery", 1)) / 2;
  const double rawwmi = (us(L"rawwmi") + us(L"rawwmi", 1)) / 2;
  std::printf("%-34s %10s %8s\n", "call (3000 each)", "us/call", "ratio");
  std::printf("%-34s %10.2f %8s\n", "baseline: display calls alone", rawquery, "1.00");
  std::printf("%-34s %10.2f %8.2f\n", "HKBFNK_QueryDisplayConfig", us(L"query"), us(L"query") / rawquery);
  std::printf("%-34s %10.2f %8.2f\n", "HKBFNK_RightRotate", us(L"rotate"), us(L"rotate") / rawquery);
  std::printf("%-34s %10.2f %8s\n", "baseline: one brightness walk", rawwmi, "1.00");
  std::printf("%-34s %10.2f %8.2f\n", "HKBFNK_SetCurrentBright", us(L"bright"), us(L"bright") / rawwmi);
  std::printf("%-34s %10.2f %8.2f\n", "HKBFNK_MatchMonitorBrightness", us(L"match"), us(L"match") / rawwmi);
  return 0;
}
