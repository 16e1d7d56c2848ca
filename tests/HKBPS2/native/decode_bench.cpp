// Cost of decoding one report, against a baseline that only touches the
// report bytes the same way.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "report_decoder.h"

namespace {

using namespace hkbps2;

class CountingSink final : public ReportSink {
 public:
  void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    benchmark::DoNotOptimize(message);
    benchmark::DoNotOptimize(wparam);
    benchmark::DoNotOptimize(lparam);
    ++posted;
  }
  uintptr_t SetLongPressTimer(uint32_t id, uint32_t) override { return id + 1; }
  void KillLongPressTimer(uint32_t) override {}
  void RetrySessionRegistration() override { benchmark::ClobberMemory(); }
  uint64_t posted = 0;
};

// A realistic stream: mostly repeats and releases, some fresh codes.
std::vector<uint8_t> Stream(size_t reports) {
  std::mt19937 rng(42);
  std::vector<uint8_t> out(reports * kReportSize);
  static const uint8_t kKinds[] = {1, 1, 2, 4, 5};
  for (size_t i = 0; i < reports; ++i) {
    uint8_t* r = &out[i * kReportSize];
    r[0] = kKinds[rng() % 5];
    r[1] = static_cast<uint8_t>(1u << (rng() % 8)) & static_cast<uint8_t>((rng() % 3) ? 0xFF : 0);
    r[3] = static_cast<uint8_t>((rng() % 4) ? rng() : 0);
    r[4] = static_cast<uint8_t>((rng() % 8) ? 0 : rng());
  }
  return out;
}

constexpr size_t kReports = 4096;

void BM_Decode(benchmark::State& state) {
  const std::vector<uint8_t> stream = Stream(kReports);
  CountingSink sink;
  CReportDecoder decoder(sink);
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) decoder.Decode(&stream[i * kReportSize]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReports));
  state.counters["ns_per_report"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kReports), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Decode);

// Baseline: read the same bytes and make one indirect call per report.
void BM_Baseline(benchmark::State& state) {
  const std::vector<uint8_t> stream = Stream(kReports);
  CountingSink sink;
  ReportSink& s = sink;
  for (auto _ : state) {
    for (size_t i = 0; i < kReports; ++i) {
      const uint8_t* r = &stream[i * kReportSize];
      benchmark::DoNotOptimize(r[0] + r[1] + r[3] + r[4]);
      s.RetrySessionRegistration();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kReports));
  state.counters["ns_per_report"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kReports), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Baseline);

}  // namespace

BENCHMARK_MAIN();
