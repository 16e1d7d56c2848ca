// Start-up of the launcher: from the start of "HKBUTLEx.exe /HUB" to its call
// into the application activation manager (the stand-in sets an event), against
// the start and end of an empty GUI program (one that creates its main window,
// closes it and leaves its message loop), all measured in the same run,
// alternately. Two further references: the program that returns at once
// without a window, and the one that only enters and leaves a single-threaded
// COM apartment, which every activation needs (under Wine this creates the
// apartment's window and so loads the display driver).
// No HkbHelper.dll or DSPMODE.dll in the product folder. Run by hand:
//   scripts/winrun 64 --tree=build/win64 --dist=dist build/win64/bench/hkbutlex_start_bench.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hkbtest/harness.h"
#include "hkbtest/standin_scope.h"
#include "hkbtest/timing.h"

namespace {

HANDLE Start(const std::wstring& program, const std::wstring& arguments) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  ::CloseHandle(pi.hThread);
  return pi.hProcess;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
  hkbtest::ActivationManagerStandin activation;
  if (!activation.ok()) {
    std::printf("could not register the activation manager stand-in\n");
    return 1;
  }
  const hkb::UniqueHandle activated(
      ::CreateEventW(nullptr, FALSE, FALSE, L"HkbTest.AppActivation.Activated"));
  const std::wstring launcher = hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBUTLEx.exe");
  const std::wstring empty = hkbtest::StandinFile(L"hkbutlex\\empty_gui.exe");
  const std::wstring product = hkbtest::ProgramFiles() + L"\\ZEVHKB\\";
  if (hkbtest::FileExists(product + L"HkbHelper.dll") || hkbtest::FileExists(product + L"DSPMODE.dll"))
    std::printf("note: the product folder holds HkbHelper.dll or DSPMODE.dll\n");

  // Start to end of the empty program, with the given arguments.
  const auto runEmpty = [&](const wchar_t* arguments) {
    const double t0 = hkbtest::NowMs();
    hkb::UniqueHandle p(Start(empty, arguments));
    if (!p || ::WaitForSingleObject(p.get(), 60000) != WAIT_OBJECT_0) return -1.0;
    return hkbtest::NowMs() - t0;
  };

  // Start to activation of `program` with `arguments`.
  const auto toActivated = [&](const std::wstring& program, const wchar_t* arguments) {
    ::ResetEvent(activated.get());
    const double t0 = hkbtest::NowMs();
    hkb::UniqueHandle p(Start(program, arguments));
    if (!p || ::WaitForSingleObject(activated.get(), 60000) != WAIT_OBJECT_0) return -1.0;
    const double t = hkbtest::NowMs() - t0;
    ::WaitForSingleObject(p.get(), 60000);
    return t;
  };

  std::vector<double> toActivation, emptyRun, bareRun, comRun, hubCalls;
  for (int i = 0; i < runs + 1; ++i) {
    const double e = runEmpty(L"/window");
    const double b = runEmpty(L"");
    const double c = runEmpty(L"/com");
    const double h = toActivated(empty, L"/hub");
    if (e < 0 || b < 0 || c < 0 || h < 0) {
      std::printf("the empty program did not run\n");
      return 1;
    }

    const double a = toActivated(launcher, L"/HUB");
    if (a < 0) {
      std::printf("the launcher did not activate\n");
      return 1;
    }
    if (i == 0) continue;  // the first round warms the caches
    emptyRun.push_back(e);
    bareRun.push_back(b);
    comRun.push_back(c);
    hubCalls.push_back(h);
    toActivation.push_back(a);
  }
  const double base = hkbtest::Median(emptyRun);
  const double bare = hkbtest::Median(bareRun);
  const double com = hkbtest::Median(comRun);
  const double hub = hkbtest::Median(hubCalls);
  const double start = hkbtest::Median(toActivation);
  std::printf("%-52s %10s %8s %8s\n", "median of runs", "ms", "ratio", "to COM");
  std::printf("%-52s %10.1f %8s %8s\n", "baseline: empty GUI program with its window", base, "1.00", "");
  std::printf("%-52s %10.1f %8.2f %8s\n", "program returning at once, no window", bare, bare / base, "");
  std::printf("%-52s %10.1f %8.2f %8s\n", "empty GUI program entering an STA, start to end", com, com / base,
              "1.00");
  std::printf("%-52s %10.1f %8.2f %8.2f\n", "empty program making a /HUB start's calls, bare", hub,
              hub / base, hub / com);
  std::printf("%-52s %10.1f %8.2f %8.2f\n", "HKBUTLEx /HUB, start to activation", start, start / base,
              start / com);
  std::printf("HKBUTLEx /HUB against the bare calls it must make: %.2f\n", start / hub);
  std::printf("activations recorded: %zu (two a round, rounds: %d)\n", activation.Activations().size(),
              runs + 1);
  // Rows for ./hkb bench: path|now|floor|unit|floor is
  std::printf("row: launcher \"/HUB\" start -> activation call|%.1f|%.1f|ms|empty GUI program start to end\n",
              start, base);
  std::printf("row:   same, against the empty program's STA|%.1f|%.1f|ms|empty program entering an STA\n",
              start, com);
  std::printf("row:   same, against the calls it must make|%.1f|%.1f|ms|the same platform calls, bare\n",
              start, hub);
  return 0;
}
