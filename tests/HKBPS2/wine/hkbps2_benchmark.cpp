// Time from queuing a report in the filter driver stand-in to its message
// arriving at the host window, through the shipped library. Baselines from
// the same run: the bare queue request, and a message posted to the window
// by this thread. Prints milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "hkbtest/harness.h"
#include "ps2_support.h"

using namespace std::chrono_literals;

namespace {

double Ms(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void Print(const char* what, std::vector<double> v) {
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  std::printf("%-34s n=%zu min=%.3f median=%.3f p90=%.3f max=%.3f mean=%.3f ms\n", what, v.size(), v.front(),
              v[v.size() / 2], v[v.size() * 9 / 10], v.back(), sum / static_cast<double>(v.size()));
}

}  // namespace

int main() {
  hkbtest::RecordingWindow host(L"ZEVHKBCLASS", L"benchmark host");
  ps2test::Driver driver;
  std::string error;
  if (!driver.Open(&error)) {
    std::printf("driver: %s\n", error.c_str());
    return 1;
  }
  driver.Reset();
  hkbtest::Library lib(hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBPS2.dll"));
  auto open = lib.proc<int (*)()>("HKBPS2_OpenDevice");
  auto start = lib.proc<int (*)(HWND, DWORD)>("HKBPS2_Start");
  if (!open || !start || open() != 1 || start(host.hwnd(), 0) != 1) {
    std::printf("library not usable\n");
    return 1;
  }
  LARGE_INTEGER f;
  ::QueryPerformanceFrequency(&f);
  constexpr int kRounds = 60;

  std::vector<double> queueOnly;
  for (int i = 0; i < kRounds; ++i) {
    LARGE_INTEGER a, b;
    ::QueryPerformanceCounter(&a);
    driver.Queue({ps2test::Kind4(0)});  // decodes to nothing
    ::QueryPerformanceCounter(&b);
    queueOnly.push_back(Ms(a, b, f));
  }
  hkbtest::PumpUntil([&] { return driver.Stats().pending == 0; }, 20s);

  std::vector<double> postOnly;
  for (int i = 0; i < kRounds; ++i) {
    const size_t n = host.received().size();
    LARGE_INTEGER a, b;
    ::QueryPerformanceCounter(&a);
    ::PostMessageW(host.hwnd(), WM_USER + 99, 0, 0);
    hkbtest::PumpUntil([&] { return host.received().size() > n; }, 5s);
    ::QueryPerformanceCounter(&b);
    postOnly.push_back(Ms(a, b, f));
  }

  std::vector<double> reportToMessage;
  for (int i = 0; i < kRounds; ++i) {
    // Start at a random point of the poll period.
    hkbtest::PumpFor(std::chrono::milliseconds(7 * i % 100));
    const size_t n = host.received().size();
    LARGE_INTEGER a, b;
    ::QueryPerformanceCounter(&a);
    driver.Queue({ps2test::Kind5(static_cast<uint8_t>(1 + i % 2))});
    if (!hkbtest::PumpUntil([&] { return host.received().size() > n; }, 5s)) {
      std::printf("round %d: no message\n", i);
      return 1;
    }
    ::QueryPerformanceCounter(&b);
    reportToMessage.push_back(Ms(a, b, f));
  }
  Print("queue request (baseline)", queueOnly);
  Print("post to own window (baseline)", postOnly);
  Print("report queued -> message at host", reportToMessage);
  return 0;
}
