// Warm round trips of the server's methods from a 64-bit client against a
// trivial out-of-process call on the same object (IDispatch::
// GetTypeInfoCount), measured in interleaved rounds in one run. Built, not
// run by the tests:
//   winrun 64 build/win64/bench/keydbwrapper_bench.exe [calls per round]
// KeyDb.dll is the stand-in with fixed answers. The share of the library's
// load and free in a method call is measured twice: as the difference to a
// call that finds no KeyDb.dll at all, and (where the server has this
// program's bitness) as LoadLibraryW + GetProcAddress + FreeLibrary of the
// same file in this process.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "server_support.h"
#include "hkbtest/timing.h"

namespace {

using keydbtest::InstalledServer;
using keydbtest::Library;

double MicrosPerCall(const std::function<void()>& call, int calls) {
  const double start = hkbtest::NowMs();
  for (int i = 0; i < calls; ++i) call();
  return (hkbtest::NowMs() - start) * 1000.0 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 300;
  constexpr int kRounds = 7;
  hkb::ComInit com;
  InstalledServer server;
  if (!server.ok()) {
    std::printf("could not install and register the server\n");
    return 1;
  }
  std::printf("the shipped 32-bit server, called from this 64-bit process\n");
  hkb::ComPtr<IkeyDbObj> obj = keydbtest::CreateObject();
  if (!obj) return 1;
  keydbtest::TextBuffer buf;
  UINT count = 0;
  const auto trivial = [&] { obj->GetTypeInfoCount(&count); };
  const auto method = [&] { obj->GetPathByID_LEDWrapper(1, buf.units); };

  struct Case {
    const char* name;
    Library library;
    std::function<void()> call;
    std::vector<double> us;
  } cases[] = {{"trivial call (GetTypeInfoCount)", Library::kFixed, trivial, {}},
               {"GetPathByID_LEDWrapper, KeyDb.dll answers", Library::kFixed, method, {}},
               {"GetPathByID_LEDWrapper, KeyDb.dll without exports", Library::kNoExports, method, {}},
               {"GetPathByID_LEDWrapper, no KeyDb.dll", Library::kNone, method, {}}};
  for (Case& c : cases) {  // warm-up
    server.PutLibrary(c.library);
    MicrosPerCall(c.call, 20);
  }
  for (int r = 0; r < kRounds; ++r) {
    for (Case& c : cases) {
      server.PutLibrary(c.library);
      c.us.push_back(MicrosPerCall(c.call, calls));
    }
  }
  for (Case& c : cases)
    std::printf("%-50s %9.1f us per call (median of %d rounds)\n", c.name, hkbtest::Median(c.us), kRounds);
  const double base = hkbtest::Median(cases[0].us), full = hkbtest::Median(cases[1].us);
  const double load = full - hkbtest::Median(cases[3].us);
  std::printf("ratio method / trivial call: %.2f\n", full / base);
  std::printf("finding, loading, calling and freeing KeyDb.dll: %.1f us (%.0f%% of the method's time)\n",
              load, 100.0 * load / full);
  // Rows for ./hkb bench: the whole method, and the method without the load
  // and free of KeyDb.dll that every call makes by design (measured as the
  // call that finds no KeyDb.dll), each against the trivial call.
  std::printf("row: COM method call (GetPathByID_LEDWrapper)|%.1f|%.1f|us|trivial call on the same object\n",
              full, base);
  std::printf(
      "row:   same, less loading and freeing KeyDb.dll|%.1f|%.1f|us|trivial call on the same object\n",
      hkbtest::Median(cases[3].us), base);
  return 0;
}
